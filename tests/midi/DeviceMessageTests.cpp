// The message layout, the unit test for received bytes, and the serial text.

#include <gtest/gtest.h>

#include <memory>

#include "modules/midi/DeviceMessage.h"
#include "modules/midi/MidiDevice.h"

namespace {

using Bytes = std::vector<uint8_t>;

TEST(FormatSerial, ShufflesAndSumsTheDigits) {
    struct Case {
        int32_t id;
        const char* serial;
    };
    const Case cases[] = {
        {1234567, "363-414-522"},
        {1, "000-000-010"},
        {268435455, "355-581-494"},
        {987654321, "524-472-346"},
        {100000000, "001-000-000"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.id);
        UnitSerial serial = FormatSerial(c.id);
        EXPECT_STREQ(serial.data(), c.serial);
        EXPECT_EQ(serial[11], '\0');
    }
}

TEST(DeviceMessage, BuildsTheIdInSevenBitGroups) {
    struct Case {
        uint8_t type;
        int32_t id;
        Bytes payload;
        Bytes expected;
    };
    const Case cases[] = {
        {0x11, 1234567, {}, {0xF0, 0x00, 0x11, 0x22, 0x11, 0x07, 0x2D, 0x4B, 0x00, 0x10, 0x01, 0xF7}},
        {0x12, 268435455, {0xAA}, {0xF0, 0x00, 0x11, 0x22, 0x12, 0x7F, 0x7F, 0x7F, 0x7F, 0x10, 0x01, 0xAA, 0xF7}},
    };
    for (const Case& c : cases) {
        std::unique_ptr<uint8_t[]> bytes(
            devicemessage::Build(c.type, c.id, 0x10, 0x01, c.payload.data(), c.payload.size()));
        EXPECT_EQ(Bytes(bytes.get(), bytes.get() + c.payload.size() + 12), c.expected);
    }
    std::unique_ptr<uint8_t[]> probe(devicemessage::BuildProbe());
    EXPECT_EQ(Bytes(probe.get(), probe.get() + 12),
              (Bytes{0xF0, 0x00, 0x11, 0x22, 0x00, 0x00, 0x00, 0x00, 0x00, 0x02, 0x00, 0xF7}));
}

TEST(DeviceMessage, RecognisesUnitMessagesOnly) {
    struct Case {
        const char* name;
        Bytes bytes;
        bool unit;
        int32_t id;
        size_t count;
    };
    const Case cases[] = {
        {"no payload",
         {0xF0, 0x00, 0x11, 0x22, 0x11, 0x07, 0x2D, 0x4B, 0x00, 0x37, 0x05, 0xF7},
         true,
         1234567,
         0},
        {"11 bytes: F7 where the value would be",
         {0xF0, 0x00, 0x11, 0x22, 0x0B, 0x01, 0x00, 0x00, 0x00, 0x03, 0xF7},
         true,
         1,
         0},
        {"payload", {0xF0, 0x00, 0x11, 0x22, 0x0A, 0x01, 0, 0, 0, 1, 2, 3, 4, 0xF7}, true, 1, 2},
        // The services hand over whole messages: one without its F7 is a part.
        {"no F7 at the end",
         {0xF0, 0x00, 0x11, 0x22, 0x0A, 0x01, 0, 0, 0, 1, 2, 3, 4, 0x00},
         false,
         0,
         0},
        // Id bytes are taken whole: 8 bits each.
        {"whole id bytes",
         {0xF0, 0x00, 0x11, 0x22, 0x12, 0x80, 0x00, 0x00, 0xFF, 1, 2, 0xF7},
         true,
         static_cast<int32_t>(0x80u | 0xFFu << 21),
         0},
        {"10 bytes", {0xF0, 0x00, 0x11, 0x22, 0x11, 0x07, 0x2D, 0x4B, 0x00, 0x37}, false, 0, 0},
        {"FF in byte 5",
         {0xF0, 0x00, 0x11, 0x22, 0x11, 0xFF, 0x2D, 0x4B, 0x00, 0x37, 0x05, 0xF7},
         false,
         0,
         0},
        {"id 0",
         {0xF0, 0x00, 0x11, 0x22, 0x11, 0x00, 0x00, 0x00, 0x00, 0x37, 0x05, 0xF7},
         false,
         0,
         0},
        {"type 10",
         {0xF0, 0x00, 0x11, 0x22, 0x10, 0x07, 0x2D, 0x4B, 0x00, 0x37, 0x05, 0xF7},
         false,
         0,
         0},
        {"type 0",
         {0xF0, 0x00, 0x11, 0x22, 0x00, 0x07, 0x2D, 0x4B, 0x00, 0x37, 0x05, 0xF7},
         false,
         0,
         0},
        {"other maker",
         {0xF0, 0x00, 0x21, 0x22, 0x11, 0x07, 0x2D, 0x4B, 0x00, 0x37, 0x05, 0xF7},
         false,
         0,
         0},
        {"no start byte",
         {0xF1, 0x00, 0x11, 0x22, 0x11, 0x07, 0x2D, 0x4B, 0x00, 0x37, 0x05, 0xF7},
         false,
         0,
         0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        devicemessage::UnitMessage message;
        const char* fault = nullptr;
        ASSERT_EQ(
            devicemessage::RecogniseUnitMessage(c.bytes.data(), c.bytes.size(), &message, &fault),
            c.unit);
        // A refusal always says why.
        EXPECT_EQ(fault != nullptr, !c.unit);
        if (!c.unit) continue;
        EXPECT_EQ(message.id, c.id);
        EXPECT_EQ(message.type, c.bytes[4]);
        EXPECT_EQ(message.command, c.bytes[9]);
        EXPECT_EQ(message.value, c.bytes[10]);
        EXPECT_EQ(message.count, c.count);
        EXPECT_EQ(message.payload, c.bytes.data() + 11);
    }
    EXPECT_FALSE(devicemessage::RecogniseUnitMessage(nullptr, 20, nullptr));
}

TEST(DeviceMessage, Texts) {
    const uint8_t payload[] = {0x01, 0x02};
    EXPECT_EQ(devicemessage::ReceiveText(0x11, 1234567, 0x37, 0x05, payload, 2), L"110012d68737050102");
    EXPECT_EQ(devicemessage::ReceiveText(0x0A, 268435455, 0xFF, 0x00, nullptr, 0), L"0a0fffffffff00");
    EXPECT_EQ(devicemessage::ListStart(), L"00000000000001");
    MidiDevice::Unit unit{1234567, FormatSerial(1234567), 0x11};
    EXPECT_EQ(devicemessage::Announcement(unit), L"110012d68700013336332d3431342d3532320011");
}

}  // namespace
