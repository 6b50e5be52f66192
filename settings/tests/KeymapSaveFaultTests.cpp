// The keymap editor's save under SIGKILL: the Settings app stand-in, worked through its
// session-bus handle, opens the editor, binds a key and leaves it (which saves the keymap) again
// and again until it is killed at a random moment. The preferences file must always be whole. Runs:
// NBR_FAULT_RUNS (default 200).
#include "ChildProcess.h"
#include "NBRConstants.h"
#include "PlistValue.h"
#include "PreferencesHandle.h"
#include "TestDeviceRoot.h"
#include "TestTimeScale.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <gtest/gtest.h>
#include <random>
#include <thread>

using platform::PlistValue;
using platform::testing::ChildProcess;
namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

// Opens the editor, binds a key to Pause (a visit without one writes nothing) and leaves it.
bool visit(int n) {
    using platform::testing::preferencesDid;
    const int waitMs = int(platform::testing::scaled(2000ms).count());
    return preferencesDid("Tap", {QString(NBRPairSpecifierID)}, waitMs) &&
           preferencesDid("Tap", {QString("Pause")}, waitMs) &&
           preferencesDid("Key", {n % 2 ? 19 : 18}, waitMs) /* P or O */ &&
           preferencesDid("Back", {}, waitMs);
}

constexpr int kShards = 4;

class KeymapSave : public ::testing::TestWithParam<int> {};

TEST_P(KeymapSave, KilledWhileSavingNeverLeavesAPartialFile) {
    platform::testing::TestDeviceRoot root;
    root.addPreferenceBundle(BUNDLE_DIR);
    const std::string path = root.path(NBRPreferencesPath);
    const PlistValue::Dictionary kept{{NBRControllerTypeKey, 6},
                                      {NBRLEDColorKey, "abcdef"},
                                      {"Padding", PlistValue::Data(256 * 1024, 0x5a)}};
    ASSERT_TRUE(root.writePlist(NBRPreferencesPath, kept, platform::PlistFormat::Binary));
    const char *runsText = std::getenv("NBR_FAULT_RUNS");
    const int allRuns = runsText != nullptr ? std::atoi(runsText) : 200;
    const int runs = allRuns / kShards + (GetParam() < allRuns % kShards ? 1 : 0);
    if (runs == 0)
        GTEST_SKIP() << "no run left for this shard";
    const unsigned seed = static_cast<unsigned>(std::random_device{}());
    std::printf("keymap saves, shard %d of %d: seed %u\n", GetParam() + 1, kShards, seed);
    std::mt19937 random(seed);

    int whole = 0, saves = 0, midWrite = 0;
    for (int run = 0; run < runs; ++run) {
        ChildProcess settings(PREFERENCES_PATH, {"--open", "Nimbrel"});
        ASSERT_TRUE(settings.waitForLine("ready"));
        // One save before the kill is armed, so every run kills an editor that has saved, on a
        // machine of any speed (a sanitizer build is several times slower).
        ASSERT_TRUE(visit(run));
        ++saves;
        const pid_t pid = settings.pid();
        // The kill's window stretches with the build, so that visits still end inside it.
        std::thread killer([pid, delay = random() % platform::testing::scaled(400ms).count()] {
            std::this_thread::sleep_for(std::chrono::milliseconds(delay));
            ::kill(pid, SIGKILL);
        });
        // Open the editor and go back (the save) until the process is gone.
        for (int visits = 1; visit(run + visits); ++visits)
            ++saves;
        killer.join();
        settings.wait(5s);

        auto file = platform::readPlistDictionary(path);
        bool intact = file.has_value() && file->count(NBRKeyboardKeymapKey) <= 1;
        for (const auto &[key, value] : kept)
            intact = intact && file->count(key) && file->at(key) == value;
        whole += intact;
        EXPECT_TRUE(intact) << "run " << run;
        // A temporary sibling left behind is a kill that landed inside a write.
        for (const auto &entry : fs::directory_iterator(fs::path(path).parent_path()))
            if (entry.path() != path) {
                ++midWrite;
                fs::remove(entry.path());
            }
    }
    std::printf("keymap saves: %d kills, %d saves, file whole after %d, %d kills inside a "
                "write\n",
                runs, saves, whole, midWrite);
    EXPECT_EQ(whole, runs);
    EXPECT_GT(saves, runs) << "no kill came while the editor went on saving";
}

INSTANTIATE_TEST_SUITE_P(Shard, KeymapSave, ::testing::Range(0, kShards));

} // namespace
