// nbrdiscovery: searches for a controller, stores its address, pairs with it and reports every
// step on the messaging center until SIGINT ends it. No arguments, no output, exit status 0;
// --help and --version are answered, anything else is ignored.
#include "CPDistributedMessagingCenter.h"
#include "NBRConstants.h"
#include "NBRControllerDiscovery.h"
#include "ToolOptions.h"
#include "UnixSignalWatcher.h"
#include "btstack.h"
#include "rocketbootstrap.h"

#include <QCoreApplication>
#include <csignal>

namespace {
void silence(QtMsgType, const QMessageLogContext &, const QString &) {}
} // namespace

int main(int argc, char **argv) {
    if (auto status = platform::answerHelpOrVersion(
            argc, argv,
            {"nbrdiscovery",
             "The pairing tool: searches for a controller, stores its address and pairs with it, "
             "reporting each step on the messaging center until SIGINT.",
             "nbrdiscovery\n"}))
        return *status;
    qInstallMessageHandler(silence); // the tool writes nothing, whatever its platform says
    QCoreApplication app(argc, argv);
    NBRControllerDiscovery &discovery = NBRControllerDiscovery::sharedInstance();

    // The shutdown waits for the event loop, so it never cuts into a packet's handling, and
    // runs once below however many signals arrive meanwhile.
    platform::UnixSignalWatcher interrupts({SIGINT, SIGTERM});
    QObject::connect(&interrupts, &platform::UnixSignalWatcher::received,
                     [](int) { QCoreApplication::exit(0); });

    std::shared_ptr<CPDistributedMessagingCenter> center =
        CPDistributedMessagingCenter::centerNamed(NBRMessagingCenterName);
    rocketbootstrap_distributedmessagingcenter_apply(center.get());

    discovery.activateBluetooth();
    discovery.searchPS4ControllerWithUpdateState(
        [center](const std::vector<std::uint8_t> *address, std::int32_t state) {
            center->sendMessageName(
                NBRDiscoveryUpdateMessage,
                {{NBRBluetoothAddressKey, address ? *address : platform::PlistValue::Data{}},
                 {NBRDiscoveryStateKey, static_cast<std::uint32_t>(state)}});
        });
    run_loop_execute();

    discovery.closeBTstack();
    return 0;
}
