// monitor: every text on "Receive" as a line of the page's traffic view (or a
// JSON object), until Ctrl+C. Like the page's traffic, state reports show
// only when asked for, and a unit filter leaves out the texts naming no unit.
// A first discovery that found nothing is had once more (UnitCommand.h).

#include "terminal/TrafficText.h"
#include "terminal/UnitCommand.h"

namespace terminal {

void MonitorCommand::OnListed() {
    if (terminal->Units().empty()) RescanOnce();
}

void MonitorCommand::OnReceive(const ReceivedMessage& message, int64_t realTimeUs) {
    if (finished) return;
    const bool namesUnit =
        message.kind != MessageKind::Invalid && message.kind != MessageKind::List;
    if (line.hasUnit && (!namesUnit || message.id != line.unit)) return;
    if (message.kind == MessageKind::Report && !line.reports) return;
    const std::string time = ClockTime(realTimeUs);
    if (!line.json) {
        Print(TrafficLine(message, time));
        return;
    }
    JsonBuilder* builder = json_builder_new();
    AddTrafficObject(builder, message, time);
    Print(JsonText(builder, false));
    g_object_unref(builder);
}

}  // namespace terminal
