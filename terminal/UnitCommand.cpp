#include "UnitCommand.h"

#include <cstdio>

#include "platform/Application.h"
#include "terminal/TrafficText.h"

namespace terminal {

void UnitCommand::Begin(UnitTerminal& terminal) {
    this->terminal = &terminal;
    terminal.SetTimer(DiscoveryTimer, DiscoveryLimitMs);
}

void UnitCommand::OnTimer(unsigned id) {
    if (id != DiscoveryTimer || terminal->Listed()) return;
    Complain(std::string("no discovery ended within ") + std::to_string(DiscoveryLimitMs / 1000) +
             " s; the device module's status is \"" + terminal->Status() + "\".");
    Finish(ExitFailure);
}

void UnitCommand::Finish(int code) {
    if (finished) return;
    finished = true;
    platform::Application::Instance().Quit(code);
}

bool UnitCommand::RescanOnce() {
    if (rescanned) return false;
    rescanned = true;
    terminal->Rescan();
    return true;
}

const TerminalUnit* UnitCommand::RequireUnit(uint32_t id) {
    if (const TerminalUnit* unit = terminal->FindUnit(id)) return unit;
    if (RescanOnce()) return nullptr;
    std::string found;
    for (const TerminalUnit& unit : terminal->Units())
        found += (found.empty() ? "" : ", ") + std::to_string(unit.id);
    Complain(std::string("no unit ") + std::to_string(id) + " was found; " +
             (found.empty() ? "no unit answered (\"" + terminal->Status() + "\")."
                            : "the units found are " + found + "."));
    Finish(ExitNoSuchUnit);
    return nullptr;
}

bool UnitCommand::IsReplyFrom(const TerminalUnit& unit, const ReceivedMessage& message,
                              bool sentPoll) const {
    if (!message.OnWire() || message.id != unit.id || message.type != unit.type) return false;
    return sentPoll || message.kind != MessageKind::Report;
}

std::string UnitCommand::SendText(const TerminalUnit& unit, const std::string& digits) {
    char id[9];
    std::snprintf(id, sizeof id, "%08x", unit.id);
    return id + digits;
}

void UnitCommand::Print(const std::string& text) {
    std::fputs(text.c_str(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

void UnitCommand::Complain(const std::string& text) {
    std::fprintf(stderr, "yonderpad-units: %s\n", text.c_str());
}

}  // namespace terminal
