#pragma once
// The device module on simulated ports, driven by a hand-advanced clock.
//
// MidiRig owns a ManualEventLoop, a hidden main window, a synchronous
// SimServices (seen by the module through ServicesTap, which counts the
// buffer calls), the module itself and a Panel: a small module whose
// connectors are linked to the module's four, recording everything that
// arrives on "Receive" and "Status" and writing "Send" and "Reset" the way a
// page would (forced).

#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "framework/Connector.h"
#include "framework/Module.h"
#include "modules/midi/TannevaleMidi.h"
#include "modules/midi/services/SimServices.h"
#include "platform/Application.h"
#include "platform/ManualEventLoop.h"
#include "platform/Window.h"

using Bytes = std::vector<uint8_t>;

class Panel : public KorvoModule {
public:
    Panel() {
        send = new KorvoTextConnector(L"Send", nullptr, 0, this);
        connectors.Add(send);
        receive = new KorvoTextConnector(L"Receive", MakeHandler(&Panel::OnReceive), 0, this);
        connectors.Add(receive);
        status = new KorvoTextConnector(L"Status", MakeHandler(&Panel::OnStatus), 0, this);
        connectors.Add(status);
        reset = new KorvoLongConnector(L"Reset", nullptr, 0, this);
        connectors.Add(reset);
    }

    // Links each connector to the module's connector of the same name.
    void Wire(KorvoModule& module) {
        for (KorvoConnector* mine : connectors) mine->Connect(module.FindConnector(mine->Name()));
    }

    void Send(const std::wstring& text) { send->SetText(text.c_str(), true); }
    void Reset(int32_t value) { reset->SetLong(value, true); }

    std::vector<std::wstring> received;
    std::vector<std::wstring> statuses;
    // Called after each recorded "Receive" or "Status" text (re-entrancy tests).
    std::function<void(const std::wstring&)> onReceive;
    std::function<void(const std::wstring&)> onStatus;

private:
    void OnReceive(KorvoConnector* connector) {
        received.push_back(connector->GetText().Text());
        if (onReceive) onReceive(received.back());
    }
    void OnStatus(KorvoConnector* connector) {
        statuses.push_back(connector->GetText().Text());
        if (onStatus) onStatus(statuses.back());
    }

    KorvoTextConnector* send;
    KorvoTextConnector* receive;
    KorvoTextConnector* status;
    KorvoLongConnector* reset;
};

// Forwards to the simulator and counts, per input handle, the buffers queued.
class ServicesTap : public midi::MidiServices {
public:
    explicit ServicesTap(midi::MidiServices& inner) : inner(inner) {}

    std::map<midi::MidiHandle, int> added;  // successful InAddBuffer calls
    int addAttempts = 0;                    // every InAddBuffer call

    unsigned InGetNumDevs() override { return inner.InGetNumDevs(); }
    unsigned InGetDevCaps(unsigned id, std::wstring* name) override { return inner.InGetDevCaps(id, name); }
    unsigned InOpen(midi::MidiHandle* out, unsigned id, midi::MidiCallback callback, uintptr_t instance) override {
        return inner.InOpen(out, id, callback, instance);
    }
    unsigned InPrepareHeader(midi::MidiHandle h, midi::MidiHeader* header) override {
        return inner.InPrepareHeader(h, header);
    }
    unsigned InUnprepareHeader(midi::MidiHandle h, midi::MidiHeader* header) override {
        return inner.InUnprepareHeader(h, header);
    }
    unsigned InAddBuffer(midi::MidiHandle h, midi::MidiHeader* header) override {
        ++addAttempts;
        unsigned result = inner.InAddBuffer(h, header);
        if (result == midi::MMSYSERR_NOERROR) ++added[h];
        return result;
    }
    unsigned InStart(midi::MidiHandle h) override { return inner.InStart(h); }
    unsigned InStop(midi::MidiHandle h) override { return inner.InStop(h); }
    unsigned InReset(midi::MidiHandle h) override { return inner.InReset(h); }
    unsigned InClose(midi::MidiHandle h) override { return inner.InClose(h); }
    unsigned OutGetNumDevs() override { return inner.OutGetNumDevs(); }
    unsigned OutGetDevCaps(unsigned id, std::wstring* name) override { return inner.OutGetDevCaps(id, name); }
    unsigned OutOpen(midi::MidiHandle* out, unsigned id, midi::MidiCallback callback, uintptr_t instance) override {
        return inner.OutOpen(out, id, callback, instance);
    }
    unsigned OutPrepareHeader(midi::MidiHandle h, midi::MidiHeader* header) override {
        return inner.OutPrepareHeader(h, header);
    }
    unsigned OutUnprepareHeader(midi::MidiHandle h, midi::MidiHeader* header) override {
        return inner.OutUnprepareHeader(h, header);
    }
    unsigned OutLongMsg(midi::MidiHandle h, midi::MidiHeader* header) override { return inner.OutLongMsg(h, header); }
    unsigned OutClose(midi::MidiHandle h) override { return inner.OutClose(h); }

private:
    midi::MidiServices& inner;
};

// Port layouts built by hand: names "in0", "in1", ... and "out0", "out1", ...
inline midi::SimLayout Layout(unsigned inputs, unsigned outputs, std::vector<midi::SimUnit> units = {}) {
    midi::SimLayout layout;
    for (unsigned i = 0; i < inputs; ++i) layout.inputs.push_back(L"in" + std::to_wstring(i));
    for (unsigned i = 0; i < outputs; ++i) layout.outputs.push_back(L"out" + std::to_wstring(i));
    layout.units = std::move(units);
    return layout;
}

inline midi::SimUnit UnitOn(uint8_t type, int32_t id, std::vector<unsigned> listensOn, std::vector<unsigned> answersOn,
                          uint32_t replyDelayMs = 0) {
    midi::SimUnit unit;
    unit.type = type;
    unit.id = id;
    unit.listensOn = std::move(listensOn);
    unit.answersOn = std::move(answersOn);
    unit.replyDelayMs = replyDelayMs;
    return unit;
}

inline std::wstring Names(const Array<MidiDevice*>& ports) {
    std::wstring names;
    for (MidiDevice* port : ports) names += (names.empty() ? L"" : L",") + std::wstring(port->name.Text());
    return names;
}

class MidiRig : public ::testing::Test {
protected:
    // Builds the simulator and the module, links the panel and starts the
    // module under a main window (unless withMainWindow is false).
    void Boot(midi::SimLayout layout, bool withMainWindow = true) {
        layout.synchronous = true;
        sim = std::make_unique<midi::SimServices>(std::move(layout));
        sim->SetClock([this] { return loop.NowMs(); });
        tap = std::make_unique<ServicesTap>(*sim);
        midi::InstallServices(tap.get());
        if (withMainWindow) {
            ASSERT_TRUE(mainWindow.CreateToplevel());
            platform::Application::Instance().SetMainWindow(&mainWindow);
        }
        module = new TannevaleMidi;
        panel.Wire(*module);
        module->Start();
    }

    void TearDown() override {
        delete module;
        module = nullptr;
        mainWindow.Destroy();
        platform::Application::Instance().SetMainWindow(nullptr);
        loop.RunPending();
        midi::InstallServices(nullptr);
    }

    // Moves the clock on 1 ms at a time, letting late answers arrive as they
    // fall due and delivering everything posted.
    void Advance(uint64_t ms) {
        for (uint64_t i = 0; i < ms; ++i) {
            loop.AdvanceBy(1);
            sim->Pump();
            loop.RunPending();
        }
    }

    // From start to the end of discovery: the scan at 1500 ms, 200 ms per
    // output port, finishing at the tick after the last probe.
    void Discover(unsigned outputs) { Advance(TannevaleMidi::ScanDelayMs + TannevaleMidi::ProbeDelayMs * outputs); }

    // Messages sent since the mark, as bytes with their output port.
    std::vector<midi::SimServices::Sent> SentSince(size_t mark) {
        auto sent = sim->SentMessages();
        return {sent.begin() + static_cast<std::ptrdiff_t>(std::min(mark, sent.size())), sent.end()};
    }
    size_t Mark() { return sim->SentMessages().size(); }

    void Inject(unsigned port, Bytes bytes) {
        sim->InjectInput(port, std::move(bytes));
        loop.RunPending();
    }

    platform::ManualEventLoop loop;
    platform::Window mainWindow;
    std::unique_ptr<midi::SimServices> sim;
    std::unique_ptr<ServicesTap> tap;
    Panel panel;
    TannevaleMidi* module = nullptr;
};

inline const std::wstring ListStart = L"00000000000001";
