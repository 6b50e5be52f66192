#include "SimulatorScenario.h"

#include <charconv>
#include <fstream>

namespace platform::btstack {
namespace {

std::string trim(const std::string &text) {
    auto begin = text.find_first_not_of(" \t\r");
    if (begin == std::string::npos)
        return "";
    auto end = text.find_last_not_of(" \t\r");
    return text.substr(begin, end - begin + 1);
}

// Decimal, or hexadecimal after 0x; a leading minus for negative values.
template <typename T> bool parseNumber(std::string_view text, T &result, T min, T max) {
    bool negative = !text.empty() && text.front() == '-';
    if (negative)
        text.remove_prefix(1);
    int base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        text.remove_prefix(2);
        base = 16;
    }
    long long value = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, base);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size())
        return false;
    if (negative)
        value = -value;
    if (value < static_cast<long long>(min) || value > static_cast<long long>(max))
        return false;
    result = static_cast<T>(value);
    return true;
}

bool parseBool(const std::string &text, bool &result) {
    if (text == "1" || text == "yes" || text == "true")
        result = true;
    else if (text == "0" || text == "no" || text == "false")
        result = false;
    else
        return false;
    return true;
}

bool readScenarioFile(const std::string &path, std::vector<std::string> &args, std::string &error) {
    std::ifstream file(path);
    if (!file) {
        error = "cannot read scenario file " + path;
        return false;
    }
    std::string line;
    while (std::getline(file, line)) {
        line = trim(line.substr(0, line.find('#')));
        if (line.empty())
            continue;
        auto space = line.find_first_of(" \t");
        args.push_back("--" + line.substr(0, space));
        if (space != std::string::npos)
            args.push_back(trim(line.substr(space)));
    }
    return true;
}

} // namespace

std::optional<VirtualDevice> parseVirtualDevice(const std::string &description,
                                                std::string &error) {
    VirtualDevice device;
    bool hasAddress = false;
    bool hasClass = false;
    std::size_t start = 0;
    while (start <= description.size()) {
        auto comma = description.find(',', start);
        std::string item = trim(description.substr(start, comma - start));
        start = comma == std::string::npos ? description.size() + 1 : comma + 1;
        if (item.empty())
            continue;
        auto equals = item.find('=');
        if (equals == std::string::npos) {
            error = "device field without a value: " + item;
            return std::nullopt;
        }
        std::string key = item.substr(0, equals);
        std::string value = item.substr(equals + 1);
        bool ok = true;
        if (key == "address") {
            auto address = parseAddress(value);
            ok = address.has_value();
            if (ok)
                device.address = *address;
            hasAddress = ok;
        } else if (key == "class") {
            ok = parseNumber<std::uint32_t>(value, device.classOfDevice, 0, 0xFFFFFF);
            hasClass = ok;
        } else if (key == "pin") {
            ok = value.size() <= kPinFieldSize;
            device.pin = value;
        } else if (key == "rssi") {
            ok = parseNumber<std::int8_t>(value, device.rssi, -128, 127);
        } else if (key == "name") {
            ok = value.size() < kNameFieldSize;
            device.name = value;
        } else if (key == "delay") {
            ok = parseNumber<int>(value, device.delayMs, 0, 600000);
        } else if (key == "refuse") {
            std::uint16_t psm = 0;
            ok = parseNumber<std::uint16_t>(value, psm, 0, 0xFFFF);
            device.refusedPsms.push_back(psm);
        } else if (key == "inquiries") {
            ok = parseNumber<int>(value, device.inquiries, 0, 1000000);
        } else {
            error = "unknown device field: " + key;
            return std::nullopt;
        }
        if (!ok) {
            error = "bad device " + key + ": " + value;
            return std::nullopt;
        }
    }
    if (!hasAddress || !hasClass) {
        error = "a device needs an address and a class: " + description;
        return std::nullopt;
    }
    return device;
}

std::optional<SimulatorScenario>
SimulatorScenario::fromArguments(const std::vector<std::string> &arguments, std::string &error) {
    SimulatorScenario scenario;
    std::vector<std::string> args = arguments;
    int filesRead = 0;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string option = args[i];
        auto value = [&](std::string &out) {
            if (i + 1 >= args.size()) {
                error = option + " needs a value";
                return false;
            }
            out = args[++i];
            return true;
        };
        auto milliseconds = [&](int &out) {
            std::string text;
            if (!value(text))
                return false;
            if (!parseNumber<int>(text, out, 0, 600000)) {
                error = "bad " + option + ": " + text;
                return false;
            }
            return true;
        };
        std::string text;
        if (option == "--device") {
            if (!value(text))
                return std::nullopt;
            auto device = parseVirtualDevice(text, error);
            if (!device)
                return std::nullopt;
            scenario.devices.push_back(*device);
        } else if (option == "--scenario") {
            if (!value(text))
                return std::nullopt;
            if (++filesRead > 32) {
                error = "too many scenario files (does one include itself?)";
                return std::nullopt;
            }
            std::vector<std::string> more;
            if (!readScenarioFile(text, more, error))
                return std::nullopt;
            args.insert(args.begin() + static_cast<long>(i) + 1, more.begin(), more.end());
        } else if (option == "--address") {
            if (!value(text))
                return std::nullopt;
            auto address = parseAddress(text);
            if (!address) {
                error = "bad address: " + text;
                return std::nullopt;
            }
            scenario.localAddress = *address;
        } else if (option == "--power-on-delay") {
            if (!milliseconds(scenario.powerOnDelayMs))
                return std::nullopt;
        } else if (option == "--power-on-fails") {
            scenario.powerOnFails = true;
        } else if (option == "--system-bluetooth-enabled") {
            if (!value(text))
                return std::nullopt;
            if (!parseBool(text, scenario.systemBluetoothEnabled)) {
                error = "bad " + option + ": " + text;
                return std::nullopt;
            }
        } else if (option == "--command-delay") {
            if (!milliseconds(scenario.commandDelayMs))
                return std::nullopt;
        } else if (option == "--inquiry-unit") {
            if (!milliseconds(scenario.inquiryUnitMs))
                return std::nullopt;
        } else if (option == "--page-timeout") {
            if (!milliseconds(scenario.pageTimeoutMs))
                return std::nullopt;
        } else if (option == "--pairing-timeout") {
            if (!milliseconds(scenario.pairingTimeoutMs))
                return std::nullopt;
        } else if (option == "--group-responses") {
            scenario.groupResponses = true;
        } else if (option == "--log-events") {
            scenario.logEvents = true;
        } else {
            error = "unknown option: " + option;
            return std::nullopt;
        }
    }
    return scenario;
}

} // namespace platform::btstack
