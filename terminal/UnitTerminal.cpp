#include "UnitTerminal.h"

#include <glib.h>

#include <new>

#include "platform/Application.h"

namespace terminal {

namespace {

// The "Ports" text: the unit's id in 8 hex digits, the input port's name, a
// tab, the output port's name.
constexpr std::size_t PortsIdDigits = 8;

}  // namespace

KorvoModule* UnitTerminal::Create() {
    auto* module = new (std::nothrow) UnitTerminal();
    return module ? static_cast<UnitTerminalHandlers*>(module) : nullptr;
}

void UnitTerminal::Delete(KorvoModule* module) {
    delete module;
}

UnitTerminal* UnitTerminal::Of(KorvoModule* module) {
    return static_cast<UnitTerminal*>(static_cast<UnitTerminalHandlers*>(module));
}

UnitTerminal::UnitTerminal() {
    send = new KorvoTextConnector(L"Send", nullptr, 0, this);
    connectors.Add(send);
    connectors.Add(
        new KorvoTextConnector(L"Receive", MakeHandler(&UnitTerminalHandlers::OnReceive), 0, this));
    connectors.Add(
        new KorvoTextConnector(L"Status", MakeHandler(&UnitTerminalHandlers::OnStatus), 0, this));
    reset = new KorvoLongConnector(L"Reset", nullptr, 0, this);
    connectors.Add(reset);
    connectors.Add(
        new KorvoTextConnector(L"Ports", MakeHandler(&UnitTerminalHandlers::OnPorts), 0, this));
}

// The device module is deleted first (later siblings first) and says
// "Initializing..." as it closes its ports; nothing is passed on from here on.
UnitTerminal::~UnitTerminal() {
    listener = nullptr;
    Destroy();
}

void UnitTerminal::Start() {
    if (Exists() || !CreateToplevel()) return;
    platform::Application::Instance().SetMainWindow(this);
}

void UnitTerminal::Send(const std::string& text) {
    send->SetText(String::FromUtf8(text).Text(), true);
}

void UnitTerminal::Rescan() {
    reset->SetLong(0, true);
}

const TerminalUnit* UnitTerminal::FindUnit(uint32_t id) const {
    for (const TerminalUnit& unit : units)
        if (unit.id == id) return &unit;
    return nullptr;
}

TerminalUnit* UnitTerminal::Find(uint32_t id) {
    return const_cast<TerminalUnit*>(FindUnit(id));
}

void UnitTerminal::OnReceive(KorvoConnector* connector) {
    const ReceivedMessage message = DecodeReceive(connector->GetText().ToUtf8());
    switch (message.kind) {
        case MessageKind::List:
            units.clear();
            Post(WM_LISTED, 0, 0);
            break;
        case MessageKind::Announcement: {
            const TerminalUnit unit{message.type, message.id, message.serial, "", "", "announced"};
            if (TerminalUnit* known = Find(message.id))
                *known = unit;
            else
                units.push_back(unit);
            break;
        }
        case MessageKind::Report:
            // As the page does: only a unit announced with this type takes it.
            if (TerminalUnit* unit = Find(message.id); unit && unit->type == message.type)
                unit->state = message.state;
            break;
        default:
            break;
    }
    if (listener) listener->OnReceive(message, g_get_real_time());
}

void UnitTerminal::OnStatus(KorvoConnector* connector) {
    status = connector->GetText().ToUtf8();
}

void UnitTerminal::OnPorts(KorvoConnector* connector) {
    const std::string text = connector->GetText().ToUtf8();
    const std::size_t tab = text.find('\t', PortsIdDigits);
    if (text.size() < PortsIdDigits || tab == std::string::npos) return;
    const std::string digits = text.substr(0, PortsIdDigits);
    if (digits.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos) return;
    if (TerminalUnit* unit = Find(static_cast<uint32_t>(std::stoul(digits, nullptr, 16)))) {
        unit->inputPort = text.substr(PortsIdDigits, tab - PortsIdDigits);
        unit->outputPort = text.substr(tab + 1);
    }
}

void UnitTerminal::OnTimer(unsigned id) {
    if (listener) listener->OnTimer(id);
}

void UnitTerminal::OnMessage(unsigned message, uintptr_t wparam, uintptr_t lparam) {
    if (message != WM_LISTED) {
        platform::Window::OnMessage(message, wparam, lparam);
        return;
    }
    listed = true;
    if (listener) listener->OnListed();
}

}  // namespace terminal
