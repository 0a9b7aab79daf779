// The device module on the ALSA backend on the VM guest's sequencer, with the
// unit simulator program as the units: the story of UnitStory.h and the
// long-message table.

#include <gtest/gtest.h>

#include "AlsaPeers.h"
#include "GuestCheck.h"
#include "UnitStory.h"

namespace {

TEST(AlsaIntegration, UnitsFoundAnsweredLostAndFoundAgain) {
    miditest::TellUnitStory<alsatest::AlsaSimulator>("alsa");
}

TEST(AlsaIntegration, LongMessagesArriveAndLeaveWhole) {
    miditest::WalkLongMessages<alsatest::AlsaSimulator>("alsa");
}

}  // namespace
