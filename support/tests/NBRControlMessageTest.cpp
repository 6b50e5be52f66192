#include "NBRControlSocket.h"

#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <sstream>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

namespace {

std::map<std::string, std::string> capturedMessages() {
    std::map<std::string, std::string> messages;
    std::ifstream file(CONTROL_MESSAGES_DATA);
    for (std::string line; std::getline(file, line);) {
        if (line.empty() || line[0] == '#')
            continue;
        std::istringstream fields(line);
        std::string name, hex;
        fields >> name >> hex;
        messages[name] = hex;
    }
    return messages;
}

std::string hex(const std::uint8_t *bytes, std::size_t length) {
    std::string text;
    char pair[3];
    for (std::size_t i = 0; i < length; ++i) {
        std::snprintf(pair, sizeof pair, "%02x", bytes[i]);
        text += pair;
    }
    return text;
}

// What the client writes for one operation, read back from the other end of a socket pair.
template <typename Operation> std::string wireBytes(Operation operation) {
    int pair[2];
    EXPECT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, pair), 0);
    ::shutdown(pair[1], SHUT_WR); // no reply will come: reads end at once
    operation(pair[0]);
    ::shutdown(pair[0], SHUT_WR);
    std::string text;
    std::uint8_t buffer[64];
    for (ssize_t n; (n = ::read(pair[1], buffer, sizeof buffer)) > 0;)
        text += hex(buffer, static_cast<std::size_t>(n));
    ::close(pair[0]);
    ::close(pair[1]);
    return text;
}

} // namespace

TEST(ControlMessage, LayoutIsTwentyBytesLittleEndian) {
    NBRControlMessage message;
    message.command = 0x01020304;
    message.controllerType = -2;
    message.flag = 0xAB;
    for (int i = 0; i < 6; ++i)
        message.payload[i] = static_cast<std::uint8_t>(0x10 + i);
    const auto bytes = NBRControlEncode(message);
    EXPECT_EQ(hex(bytes.data(), bytes.size()), "04030201feffffffab000000101112131415"
                                               "0000");
    const NBRControlMessage back = NBRControlDecode(bytes);
    EXPECT_EQ(back.command, message.command);
    EXPECT_EQ(back.controllerType, -2);
    EXPECT_EQ(back.flag, 0xAB);
    EXPECT_EQ(back.payload[5], 0x15);
}

TEST(ControlMessage, PrefixLengthFollowsTheCommand) {
    EXPECT_EQ(NBRControlMessageLength(NBRControlCommandDisconnect), 12u);
    EXPECT_EQ(NBRControlMessageLength(NBRControlCommandConnect), 20u);
    EXPECT_EQ(NBRControlMessageLength(NBRControlCommandRestart), 20u);
    EXPECT_EQ(NBRControlMessageLength(NBRControlCommandSetLightColor), 16u);
    EXPECT_EQ(NBRControlMessageLength(NBRControlCommandQueryStatus), 12u);
    EXPECT_EQ(NBRControlMessageLength(NBRControlCommandRelease), 12u);
    EXPECT_EQ(NBRControlMessageLength(NBRControlReplyAcknowledge), 12u);
    EXPECT_EQ(NBRControlMessageLength(99), 12u);
}

TEST(ControlMessage, DecodingShortInputZeroFillsInsteadOfReadingPast) {
    const std::uint8_t reply[5] = {7, 0, 0, 0, 1};
    const NBRControlMessage message = NBRControlDecode(reply);
    EXPECT_EQ(message.command, 7);
    EXPECT_EQ(message.controllerType, 1);
    EXPECT_EQ(NBRControlDecode({}).command, 0);
}

TEST(ControlMessage, OperationsSendTheCapturedBytes) {
    auto captured = capturedMessages();
    ASSERT_EQ(captured.size(), 9u);
    const std::uint8_t address[6] = {0x0a, 0x1b, 0x2c, 0x3d, 0x4e, 0x5f};

    EXPECT_EQ(wireBytes([](int fd) { NBRControlQueryStatus(fd); }), captured["status-query"]);
    EXPECT_EQ(wireBytes([](int fd) { NBRControlSetLightColor(fd, 0xFF8000); }),
              captured["light-color-ff8000"]);
    EXPECT_EQ(wireBytes([](int fd) { NBRControlRestart(fd); }), captured["restart"]);
    EXPECT_EQ(wireBytes([](int fd) { NBRControlDisconnect(fd, 1); }),
              captured["disconnect-type1"] + captured["release-after-disconnect"]);
    // No reply comes on the pair, so each connect also sends the release of a failed connect.
    EXPECT_EQ(wireBytes([&](int fd) { NBRControlConnect(fd, 1, address); }),
              captured["connect-type1"] + captured["release-after-failure"]);
    EXPECT_EQ(wireBytes([&](int fd) { NBRControlConnect(fd, 0, address); }),
              captured["connect-type0"] + captured["release-after-failure"])
        << "type 0 carries no address";
    const std::uint8_t shortAddress[5] = {1, 2, 3, 4, 5};
    EXPECT_EQ(wireBytes([&](int fd) { NBRControlConnect(fd, 0, shortAddress); }),
              captured["connect-type0"] + captured["release-after-failure"]);

    NBRControlMessage ack;
    ack.command = NBRControlReplyAcknowledge;
    ack.controllerType = 1;
    const auto ackBytes = NBRControlEncode(ack);
    EXPECT_EQ(hex(ackBytes.data(), NBRControlReplySize), captured["reply-acknowledge-type1"]);
}

TEST(ControlMessage, StatusReplyMeaning) {
    NBRControlMessage reply;
    reply.controllerType = 1;
    EXPECT_TRUE(NBRConnectedAfterStatusReply(reply, false));
    reply.controllerType = 0;
    EXPECT_TRUE(NBRConnectedAfterStatusReply(reply, false)) << "type 0 is a connected PS3";
    reply.controllerType = NBRControlReplyAcknowledge;
    EXPECT_TRUE(NBRConnectedAfterStatusReply(reply, true)) << "7 leaves a set flag set";
    EXPECT_FALSE(NBRConnectedAfterStatusReply(reply, false)) << "and a clear one clear";
    EXPECT_FALSE(NBRConnectedAfterStatusReply(std::nullopt, true)) << "no reply: not connected";
}

TEST(ControlSocketAddress, LengthBeyondThePathFieldIsRefused) {
    std::string longPath(300, 'a');
    EXPECT_EQ(NBRConnecToUNIXSocket(longPath.c_str(), 300), -1);
    EXPECT_EQ(NBRConnecToUNIXSocket(longPath.c_str(), 109), -1);
    EXPECT_EQ(NBRConnecToUNIXSocket("/tmp/x", 0), -1);
    EXPECT_EQ(NBRConnecToUNIXSocket("/tmp/x", -5), -1);
    EXPECT_EQ(NBRConnecToUNIXSocket(nullptr, 21), -1);
    EXPECT_EQ(NBRConnecToUNIXSocket("/nonexistent/socket", 20), -1);
}
