#pragma once
// A capture of unit traffic: a .syx file with the exact bytes of the messages
// one after another, and the text log beside it with one line per message.
// The page's "Save traffic" and `yonderpad-units record` write both; `replay`
// and the simulator's --replay read them.
//
// The text log has the page's layout: a header line starting with "#", then
// one tab-separated line per entry: time (hh:mm:ss.mmm), "sent" or "received",
// the unit id in decimal ("-" when none), command, value and payload in hex
// (payload bytes separated by blanks), and the connector text. Entries that
// are no message on the wire (a new list of units, an announcement, a text not
// understood) carry "list", "announced <serial>" or "invalid" in the command
// field and nothing in the value and payload fields; they have no bytes in
// the .syx.
//
// Pairing: the .syx has no directions, the log has them. Walking both in
// order, each log line of a wire message belongs to the next message of the
// .syx when unit, command, value and payload agree. A "sent" line may have no
// bytes (the page writes none for a unit whose type it did not know): such a
// line is passed over. Any other disagreement means the two files do not
// belong together. Without a log, the messages the device protocol defines as
// requests (the probe, a poll, 20 read, 30 write) count as sent to the unit
// and all others as sent by it.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace capture {

enum class Direction { FromUnit, ToUnit };

// One message of a .syx: its exact bytes and their fields.
struct CapturedMessage {
    std::vector<uint8_t> bytes;  // F0 00 11 22 ... F7
    std::size_t offset = 0;      // of its F0 in the file
    uint8_t type = 0;
    int32_t id = 0;
    uint8_t command = 0;
    uint8_t value = 0;
    std::vector<uint8_t> payload;
    Direction direction = Direction::FromUnit;
};

// Bytes around the payload: F0 00 11 22, type, four id bytes, command, value, F7.
constexpr std::size_t MessageOverhead = 12;

// Splits the bytes of a .syx into unit messages. False, with a reason that
// names the message and its byte offset, when anything else is found: bytes
// outside a message, a message cut short or without F7, a status byte inside
// one, another maker's message, one too short for command and value.
bool ParseSyx(const std::vector<uint8_t>& bytes, std::vector<CapturedMessage>& messages,
              std::string& error);

// One line of the text log, its fields as written.
struct TextLogEntry {
    std::string time;
    bool sent = false;
    std::string unit;  // decimal id, or "-"
    std::string command, value, payload;
    std::string text;
};

// The header line of a text log, with its line end.
std::string TextLogHeader();
// One entry as a line of the text log, with its line end. Tabs and line ends
// inside a field become blanks, so that a line always has its seven fields.
std::string TextLogLine(const TextLogEntry& entry);
// Sets the direction of every message from the text log (see the pairing
// above). False with the reason when the two do not belong together.
bool ApplyTextLog(const std::string& log, std::vector<CapturedMessage>& messages,
                  std::string& error);
// Sets the directions by the device protocol, for a capture without a log.
void GuessDirections(std::vector<CapturedMessage>& messages);
// The text log that goes with a .syx: the same name with .txt for .syx.
std::string TextLogBeside(const std::string& syxPath);

// Reads a .syx and, when it exists, the text log beside it. False with the
// reason when either cannot be read or they do not belong together.
bool LoadCapture(const std::string& syxPath, std::vector<CapturedMessage>& messages,
                 std::string& error);

// Writes a capture as messages arrive: every message and every line is
// flushed to the system at once, so that ending the writer in any way keeps
// everything written before.
class CaptureWriter {
  public:
    CaptureWriter() = default;
    ~CaptureWriter();
    CaptureWriter(const CaptureWriter&) = delete;
    CaptureWriter& operator=(const CaptureWriter&) = delete;

    // Creates (or empties) the .syx and, unless textPath is empty, the text
    // log with its header. False with the reason when a file cannot be made.
    bool Open(const std::string& syxPath, const std::string& textPath, std::string& error);
    // False when the system refused the bytes (disk full, say).
    bool AppendMessage(const std::vector<uint8_t>& bytes);
    bool AppendLine(const TextLogEntry& entry);
    void Close();

  private:
    std::FILE* syx = nullptr;
    std::FILE* text = nullptr;
};

}  // namespace capture
