// nbrctl: drives the control socket the way the settings page does, one operation per run,
// and says what came back.
//   nbrctl query | connect TYPE ADDRESS | color RRGGBB | disconnect TYPE | restart
#include "NBRControlSocket.h"
#include "NBRSupport.h"
#include "ToolOptions.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

const platform::ToolDescription kTool{
    "nbrctl",
    "Sends one request to the controller daemon's control socket, as the settings page does, "
    "and prints the answer.",
    "nbrctl query | connect TYPE ADDRESS | color RRGGBB | disconnect TYPE | restart\n",
    "  query               is a controller connected, and of which type\n"
    "  connect TYPE ADDR   connect the controller of TYPE at ADDR (AA:BB:CC:DD:EE:FF)\n"
    "  color RRGGBB        the DualShock 4's light-bar colour, six hexadecimal digits\n"
    "  disconnect TYPE     disconnect the controller of TYPE\n"
    "  restart             restart the controller daemon\n"
    "\n"
    "TYPE is the page's \"Controller Type\":\n"
    "  0  PS3 Controller\n"
    "  1  PS4 Controller (DualShock 4)\n"
    "  2  SYNC Button Controller\n"
    "  3  X + HOME Controller\n"
    "  4  X + HOME Controller (Second Kind)\n"
    "  5  X + HOME Controller (Basic Buttons)\n"
    "  6  Hardware Keyboard\n"
    "\n"
    "The socket is \"/tmp/nbrcontrol.sock\" under NIMBREL_ROOT. Exit status: 0 done, 1 the "
    "daemon could not be reached or refused, 2 a usage error.\n"};

bool isHex(const std::string &text) {
    for (char c : text)
        if (!std::isxdigit(static_cast<unsigned char>(c)))
            return false;
    return true;
}

std::optional<std::vector<std::uint8_t>> parseAddress(std::string text) {
    std::erase(text, ':');
    if (text.size() != 12 || !isHex(text))
        return std::nullopt;
    std::vector<std::uint8_t> address;
    for (std::size_t i = 0; i < 12; i += 2)
        address.push_back(
            static_cast<std::uint8_t>(std::strtoul(text.substr(i, 2).c_str(), nullptr, 16)));
    return address;
}

std::optional<int> parseType(const std::string &text) {
    if (text.size() != 1 || text[0] < '0' || text[0] > '6')
        return std::nullopt;
    return text[0] - '0';
}

// What one run asks, checked in full before the socket is touched.
struct Request {
    std::string operation;
    int type = 0;
    std::vector<std::uint8_t> address;
    std::string color;
};

std::optional<Request> parseRequest(int argc, char **argv, std::string &problem) {
    if (argc < 2) {
        problem = "no operation";
        return std::nullopt;
    }
    Request request;
    request.operation = argv[1];
    const std::vector<std::string> rest(argv + 2, argv + argc);
    const auto arity = [&](std::size_t count) {
        if (rest.size() != count)
            problem = request.operation + " takes " + std::to_string(count) + " argument(s)";
        return rest.size() == count;
    };
    const auto type = [&](const std::string &text) {
        auto value = parseType(text);
        if (!value)
            problem = "TYPE is 0 to 6, not \"" + text + "\"";
        request.type = value.value_or(0);
        return value.has_value();
    };
    if (request.operation == "query" || request.operation == "restart")
        return arity(0) ? std::optional(request) : std::nullopt;
    if (request.operation == "connect") {
        if (!arity(2) || !type(rest[0]))
            return std::nullopt;
        auto address = parseAddress(rest[1]);
        if (!address) {
            problem =
                "ADDRESS is six hexadecimal bytes (AA:BB:CC:DD:EE:FF), not \"" + rest[1] + "\"";
            return std::nullopt;
        }
        request.address = *address;
        return request;
    }
    if (request.operation == "color") {
        if (!arity(1))
            return std::nullopt;
        if (rest[0].size() != 6 || !isHex(rest[0])) {
            problem = "RRGGBB is six hexadecimal digits, not \"" + rest[0] + "\"";
            return std::nullopt;
        }
        request.color = rest[0];
        return request;
    }
    if (request.operation == "disconnect")
        return arity(1) && type(rest[0]) ? std::optional(request) : std::nullopt;
    problem = (request.operation.starts_with("-") ? "unknown option " : "unknown operation ") +
              request.operation;
    return std::nullopt;
}

} // namespace

int main(int argc, char **argv) {
    if (auto status = platform::answerHelpOrVersion(argc, argv, kTool))
        return *status;
    std::string problem;
    const std::optional<Request> request = parseRequest(argc, argv, problem);
    if (!request)
        return platform::usageError(kTool, problem);
    int fd = NBRConnectToControlSocket();
    if (fd < 0) {
        std::printf("client: the control socket cannot be reached\n");
        return 1;
    }
    int status = 0;
    const std::string &operation = request->operation;
    if (operation == "query") {
        NBRControlSetReceiveTimeout(fd, NBRStatusQueryTimeout);
        auto reply = NBRControlQueryStatus(fd);
        if (reply)
            std::printf("client: status query -> reply, controller type %d: connected\n",
                        reply->controllerType);
        else
            std::printf("client: status query -> no reply: not connected\n");
    } else if (operation == "connect") {
        NBRControlSetReceiveTimeout(fd, NBRConnectTimeout);
        const bool acknowledged = NBRControlConnect(fd, request->type, request->address);
        std::printf("client: connect type %d %s -> %s\n", request->type, argv[3],
                    acknowledged ? "acknowledged" : "not acknowledged (release sent)");
        status = acknowledged ? 0 : 1;
    } else if (operation == "color") {
        const std::uint32_t pixel = NBRColorPixelForHexString(request->color.c_str());
        NBRControlSetLightColor(fd, pixel);
        std::printf("client: light-bar colour %06x sent\n", pixel);
    } else if (operation == "disconnect") {
        NBRControlDisconnect(fd, request->type);
        std::printf("client: disconnect and release sent\n");
    } else if (operation == "restart") {
        NBRControlRestart(fd);
        std::printf("client: restart sent\n");
    }
    ::close(fd);
    return status;
}
