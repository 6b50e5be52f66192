#include "NimbrelListController.h"

#include "CPDistributedMessagingCenter.h"
#include "DevicePath.h"
#include "NBRColorPickerController.h"
#include "NBRConstants.h"
#include "NBRControlSocket.h"
#include "NBRKeymapViewController.h"
#include "NBRSupport.h"
#include "NSNotificationCenter.h"
#include "NSTask.h"
#include "PSDefaultsDomain.h"
#include "PSTableCell.h"
#include "QVColorPickerView.h"
#include "UIAlertView.h"
#include "UIApplication.h"
#include "UINavigationController.h"
#include "UIProgressHUD.h"
#include "dispatch.h"
#include "notify.h"
#include "rocketbootstrap.h"

#include <QLabel>
#include <csignal>
#include <unistd.h>
#include <vector>

namespace {
constexpr const char *kSetter = "setPreferenceValue:specifier:";
constexpr const char *kGetter = "readPreferenceValue:";
const QString kForceExtendedWarning =
    "Your controller is missing some buttons the extended gamepad requires. By forcing this "
    "profile you may have poor gaming experience. Please turn this off unless you know what "
    "this means.";

const QString kActivatingBluetooth =
    "Activating Bluetooth...\nIf this takes too long, activate BTstack in its preferences.";
const QString kStartingSearch = "Starting Search...\nPrepare your controller.";
const QString kSearchingDualShock4 =
    "Searching...\nPress both the Share and PS buttons until your PS4 controller blinks.";
const QString kSearchingSync =
    "Searching..\nPress the red SYNC button on the back of your controller.";
const QString kSearchingXHome =
    "Searching...\nHold the X and the HOME buttons until the SEARCH light blinks.";
const QString kPaired = "Success!\nController paired, you can go into a game now and press %1 when "
                        "prompted to do so (turn it off now if it keeps blinking).";
const QString kBluetoothInactive =
    "BTstack was not activated! Please try going to BTstack preferences and activate it.";
const QString kToolMissing =
    "The pairing tool could not be started. Please reinstall Nimbrel and try again.";

// One paragraph, as mail clients show it best.
const QString kPairingInstructions = QStringLiteral(
    "<p><h1>Pairing Your PS3 Controller</h1>"
    "Note: this needs to be done only the first time"
    "<h2>Mac OS X:</h2><ol>"
    "<li>Download a PS3 controller pairing tool for Mac OS X "
    "(<a href=\"https://nimbrel.example/pairing/tools/macos\">download</a>).</li>"
    "<li>Connect both your PS3 controller and your iOS device to your computer with USB "
    "cables.</li>"
    "<li>Run the pairing tool and pair the controller with your iOS device.</li>"
    "<li>Disconnect the controller from your computer.</li>"
    "<li>Done!</li></ol>"
    "<h2>Windows:</h2><ol>"
    "<li>Download a PS3 controller pairing tool for Windows "
    "(<a href=\"https://nimbrel.example/pairing/tools/windows\">download</a>).</li>"
    "<li>Connect both your PS3 controller and your iOS device to your computer with USB "
    "cables.</li>"
    "<li>Run the pairing tool and give it your iOS device's Bluetooth address, which you find "
    "under Settings &gt; General &gt; About &gt; Bluetooth.</li>"
    "<li>Disconnect the controller from your computer.</li>"
    "<li>Done!</li></ol>"
    "<h2>Linux:</h2><ol>"
    "<li>Download a PS3 controller pairing tool for Linux "
    "(<a href=\"https://nimbrel.example/pairing/tools/linux\">download</a>).</li>"
    "<li>Connect both your PS3 controller and your iOS device to your computer with USB "
    "cables.</li>"
    "<li>Run the pairing tool with your iOS device's Bluetooth address, which you find under "
    "Settings &gt; General &gt; About &gt; Bluetooth, as its first command-line parameter.</li>"
    "<li>Disconnect the controller from your computer.</li>"
    "<li>Done!</li></ol>"
    "<a href=\"https://nimbrel.example/pairing/linux\">More in-depth instructions</a></p>");

QString buttonToPress(int type) {
    switch (type) {
    case NBRControllerTypeDualShock4:
        return "PS";
    case NBRControllerTypeSyncButton:
        return "SYNC";
    case NBRControllerTypeXHome:
    case NBRControllerTypeXHome4:
    case NBRControllerTypeXHome5:
        return "X + HOME";
    default:
        return "any button";
    }
}

void showAlert(const QString &title, const QString &message,
               UIAlertViewDelegate *delegate = nullptr) {
    (new UIAlertView(title, message, delegate, "Dismiss"))->show();
}

void setCellEnabled(PSTableCell *cell, bool enabled) {
    if (cell == nullptr)
        return;
    cell->setUserInteractionEnabled(enabled);
    cell->textLabel()->setEnabled(enabled);
}

// What the background exchanges see of the page: the flag while the page lives, NO after.
bool readFlag(const std::weak_ptr<std::atomic<bool>> &flag) {
    auto alive = flag.lock();
    return alive && alive->load();
}

void invertFlag(const std::weak_ptr<std::atomic<bool>> &flag) {
    if (auto alive = flag.lock())
        alive->store(!alive->load());
}

} // namespace

NimbrelListController::NimbrelListController() : hud_(new UIProgressHUD) {
    dragSaveTimer_.setSingleShot(true);
    dragSaveTimer_.setInterval(kDragSaveInterval);
    connect(&dragSaveTimer_, &QTimer::timeout, this, &NimbrelListController::saveDraggedColor);
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
    if (unsavedColor_)
        setPreferenceValue(QString::fromStdString(*unsavedColor_), ds4ColorChooser_.get());
    interruptDiscoveryTool();
    discoveryTask_.reset();
    if (discoveryMessagingCenter_) {
        discoveryMessagingCenter_->unregisterForMessageName(NBRDiscoveryUpdateMessage);
        discoveryMessagingCenter_->stopServer();
    }
    delete hud_.data();
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
    if (discoveryMessagingCenter_)
        discoveryMessagingCenter_->stopServer();
    discoveryMessagingCenter_ = CPDistributedMessagingCenter::centerNamed(NBRMessagingCenterName);
    // The tool runs in a process of its own; only an unlocked name reaches this center.
    rocketbootstrap_distributedmessagingcenter_apply(discoveryMessagingCenter_.get());
    discoveryMessagingCenter_->runServerOnCurrentThread();
    QPointer<NimbrelListController> page(this);
    discoveryMessagingCenter_->registerForMessageName(
        NBRDiscoveryUpdateMessage,
        [page](const std::string &message, const platform::PlistValue::Dictionary &userInfo) {
            if (page)
                page->handlePairingMessage(message, userInfo);
        });
}

void NimbrelListController::viewWillDisappear(bool animated) {
    PSListController::viewWillDisappear(animated);
    if (discoveryMessagingCenter_) {
        discoveryMessagingCenter_->unregisterForMessageName(NBRDiscoveryUpdateMessage);
        discoveryMessagingCenter_->stopServer();
        discoveryMessagingCenter_.reset();
    }
    // The HUD keeps its last text: the user sees where the run stopped.
    interruptDiscoveryTool();
}

void NimbrelListController::reloadSpecifiers() {
    PSListController::reloadSpecifiers();
    const int type = currentControllerType();
    connectSpecifier_->setName(controllerConnected() ? "Disconnect Controller"
                                                     : "Connect Controller");
    fixPairLabel(type);
    // The rebuild made a fresh button; it must not take a second press mid-exchange.
    if (exchangesInFlight_ > 0)
        setCellEnabled(connectSpecifier_->cellObject(), false);
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

// Pairing

void NimbrelListController::pairController() {
    const int type = currentControllerType();
    if (type == NBRControllerTypeKeyboard)
        openKeymapEditor();
    else if (type == NBRControllerTypePS3)
        emailInstructions();
    else
        pairPS4Controller();
}

void NimbrelListController::pairPS4Controller() {
    killDiscoveryTask();
    hud_->showInView(view());
    hud_->setText(kActivatingBluetooth);
    discoveryTask_ =
        NSTask::launchedTaskWithLaunchPath(platform::devicePath(NBRDiscoveryToolPath), {});
    if (!discoveryTask_) {
        // Nothing will ever report back: the HUD must not wait for it.
        hud_->hide();
        showAlert("Nimbrel", kToolMissing);
    }
}

void NimbrelListController::interruptDiscoveryTool() {
    if (discoveryTask_ && discoveryTask_->isRunning())
        ::kill(discoveryTask_->processIdentifier(), SIGINT);
}

void NimbrelListController::killDiscoveryTask() {
    interruptDiscoveryTool();
    hud_->hide();
}

void NimbrelListController::showPairingResult(const QString &message) {
    killDiscoveryTask();
    showAlert("Nimbrel", message);
    hud_->hide();
}

void NimbrelListController::handlePairingMessage(const std::string &,
                                                 const platform::PlistValue::Dictionary &userInfo) {
    std::int64_t state = 0;
    if (auto entry = userInfo.find(NBRDiscoveryStateKey); entry != userInfo.end())
        state = entry->second.integerValue().value_or(0);
    const int type = currentControllerType();
    QPointer<NimbrelListController> page(this);
    dispatch_async(dispatch_get_main_queue(), [page, state, type] {
        if (!page)
            return;
        switch (state) {
        case NBRDiscoveryProgressSearching:
            if (type == NBRControllerTypeDualShock4)
                page->hud_->setText(kSearchingDualShock4);
            else if (type == NBRControllerTypeSyncButton)
                page->hud_->setText(kSearchingSync);
            else if (type >= NBRControllerTypeXHome && type <= NBRControllerTypeXHome5)
                page->hud_->setText(kSearchingXHome);
            break;
        case NBRDiscoveryProgressPaired:
            page->showPairingResult(kPaired.arg(buttonToPress(type)));
            break;
        case NBRDiscoveryProgressBluetoothInactive:
            page->showPairingResult(kBluetoothInactive);
            break;
        case NBRDiscoveryProgressSearchStarted:
            page->hud_->setText(kStartingSearch);
            break;
        default:
            break;
        }
    });
}

void NimbrelListController::emailInstructions() {
    if (!MFMailComposeViewController::canSendMail()) {
        showAlert("Your E-mail account is not configured",
                  "You are taken to a browser with pairing instructions.", this);
        return;
    }
    auto *mail = new MFMailComposeViewController;
    mail->setMailComposeDelegate(this);
    mail->setMessageBody(kPairingInstructions, true);
    UIViewController *presenter = navigationController();
    if (presenter == nullptr)
        presenter = this;
    presenter->presentViewController(mail, true);
}

void NimbrelListController::alertViewDidDismissWithButtonIndex(UIAlertView *, int) {
    UIApplication::openURL(QUrl(NBRPairingInstructionsURL));
}

void NimbrelListController::mailComposeControllerDidFinishWithResult(MFMailComposeViewController *,
                                                                     MFMailComposeResult,
                                                                     const QString &) {
    dismissViewControllerAnimated(true);
}

void NimbrelListController::restartDaemons() {
    const int fd = NBRConnectToControlSocket();
    if (fd < 0) {
        showAlert("Important!", "A critical error has occurred! Please reboot your device in "
                                "order to continue using Nimbrel.");
        return;
    }
    NBRControlRestart(fd);
    ::close(fd);
}

// The controller daemon

PSTableCell *NimbrelListController::beginExchange(PSSpecifier *specifier) {
    ++exchangesInFlight_;
    PSTableCell *cell = specifier ? specifier->cellObject() : nullptr;
    setCellEnabled(cell, false);
    return cell;
}

void NimbrelListController::endExchange(PSTableCell *cell) {
    setCellEnabled(cell, true);
    // A rebuild meanwhile replaced the cell the exchange began with.
    if (exchangesInFlight_ > 0 && --exchangesInFlight_ == 0)
        setCellEnabled(connectSpecifier_->cellObject(), true);
}

void NimbrelListController::endExchangeOnMainQueue(QPointer<PSTableCell> cell,
                                                   QPointer<NimbrelListController> page, bool ran) {
    dispatch_async(dispatch_get_main_queue(),
                   [cell, page, ran] { exchangeEnded(cell, page, ran); });
}

void NimbrelListController::exchangeEnded(QPointer<PSTableCell> cell,
                                          QPointer<NimbrelListController> page, bool ran) {
    // A page gone meanwhile still gives its cell back; only a finished exchange rebuilds.
    if (!page) {
        setCellEnabled(cell.data(), true);
        return;
    }
    page->endExchange(cell.data());
    if (ran)
        page->reloadSpecifiers();
}

void NimbrelListController::acknowledgedOnMainQueue(int fd, QPointer<PSTableCell> cell,
                                                    QPointer<NimbrelListController> page, int type,
                                                    std::uint32_t color) {
    // A DualShock 4 lights up at once, on this connection. The type and the colour are the
    // page's as they are now, read on the main thread: the user may have changed either while
    // the connect waited.
    dispatch_async(dispatch_get_main_queue(), [fd, cell, page, type, color] {
        if (page)
            page->updateDS4ColorWithSocket(fd);
        else if (type == NBRControllerTypeDualShock4)
            NBRControlSetLightColor(fd, color);
        ::close(fd);
        exchangeEnded(cell, page, true);
    });
}

void NimbrelListController::queryControllerConnected() {
    const int fd = NBRConnectToControlSocket();
    if (fd < 0) {
        notify_post(NBRFailureNotification);
        return;
    }
    QPointer<PSTableCell> cell = beginExchange(connectSpecifier_.get());
    QPointer<NimbrelListController> page(this);
    std::weak_ptr<std::atomic<bool>> flag = connected_;
    const auto timeout = statusTimeout_;
    dispatch_async(dispatch_get_global_queue(DISPATCH_QUEUE_PRIORITY_DEFAULT, 0),
                   [fd, cell, page, flag, timeout] {
                       const bool timed = NBRControlSetReceiveTimeout(fd, timeout);
                       if (timed) {
                           auto reply = NBRControlQueryStatus(fd);
                           if (auto alive = flag.lock())
                               alive->store(NBRConnectedAfterStatusReply(reply, alive->load()));
                       }
                       ::close(fd);
                       endExchangeOnMainQueue(cell, page, timed);
                   });
}

std::string NimbrelListController::storedColorText(PSSpecifier *specifier) {
    if (unsavedColor_ && specifier == ds4ColorChooser_.get())
        return *unsavedColor_;
    const auto stored = PSDefaultsDomain::plistFromVariant(readPreferenceValue(specifier));
    return NBRLEDColorTextForValue(stored ? &*stored : nullptr);
}

std::uint32_t NimbrelListController::storedLightColor() {
    return NBRColorPixelForHexString(storedColorText(ds4ColorChooser_.get()).c_str());
}

void NimbrelListController::connectController(PSSpecifier *specifier) {
    const int fd = NBRConnectToControlSocket();
    if (fd < 0) {
        notify_post(NBRFailureNotification);
        return;
    }
    const int type = currentControllerType();
    std::vector<std::uint8_t> address;
    if (auto preferences =
            platform::readPlistDictionary(platform::devicePath(NBRPreferencesPath))) {
        auto entry = preferences->find(NBRBluetoothAddressKey);
        if (entry != preferences->end() && entry->second.data())
            address = *entry->second.data();
    }
    if (address.size() != NBRBluetoothAddressLength && type != NBRControllerTypePS3) {
        ::close(fd);
        showAlert("No controller!", "You need to pair your controller first.");
        return;
    }
    // The background reads nothing of the page but its flag: what it needs is taken here. The
    // colour is read again once the controller is connected; this one serves a page gone by then.
    const std::uint32_t color = storedLightColor();
    QPointer<PSTableCell> cell = beginExchange(specifier ? specifier : connectSpecifier_.get());
    QPointer<NimbrelListController> page(this);
    std::weak_ptr<std::atomic<bool>> flag = connected_;
    const auto timeout = connectTimeout_;
    dispatch_async(dispatch_get_global_queue(DISPATCH_QUEUE_PRIORITY_DEFAULT, 0),
                   [fd, cell, page, flag, timeout, type, address, color] {
                       const bool timed = NBRControlSetReceiveTimeout(fd, timeout);
                       if (timed) {
                           if (readFlag(flag)) {
                               NBRControlDisconnect(fd, type);
                               invertFlag(flag);
                           } else {
                               notify_post(NBRInitBluetoothNotification);
                               if (NBRControlConnect(fd, type, address)) {
                                   invertFlag(flag);
                                   acknowledgedOnMainQueue(fd, cell, page, type, color);
                                   return;
                               }
                           }
                       }
                       ::close(fd);
                       endExchangeOnMainQueue(cell, page, timed);
                   });
}

void NimbrelListController::updateDS4ColorWithSocket(int socket) {
    if (currentControllerType() != NBRControllerTypeDualShock4)
        return;
    int fd = socket;
    if (fd == -1) {
        fd = NBRConnectToControlSocket();
        if (fd < 0) {
            notify_post(NBRFailureNotification);
            return;
        }
    }
    NBRControlSetLightColor(fd, storedLightColor());
    if (socket == -1)
        ::close(fd);
}

void NimbrelListController::openKeymapEditor() {
    if (navigationController() == nullptr)
        return;
    auto *editor = new NBRKeymapViewController(
        QString::fromStdString(platform::devicePath(NBRPreferencesPath)));
    navigationController()->pushViewController(editor, true);
    editor->tableView()->reloadData();
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
    // Up to 15 colours a second come while the finger moves; the file's fsync'd rewrite must
    // not hold each of them up, but the light bar follows every one.
    const bool dragging = chooser && chooser->colorPicker() && chooser->colorPicker()->isTracking();
    if (dragging) {
        unsavedColor_ = hex;
        if (!dragSaveTimer_.isActive())
            dragSaveTimer_.start();
    } else {
        dragSaveTimer_.stop();
        unsavedColor_.reset();
        storeColor(hex);
    }
    if (currentControllerType() == NBRControllerTypeDualShock4)
        lightColorSender_.send(NBRColorPixelForHexString(hex.c_str()), !dragging);
}

void NimbrelListController::saveDraggedColor() {
    dragSaveTimer_.stop();
    if (!unsavedColor_)
        return;
    const std::string hex = *std::exchange(unsavedColor_, std::nullopt);
    storeColor(hex);
}

void NimbrelListController::storeColor(const std::string &hex) {
    setPreferenceValue(QString::fromStdString(hex), ds4ColorChooser_.get());
    reloadSpecifier(ds4ColorChooser_);
}
