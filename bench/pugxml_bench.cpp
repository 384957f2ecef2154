// pugxml: building, writing and reading documents whose root has 1,000 / 10,000 /
// 100,000 children. The "per_child" counter is the time per child: flat across the
// three sizes when the cost is linear.
//
// Run: <build>/bin/pugxml_bench
#include <benchmark/benchmark.h>

#include <sstream>
#include <string>

#include "xml/pugxml.h"

namespace {

void BuildListing(XmlTree &tree, int64_t children) {
    tree.create();
    XmlNodeRef document = tree.document();
    XmlNodeRef declaration = document.add_child(node_pi);
    declaration.set_name("xml");
    declaration.attribute("version") = "1.0";
    XmlNodeRef root = document.add_child(node_element);
    root.set_name("Contents-listing");
    root.attribute("Version") = "1.0";
    for (int64_t i = 0; i < children; ++i) {
        XmlNodeRef content = root.add_child(node_element);
        content.set_name("Content");
        content.attribute("Index") = static_cast<int32_t>(i);
        content.add_child(node_pcdata).set_value("0123456789abcdef");
    }
}

std::string WriteIndented(const XmlTree &tree) {
    std::ostringstream stream;
    stream << tree.document();
    return stream.str();
}

void CountPerChild(benchmark::State &state) {
    state.counters["per_child"] =
        benchmark::Counter(static_cast<double>(state.range(0)),
                           benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

void BM_Build(benchmark::State &state) {
    for (auto _ : state) {
        XmlTree tree;
        BuildListing(tree, state.range(0));
        benchmark::DoNotOptimize(tree.document().record());
    }
    CountPerChild(state);
}

void BM_BuildAndWrite(benchmark::State &state) {
    for (auto _ : state) {
        XmlTree tree;
        BuildListing(tree, state.range(0));
        benchmark::DoNotOptimize(WriteIndented(tree));
    }
    CountPerChild(state);
}

void BM_Read(benchmark::State &state) {
    XmlTree built;
    BuildListing(built, state.range(0));
    const std::string text = WriteIndented(built);
    for (auto _ : state) {
        XmlTree tree;
        if (!tree.parse(text.data(), text.size())) {
            state.SkipWithError("the written document was refused");
            break;
        }
        benchmark::DoNotOptimize(tree.document().record());
    }
    CountPerChild(state);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}

}  // namespace

BENCHMARK(BM_Build)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BuildAndWrite)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Read)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
