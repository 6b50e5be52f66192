#pragma once

#include "NBRColorPickerControllerDelegate.h"
#include "PSListController.h"

#include <chrono>
#include <memory>
#include <string>

#include "MFMailComposeViewController.h"
#include "NBRControllerConnector.h"
#include "NBRDraggedColorSaver.h"
#include "NBRLightColorSender.h"
#include "NBRPairingFlow.h"
#include "NBRPairingInstructionsMailer.h"
#include "PlistValue.h"
#include "UIAlertView.h"
#include "UIProgressHUD.h"

class CPDistributedMessagingCenter;
class NSTask;

// The main settings page: the page description's cells plus the cells this page inserts and
// removes as the controller type, the connection mode and the ambient switch change. Its other
// jobs have owners of their own, which it hands each action to: the pairing tool's run, the
// e-mailed instructions, the exchanges with the controller daemon, the light-bar colour's
// sends and the saving of a drag's colours.
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
    // to the preferences file at most every `NBRDraggedColorSaver::kInterval`; a colour the user
    // ends on is stored at once.
    void colorPickerDidPickColor(NBRColorPickerController *chooser,
                                 const platform::UIColor &color) override;
    // Writes a colour picked during a drag that is not in the file yet.
    void saveDraggedColor() { colorSaver_.save(); }
    NBRLightColorSender &lightColorSender() { return lightColorSender_; }

    // Pairing: the pair button's action and what it leads to.
    Q_INVOKABLE void pairController();
    void pairPS4Controller() { pairing_.start(view()); }
    // What the pair button does for a hardware keyboard: pushes the keymap editor.
    Q_INVOKABLE void openKeymapEditor();
    void handlePairingMessage(const std::string &,
                              const platform::PlistValue::Dictionary &userInfo) {
        pairing_.handleProgress(userInfo, currentControllerType());
    }
    Q_INVOKABLE void killDiscoveryTask() { pairing_.killTool(); }
    void emailInstructions();
    Q_INVOKABLE void restartDaemons() { NBRControllerConnector::restartDaemons(); }
    // Only the no-mail alert has the page as its delegate.
    void alertViewDidDismissWithButtonIndex(UIAlertView *, int) override;
    void mailComposeControllerDidFinishWithResult(MFMailComposeViewController *,
                                                  MFMailComposeResult, const QString &) override {
        dismissViewControllerAnimated(true);
    }

    // The controller daemon: whether it has the controller, connecting it, its light bar.
    void queryControllerConnected() { connector_.queryConnected(connectSpecifier_->cellObject()); }
    Q_INVOKABLE void connectController(PSSpecifier *specifier);
    // Sends the stored light-bar colour when the controller type is 1, on `socket`, or on a
    // connection of its own when `socket` is -1 (posting the failure notification when none
    // can be made). Never reads a reply and closes only a connection it opened.
    void updateDS4ColorWithSocket(int socket);

    std::shared_ptr<NSTask> discoveryTask() const { return pairing_.task(); }
    CPDistributedMessagingCenter *discoveryMessagingCenter() const {
        return pairing_.messagingCenter();
    }
    UIProgressHUD *hud() const { return pairing_.hud(); }
    PSSpecifierRef ds4Group() const { return ds4Group_; }
    PSSpecifierRef ds4AmbientColor() const { return ds4AmbientColor_; }
    PSSpecifierRef ds4ColorChooser() const { return ds4ColorChooser_; }
    PSSpecifierRef connectSpecifier() const { return connectSpecifier_; }

    // Written by the control-socket work on a background queue, read on the main thread.
    bool controllerConnected() const { return connector_.connected(); }
    void setControllerConnected(bool connected) { connector_.setConnected(connected); }

    // How long the status query and the connect wait for the daemon's reply.
    void setStatusQueryTimeout(std::chrono::milliseconds timeout) {
        connector_.setStatusQueryTimeout(timeout);
    }
    void setConnectTimeout(std::chrono::milliseconds timeout) {
        connector_.setConnectTimeout(timeout);
    }

private:
    PSSpecifierRef storedSpecifier(const QString &name, PSCellType cell, const char *identifier,
                                   const char *key, const QVariant &defaultValue);
    // The rows a controller type and the connection mode bring with them.
    void updateTypeRows(int type);
    void showStoredColor();
    int integerValue(const char *identifier);
    // The stored light-bar colour as text; anything stored that is not text reads as the default.
    std::string storedColorText(PSSpecifier *specifier);
    std::uint32_t storedLightColor();
    void storeColor(const std::string &hex);

    PSSpecifierRef ds4Group_;
    PSSpecifierRef ds4AmbientColor_;
    PSSpecifierRef ds4ColorChooser_;
    PSSpecifierRef connectSpecifier_;
    NBRPairingFlow pairing_;
    NBRControllerConnector connector_;
    NBRLightColorSender lightColorSender_;
    NBRDraggedColorSaver colorSaver_;
};
