#include "Capture.h"

#include <glib.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace capture {

namespace {

constexpr uint8_t SysexStart = 0xF0;
constexpr uint8_t SysexEnd = 0xF7;
constexpr uint8_t MakerPrefix[] = {0x00, 0x11, 0x22};
constexpr std::size_t TypeAt = 4, IdAt = 5, CommandAt = 9, ValueAt = 10, PayloadAt = 11;
// The seven fields of a text log line.
constexpr std::size_t TextLogFields = 7;

bool IsUnitType(uint8_t type) {
    return type == 0x0A || type == 0x0B || type == 0x11 || type == 0x12;
}
bool IsWide(uint8_t type) {
    return type == 0x11 || type == 0x12;
}

std::string Printf(const char* format, ...) G_GNUC_PRINTF(1, 2);
std::string Printf(const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    gchar* text = g_strdup_vprintf(format, arguments);
    va_end(arguments);
    std::string result = text;
    g_free(text);
    return result;
}

bool ReadFile(const std::string& path, std::string& bytes, std::string& error) {
    gchar* content = nullptr;
    gsize length = 0;
    GError* failure = nullptr;
    if (!g_file_get_contents(path.c_str(), &content, &length, &failure)) {
        error = failure ? failure->message : "it cannot be read";
        g_clear_error(&failure);
        return false;
    }
    bytes.assign(content, length);
    g_free(content);
    return true;
}

std::vector<std::string> Split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    for (;;) {
        std::size_t end = text.find(separator, start);
        parts.push_back(
            text.substr(start, end == std::string::npos ? std::string::npos : end - start));
        if (end == std::string::npos) return parts;
        start = end + 1;
    }
}

// One or two hexadecimal digits and nothing else.
bool ParseHexByte(const std::string& text, uint8_t& byte) {
    if (text.empty() || text.size() > 2 ||
        !std::all_of(text.begin(), text.end(), [](char c) { return g_ascii_isxdigit(c); }))
        return false;
    byte = static_cast<uint8_t>(std::stoul(text, nullptr, 16));
    return true;
}

// Hex pairs separated by blanks or not.
bool ParseHexBytes(const std::string& text, std::vector<uint8_t>& bytes) {
    std::string digits;
    for (char c : text)
        if (c != ' ') digits += c;
    if (digits.size() % 2 != 0) return false;
    bytes.clear();
    for (std::size_t i = 0; i < digits.size(); i += 2) {
        uint8_t byte;
        if (!ParseHexByte(digits.substr(i, 2), byte)) return false;
        bytes.push_back(byte);
    }
    return true;
}

bool ParseUnit(const std::string& text, int32_t& id) {
    if (text.empty() || text.size() > 9 ||
        !std::all_of(text.begin(), text.end(), [](char c) { return g_ascii_isdigit(c); }))
        return false;
    id = static_cast<int32_t>(std::stol(text));
    return true;
}

std::string Clean(const std::string& field) {
    std::string clean = field;
    std::replace_if(
        clean.begin(), clean.end(), [](char c) { return c == '\t' || c == '\n' || c == '\r'; },
        ' ');
    return clean;
}

bool Write(std::FILE* file, const void* bytes, std::size_t length) {
    return file != nullptr && std::fwrite(bytes, 1, length, file) == length &&
           std::fflush(file) == 0;
}

}  // namespace

bool ParseSyx(const std::vector<uint8_t>& bytes, std::vector<CapturedMessage>& messages,
              std::string& error) {
    messages.clear();
    std::size_t at = 0;
    while (at < bytes.size()) {
        const std::size_t number = messages.size() + 1;
        if (bytes[at] != SysexStart) {
            error = Printf("byte %zu (%02X) lies outside any message: each message starts with F0",
                           at, bytes[at]);
            return false;
        }
        const std::size_t start = at++;
        while (at < bytes.size() && bytes[at] < 0x80) ++at;
        if (at == bytes.size()) {
            error = Printf("message %zu at byte %zu has no end (F7)", number, start);
            return false;
        }
        if (bytes[at] != SysexEnd) {
            error =
                Printf("message %zu at byte %zu is cut short by the status byte %02X at byte %zu",
                       number, start, bytes[at], at);
            return false;
        }
        CapturedMessage message;
        message.bytes.assign(bytes.begin() + static_cast<std::ptrdiff_t>(start),
                             bytes.begin() + static_cast<std::ptrdiff_t>(++at));
        message.offset = start;
        const std::vector<uint8_t>& m = message.bytes;
        if (m.size() < MessageOverhead) {
            error = Printf(
                "message %zu at byte %zu is %zu bytes long, too short for a unit message (at least "
                "%zu)",
                number, start, m.size(), MessageOverhead);
            return false;
        }
        if (!std::equal(std::begin(MakerPrefix), std::end(MakerPrefix), m.begin() + 1)) {
            error = Printf(
                "message %zu at byte %zu is not a unit message: it does not start with F0 00 11 22",
                number, start);
            return false;
        }
        message.type = m[TypeAt];
        message.id = int32_t(m[IdAt]) | int32_t(m[IdAt + 1]) << 7 | int32_t(m[IdAt + 2]) << 14 |
                     int32_t(m[IdAt + 3]) << 21;
        if (!IsUnitType(message.type) || message.id == 0) {
            error = Printf("message %zu at byte %zu names no unit (type %02X, id %d)", number,
                           start, message.type, message.id);
            return false;
        }
        message.command = m[CommandAt];
        message.value = m[ValueAt];
        message.payload.assign(m.begin() + PayloadAt, m.end() - 1);
        messages.push_back(std::move(message));
    }
    return true;
}

std::string TextLogHeader() {
    return "# time\tdirection\tunit\tcommand\tvalue\tpayload\ttext\n";
}

std::string TextLogLine(const TextLogEntry& entry) {
    const std::string fields[TextLogFields] = {entry.time,  entry.sent ? "sent" : "received",
                                               entry.unit,  entry.command,
                                               entry.value, entry.payload,
                                               entry.text};
    std::string line;
    for (std::size_t i = 0; i < TextLogFields; ++i) {
        if (i > 0) line += '\t';
        line += Clean(fields[i]);
    }
    line += '\n';
    return line;
}

bool ApplyTextLog(const std::string& log, std::vector<CapturedMessage>& messages,
                  std::string& error) {
    std::size_t next = 0;  // the message the next wire line must match
    std::size_t lineNumber = 0;
    for (std::string line : Split(log, '\n')) {
        ++lineNumber;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty() || line[0] == '#') continue;
        std::vector<std::string> fields = Split(line, '\t');
        if (fields.size() < TextLogFields || (fields[1] != "sent" && fields[1] != "received")) {
            error = Printf("line %zu of the text log is not a line of a traffic log", lineNumber);
            return false;
        }
        const bool sent = fields[1] == "sent";
        int32_t id = 0;
        uint8_t command = 0, value = 0;
        std::vector<uint8_t> payload;
        // Only the lines of messages on the wire have a command in hex.
        if (!ParseHexByte(fields[3], command)) continue;
        if (!ParseUnit(fields[2], id) || !ParseHexByte(fields[4], value) ||
            !ParseHexBytes(fields[5], payload)) {
            error = Printf("line %zu of the text log is not a line of a traffic log", lineNumber);
            return false;
        }
        const bool matches = next < messages.size() && messages[next].id == id &&
                             messages[next].command == command && messages[next].value == value &&
                             messages[next].payload == payload;
        if (matches) {
            messages[next++].direction = sent ? Direction::ToUnit : Direction::FromUnit;
        } else if (!sent) {
            error = next < messages.size() ? Printf(
                                                 "line %zu of the text log does not match message "
                                                 "%zu of the .syx (at byte %zu): "
                                                 "the two files do not belong together",
                                                 lineNumber, next + 1, messages[next].offset)
                                           : Printf(
                                                 "line %zu of the text log has no message left in "
                                                 "the .syx: the two files do not "
                                                 "belong together",
                                                 lineNumber);
            return false;
        }
    }
    if (next != messages.size()) {
        error = Printf(
            "the .syx holds %zu messages, of which the text log lists %zu: the two files do not "
            "belong "
            "together",
            messages.size(), next);
        return false;
    }
    return true;
}

void GuessDirections(std::vector<CapturedMessage>& messages) {
    for (CapturedMessage& m : messages) {
        const bool poll = IsWide(m.type) ? m.command == 0x10 && m.value == 0x01
                                         : m.command == 0x02 && m.value == 0x04;
        const bool request = poll || m.command == 0x20 || m.command == 0x30;
        m.direction = request ? Direction::ToUnit : Direction::FromUnit;
    }
}

std::string TextLogBeside(const std::string& syxPath) {
    const std::string suffix = ".syx";
    if (syxPath.size() > suffix.size() &&
        g_ascii_strcasecmp(syxPath.c_str() + syxPath.size() - suffix.size(), suffix.c_str()) == 0)
        return syxPath.substr(0, syxPath.size() - suffix.size()) + ".txt";
    return syxPath + ".txt";
}

bool LoadCapture(const std::string& syxPath, std::vector<CapturedMessage>& messages,
                 std::string& error) {
    std::string bytes, reason;
    if (!ReadFile(syxPath, bytes, reason)) {
        error = reason;
        return false;
    }
    if (!ParseSyx(std::vector<uint8_t>(bytes.begin(), bytes.end()), messages, reason)) {
        error = syxPath + ": " + reason;
        return false;
    }
    if (messages.empty()) {
        error = syxPath + ": it holds no message";
        return false;
    }
    const std::string textPath = TextLogBeside(syxPath);
    if (!g_file_test(textPath.c_str(), G_FILE_TEST_EXISTS)) {
        GuessDirections(messages);
        return true;
    }
    std::string log;
    if (!ReadFile(textPath, log, reason)) {
        error = reason;
        return false;
    }
    if (!ApplyTextLog(log, messages, reason)) {
        error = textPath + ": " + reason;
        return false;
    }
    return true;
}

CaptureWriter::~CaptureWriter() {
    Close();
}

bool CaptureWriter::Open(const std::string& syxPath, const std::string& textPath,
                         std::string& error) {
    Close();
    syx = std::fopen(syxPath.c_str(), "wb");
    if (syx == nullptr) {
        error = syxPath + ": " + std::strerror(errno);
        return false;
    }
    if (textPath.empty()) return true;
    text = std::fopen(textPath.c_str(), "wb");
    const std::string header = TextLogHeader();
    if (text == nullptr || !Write(text, header.data(), header.size())) {
        error = textPath + ": " + std::strerror(errno);
        Close();
        return false;
    }
    return true;
}

bool CaptureWriter::AppendMessage(const std::vector<uint8_t>& bytes) {
    return Write(syx, bytes.data(), bytes.size());
}

bool CaptureWriter::AppendLine(const TextLogEntry& entry) {
    if (text == nullptr) return true;
    const std::string line = TextLogLine(entry);
    return Write(text, line.data(), line.size());
}

void CaptureWriter::Close() {
    if (syx) std::fclose(syx);
    if (text) std::fclose(text);
    syx = text = nullptr;
}

}  // namespace capture
