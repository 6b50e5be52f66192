#pragma once

#include <QString>

class MFMailComposeViewControllerDelegate;
class UIAlertViewDelegate;
class UIViewController;

// The PS3 controller's pairing instructions: e-mailed to the user where the device can send
// mail, else the instructions' web page after an alert that says so.
class NBRPairingInstructionsMailer {
public:
    // Presents the mail composer from `presenter`, or the alert whose dismissal the alert
    // delegate answers with `openWebPage`.
    static void email(UIViewController *presenter,
                      MFMailComposeViewControllerDelegate *mailDelegate,
                      UIAlertViewDelegate *alertDelegate);
    static void openWebPage();
    // The mail's body, one HTML paragraph.
    static const QString &document();
};
