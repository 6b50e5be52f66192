// The client library against the simulator, each run as it is used: the simulator as a process
// of its own, the library in this one.
#include "BTstackCodec.h"
#include "ChildProcess.h"
#include "TestDeviceRoot.h"
#include "btstack.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <functional>
#include <gtest/gtest.h>

using namespace platform::btstack;
using platform::testing::ChildProcess;
using platform::testing::TestDeviceRoot;

namespace {

struct Packet {
    std::uint8_t type;
    std::uint16_t channel;
    Bytes bytes;
};
std::vector<Packet> g_packets;

void collect(uint8_t type, uint16_t channel, uint8_t *packet, uint16_t size) {
    g_packets.push_back({type, channel, Bytes(packet, packet + size)});
}

const bd_addr_t kPad = {0x00, 0x11, 0x22, 0x33, 0x44, 0x55};
const char *kPadText = "00:11:22:33:44:55";

class Simulator : public ::testing::Test {
protected:
    static void SetUpTestSuite() { run_loop_init(RUN_LOOP_COCOA); }

    void start(std::vector<std::string> arguments) {
        simulator = std::make_unique<ChildProcess>(SIMULATOR_PATH, std::move(arguments));
        ASSERT_TRUE(simulator->waitForLine("ready"));
        g_packets.clear();
        bt_register_packet_handler(collect);
        ASSERT_EQ(bt_open(), 0);
    }
    void TearDown() override {
        bt_close();
        bt_register_packet_handler(nullptr);
        if (simulator) {
            EXPECT_EQ(simulator->stop(), 0);
        }
    }

    // Runs the event loop until a packet satisfies `match`; its index, or -1 on time-out.
    int waitFor(std::function<bool(const Packet &)> match, int timeoutMs = 5000,
                std::size_t from = 0) {
        QElapsedTimer clock;
        clock.start();
        for (;;) {
            for (std::size_t i = from; i < g_packets.size(); ++i)
                if (match(g_packets[i]))
                    return static_cast<int>(i);
            if (clock.elapsed() > timeoutMs)
                return -1;
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 20);
        }
    }
    int waitForEvent(std::uint8_t code, int timeoutMs = 5000) {
        return waitFor(
            [code](const Packet &p) {
                return p.type == HCI_EVENT_PACKET && !p.bytes.empty() && p.bytes[0] == code;
            },
            timeoutMs);
    }
    void powerOn() {
        ASSERT_EQ(bt_send_cmd(&btstack_set_power_mode, HCI_POWER_ON), 0);
        ASSERT_GE(waitFor([](const Packet &p) {
                      return p.bytes.size() == 3 && p.bytes[0] == BTSTACK_EVENT_STATE &&
                             p.bytes[2] == HCI_STATE_WORKING;
                  }),
                  0);
    }
    const Packet *channelOpened(int timeoutMs = 5000) {
        int i = waitForEvent(L2CAP_EVENT_CHANNEL_OPENED, timeoutMs);
        return i < 0 ? nullptr : &g_packets[static_cast<std::size_t>(i)];
    }

    TestDeviceRoot root;
    std::unique_ptr<ChildProcess> simulator;
};

} // namespace

TEST(BTstackClient, OpenFailsWithoutADaemon) {
    TestDeviceRoot root;
    run_loop_init(RUN_LOOP_COCOA);
    EXPECT_NE(bt_open(), 0);
    EXPECT_NE(bt_send_cmd(&btstack_get_state), 0);
    EXPECT_EQ(bt_close(), 0);
}

TEST_F(Simulator, PowersOnAndFindsDevicesWithTheChosenInquiryMode) {
    start({"--inquiry-unit", "50", "--device",
           std::string("address=") + kPadText + ",class=0x002508,rssi=-40"});
    powerOn();
    ASSERT_EQ(bt_send_cmd(&hci_write_inquiry_mode, 1), 0);
    int complete = waitForEvent(HCI_EVENT_COMMAND_COMPLETE);
    ASSERT_GE(complete, 0);
    // The power-on's own completions come first; find the one for the inquiry mode.
    ASSERT_GE(waitFor([](const Packet &p) {
                  return p.bytes.size() >= 6 && p.bytes[0] == HCI_EVENT_COMMAND_COMPLETE &&
                         readLE16(p.bytes, 3) == hci_write_inquiry_mode.opcode && p.bytes[5] == 0;
              }),
              0);
    ASSERT_EQ(bt_send_cmd(&hci_inquiry, 0x9E8B33, 1, 0), 0);
    int result = waitForEvent(HCI_EVENT_INQUIRY_RESULT_WITH_RSSI);
    ASSERT_GE(result, 0);
    const Bytes &event = g_packets[static_cast<std::size_t>(result)].bytes;
    ASSERT_EQ(event.size(), 17u);
    EXPECT_EQ(event[2], 1);
    EXPECT_EQ(formatAddress(*readAddress(event, 3)), kPadText);
    EXPECT_EQ(readLE24(event, 3 + 8), 0x002508u);
    EXPECT_EQ(static_cast<std::int8_t>(event[3 + 13]), -40);
    EXPECT_GE(waitForEvent(HCI_EVENT_INQUIRY_COMPLETE), result);

    ASSERT_TRUE(simulator->waitForLine("command client=1 btstack_set_power_mode mode=1"));
    EXPECT_TRUE(simulator->waitForLine("command client=1 hci_inquiry lap=0x9e8b33 length=1 "
                                       "responses=0"));
}

// Grouped, the responses due together share one event, its fields grouped as the radio sends
// them; a device answering later still has an event of its own.
TEST_F(Simulator, GroupedResponsesShareOneEventInEitherLayout) {
    start({"--inquiry-unit", "100", "--group-responses", "--device",
           std::string("address=") + kPadText + ",class=0x002508,rssi=-40", "--device",
           "address=AA:BB:CC:DD:EE:01,class=0x1A010C,rssi=-60", "--device",
           "address=AA:BB:CC:DD:EE:02,class=0x000508,delay=30"});
    powerOn();
    for (std::uint8_t mode : {1, 0}) {
        const std::uint8_t code =
            mode == 1 ? HCI_EVENT_INQUIRY_RESULT_WITH_RSSI : HCI_EVENT_INQUIRY_RESULT;
        g_packets.clear();
        ASSERT_EQ(bt_send_cmd(&hci_write_inquiry_mode, mode), 0);
        ASSERT_GE(waitForEvent(HCI_EVENT_COMMAND_COMPLETE), 0);
        ASSERT_EQ(bt_send_cmd(&hci_inquiry, 0x9E8B33, 1, 0), 0);
        ASSERT_GE(waitForEvent(HCI_EVENT_INQUIRY_COMPLETE), 0);
        std::vector<Bytes> results;
        for (const Packet &p : g_packets)
            if (!p.bytes.empty() && p.bytes[0] == code)
                results.push_back(p.bytes);
        ASSERT_EQ(results.size(), 2u) << "mode " << int(mode);
        const Bytes &both = results[0];
        ASSERT_EQ(both.size(), 3u + 14 * 2);
        EXPECT_EQ(both[2], 2);
        EXPECT_EQ(formatAddress(*readAddress(both, 3)), kPadText);
        EXPECT_EQ(formatAddress(*readAddress(both, 9)), "AA:BB:CC:DD:EE:01");
        const std::size_t classes = mode == 1 ? 3 + 8 * 2 : 3 + 9 * 2;
        EXPECT_EQ(readLE24(both, classes), 0x002508u);
        EXPECT_EQ(readLE24(both, classes + 3), 0x1A010Cu);
        if (mode == 1) {
            EXPECT_EQ(static_cast<std::int8_t>(both[3 + 13 * 2]), -40);
            EXPECT_EQ(static_cast<std::int8_t>(both[3 + 13 * 2 + 1]), -60);
        }
        EXPECT_EQ(results[1][2], 1);
        EXPECT_EQ(formatAddress(*readAddress(results[1], 3)), "AA:BB:CC:DD:EE:02");
    }
}

TEST_F(Simulator, PairsWithPinAndOpensChannelsWithCredits) {
    start({"--device", std::string("address=") + kPadText + ",class=0x002508,pin=5820"});
    powerOn();
    bt_send_cmd(&hci_write_authentication_enable, 1);
    bt_send_cmd(&l2cap_create_channel_mtu, kPad, 0x11, 250);
    ASSERT_GE(waitForEvent(HCI_EVENT_LINK_KEY_REQUEST), 0);
    bt_send_cmd(&hci_link_key_request_negative_reply, kPad);
    int request = waitForEvent(HCI_EVENT_PIN_CODE_REQUEST);
    ASSERT_GE(request, 0);
    EXPECT_EQ(formatAddress(*readAddress(g_packets[static_cast<std::size_t>(request)].bytes, 2)),
              kPadText);
    bt_send_cmd(&hci_pin_code_request_reply, kPad, 4, "5820");

    const Packet *opened = channelOpened();
    ASSERT_NE(opened, nullptr);
    ASSERT_EQ(opened->bytes.size(), 21u);
    EXPECT_EQ(opened->bytes[2], 0);
    EXPECT_EQ(readLE16(opened->bytes, 11), 0x11u);
    const std::uint16_t cid = *readLE16(opened->bytes, 13);
    EXPECT_EQ(cid, 0x0040u);
    EXPECT_EQ(opened->channel, cid); // per-channel events travel on their channel
    EXPECT_NE(readLE16(opened->bytes, 9), 0u);
    int credits = waitForEvent(L2CAP_EVENT_CREDITS);
    ASSERT_GE(credits, 0);
    EXPECT_EQ(g_packets[static_cast<std::size_t>(credits)].bytes,
              (Bytes{0x74, 0x03, 0x40, 0x00, 0x01}));
    EXPECT_GE(waitForEvent(HCI_EVENT_LINK_KEY_NOTIFICATION), 0);

    std::uint8_t report[] = {0x52, 0x11};
    ASSERT_EQ(bt_send_l2cap(cid, report, sizeof report), 0);
    EXPECT_TRUE(simulator->waitForLine("l2cap-data client=1 cid=0x0040 length=2"));
    bt_send_cmd(&l2cap_disconnect, cid, 0);
    EXPECT_GE(waitForEvent(L2CAP_EVENT_CHANNEL_CLOSED), 0);
}

TEST_F(Simulator, EachFailureModeFailsTheChannel) {
    start({"--pairing-timeout", "100", "--page-timeout", "50", "--device",
           "address=00:00:00:00:00:01,class=0x040508,pin=7391", "--device",
           "address=00:00:00:00:00:02,class=0x000508,refuse=0x13", "--device",
           "address=00:00:00:00:00:03,class=0x002540,inquiries=0", "--device",
           "address=00:00:00:00:00:04,class=0x002508,pin=5820"});
    powerOn();
    auto status = [&](const bd_addr_t address, std::uint16_t psm) -> int {
        g_packets.clear();
        bt_send_cmd(&l2cap_create_channel_mtu, address, psm, 250);
        for (;;) {
            int i = waitFor([](const Packet &p) {
                return !p.bytes.empty() && (p.bytes[0] == L2CAP_EVENT_CHANNEL_OPENED ||
                                            p.bytes[0] == HCI_EVENT_LINK_KEY_REQUEST ||
                                            p.bytes[0] == HCI_EVENT_PIN_CODE_REQUEST);
            });
            if (i < 0)
                return -1;
            Packet p = g_packets[static_cast<std::size_t>(i)];
            g_packets.erase(g_packets.begin() + i);
            if (p.bytes[0] == HCI_EVENT_LINK_KEY_REQUEST)
                bt_send_cmd(&hci_link_key_request_negative_reply, address);
            else if (p.bytes[0] == HCI_EVENT_PIN_CODE_REQUEST && address[5] == 1)
                bt_send_cmd(&hci_pin_code_request_reply, address, 4, "0000"); // wrong PIN
            else if (p.bytes[0] == L2CAP_EVENT_CHANNEL_OPENED)
                return p.bytes[2];
        }
    };
    const bd_addr_t wrongPin = {0, 0, 0, 0, 0, 1};
    const bd_addr_t refusing = {0, 0, 0, 0, 0, 2};
    const bd_addr_t away = {0, 0, 0, 0, 0, 3};
    const bd_addr_t silent = {0, 0, 0, 0, 0, 4};
    EXPECT_EQ(status(wrongPin, 0x11), 0x05);
    EXPECT_EQ(status(refusing, 0x11), 0x00);
    EXPECT_EQ(status(refusing, 0x13), 0x65);
    EXPECT_EQ(status(silent, 0x11), 0x06); // PIN request never answered
    // In range until its first inquiry starts, out of range after.
    bt_send_cmd(&hci_inquiry, 0x9E8B33, 1, 0);
    EXPECT_EQ(status(away, 0x11), 0x04);
    EXPECT_TRUE(simulator->waitForLine("note device 00:00:00:00:00:01 refuses the PIN"));
}

// Every kind of controller command gets the controller's answer, refusals included.
TEST_F(Simulator, EachControllerCommandHasItsAnswer) {
    start({"--page-timeout", "50", "--device",
           std::string("address=") + kPadText + ",class=0x002508,name=Wireless Controller"});
    powerOn();
    g_packets.clear();
    auto answered = [this](const hci_cmd_t &command, std::uint8_t event, std::uint8_t status) {
        const bool complete = event == HCI_EVENT_COMMAND_COMPLETE;
        return waitFor([&](const Packet &p) {
            return p.bytes.size() >= 6 && p.bytes[0] == event &&
                   readLE16(p.bytes, complete ? 3 : 4) == command.opcode &&
                   p.bytes[complete ? 5 : 2] == status;
        });
    };
    const hci_cmd_t readLocalName = {0x0C14, ""}; // not simulated
    const bd_addr_t away = {0x00, 0x00, 0x00, 0x00, 0x00, 0x09};
    bt_send_cmd(&hci_reset);
    bt_send_cmd(&hci_write_scan_enable, 3);
    bt_send_cmd(&hci_write_authentication_enable, 0);
    bt_send_cmd(&hci_write_inquiry_mode, 3);
    bt_send_cmd(&hci_inquiry_cancel);
    bt_send_cmd(&hci_disconnect, 0x0099, 0x13);
    bt_send_cmd(&readLocalName);
    bt_send_cmd(&hci_read_bd_addr);
    EXPECT_GE(answered(hci_reset, HCI_EVENT_COMMAND_COMPLETE, 0x00), 0);
    EXPECT_GE(answered(hci_write_scan_enable, HCI_EVENT_COMMAND_COMPLETE, 0x00), 0);
    EXPECT_GE(answered(hci_write_authentication_enable, HCI_EVENT_COMMAND_COMPLETE, 0x00), 0);
    EXPECT_GE(answered(hci_write_inquiry_mode, HCI_EVENT_COMMAND_COMPLETE, 0x12), 0);
    EXPECT_GE(answered(hci_inquiry_cancel, HCI_EVENT_COMMAND_COMPLETE, 0x0C), 0) << "none runs";
    EXPECT_GE(answered(hci_disconnect, HCI_EVENT_COMMAND_STATUS, 0x02), 0);
    EXPECT_GE(answered(readLocalName, HCI_EVENT_COMMAND_COMPLETE, 0x01), 0);
    const int local = answered(hci_read_bd_addr, HCI_EVENT_COMMAND_COMPLETE, 0x00);
    ASSERT_GE(local, 0);
    EXPECT_EQ(formatAddress(*readAddress(g_packets[std::size_t(local)].bytes, 6)),
              "00:1B:DC:0F:00:01");

    bt_send_cmd(&hci_inquiry, 0x9E8B33, 1, 0);
    bt_send_cmd(&hci_inquiry, 0x9E8B33, 1, 0);
    EXPECT_GE(answered(hci_inquiry, HCI_EVENT_COMMAND_STATUS, 0x0C), 0) << "one runs already";
    bt_send_cmd(&hci_remote_name_request, kPad, 1, 0, 0);
    bt_send_cmd(&hci_remote_name_request, away, 1, 0, 0);
    auto nameFound = [this](const char *address, std::uint8_t status) {
        return waitFor([&](const Packet &p) {
            return p.bytes.size() == 2 + 1 + 6 + kNameFieldSize && p.bytes[0] == 0x07 &&
                   p.bytes[2] == status && formatAddress(*readAddress(p.bytes, 3)) == address;
        });
    };
    const int named = nameFound(kPadText, 0x00);
    ASSERT_GE(named, 0);
    EXPECT_STREQ(reinterpret_cast<const char *>(&g_packets[std::size_t(named)].bytes[9]),
                 "Wireless Controller");
    EXPECT_GE(nameFound("00:00:00:00:00:09", 0x04), 0) << "a page time-out";
}

TEST_F(Simulator, ControllerCommandsWaitForPowerAndTheClientLearnsOfALostDaemon) {
    start({"--power-on-delay", "200"});
    bt_send_cmd(&hci_write_inquiry_mode, 1); // powered off: no answer
    bt_send_cmd(&btstack_set_power_mode, HCI_POWER_ON);
    bt_send_cmd(&hci_write_inquiry_mode, 1); // still initialising: no answer
    ASSERT_GE(waitFor([](const Packet &p) {
                  return p.bytes.size() == 3 && p.bytes[0] == BTSTACK_EVENT_STATE &&
                         p.bytes[2] == HCI_STATE_WORKING;
              }),
              0);
    for (const auto &p : g_packets)
        EXPECT_FALSE(p.bytes.size() >= 5 && p.bytes[0] == HCI_EVENT_COMMAND_COMPLETE &&
                     readLE16(p.bytes, 3) == hci_write_inquiry_mode.opcode);
    EXPECT_TRUE(
        simulator->waitForLine("note controller not working, hci_write_inquiry_mode dropped"));

    EXPECT_EQ(simulator->stop(), 0);
    simulator.reset();
    int closed = waitFor([](const Packet &p) {
        return p.type == DAEMON_EVENT_PACKET && p.bytes == Bytes{DAEMON_EVENT_CONNECTION_CLOSED};
    });
    EXPECT_GE(closed, 0);
    EXPECT_NE(bt_send_cmd(&btstack_get_state), 0);
}

TEST_F(Simulator, RefusesASecondInstanceAndOversizedFrames) {
    start({});
    ChildProcess second(SIMULATOR_PATH, {});
    EXPECT_EQ(second.wait(std::chrono::seconds(5)), 1);
    std::uint8_t huge[kMaxPayloadSize + 1] = {};
    EXPECT_NE(bt_send_l2cap(0x40, huge, sizeof huge), 0); // never sent, the connection stays
    bt_send_cmd(&btstack_get_state);
    EXPECT_GE(waitForEvent(BTSTACK_EVENT_STATE), 0);
}
