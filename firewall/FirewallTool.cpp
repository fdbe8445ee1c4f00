#include "firewall/FirewallTool.h"

#include <vector>

#include "infra/ErrorMgr.h"
#include "platform/Firewall.h"
#include "platform/text/Text.h"
#include "resources/ResourceMgr.h"
#include "securityfiles/XmlServices.h"

namespace {

constexpr const char* kSetScopeLabel = "CFirewallTool::SetScopeTypeToXML";

// Language texts that describe a scope in the feature document.
int ScopeTextNumber(int scopeType) {
  switch (scopeType) {
    case CFirewallTool::kScopeAny: return 163;
    case CFirewallTool::kScopeSubnet: return 165;
    case CFirewallTool::kScopeCustom: return 164;
    default: return 0;
  }
}

}  // namespace

void CFirewallTool::GetScopeTypeFromXml(const xml::Node& entry, int* scopeType, std::string* customAddresses) {
  *scopeType = kScopeNone;
  customAddresses->clear();
  if (entry.IsNull()) return;
  // The first present in this order wins.
  for (int type : {kScopeAny, kScopeSubnet, kScopeCustom}) {
    const std::string name = GetScopeElementName(type);
    if (entry.SelectSingleNode(name).IsNull()) continue;
    *scopeType = type;
    GetXmlValue(entry, name + "/@value", customAddresses);
    return;
  }
}

void CFirewallTool::SetScopeTypeToXML(CErrorMgr& errorMgr, const xml::Node& entry, int scopeType,
                                      std::string_view customAddresses, bool withMessage) {
  const std::string name = GetScopeElementName(scopeType);
  if (name.empty()) {
    errorMgr.AddMessage(kLevelError, kSetScopeLabel, "Unknown of initialized Scope Type, Please check Scope Type in XML");
    return;
  }
  const std::string message = withMessage ? CResourceMgr::GetResourceText(ScopeTextNumber(scopeType)) : "";
  const xml::Node element = GetOrCreateChildElement(entry, name, message);
  if (!customAddresses.empty()) SetXmlAttribute(element, "value", customAddresses);
}

std::string CFirewallTool::GetScopeElementName(int scopeType) {
  switch (scopeType) {
    case kScopeAny: return "t:scopeAny";
    case kScopeSubnet: return "t:scopeSubnet";
    case kScopeCustom: return "t:scopeCustom";
    default: return "";
  }
}

std::string CFirewallTool::GetScopeText(int scopeType, std::string_view customAddresses) {
  switch (scopeType) {
    case kScopeAny: return "complete network";
    case kScopeSubnet: return "only subnet";
    case kScopeCustom: return "custom network access to " + std::string(customAddresses);
    default: return "";
  }
}

int CFirewallTool::GetSystemServiceType(std::string_view serviceName) {
  if (serviceName == "NET_FW_SERVICE_REMOTE_DESKTOP") return 2;
  if (serviceName == "NET_FW_SERVICE_UPNP") return 1;
  if (serviceName == "NET_FW_SERVICE_FILE_AND_PRINT") return 0;
  return -1;
}

int32_t CFirewallTool::GetProfileMask(std::string_view firewallProfile) {
  if (firewallProfile == "all") return plat::kFwProfile2All;
  if (firewallProfile == "public") return plat::kFwProfile2Public;
  if (firewallProfile == "private") return plat::kFwProfile2Private;
  if (firewallProfile == "domain") return plat::kFwProfile2Domain;
  return static_cast<int32_t>(0xFFFFFFFF);
}

std::string CFirewallTool::AppendPreviousAddresses(std::string_view addresses, std::string_view previous) {
  std::string combined(addresses);
  std::vector<std::string> held = text::SplitNonEmpty(addresses, ", ");
  for (const std::string& item : text::SplitNonEmpty(previous, ", ")) {
    bool present = false;
    for (const std::string& have : held) present = present || text::EqualsNoCase(have, item);
    if (present) continue;
    combined += (combined.empty() ? "" : ",") + item;
    held.push_back(item);
  }
  return combined;
}

CFirewallTool::LegacyRemoteAccess CFirewallTool::GetLegacyRemoteAccess(int scopeType, std::string_view customAddresses,
                                                                     std::string_view previous) {
  constexpr const char* kAddressesFailed = "put_RemoteAddresses failed: 0x%08lx";
  constexpr const char* kScopeFailed = "put_Scope failed: 0x%08lx";
  if (previous == "*") return {true, "*", kScopeNone, kAddressesFailed};
  if (scopeType == kScopeCustom) return {true, AppendPreviousAddresses(customAddresses, previous), kScopeNone, kAddressesFailed};
  // Previous addresses that are only the subnet again add nothing: the
  // scope code keeps the stored text as it is.
  const std::string subnet = AppendPreviousAddresses("localsubnet", previous);
  if (scopeType == kScopeSubnet && !text::EqualsNoCase(subnet, "localsubnet")) {
    return {true, subnet, kScopeNone, kScopeFailed};
  }
  return {false, "", scopeType, kScopeFailed};
}

std::string CFirewallTool::GetRuleRemoteAddresses(int scopeType, std::string_view customAddresses,
                                                  std::string_view previous) {
  if (previous == "*") return "*";
  if (scopeType == kScopeCustom) return AppendPreviousAddresses(customAddresses, previous);
  if (scopeType == kScopeSubnet) return AppendPreviousAddresses("LocalSubnet", previous);
  return "";
}
