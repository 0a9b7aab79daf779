// yonderpad-units: the units from a terminal. It lists the units, sends one a
// message and prints its reply, records their traffic into a .syx, replays a
// .syx to a unit and shows the live traffic, through the same device module
// as the program and with no display. Every argument is checked before
// anything starts: bad input sends nothing and ends with exit code 2.

#include <glib.h>

#include <clocale>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "Capture.h"
#include "modules/midi/services/MidiServices.h"
#include "terminal/CommandLine.h"
#include "terminal/TerminalSession.h"
#include "terminal/UnitCommand.h"

namespace {

using namespace terminal;

int BadInput(const std::string& reason) {
    std::fprintf(stderr, "yonderpad-units: %s\nTry 'yonderpad-units --help'.\n", reason.c_str());
    return ExitBadInput;
}

// The messages of the .syx to replay, every one checked before the first goes.
bool LoadReplay(const std::string& file, std::vector<capture::CapturedMessage>& messages,
                std::string& error) {
    gchar* content = nullptr;
    gsize length = 0;
    GError* failure = nullptr;
    if (!g_file_get_contents(file.c_str(), &content, &length, &failure)) {
        error = failure->message;
        g_error_free(failure);
        return false;
    }
    const std::vector<uint8_t> bytes(content, content + length);
    g_free(content);
    if (!capture::ParseSyx(bytes, messages, error)) {
        error = file + ": " + error;
        return false;
    }
    if (messages.empty()) {
        error = file + ": it holds no message";
        return false;
    }
    for (std::size_t i = 0; i < messages.size(); ++i) {
        if (messages[i].bytes.size() <= midi::MaxLongMessage) continue;
        error = file + std::string(": message ") + std::to_string(i + 1) +
                std::string(" at byte ") + std::to_string(messages[i].offset) +
                std::string(" is ") + std::to_string(messages[i].bytes.size()) +
                " bytes long, more than the " + std::to_string(midi::MaxLongMessage) +
                " a message may have";
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    setlocale(LC_ALL, "");
    CommandLine line;
    std::string error;
    if (!ParseCommandLine(argc, argv, line, error)) return BadInput(error);
    if (line.verb == Verb::Help) {
        std::fputs(UsageText, stdout);
        return ExitDone;
    }
    // The device library reads the backend when it first needs the services.
    if (!line.backend.empty()) g_setenv("KORVO_MIDI", line.backend.c_str(), TRUE);

    std::unique_ptr<UnitCommand> command;
    switch (line.verb) {
        case Verb::List:
            command = std::make_unique<ListCommand>(line);
            break;
        case Verb::Send:
            command = std::make_unique<SendCommand>(line);
            break;
        case Verb::Record:
            command = std::make_unique<RecordCommand>(line);
            break;
        case Verb::Replay: {
            std::vector<capture::CapturedMessage> messages;
            if (!LoadReplay(line.file, messages, error)) return BadInput(error);
            command = std::make_unique<ReplayCommand>(line, std::move(messages));
            break;
        }
        case Verb::Monitor:
            command = std::make_unique<MonitorCommand>(line);
            break;
        case Verb::Help:
            break;
    }
    return RunInTerminal(*command);
}
