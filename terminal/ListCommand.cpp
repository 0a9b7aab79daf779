// list: the units of the first discovery, as soon as it has ended, or after
// --wait MS more, so that the state of each unit's latest report shows.

#include <algorithm>
#include <vector>

#include "terminal/TrafficText.h"
#include "terminal/UnitCommand.h"

namespace terminal {

namespace {

// Characters, not bytes: port names may be UTF-8.
std::size_t Width(const std::string& text) {
    return static_cast<std::size_t>(g_utf8_strlen(text.c_str(), -1));
}

}  // namespace

void ListCommand::OnListed() {
    if (waiting || finished) return;
    if (terminal->Units().empty() && RescanOnce()) return;
    if (line.waitMs == 0) {
        Show();
        return;
    }
    waiting = true;
    terminal->SetTimer(WaitTimer, line.waitMs);
}

void ListCommand::OnTimer(unsigned id) {
    if (id == WaitTimer)
        Show();
    else
        UnitCommand::OnTimer(id);
}

void ListCommand::Show() {
    const std::vector<TerminalUnit>& units = terminal->Units();
    if (line.json) {
        JsonBuilder* builder = json_builder_new();
        json_builder_begin_array(builder);
        for (const TerminalUnit& unit : units) {
            json_builder_begin_object(builder);
            json_builder_set_member_name(builder, "type");
            json_builder_add_string_value(builder, TypeName(unit.type).c_str());
            json_builder_set_member_name(builder, "id");
            json_builder_add_int_value(builder, unit.id);
            json_builder_set_member_name(builder, "serial");
            json_builder_add_string_value(builder, unit.serial.c_str());
            json_builder_set_member_name(builder, "state");
            json_builder_add_string_value(builder, unit.state.c_str());
            json_builder_set_member_name(builder, "inputPort");
            json_builder_add_string_value(builder, unit.inputPort.c_str());
            json_builder_set_member_name(builder, "outputPort");
            json_builder_add_string_value(builder, unit.outputPort.c_str());
            json_builder_end_object(builder);
        }
        json_builder_end_array(builder);
        Print(JsonText(builder, true));
        g_object_unref(builder);
    } else if (!units.empty()) {
        std::vector<std::vector<std::string>> rows = {
            {"TYPE", "ID", "SERIAL", "STATE", "INPUT PORT", "OUTPUT PORT"}};
        for (const TerminalUnit& unit : units)
            rows.push_back({TypeName(unit.type), std::to_string(unit.id), unit.serial, unit.state,
                            unit.inputPort, unit.outputPort});
        std::vector<std::size_t> widths(rows[0].size(), 0);
        for (const auto& row : rows)
            for (std::size_t c = 0; c < row.size(); ++c)
                widths[c] = std::max(widths[c], Width(row[c]));
        for (const auto& row : rows) {
            std::string text;
            for (std::size_t c = 0; c < row.size(); ++c) {
                text += row[c];
                if (c + 1 < row.size()) text += std::string(widths[c] - Width(row[c]) + 2, ' ');
            }
            Print(text);
        }
    }
    if (units.empty()) Complain("no unit was found (\"" + terminal->Status() + "\").");
    Finish(units.empty() ? ExitNoUnits : ExitDone);
}

}  // namespace terminal
