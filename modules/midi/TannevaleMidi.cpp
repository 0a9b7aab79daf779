// The device module object: its connectors, its hidden window, the timer state
// machine that sequences discovery and polling, restart and teardown.
//
// How it runs. One timer (id 1) drives everything, and every tick first kills
// it, so each arming is good for exactly one tick; the tick re-arms it as the
// state requires. `state` says what the next tick does:
//   ScanPending (-1)  open every port, "Status" = "Available", then go straight
//                     on as Probing 0 in the same tick;
//   Probing k (>= 0)  probe output port k and wait 200 ms for answers (state
//                     k + 1); once every output was probed, close the ports
//                     where nothing answered, announce the units and run;
//   Running (-2)      every 100 ms: if the number of MIDI devices changed,
//                     post WM_RESCAN and stop ticking; otherwise poll the
//                     units when a poll is due;
//   Closing (-3)      only seen while ports are being closed; a tick then
//                     simply waits another 1.5 s.
// A restart ("Reset" written, or WM_RESCAN) closes every port, shows
// "Initializing..." and arms a scan 1.5 s later, unless "Reset" holds -1,
// which leaves the module stopped.
//
// Connector writes run the handlers of linked peers synchronously, and such a
// handler may write "Reset". Each step that writes a connector therefore checks
// `restarts` afterwards and abandons its work when a restart happened meanwhile.
// The MIDI callbacks never touch the module's state: the input callback posts
// the returned buffer to the window by handle (Transfer.cpp).

#include "TannevaleMidi.h"

#include <glib.h>

#include "framework/PlugIn.h"
#include "platform/Application.h"

namespace {

const wchar_t* const StatusInitializing = L"Initializing...";

// Takes out of `devices` every device that `all` or its having no units
// selects, closes its port with `close` and deletes it.
template <typename Close>
void RemoveDevices(Array<MidiDevice*>& devices, bool all, Close close) {
    for (int i = 0; i < devices.Count();) {
        MidiDevice* device = devices[i];
        if (!all && !device->units.IsEmpty()) {
            ++i;
            continue;
        }
        devices.RemoveAt(i);
        close(*device);
        delete device;
    }
}

void WarnNotClosed(const char* direction, const MidiDevice& device, unsigned result) {
    g_warning("MIDI %s port \"%s\" did not close (error %u)", direction, device.name.ToUtf8().c_str(),
              result);
}

}  // namespace

TannevaleMidi::TannevaleMidi() {
    send = new KorvoTextConnector(L"Send", MakeHandler(&TannevaleMidiHandlers::OnSend), 0, this);
    connectors.Add(send);
    receive = new KorvoTextConnector(L"Receive", nullptr, 0, this);
    connectors.Add(receive);
    status = new KorvoTextConnector(L"Status", nullptr, 0, this);
    connectors.Add(status);
    reset = new KorvoLongConnector(L"Reset", MakeHandler(&TannevaleMidiHandlers::OnReset), 0, this);
    connectors.Add(reset);
    // After the four of the device protocol, so that their places stay.
    ports = new KorvoTextConnector(L"Ports", nullptr, 0, this);
    connectors.Add(ports);
}

// Teardown: the ports close (and "Status" says "Initializing...") while the
// connectors still exist; the arrays go next, then KorvoModule deletes the
// connectors, and last the Window base destroys the window with its timer and
// every message still queued for it.
TannevaleMidi::~TannevaleMidi() {
    CloseDevices(true);
    // CloseDevices leaves nothing behind unless it was entered while closing.
    for (MidiDevice* device : inputs) delete device;
    for (MidiDevice* device : outputs) delete device;
}

void TannevaleMidi::Start() {
    if (Exists()) return;
    platform::Window* parent = platform::Application::Instance().MainOrActiveWindow();
    // Without a parent there is no window: no tick and no notification will
    // ever reach the module.
    if (parent == nullptr || !Create(parent)) return;
    windowHandle.store(Handle(), std::memory_order_release);
    SetTimer(TimerId, ScanDelayMs);
}

void TannevaleMidi::OnTimer(unsigned id) {
    if (id != TimerId) return;
    KillTimer(TimerId);
    const uint32_t restartCount = restarts;

    if (state == ScanPending) {
        Scan();
        if (RestartedSince(restartCount)) return;
    }
    if (state >= 0) {
        if (state < outputs.Count()) {
            Probe(state);
            state = state + 1;
            SetTimer(TimerId, ProbeDelayMs);
        } else {
            state = Running;
            FinishDiscovery();
            if (!RestartedSince(restartCount)) SetTimer(TimerId, RunningDelayMs);
        }
        return;
    }
    if (state == Running) {
        midi::MidiServices& services = midi::Services();
        if (services.InGetNumDevs() != inDeviceCount || services.OutGetNumDevs() != outDeviceCount) {
            Post(WM_RESCAN, 0, 0);
            return;
        }
        Poll();
        SetTimer(TimerId, RunningDelayMs);
        return;
    }
    if (state == Closing) SetTimer(TimerId, ClosingDelayMs);
}

void TannevaleMidi::OnMessage(unsigned message, uintptr_t wparam, uintptr_t lparam) {
    switch (message) {
    case WM_MIDI_INPUT:
        OnMidiInput(static_cast<unsigned>(wparam), lparam);
        break;
    case WM_RESCAN:
        OnRescan();
        break;
    default:
        platform::Window::OnMessage(message, wparam, lparam);
    }
}

void TannevaleMidi::OnDestroy() {
    // From here on the input callback frees returned buffers itself.
    windowHandle.store(0, std::memory_order_release);
    platform::Window::OnDestroy();
}

void TannevaleMidi::CloseDevices(bool all) {
    if (state == Closing) return;
    const int32_t remembered = state;
    state = Closing;
    // Looked up only when a port is open: a module that never opened one (it
    // never got a window, say) must not bring a MIDI backend up at teardown.
    midi::MidiServices* services = nullptr;
    auto lookUp = [&services]() -> midi::MidiServices& {
        if (services == nullptr) services = &midi::Services();
        return *services;
    };

    RemoveDevices(inputs, all, [&](MidiDevice& device) {
        if (device.inHandle == 0) return;
        lookUp().InStop(device.inHandle);
        // Hands every queued buffer back through the input callback.
        lookUp().InReset(device.inHandle);
        if (unsigned result = lookUp().InClose(device.inHandle); result != midi::MMSYSERR_NOERROR)
            WarnNotClosed("input", device, result);
    });
    RemoveDevices(outputs, all, [&](MidiDevice& device) {
        if (device.outHandle == 0) return;
        if (unsigned result = lookUp().OutClose(device.outHandle); result != midi::MMSYSERR_NOERROR)
            WarnNotClosed("output", device, result);
    });

    if (all) {
        ++restarts;
        state = ScanPending;
        status->SetText(StatusInitializing, false);
    } else {
        state = remembered;
    }
}

void TannevaleMidi::OnReset(KorvoConnector*) { OnRescan(); }

void TannevaleMidi::OnRescan() {
    CloseDevices(true);
    // -1 stops the module until "Reset" receives another value. The tick armed
    // before (100 ms while running, 200 ms while probing) must not come either,
    // or it would find ScanPending and scan again at once.
    if (reset->GetLong() != -1)
        SetTimer(TimerId, ScanDelayMs);
    else
        KillTimer(TimerId);
}

KORVO_DEFINE_CREATE_MODULE(TannevaleMidi)
KORVO_DEFINE_DELETE_MODULE
