// EXE.xml editing on files of growing size: every step reads the document in
// one pass, so the time per byte stays flat (the reported complexity is
// linear) however large or hostile the file.
//
//   BM_CheckWellFormed/N   the well-formedness check of an N-entry file
//   BM_Register/N          adding the entry, with every check before a write
//   BM_UnregisterOneLine/N removing N entries of ours that share one line
//   BM_CheckBinary/N       the check of N KiB of bytes that are no XML
#include <benchmark/benchmark.h>

#include <string>

#include "addon/exe_xml_document.h"
#include "addon/xml_wellformed.h"

namespace {

std::string fileWithEntries(int count) {
    std::string doc =
        "<?xml version=\"1.0\" encoding=\"Windows-1252\"?>\r\n<SimBase.Document "
        "Type=\"SimConnect\" "
        "version=\"1,0\">\r\n";
    for (int i = 0; i < count; ++i) {
        doc += "    <!-- tool " + std::to_string(i) + " </SimBase.Document> -->\r\n";
        doc += "    <Launch.Addon>\r\n        <Name>Tool " + std::to_string(i) +
               "</Name>\r\n        <Path>C:\\Tools\\t.exe</Path>\r\n    </Launch.Addon>\r\n";
    }
    return doc + "</SimBase.Document >\r\n";
}

void BM_CheckWellFormed(benchmark::State& state) {
    const std::string doc = fileWithEntries(static_cast<int>(state.range(0)));
    for (auto _ : state)
        benchmark::DoNotOptimize(checkWellFormed(doc));
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(doc.size()));
    state.SetComplexityN(static_cast<std::int64_t>(doc.size()));
}
BENCHMARK(BM_CheckWellFormed)->RangeMultiplier(8)->Range(64, 32768)->Complexity(benchmark::oN);

void BM_Register(benchmark::State& state) {
    const std::string doc = fileWithEntries(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        benchmark::DoNotOptimize(
            exe_xml::withEntry(doc, "CorvaneHID", "C:\\CorvaneHID.exe", "--config \"c.json\""));
    }
    state.SetComplexityN(static_cast<std::int64_t>(doc.size()));
}
BENCHMARK(BM_Register)->RangeMultiplier(8)->Range(64, 32768)->Complexity(benchmark::oN);

void BM_UnregisterOneLine(benchmark::State& state) {
    std::string doc = "<SimBase.Document>";
    for (std::int64_t i = 0; i < state.range(0); ++i)
        doc += "<Launch.Addon><Name>CorvaneHID</Name></Launch.Addon> ";
    doc += "</SimBase.Document>";
    for (auto _ : state)
        benchmark::DoNotOptimize(exe_xml::withoutEntry(doc, "CorvaneHID"));
    state.SetComplexityN(static_cast<std::int64_t>(doc.size()));
}
BENCHMARK(BM_UnregisterOneLine)->RangeMultiplier(8)->Range(64, 32768)->Complexity(benchmark::oN);

void BM_CheckBinary(benchmark::State& state) {
    std::string doc(static_cast<std::size_t>(state.range(0)) * 1024, '\0');
    for (std::size_t i = 0; i < doc.size(); ++i)
        doc[i] = static_cast<char>(((i * 2654435761u) >> 13) | 0x20);
    for (auto _ : state)
        benchmark::DoNotOptimize(checkWellFormed(doc));
    state.SetComplexityN(static_cast<std::int64_t>(doc.size()));
}
BENCHMARK(BM_CheckBinary)->RangeMultiplier(8)->Range(64, 32768)->Complexity(benchmark::oN);

}  // namespace

BENCHMARK_MAIN();
