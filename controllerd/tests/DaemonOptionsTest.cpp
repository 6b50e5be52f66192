#include "DaemonOptions.h"

#include <gtest/gtest.h>

namespace {

std::optional<DaemonOptions> parse(std::vector<std::string> arguments,
                                   std::string *error = nullptr) {
    std::string message;
    auto options = DaemonOptions::parse(arguments, message);
    if (error)
        *error = message;
    return options;
}

} // namespace

TEST(DaemonOptions, EveryFault) {
    auto options = parse({"--log", "/tmp/x.log", "--timestamps", "--never-answer",
                          "--close-without-reply", "--refuse-connect", "--short-reply", "5",
                          "--partial-reply", "11", "--trickle", "250", "--delay", "30",
                          "--connect-delay", "0", "--connected", "1,00:1b:dc:0f:e2:7a"});
    ASSERT_TRUE(options);
    EXPECT_EQ(options->logPath, "/tmp/x.log");
    EXPECT_TRUE(options->timestamps);
    EXPECT_TRUE(options->neverAnswer);
    EXPECT_TRUE(options->closeWithoutReply);
    EXPECT_TRUE(options->refuseConnect);
    EXPECT_EQ(options->shortReply, 5);
    EXPECT_EQ(options->partialReply, 11);
    EXPECT_EQ(options->trickleMs, 250);
    EXPECT_EQ(options->replyDelayMs, 30);
    EXPECT_EQ(options->connectDelayMs, 0);
    EXPECT_EQ(options->connectedType, 1);
    EXPECT_EQ(options->connectedAddress,
              (std::array<std::uint8_t, 6>{0x00, 0x1b, 0xdc, 0x0f, 0xe2, 0x7a}));

    auto plain = parse({});
    ASSERT_TRUE(plain);
    EXPECT_FALSE(plain->connectedType);
    EXPECT_FALSE(plain->timestamps);
    EXPECT_EQ(plain->shortReply, -1);
    EXPECT_EQ(plain->partialReply, -1);
    EXPECT_EQ(plain->trickleMs, 0);
    EXPECT_EQ(parse({"--connected", "6"})->connectedAddress, (std::array<std::uint8_t, 6>{}));
}

TEST(DaemonOptions, BadInputIsNamed) {
    std::string error;
    EXPECT_FALSE(parse({"--delay"}, &error));
    EXPECT_EQ(error, "--delay needs a value");
    EXPECT_FALSE(parse({"--delay", "-3"}, &error));
    EXPECT_FALSE(parse({"--delay", "12ms"}, &error));
    EXPECT_EQ(error, "--delay: not a number: 12ms");
    EXPECT_FALSE(parse({"--connected", "7"}, &error)) << "types are 0 to 6";
    EXPECT_FALSE(parse({"--connected", "1,00:1b:dc"}, &error));
    EXPECT_FALSE(parse({"--connected", "1,zz1bdc0fe27a"}, &error));
    EXPECT_FALSE(parse({"--loud"}, &error));
    EXPECT_EQ(error, "unknown option --loud");
}

TEST(DaemonOptions, TheBackendIsChosenAndAConnectIsOnlySimulatedByTheSimulator) {
    EXPECT_EQ(parse({})->backend, DaemonOptions::Backend::Simulator);
    EXPECT_EQ(parse({"--backend", "linux", "--timestamps"})->backend,
              DaemonOptions::Backend::Linux);
    EXPECT_EQ(parse({"--backend", "simulator", "--connected", "1"})->backend,
              DaemonOptions::Backend::Simulator);

    EXPECT_TRUE(parse({"--backend", "linux", "--grab-keyboards"})->grabKeyboards);
    std::string error;
    EXPECT_FALSE(parse({"--grab-keyboards"}, &error)) << "the simulator has no keyboard to grab";
    EXPECT_FALSE(parse({"--backend", "bluez"}, &error));
    EXPECT_EQ(error, "--backend: expected simulator or linux, got bluez");
    for (std::vector<std::string> simulated :
         {std::vector<std::string>{"--refuse-connect"}, {"--connect-delay", "5"},
          {"--connected", "1"}}) {
        // Either order: the check waits for the whole command line.
        auto before = simulated, after = simulated;
        before.insert(before.begin(), {"--backend", "linux"});
        after.insert(after.end(), {"--backend", "linux"});
        EXPECT_FALSE(parse(before, &error)) << simulated[0];
        EXPECT_FALSE(parse(after, &error)) << simulated[0];
        EXPECT_NE(error.find("not with --backend linux"), std::string::npos) << error;
    }
}
