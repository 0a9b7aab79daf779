#pragma once
// Long unit messages through the device module, one table for every backend:
// sizes from the shortest message to the bound arrive on "Receive" whole, as one
// text; a message over the bound and one cut short are dropped with one warning
// each, and the next message still arrives; the input port keeps every buffer.
// The same sizes go out through "Send" and reach the unit exactly; over the
// bound, "Send" refuses with one warning and sends nothing.
//
// The unit is 11:1234567, played by the simulator (in the process, or the
// simulator program on JACK, PipeWire's JACK or ALSA), which answers a dump
// request with a dump of the length asked for (UnitSimulator.h). A rig gives:
//   void Send(const std::wstring& text)          writes "Send"
//   bool Await(std::function<bool()> done)       lets time pass until done holds
//                                                (false when it did not in time)
//   const std::vector<std::wstring>& Received()  every "Receive" text so far
//   bool ReachedUnit(const Bytes& message)       the unit got exactly this message
//   size_t QueuedBuffers()                       buffers queued on the unit's input
//   int Attempts()                               tries per row: a real backend on
//                                                an unprivileged server loses an
//                                                event now and then

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "modules/midi/TannevaleMidi.h"
#include "modules/midi/services/MidiServices.h"
#include "modules/midi/services/UnitSimulator.h"
#include "support/WarningLog.h"

namespace miditest {

using LongBytes = std::vector<uint8_t>;

enum class LongOutcome { Whole, OverBound, CutShort };

struct LongCase {
    const char* what;
    size_t length;  // on the wire, F0 through F7
    LongOutcome outcome;
};

inline const LongCase LongCases[] = {
    {"the shortest with a value", 12, LongOutcome::Whole},
    {"one byte short of a buffer", 1023, LongOutcome::Whole},
    {"one buffer", 1024, LongOutcome::Whole},
    {"one byte over a buffer", 1025, LongOutcome::Whole},
    {"4096 bytes", 4096, LongOutcome::Whole},
    {"a 16000-byte dump", 16000, LongOutcome::Whole},
    {"the bound", midi::MaxLongMessage, LongOutcome::Whole},
    {"one byte over the bound", midi::MaxLongMessage + 1, LongOutcome::OverBound},
    {"a dump cut short", 4096, LongOutcome::CutShort},
};

constexpr uint8_t LongUnitType = 0x11;
constexpr int32_t LongUnitId = 1234567;
const std::wstring LongUnitSendId = L"0012d687";

inline std::wstring HexText(const LongBytes& bytes) {
    static const wchar_t Digits[] = L"0123456789abcdef";
    std::wstring text;
    text.reserve(2 * bytes.size());
    for (uint8_t b : bytes) {
        text += Digits[b >> 4];
        text += Digits[b & 0xF];
    }
    return text;
}

// "Send" for a dump request of `length` bytes (cut short when asked).
inline std::wstring DumpRequestText(size_t length, bool cut) {
    return LongUnitSendId + (cut ? L"42" : L"40") + L"00" +
           HexText(midi::UnitSimulator::DumpRequestPayload(length));
}

// What "Receive" shows for the unit's dump of `length` bytes.
inline std::wstring DumpReceiveText(size_t length) {
    LongBytes dump = midi::UnitSimulator::Dump(LongUnitType, LongUnitId, length);
    // type, id, command, value, payload: the message without F0 00 11 22, the
    // id as 8 digits, and without F7.
    LongBytes payload(dump.begin() + 11, dump.end() - 1);
    wchar_t head[16];
    std::swprintf(head, 16, L"%02x%08x%02x%02x", unsigned(LongUnitType), unsigned(LongUnitId),
                  unsigned(midi::UnitSimulator::DumpAnswer), 0u);
    return head + HexText(payload);
}

// A message of `length` bytes to the unit that it takes without answering
// (command 0x7E), its payload counting like a dump's.
inline LongBytes LongOutgoing(size_t length) {
    LongBytes payload(length - 12);
    for (size_t i = 0; i < payload.size(); ++i) payload[i] = uint8_t(i & 0x7F);
    return midi::UnitSimulator::Message(LongUnitType, LongUnitId, 0x7E, 0x00, payload);
}

inline std::wstring LongOutgoingText(size_t length) {
    LongBytes message = LongOutgoing(length);
    return LongUnitSendId + HexText(LongBytes(message.begin() + 9, message.end() - 1));
}

// The warnings about dropped messages, leaving out drops of input that the
// backend lost (an unprivileged server loses an event now and then; the row
// is then tried again).
inline std::vector<std::string> DropWarnings(korvotest::WarningLog& log) {
    std::vector<std::string> drops;
    for (const std::string& w : log.With("dropped"))
        if (w.find("input was lost") == std::string::npos) drops.push_back(w);
    return drops;
}

inline bool ReceivedSince(const std::vector<std::wstring>& received, size_t mark,
                          const std::wstring& text) {
    for (size_t i = mark; i < received.size(); ++i)
        if (received[i] == text) return true;
    return false;
}

// A parameter read and its reply: the message that must still arrive after a drop.
inline bool NextMessageArrives(auto& rig) {
    for (int attempt = 0; attempt < rig.Attempts(); ++attempt) {
        const size_t mark = rig.Received().size();
        rig.Send(LongUnitSendId + L"2005");
        if (rig.Await([&] {
                for (size_t i = mark; i < rig.Received().size(); ++i)
                    if (rig.Received()[i].compare(0, 14, L"110012d6872105") == 0) return true;
                return false;
            }))
            return true;
    }
    return false;
}

template <class Rig>
void WalkLongMessagesIn(Rig& rig) {
    // A poll's report may be on its way to the module, its buffer taken from
    // the queue and not yet replaced: the queue is full again once it is handled.
    const size_t buffers = TannevaleMidi::InputBufferCount;
    EXPECT_TRUE(rig.Await([&] { return rig.QueuedBuffers() == buffers; }));
    for (const LongCase& row : LongCases) {
        SCOPED_TRACE(row.what);
        korvotest::WarningLog warnings;
        const std::wstring request =
            DumpRequestText(row.length, row.outcome == LongOutcome::CutShort);
        if (row.outcome == LongOutcome::Whole) {
            const std::wstring expected = DumpReceiveText(row.length);
            bool arrived = false;
            for (int attempt = 0; attempt < rig.Attempts() && !arrived; ++attempt) {
                const size_t mark = rig.Received().size();
                rig.Send(request);
                arrived = rig.Await([&] { return ReceivedSince(rig.Received(), mark, expected); });
            }
            EXPECT_TRUE(arrived) << "no whole dump of " << row.length << " bytes on \"Receive\"";
            EXPECT_EQ(DropWarnings(warnings), std::vector<std::string>{});
        } else {
            const std::string reason = row.outcome == LongOutcome::OverBound
                                           ? "longer than the bound of 65536 bytes"
                                           : "cut short by status byte 0x80 before its F7";
            const std::string length =
                "of " +
                std::to_string(row.outcome == LongOutcome::OverBound ? row.length
                                                                     : row.length - 1) +
                " bytes dropped";
            const size_t mark = rig.Received().size();
            bool warned = false;
            for (int attempt = 0; attempt < rig.Attempts() && !warned; ++attempt) {
                rig.Send(request);
                warned = rig.Await([&] { return !DropWarnings(warnings).empty(); });
            }
            ASSERT_TRUE(warned) << "no warning for the dropped message";
            const std::vector<std::string> drops = DropWarnings(warnings);
            EXPECT_EQ(drops.size(), 1u);
            EXPECT_NE(drops[0].find(length), std::string::npos) << drops[0];
            EXPECT_NE(drops[0].find(reason), std::string::npos) << drops[0];
            // Not a part of it reached "Receive".
            for (size_t i = mark; i < rig.Received().size(); ++i)
                EXPECT_NE(rig.Received()[i].compare(0, 14, L"110012d6874100"), 0)
                    << "a part was delivered";
        }
        EXPECT_TRUE(NextMessageArrives(rig)) << "the message after it did not arrive";
    }
    EXPECT_TRUE(rig.Await([&] { return rig.QueuedBuffers() == buffers; }))
        << rig.QueuedBuffers() << " buffers queued";
}

template <class Rig>
void WalkLongMessagesOut(Rig& rig) {
    for (const LongCase& row : LongCases) {
        if (row.outcome == LongOutcome::CutShort) continue;  // "Send" builds whole messages only
        SCOPED_TRACE(row.what);
        korvotest::WarningLog warnings;
        const LongBytes message = LongOutgoing(row.length);
        if (row.outcome == LongOutcome::Whole) {
            bool reached = false;
            for (int attempt = 0; attempt < rig.Attempts() && !reached; ++attempt) {
                rig.Send(LongOutgoingText(row.length));
                reached = rig.Await([&] { return rig.ReachedUnit(message); });
            }
            EXPECT_TRUE(reached) << "the unit did not get the " << row.length
                                 << "-byte message exactly";
            EXPECT_EQ(warnings.With("not sent"), std::vector<std::string>{});
            continue;
        }
        rig.Send(LongOutgoingText(row.length));
        const std::vector<std::string> refusals = warnings.With("not sent");
        ASSERT_EQ(refusals.size(), 1u);
        EXPECT_NE(refusals[0].find(
                      "message to unit 0012d687 not sent: 65537 bytes, longer than the bound "
                      "of 65536 bytes"),
                  std::string::npos)
            << refusals[0];
        // Whatever went out after it arrives, and it never did.
        EXPECT_TRUE(NextMessageArrives(rig));
        EXPECT_FALSE(rig.ReachedUnit(message));
    }
}

}  // namespace miditest
