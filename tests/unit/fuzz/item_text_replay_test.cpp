// Replays the item-text fuzz inputs, and truncations of each.
#include "../../fuzz/item_text_fuzz.cpp"
#include "replay.h"

TEST(FuzzReplay, ItemTexts) { EXPECT_GE(fuzz::ReplayCommittedInputs("item_text", &FuzzItemText, true), 3u); }
