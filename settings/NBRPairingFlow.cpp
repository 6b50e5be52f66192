#include "NBRPairingFlow.h"

#include "DevicePath.h"
#include "NBRConstants.h"
#include "NSTask.h"
#include "UIAlertView.h"
#include "UIProgressHUD.h"
#include "dispatch.h"
#include "rocketbootstrap.h"

#include <csignal>

namespace {

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

void showAlert(const QString &message) {
    (new UIAlertView("Nimbrel", message, nullptr, "Dismiss"))->show();
}

} // namespace

NBRPairingFlow::NBRPairingFlow() : hud_(new UIProgressHUD) {
    // Escape over the overlay cancels the search as leaving the app does.
    QObject::connect(hud_.data(), &UIProgressHUD::cancelRequested, this, [this] { killTool(); });
}

NBRPairingFlow::~NBRPairingFlow() {
    interruptTool();
    task_.reset();
    if (center_) {
        center_->unregisterForMessageName(NBRDiscoveryUpdateMessage);
        center_->stopServer();
    }
    delete hud_.data();
}

void NBRPairingFlow::start(QWidget *view) {
    killTool();
    resultShown_ = false;
    hud_->showInView(view);
    hud_->setText(kActivatingBluetooth);
    task_ = NSTask::launchedTaskWithLaunchPath(platform::devicePath(NBRDiscoveryToolPath), {});
    if (task_) {
        // The tool may end on its own or by an interrupt while the page was away: no message
        // says so, its process does.
        std::weak_ptr<NSTask> run = task_;
        task_->setTerminationHandler([self = QPointer<NBRPairingFlow>(this), run] {
            dispatch_async(dispatch_get_main_queue(), [self, run] {
                if (self && self->task_ == run.lock())
                    self->checkRunEnded();
            });
        });
    } else {
        // Nothing will ever report back: the HUD must not wait for it.
        hud_->hide();
        showAlert(kToolMissing);
    }
}

void NBRPairingFlow::listen(CPDistributedMessagingCenter::Handler handler) {
    if (center_)
        center_->stopServer();
    center_ = CPDistributedMessagingCenter::centerNamed(NBRMessagingCenterName);
    // The tool runs in a process of its own; only an unlocked name reaches this center.
    rocketbootstrap_distributedmessagingcenter_apply(center_.get());
    center_->runServerOnCurrentThread();
    center_->registerForMessageName(NBRDiscoveryUpdateMessage, std::move(handler));
    checkRunEnded();
}

void NBRPairingFlow::stopListening() {
    if (!center_)
        return;
    center_->unregisterForMessageName(NBRDiscoveryUpdateMessage);
    center_->stopServer();
    center_.reset();
}

void NBRPairingFlow::checkRunEnded() {
    if (task_ && task_->isRunning())
        return;
    // Off screen the overlay keeps its last text, so the user sees where the run stopped.
    if (center_ && hud_)
        hud_->hide();
}

void NBRPairingFlow::interruptTool() {
    if (task_ && task_->isRunning())
        ::kill(task_->processIdentifier(), SIGINT);
}

void NBRPairingFlow::killTool() {
    interruptTool();
    hud_->hide();
}

void NBRPairingFlow::handleProgress(const platform::PlistValue::Dictionary &userInfo, int type) {
    std::int64_t state = 0;
    if (auto entry = userInfo.find(NBRDiscoveryStateKey); entry != userInfo.end())
        state = entry->second.integerValue().value_or(0);
    QPointer<NBRPairingFlow> flow(this);
    dispatch_async(dispatch_get_main_queue(), [flow, state, type] {
        if (flow)
            flow->showProgress(state, type);
    });
}

void NBRPairingFlow::showProgress(std::int64_t state, int type) {
    switch (state) {
    case NBRDiscoveryProgressSearching:
        if (type == NBRControllerTypeDualShock4)
            hud_->setText(kSearchingDualShock4);
        else if (type == NBRControllerTypeSyncButton)
            hud_->setText(kSearchingSync);
        else if (type >= NBRControllerTypeXHome && type <= NBRControllerTypeXHome5)
            hud_->setText(kSearchingXHome);
        break;
    case NBRDiscoveryProgressPaired:
        showResult(kPaired.arg(buttonToPress(type)));
        break;
    case NBRDiscoveryProgressBluetoothInactive:
        showResult(kBluetoothInactive);
        break;
    case NBRDiscoveryProgressSearchStarted:
        hud_->setText(kStartingSearch);
        break;
    default:
        break;
    }
}

void NBRPairingFlow::showResult(const QString &message) {
    if (resultShown_)
        return;
    resultShown_ = true;
    killTool();
    showAlert(message);
    hud_->hide();
}
