// What opening the host costs every run of tarvo: the open its main does
// (database, profile, path map) and the close at the end, on the host
// $TARVO_HOST names (bench/run makes it fresh). Nothing else holds the host
// open meanwhile, as in a run of its own.
#include <benchmark/benchmark.h>

#include <iostream>
#include <memory>
#include <string>

#include "platform/host/Host.h"

namespace {

std::string g_folder;

void BM_HostOpen(benchmark::State& state) {
  for (auto _ : state) {
    std::string error;
    std::unique_ptr<host::Host> h = host::Host::Open(g_folder, host::OpenOptions{}, &error);
    if (!h) state.SkipWithError(error.c_str());
    benchmark::DoNotOptimize(h.get());
  }
}
BENCHMARK(BM_HostOpen)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  g_folder = host::Host::DefaultFolder();
  if (!host::Host::Exists(g_folder)) {
    std::cerr << "tarvo_bench_host: no host in " << g_folder << " (set TARVO_HOST to an existing host)\n";
    return 1;
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
