// nbrdiscovery under faults, as a real process against the BTstack simulator: interrupts at
// random moments, SIGKILL while it stores the address, the BTstack daemon dying mid-pairing, and
// preferences files that are garbage, a folder or a link. Runs go side by side in lanes, each
// with a device root and a simulator of its own; the seed of every random choice is printed.
#include "ChildProcess.h"
#include "EventLoopWait.h"
#include "NBRConstants.h"
#include "PlistValue.h"
#include "PrivateSessionBus.h"
#include "TestDeviceRoot.h"

#include <atomic>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <random>
#include <thread>

using platform::PlistValue;
using platform::testing::ChildProcess;
using platform::testing::occurrences;
namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

const std::string kPad = "1C:66:6D:01:02:03";
const PlistValue::Data kPadBytes{0x1c, 0x66, 0x6d, 0x01, 0x02, 0x03};

// A device root and a BTstack simulator of its own, so lanes can run at once; the processes get
// the root on their command line through env(1), which execs them in place.
class Lane {
public:
    explicit Lane(std::vector<std::string> simulatorArguments = {
                      "--device", "address=" + kPad + ",class=0x002508,pin=5820"}) {
        char name[] = "/tmp/nbrf.XXXXXX";
        root_ = ::mkdtemp(name);
        fs::create_directories(root_ + "/var/mobile/Library/Preferences");
        fs::create_directories(root_ + "/tmp");
        startSimulator(std::move(simulatorArguments));
    }
    ~Lane() {
        simulator_.reset();
        fs::remove_all(root_);
    }
    void startSimulator(std::vector<std::string> arguments) {
        simulator_ = start(SIMULATOR_PATH, std::move(arguments));
        EXPECT_TRUE(simulator_->waitForLine("ready"));
    }
    std::unique_ptr<ChildProcess> start(const std::string &program,
                                        std::vector<std::string> arguments = {}) {
        arguments.insert(arguments.begin(), {"NIMBREL_ROOT=" + root_, program});
        return std::make_unique<ChildProcess>("/usr/bin/env", std::move(arguments));
    }
    std::string preferences() const { return root_ + NBRPreferencesPath; }
    ChildProcess &simulator() { return *simulator_; }
    // Waits until the simulator has seen its `client`-th client come.
    bool waitForClient(int client) {
        return simulator_->waitForLine("connected client=" + std::to_string(client));
    }
    // Reads what the simulator has written so far without waiting.
    const std::string &simulatorLog() {
        simulator_->waitForLine("\x01", 1ms);
        return simulator_->output();
    }
    // Temporary siblings of the preferences file that a killed writer left behind.

private:
    std::string root_;
    std::unique_ptr<ChildProcess> simulator_;
};

// Runs `lanes` threads, each calling `body(lane index)`.
void inLanes(int lanes, const std::function<void(int)> &body) {
    std::vector<std::thread> threads;
    for (int i = 0; i < lanes; ++i)
        threads.emplace_back(body, i);
    for (auto &thread : threads)
        thread.join();
}

unsigned seedFor(const char *test) {
    const unsigned seed = static_cast<unsigned>(std::random_device{}());
    std::printf("%s: seed %u\n", test, seed);
    return seed;
}

class ToolFaults : public ::testing::Test {
protected:
    platform::testing::PrivateSessionBus bus;
};

TEST_F(ToolFaults, OneTwoOrThreeInterruptsAtRandomMomentsEndTheToolOnceWithStatusZero) {
    const unsigned seed = seedFor("interrupts");
    std::atomic<int> runs{0}, cleanExits{0}, singleShutdowns{0};
    inLanes(10, [&](int index) {
        Lane lane;
        std::mt19937 random(seed + static_cast<unsigned>(index));
        for (int run = 1; run <= 10; ++run) {
            auto tool = lane.start(TOOL_PATH);
            // Its handler is in place before it opens BTstack.
            ASSERT_TRUE(lane.waitForClient(run));
            std::this_thread::sleep_for(std::chrono::milliseconds(random() % 200));
            const int interrupts = 1 + run % 3;
            for (int i = 0; i < interrupts; ++i) {
                tool->signal(SIGINT);
                std::this_thread::sleep_for(std::chrono::milliseconds(random() % 1200));
            }
            const int status = tool->wait(15s);
            EXPECT_EQ(status, 0) << "lane " << index << " run " << run << " after " << interrupts
                                 << " interrupts";
            ASSERT_TRUE(lane.simulator().waitForLine("disconnected client=" + std::to_string(run)));
            ++runs;
            cleanExits += status == 0;
            singleShutdowns +=
                occurrences(lane.simulatorLog(), "btstack_set_power_mode mode=0") == run;
        }
    });
    std::printf("interrupts: %d runs, %d exits with status 0, %d with one shutdown\n", runs.load(),
                cleanExits.load(), singleShutdowns.load());
    EXPECT_EQ(runs, 100);
    EXPECT_EQ(cleanExits, 100);
    EXPECT_EQ(singleShutdowns, 100);
}

TEST_F(ToolFaults, KilledWhileStoringTheAddressNeverLeavesAPartialFile) {
    const unsigned seed = seedFor("kills");
    // A file worth keeping: the tool must rewrite it with every entry as it was.
    const PlistValue::Dictionary kept{{NBRControllerTypeKey, 1},
                                      {NBRLEDColorKey, "abcdef"},
                                      {"Padding", PlistValue::Data(256 * 1024, 0x5a)}};
    std::atomic<int> kills{0}, intact{0}, stored{0}, leftovers{0};
    inLanes(4, [&](int index) {
        Lane lane;
        std::mt19937 random(seed + static_cast<unsigned>(index));
        for (int run = 1; run <= 250; ++run) {
            ASSERT_TRUE(platform::writePlistAtomically(lane.preferences(), PlistValue(kept),
                                                       platform::PlistFormat::Binary));
            auto tool = lane.start(TOOL_PATH);
            std::this_thread::sleep_for(std::chrono::microseconds(random() % 150000));
            tool->signal(SIGKILL);
            tool->wait(5s);
            ++kills;
            auto file = platform::readPlistDictionary(lane.preferences());
            bool whole = file.has_value();
            for (const auto &[key, value] : kept)
                whole = whole && file->count(key) && file->at(key) == value;
            if (whole && file->count(NBRBluetoothAddressKey)) {
                whole = file->at(NBRBluetoothAddressKey) == PlistValue(kPadBytes);
                stored += whole;
            }
            intact += whole;
            EXPECT_TRUE(whole) << "lane " << index << " run " << run;
            // What a killed writer leaves is never read; clear it so each run starts alike.
            for (const auto &entry :
                 fs::directory_iterator(fs::path(lane.preferences()).parent_path()))
                if (entry.path() != lane.preferences()) {
                    ++leftovers;
                    fs::remove(entry.path());
                }
            lane.simulatorLog();
        }
    });
    std::printf("kills: %d, file whole after %d, address stored in %d, temporary files left by "
                "%d\n",
                kills.load(), intact.load(), stored.load(), leftovers.load());
    EXPECT_EQ(kills, 1000);
    EXPECT_EQ(intact, 1000);
    EXPECT_GT(stored, 0) << "no kill came after the write";
    EXPECT_LT(stored, 1000) << "no kill came before the write";
}

TEST_F(ToolFaults, TheBTstackDaemonDyingMidPairingLeavesTheToolToItsInterrupt) {
    const unsigned seed = seedFor("daemon deaths");
    std::atomic<int> runs{0}, cleanExits{0};
    inLanes(5, [&](int index) {
        std::mt19937 random(seed + static_cast<unsigned>(index));
        for (int run = 0; run < 4; ++run) {
            Lane lane;
            auto tool = lane.start(TOOL_PATH);
            ASSERT_TRUE(lane.waitForClient(1));
            std::this_thread::sleep_for(std::chrono::milliseconds(random() % 80));
            lane.simulator().signal(SIGKILL);
            std::this_thread::sleep_for(100ms);
            EXPECT_TRUE(tool->running()) << "the tool ends only when interrupted";
            tool->signal(SIGINT);
            const int status = tool->wait(15s);
            EXPECT_EQ(status, 0);
            if (fs::exists(lane.preferences())) {
                EXPECT_TRUE(platform::readPlistDictionary(lane.preferences()));
            }
            ++runs;
            cleanExits += status == 0;
        }
    });
    std::printf("daemon deaths: %d runs, %d exits with status 0\n", runs.load(), cleanExits.load());
    EXPECT_EQ(cleanExits, 20);
}

// Pairs once with the preferences path in the given state; the tool's exit status.
int pairOnce(Lane &lane) {
    auto tool = lane.start(TOOL_PATH);
    EXPECT_TRUE(lane.waitForClient(1));
    platform::testing::spinUntil(
        [&] { return occurrences(lane.simulatorLog(), "hci_pin_code_request_reply") > 0; }, 2s);
    std::this_thread::sleep_for(200ms);
    tool->signal(SIGINT);
    return tool->wait(15s);
}

TEST_F(ToolFaults, GarbageAFolderOrALinkAtThePreferencesPathIsHandledSafely) {
    {
        // A file that cannot be read may still matter to someone: it is left exactly as it was.
        Lane lane;
        const std::string garbage = "bplist00 not really \x01\x02\xff";
        std::ofstream(lane.preferences()) << garbage;
        EXPECT_EQ(pairOnce(lane), 0);
        EXPECT_EQ(platform::testing::readFile(lane.preferences()), garbage);
    }
    {
        // A folder cannot be replaced: the tool still pairs and ends well, the folder stays.
        Lane lane;
        fs::create_directory(lane.preferences());
        std::ofstream(lane.preferences() + "/inside") << "kept";
        EXPECT_EQ(pairOnce(lane), 0);
        EXPECT_TRUE(fs::is_directory(lane.preferences()));
        EXPECT_TRUE(fs::exists(lane.preferences() + "/inside"));
    }
    {
        // A link is read through; the write replaces the link, never the file it points to.
        Lane lane;
        const std::string elsewhere = platform::testing::placeLinkToPlist(
            lane.preferences(), {{NBRControllerTypeKey, 3}}, platform::PlistFormat::Binary);
        ASSERT_FALSE(elsewhere.empty());
        EXPECT_EQ(pairOnce(lane), 0);
        auto file = platform::readPlistDictionary(lane.preferences());
        ASSERT_TRUE(file);
        EXPECT_EQ(file->at(NBRBluetoothAddressKey), PlistValue(kPadBytes));
        EXPECT_EQ(file->at(NBRControllerTypeKey).integer(), 3) << "what the link held is kept";
        auto target = platform::readPlistDictionary(elsewhere);
        ASSERT_TRUE(target);
        EXPECT_EQ(target->count(NBRBluetoothAddressKey), 0u);
    }
}

// Storing the address once opened a pipe at the preferences path and waited there for good,
// deaf to SIGINT. A pipe, or a link to one, is not a file to store into: the tool pairs, ends
// on SIGINT and leaves it as it was.
TEST_F(ToolFaults, APipeOrALinkToOneAtThePreferencesPathIsNeitherWaitedOnNorReplaced) {
    for (const bool linked : {false, true}) {
        SCOPED_TRACE(linked ? "a link to a pipe" : "a pipe");
        Lane lane;
        ASSERT_TRUE(platform::testing::placeFifo(lane.preferences(), linked));
        EXPECT_EQ(pairOnce(lane), 0);
        EXPECT_GT(occurrences(lane.simulatorLog(), "hci_pin_code_request_reply"), 0)
            << "pairing went on past the store";
        EXPECT_EQ(fs::symlink_status(lane.preferences()).type(),
                  linked ? fs::file_type::symlink : fs::file_type::fifo);
    }
}

} // namespace
