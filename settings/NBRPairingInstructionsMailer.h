#pragma once

#include <QString>

class MFMailComposeViewControllerDelegate;
class UIAlertViewDelegate;
class UIViewController;

// The PS3 controller's pairing instructions: e-mailed to the user where the device can send
// mail, else the instructions' page after an alert that says so. The page ships in the bundle's
// resources (PairingInstructions.html, with its pictures).
class NBRPairingInstructionsMailer {
public:
    // Presents the mail composer from `presenter`, or the alert whose dismissal the alert
    // delegate answers with `openWebPage`.
    static void email(UIViewController *presenter,
                      MFMailComposeViewControllerDelegate *mailDelegate,
                      UIAlertViewDelegate *alertDelegate);
    // Opens the page of `bundlePath` in the browser; when nothing can, an alert names the file.
    static void openWebPage(const QString &bundlePath);
    static QString webPagePath(const QString &bundlePath);
    // The mail's body, one HTML paragraph.
    static const QString &document();
};
