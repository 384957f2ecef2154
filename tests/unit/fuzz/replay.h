// Replays a fuzz entry's committed inputs: every file in tests/fuzz/seeds/<target>/
// and tests/fuzz/regressions/<target>/, each as its own exact-size heap block, and
// optionally truncations of each (every length up to 48 bytes, then 48 lengths
// spread over the rest), so the gcc and sanitizer builds run the same entries
// libFuzzer runs, quickly.
#ifndef CEBRIDGE_TESTS_UNIT_FUZZ_REPLAY_H
#define CEBRIDGE_TESTS_UNIT_FUZZ_REPLAY_H

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "../../fuzz/heap_copy.h"

namespace fuzz {

using Entry = int (*)(const uint8_t *data, size_t size);

struct NamedInput {
    std::string name;
    std::vector<uint8_t> bytes;
};

inline std::vector<NamedInput> CommittedInputs(const std::string &target) {
    const std::filesystem::path root = std::filesystem::path(CEBRIDGE_TEST_SOURCE_DIR) / "tests/fuzz";
    std::vector<NamedInput> inputs;
    for (const char *kind : {"seeds", "regressions"}) {
        const std::filesystem::path folder = root / kind / target;
        if (!std::filesystem::is_directory(folder)) continue;
        for (const auto &file : std::filesystem::directory_iterator(folder)) {
            std::ifstream stream(file.path(), std::ios::binary);
            inputs.push_back({std::string(kind) + "/" + file.path().filename().string(),
                              {std::istreambuf_iterator<char>(stream), std::istreambuf_iterator<char>()}});
        }
    }
    std::sort(inputs.begin(), inputs.end(), [](const NamedInput &a, const NamedInput &b) { return a.name < b.name; });
    return inputs;
}

inline void Run(Entry entry, const uint8_t *data, size_t size) {
    const HeapCopy copy(data, size);
    EXPECT_EQ(entry(copy.data(), copy.size()), 0);
}

// The lengths an input is replayed at: all of it, and with `truncations` its prefixes.
inline std::vector<size_t> ReplayLengths(size_t size, bool truncations) {
    constexpr size_t kEvery = 48;
    std::vector<size_t> lengths;
    if (truncations) {
        for (size_t length = 0; length < size && length < kEvery; ++length) lengths.push_back(length);
        const size_t step = std::max<size_t>(1, (size - std::min(size, kEvery)) / kEvery);
        for (size_t length = kEvery; length < size; length += step) lengths.push_back(length);
    }
    lengths.push_back(size);
    return lengths;
}

// Runs `entry` on each committed input (and, with `truncations`, on prefixes of
// it); returns how many inputs there were.
inline size_t ReplayCommittedInputs(const std::string &target, Entry entry, bool truncations) {
    const std::vector<NamedInput> inputs = CommittedInputs(target);
    for (const NamedInput &input : inputs) {
        SCOPED_TRACE(input.name);
        for (size_t length : ReplayLengths(input.bytes.size(), truncations)) Run(entry, input.bytes.data(), length);
    }
    return inputs.size();
}

}  // namespace fuzz

#endif  // CEBRIDGE_TESTS_UNIT_FUZZ_REPLAY_H
