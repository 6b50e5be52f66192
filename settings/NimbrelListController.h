#pragma once

#include "NBRColorPickerControllerDelegate.h"
#include "PSListController.h"

#include <QPointer>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <memory>
#include <string>

#include "MFMailComposeViewController.h"
#include "NBRConstants.h"
#include "NBRLightColorSender.h"
#include "PlistValue.h"
#include "UIAlertView.h"
#include "UIProgressHUD.h"

class CPDistributedMessagingCenter;
class NSTask;

// The main settings page: the page description's cells plus the cells this page inserts and
// removes as the controller type, the connection mode and the ambient switch change; the
// pairing flow; connecting the controller and its light-bar colour over the control socket.
class NimbrelListController : public PSListController,
                              public UIAlertViewDelegate,
                              public MFMailComposeViewControllerDelegate,
                              public NBRColorPickerControllerDelegate {
    Q_OBJECT
public:
    NimbrelListController();
    ~NimbrelListController() override;

    QList<PSSpecifierRef> specifiers() override;
    void reloadSpecifiers() override;
    void setPreferenceValue(const QVariant &value, PSSpecifier *specifier) override;
    void viewDidLoad() override;
    void viewWillAppear(bool animated) override;
    void viewDidAppear(bool animated) override;
    void viewWillDisappear(bool animated) override;

    int currentControllerType();
    int connectionType();
    PSSpecifierRef pairSpecifier() const;

    void fixPairLabel(int type);
    void setHasDS4Specifiers(bool has);
    void setHasConnectCell(bool has);
    void setHasForceExtendedCell(bool has);
    void setHasColorChooserSpecifier(bool has, bool addIfMissing);

    // "Choose LED Color": opens the colour screen on the stored colour; each colour it reports
    // is stored, shown on the row and sent to a connected DualShock 4.
    Q_INVOKABLE void presentColorChooser(PSSpecifier *specifier);
    // While the finger still moves on the picker, the colour goes to the light bar at once and
    // to the preferences file at most every `kDragSaveInterval`; a colour the user ends on is
    // stored at once.
    void colorPickerDidPickColor(NBRColorPickerController *chooser,
                                 const platform::UIColor &color) override;
    static constexpr std::chrono::milliseconds kDragSaveInterval{500};
    // Writes a colour picked during a drag that is not in the file yet.
    void saveDraggedColor();
    NBRLightColorSender &lightColorSender() { return lightColorSender_; }

    // Pairing: the pair button's action and what it leads to.
    Q_INVOKABLE void pairController();
    void pairPS4Controller();
    // What the pair button does for a hardware keyboard: pushes the keymap editor.
    Q_INVOKABLE void openKeymapEditor();
    void handlePairingMessage(const std::string &message,
                              const platform::PlistValue::Dictionary &userInfo);
    Q_INVOKABLE void killDiscoveryTask();
    void emailInstructions();
    Q_INVOKABLE void restartDaemons();
    void alertViewDidDismissWithButtonIndex(UIAlertView *alertView, int buttonIndex) override;
    void mailComposeControllerDidFinishWithResult(MFMailComposeViewController *controller,
                                                  MFMailComposeResult result,
                                                  const QString &error) override;

    // The controller daemon: whether it has the controller, connecting it, its light bar.
    void queryControllerConnected();
    Q_INVOKABLE void connectController(PSSpecifier *specifier);
    // Sends the stored light-bar colour when the controller type is 1, on `socket`, or on a
    // connection of its own when `socket` is -1 (posting the failure notification when none
    // can be made). Never reads a reply and closes only a connection it opened.
    void updateDS4ColorWithSocket(int socket);

    std::shared_ptr<NSTask> discoveryTask() const { return discoveryTask_; }
    CPDistributedMessagingCenter *discoveryMessagingCenter() const {
        return discoveryMessagingCenter_.get();
    }
    UIProgressHUD *hud() const { return hud_.data(); }
    PSSpecifierRef ds4Group() const { return ds4Group_; }
    PSSpecifierRef ds4AmbientColor() const { return ds4AmbientColor_; }
    PSSpecifierRef ds4ColorChooser() const { return ds4ColorChooser_; }
    PSSpecifierRef connectSpecifier() const { return connectSpecifier_; }

    // Written by the control-socket work on a background queue, read on the main thread.
    bool controllerConnected() const { return connected_->load(); }
    void setControllerConnected(bool connected) { connected_->store(connected); }

    // How long the status query and the connect wait for the daemon's reply.
    void setStatusQueryTimeout(std::chrono::milliseconds timeout) { statusTimeout_ = timeout; }
    void setConnectTimeout(std::chrono::milliseconds timeout) { connectTimeout_ = timeout; }

private:
    PSSpecifierRef storedSpecifier(const QString &name, PSCellType cell, const char *identifier,
                                   const char *key, const QVariant &defaultValue);
    void showStoredColor();
    int integerValue(const char *identifier);
    void showPairingResult(const QString &message);
    void interruptDiscoveryTool();
    // The stored light-bar colour as text; anything stored that is not text reads as the default.
    std::string storedColorText(PSSpecifier *specifier);
    std::uint32_t storedLightColor();
    void storeColor(const std::string &hex);
    PSTableCell *beginExchange(PSSpecifier *specifier);
    void endExchange(PSTableCell *cell);
    // Called on the background queue when an exchange is over.
    static void endExchangeOnMainQueue(QPointer<PSTableCell> cell,
                                       QPointer<NimbrelListController> page, bool ran);
    // The same, on the main thread.
    static void exchangeEnded(QPointer<PSTableCell> cell, QPointer<NimbrelListController> page,
                              bool ran);
    // Called on the background queue when the daemon acknowledged a connect on `fd`: the
    // light-bar colour follows on it, then the exchange ends (`type` and `color` as read at
    // the press serve a page that has gone).
    static void acknowledgedOnMainQueue(int fd, QPointer<PSTableCell> cell,
                                        QPointer<NimbrelListController> page, int type,
                                        std::uint32_t color);

    std::shared_ptr<NSTask> discoveryTask_;
    std::shared_ptr<CPDistributedMessagingCenter> discoveryMessagingCenter_;
    QPointer<UIProgressHUD> hud_;
    PSSpecifierRef ds4Group_;
    PSSpecifierRef ds4AmbientColor_;
    PSSpecifierRef ds4ColorChooser_;
    PSSpecifierRef connectSpecifier_;
    // Shared with the exchanges in flight, which hold it weakly: a page that has gone takes no
    // more updates.
    std::shared_ptr<std::atomic<bool>> connected_ = std::make_shared<std::atomic<bool>>(false);
    std::chrono::milliseconds statusTimeout_ = NBRStatusQueryTimeout;
    std::chrono::milliseconds connectTimeout_ = NBRConnectTimeout;
    // Exchanges running on the connect button; a rebuilt button stays disabled until they end.
    int exchangesInFlight_ = 0;
    NBRLightColorSender lightColorSender_;
    // A colour picked during a drag, shown on the light bar but not yet in the file.
    std::optional<std::string> unsavedColor_;
    QTimer dragSaveTimer_;
};
