#pragma once

#include "CPDistributedMessagingCenter.h"
#include "PlistValue.h"

#include <QObject>
#include <QPointer>
#include <memory>

class NSTask;
class QWidget;
class UIProgressHUD;

// A run of the pairing tool as the settings page shows it: the tool's process, the messaging
// server that hears its progress while the page is on screen, the progress overlay, and the
// alert that ends a run. A QObject only so that deferred work can tell it is gone.
class NBRPairingFlow : public QObject {
public:
    NBRPairingFlow();
    ~NBRPairingFlow() override;
    NBRPairingFlow(const NBRPairingFlow &) = delete;
    NBRPairingFlow &operator=(const NBRPairingFlow &) = delete;

    // Interrupts an earlier run, shows the overlay over `view` and starts the tool.
    void start(QWidget *view);
    // Serves the progress messages, each handed to `handler`, until `stopListening`; the page
    // listens while it is on screen.
    void listen(CPDistributedMessagingCenter::Handler handler);
    void stopListening();
    // What a progress message means for a run for controller type `type`; the overlay and the
    // alerts change later, on the main queue.
    void handleProgress(const platform::PlistValue::Dictionary &userInfo, int type);
    // SIGINT to a tool still running; the overlay keeps its last text.
    void interruptTool();
    // The same, and the overlay goes.
    void killTool();

    std::shared_ptr<NSTask> task() const { return task_; }
    CPDistributedMessagingCenter *messagingCenter() const { return center_.get(); }
    UIProgressHUD *hud() const { return hud_.data(); }

private:
    void showResult(const QString &message);
    void showProgress(std::int64_t state, int type);
    // A run that ended without a result takes its overlay with it once the page is on screen.
    void checkRunEnded();

    std::shared_ptr<NSTask> task_;
    std::shared_ptr<CPDistributedMessagingCenter> center_;
    QPointer<UIProgressHUD> hud_;
    // A run ends with one alert: a DualShock 4 reports its pairing once per channel.
    bool resultShown_ = false;
};
