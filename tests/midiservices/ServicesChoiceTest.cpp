// How the process-wide backend is chosen. Each choice is made once per process,
// so every case runs in a child process of its own.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>

#include "AlsaServices.h"
#include "MidiServices.h"
#include "SimServices.h"

using namespace midi;

namespace {

// Exit code: the number of input devices of the chosen backend.
[[noreturn]] void ChooseAndExit(const char* backend, const char* units) {
    if (backend) setenv("KORVO_MIDI", backend, 1); else unsetenv("KORVO_MIDI");
    if (units) setenv("KORVO_SIM_UNITS", units, 1); else unsetenv("KORVO_SIM_UNITS");
    // No JACK server may be started for us, and none runs under this name.
    setenv("JACK_NO_START_SERVER", "1", 1);
    setenv("JACK_DEFAULT_SERVER", "korvo-no-such-server", 1);
    MidiServices& first = Services();
    std::_Exit(&first == &Services() ? int(first.InGetNumDevs()) : 100);
}

// The inputs the ALSA backend lists here; 0 without a sequencer.
int SequencerInputs() {
    auto alsa = AlsaServices::Create();
    return alsa ? int(alsa->InGetNumDevs()) : 0;
}

TEST(ServicesChoice, ByEnvironment) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    struct Row {
        const char* what;
        const char* backend;
        const char* units;
        int inputs;
    } rows[] = {
        {"sim with a unit list", "sim", "11:1234567,0a:42,12:9", 3},
        {"sim with the default units", "sim", nullptr, 4},
        {"jack without a server: no ports", "jack", nullptr, 0},
        {"unknown backend: no ports", "winmm", nullptr, 0},
        // There is no sequencer on the build machines; the default falls through
        // ALSA and JACK to no ports without crashing. (Where a sequencer opens,
        // as in the VM of tools/vm/run-in-vm, it is chosen instead.)
        {"default without ALSA and JACK", nullptr, nullptr, SequencerInputs()},
    };
    for (const Row& row : rows)
        EXPECT_EXIT(ChooseAndExit(row.backend, row.units), testing::ExitedWithCode(row.inputs), "") << row.what;
}

TEST(ServicesChoice, InstalledBackendWinsUntilRemoved) {
    SimServices sim({});
    InstallServices(&sim);
    EXPECT_EQ(&Services(), &sim);
    InstallServices(nullptr);
    EXPECT_NE(&Services(), &sim);
}

TEST(ServicesChoice, AlsaFailsCleanlyWithoutASequencer) {
    // Either the sequencer opens and enumerates, or Create says no: never a crash.
    auto alsa = AlsaServices::Create();
    if (access("/dev/snd/seq", R_OK | W_OK) != 0) {
        EXPECT_EQ(alsa, nullptr);
    }
    if (alsa) {
        std::wstring name;
        unsigned count = alsa->InGetNumDevs();
        EXPECT_EQ(alsa->InGetDevCaps(count, &name), MMSYSERR_BADDEVICEID);
    } else {
        SUCCEED() << "no ALSA sequencer here";
    }
}

}  // namespace
