// nbrctl: drives the control socket the way the settings page does, one operation per run,
// and says what came back.
//   nbrctl query | connect TYPE ADDRESS | color RRGGBB | disconnect TYPE | restart
#include "NBRControlSocket.h"
#include "NBRSupport.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

int usage() {
    std::fprintf(stderr, "usage: nbrctl query | connect TYPE ADDRESS | color RRGGBB | "
                         "disconnect TYPE | restart\n");
    return 2;
}

bool parseAddress(const char *text, std::vector<std::uint8_t> &address) {
    std::string hex;
    for (const char *p = text; *p; ++p)
        if (*p != ':')
            hex += *p;
    if (hex.size() != 12)
        return false;
    for (std::size_t i = 0; i < 12; i += 2)
        address.push_back(
            static_cast<std::uint8_t>(std::strtoul(hex.substr(i, 2).c_str(), nullptr, 16)));
    return true;
}

} // namespace

int main(int argc, char **argv) {
    if (argc < 2)
        return usage();
    const std::string operation = argv[1];
    int fd = NBRConnectToControlSocket();
    if (fd < 0) {
        std::printf("client: the control socket cannot be reached\n");
        return 1;
    }
    int status = 0;
    if (operation == "query") {
        NBRControlSetReceiveTimeout(fd, NBRStatusQueryTimeout);
        auto reply = NBRControlQueryStatus(fd);
        if (reply)
            std::printf("client: status query -> reply, controller type %d: connected\n",
                        reply->controllerType);
        else
            std::printf("client: status query -> no reply: not connected\n");
    } else if (operation == "connect" && argc == 4) {
        std::vector<std::uint8_t> address;
        if (!parseAddress(argv[3], address))
            return usage();
        const int type = std::atoi(argv[2]);
        NBRControlSetReceiveTimeout(fd, NBRConnectTimeout);
        const bool acknowledged = NBRControlConnect(fd, type, address);
        std::printf("client: connect type %d %s -> %s\n", type, argv[3],
                    acknowledged ? "acknowledged" : "not acknowledged (release sent)");
        status = acknowledged ? 0 : 1;
    } else if (operation == "color" && argc == 3) {
        NBRControlSetLightColor(fd, NBRColorPixelForHexString(argv[2]));
        std::printf("client: light-bar colour %06x sent\n", NBRColorPixelForHexString(argv[2]));
    } else if (operation == "disconnect" && argc == 3) {
        NBRControlDisconnect(fd, std::atoi(argv[2]));
        std::printf("client: disconnect and release sent\n");
    } else if (operation == "restart") {
        NBRControlRestart(fd);
        std::printf("client: restart sent\n");
    } else {
        status = usage();
    }
    ::close(fd);
    return status;
}
