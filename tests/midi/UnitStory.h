#pragma once
// What the device module's integration tests on real MIDI backends share: a
// panel module wired to the device module's "Send", "Receive" and "Status",
// the real-time loop they wait in, and the announcements of the two simulated
// units that the tests play (11:1234567 and 0a:42).

#include <glib.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "framework/Connector.h"
#include "framework/Module.h"

namespace miditest {

class Panel : public KorvoModule {
  public:
    Panel() {
        send = new KorvoTextConnector(L"Send", nullptr, 0, this);
        connectors.Add(send);
        receive = new KorvoTextConnector(L"Receive", MakeHandler(&Panel::OnReceive), 0, this);
        connectors.Add(receive);
        status = new KorvoTextConnector(L"Status", MakeHandler(&Panel::OnStatus), 0, this);
        connectors.Add(status);
    }
    void Wire(KorvoModule& module) {
        for (KorvoConnector* mine : connectors) mine->Connect(module.FindConnector(mine->Name()));
    }
    void Send(const wchar_t* text) { send->SetText(text, true); }

    std::vector<std::wstring> received;
    std::vector<std::wstring> statuses;

  private:
    void OnReceive(KorvoConnector* connector) { received.push_back(connector->GetText().Text()); }
    void OnStatus(KorvoConnector* connector) { statuses.push_back(connector->GetText().Text()); }
    KorvoTextConnector* send;
    KorvoTextConnector* receive;
    KorvoTextConnector* status;
};

// Runs the GLib loop until condition holds or the time is up.
bool RunUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
    auto end = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > end) return false;
        g_main_context_iteration(nullptr, FALSE);
        g_usleep(1000);
    }
    return true;
}

const std::wstring ListStart = L"00000000000001";
const std::wstring UnitA = L"110012d68700013336332d3431342d3532320011";  // 11:1234567
const std::wstring UnitB = L"0a0000002a0001";                            // 0a:42, header part

// Index of the last ListStart in received, and whether both units were announced after it.
bool BothAnnouncedSince(const std::vector<std::wstring>& received, size_t from) {
    bool a = false, b = false;
    for (size_t i = from; i < received.size(); ++i) {
        if (received[i] != ListStart) continue;
        a = b = false;
        for (size_t j = i + 1; j < received.size(); ++j) {
            a = a || received[j] == UnitA;
            b = b || (received[j].size() == 40 && received[j].compare(0, UnitB.size(), UnitB) == 0);
        }
    }
    return a && b;
}

bool Received(const std::vector<std::wstring>& received, size_t from, const std::wstring& prefix) {
    for (size_t i = from; i < received.size(); ++i)
        if (received[i].compare(0, prefix.size(), prefix) == 0) return true;
    return false;
}

}  // namespace miditest
