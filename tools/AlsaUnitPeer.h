// The units of korvo-unit-simulator on ALSA sequencer ports.
#pragma once

#include <signal.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "UnitSimulator.h"

namespace tools {

// Prints one message that reached a unit (--log).
using MessageLog = void (*)(const midi::UnitSimulator& unit, const uint8_t* bytes, size_t length);

// Runs `units` as one sequencer client named `client`, each unit on its own pair
// of ports ("<type>-<id>-in" receives, "<type>-<id>-out" answers to its
// subscribers), prints "ready" once they exist and returns when one of
// `signals` (blocked by the caller) arrives. Every message that reaches a unit
// goes to `log` first, when given. Returns the process exit status.
int RunAlsaPeer(const std::string& client, const std::vector<midi::UnitConfig>& units,
                uint32_t delayMs, MessageLog log, const sigset_t& signals);

}  // namespace tools
