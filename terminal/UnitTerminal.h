#pragma once
// UnitTerminal: the module of yonderpad-units. It takes the place that the
// page's window module has in the program's project: it comes first in the
// terminal's project (yonderpad-units.prj beside the program), and its "Send",
// "Receive", "Status" and "Reset" are linked to the device module's connectors
// of the same names, its "Ports" to the device module's "Ports". Its start
// makes a window that no display backs (platform::Window::CreateToplevel) the
// application's main window, so that the device module, started after it,
// finds a parent for its hidden window; no GTK window and no display are ever
// needed.
//
// What it hears it keeps as the page keeps its unit list: a list start empties
// the list, each announcement adds a unit, the "Ports" text that follows it
// names the unit's ports, and state reports set the unit's state. Every text
// also goes, decoded, to the listener (the command that runs).
//
// When a discovery has ended. The device module sets the list start and then
// every announcement in one go, inside one timer tick. On the list start the
// terminal posts itself WM_LISTED; the loop delivers it once that tick is
// over, that is once every announcement has arrived, and only then tells the
// listener that the list is complete. No fixed wait is involved: the list is
// known as soon as the device module knows it.

#include <cstdint>
#include <string>
#include <vector>

#include "framework/Connector.h"
#include "framework/Module.h"
#include "platform/Window.h"
#include "terminal/ReceivedMessage.h"

namespace terminal {

// A unit as the terminal knows it from the announcements and reports.
struct TerminalUnit {
    uint8_t type = 0;
    uint32_t id = 0;
    std::string serial;
    std::string inputPort;            // where its messages come in
    std::string outputPort;           // where messages to it go out
    std::string state = "announced";  // or the state word of its latest report
};

// What the command running in the terminal is told. Everything arrives on the
// user-interface thread.
class TerminalListener {
  public:
    virtual ~TerminalListener() = default;
    // A "Receive" text, decoded; realTimeUs is the wall clock at arrival.
    virtual void OnReceive(const ReceivedMessage& message, int64_t realTimeUs) = 0;
    // A discovery has ended; the terminal's units are what it announced.
    virtual void OnListed() = 0;
    // A timer armed with SetTimer on the terminal fired.
    virtual void OnTimer(unsigned id) = 0;
};

// The KorvoModule part, declaring the connector handlers where KorvoModule
// sits at offset zero, so that the framework's handler pointers need no this
// adjustment (the same arrangement as the device module's).
class UnitTerminalHandlers : public KorvoModule {
  public:
    virtual void OnReceive(KorvoConnector* connector) = 0;
    virtual void OnStatus(KorvoConnector* connector) = 0;
    virtual void OnPorts(KorvoConnector* connector) = 0;
};

class UnitTerminal : public platform::Window, public UnitTerminalHandlers {
  public:
    // The class by which the terminal's project asks for the module.
    static constexpr const wchar_t* ClassName = L"6aa7acd4-cbc1-426a-94a5-259e8c070196";
    static constexpr const wchar_t* ModuleName = L"UnitTerminal";
    // The registry's functions for the module, which lives in the program.
    static KorvoModule* Create();
    static void Delete(KorvoModule* module);
    // The module behind a KorvoModule pointer that Create made.
    static UnitTerminal* Of(KorvoModule* module);

    UnitTerminal();
    ~UnitTerminal() override;
    void Start() override;

    void SetListener(TerminalListener* listener) { this->listener = listener; }
    // Sets "Send", forced, as the page sends a command.
    void Send(const std::string& text);
    // Writes "Reset", forced, as the page's Rescan does: the device module
    // closes its ports and discovers the units again.
    void Rescan();

    const std::vector<TerminalUnit>& Units() const { return units; }
    const TerminalUnit* FindUnit(uint32_t id) const;
    // Whether a discovery has ended since the start.
    bool Listed() const { return listed; }
    // The device module's latest "Status" text.
    const std::string& Status() const { return status; }

    static constexpr unsigned WM_LISTED = 0x0400;

  protected:
    void OnTimer(unsigned id) override;
    void OnMessage(unsigned message, uintptr_t wparam, uintptr_t lparam) override;

  private:
    void OnReceive(KorvoConnector* connector) override;
    void OnStatus(KorvoConnector* connector) override;
    void OnPorts(KorvoConnector* connector) override;
    TerminalUnit* Find(uint32_t id);

    KorvoTextConnector* send;
    KorvoLongConnector* reset;
    TerminalListener* listener = nullptr;
    std::vector<TerminalUnit> units;
    std::string status;
    bool listed = false;
};

}  // namespace terminal
