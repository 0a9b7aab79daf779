// send: one message to a unit, once discovery has found it, and its reply on
// standard output (see UnitCommand.h for what counts as the reply).

#include "terminal/TrafficText.h"
#include "terminal/UnitCommand.h"

namespace terminal {

void SendCommand::OnListed() {
    if (sent || finished) return;
    const TerminalUnit* found = RequireUnit(line.unit);
    if (found == nullptr) return;
    unit = *found;
    const std::string digits = line.message;
    sentPoll = IsPoll(unit.type, static_cast<uint8_t>(std::stoul(digits.substr(0, 2), nullptr, 16)),
                      static_cast<uint8_t>(std::stoul(digits.substr(2, 2), nullptr, 16)));
    sent = true;
    terminal->SetTimer(ReplyTimer, line.timeoutMs);
    terminal->Send(SendText(unit, digits));
}

void SendCommand::OnReceive(const ReceivedMessage& message, int64_t realTimeUs) {
    if (!sent || finished) return;
    const bool reply = line.reply ? message.OnWire() && message.id == unit.id &&
                                        message.type == unit.type && message.command == *line.reply
                                  : IsReplyFrom(unit, message, sentPoll);
    if (!reply) return;
    if (line.json) {
        JsonBuilder* builder = json_builder_new();
        AddTrafficObject(builder, message, ClockTime(realTimeUs));
        Print(JsonText(builder, false));
        g_object_unref(builder);
    } else {
        Print(message.text);
    }
    Finish(ExitDone);
}

void SendCommand::OnTimer(unsigned id) {
    if (id != ReplyTimer) {
        UnitCommand::OnTimer(id);
        return;
    }
    Complain("no reply" +
             (line.reply ? std::string(" with command ") + TypeName(*line.reply) : std::string()) +
             " from unit " + std::to_string(unit.id) + std::string(" within ") +
             std::to_string(line.timeoutMs) + " ms.");
    Finish(ExitNoReply);
}

}  // namespace terminal
