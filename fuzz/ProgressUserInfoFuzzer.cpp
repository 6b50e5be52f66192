// The pairing tool's progress message as the settings page receives it: the userInfo decoded
// from the bytes that come off the messaging stand-in, then handed to the page's own handler,
// whose deferred work runs before the next input (alerts it shows are dismissed again).
#include "CPDistributedMessagingCenter.h"
#include "FuzzCheck.h"
#include "NBRConstants.h"
#include "NimbrelListController.h"
#include "UIAlertView.h"

#include <QApplication>
#include <cstdlib>

namespace {
NimbrelListController *page = nullptr;
} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv) {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    new QApplication(*argc, *argv);
    page = new NimbrelListController;
    // Fonts load once, on the first text laid out; loaded here, they are not taken for a leak
    // of the first input that shows an alert.
    auto *warmUp = new UIAlertView("Nimbrel", "Success!", nullptr, "Dismiss");
    warmUp->show();
    QCoreApplication::processEvents();
    warmUp->dismissWithClickedButtonIndex(0, false);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    const auto userInfo = CPDistributedMessagingCenter::userInfoFromBytes({data, size});
    if (size == 0)
        NBR_FUZZ_CHECK(userInfo && userInfo->empty());
    if (!userInfo)
        return 0;
    const auto state = userInfo->find(NBRDiscoveryStateKey);
    if (state != userInfo->end())
        (void)state->second.integerValue();
    const auto address = userInfo->find(NBRBluetoothAddressKey);
    if (address != userInfo->end() && address->second.data())
        (void)address->second.data()->size();

    page->handlePairingMessage(NBRDiscoveryUpdateMessage, *userInfo);
    QCoreApplication::processEvents();
    for (UIAlertView *alert : UIAlertView::visibleAlerts())
        alert->dismissWithClickedButtonIndex(0, false);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);

    // What one side sends, the other reads back unchanged.
    const auto bytes =
        platform::plistToBytes(platform::PlistValue(*userInfo), platform::PlistFormat::Binary);
    const auto again = CPDistributedMessagingCenter::userInfoFromBytes(bytes);
    NBR_FUZZ_CHECK(again.has_value());
    return 0;
}
