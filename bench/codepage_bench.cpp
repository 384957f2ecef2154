// The ANSI code page: converting one file name each way, as a listing or a transfer
// does per entry. ASCII names and Korean ones, in the default code page (CP949).
//
// Run: <build>/bin/codepage_bench
#include <benchmark/benchmark.h>

#include <string>

#include "platform/platform.h"

namespace {

const platform::WideString kAsciiName = u"entry-12345.txt";
const platform::WideString kKoreanName = u"\uD55C\uAE00 \uBB38\uC11C-12345.txt";

void BM_WideToAnsi(benchmark::State &state, const platform::WideString &name) {
    for (auto _ : state) benchmark::DoNotOptimize(platform::WideToAnsi(name.c_str()));
}

void BM_AnsiToWide(benchmark::State &state, const platform::WideString &name) {
    const std::string ansi = platform::WideToAnsi(name.c_str());
    for (auto _ : state) benchmark::DoNotOptimize(platform::AnsiToWide(ansi.c_str()));
}

// Both directions in turn, as a transfer converts a path one way and its answer back.
void BM_BothWays(benchmark::State &state, const platform::WideString &name) {
    for (auto _ : state) benchmark::DoNotOptimize(platform::AnsiToWide(platform::WideToAnsi(name.c_str()).c_str()));
}

}  // namespace

BENCHMARK_CAPTURE(BM_WideToAnsi, ascii, kAsciiName);
BENCHMARK_CAPTURE(BM_WideToAnsi, korean, kKoreanName);
BENCHMARK_CAPTURE(BM_AnsiToWide, ascii, kAsciiName);
BENCHMARK_CAPTURE(BM_AnsiToWide, korean, kKoreanName);

BENCHMARK_CAPTURE(BM_BothWays, ascii, kAsciiName);
BENCHMARK_CAPTURE(BM_BothWays, korean, kKoreanName);

BENCHMARK_MAIN();
