#include "SimulatorScenario.h"

#include <charconv>
#include <fstream>
#include <string_view>
#include <utility>

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

constexpr std::pair<std::string_view, int SimulatorScenario::*> kMillisecondOptions[] = {
    {"--power-on-delay", &SimulatorScenario::powerOnDelayMs},
    {"--command-delay", &SimulatorScenario::commandDelayMs},
    {"--inquiry-unit", &SimulatorScenario::inquiryUnitMs},
    {"--page-timeout", &SimulatorScenario::pageTimeoutMs},
    {"--pairing-timeout", &SimulatorScenario::pairingTimeoutMs},
};

constexpr std::pair<std::string_view, bool SimulatorScenario::*> kSwitchOptions[] = {
    {"--power-on-fails", &SimulatorScenario::powerOnFails},
    {"--group-responses", &SimulatorScenario::groupResponses},
    {"--log-events", &SimulatorScenario::logEvents},
};

// Walks the options in order; a scenario file's options are read where the file is named.
class ScenarioReader {
public:
    ScenarioReader(std::vector<std::string> args, std::string &error)
        : args_(std::move(args)), error_(error) {}

    std::optional<SimulatorScenario> read() {
        for (i_ = 0; i_ < args_.size(); ++i_) {
            // A copy: a scenario file's options go into the list being walked.
            const std::string option = args_[i_];
            if (!apply(option))
                return std::nullopt;
        }
        return scenario_;
    }

private:
    using ValueHandler = bool (ScenarioReader::*)(const std::string &option,
                                                  const std::string &text);

    bool apply(const std::string &option) {
        static constexpr std::pair<std::string_view, ValueHandler> kValueOptions[] = {
            {"--device", &ScenarioReader::device},
            {"--scenario", &ScenarioReader::include},
            {"--address", &ScenarioReader::localAddress},
            {"--system-bluetooth-enabled", &ScenarioReader::systemBluetoothEnabled},
        };
        for (const auto &[name, field] : kMillisecondOptions)
            if (option == name)
                return milliseconds(option, scenario_.*field);
        for (const auto &[name, field] : kSwitchOptions)
            if (option == name) {
                scenario_.*field = true;
                return true;
            }
        for (const auto &[name, handler] : kValueOptions)
            if (option == name) {
                std::string text;
                return value(option, text) && (this->*handler)(option, text);
            }
        error_ = "unknown option: " + option;
        return false;
    }

    bool value(const std::string &option, std::string &out) {
        if (i_ + 1 >= args_.size()) {
            error_ = option + " needs a value";
            return false;
        }
        out = args_[++i_];
        return true;
    }

    bool milliseconds(const std::string &option, int &out) {
        std::string text;
        if (!value(option, text))
            return false;
        if (!parseNumber<int>(text, out, 0, 600000)) {
            error_ = "bad " + option + ": " + text;
            return false;
        }
        return true;
    }

    bool device(const std::string &, const std::string &text) {
        auto device = parseVirtualDevice(text, error_);
        if (!device)
            return false;
        scenario_.devices.push_back(*device);
        return true;
    }

    bool include(const std::string &, const std::string &path) {
        if (++filesRead_ > 32) {
            error_ = "too many scenario files (does one include itself?)";
            return false;
        }
        std::vector<std::string> more;
        if (!readScenarioFile(path, more, error_))
            return false;
        args_.insert(args_.begin() + static_cast<long>(i_) + 1, more.begin(), more.end());
        return true;
    }

    bool localAddress(const std::string &, const std::string &text) {
        auto address = parseAddress(text);
        if (!address) {
            error_ = "bad address: " + text;
            return false;
        }
        scenario_.localAddress = *address;
        return true;
    }

    bool systemBluetoothEnabled(const std::string &option, const std::string &text) {
        if (!parseBool(text, scenario_.systemBluetoothEnabled)) {
            error_ = "bad " + option + ": " + text;
            return false;
        }
        return true;
    }

    SimulatorScenario scenario_;
    std::vector<std::string> args_;
    std::size_t i_ = 0;
    int filesRead_ = 0;
    std::string &error_;
};

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
    ScenarioReader reader(arguments, error);
    return reader.read();
}

} // namespace platform::btstack
