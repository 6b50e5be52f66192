// The pairing tool's progress message as the settings page receives it: the userInfo decoded
// from the bytes that come off the messaging stand-in, then its state and address read.
// The page's own handler (NimbrelListController::handlePairingMessage) joins this target once
// it is on the main line; until then the readings below are the ones it is specified to make.
#include "CPDistributedMessagingCenter.h"
#include "FuzzCheck.h"
#include "NBRConstants.h"

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

    // What one side sends, the other reads back unchanged.
    const auto bytes =
        platform::plistToBytes(platform::PlistValue(*userInfo), platform::PlistFormat::Binary);
    const auto again = CPDistributedMessagingCenter::userInfoFromBytes(bytes);
    NBR_FUZZ_CHECK(again.has_value());
    return 0;
}
