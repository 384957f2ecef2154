// Replays the fuzz inputs of the database server's answers, and truncations of each
// (a cut answer is the commonest lie).
#include "../../fuzz/tobrann_answer_fuzz.cpp"
#include "replay.h"

TEST(FuzzReplay, TobrannAnswers) {
    EXPECT_GE(fuzz::ReplayCommittedInputs("tobrann_answer", &FuzzTobrannAnswer, true), 6u);
}
