#pragma once
// ReplayUnit: a simulated unit that answers with the messages a real one sent
// in a capture (Capture.h), so that a maker can reproduce what a user saw
// without the user's hardware. It takes the place of a UnitSimulator in the
// simulator program (--replay) and is handled the same way.
//
// How a request finds its answer, first rule that applies:
//   1. The probe: the unit's identity answer from the capture, else command
//      03 with value 0 under its type and id (the device module never reports
//      the identity answer, so captures rarely hold it).
//   2. The unit's poll: its state reports from the capture, one per poll, in
//      the order recorded; the last one again once they are used up.
//   3. A request the capture shows being sent to the unit (same command,
//      value and payload): what the unit sent after it, up to the next
//      request to it, state reports left out (they answer the polls). The
//      n-th time the request comes it gets the answers of its n-th
//      recording, the last recording's again after that; a recording with no
//      answer answers nothing, as the unit did.
//   4. By the protocol's pairs (20 read -> 21, 30 write -> 31, the reply
//      carrying the request's value): the unit's recorded messages with the
//      command after the request's and the same value, in order, the last
//      one again once used up. This serves captures of the unit's side only,
//      as `yonderpad-units record` makes them.
//   5. Nothing: a request the capture has no answer for gets none.
// Answers are the recorded bytes exactly. Requests for other units, of other
// makers or malformed get no answer.

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "Capture.h"
#include "UnitSimulator.h"

namespace tools {

using Bytes = std::vector<uint8_t>;

class ReplayUnit {
  public:
    // The unit of this type and id, with its messages from capture.
    ReplayUnit(uint8_t type, int32_t id, const std::vector<capture::CapturedMessage>& capture);

    uint8_t Type() const { return type; }
    int32_t Id() const { return id; }

    // Handles one complete message sent to the unit and appends its answers.
    void Handle(const uint8_t* bytes, std::size_t length, std::vector<Bytes>& answers);

  private:
    // A request as recorded: command, value, then the payload. (A string
    // rather than Bytes as the map key: GCC 12 warns falsely on comparing
    // byte vectors there.)
    using Request = std::string;
    // Answers kept in order, and how many of them were given.
    struct Sequence {
        std::vector<Bytes> answers;
        std::size_t used = 0;
        const Bytes* Next();
    };

    uint8_t type;
    int32_t id;
    Bytes identity;
    Sequence reports;
    // Each recorded request with the answers of each of its recordings.
    std::map<Request, std::vector<std::vector<Bytes>>> recordings;
    std::map<Request, std::size_t> recordingsUsed;
    // The unit's other messages by command and value, for the protocol's pairs.
    std::map<std::pair<uint8_t, uint8_t>, Sequence> replies;
};

// The units of a capture: every type and id that appears, in the order of
// first appearance.
std::vector<midi::UnitConfig> UnitsOf(const std::vector<capture::CapturedMessage>& capture);

}  // namespace tools
