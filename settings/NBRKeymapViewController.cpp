#include "NBRKeymapViewController.h"

#include "NBRConstants.h"
#include "TextScanning.h"
#include "UIColor.h"
#include "UIPhysicalKeyboardEvent.h"
#include "UITableViewCell.h"

#include <QCoreApplication>
#include <QEvent>
#include <QLabel>
#include <array>
#include <filesystem>

using platform::PlistValue;

namespace {

NBRKeymapViewController *targetEditor = nullptr;

struct Control {
    int buttonNative;
    const char *title;
};

// In the order of the rows: Pause sits with the buttons, ahead of the sticks and triggers.
constexpr std::array<Control, 21> kRows = {{
    {NBRButtonNativeDpadRight, "D-pad right"},
    {NBRButtonNativeDpadLeft, "D-pad left"},
    {NBRButtonNativeDpadUp, "D-pad up"},
    {NBRButtonNativeDpadDown, "D-pad down"},
    {NBRButtonNativeA, "face button A"},
    {NBRButtonNativeB, "face button B"},
    {NBRButtonNativeX, "face button X"},
    {NBRButtonNativeY, "face button Y"},
    {NBRButtonNativeL1, "Left Shoulder (L1)"},
    {NBRButtonNativeR1, "Right Shoulder (R1)"},
    {NBRButtonNativePause, "Pause"},
    {NBRButtonNativeLeftStickRight, "Left Analog Stick right"},
    {NBRButtonNativeLeftStickLeft, "Left Analog Stick left"},
    {NBRButtonNativeLeftStickUp, "Left Analog Stick up"},
    {NBRButtonNativeLeftStickDown, "Left Analog Stick down"},
    {NBRButtonNativeRightStickRight, "Right Analog Stick right"},
    {NBRButtonNativeRightStickLeft, "Right Analog Stick left"},
    {NBRButtonNativeRightStickUp, "Right Analog Stick up"},
    {NBRButtonNativeRightStickDown, "Right Analog Stick down"},
    {NBRButtonNativeL2, "Left Trigger (L2)"},
    {NBRButtonNativeR2, "Right Trigger (R2)"},
}};

struct SpecialKey {
    std::int64_t keyCode;
    const char *label;
};

// Named keys read as words, as a desktop keyboard labels them; the arrows as arrows.
constexpr std::array<SpecialKey, 15> kSpecialKeys = {{
    {40, "Return"},
    {41, "Esc"},
    {42, "Backspace"},
    {43, "Tab"},
    {44, "Space"},
    {57, "Caps Lock"},
    {79, "\u2192"},
    {80, "\u2190"},
    {81, "\u2193"},
    {82, "\u2191"},
    {224, "Control"},
    {225, "Left Shift"},
    {226, "Alt"},
    {227, "Super"},
    {229, "Right Shift"},
}};

const QString kHeader = "Connect your keyboard either with USB or Bluetooth (with the builtin iOS "
                        "Bluetooth pairing).";
const QString kPressKey = QString::fromUtf8("Press Key\u2026");

std::optional<qsizetype> rowForButtonNative(std::int64_t buttonNative) {
    for (std::size_t row = 0; row < kRows.size(); ++row)
        if (kRows[row].buttonNative == buttonNative)
            return static_cast<qsizetype>(row);
    return std::nullopt;
}

void setTextColor(QLabel *label, const platform::UIColor &color) {
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText,
                     QColor::fromRgbF(color.red(), color.green(), color.blue(), color.alpha()));
    label->setPalette(palette);
}

QLabel *accessoryLabel(UITableViewCell *cell) {
    return cell != nullptr ? qobject_cast<QLabel *>(cell->accessoryView()) : nullptr;
}

} // namespace

NBRKeymapViewController::NBRKeymapViewController(const QString &path)
    : UITableViewController(UITableViewStyleGrouped), _path(path) {
    _rootSettings = platform::readPlistDictionary(path.toStdString());
    _keymap = defaultKeymap();
    if (_rootSettings) {
        auto found = _rootSettings->find(NBRKeyboardKeymapKey);
        // Anything but a dictionary there is no keymap the editor could show or extend.
        if (found != _rootSettings->end() && found->second.dictionary() != nullptr)
            _keymap = *found->second.dictionary();
    }
    tableView()->registerClassForCellReuseIdentifier<UITableViewCell>(NBRKeymapCellID);
    targetEditor = this;
    if (QCoreApplication *application = QCoreApplication::instance())
        application->installEventFilter(this);
}

bool NBRKeymapViewController::eventFilter(QObject *watched, QEvent *event) {
    // While a row waits, the next key is its binding and nothing else: Escape binds rather than
    // going back, Tab and Space bind rather than moving the focus or pressing a row. The key
    // still reaches the editor through handleKeyUIEvent.
    const QEvent::Type type = event->type();
    if (_indexPathOfCellToRemap && targetEditor == this &&
        (type == QEvent::KeyPress || type == QEvent::KeyRelease ||
         type == QEvent::ShortcutOverride))
        return true;
    return UITableViewController::eventFilter(watched, event);
}

NBRKeymapViewController::~NBRKeymapViewController() {
    if (targetEditor == this)
        targetEditor = nullptr;
}

NBRKeymapViewController *NBRKeymapViewController::keyEventTarget() {
    return targetEditor;
}

std::optional<std::string>
NBRKeymapViewController::stringSelectedKeyCodeForNative(int buttonNative) const {
    for (const auto &[key, value] : _keymap)
        if (value.integerValue() == buttonNative)
            return key;
    return std::nullopt;
}

std::int64_t NBRKeymapViewController::selectedKeyCodeForNative(int buttonNative) const {
    const auto key = stringSelectedKeyCodeForNative(buttonNative);
    return key ? platform::integerValueOfText(*key) : -1;
}

int NBRKeymapViewController::buttonNativeFromIndexPath(const NSIndexPath &indexPath) {
    const qsizetype row = indexPath.row;
    return row >= 0 && row < qsizetype(kRows.size()) ? kRows[row].buttonNative : 0;
}

QString NBRKeymapViewController::titleForButtonNative(int buttonNative) {
    const auto row = rowForButtonNative(buttonNative);
    return row ? QString::fromUtf8(kRows[*row].title) : QString();
}

PlistValue::Dictionary NBRKeymapViewController::defaultKeymap() {
    PlistValue::Dictionary keymap;
    for (const NBRKeyBinding &binding : NBRDefaultKeymap)
        keymap.emplace(std::to_string(binding.keyCode), std::int64_t{binding.control});
    return keymap;
}

QString NBRKeymapViewController::keyLabelForKeyCode(std::int64_t keyCode) {
    if (keyCode == -1)
        return "(none)";
    // Letters and digits by their place in the usage table, taken modulo 256 as a byte.
    const auto letter = static_cast<std::uint8_t>(static_cast<std::uint64_t>(keyCode) + 61);
    if (letter >= 'A' && letter <= 'Z')
        return QString(QChar(char16_t(letter)));
    const auto digit = static_cast<std::uint8_t>(static_cast<std::uint64_t>(keyCode) + 19);
    if (digit >= '1' && digit <= '9')
        return QString(QChar(char16_t(digit)));
    for (const SpecialKey &special : kSpecialKeys)
        if (special.keyCode == keyCode)
            return QString::fromUtf8(special.label);
    return QString::asprintf("Key (%lld)", static_cast<long long>(keyCode));
}

qsizetype NBRKeymapViewController::numberOfSectionsInTableView(UITableView *) {
    return 1;
}

qsizetype NBRKeymapViewController::tableViewNumberOfRowsInSection(UITableView *, qsizetype) {
    return qsizetype(kRows.size());
}

QString NBRKeymapViewController::tableViewTitleForHeaderInSection(UITableView *, qsizetype) {
    return kHeader;
}

UITableViewCell *
NBRKeymapViewController::tableViewCellForRowAtIndexPath(UITableView *tableView,
                                                        const NSIndexPath &indexPath) {
    UITableViewCell *cell =
        tableView->dequeueReusableCellWithIdentifier(NBRKeymapCellID, indexPath);
    if (cell == nullptr)
        return nullptr;
    const int buttonNative = buttonNativeFromIndexPath(indexPath);
    cell->textLabel()->setText(titleForButtonNative(buttonNative));
    QLabel *label = accessoryLabel(cell);
    if (label == nullptr) {
        label = new QLabel;
        label->setTextFormat(Qt::PlainText);
        label->setFont(cell->textLabel()->font());
        cell->setAccessoryView(label);
    }
    label->setText(keyLabelForKeyCode(selectedKeyCodeForNative(buttonNative)));
    setTextColor(label, platform::UIColor::blackColor());
    label->adjustSize();
    return cell;
}

void NBRKeymapViewController::tableViewDidSelectRowAtIndexPath(UITableView *tableView,
                                                               const NSIndexPath &indexPath) {
    if (_indexPathOfCellToRemap) {
        tableView->deselectRowAtIndexPath(*_indexPathOfCellToRemap, true);
        tableView->reloadRowsAtIndexPaths({*_indexPathOfCellToRemap}, UITableViewRowAnimationFade);
    }
    _indexPathOfCellToRemap = indexPath;
    // The row stays highlighted while it waits, also when it was the one reloaded.
    tableView->selectRowAtIndexPath(indexPath, false);
    if (QLabel *label = accessoryLabel(tableView->cellForRowAtIndexPath(indexPath))) {
        label->setText(kPressKey);
        setTextColor(label, platform::UIColor::blueColor());
        label->adjustSize();
    }
}

void NBRKeymapViewController::keyPressed(UIPhysicalKeyboardEvent *event) {
    if (!_indexPathOfCellToRemap || event == nullptr)
        return;
    const NSIndexPath waiting = *_indexPathOfCellToRemap;
    const int buttonNative = buttonNativeFromIndexPath(waiting);
    const std::string key = std::to_string(event->_keyCode());
    QList<NSIndexPath> rows{waiting};
    tableView()->deselectRowAtIndexPath(waiting, true);

    const auto old = stringSelectedKeyCodeForNative(buttonNative);
    if (auto taken = _keymap.find(key); taken != _keymap.end()) {
        const auto other = taken->second.integerValue();
        // A hand-edited value that is no control has no row to put right.
        if (other != buttonNative)
            if (const auto row = other ? rowForButtonNative(*other) : std::nullopt)
                rows.append(NSIndexPath::indexPathForRow(*row, waiting.section));
    }
    if (old)
        _keymap.erase(*old);
    _keymap[key] = PlistValue(buttonNative);
    _keyBound = true;
    tableView()->reloadRowsAtIndexPaths(rows, UITableViewRowAnimationFade);
    _indexPathOfCellToRemap.reset();
}

void NBRKeymapViewController::viewDidDisappear(bool animated) {
    UITableViewController::viewDidDisappear(animated);
    const std::string file = _path.toStdString();
    // The file as it is now, not as it was at opening: others wrote to it meanwhile (the pairing
    // tool its address, the page a colour), and of it only the keymap is the editor's.
    auto settings = platform::readPlistDictionary(file);
    if (!settings) {
        // A file that does not exist is made now, so the keymap is not lost; anything else that
        // cannot be read is left as it is.
        std::error_code error;
        if (std::filesystem::symlink_status(file, error).type() !=
            std::filesystem::file_type::not_found)
            return;
        settings.emplace();
    }
    // A stored keymap gives way only to one the user made: a value the editor could not read
    // (and showed the defaults for) survives a look.
    if (!_keyBound && settings->count(NBRKeyboardKeymapKey) != 0)
        return;
    (*settings)[NBRKeyboardKeymapKey] = PlistValue(_keymap);
    if (platform::writePlistAtomically(file, PlistValue(*settings), platform::PlistFormat::Binary))
        _rootSettings = std::move(settings);
}
