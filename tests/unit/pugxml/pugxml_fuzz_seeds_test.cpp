// Replays the reader's fuzz seeds through the fuzz entry itself, together with every
// truncation of each seed and each seed with one byte replaced by a markup character,
// so the gcc builds exercise the entry without libFuzzer.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "../../fuzz/pugxml_reader_fuzz.cpp"

namespace {

void Replay(const std::string &bytes) {
    LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t *>(bytes.data()), bytes.size());
}

TEST(PugxmlFuzzSeeds, SeedsTruncationsAndByteSwapsReadWithoutFault) {
    const std::filesystem::path folder = std::filesystem::path(CEBRIDGE_TEST_SOURCE_DIR) / "tests/fuzz/pugxml_seeds";
    size_t seeds = 0;
    for (const auto &entry : std::filesystem::directory_iterator(folder)) {
        std::ifstream file(entry.path(), std::ios::binary);
        const std::string seed((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
        SCOPED_TRACE(entry.path().filename().string());
        ++seeds;
        for (size_t length = 0; length <= seed.size(); ++length) {
            Replay(seed.substr(0, length));
        }
        for (size_t at = 0; at < seed.size(); ++at) {
            for (char replacement : {'<', '>', '"', '/', ']', '\0'}) {
                std::string changed = seed;
                changed[at] = replacement;
                Replay(changed);
            }
        }
    }
    EXPECT_GE(seeds, 5u);
}

}  // namespace
