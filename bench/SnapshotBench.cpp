// Bringing a firewall snapshot in line with the firewall's rules
// (CTarvo::FWRulesInCollection): R rules spread evenly over P products,
// one snapshot file per product holding a port entry per rule of its
// product. Each iteration loads, updates and saves every file. The sizes
// show how the cost grows: with rules plus files, not rules times files.
#include <benchmark/benchmark.h>

#include <memory>
#include <string>
#include <vector>

#include "bench/BenchHost.h"
#include "cli/Tarvo.h"
#include "infra/ErrorMgr.h"
#include "platform/Files.h"
#include "platform/Platform.h"
#include "platform/xml/Dom.h"
#include "securityfiles/RepositoryMgr.h"
#include "securityfiles/SecurityFileFormat.h"

namespace {

std::string ProductName(int product) { return "Product " + std::to_string(product); }
std::string PortName(int product, int index) { return ProductName(product) + " Port " + std::to_string(index); }

// The snapshot folder with one registered file per product.
std::string MakeSnapshot(int rules, int products) {
  const std::string folder = "C:\\Windows\\Security\\Kelmar\\2014_11_" + std::to_string(rules % 28 + 1) + "__" +
                             std::to_string(products % 24) + "_00_00";
  plat::IFiles& files = plat::Current().Files();
  files.MakeDirectory("C:\\Windows\\Security\\Kelmar");
  files.MakeDirectory(folder);
  for (int p = 0; p < products; ++p) {
    std::string entries;
    for (int i = 0; i < rules / products; ++i) {
      entries += "<t:port name=\"" + PortName(p, i) + "\" value=\"" + std::to_string(5000 + i) +
                 "\" tcp=\"true\" exists=\"true\" enable=\"yes\" firewallProfile=\"all\"><t:scopeAny/></t:port>";
    }
    const xml::Document document = xml::Document::Create();
    const std::string text = std::string("<t:vscSetup xmlns:t=\"") + secfile::kSecurityFileNamespace +
                             "\"><t:host name=\"\"><t:products><t:product value=\"" + ProductName(p) +
                             "\"/></t:products><t:body><t:network><t:lan>" + entries +
                             "</t:lan></t:network></t:body></t:host></t:vscSetup>";
    const std::string path = folder + "\\" + ProductName(p) + "_Firewall.xml";
    CErrorMgr errors;
    if (!document.LoadXml(text) || !CRepositoryMgr::SaveXMLWithHash(errors, document, path)) std::abort();
    CRepositoryMgr::AddToFirewallRepository(errors, path, "{" + std::to_string(p) + "}", "1033", folder);
  }
  return folder;
}

// One rule per entry, grouped under its product, switched off with a custom scope.
std::vector<std::shared_ptr<plat::IFwRule>> MakeRules(int rules, int products) {
  std::vector<std::shared_ptr<plat::IFwRule>> made;
  for (int p = 0; p < products; ++p) {
    for (int i = 0; i < rules / products; ++i) {
      std::shared_ptr<plat::IFwRule> rule;
      if (plat::Current().Firewall().CreateRule(&rule) != 0) std::abort();
      rule->PutName(PortName(p, i));
      rule->PutProtocol(plat::kFwIpProtocolTcp);
      rule->PutLocalPorts(std::to_string(5000 + i));
      rule->PutGrouping(ProductName(p));
      rule->PutEnabled(false);
      rule->PutRemoteAddresses("10.0.0.1");
      made.push_back(rule);
    }
  }
  return made;
}

void BM_FWRulesInCollection(benchmark::State& state) {
  const int rules = static_cast<int>(state.range(0));
  const int products = static_cast<int>(state.range(1));
  const std::string folder = MakeSnapshot(rules, products);
  const auto ruleObjects = MakeRules(rules, products);
  CTarvo tarvo;
  for (auto _ : state) {
    CErrorMgr errors;
    tarvo.FWRulesInCollection(errors, ruleObjects, folder);
    if (errors.GetHighestLevel() > kLevelInfo) state.SkipWithError("the snapshot was not updated cleanly");
  }
  state.counters["rules"] = rules;
  state.counters["products"] = products;
}
BENCHMARK(BM_FWRulesInCollection)
    ->Args({500, 10})
    ->Args({1000, 10})
    ->Args({500, 20})
    ->Args({1000, 20})
    ->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  bench::BenchHost benchHost("tarvo_bench_snapshot");
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
