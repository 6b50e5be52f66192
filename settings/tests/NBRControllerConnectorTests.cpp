// The connect button's exchanges on their own, without a page, against a scripted daemon on a
// real control socket.
#include "EventLoopWait.h"
#include "NBRConstants.h"
#include "NBRControlSocket.h"
#include "NBRControllerConnector.h"
#include "NBRLightColorSender.h"
#include "PSTableCell.h"
#include "PlistValue.h"
#include "TestDeviceRoot.h"
#include "UIAlertView.h"
#include "UnixListener.h"
#include "WidgetTestEnvironment.h"
#include "notify.h"

#include <QLabel>
#include <atomic>
#include <gtest/gtest.h>
#include <mutex>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

NBR_WIDGET_TEST_ENVIRONMENT();

using namespace std::chrono_literals;
using platform::testing::spinUntil;

namespace {

// Takes one connection: reads the request, waits `delay`, answers `reply` (if any), then keeps
// what else comes until the other side closes.
class ScriptedDaemon {
public:
    ScriptedDaemon(const std::string &path, std::size_t requestSize,
                   std::optional<NBRControlMessage> reply, std::chrono::milliseconds delay = 0ms) {
        listener_ = platform::testing::listenOnUnixSocket(path, 4);
        ok_ = listener_ >= 0;
        if (ok_)
            thread_ = std::thread([=, this] { serve(requestSize, reply, delay); });
    }
    ~ScriptedDaemon() {
        ::shutdown(listener_, SHUT_RDWR);
        if (thread_.joinable())
            thread_.join();
        ::close(listener_);
    }
    bool ok() const { return ok_; }
    bool done() const { return done_; }
    std::vector<std::uint8_t> received() const {
        std::lock_guard lock(mutex_);
        return received_;
    }

private:
    void serve(std::size_t requestSize, std::optional<NBRControlMessage> reply,
               std::chrono::milliseconds delay) {
        const int connection = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        if (connection < 0)
            return;
        std::uint8_t chunk[64];
        bool answered = false;
        for (ssize_t n; (n = ::recv(connection, chunk, sizeof chunk, 0)) > 0;) {
            std::size_t total;
            {
                std::lock_guard lock(mutex_);
                received_.insert(received_.end(), chunk, chunk + n);
                total = received_.size();
            }
            if (!answered && total >= requestSize) {
                answered = true;
                std::this_thread::sleep_for(delay);
                if (reply)
                    NBRControlSend(connection, *reply);
            }
        }
        ::close(connection);
        done_ = true;
    }

    int listener_ = -1;
    bool ok_ = false;
    std::thread thread_;
    mutable std::mutex mutex_;
    std::vector<std::uint8_t> received_;
    std::atomic<bool> done_ = false;
};

std::string hex(const std::vector<std::uint8_t> &bytes) {
    std::string text;
    char digits[3];
    for (std::uint8_t byte : bytes) {
        std::snprintf(digits, sizeof digits, "%02x", byte);
        text += digits;
    }
    return text;
}

NBRControlMessage reply(std::int32_t command, std::int32_t controllerType) {
    NBRControlMessage message;
    message.command = command;
    message.controllerType = controllerType;
    return message;
}

bool enabled(PSTableCell *cell) {
    return cell->isUserInteractionEnabled() && cell->textLabel()->isEnabled();
}
bool disabled(PSTableCell *cell) {
    return !cell->isUserInteractionEnabled() && !cell->textLabel()->isEnabled();
}

class ControllerConnector : public ::testing::Test {
protected:
    void TearDown() override {
        for (UIAlertView *alert : UIAlertView::visibleAlerts())
            alert->dismissWithClickedButtonIndex(0, false);
    }

    std::unique_ptr<NBRControllerConnector> make() {
        auto connector = std::make_unique<NBRControllerConnector>(
            NBRControllerConnector::Client{[this] { return button_.get(); }, [this] { ++ran_; },
                                           [this](int fd) {
                                               acknowledgedOn_ = fd;
                                               NBRLightColorSender::sendOnConnection(fd, 0x12ab34);
                                           },
                                           [this] { ++left_; }});
        connector->setStatusQueryTimeout(2s);
        connector->setConnectTimeout(2s);
        return connector;
    }
    void storeAddress() {
        ASSERT_TRUE(platform::writePlistAtomically(
            root_.path(NBRPreferencesPath),
            platform::PlistValue(platform::PlistValue::Dictionary{
                {NBRBluetoothAddressKey,
                 platform::PlistValue::Data{0x1c, 0x66, 0x6d, 0x01, 0x02, 0x03}}}),
            platform::PlistFormat::XML));
    }
    std::string socketPath() const { return root_.path(NBRControlSocketPath); }

    platform::testing::TestDeviceRoot root_;
    std::unique_ptr<PSTableCell> button_ = std::make_unique<PSTableCell>(0, "button", nullptr);
    int ran_ = 0;
    int left_ = 0;
    int acknowledgedOn_ = -1;
};

} // namespace

TEST_F(ControllerConnector, StatusQueryHoldsTheButtonAndARebuiltOneUntilTheReplyThenReportsIt) {
    ScriptedDaemon daemon(socketPath(), NBRControlReplySize,
                          reply(NBRControlCommandQueryStatus, NBRControllerTypeDualShock4), 200ms);
    ASSERT_TRUE(daemon.ok());
    auto connector = make();
    PSTableCell *pressed = button_.get();
    connector->queryConnected(pressed);
    EXPECT_TRUE(disabled(pressed));

    // The page rebuilt meanwhile: its fresh button must wait for the exchange too.
    auto first = std::exchange(button_, std::make_unique<PSTableCell>(0, "button", nullptr));
    connector->keepDisabledWhileBusy(button_.get());
    EXPECT_TRUE(disabled(button_.get()));

    ASSERT_TRUE(spinUntil([&] { return ran_ == 1; }));
    EXPECT_TRUE(connector->connected());
    EXPECT_TRUE(enabled(first.get()));
    EXPECT_TRUE(enabled(button_.get()));
    EXPECT_EQ(hex(daemon.received()), "050000000000000000000000");
    connector->keepDisabledWhileBusy(button_.get());
    EXPECT_TRUE(enabled(button_.get())) << "nothing runs any more";
}

TEST_F(ControllerConnector, AcknowledgedConnectHandsItsConnectionToTheClientBeforeItCloses) {
    storeAddress();
    ScriptedDaemon daemon(socketPath(), NBRControlMessageSize,
                          reply(NBRControlReplyAcknowledge, NBRControllerTypeDualShock4));
    ASSERT_TRUE(daemon.ok());
    auto connector = make();
    connector->connectOrDisconnect(button_.get(), NBRControllerTypeDualShock4, 0x000000);
    EXPECT_TRUE(disabled(button_.get()));

    ASSERT_TRUE(spinUntil([&] { return ran_ == 1 && daemon.done(); }));
    EXPECT_GE(acknowledgedOn_, 0);
    EXPECT_TRUE(connector->connected());
    EXPECT_TRUE(enabled(button_.get()));
    EXPECT_EQ(hex(daemon.received()), "0100000001000000000000001c666d0102030000"
                                      "04000000010000000000000012ab3400");
}

TEST_F(ControllerConnector,
       ConnectorGoneBeforeTheAcknowledgementSendsThePressColourAndGivesTheCellBack) {
    storeAddress();
    ScriptedDaemon daemon(socketPath(), NBRControlMessageSize,
                          reply(NBRControlReplyAcknowledge, NBRControllerTypeDualShock4), 300ms);
    ASSERT_TRUE(daemon.ok());
    auto connector = make();
    connector->connectOrDisconnect(button_.get(), NBRControllerTypeDualShock4, 0xabcdef);
    EXPECT_TRUE(disabled(button_.get()));
    connector.reset();

    ASSERT_TRUE(spinUntil([&] { return daemon.done() && enabled(button_.get()); }));
    EXPECT_EQ(ran_, 0);
    EXPECT_EQ(acknowledgedOn_, -1);
    EXPECT_EQ(hex(daemon.received()), "0100000001000000000000001c666d0102030000"
                                      "040000000100000000000000abcdef00");
}

TEST_F(ControllerConnector, WithoutAStoredAddressOnlyTypeZeroConnects) {
    {
        ScriptedDaemon daemon(socketPath(), NBRControlMessageSize, std::nullopt);
        ASSERT_TRUE(daemon.ok());
        auto connector = make();
        connector->connectOrDisconnect(button_.get(), NBRControllerTypeSyncButton, 0);
        EXPECT_TRUE(enabled(button_.get()));
        ASSERT_EQ(UIAlertView::visibleAlerts().size(), 1);
        EXPECT_EQ(UIAlertView::visibleAlerts()[0]->title(), "No controller!");
        ASSERT_TRUE(spinUntil([&] { return daemon.done(); }));
        EXPECT_EQ(hex(daemon.received()), "") << "the connection closes unused";
        EXPECT_EQ(ran_, 0);
    }
    ::unlink(socketPath().c_str());
    UIAlertView::visibleAlerts()[0]->dismissWithClickedButtonIndex(0, false);

    // Not acknowledged: the release follows and the belief stays.
    ScriptedDaemon daemon(socketPath(), NBRControlMessageSize, std::nullopt);
    ASSERT_TRUE(daemon.ok());
    auto connector = make();
    connector->setConnectTimeout(300ms);
    connector->connectOrDisconnect(button_.get(), NBRControllerTypePS3, 0);
    EXPECT_TRUE(disabled(button_.get()));
    ASSERT_TRUE(spinUntil([&] { return ran_ == 1 && daemon.done(); }));
    EXPECT_TRUE(enabled(button_.get()));
    EXPECT_FALSE(connector->connected());
    EXPECT_TRUE(UIAlertView::visibleAlerts().isEmpty());
    EXPECT_EQ(hex(daemon.received()), "0100000000000000000000000000000000000000"
                                      "060000000000000000000000");
}

// The daemon's word that the controller left, from whatever process: the flag clears, the
// client hears of it, and a connector gone hears nothing more.
TEST_F(ControllerConnector, TheDaemonSayingTheControllerLeftClearsTheFlagAndTellsTheClient) {
    auto connector = make();
    connector->setConnected(true);
    notify_post(NBRDisconnectedNotification);
    ASSERT_TRUE(spinUntil([&] { return left_ == 1; }));
    EXPECT_FALSE(connector->connected());
    EXPECT_EQ(ran_, 0) << "no exchange ran";

    connector.reset();
    notify_post(NBRDisconnectedNotification);
    spinUntil([] { return false; }, std::chrono::milliseconds(300));
    EXPECT_EQ(left_, 1);
}
