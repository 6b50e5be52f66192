// The engine driven with packets, as the daemon would send them, against a daemon socket that
// records every command.
#include "DarwinNotifyCenter.h"
#include "FakeDaemon.h"
#include "NBRConstants.h"
#include "NBRControllerDiscovery.h"
#include "PlistValue.h"
#include "TestDeviceRoot.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <fstream>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

using namespace platform::btstack;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::IsEmpty;

namespace {

using Report = std::pair<std::int32_t, Bytes>; // state, address (empty when none)

const Address kPad{0x1C, 0x66, 0x6D, 0x01, 0x02, 0x03};
const Bytes kPadBytes(kPad.begin(), kPad.end());
const Address kOther{0xA0, 0xB1, 0xC2, 0xD3, 0xE4, 0xF5};
const std::string kPadText = "1C:66:6D:01:02:03";

Bytes commandComplete(std::uint16_t opcode) {
    Bytes p{1};
    appendLE16(p, opcode);
    p.push_back(0);
    return makeEvent(HCI_EVENT_COMMAND_COMPLETE, p);
}

Bytes inquiryResult(std::uint8_t code, const std::vector<std::pair<Address, std::uint32_t>> &rs) {
    const std::size_t n = rs.size();
    Bytes p{static_cast<std::uint8_t>(n)};
    for (const auto &r : rs)
        appendAddress(p, r.first);
    for (std::size_t i = 0; i < n; ++i)
        p.insert(p.end(), code == HCI_EVENT_INQUIRY_RESULT ? 3 : 2, 0); // scan mode, reserved
    for (const auto &r : rs)
        appendLE24(p, r.second);
    for (std::size_t i = 0; i < n; ++i)
        appendLE16(p, 0x1234); // clock offset
    if (code == HCI_EVENT_INQUIRY_RESULT_WITH_RSSI)
        p.insert(p.end(), n, 0xD8);
    return makeEvent(code, p);
}

Bytes addressEvent(std::uint8_t code, const Address &address) {
    Bytes p;
    appendAddress(p, address);
    return makeEvent(code, p);
}

Bytes channelOpened(std::uint8_t status, std::uint16_t handle, std::uint16_t psm,
                    std::uint16_t local, std::uint16_t remote) {
    Bytes p{status};
    appendAddress(p, kPad);
    appendLE16(p, handle);
    appendLE16(p, psm);
    appendLE16(p, local);
    appendLE16(p, remote);
    appendLE16(p, 250);
    appendLE16(p, 48);
    return makeEvent(L2CAP_EVENT_CHANNEL_OPENED, p);
}

Bytes credits(std::uint16_t cid) {
    Bytes p;
    appendLE16(p, cid);
    p.push_back(1);
    return makeEvent(L2CAP_EVENT_CREDITS, p);
}

std::string create(std::uint16_t psm) {
    char text[96];
    std::snprintf(text, sizeof text, "l2cap_create_channel_mtu address=%s psm=0x%04x mtu=0x00fa",
                  kPadText.c_str(), psm);
    return text;
}
const std::string kWriteInquiryMode = "hci_write_inquiry_mode mode=1";
const std::string kInquiry = "hci_inquiry lap=0x9e8b33 length=1 responses=0";
const std::string kCancel = "hci_inquiry_cancel";
const std::string kRegisterControl = "l2cap_register_service psm=0x0011 mtu=0x00fa";
const std::string kRegisterInterrupt = "l2cap_register_service psm=0x0013 mtu=0x00fa";
const std::string kLinkKeyRefusal = "hci_link_key_request_negative_reply address=" + kPadText;
std::string authentication(int enable) {
    return "hci_write_authentication_enable enable=" + std::to_string(enable);
}
// What the engine sends once it has chosen a controller to pair with.
std::vector<std::string> pairingBegins(int authenticationEnable) {
    return {kCancel, kRegisterControl, kRegisterInterrupt, authentication(authenticationEnable)};
}
std::string pinReply(const char *pin) {
    return "hci_pin_code_request_reply address=" + kPadText + " pin_length=4 pin=" + pin;
}

class Engine : public ::testing::Test {
protected:
    static void SetUpTestSuite() { run_loop_init(RUN_LOOP_COCOA); }

    void SetUp() override {
        engine = std::make_unique<NBRControllerDiscovery>();
        engine->setShutdownWait(std::chrono::milliseconds(0));
    }
    void TearDown() override { bt_close(); }

    void feed(const Bytes &packet) {
        Bytes copy = packet;
        engine->packetHandler(HCI_EVENT_PACKET, 0, copy.data(),
                              static_cast<std::uint16_t>(copy.size()));
    }
    // Opens, powers on and starts the search, up to the first running inquiry.
    void startSearch() {
        ASSERT_TRUE(engine->activateBluetooth());
        engine->searchPS4ControllerWithUpdateState(
            [this](const std::vector<std::uint8_t> *address, std::int32_t state) {
                reports.emplace_back(state, address ? *address : Bytes{});
            });
        feed(commandComplete(hci_write_inquiry_mode.opcode));
        daemon.commands();
        reports.clear();
    }
    std::optional<platform::PlistValue::Dictionary> preferences() {
        return platform::readPlistDictionary(root.path(NBRPreferencesPath));
    }
    Bytes storedAddress() {
        auto prefs = preferences();
        if (!prefs || !prefs->count(NBRBluetoothAddressKey))
            return {};
        return *prefs->at(NBRBluetoothAddressKey).data();
    }

    platform::testing::TestDeviceRoot root;
    FakeDaemon daemon;
    std::unique_ptr<NBRControllerDiscovery> engine;
    std::vector<Report> reports;
};

} // namespace

TEST_F(Engine, StartsTheSearchAndEachCompletedSetUpStartsAnInquiry) {
    ASSERT_TRUE(engine->activateBluetooth());
    EXPECT_EQ(engine->bluetoothState(), NBRBluetoothStateReady);
    EXPECT_THAT(daemon.commands(), ElementsAre("btstack_set_power_mode mode=1",
                                               "btstack_get_system_bluetooth_enabled"));
    engine->searchPS4ControllerWithUpdateState(
        [this](const std::vector<std::uint8_t> *address, std::int32_t state) {
            reports.emplace_back(state, address ? *address : Bytes{});
        });
    EXPECT_EQ(engine->bluetoothState(), NBRBluetoothStateSearchRequested);
    EXPECT_THAT(daemon.commands(), ElementsAre(kWriteInquiryMode));
    EXPECT_THAT(reports, ElementsAre(Report{NBRDiscoveryProgressSearchStarted, {}}));

    feed(commandComplete(hci_reset.opcode)); // someone else's completion
    EXPECT_THAT(daemon.commands(), IsEmpty());
    for (int round = 0; round < 2; ++round) {
        feed(commandComplete(hci_write_inquiry_mode.opcode));
        EXPECT_EQ(engine->bluetoothState(), NBRBluetoothStateInquiring);
        EXPECT_THAT(daemon.commands(), ElementsAre(kInquiry));
    }
    EXPECT_THAT(reports, ElementsAre(Report{NBRDiscoveryProgressSearchStarted, {}},
                                     Report{NBRDiscoveryProgressSearching, {}},
                                     Report{NBRDiscoveryProgressSearching, {}}));
    // A second search request is not in the ready state.
    engine->searchPS4ControllerWithUpdateState(engine->updateBlock());
    EXPECT_EQ(reports.back().first, NBRDiscoveryProgressBluetoothInactive);
}

TEST(EngineWithoutDaemon, ReportsBluetoothInactiveAloneAndShutsDownSilently) {
    platform::testing::TestDeviceRoot root;
    NBRControllerDiscovery engine;
    std::vector<std::int32_t> states;
    EXPECT_FALSE(engine.activateBluetooth());
    EXPECT_EQ(engine.bluetoothState(), NBRBluetoothStateClosed);
    engine.searchPS4ControllerWithUpdateState(
        [&](const std::vector<std::uint8_t> *address, std::int32_t state) {
            EXPECT_EQ(address, nullptr);
            states.push_back(state);
        });
    engine.closeBTstack();
    EXPECT_THAT(states, ElementsAre(NBRDiscoveryProgressBluetoothInactive));
    EXPECT_EQ(engine.bluetoothState(), NBRBluetoothStateClosed);
}

struct ClassCase {
    std::uint32_t classOfDevice;
    int authentication;
    const char *pin;                  // reply to a PIN request, or none
    std::vector<std::uint16_t> first; // channels created on the authentication's completion
    int paired;                       // state-2 reports after every channel opened
};

class EngineClass : public Engine, public ::testing::WithParamInterface<ClassCase> {};

TEST_P(EngineClass, PairsAsItsClassSays) {
    const ClassCase &c = GetParam();
    startSearch();
    feed(inquiryResult(HCI_EVENT_INQUIRY_RESULT_WITH_RSSI, {{kPad, c.classOfDevice}}));
    EXPECT_EQ(engine->bluetoothState(), NBRBluetoothStatePairing);
    EXPECT_THAT(daemon.commands(), ElementsAreArray(pairingBegins(c.authentication)));
    EXPECT_THAT(reports, ElementsAre(Report{NBRDiscoveryProgressSearchEnded, {}}));
    EXPECT_EQ(storedAddress(), kPadBytes);

    feed(commandComplete(hci_write_authentication_enable.opcode));
    std::vector<std::string> channels;
    for (auto psm : c.first)
        channels.push_back(create(psm));
    EXPECT_EQ(daemon.commands(), channels);

    feed(addressEvent(HCI_EVENT_LINK_KEY_REQUEST, kPad));
    feed(addressEvent(HCI_EVENT_PIN_CODE_REQUEST, kPad));
    std::vector<std::string> security{kLinkKeyRefusal};
    if (c.pin)
        security.push_back(pinReply(c.pin));
    EXPECT_EQ(daemon.commands(), security);

    reports.clear();
    feed(channelOpened(0, 0x000B, 0x11, 0x0040, 0x0041));
    feed(credits(0x0040));
    if (c.classOfDevice == 0x000508) {
        EXPECT_THAT(reports, IsEmpty());
        EXPECT_THAT(daemon.commands(), ElementsAre(create(0x13)));
    }
    if (c.paired == 2 || c.classOfDevice == 0x000508)
        feed(channelOpened(0, 0x000B, 0x13, 0x0042, 0x0043));
    const Report paired{NBRDiscoveryProgressPaired, kPadBytes};
    EXPECT_EQ(reports, std::vector<Report>(c.paired, paired));
    EXPECT_EQ(storedAddress(), paired.second); // what is stored is what is reported
    EXPECT_THAT(daemon.commands(), IsEmpty());
    // Credits are noted, never answered with data.
    EXPECT_THAT(daemon.otherFrames(), IsEmpty());
}

INSTANTIATE_TEST_SUITE_P(Classes, EngineClass,
                         ::testing::Values(ClassCase{0x002508, 1, "5820", {0x11, 0x13}, 2},
                                           ClassCase{0x040508, 1, "7391", {0x11}, 1},
                                           ClassCase{0x000508, 0, nullptr, {0x11}, 1},
                                           ClassCase{0x002540, 0, nullptr, {0x11}, 1},
                                           ClassCase{0x01F000, 0, nullptr, {0x11}, 1}),
                         [](const auto &info) {
                             char name[16];
                             std::snprintf(name, sizeof name, "Class%06X",
                                           info.param.classOfDevice);
                             return std::string(name);
                         });

TEST_F(Engine, OtherClassesAndEmptyResultsAreIgnored) {
    startSearch();
    feed(inquiryResult(HCI_EVENT_INQUIRY_RESULT_WITH_RSSI, {{kPad, 0x002509}}));
    feed(inquiryResult(HCI_EVENT_INQUIRY_RESULT, {{kPad, 0x012508}}));
    feed(inquiryResult(HCI_EVENT_INQUIRY_RESULT, {}));
    EXPECT_THAT(daemon.commands(), IsEmpty());
    EXPECT_THAT(reports, IsEmpty());
    EXPECT_EQ(engine->classOfDevice(), 0x012508u);
    EXPECT_EQ(engine->bluetoothState(), NBRBluetoothStateInquiring);
    EXPECT_FALSE(preferences().has_value());
}

TEST_F(Engine, PlainInquiryResultsAreReadWithTheirOwnLayout) {
    startSearch();
    feed(inquiryResult(HCI_EVENT_INQUIRY_RESULT, {{kOther, 0x000100}, {kPad, 0x002540}}));
    EXPECT_EQ(storedAddress(), kPadBytes);
    EXPECT_THAT(daemon.commands(), ElementsAreArray(pairingBegins(0)));
}

// A response that is not a controller, after the accepted one in the same event, still becomes
// the class examined last, but the pairing's PIN and channels follow the paired device's class.
TEST_F(Engine, AcceptedThenOtherResponseInOneEventPairsByTheAcceptedClass) {
    startSearch();
    feed(inquiryResult(HCI_EVENT_INQUIRY_RESULT_WITH_RSSI, {{kPad, 0x002508}, {kOther, 0x1A010C}}));
    EXPECT_EQ(storedAddress(), kPadBytes);
    EXPECT_THAT(daemon.commands(), ElementsAreArray(pairingBegins(1)));
    EXPECT_EQ(engine->classOfDevice(), 0x1A010Cu);
    feed(commandComplete(hci_write_authentication_enable.opcode));
    feed(addressEvent(HCI_EVENT_PIN_CODE_REQUEST, kPad));
    EXPECT_THAT(daemon.commands(), ElementsAre(create(0x11), create(0x13), pinReply("5820")));
}

// The two-step class likewise: its interrupt channel follows the control channel, and only that
// channel's opening is reported.
TEST_F(Engine, TwoStepClassThenOtherResponseInOneEventOpensTheInterruptChannel) {
    startSearch();
    feed(inquiryResult(HCI_EVENT_INQUIRY_RESULT, {{kPad, 0x000508}, {kOther, 0x002509}}));
    EXPECT_EQ(engine->classOfDevice(), 0x002509u);
    feed(commandComplete(hci_write_authentication_enable.opcode));
    daemon.commands();
    reports.clear();
    feed(channelOpened(0, 0x000B, 0x11, 0x0040, 0x0041));
    EXPECT_THAT(reports, IsEmpty());
    EXPECT_THAT(daemon.commands(), ElementsAre(create(0x13)));
    feed(channelOpened(0, 0x000B, 0x13, 0x0042, 0x0043));
    EXPECT_THAT(reports, ElementsAre(Report{NBRDiscoveryProgressPaired, kPadBytes}));
}

TEST_F(Engine, TwoAcceptedResponsesInOneEventPairWithTheSecond) {
    startSearch();
    feed(inquiryResult(HCI_EVENT_INQUIRY_RESULT_WITH_RSSI, {{kOther, 0x040508}, {kPad, 0x000508}}));
    EXPECT_EQ(storedAddress(), kPadBytes);
    EXPECT_THAT(daemon.commands(),
                ElementsAre(kCancel, kRegisterControl, kRegisterInterrupt, authentication(1),
                            kCancel, kRegisterControl, kRegisterInterrupt, authentication(0)));
    EXPECT_THAT(reports, ElementsAre(Report{NBRDiscoveryProgressSearchEnded, {}},
                                     Report{NBRDiscoveryProgressSearchEnded, {}}));
    feed(commandComplete(hci_write_authentication_enable.opcode));
    EXPECT_THAT(daemon.commands(), ElementsAre(create(0x11))); // to the second address
}

TEST_F(Engine, LateInquiryModeCompletionDropsThePairing) {
    startSearch();
    feed(inquiryResult(HCI_EVENT_INQUIRY_RESULT_WITH_RSSI, {{kPad, 0x002508}}));
    daemon.commands();
    reports.clear();
    feed(commandComplete(hci_write_inquiry_mode.opcode));
    EXPECT_EQ(engine->bluetoothState(), NBRBluetoothStateInquiring);
    EXPECT_THAT(daemon.commands(), ElementsAre(kInquiry));
    EXPECT_THAT(reports, ElementsAre(Report{NBRDiscoveryProgressSearching, {}}));
    feed(commandComplete(hci_write_authentication_enable.opcode));
    feed(addressEvent(HCI_EVENT_PIN_CODE_REQUEST, kPad));
    feed(channelOpened(0, 0x000B, 0x11, 0x0040, 0x0041));
    EXPECT_THAT(daemon.commands(), IsEmpty());
    EXPECT_THAT(reports, ElementsAre(Report{NBRDiscoveryProgressSearching, {}}));
}

TEST_F(Engine, CloseBeforeAnyChannelAndASecondClose) {
    startSearch();
    engine->closeBTstack();
    EXPECT_THAT(daemon.commands(), ElementsAre(kCancel, "l2cap_unregister_service psm=0x0011",
                                               "l2cap_unregister_service psm=0x0013",
                                               "hci_disconnect handle=0x0000 reason=19",
                                               "btstack_set_power_mode mode=0"));
    EXPECT_THAT(reports, ElementsAre(Report{NBRDiscoveryProgressSearchEnded, {}}));
    EXPECT_EQ(engine->bluetoothState(), NBRBluetoothStateClosed);
    engine->closeBTstack();
    EXPECT_THAT(daemon.commands(), IsEmpty());
    EXPECT_EQ(reports.size(), 1u);
    EXPECT_NE(bt_send_cmd(&btstack_get_state), 0); // the connection is gone
}

TEST_F(Engine, CloseDisconnectsLinkAndEveryRecordedChannel) {
    startSearch();
    feed(inquiryResult(HCI_EVENT_INQUIRY_RESULT_WITH_RSSI, {{kPad, 0x002508}}));
    feed(channelOpened(0, 0x000B, 0x11, 0x0040, 0x0050));
    feed(channelOpened(0x65, 0x000C, 0x13, 0x0041, 0x0051)); // refused: handle kept, ids not
    EXPECT_THAT(engine->allOpenedChannels(), ElementsAre(0x0040, 0x0050));
    daemon.commands();
    engine->closeBTstack();
    EXPECT_THAT(daemon.commands(), ElementsAre(kCancel, "l2cap_unregister_service psm=0x0011",
                                               "l2cap_unregister_service psm=0x0013",
                                               "hci_disconnect handle=0x000c reason=19",
                                               "l2cap_disconnect cid=0x0040 reason=1",
                                               "l2cap_disconnect cid=0x0050 reason=1",
                                               "btstack_set_power_mode mode=0"));
}

namespace {

// A packet placed right before an unreadable page: reading one byte past its end crashes.
class GuardedPacket {
public:
    explicit GuardedPacket(const Bytes &bytes) {
        page_ = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
        base_ = static_cast<std::uint8_t *>(
            ::mmap(nullptr, 2 * page_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
        ::mprotect(base_ + page_, page_, PROT_NONE);
        data_ = base_ + page_ - bytes.size();
        std::copy(bytes.begin(), bytes.end(), data_);
        size_ = static_cast<std::uint16_t>(bytes.size());
    }
    ~GuardedPacket() { ::munmap(base_, 2 * page_); }
    std::uint8_t *data() const { return data_; }
    std::uint16_t size() const { return size_; }

private:
    std::size_t page_;
    std::uint8_t *base_;
    std::uint8_t *data_;
    std::uint16_t size_;
};

Bytes truncated(Bytes bytes, std::size_t size) {
    bytes.resize(size);
    return bytes;
}

} // namespace

TEST_F(Engine, ShortPacketsAreIgnoredNeverOverread) {
    startSearch();
    auto feedGuarded = [&](const Bytes &bytes) {
        GuardedPacket packet(bytes);
        engine->packetHandler(HCI_EVENT_PACKET, 0, packet.data(), packet.size());
    };
    const Bytes result = inquiryResult(HCI_EVENT_INQUIRY_RESULT_WITH_RSSI, {{kPad, 0x002508}});
    feedGuarded(Bytes{HCI_EVENT_COMMAND_COMPLETE, 3, 1, 0x45});
    for (std::size_t size : {1u, 2u, 3u, 9u, 16u})
        feedGuarded(truncated(result, size));
    // A count of two with one response's bytes.
    Bytes overlong = result;
    overlong[2] = 2;
    feedGuarded(overlong);
    Bytes plain = inquiryResult(HCI_EVENT_INQUIRY_RESULT, {{kPad, 0x002508}});
    plain[2] = 200;
    feedGuarded(plain);
    EXPECT_THAT(daemon.commands(), IsEmpty());
    EXPECT_FALSE(preferences().has_value());

    feedGuarded(result); // the whole event still works when guarded
    EXPECT_EQ(engine->bluetoothState(), NBRBluetoothStatePairing);
    daemon.commands();
    reports.clear();
    feedGuarded(Bytes{HCI_EVENT_COMMAND_COMPLETE, 3, 1, 0x20});
    feedGuarded(truncated(addressEvent(HCI_EVENT_PIN_CODE_REQUEST, kPad), 7));
    feedGuarded(truncated(addressEvent(HCI_EVENT_LINK_KEY_REQUEST, kPad), 5));
    feedGuarded(truncated(addressEvent(HCI_EVENT_LINK_KEY_REQUEST, kPad), 7));
    feedGuarded(truncated(channelOpened(0, 0x000B, 0x11, 0x0040, 0x0041), 16));
    feedGuarded(Bytes{L2CAP_EVENT_CREDITS, 1, 0x40});
    feedGuarded(Bytes{L2CAP_EVENT_CHANNEL_OPENED});
    EXPECT_THAT(daemon.commands(), IsEmpty());
    EXPECT_THAT(reports, IsEmpty());
    EXPECT_THAT(engine->allOpenedChannels(), IsEmpty());
    // The layout the daemon actually sends, read at the fixed offsets only.
    feedGuarded(truncated(channelOpened(0, 0x000B, 0x11, 0x0040, 0x0041), 17));
    EXPECT_THAT(engine->allOpenedChannels(), ElementsAre(0x0040, 0x0041));
    // Events that end right after the last field read are read in full.
    feedGuarded(Bytes{HCI_EVENT_COMMAND_COMPLETE, 3, 1, 0x20, 0x0C});
    feedGuarded(addressEvent(HCI_EVENT_PIN_CODE_REQUEST, kPad));
    feedGuarded(addressEvent(HCI_EVENT_LINK_KEY_REQUEST, kPad));
    EXPECT_THAT(daemon.commands(),
                ElementsAre(create(0x11), create(0x13), pinReply("5820"), kLinkKeyRefusal));
    feedGuarded(Bytes{HCI_EVENT_COMMAND_COMPLETE, 3, 1, 0x45, 0x0C});
    EXPECT_EQ(engine->bluetoothState(), NBRBluetoothStateInquiring);
    EXPECT_THAT(daemon.commands(), ElementsAre(kInquiry));
}

namespace {
int g_changes = 0;
void countChange(CFNotificationCenterRef, void *, CFNotificationName, const void *, const void *) {
    ++g_changes;
}
} // namespace

TEST_F(Engine, AFreshDeviceGetsAPreferencesFileWithTheAddress) {
    CFNotificationCenterAddObserver(CFNotificationCenterGetDarwinNotifyCenter(), this, countChange,
                                    NBRPreferencesChangedNotification, nullptr,
                                    CFNotificationSuspensionBehaviorDeliverImmediately);
    g_changes = 0;
    startSearch();
    feed(inquiryResult(HCI_EVENT_INQUIRY_RESULT_WITH_RSSI, {{kPad, 0x002508}}));
    auto prefs = preferences();
    ASSERT_TRUE(prefs);
    EXPECT_EQ(*prefs, (platform::PlistValue::Dictionary{{NBRBluetoothAddressKey, kPadBytes}}));
    const std::string text = platform::testing::readFile(root.path(NBRPreferencesPath));
    EXPECT_NE(text.find("<?xml"), std::string::npos);

    QElapsedTimer clock;
    clock.start();
    while (g_changes == 0 && clock.elapsed() < 5000)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 20);
    EXPECT_EQ(g_changes, 1);
    CFNotificationCenterRemoveEveryObserver(CFNotificationCenterGetDarwinNotifyCenter(), this);
}

TEST_F(Engine, TheAddressJoinsWhatTheFileHolds) {
    platform::PlistValue::Dictionary before{{NBRControllerTypeKey, 1},
                                            {NBRLEDColorKey, "ff0000"},
                                            {NBRBluetoothAddressKey, Bytes{1, 2, 3, 4, 5, 6}}};
    ASSERT_TRUE(platform::writePlistAtomically(root.path(NBRPreferencesPath), before,
                                               platform::PlistFormat::Binary));
    startSearch();
    feed(inquiryResult(HCI_EVENT_INQUIRY_RESULT_WITH_RSSI, {{kPad, 0x01F000}}));
    auto after = before;
    after[NBRBluetoothAddressKey] = kPadBytes;
    EXPECT_EQ(preferences(), after);
}

TEST_F(Engine, AnUnreadableFileIsLeftAsItIsAndPairingGoesOn) {
    const std::string garbage = "not a property list";
    std::ofstream(root.path(NBRPreferencesPath)) << garbage;
    startSearch();
    feed(inquiryResult(HCI_EVENT_INQUIRY_RESULT_WITH_RSSI, {{kPad, 0x002540}}));
    EXPECT_EQ(platform::testing::readFile(root.path(NBRPreferencesPath)), garbage);
    EXPECT_EQ(engine->bluetoothState(), NBRBluetoothStatePairing);
    EXPECT_THAT(reports, ElementsAre(Report{NBRDiscoveryProgressSearchEnded, {}}));
}

TEST_F(Engine, TheInquiryRepeatsEveryTwoSecondsUntilPairing) {
    QElapsedTimer clock;
    clock.start();
    startSearch(); // the first set-up went out at the start
    std::vector<std::string> sent;
    while (sent.empty() && clock.elapsed() < 5000) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
        sent = daemon.commands();
    }
    EXPECT_GE(clock.elapsed(), 1800); // a coarse timer may fire a little early
    EXPECT_THAT(sent, ElementsAre(kWriteInquiryMode));
    feed(inquiryResult(HCI_EVENT_INQUIRY_RESULT_WITH_RSSI, {{kPad, 0x002540}}));
    daemon.commands();
    clock.restart();
    while (clock.elapsed() < 2200)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    EXPECT_THAT(daemon.commands(), IsEmpty()); // pairing: the timer runs but sends nothing
}
