// The pad as a uinput device: made and read back where /dev/uinput can be written, refused with
// a line a user can act on where it cannot.
#include "TestTimeScale.h"
#include "UinputGamepad.h"

#include <gtest/gtest.h>
#include <libevdev/libevdev.h>
#include <linux/input.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using controllerd::UinputGamepad;

namespace {

struct EvdevFree {
    void operator()(libevdev *device) const { libevdev_free(device); }
};

// The next event the device hands its reader, waiting up to `timeout` for one.
std::optional<input_event> nextEvent(libevdev *device, int fd, std::chrono::milliseconds timeout) {
    pollfd ready{fd, POLLIN, 0};
    input_event event{};
    int result = libevdev_next_event(device, LIBEVDEV_READ_FLAG_NORMAL, &event);
    if (result == -EAGAIN && ::poll(&ready, 1, int(timeout.count())) == 1)
        result = libevdev_next_event(device, LIBEVDEV_READ_FLAG_NORMAL, &event);
    if (result != LIBEVDEV_READ_STATUS_SUCCESS)
        return std::nullopt;
    return event;
}

TEST(UinputGamepadTest, ThePadAppearsWithXpadsIdentityAndTakesAFrame) {
    if (::access(controllerd::kUinputNode, W_OK) != 0)
        GTEST_SKIP() << "/dev/uinput is not writable here (no uinput module, or no access to "
                        "it): the pad cannot be made";
    std::string error;
    auto pad = UinputGamepad::create(error);
    ASSERT_TRUE(pad) << error;
    EXPECT_EQ(error, "");

    const std::string node = pad->devnode();
    ASSERT_EQ(node.rfind("/dev/input/event", 0), 0u) << node;
    // udev makes the node after the kernel announces the device.
    int fd = -1;
    const auto deadline = std::chrono::steady_clock::now() + platform::testing::scaled(
                                                                 std::chrono::seconds(5));
    while ((fd = ::open(node.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC)) < 0 &&
           std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    ASSERT_GE(fd, 0) << node << " did not appear";
    libevdev *raw = nullptr;
    ASSERT_EQ(libevdev_new_from_fd(fd, &raw), 0);
    std::unique_ptr<libevdev, EvdevFree> device(raw);

    EXPECT_STREQ(libevdev_get_name(raw), "Nimbrel Keyboard Gamepad");
    EXPECT_EQ(libevdev_get_id_bustype(raw), BUS_USB);
    EXPECT_EQ(libevdev_get_id_vendor(raw), 0x045E);
    EXPECT_EQ(libevdev_get_id_product(raw), 0x028E);
    EXPECT_EQ(libevdev_get_id_version(raw), 0x0114);
    for (unsigned code : {BTN_A, BTN_B, BTN_X, BTN_Y, BTN_TL, BTN_TR, BTN_SELECT, BTN_START,
                          BTN_MODE, BTN_THUMBL, BTN_THUMBR})
        EXPECT_TRUE(libevdev_has_event_code(raw, EV_KEY, code)) << code;
    for (unsigned code : {ABS_X, ABS_Y, ABS_RX, ABS_RY}) {
        const input_absinfo *info = libevdev_get_abs_info(raw, code);
        ASSERT_NE(info, nullptr) << code;
        EXPECT_EQ(info->minimum, -32768);
        EXPECT_EQ(info->maximum, 32767);
        EXPECT_EQ(info->flat, 128);
        EXPECT_EQ(info->fuzz, 16);
    }
    for (unsigned code : {ABS_Z, ABS_RZ, ABS_HAT0X, ABS_HAT0Y}) {
        const input_absinfo *info = libevdev_get_abs_info(raw, code);
        ASSERT_NE(info, nullptr) << code;
        EXPECT_EQ(info->maximum, code == ABS_Z || code == ABS_RZ ? 255 : 1);
    }

    pad->write({{EV_KEY, BTN_A, 1}, {EV_ABS, ABS_HAT0Y, -1}});
    const auto wait = platform::testing::scaled(std::chrono::seconds(2));
    auto first = nextEvent(raw, fd, wait);
    auto second = nextEvent(raw, fd, wait);
    auto third = nextEvent(raw, fd, wait);
    ASSERT_TRUE(first && second && third);
    EXPECT_EQ((std::tuple(first->type, first->code, first->value)), std::tuple(EV_KEY, BTN_A, 1));
    EXPECT_EQ((std::tuple(second->type, second->code, second->value)),
              std::tuple(EV_ABS, ABS_HAT0Y, -1));
    EXPECT_EQ((std::tuple(third->type, third->code)), std::tuple(EV_SYN, SYN_REPORT));
    EXPECT_EQ(pad->writeError(), 0);

    // The pad goes with the object: its reader is told the device is gone.
    pad.reset();
    input_event event{};
    int result = 0;
    do
        result = libevdev_next_event(raw, LIBEVDEV_READ_FLAG_NORMAL, &event);
    while (result == LIBEVDEV_READ_STATUS_SUCCESS);
    EXPECT_EQ(result, -ENODEV);
    ::close(fd);
}

class UinputGamepadFailureTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/nbr-uinput-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        dir = pattern;
    }
    void TearDown() override { std::system(("rm -rf '" + dir + "'").c_str()); }

    std::string dir;
};

TEST_F(UinputGamepadFailureTest, NoUinputNodeNamesTheModule) {
    std::string error;
    EXPECT_EQ(UinputGamepad::create(dir + "/uinput", error), nullptr);
    EXPECT_EQ(error, dir + "/uinput is missing: load the uinput module (modprobe uinput) so the "
                           "keyboard can play as a gamepad");
    if (::access(controllerd::kUinputNode, F_OK) != 0) {
        EXPECT_EQ(UinputGamepad::create(error), nullptr);
        EXPECT_EQ(error.rfind("/dev/uinput is missing: load the uinput module", 0), 0u) << error;
    }
}

TEST_F(UinputGamepadFailureTest, NoAccessNamesTheNodeAndTheUdevRule) {
    const std::string node = dir + "/uinput";
    const int made = ::open(node.c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0600);
    ASSERT_GE(made, 0);
    ::close(made);
    ASSERT_EQ(::chmod(dir.c_str(), 0755), 0);
    // Root passes any file mode, so the attempt is made as nobody, in a child of its own.
    int pipeEnds[2];
    ASSERT_EQ(::pipe(pipeEnds), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::close(pipeEnds[0]);
        if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0))
            ::_exit(2);
        std::string error;
        const bool made = UinputGamepad::create(node, error) != nullptr;
        if (::write(pipeEnds[1], error.data(), error.size()) < 0)
            ::_exit(3);
        ::_exit(made ? 1 : 0);
    }
    ::close(pipeEnds[1]);
    std::string error;
    char buffer[512];
    for (ssize_t n; (n = ::read(pipeEnds[0], buffer, sizeof buffer)) > 0;)
        error.append(buffer, std::size_t(n));
    ::close(pipeEnds[0]);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "made a pad on a file it may not open";
    EXPECT_EQ(error, "Permission denied opening " + node +
                         ": the udev rule /lib/udev/rules.d/70-nimbrel-controller.rules gives the "
                         "user at the seat access to it; install it, then run \"udevadm trigger "
                         "--name-match=uinput\" or log in again");
}

TEST_F(UinputGamepadFailureTest, ANodeThatIsNoUinputIsRefused) {
    const std::string node = dir + "/uinput";
    const int made = ::open(node.c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0600);
    ASSERT_GE(made, 0);
    ::close(made);
    std::string error;
    EXPECT_EQ(UinputGamepad::create(node, error), nullptr);
    EXPECT_EQ(error.rfind("Could not create the gamepad on " + node + ": ", 0), 0u) << error;
}

} // namespace
