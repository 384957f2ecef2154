// Replays the emulated database server's fuzz inputs on a fresh copy of the demo
// phone (whole inputs only: each call goes through the emulator's link).
#include "../../fuzz/emulator_tobrann_fuzz.cpp"
#include "replay.h"
#include "support/phone_copy.h"

TEST(FuzzReplay, EmulatedTobrannRequests) {
    PhoneCopy phone;
    EXPECT_GE(fuzz::ReplayCommittedInputs("emulator_tobrann", &FuzzEmulatorTobrann, false), 3u);
    EndEmulatorFuzzLink();
}
