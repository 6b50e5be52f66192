// Connect, disconnect, the light-bar colour and restart from the settings page against the
// controller daemon stand-in and its faults, read back from the daemon's byte-for-byte log.
#include "ControllerDaemonProcess.h"
#include "PostedNotifications.h"
#include "NBRColorPickerController.h"
#include "NBRControlSocket.h"
#include "NBRSupport.h"
#include "SettingsPageHarness.h"
#include "WidgetTestEnvironment.h"
#include "notify.h"

#include <gmock/gmock.h>
#include <unistd.h>

NBR_WIDGET_TEST_ENVIRONMENT();

using namespace std::chrono_literals;
using platform::testing::spinUntil;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace {

const platform::PlistValue::Data kAddress = {0x1c, 0x66, 0x6d, 0x01, 0x02, 0x03};
const char *kSentinel = "com.tesmar.nbrtest.sentinel";

// Messages as the daemon logged them: "conn=3 recv=20 hex=... connect type=1".
struct Received {
    int connection;
    std::string hex;
    bool operator==(const Received &) const = default;
};
void PrintTo(const Received &r, std::ostream *os) {
    *os << "{conn " << r.connection << ", " << r.hex << "}";
}

class Connection : public SettingsPageHarness {
protected:
    void configure(NimbrelListController *page) override {
        page->setStatusQueryTimeout(statusTimeout_);
        page->setConnectTimeout(connectTimeout_);
    }

    void startDaemon(std::vector<std::string> options = {}) {
        ASSERT_TRUE(daemon_.start(CONTROLLERD_PATH, root_.path("/tmp/controllerd.log"), options));
    }
    std::string log() { return daemon_.log(); }
    // A paired controller of `type` in manual mode, with `colour` stored when given.
    void seedPaired(int type, const char *colour = nullptr) {
        platform::PlistValue::Dictionary values{{NBRControllerTypeKey, type},
                                                {NBRConnectionModeKey, 1},
                                                {NBRBluetoothAddressKey, kAddress}};
        if (colour != nullptr)
            values.emplace(NBRLEDColorKey, colour);
        seed(std::move(values));
    }
    std::vector<Received> received() {
        std::vector<Received> all;
        for (const auto &message : daemon_.received())
            all.push_back({message.connection, message.hex});
        return all;
    }
    // What the daemon received on the connection of the connect (the first connect message).
    std::vector<std::string> connectLine() {
        const auto all = received();
        auto connect = std::find_if(all.begin(), all.end(), [](const Received &message) {
            return message.hex.starts_with("01000000");
        });
        std::vector<std::string> line;
        for (const Received &message : all)
            if (connect != all.end() && message.connection == connect->connection)
                line.push_back(message.hex);
        return line;
    }
    // Everything the daemon was sent before this call is in its log once it returns: its own
    // status query is answered only after earlier connections' bytes were handled.
    void settleDaemon() {
        const int fd = NBRConnectToControlSocket();
        ASSERT_GE(fd, 0);
        NBRControlSetReceiveTimeout(fd, 300ms); // only its arrival matters, not the answer
        NBRControlQueryStatus(fd);
        ::close(fd);
        const std::string mark = "hex=050000000000000000000000";
        ASSERT_TRUE(spinUntil([&] { return log().find(mark) != std::string::npos; }));
    }
    // Every notification posted before this call has been recorded once it returns.
    std::vector<std::string> posted() {
        notify_post(kSentinel);
        std::vector<std::string> &names = posted_.names();
        EXPECT_TRUE(spinUntil([&] { return !names.empty() && names.back() == kSentinel; }));
        std::vector<std::string> before(names.begin(), names.end() - 1);
        names.clear();
        return before;
    }

    PSTableCell *connectCell() { return page_->connectSpecifier()->cellObject(); }
    bool connectIdle() {
        return spinUntil([&] { return cellEnabled(connectCell()); }, 30s);
    }
    // The page on screen, its status query done.
    void openIdle() {
        open();
        ASSERT_TRUE(connectIdle());
    }
    // A tap on the connect button, which is disabled until the exchange ends.
    void pressConnect() {
        tap(NBRConnectID);
        EXPECT_TRUE(cellDisabled(connectCell()));
        ASSERT_TRUE(connectIdle());
    }

    std::chrono::milliseconds statusTimeout_ = NBRStatusQueryTimeout;
    std::chrono::milliseconds connectTimeout_ = 3s;
    platform::testing::ControllerDaemonProcess daemon_;
    platform::testing::PostedNotifications posted_{NBRFailureNotification,
                                                   NBRInitBluetoothNotification, kSentinel};
};

const std::string kQuery = "050000000000000000000000";
const std::string kConnectPad = "0100000001000000000000001c666d0102030000";
const std::string kReleaseAlone = "060000000000000000000000";

TEST_F(Connection, AcknowledgedConnectLightsTheDualShock4OnTheSameConnection) {
    startDaemon({"--connect-delay", "20"});
    seedPaired(1, "ff8000");
    openIdle();
    EXPECT_EQ(title(NBRConnectID), "Connect Controller");
    posted();
    pressConnect();
    EXPECT_TRUE(page_->controllerConnected());
    EXPECT_EQ(title(NBRConnectID), "Disconnect Controller");
    EXPECT_EQ(connectCell()->textLabel()->text(), "Disconnect Controller");
    EXPECT_THAT(posted(), ElementsAre(NBRInitBluetoothNotification));
    settleDaemon();
    auto all = received();
    ASSERT_EQ(all.size(), 4u); // query on opening, connect, colour, the settling query
    EXPECT_EQ(all[0].hex, kQuery);
    EXPECT_EQ(all[1].hex, kConnectPad);
    EXPECT_EQ(all[2], (Received{all[1].connection, "04000000010000000000000"
                                                   "0ff800000"}));
    EXPECT_NE(all[0].connection, all[1].connection);
    EXPECT_NE(log().find("light bar ff8000 shown"), std::string::npos);

    // Pressed again: disconnect and release on one connection, nothing read back.
    pressConnect();
    EXPECT_FALSE(page_->controllerConnected());
    EXPECT_EQ(title(NBRConnectID), "Connect Controller");
    EXPECT_THAT(posted(), IsEmpty());
    settleDaemon();
    all = received();
    ASSERT_EQ(all.size(), 7u);
    EXPECT_EQ(all[4].hex, "000000000100000000000000");
    EXPECT_EQ(all[5], (Received{all[4].connection, "060000000100000000000000"}));
}

TEST_F(Connection, OtherTypesAndTheDefaultColour) {
    startDaemon({"--connect-delay", "20"});
    seedPaired(3);
    openIdle();
    pressConnect();
    EXPECT_EQ(title(NBRConnectID), "Disconnect Controller");
    settleDaemon();
    auto all = received();
    ASSERT_EQ(all.size(), 3u) << "no colour follows for type 3";
    EXPECT_EQ(all[1].hex, "0100000003000000000000001c666d0102030000");

    // A colour pick for a DualShock 4 with nothing stored: the default, on a connection of its
    // own, closed again.
    seed({{NBRControllerTypeKey, 1}});
    page_->updateDS4ColorWithSocket(-1);
    settleDaemon();
    all = received();
    ASSERT_EQ(all.size(), 5u);
    EXPECT_EQ(all[3].hex, "040000000100000000000000004efd00");
    EXPECT_NE(all[3].connection, all[2].connection);
    EXPECT_NE(log().find("conn=" + std::to_string(all[3].connection) + " closed (client closed)"),
              std::string::npos);

    // Not a DualShock 4: no connection at all.
    seed({{NBRControllerTypeKey, 2}, {NBRLEDColorKey, "123456"}});
    page_->updateDS4ColorWithSocket(-1);
    settleDaemon();
    all = received();
    ASSERT_EQ(all.size(), 6u);
    EXPECT_EQ(all[5].connection, all[4].connection + 1) << "the settling query came next";
}

TEST_F(Connection, PS3ConnectsWithoutAStoredAddress) {
    startDaemon({"--connect-delay", "20"});
    seed({{NBRControllerTypeKey, 0}, {NBRConnectionModeKey, 1}});
    openIdle();
    pressConnect();
    EXPECT_TRUE(UIAlertView::visibleAlerts().isEmpty());
    EXPECT_EQ(title(NBRConnectID), "Disconnect Controller");
    settleDaemon();
    auto all = received();
    ASSERT_GE(all.size(), 2u);
    EXPECT_EQ(all[1].hex, "0100000000000000000000000000000000000000");
}

TEST_F(Connection, WithoutAPairedControllerNothingIsSent) {
    startDaemon();
    for (auto address : {platform::PlistValue::Data{}, platform::PlistValue::Data{1, 2, 3, 4, 5}}) {
        seed({{NBRControllerTypeKey, 1},
              {NBRConnectionModeKey, 1},
              {NBRBluetoothAddressKey, address}});
        openIdle();
        tap(NBRConnectID);
        ASSERT_TRUE(waitForAlerts(1));
        EXPECT_THAT(alertMessages(),
                    ElementsAre("No controller!|You need to pair your controller first."));
        EXPECT_TRUE(cellEnabled(connectCell()));
        SettingsPageHarness::TearDown();
    }
    settleDaemon();
    for (const Received &message : received())
        EXPECT_EQ(message.hex, kQuery);
}

struct Fault {
    const char *name;
    std::vector<std::string> options;
    bool releaseArrives; // a daemon that closed the line cannot log it
};

void PrintTo(const Fault &fault, std::ostream *os) {
    *os << fault.name;
}

class ConnectionFault : public Connection, public ::testing::WithParamInterface<Fault> {};

TEST_P(ConnectionFault, UnacknowledgedConnectIsReleasedAndStaysDisconnected) {
    statusTimeout_ = 200ms;
    connectTimeout_ = 300ms; // the device waits 20 s
    std::vector<std::string> options = GetParam().options;
    options.insert(options.end(), {"--connect-delay", "20"});
    startDaemon(options);
    seedPaired(1);
    openIdle();
    posted();
    pressConnect();
    EXPECT_FALSE(page_->controllerConnected());
    EXPECT_EQ(title(NBRConnectID), "Connect Controller");
    EXPECT_THAT(posted(), ElementsAre(NBRInitBluetoothNotification));
    EXPECT_TRUE(UIAlertView::visibleAlerts().isEmpty());
    settleDaemon();
    std::vector<std::string> connection;
    const auto all = received();
    ASSERT_GE(all.size(), 2u);
    for (const Received &message : all)
        if (message.connection == all[1].connection)
            connection.push_back(message.hex);
    if (GetParam().releaseArrives)
        EXPECT_THAT(connection, ElementsAre(kConnectPad, kReleaseAlone));
    else
        EXPECT_THAT(connection, ElementsAre(kConnectPad));
}

INSTANTIATE_TEST_SUITE_P(Daemon, ConnectionFault,
                         ::testing::Values(Fault{"Refused", {"--refuse-connect"}, true},
                                           Fault{"Silent", {"--never-answer"}, true},
                                           Fault{"ShortReply", {"--short-reply", "5"}, false},
                                           Fault{"Closed", {"--close-without-reply"}, false},
                                           Fault{"PartThenSilent", {"--partial-reply", "11"}, true},
                                           Fault{"Trickled", {"--trickle", "250"}, true}),
                         [](const auto &info) { return std::string(info.param.name); });

// However the daemon's reply breaks off (part of it, then silence; or a byte at a time, too
// slowly), the button is back when the exchange's one deadline is up, and the reply is none.
class PartialReply : public Connection, public ::testing::WithParamInterface<Fault> {};

TEST_P(PartialReply, EndsAtTheExchangesDeadline) {
    connectTimeout_ = 2s; // the status query keeps its 1 s
    std::vector<std::string> options = GetParam().options;
    options.insert(options.end(), {"--connect-delay", "20", "--connected", "2,1c666d010203"});
    startDaemon(options);
    seedPaired(2);
    using Clock = std::chrono::steady_clock;
    auto started = Clock::now();
    open();
    ASSERT_TRUE(connectIdle());
    const auto queried = Clock::now() - started;
    EXPECT_FALSE(page_->controllerConnected()) << "an incomplete status reply is none";
    EXPECT_EQ(title(NBRConnectID), "Connect Controller");
    EXPECT_GE(queried, 900ms);
    EXPECT_LT(queried, 1700ms) << "one second for the whole reply, not one per read";

    started = Clock::now();
    pressConnect();
    const auto connected = Clock::now() - started;
    EXPECT_FALSE(page_->controllerConnected()) << "an incomplete acknowledgement is none";
    EXPECT_EQ(title(NBRConnectID), "Connect Controller");
    EXPECT_GE(connected, 1900ms);
    EXPECT_LT(connected, 3s) << "the connect's deadline is for the whole reply";
    settleDaemon();
    EXPECT_THAT(connectLine(),
                ElementsAre("0100000002000000000000001c666d0102030000", kReleaseAlone));
    EXPECT_NE(log().find("controller disconnected (connect released by the client)"),
              std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Daemon, PartialReply,
                         ::testing::Values(Fault{"PartThenSilent", {"--partial-reply", "11"}, true},
                                           Fault{"Trickled", {"--trickle", "250"}, true}),
                         [](const auto &info) { return std::string(info.param.name); });

// The light bar gets the colour stored when the daemon acknowledges, not the one stored when the
// button was pressed: the colour row stays usable while the connect waits.
TEST_F(Connection, AColourPickedWhileAConnectWaitsIsTheOneSentOnIt) {
    connectTimeout_ = 10s;
    startDaemon({"--connect-delay", "1500"});
    seedPaired(1, "ff8000");
    openIdle();
    tap(NBRConnectID);
    EXPECT_TRUE(cellDisabled(connectCell()));
    tap(NBRLEDColorID);
    auto *chooser = qobject_cast<NBRColorPickerController *>(navigation_->topViewController());
    ASSERT_NE(chooser, nullptr) << "the colour row opens the chooser mid-connect";
    page_->colorPickerDidPickColor(chooser, NBRColorForHexString("12ab34"));
    navigation_->popViewControllerAnimated(false);
    EXPECT_EQ(log().find("controller connected"), std::string::npos) << "picked too late";
    ASSERT_TRUE(connectIdle());
    EXPECT_TRUE(page_->controllerConnected());
    settleDaemon();
    EXPECT_THAT(connectLine(), ElementsAre(kConnectPad, "04000000010000000000000012ab3400"));
    EXPECT_NE(log().find("light bar 12ab34 shown"), std::string::npos) << log();
    EXPECT_EQ(log().find("light bar ff8000"), std::string::npos) << log();
}

// A type changed away from the DualShock 4 while the connect waits: no colour follows it.
TEST_F(Connection, ATypeChangedWhileAConnectWaitsSendsNoColour) {
    startDaemon({"--connect-delay", "800"});
    seedPaired(1, "ff8000");
    openIdle();
    tap(NBRConnectID);
    EXPECT_TRUE(cellDisabled(connectCell()));
    page_->setPreferenceValue(3, page_->specifierForID(NBRControllerTypeSpecifierID).get());
    EXPECT_EQ(log().find("controller connected"), std::string::npos) << "changed too late";
    ASSERT_TRUE(connectIdle());
    EXPECT_TRUE(page_->controllerConnected());
    settleDaemon();
    EXPECT_THAT(connectLine(), ElementsAre(kConnectPad));
    EXPECT_EQ(log().find("light bar"), std::string::npos) << log();
}

TEST_F(Connection, StatusQueryRetitlesTheButtonWhenTheDaemonHasTheController) {
    startDaemon({"--connected", "2,1c666d010203"});
    seed({{NBRControllerTypeKey, 2}, {NBRConnectionModeKey, 1}});
    open();
    EXPECT_TRUE(cellDisabled(connectCell())) << "while the query runs";
    ASSERT_TRUE(connectIdle());
    EXPECT_TRUE(page_->controllerConnected());
    EXPECT_EQ(title(NBRConnectID), "Disconnect Controller");
}

// Another client releases the controller while the page is on screen: the button offers to
// connect again at once, without a press or a new visit.
TEST_F(Connection, TheControllerLeavingRetitlesTheButtonOnScreenAtOnce) {
    startDaemon({"--connected", "2,1c666d010203"});
    seed({{NBRControllerTypeKey, 2}, {NBRConnectionModeKey, 1}});
    open();
    ASSERT_TRUE(connectIdle());
    ASSERT_EQ(title(NBRConnectID), "Disconnect Controller");

    const int other = NBRConnectToControlSocket();
    ASSERT_GE(other, 0);
    NBRControlDisconnect(other, 2);
    ::close(other);
    EXPECT_TRUE(spinUntil([&] { return title(NBRConnectID) == "Connect Controller"; }));
    EXPECT_EQ(connectCell()->textLabel()->text(), "Connect Controller");
    EXPECT_FALSE(page_->controllerConnected());
    EXPECT_FALSE(cellDisabled(connectCell()));
}

TEST_F(Connection, WithoutTheDaemonEachOperationPostsOneFailure) {
    seedPaired(1);
    open();
    EXPECT_THAT(posted(), ElementsAre(NBRFailureNotification)) << "the query on opening";
    EXPECT_TRUE(cellEnabled(connectCell()));
    tap(NBRConnectID);
    EXPECT_THAT(posted(), ElementsAre(NBRFailureNotification));
    EXPECT_TRUE(cellEnabled(connectCell()));
    EXPECT_EQ(title(NBRConnectID), "Connect Controller");
    page_->updateDS4ColorWithSocket(-1);
    EXPECT_THAT(posted(), ElementsAre(NBRFailureNotification));

    tap("restart_daemons");
    EXPECT_THAT(posted(), IsEmpty());
    ASSERT_TRUE(waitForAlerts(1));
    EXPECT_THAT(alertMessages(),
                ElementsAre("Important!|A critical error has occurred! Please reboot your device "
                            "in order to continue using Nimbrel."));
}

TEST_F(Connection, RestartSendsItsCommandAndShowsNothing) {
    startDaemon();
    seed({{NBRConnectionModeKey, 1}});
    openIdle();
    tap("restart_daemons");
    settleDaemon();
    const auto all = received();
    ASSERT_EQ(all.size(), 3u);
    EXPECT_EQ(all[1].hex, "0300000000000000000000000000000000000000");
    EXPECT_TRUE(UIAlertView::visibleAlerts().isEmpty());
}

// The receive time-out cannot be set (this one is out of range): the exchange is abandoned
// without a word to the daemon, and the button comes back instead of staying dead.
TEST_F(Connection, AnUnsettableTimeOutGivesTheButtonBack) {
    statusTimeout_ = connectTimeout_ = -1ms;
    startDaemon();
    seedPaired(1);
    openIdle();
    posted();
    pressConnect();
    EXPECT_THAT(posted(), IsEmpty()) << "no connect was attempted";
    EXPECT_EQ(title(NBRConnectID), "Connect Controller");
    settleDaemon();
    EXPECT_EQ(received().size(), 1u) << "only the settling query";
}

TEST_F(Connection, ARebuildDuringAnExchangeKeepsTheButtonDisabled) {
    connectTimeout_ = 5s;
    startDaemon({"--connect-delay", "600"});
    seedPaired(2);
    openIdle();
    tap(NBRConnectID);
    page_->reloadSpecifiers();
    EXPECT_TRUE(cellDisabled(connectCell()));
    tap(NBRConnectID); // a second press reaches nothing
    ASSERT_TRUE(connectIdle());
    EXPECT_EQ(title(NBRConnectID), "Disconnect Controller");
    settleDaemon();
    int connects = 0;
    for (const Received &message : received())
        connects += message.hex.starts_with("01000000");
    EXPECT_EQ(connects, 1);
}

TEST_F(Connection, APageClosedMidExchangeLetsTheExchangeFinish) {
    startDaemon({"--connect-delay", "300"});
    seedPaired(1, "00ff00");
    openIdle();
    tap(NBRConnectID);
    SettingsPageHarness::TearDown(); // the user leaves the Settings page for good
    ASSERT_TRUE(
        spinUntil([&] { return log().find("light bar 00ff00 shown") != std::string::npos; }));
    settleDaemon();
    QCoreApplication::processEvents(); // the exchange's report finds no page and no cell
    const auto all = received();
    ASSERT_EQ(all.size(), 4u);
    EXPECT_EQ(all[1].hex, kConnectPad);
    EXPECT_EQ(all[2].connection, all[1].connection);
}

} // namespace
