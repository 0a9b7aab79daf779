// The units of korvo-unit-simulator on ALSA sequencer ports.
#pragma once

#include <signal.h>

#include <cstdint>
#include <string>
#include <vector>

#include "UnitSimulator.h"

namespace tools {

// Runs `units` as one sequencer client named `client`, each unit on its own pair
// of ports ("<type>-<id>-in" receives, "<type>-<id>-out" answers to its
// subscribers), prints "ready" once they exist and returns when one of
// `signals` (blocked by the caller) arrives. Returns the process exit status.
int RunAlsaPeer(const std::string& client, const std::vector<midi::UnitConfig>& units,
                uint32_t delayMs, const sigset_t& signals);

}  // namespace tools
