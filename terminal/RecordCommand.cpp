// record: every message the units send, as the exact bytes into a .syx and,
// with --text, as a line of a text log in the page's layout. Each message is
// written and flushed as it arrives, so that Ctrl+C (or any other end) loses
// nothing received before. --seconds counts from the end of discovery.

#include <glib/gstdio.h>

#include "terminal/TrafficText.h"
#include "terminal/UnitCommand.h"

namespace terminal {

void RecordCommand::Begin(UnitTerminal& terminal) {
    UnitCommand::Begin(terminal);
    std::string error;
    if (!writer.Open(line.file, line.textFile, error)) {
        Complain("cannot record: " + error);
        Finish(ExitFailure);
        return;
    }
    opened = true;
}

void RecordCommand::OnListed() {
    if (started || finished) return;
    if (line.hasUnit && RequireUnit(line.unit) == nullptr) {
        if (!finished) return;  // discovering once more
        // Nothing was recorded: the files this run made go again.
        writer.Close();
        g_remove(line.file.c_str());
        if (!line.textFile.empty()) g_remove(line.textFile.c_str());
        opened = false;
        return;
    }
    started = true;
    const std::size_t count = line.hasUnit ? 1 : terminal->Units().size();
    Complain(std::string("recording ") + std::to_string(count) + (count == 1 ? " unit" : " units") +
             " into " + line.file +
             (line.seconds ? std::string(" for ") + std::to_string(line.seconds) + " s"
                           : std::string("; Ctrl+C ends")) +
             ".");
    if (line.seconds) terminal->SetTimer(RecordTimer, line.seconds * 1000);
}

void RecordCommand::OnReceive(const ReceivedMessage& message, int64_t realTimeUs) {
    if (!opened || finished) return;
    const bool namesUnit =
        message.kind != MessageKind::Invalid && message.kind != MessageKind::List;
    if (line.hasUnit && (!namesUnit || message.id != line.unit)) return;
    bool written = writer.AppendLine(TextLogEntryOf(message, ClockTime(realTimeUs)));
    if (message.OnWire()) {
        written = writer.AppendMessage(message.WireBytes()) && written;
        ++messages;
    }
    if (!written) {
        Complain("cannot write the recording into " + line.file +
                 (line.textFile.empty() ? std::string() : " or " + line.textFile) + ": " +
                 g_strerror(errno));
        Finish(ExitFailure);
    }
}

void RecordCommand::OnTimer(unsigned id) {
    if (id == RecordTimer)
        Finish(ExitDone);
    else
        UnitCommand::OnTimer(id);
}

void RecordCommand::End() {
    if (!opened) return;
    writer.Close();
    Complain(std::to_string(messages) + (messages == 1 ? " message" : " messages") +
             " recorded into " + line.file + ".");
}

}  // namespace terminal
