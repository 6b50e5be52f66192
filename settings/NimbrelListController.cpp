#include "NimbrelListController.h"

#include "DevicePath.h"
#include "NBRColorPickerController.h"
#include "NBRConstants.h"
#include "NBRKeymapViewController.h"
#include "NBRSupport.h"
#include "NSBundle.h"
#include "NSNotificationCenter.h"
#include "PSDefaultsDomain.h"
#include "PSTableCell.h"
#include "QVColorPickerView.h"
#include "UIAlertView.h"
#include "UIApplication.h"
#include "UINavigationController.h"

namespace {
constexpr const char *kSetter = "setPreferenceValue:specifier:";
constexpr const char *kGetter = "readPreferenceValue:";
const QString kForceExtendedWarning =
    "Your controller is missing some buttons the extended gamepad requires. By forcing this "
    "profile you may have poor gaming experience. Please turn this off unless you know what "
    "this means.";

} // namespace

NimbrelListController::NimbrelListController()
    : connector_({[this] { return connectSpecifier_->cellObject(); },
                  [this] { reloadSpecifiers(); }, [this](int fd) { updateDS4ColorWithSocket(fd); },
                  [this] { reloadSpecifiers(); }}),
      colorSaver_([this](const std::string &hex) { storeColor(hex); }) {
    NSNotificationCenter::defaultCenter().addObserver(
        this, "killDiscoveryTask", UIApplicationDidEnterBackgroundNotification, nullptr);
    ds4Group_ = PSSpecifier::groupSpecifierWithName("DualShock 4");
    ds4Group_->setIdentifier(NBRDS4GroupID);
    ds4AmbientColor_ = storedSpecifier("Ambient LED Color", PSSwitchCell, NBRAmbientColorID,
                                       NBRAmbientColorKey, false);
    ds4ColorChooser_ = storedSpecifier("Choose LED Color", PSButtonCell, NBRLEDColorID,
                                       NBRLEDColorKey, QString(NBRDefaultLEDColor));
    ds4ColorChooser_->setProperty(QString("NBRColorChooserCell"), "cellClass");
    ds4ColorChooser_->setButtonAction("presentColorChooser:");
    connectSpecifier_ = PSSpecifier::preferenceSpecifierNamed(
        "Connect Controller", this, nullptr, nullptr, nullptr, PSButtonCell, nullptr);
    connectSpecifier_->setProperty(QString(NBRConnectID), "id");
    connectSpecifier_->setButtonAction("connectController:");
}

NimbrelListController::~NimbrelListController() {
    // The last colour of a drag cut short still reaches the file; the row is going anyway.
    if (const auto &unsaved = colorSaver_.unsaved())
        setPreferenceValue(QString::fromStdString(*unsaved), ds4ColorChooser_.get());
    NSNotificationCenter::defaultCenter().removeObserver(this);
    // An alert outliving the page must not call back into it.
    for (UIAlertView *alert : UIAlertView::visibleAlerts())
        if (alert->delegate() == this)
            alert->setDelegate(nullptr);
}

PSSpecifierRef NimbrelListController::storedSpecifier(const QString &name, PSCellType cell,
                                                      const char *identifier, const char *key,
                                                      const QVariant &defaultValue) {
    auto specifier =
        PSSpecifier::preferenceSpecifierNamed(name, this, kSetter, kGetter, nullptr, cell, nullptr);
    specifier->setProperty(QString(identifier), "id");
    specifier->setProperty(QString(key), "key");
    specifier->setProperty(defaultValue, "default");
    specifier->setProperty(QString(NBRPreferencesDomain), "defaults");
    specifier->setProperty(QString(NBRPreferencesChangedNotification), "PostNotification");
    return specifier;
}

QList<PSSpecifierRef> NimbrelListController::specifiers() {
    if (!_specifiers)
        _specifiers = loadSpecifiersFromPlistName("Nimbrel", this);
    return *_specifiers;
}

void NimbrelListController::viewDidLoad() {
    PSListController::viewDidLoad();
    reloadSpecifiers();
}

void NimbrelListController::viewWillAppear(bool animated) {
    PSListController::viewWillAppear(animated);
    saveDraggedColor();
    queryControllerConnected();
    reloadSpecifiers();
}

void NimbrelListController::viewDidAppear(bool animated) {
    PSListController::viewDidAppear(animated);
    QPointer<NimbrelListController> page(this);
    pairing_.listen(
        [page](const std::string &message, const platform::PlistValue::Dictionary &userInfo) {
            if (page)
                page->handlePairingMessage(message, userInfo);
        });
}

void NimbrelListController::viewWillDisappear(bool animated) {
    PSListController::viewWillDisappear(animated);
    pairing_.stopListening();
    // The HUD keeps its last text: the user sees where the run stopped.
    pairing_.interruptTool();
}

void NimbrelListController::reloadSpecifiers() {
    PSListController::reloadSpecifiers();
    const int type = currentControllerType();
    connectSpecifier_->setName(controllerConnected() ? "Disconnect Controller"
                                                     : "Connect Controller");
    fixPairLabel(type);
    // The rebuild made a fresh button; it must not take a second press mid-exchange.
    connector_.keepDisabledWhileBusy(connectSpecifier_->cellObject());
}

int NimbrelListController::integerValue(const char *identifier) {
    PSSpecifierRef specifier = specifierForID(identifier);
    if (!specifier)
        return 0;
    return static_cast<int>(PSDefaultsDomain::integerValueOf(readPreferenceValue(specifier.get())));
}

int NimbrelListController::currentControllerType() {
    return integerValue(NBRControllerTypeSpecifierID);
}

int NimbrelListController::connectionType() {
    return integerValue(NBRConnectionModeSpecifierID);
}

PSSpecifierRef NimbrelListController::pairSpecifier() const {
    return specifierForID(NBRPairSpecifierID);
}

void NimbrelListController::fixPairLabel(int type) {
    PSSpecifierRef pair = pairSpecifier();
    if (pair)
        pair->setName(type == NBRControllerTypePS3        ? "E-mail Pairing Instructions"
                      : type == NBRControllerTypeKeyboard ? "Configure Keymap"
                                                          : "Pair Controller");
    updateTypeRows(type);
}

void NimbrelListController::updateTypeRows(int type) {
    setHasDS4Specifiers(type == NBRControllerTypeDualShock4);
    reloadSpecifier(pairSpecifier());
    setHasForceExtendedCell(type == NBRControllerTypeXHome5 || type == NBRControllerTypeKeyboard);
    setHasConnectCell(connectionType() == NBRConnectionModeManual &&
                      currentControllerType() != NBRControllerTypeKeyboard);
}

void NimbrelListController::showStoredColor() {
    if (PSTableCell *cell = ds4ColorChooser_->cellObject())
        cell->setValue(readPreferenceValue(ds4ColorChooser_.get()));
}

void NimbrelListController::setHasDS4Specifiers(bool has) {
    if (!has) {
        removeSpecifierID(NBRDS4GroupID, false);
        removeSpecifierID(NBRAmbientColorID, false);
        // The colour button belongs to the section; left behind it would hang under the pair
        // button with no switch above it.
        removeSpecifierID(NBRLEDColorID, false);
        return;
    }
    if (specifierForID(NBRAmbientColorID) && specifierForID(NBRDS4GroupID))
        return;
    if (PSDefaultsDomain::boolValueOf(readPreferenceValue(ds4AmbientColor_.get()))) {
        insertContiguousSpecifiers({ds4Group_, ds4AmbientColor_}, pairSpecifier(), false);
    } else {
        insertContiguousSpecifiers({ds4Group_, ds4AmbientColor_, ds4ColorChooser_}, pairSpecifier(),
                                   false);
        showStoredColor();
    }
}

void NimbrelListController::setHasConnectCell(bool has) {
    if (!has) {
        removeSpecifierID(NBRConnectID, false);
        return;
    }
    if (specifierForID(NBRConnectID))
        return;
    insertSpecifier(connectSpecifier_, specifierForID(NBRConnectionModeSpecifierID), false);
}

void NimbrelListController::setHasColorChooserSpecifier(bool has, bool addIfMissing) {
    if (!has) {
        removeSpecifierID(NBRLEDColorID, true);
        return;
    }
    if (specifierForID(NBRLEDColorID) || !addIfMissing)
        return;
    PSSpecifierRef ambient = specifierForID(NBRAmbientColorID);
    if (!ambient)
        return; // no section to put it in
    insertSpecifier(ds4ColorChooser_, ambient, true);
    showStoredColor();
}

void NimbrelListController::setHasForceExtendedCell(bool has) {
    PSSpecifierRef present = specifierForID(NBRForceExtendedSpecifierID);
    if (!present && has) {
        insertSpecifier(storedSpecifier("Force Extended Gamepad", PSSwitchCell,
                                        NBRForceExtendedSpecifierID, NBRForceExtendedGamepadKey,
                                        false),
                        pairSpecifier(), false);
    } else if (present && !has) {
        removeSpecifier(present, false);
    }
}

void NimbrelListController::setPreferenceValue(const QVariant &value, PSSpecifier *specifier) {
    PSListController::setPreferenceValue(value, specifier);
    if (specifier == nullptr)
        return;
    const QString identifier = specifier->identifier();
    if (identifier == NBRForceExtendedSpecifierID && value.toBool()) {
        (new UIAlertView("Important!", kForceExtendedWarning, nullptr, "Dismiss"))->show();
    } else if (identifier == NBRAmbientColorID) {
        setHasColorChooserSpecifier(!value.toBool(), true);
    }
}

void NimbrelListController::pairController() {
    const int type = currentControllerType();
    if (type == NBRControllerTypeKeyboard)
        openKeymapEditor();
    else if (type == NBRControllerTypePS3)
        emailInstructions();
    else
        pairPS4Controller();
}

void NimbrelListController::emailInstructions() {
    UIViewController *presenter = navigationController();
    NBRPairingInstructionsMailer::email(presenter ? presenter : this, this, this);
}

void NimbrelListController::alertViewDidDismissWithButtonIndex(UIAlertView *, int) {
    NBRPairingInstructionsMailer::openWebPage(bundle() ? bundle()->bundlePath() : QString());
}

void NimbrelListController::openKeymapEditor() {
    if (navigationController() == nullptr)
        return;
    auto *editor = new NBRKeymapViewController(
        QString::fromStdString(platform::devicePath(NBRPreferencesPath)));
    editor->setTitle(pairSpecifier() ? pairSpecifier()->name() : QString()); // as its row reads
    navigationController()->pushViewController(editor, true);
    editor->tableView()->reloadData();
}

void NimbrelListController::connectController(PSSpecifier *specifier) {
    PSSpecifier *button = specifier ? specifier : connectSpecifier_.get();
    // The colour serves a DualShock 4 connected after the page has gone; a living page reads it
    // again once the controller is connected.
    connector_.connectOrDisconnect(button->cellObject(), currentControllerType(),
                                   storedLightColor());
}

void NimbrelListController::updateDS4ColorWithSocket(int socket) {
    if (currentControllerType() != NBRControllerTypeDualShock4)
        return;
    if (socket != -1)
        NBRLightColorSender::sendOnConnection(socket, storedLightColor());
    else if (!NBRLightColorSender::sendOnOwnConnection(storedLightColor()))
        NBRLightColorSender::postFailure();
}

std::string NimbrelListController::storedColorText(PSSpecifier *specifier) {
    if (colorSaver_.unsaved() && specifier == ds4ColorChooser_.get())
        return *colorSaver_.unsaved();
    const auto stored = PSDefaultsDomain::plistFromVariant(readPreferenceValue(specifier));
    return NBRLEDColorTextForValue(stored ? &*stored : nullptr);
}

std::uint32_t NimbrelListController::storedLightColor() {
    return NBRColorPixelForHexString(storedColorText(ds4ColorChooser_.get()).c_str());
}

void NimbrelListController::presentColorChooser(PSSpecifier *specifier) {
    if (navigationController() == nullptr)
        return;
    auto *chooser =
        new NBRColorPickerController(NBRColorForHexString(storedColorText(specifier).c_str()));
    chooser->setDelegate(this);
    navigationController()->pushViewController(chooser, true);
}

void NimbrelListController::colorPickerDidPickColor(NBRColorPickerController *chooser,
                                                    const platform::UIColor &color) {
    const std::string hex = NBRStringColorForUIColor(color);
    // The light bar follows every colour of a drag; the file takes them at its own pace.
    const bool dragging = chooser && chooser->colorPicker() && chooser->colorPicker()->isTracking();
    colorSaver_.picked(hex, dragging);
    if (currentControllerType() == NBRControllerTypeDualShock4)
        lightColorSender_.send(NBRColorPixelForHexString(hex.c_str()), !dragging);
}

void NimbrelListController::storeColor(const std::string &hex) {
    setPreferenceValue(QString::fromStdString(hex), ds4ColorChooser_.get());
    reloadSpecifier(ds4ColorChooser_);
}
