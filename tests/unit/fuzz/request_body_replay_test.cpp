// Replays the request-body fuzz inputs, and truncations of each.
#include "../../fuzz/request_body_fuzz.cpp"
#include "replay.h"

TEST(FuzzReplay, RequestBodies) { EXPECT_GE(fuzz::ReplayCommittedInputs("request_body", &FuzzRequestBody, true), 6u); }
