// Throughput of the checksum over a 10 MB security file: the rolling hash
// alone, the hash with its UTF-8 to UTF-16 conversion, and the whole
// ComputeCheckSum (text of the document, reload of a copy, removal of the
// checksum element, text again, hash). The steps ComputeCheckSum is made of
// are measured on their own as well, so a slow total points at its part.
// Every figure counts the 10 MB of document text, so they compare directly.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <string>

#include "bench/BenchHost.h"
#include "bench/BenchInputs.h"
#include "infra/ErrorMgr.h"
#include "platform/text/Text.h"
#include "platform/xml/Dom.h"
#include "securityfiles/RepositoryMgr.h"

namespace {

constexpr size_t kDocumentBytes = 10 * 1000 * 1000;

// The document text, built once: whole rounds of twenty features, enough of
// them to reach 10 MB.
const std::string& DocumentText() {
  static const std::string text = [] {
    bench::SecurityFileShape shape;
    shape.productValue = "Bench Checksum Product";
    shape.features = 0;
    const size_t frame = bench::SecurityFileText(shape).size();
    shape.features = 20;
    const size_t perRound = bench::SecurityFileText(shape).size() - frame;
    shape.features = static_cast<int>(20 * ((kDocumentBytes - frame + perRound - 1) / perRound));
    return bench::SecurityFileText(shape);
  }();
  return text;
}

xml::Document LoadedDocument() {
  const xml::Document document = xml::Document::Create();
  if (!document.LoadXml(DocumentText())) std::abort();
  return document;
}

void CountDocumentBytes(benchmark::State& state) {
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(DocumentText().size()));
}

void BM_HashText(benchmark::State& state) {
  const std::u16string units = text::Utf8ToUtf16(LoadedDocument().Xml());
  for (auto _ : state) benchmark::DoNotOptimize(CRepositoryMgr::HashText(units));
  CountDocumentBytes(state);
}
BENCHMARK(BM_HashText)->Unit(benchmark::kMillisecond);

void BM_HashTextUtf8(benchmark::State& state) {
  const std::string xmlText = LoadedDocument().Xml();
  for (auto _ : state) benchmark::DoNotOptimize(CRepositoryMgr::HashTextUtf8(xmlText));
  CountDocumentBytes(state);
}
BENCHMARK(BM_HashTextUtf8)->Unit(benchmark::kMillisecond);

void MeasureComputeCheckSum(benchmark::State& state, const xml::Document& document) {
  CErrorMgr errorMgr;
  for (auto _ : state) {
    const std::string checksum = CRepositoryMgr::ComputeCheckSum(errorMgr, document);
    if (checksum.empty()) state.SkipWithError("checksum could not be computed");
    benchmark::DoNotOptimize(checksum);
  }
  CountDocumentBytes(state);
}

void BM_ComputeCheckSum(benchmark::State& state) { MeasureComputeCheckSum(state, LoadedDocument()); }
BENCHMARK(BM_ComputeCheckSum)->Unit(benchmark::kMillisecond);

// A document changed since it was loaded (as before a save) is read back
// from its text before it is hashed.
void BM_ComputeCheckSumChanged(benchmark::State& state) {
  const xml::Document document = LoadedDocument();
  document.DocumentElement().SetAttribute("changed", "1");
  MeasureComputeCheckSum(state, document);
}
BENCHMARK(BM_ComputeCheckSumChanged)->Unit(benchmark::kMillisecond);

// ---- The parts of ComputeCheckSum: the text, the reload of a changed
// document, and the UTF-16 units the hash runs over.

void BM_Part_DocumentXml(benchmark::State& state) {
  const xml::Document document = LoadedDocument();
  for (auto _ : state) benchmark::DoNotOptimize(document.Xml());
  CountDocumentBytes(state);
}
BENCHMARK(BM_Part_DocumentXml)->Unit(benchmark::kMillisecond);

void BM_Part_LoadXml(benchmark::State& state) {
  const std::string xmlText = LoadedDocument().Xml();
  for (auto _ : state) {
    const xml::Document duplicate = xml::Document::Create();
    if (!duplicate.LoadXml(xmlText)) state.SkipWithError("text does not load");
    benchmark::DoNotOptimize(duplicate);
  }
  CountDocumentBytes(state);
}
BENCHMARK(BM_Part_LoadXml)->Unit(benchmark::kMillisecond);

void BM_Part_Utf8ToUtf16(benchmark::State& state) {
  const std::string xmlText = LoadedDocument().Xml();
  for (auto _ : state) benchmark::DoNotOptimize(text::Utf8ToUtf16(xmlText));
  CountDocumentBytes(state);
}
BENCHMARK(BM_Part_Utf8ToUtf16)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  bench::BenchHost benchHost("tarvo_bench_checksum");
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::AddCustomContext("document_bytes", std::to_string(DocumentText().size()));
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
