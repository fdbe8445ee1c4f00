// The history file's parts, for histories of 1, 1 000 and 10 000 setups:
// load (read, UTF-16 decode, parse), which ApplyFeatures does once per run
// (again only when another writer changed the file), find the session's
// entry, the first save (serialize, UTF-16 encode, atomic replace) and the
// save after one change, which each further feature pays.
#include <benchmark/benchmark.h>

#include <map>
#include <string>

#include "bench/BenchHost.h"
#include "bench/BenchInputs.h"
#include "platform/xml/Dom.h"

namespace {

bench::BenchHost* g_host = nullptr;

// The history of `setups` entries saved once as the program saves it.
const std::string& HistoryPath(int setups) {
  static std::map<int, std::string> paths;
  auto it = paths.find(setups);
  if (it != paths.end()) return it->second;
  const std::string path = g_host->ScratchFile("History-" + std::to_string(setups) + ".xml");
  const xml::Document document = xml::Document::Create();
  if (!document.LoadXml(bench::HistoryText(setups)) || document.Save(path) != xml::kOk) std::abort();
  return paths.emplace(setups, path).first->second;
}

void SetHistoryCounters(benchmark::State& state) { state.counters["setups"] = static_cast<double>(state.range(0)); }

void BM_HistoryLoad(benchmark::State& state) {
  const std::string& path = HistoryPath(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    const xml::Document document = xml::Document::Create();
    if (!document.Load(path)) state.SkipWithError("history does not load");
  }
  SetHistoryCounters(state);
}
BENCHMARK(BM_HistoryLoad)->Arg(1)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);

void BM_HistoryFindSetup(benchmark::State& state) {
  const xml::Document document = xml::Document::Create();
  if (!document.Load(HistoryPath(static_cast<int>(state.range(0))))) std::abort();
  const xml::Node root = document.DocumentElement();
  for (auto _ : state) {
    // A session that is not there yet: the whole list is searched, as for a new setup.
    benchmark::DoNotOptimize(root.SelectSingleNode("t:Setup[@SessionId='{not-there}']"));
  }
  SetHistoryCounters(state);
}
BENCHMARK(BM_HistoryFindSetup)->Arg(1)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);

void BM_HistorySave(benchmark::State& state) {
  const int setups = static_cast<int>(state.range(0));
  const xml::Document document = xml::Document::Create();
  if (!document.Load(HistoryPath(setups))) std::abort();
  const std::string target = g_host->ScratchFile("Saved-" + std::to_string(setups) + ".xml");
  for (auto _ : state) {
    if (document.Save(target) != xml::kOk) state.SkipWithError("history does not save");
  }
  SetHistoryCounters(state);
}
BENCHMARK(BM_HistorySave)->Arg(1)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);

// What a feature pays now: the kept document gets one more element in its
// newest t:Setup and is saved; only that branch is written anew.
void BM_HistorySaveAfterChange(benchmark::State& state) {
  const int setups = static_cast<int>(state.range(0));
  const xml::Document document = xml::Document::Create();
  if (!document.Load(HistoryPath(setups))) std::abort();
  const xml::Node setup = document.DocumentElement().LastChild();
  const std::string target = g_host->ScratchFile("Changed-" + std::to_string(setups) + ".xml");
  if (document.Save(target) != xml::kOk) std::abort();  // the first save writes everything
  int n = 0;
  for (auto _ : state) {
    setup.SetAttribute("Changed", std::to_string(++n));
    if (document.Save(target) != xml::kOk) state.SkipWithError("history does not save");
  }
  SetHistoryCounters(state);
}
BENCHMARK(BM_HistorySaveAfterChange)->Arg(1)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  bench::BenchHost benchHost("tarvo_bench_history");
  g_host = &benchHost;
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
