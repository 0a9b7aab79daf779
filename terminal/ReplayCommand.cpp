// replay: the messages of a .syx to one unit, in its own type and id, one
// after another with --gap MS between them. With --wait-reply each must be
// answered (see UnitCommand.h for what counts as the reply) before the next
// goes; a missing reply stops the replay with exit code 3 and names the
// message. Without it the replay ends once a state report proves that the
// last message left.

#include "terminal/TrafficText.h"
#include "terminal/UnitCommand.h"

namespace terminal {

namespace {

// The state reports after the last message that prove it left (UnitCommand.h).
constexpr int ReportsProvingDelivery = 2;

// Command, value and payload: the bytes between the id and F7.
std::vector<uint8_t> FieldsOf(const capture::CapturedMessage& message) {
    constexpr std::ptrdiff_t CommandAt = 9;
    return std::vector<uint8_t>(message.bytes.begin() + CommandAt, message.bytes.end() - 1);
}

std::string Describe(const capture::CapturedMessage& message) {
    std::string text = HexBytes(FieldsOf(message), " ");
    constexpr std::size_t Shown = 32;  // characters of a long message shown
    return text.size() > Shown ? text.substr(0, Shown) + "..." : text;
}

}  // namespace

void ReplayCommand::OnListed() {
    if (started || finished) return;
    const TerminalUnit* found = RequireUnit(line.unit);
    if (found == nullptr) return;
    started = true;
    target = *found;
    SendNext();
}

void ReplayCommand::SendNext() {
    const capture::CapturedMessage& message = messages[next++];
    sentPoll = IsPoll(target.type, message.command, message.value);
    if (line.waitReply) {
        awaiting = true;
        terminal->SetTimer(ReplyTimer, line.timeoutMs);
    } else if (next < messages.size()) {
        terminal->SetTimer(GapTimer, line.gapMs);
    } else {
        confirming = true;
        reportsSinceLast = 0;
        terminal->SetTimer(ReplyTimer, line.timeoutMs);
    }
    terminal->Send(SendText(target, HexBytes(FieldsOf(message))));
}

void ReplayCommand::OnReceive(const ReceivedMessage& message, int64_t realTimeUs) {
    if (!started || finished || !message.OnWire() || message.id != target.id ||
        message.type != target.type)
        return;
    if (awaiting && IsReplyFrom(target, message, sentPoll)) {
        awaiting = false;
        terminal->KillTimer(ReplyTimer);
        if (line.json) {
            JsonBuilder* builder = json_builder_new();
            AddTrafficObject(builder, message, ClockTime(realTimeUs));
            Print(JsonText(builder, false));
            g_object_unref(builder);
        } else {
            Print(message.text);
        }
        if (next < messages.size())
            terminal->SetTimer(GapTimer, line.gapMs);
        else
            Finish(ExitDone);
        return;
    }
    if (confirming && message.kind == MessageKind::Report &&
        ++reportsSinceLast >= ReportsProvingDelivery)
        Finish(ExitDone);
}

void ReplayCommand::OnTimer(unsigned id) {
    if (id == GapTimer) {
        SendNext();
        return;
    }
    if (id != ReplyTimer) {
        UnitCommand::OnTimer(id);
        return;
    }
    const capture::CapturedMessage& last = messages[next - 1];
    const std::string where = std::string("message ") + std::to_string(next) + std::string(" of ") +
                              std::to_string(messages.size()) + std::string(" (byte ") +
                              std::to_string(last.offset) + " of the file: " + Describe(last) + ")";
    if (awaiting)
        Complain("no reply to " + where + std::string(" from unit ") + std::to_string(target.id) +
                 " within " + std::to_string(line.timeoutMs) + " ms; the replay stopped there.");
    else
        Complain(std::string("unit ") + std::to_string(target.id) +
                 " sent no state report within " + std::to_string(line.timeoutMs) +
                 " ms after the last " + where + ", so whether it arrived is not known.");
    Finish(ExitNoReply);
}

}  // namespace terminal
