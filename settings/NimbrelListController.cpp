#include "NimbrelListController.h"

#include "NBRColorPickerController.h"
#include "NBRConstants.h"
#include "NBRSupport.h"
#include "NSNotificationCenter.h"
#include "PSTableCell.h"
#include "UIAlertView.h"
#include "UIApplication.h"
#include "UINavigationController.h"
#include "UIProgressHUD.h"

namespace {
constexpr const char *kSetter = "setPreferenceValue:specifier:";
constexpr const char *kGetter = "readPreferenceValue:";
const QString kForceExtendedWarning =
    "Your controller is missing some buttons the extended gamepad requires. By forcing this "
    "profile you may have poor gaming experience. Please turn this off unless you know what "
    "this means.";
} // namespace

NimbrelListController::NimbrelListController() : hud_(new UIProgressHUD) {
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
    delete hud_.data();
    NSNotificationCenter::defaultCenter().removeObserver(this);
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
    reloadSpecifiers();
}

void NimbrelListController::reloadSpecifiers() {
    PSListController::reloadSpecifiers();
    const int type = currentControllerType();
    connectSpecifier_->setName(controllerConnected() ? "Disconnect Controller"
                                                     : "Connect Controller");
    fixPairLabel(type);
}

int NimbrelListController::integerValue(const char *identifier) {
    PSSpecifierRef specifier = specifierForID(identifier);
    return specifier ? readPreferenceValue(specifier.get()).toInt() : 0;
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
    setHasDS4Specifiers(type == NBRControllerTypeDualShock4);
    reloadSpecifier(pair);
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
    if (readPreferenceValue(ds4AmbientColor_.get()).toBool()) {
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

void NimbrelListController::presentColorChooser(PSSpecifier *specifier) {
    if (navigationController() == nullptr)
        return;
    const QVariant stored = readPreferenceValue(specifier);
    const QByteArray hex =
        stored.isValid() ? stored.toString().toUtf8() : QByteArray(NBRDefaultLEDColor);
    auto *chooser = new NBRColorPickerController(NBRColorForHexString(hex.constData()));
    chooser->setDelegate(this);
    navigationController()->pushViewController(chooser, true);
}

void NimbrelListController::colorPickerDidPickColor(NBRColorPickerController *,
                                                    const platform::UIColor &color) {
    setPreferenceValue(QString::fromStdString(NBRStringColorForUIColor(color)),
                       ds4ColorChooser_.get());
    reloadSpecifier(ds4ColorChooser_);
}
