// Replays the vCard and iCalendar fuzz inputs, and truncations of each.
#include "../../fuzz/pim_files_fuzz.cpp"
#include "../../unit/fuzz/replay.h"

TEST(FuzzReplay, PimFiles) { EXPECT_GE(fuzz::ReplayCommittedInputs("pim_files", &FuzzPimFiles, true), 6u); }
