#include "securityfiles/FeatureDiscovery.h"

#include <array>
#include <string>
#include <vector>

#include "access/FilePermission.h"
#include "access/GroupUser.h"
#include "access/RegistryPermission.h"
#include "dcom/DCOM.h"
#include "features/WUA.h"
#include "firewall/Firewall.h"
#include "infra/ErrorMgr.h"
#include "infra/IniFile.h"
#include "securityfiles/SecurityFileFormat.h"

namespace {

using secfile::FeatureKind;

// How discovery builds and reports one kind.
struct DiscoverableKind {
  FeatureKind kind;
  std::unique_ptr<CFeature> (*create)();
  const char* foundLine;  // level-2 line when at least one feature was kept
  bool lineTakesCount;
};

template <typename Kind>
std::unique_ptr<CFeature> Create() {
  return std::make_unique<Kind>();
}

// The one place a feature kind is added to discovery; the order is that of
// secfile::kFeatureKinds.
constexpr std::array<DiscoverableKind, 6> kDiscoverableKinds = {{
    {FeatureKind::kGroupUser, &Create<CGroupUser>, "    Found    GroupUser Feature", false},
    {FeatureKind::kFilePermission, &Create<CFilePermission>, "    Found  %d FilePermission Features", true},
    {FeatureKind::kRegistryPermission, &Create<CRegistryPermission>, "    Found  %d RegistryPermission Feature", true},
    {FeatureKind::kDcom, &Create<CDCOM>, "    Found    DCOM Feature", false},
    {FeatureKind::kFirewall, &Create<CFirewall>, "    Found    Firewall Feature", false},
    {FeatureKind::kWua, &Create<CWUA>, "    Found    WUA Feature", false},
}};

static_assert([] {
  for (size_t i = 0; i < kDiscoverableKinds.size(); ++i) {
    if (kDiscoverableKinds[i].kind != secfile::kFeatureKinds[i].kind) return false;
  }
  return true;
}());

void ReportFoundKind(CErrorMgr& errorMgr, const DiscoverableKind& kind, size_t count) {
  if (kind.lineTakesCount) {
    errorMgr.AddMessageF(kLevelInfo, "", kind.foundLine, static_cast<int>(count));
  } else {
    errorMgr.AddMessage(kLevelInfo, "", kind.foundLine);
  }
}

FeatureList ReadKind(CErrorMgr& errorMgr, CIniFile& opFile, const DiscoverableKind& kind,
                     const xml::NodeList& nodes) {
  FeatureList features;
  for (const xml::Node& node : nodes) {
    std::unique_ptr<CFeature> feature = kind.create();
    if (feature->LoadFeature(errorMgr, opFile, node)) features.push_back(std::move(feature));
  }
  return features;
}

bool IsNamePart(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
}

// The items of a filter list: the runs of letters and digits, whatever
// separates them.
std::vector<std::string_view> FilterItems(std::string_view filter) {
  std::vector<std::string_view> items;
  size_t pos = 0;
  while (pos < filter.size()) {
    while (pos < filter.size() && !IsNamePart(filter[pos])) ++pos;
    const size_t begin = pos;
    while (pos < filter.size() && IsNamePart(filter[pos])) ++pos;
    if (pos > begin) items.push_back(filter.substr(begin, pos - begin));
  }
  return items;
}

}  // namespace

bool CXmlAnalyser::IsKindSelected(std::string_view filter, std::string_view kindName) {
  if (filter.empty() || filter.find(kindName) != std::string_view::npos) return true;
  // Each item of a list selects as it would alone: "Permission,WUA" names
  // both permission kinds as well as WUA.
  for (const std::string_view item : FilterItems(filter)) {
    if (kindName.find(item) != std::string_view::npos) return true;
  }
  return false;
}

FeatureList CXmlAnalyser::DiscoverFeatures(CErrorMgr& errorMgr, CIniFile& opFile, std::string_view fileName,
                                           const xml::Document& document) {
  errorMgr.AddMessageF(kLevelInfo, "", "  %s", std::string(fileName).c_str());
  const std::string filter = opFile.GetValue("GENERAL", "Feature");
  FeatureList result;
  for (size_t i = 0; i < kDiscoverableKinds.size(); ++i) {
    const DiscoverableKind& kind = kDiscoverableKinds[i];
    const secfile::FeatureKindInfo& info = secfile::kFeatureKinds[i];
    if (!IsKindSelected(filter, info.kindName)) continue;
    const xml::NodeList nodes = document ? document.SelectNodes(info.query) : xml::NodeList();
    FeatureList found = ReadKind(errorMgr, opFile, kind, nodes);
    if (errorMgr.GetHighestLevel() > kLevelError) return result;
    if (!found.empty()) ReportFoundKind(errorMgr, kind, found.size());
    for (auto& feature : found) result.push_back(std::move(feature));
  }
  return result;
}
