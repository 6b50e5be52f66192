#include "NBRColorChooserCell.h"

#include "NBRConstants.h"
#include "NBRSupport.h"
#include "PSClassRegistry.h"
#include "PSDefaultsDomain.h"
#include "UIViewHost.h"

PS_REGISTER_CELL_CLASS(NBRColorChooserCell);

namespace {
constexpr double kMarkSize = 25;
constexpr double kMarkCornerRadius = 12;
} // namespace

NBRColorChooserCell::NBRColorChooserCell(int style, const QString &reuseIdentifier,
                                         PSSpecifier *specifier)
    : PSTableCell(style, reuseIdentifier, specifier) {
    const QVariant value = specifier != nullptr ? specifier->propertyForKey("value") : QVariant();
    _colorMark = std::make_shared<UIView>(CGRectMake(0, 0, kMarkSize, kMarkSize));
    _colorMark->layer().setCornerRadius(kMarkCornerRadius);
    paintColorMark(value);
    showColorMark();
}

void NBRColorChooserCell::setValue(const QVariant &value) {
    showColorMark();
    paintColorMark(value);
}

void NBRColorChooserCell::paintColorMark(const QVariant &hex) {
    if (!_colorMark)
        return;
    const auto stored = PSDefaultsDomain::plistFromVariant(hex);
    const std::string text = NBRLEDColorTextForValue(stored ? &*stored : nullptr);
    _colorMark->setBackgroundColor(NBRColorForHexString(text.c_str()));
    if (QWidget *accessory = accessoryView())
        accessory->update();
}

// The accessory is a host widget showing the mark; a mark given through the setter gets a host
// of its own.
void NBRColorChooserCell::showColorMark() {
    if (!_colorMark)
        return;
    auto *host = dynamic_cast<UIViewHost *>(accessoryView());
    if (host != nullptr && &host->rootView() == _colorMark.get())
        return;
    host = new UIViewHost(_colorMark);
    host->setFixedSize(int(_colorMark->frame().width()), int(_colorMark->frame().height()));
    host->setAttribute(Qt::WA_TransparentForMouseEvents); // a tap on the swatch taps the row
    setAccessoryView(host);
}
