#include "AtomicFile.h"
#include "PlistValue.h"
#include "TestDeviceRoot.h"

#include <csignal>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <random>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

std::vector<std::uint8_t> bytesOf(const std::string &text) {
    return {text.begin(), text.end()};
}

std::string contents(const std::string &path) {
    std::string text;
    EXPECT_TRUE(platform::readWholeFile(path, text, 1 << 24)) << path;
    return text;
}

// Names in the folder besides the file itself: left-over temporaries.
std::vector<std::string> siblings(const std::string &path) {
    std::vector<std::string> names;
    for (const auto &entry : fs::directory_iterator(fs::path(path).parent_path()))
        if (entry.path() != path)
            names.push_back(entry.path().filename());
    return names;
}

mode_t permissions(const std::string &path) {
    struct stat info {};
    ::stat(path.c_str(), &info);
    return info.st_mode & 07777;
}

} // namespace

TEST(AtomicFile, ReplacesAndLeavesNoTemporary) {
    platform::testing::TestDeviceRoot root;
    const std::string path = root.path("/var/mobile/Library/Preferences/com.tesmar.nimbrel.plist");
    ASSERT_TRUE(platform::writeFileAtomically(path, bytesOf("first")));
    EXPECT_EQ(contents(path), "first");
    EXPECT_EQ(permissions(path), 0644u) << "a new file";
    ASSERT_TRUE(platform::writeFileAtomically(path, bytesOf("second, longer")));
    EXPECT_EQ(contents(path), "second, longer");
    ASSERT_TRUE(platform::writeFileAtomically(path, bytesOf("")));
    EXPECT_EQ(contents(path), "");
    EXPECT_TRUE(siblings(path).empty());
}

TEST(AtomicFile, KeepsThePermissionBits) {
    platform::testing::TestDeviceRoot root;
    const std::string path = root.path("/tmp/kept");
    ASSERT_TRUE(platform::writeFileAtomically(path, bytesOf("a")));
    ASSERT_EQ(::chmod(path.c_str(), 0600), 0);
    ASSERT_TRUE(platform::writeFileAtomically(path, bytesOf("b")));
    EXPECT_EQ(permissions(path), 0600u);
}

TEST(AtomicFile, FailsCleanlyAndLosesNothing) {
    platform::testing::TestDeviceRoot root;
    const std::string folder = root.path("/tmp/");

    fs::create_directory(folder + "dir");
    std::ofstream(folder + "dir/inside") << "keep";
    EXPECT_FALSE(platform::writeFileAtomically(folder + "dir", bytesOf("x")));
    EXPECT_EQ(contents(folder + "dir/inside"), "keep");
    EXPECT_FALSE(platform::writeFileAtomically(folder + "nowhere/file", bytesOf("x")));
    EXPECT_FALSE(platform::writeFileAtomically(folder, bytesOf("x")));

    std::vector<std::string> names;
    for (const auto &entry : fs::directory_iterator(folder))
        names.push_back(entry.path().filename());
    EXPECT_EQ(names, std::vector<std::string>{"dir"}) << "no temporary left behind";
}

TEST(AtomicFile, ReplacesALinkInsteadOfWritingThroughIt) {
    platform::testing::TestDeviceRoot root;
    const std::string target = root.path("/tmp/elsewhere");
    const std::string path = root.path("/tmp/linked.plist");
    std::ofstream(target) << "victim";
    fs::create_symlink(target, path);
    ASSERT_TRUE(platform::writeFileAtomically(path, bytesOf("new")));
    EXPECT_FALSE(fs::is_symlink(path));
    EXPECT_EQ(contents(path), "new");
    EXPECT_EQ(contents(target), "victim");
}

// A link to a private file: the entries read through it must not end up in a file others can
// read.
TEST(AtomicFile, ALinkReplacedByAFileKeepsTheTargetsPermissions) {
    platform::testing::TestDeviceRoot root;
    const std::string target = root.path("/tmp/private");
    const std::string path = root.path("/tmp/linked.plist");
    std::ofstream(target) << "secret";
    ASSERT_EQ(::chmod(target.c_str(), 0600), 0);
    fs::create_symlink(target, path);
    ASSERT_TRUE(platform::writeFileAtomically(path, bytesOf("secret and more")));
    EXPECT_FALSE(fs::is_symlink(path));
    EXPECT_EQ(permissions(path), 0600u);
    EXPECT_EQ(permissions(target), 0600u);

    // A link leading nowhere held no entries: a plain new file.
    fs::remove(path);
    fs::create_symlink(root.path("/tmp/absent"), path);
    ASSERT_TRUE(platform::writeFileAtomically(path, bytesOf("fresh")));
    EXPECT_EQ(permissions(path), 0644u);
}

// A pipe, a socket or a device at the name (or a link to one) is neither read nor replaced, and
// neither waits: opening a pipe for reading would wait for a writer that never comes.
TEST(AtomicFile, NothingButARegularFileIsReadOrReplaced) {
    platform::testing::TestDeviceRoot root;
    const std::string fifo = root.path("/tmp/fifo");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
    const std::string fifoLink = root.path("/tmp/fifo-link");
    fs::create_symlink(fifo, fifoLink);
    const std::string deviceLink = root.path("/tmp/device-link");
    fs::create_symlink("/dev/zero", deviceLink);
    const std::string socketPath = root.path("/tmp/socket");
    const int listener = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", socketPath.c_str());
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr *>(&address), sizeof address), 0);

    // Each in a child, so a reader that waits fails the test instead of hanging it.
    for (const std::string &path : {fifo, fifoLink, deviceLink, socketPath}) {
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            ::alarm(5);
            std::string text = "untouched";
            const bool read = platform::readWholeFile(path, text, 1 << 20);
            const bool readDictionary = platform::readPlistDictionary(path).has_value();
            const bool written = platform::writeFileAtomically(path, bytesOf("x"));
            ::_exit(read || readDictionary || written || text != "untouched" ? 1 : 0);
        }
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFEXITED(status)) << path << ": still waiting after 5 s";
        EXPECT_EQ(WIFEXITED(status) ? WEXITSTATUS(status) : -1, 0) << path;
    }
    ::close(listener);
    EXPECT_EQ(fs::symlink_status(fifo).type(), fs::file_type::fifo);
    EXPECT_EQ(fs::symlink_status(fifoLink).type(), fs::file_type::symlink);
    EXPECT_EQ(fs::symlink_status(deviceLink).type(), fs::file_type::symlink);
    EXPECT_EQ(fs::symlink_status(socketPath).type(), fs::file_type::socket);
    EXPECT_EQ(siblings(fifo).size(), 3u) << "no temporary left";
}

// A writer killed at random moments, over and over: the file is always one whole version.
TEST(AtomicFile, SurvivesSigkillMidWrite) {
    platform::testing::TestDeviceRoot root;
    const std::string path = root.path("/var/mobile/Library/Preferences/com.tesmar.nimbrel.plist");
    using platform::PlistValue;
    auto version = [](int n) {
        PlistValue::Dictionary entries;
        for (int i = 0; i < 2000 * n; ++i)
            entries["key" + std::to_string(i)] =
                PlistValue("value of version " + std::to_string(n));
        entries["version"] = n;
        return PlistValue(std::move(entries));
    };
    const PlistValue versions[2] = {version(1), version(2)};
    const auto encoded1 = platform::plistToBytes(versions[0], platform::PlistFormat::Binary);
    const auto encoded2 = platform::plistToBytes(versions[1], platform::PlistFormat::XML);
    ASSERT_TRUE(platform::writeFileAtomically(path, encoded1));

    std::mt19937 random(20261208);
    constexpr int kRuns = 150;
    int secondVersionSeen = 0;
    int killedMidWrite = 0; // a temporary sibling was left: the kill fell inside a write
    for (int run = 0; run < kRuns; ++run) {
        pid_t writer = ::fork();
        ASSERT_GE(writer, 0);
        if (writer == 0) {
            for (int i = 0;; ++i)
                platform::writeFileAtomically(path, i % 2 ? encoded1 : encoded2);
        }
        ::usleep(std::uniform_int_distribution<useconds_t>(200, 8000)(random));
        ::kill(writer, SIGKILL);
        int status = 0;
        ::waitpid(writer, &status, 0);
        ASSERT_TRUE(WIFSIGNALED(status));

        auto read = platform::readPlistDictionary(path);
        ASSERT_TRUE(read) << "partial or missing file after run " << run;
        const auto number = read->at("version").integer();
        ASSERT_TRUE(number == 1 || number == 2);
        EXPECT_EQ(PlistValue(*read), versions[*number - 1]);
        secondVersionSeen += *number == 2;
        // Each kill may leave one temporary sibling; clear them so the folder stays small.
        const auto leftovers = siblings(path);
        killedMidWrite += !leftovers.empty();
        for (const auto &name : leftovers)
            fs::remove(fs::path(path).parent_path() / name);
    }
    EXPECT_GT(secondVersionSeen, 0) << "the writer never got a write through";
    EXPECT_LT(secondVersionSeen, kRuns);
    RecordProperty("killedMidWrite", killedMidWrite);
    EXPECT_GT(killedMidWrite, kRuns / 4) << "too few kills landed inside a write to show much";
}
