// The pairing engine's packet handler, fed as the BTstack client feeds it: the daemon's byte
// stream cut into frames. The first byte sets the engine's state, the second the class of the
// device it is pairing with, so every branch of the handler is reachable.
#include "FrameReader.h"
#include "NBRControllerDiscovery.h"

#include <cstdlib>
#include <string>
#include <sys/stat.h>

namespace {
constexpr std::uint32_t kClasses[] = {0x002508, 0x040508, 0x000508, 0x002540, 0x01F000, 0x123456};
}

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    // Found addresses are stored in a preferences file under a device root of its own.
    static std::string root = [] {
        char pattern[] = "/tmp/nbr-fuzz.XXXXXX";
        std::string dir = mkdtemp(pattern);
        std::string path = dir;
        for (const char *part : {"/var", "/mobile", "/Library", "/Preferences"})
            ::mkdir((path += part).c_str(), 0755);
        return dir;
    }();
    ::setenv("NIMBREL_ROOT", root.c_str(), 1);
    ::unsetenv("DBUS_SESSION_BUS_ADDRESS"); // notifications go nowhere
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    static NBRControllerDiscovery &discovery = NBRControllerDiscovery::sharedInstance();
    if (size < 2)
        return 0;
    discovery.setClassOfDevice(kClasses[data[1] % std::size(kClasses)]);
    if (data[0] % 6 == NBRBluetoothStatePairing) {
        // Pairing decisions follow the class the pairing began with.
        static const std::uint8_t kAddress[6] = {0x1C, 0x66, 0x6D, 0x01, 0x02, 0x03};
        discovery.pairToController(kAddress);
    } else {
        discovery.setBluetoothState(data[0] % 6);
    }
    discovery.setAllOpenedChannels({});
    int reports = 0;
    discovery.setUpdateBlock([&](const std::vector<std::uint8_t> *address, std::int32_t) {
        if (address && address->size() != 6)
            std::abort();
        ++reports;
    });

    platform::btstack::FrameReader reader;
    reader.append({data + 2, size - 2});
    while (auto frame = reader.next())
        discovery.packetHandler(static_cast<std::uint8_t>(frame->type), frame->channel,
                                frame->payload.data(),
                                static_cast<std::uint16_t>(frame->payload.size()));
    discovery.setUpdateBlock(nullptr);
    return 0;
}
