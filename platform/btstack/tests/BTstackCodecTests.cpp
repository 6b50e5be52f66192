#include "BTstackCodec.h"
#include "FrameReader.h"

#include <fstream>
#include <gtest/gtest.h>
#include <sstream>

using namespace platform::btstack;

namespace {

// Captured frames are kept as hex text, '#' lines being comments.
Bytes captured(const std::string &name) {
    const std::string folder = BTSTACK_TEST_DATA;
    std::ifstream file(folder + "/" + name);
    EXPECT_TRUE(file) << name;
    Bytes bytes;
    std::string line;
    while (std::getline(file, line)) {
        if (line.starts_with("#"))
            continue;
        std::istringstream words(line);
        std::string word;
        while (words >> word)
            bytes.push_back(static_cast<std::uint8_t>(std::stoul(word, nullptr, 16)));
    }
    return bytes;
}

Bytes frameOf(const std::optional<Bytes> &command) {
    EXPECT_TRUE(command.has_value());
    return command ? encodeFrame(HCI_COMMAND_DATA_PACKET, 0, *command) : Bytes{};
}

const bd_addr_t kAddress = {0x00, 0x11, 0x22, 0x33, 0x44, 0x55};

} // namespace

TEST(BTstackCodec, EncodesCommandsAsCaptured) {
    EXPECT_EQ(frameOf(buildCommand(&btstack_set_power_mode, HCI_POWER_ON)),
              captured("power-on.hex"));
    EXPECT_EQ(frameOf(buildCommand(&l2cap_create_channel_mtu, kAddress, 0x11, 672)),
              captured("create-channel-mtu.hex"));
    EXPECT_EQ(frameOf(buildCommand(&hci_inquiry, 0x9E8B33, 1, 0)), captured("inquiry.hex"));
    EXPECT_EQ(frameOf(buildCommand(&hci_disconnect, 0x000B, 0x13)), captured("disconnect.hex"));
}

TEST(BTstackCodec, ShortPinIsPaddedNotOverread) {
    // The PIN literal is only 5 bytes long; the 16-byte field must come from those 4 and zeros.
    EXPECT_EQ(frameOf(buildCommand(&hci_pin_code_request_reply, kAddress, 4, "5820")),
              captured("pin-code-reply.hex"));
    auto key = buildCommand(&hci_link_key_request_reply, kAddress,
                            "0123456789abcdef"); // a key has no length before it: all 16 bytes
    ASSERT_TRUE(key);
    EXPECT_EQ(std::string(key->begin() + 9, key->end()), "0123456789abcdef");
}

TEST(BTstackCodec, DecodesWhatItEncodes) {
    auto bytes = buildCommand(&l2cap_create_channel_mtu, kAddress, 0x13, 250);
    ASSERT_TRUE(bytes);
    auto command = decodeCommand(*bytes);
    ASSERT_TRUE(command);
    EXPECT_EQ(command->descriptor, &l2cap_create_channel_mtu);
    EXPECT_TRUE(command->handledByDaemon());
    EXPECT_EQ(command->value("psm"), 0x13u);
    EXPECT_EQ(command->value("mtu"), 250u);
    EXPECT_EQ(describeCommand(*command),
              "l2cap_create_channel_mtu address=00:11:22:33:44:55 psm=0x0013 mtu=0x00fa");

    auto pin = decodeCommand(*buildCommand(&hci_pin_code_request_reply, kAddress, 4, "7391"));
    ASSERT_TRUE(pin);
    EXPECT_FALSE(pin->handledByDaemon());
    EXPECT_EQ(describeCommand(*pin),
              "hci_pin_code_request_reply address=00:11:22:33:44:55 pin_length=4 pin=7391");
    EXPECT_EQ(describeCommand(*decodeCommand(*buildCommand(&hci_inquiry, 0x9E8B33, 1, 0))),
              "hci_inquiry lap=0x9e8b33 length=1 responses=0");
}

TEST(BTstackCodec, RefusesMalformedCommands) {
    EXPECT_FALSE(decodeCommand(Bytes{0x45, 0x0C}));             // no length byte
    EXPECT_FALSE(decodeCommand(Bytes{0x45, 0x0C, 0x01}));       // declared 1, carries 0
    EXPECT_FALSE(decodeCommand(Bytes{0x26, 0xF4, 0x02, 1, 2})); // too short for "B22"
    EXPECT_FALSE(decodeCommand(Bytes{0x45, 0x0C, 0x02, 1, 2})); // longer than its format
    auto unknown = decodeCommand(Bytes{0x34, 0x12, 0x01, 0x07});
    ASSERT_TRUE(unknown);
    EXPECT_EQ(describeCommand(*unknown), "unknown opcode=0x1234 parameters=07");
}

TEST(BTstackCodec, ReadsFramesHoweverTheyArrive) {
    Bytes stream = captured("inquiry-result-rssi.hex");
    Bytes power = captured("power-on.hex");
    stream.insert(stream.end(), power.begin(), power.end());

    FrameReader reader;
    std::vector<Frame> frames;
    for (auto byte : stream) { // one byte at a time
        reader.append(std::span(&byte, 1));
        while (auto frame = reader.next())
            frames.push_back(*frame);
    }
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[0].type, HCI_EVENT_PACKET);
    EXPECT_EQ(frames[0].payload.size(), 17u);
    EXPECT_EQ(frames[0].payload[0], HCI_EVENT_INQUIRY_RESULT_WITH_RSSI);
    EXPECT_EQ(readLE24(frames[0].payload, 3 + 8 + 0), 0x002508u);
    EXPECT_EQ(frames[1].type, HCI_COMMAND_DATA_PACKET);
    EXPECT_EQ(frames[1].payload, Bytes(power.begin() + 6, power.end()));

    FrameReader whole; // both frames in one read
    whole.append(stream);
    EXPECT_TRUE(whole.next());
    EXPECT_TRUE(whole.next());
    EXPECT_FALSE(whole.next());
}

TEST(BTstackCodec, RefusesPayloadsLongerThanTheDaemonBuffer) {
    FrameReader reader;
    Bytes header = {0x04, 0x00, 0x00, 0x00, 0x02, 0x04}; // 1026 bytes announced
    reader.append(header);
    EXPECT_FALSE(reader.next());
    EXPECT_TRUE(reader.broken());
    reader.append(captured("power-on.hex"));
    EXPECT_FALSE(reader.next());

    FrameReader largest;
    Bytes frame = encodeFrame(HCI_EVENT_PACKET, 0, Bytes(kMaxPayloadSize, 0xAA));
    largest.append(frame);
    auto accepted = largest.next();
    ASSERT_TRUE(accepted);
    EXPECT_EQ(accepted->payload.size(), kMaxPayloadSize);
}

TEST(BTstackCodec, BoundedReadsStopAtTheEnd) {
    Bytes five = {0x74, 0x03, 0x40, 0x00, 0x01};
    EXPECT_EQ(readLE16(five, 2), 0x0040u);
    EXPECT_EQ(readLE16(five, 3), 0x0100u);
    EXPECT_FALSE(readLE16(five, 4));
    EXPECT_FALSE(readLE16(five, 100));
    EXPECT_FALSE(readLE24(five, 3));
    EXPECT_FALSE(readAddress(five, 0));

    Address address{0x00, 0x11, 0x22, 0x33, 0x44, 0x55};
    Bytes wire;
    appendAddress(wire, address);
    EXPECT_EQ(wire, (Bytes{0x55, 0x44, 0x33, 0x22, 0x11, 0x00}));
    EXPECT_EQ(readAddress(wire, 0), address);

    bd_addr_t flipped;
    bt_flip_addr(flipped, wire.data());
    EXPECT_EQ(Bytes(flipped, flipped + 6), Bytes(address.begin(), address.end()));
}

TEST(BTstackCodec, AddressText) {
    auto address = parseAddress("00:1b:DC:0f:00:01");
    ASSERT_TRUE(address);
    EXPECT_EQ(formatAddress(*address), "00:1B:DC:0F:00:01");
    EXPECT_FALSE(parseAddress("00:1b:DC:0f:00"));
    EXPECT_FALSE(parseAddress("00-1b-DC-0f-00-01"));
    EXPECT_FALSE(parseAddress("00:1b:DC:0f:00:0g"));
}
