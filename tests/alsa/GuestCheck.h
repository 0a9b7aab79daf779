#pragma once
// Fails every test of the program at once, with one clear message, when it
// does not run inside the VM guest that has the ALSA sequencer.

#include <gtest/gtest.h>

#include "AlsaPeers.h"

namespace alsatest {

class GuestCheck : public testing::Environment {
  public:
    void SetUp() override {
        ASSERT_TRUE(InGuest()) << "these tests need the ALSA sequencer of the VM guest (tools/vm/run-in-vm)";
    }
};

// Registered by each test program's one inclusion of this header.
inline const auto* const guestCheck = testing::AddGlobalTestEnvironment(new GuestCheck);

}  // namespace alsatest
