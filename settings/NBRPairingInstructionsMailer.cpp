#include "NBRPairingInstructionsMailer.h"

#include "MFMailComposeViewController.h"
#include "NBRConstants.h"
#include "UIAlertView.h"
#include "UIApplication.h"
#include "UIViewController.h"

#include <QFileInfo>
#include <QUrl>

const QString &NBRPairingInstructionsMailer::document() {
    // One paragraph, as mail clients show it best.
    static const QString text = QStringLiteral(
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
        "Settings &gt; General &gt; About &gt; Bluetooth, as its first command-line "
        "parameter.</li>"
        "<li>Disconnect the controller from your computer.</li>"
        "<li>Done!</li></ol>"
        "<a href=\"https://nimbrel.example/pairing/linux\">More in-depth instructions</a></p>");
    return text;
}

void NBRPairingInstructionsMailer::email(UIViewController *presenter,
                                         MFMailComposeViewControllerDelegate *mailDelegate,
                                         UIAlertViewDelegate *alertDelegate) {
    if (!MFMailComposeViewController::canSendMail()) {
        (new UIAlertView("Your E-mail account is not configured",
                         "You are taken to a browser with pairing instructions.", alertDelegate,
                         "Dismiss"))
            ->show();
        return;
    }
    auto *mail = new MFMailComposeViewController;
    mail->setMailComposeDelegate(mailDelegate);
    mail->setMessageBody(document(), true);
    presenter->presentViewController(mail, true);
}

QString NBRPairingInstructionsMailer::webPagePath(const QString &bundlePath) {
    return bundlePath + "/PairingInstructions.html";
}

void NBRPairingInstructionsMailer::openWebPage(const QString &bundlePath) {
    const QFileInfo page(webPagePath(bundlePath));
    if (!page.isFile()) {
        (new UIAlertView("Pairing Instructions",
                         "The pairing instructions are missing: there is no file\n" +
                             page.filePath(),
                         nullptr, "Dismiss"))
            ->show();
        return;
    }
    // The file itself, not a link to it: a path that lasts is what the person is told.
    const QString path = page.canonicalFilePath();
    // Without a browser the person still gets the instructions: the alert says where they are.
    UIApplication::openURL(QUrl::fromLocalFile(path), [path](bool opened) {
        if (!opened)
            (new UIAlertView("Pairing Instructions",
                             "No browser could open the pairing instructions. Open this file "
                             "in one:\n" +
                                 path,
                             nullptr, "Dismiss"))
                ->show();
    });
}
