// Replays the find-record fuzz inputs, and truncations of each.
#include "../../fuzz/find_records_fuzz.cpp"
#include "replay.h"

TEST(FuzzReplay, FindRecords) { EXPECT_GE(fuzz::ReplayCommittedInputs("find_records", &FuzzFindRecords, true), 3u); }
