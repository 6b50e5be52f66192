#pragma once

#include "BTstackCodec.h"

#include <optional>
#include <string>
#include <vector>

namespace platform::btstack {

// A device in range of the simulated controller, with its ways of failing.
struct VirtualDevice {
    Address address{};
    std::uint32_t classOfDevice = 0;
    // Asked for during pairing; empty: the device takes any PIN and asks for none itself.
    std::string pin;
    std::int8_t rssi = -50;
    std::string name;
    // Slow answers: how long its inquiry response and its page take.
    int delayMs = 0;
    // Channels it refuses to open.
    std::vector<std::uint16_t> refusedPsms;
    // It answers this many inquiries, then is out of range (for pages too) once the next
    // inquiry starts. Negative: always in range.
    int inquiries = -1;
};

// What the simulated controller is and has around it: taken from the command line, and from
// scenario files whose lines are "option value" (the option without its dashes, '#' starts a
// comment).
struct SimulatorScenario {
    std::vector<VirtualDevice> devices;
    Address localAddress{0x00, 0x1B, 0xDC, 0x0F, 0x00, 0x01};
    int powerOnDelayMs = 0;
    bool powerOnFails = false;
    bool systemBluetoothEnabled = false;
    int commandDelayMs = 0;       // how long the controller takes to answer a command
    int inquiryUnitMs = 1280;     // one unit of an inquiry's length
    int pageTimeoutMs = 5120;     // a page to a device that is not there
    int pairingTimeoutMs = 10000; // a PIN or link-key request nobody answers
    // Devices whose responses fall due together share one Inquiry Result event, in the order
    // given (as a radio may report them); otherwise each has an event of its own.
    bool groupResponses = false;
    bool logEvents = false;

    // Nothing, with `error` set, for an unknown option or a malformed value.
    static std::optional<SimulatorScenario> fromArguments(const std::vector<std::string> &args,
                                                          std::string &error);
};

// "address=00:11:22:33:44:55,class=0x002508,pin=5820,rssi=-40,name=Wireless Controller,
// delay=100,refuse=0x13,inquiries=2" (address and class are required).
std::optional<VirtualDevice> parseVirtualDevice(const std::string &description, std::string &error);

} // namespace platform::btstack
