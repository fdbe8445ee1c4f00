// A predefined firewall exception switched on or off, on either family.
#include "firewall/SystemService.h"

#include <array>
#include <vector>

#include "features/Feature.h"
#include "firewall/FirewallTool.h"
#include "infra/ErrorMgr.h"
#include "platform/Platform.h"
#include "platform/WinError.h"
#include "resources/ResourceMgr.h"
#include "securityfiles/XmlServices.h"

namespace {

constexpr const char* kApplyLabel = "::ApplySystemService";
constexpr const char* kApply2Label = "CSystemService::ApplySystemService2";
constexpr const char* kCurrentLabel = "CSystemService::GetCurrentSystemService";
constexpr const char* kFromFirewallLabel = "CSystemService::GetSystemServiceFromFirewall";
constexpr const char* kLogLabel = "CSystemService::AddLogEntriesFromFeature";
constexpr const char* kToXmlLabel = "CSystemService::SetFeatureToXml";

constexpr int kFileAndPrint = plat::kFwServiceFileAndPrint;

// The built-in rule group of each service type.
constexpr std::array<const char*, 3> kRuleGroups = {
    "@FirewallAPI.dll,-28502",  // file and printer sharing
    "@FirewallAPI.dll,-32752",  // UPnP
    "@FirewallAPI.dll,-28752",  // remote desktop
};

// Language texts of the feature document by service type: switched on, switched off.
constexpr std::array<int, 3> kOnTexts = {160, 161, 162};
constexpr std::array<int, 3> kOffTexts = {186, 187, 188};

// The rules that stand in for file and printer sharing when it is to be
// reached from a custom list of addresses, which a built-in group cannot be
// restricted to. Inbound allow rules for every profile, as a new rule is.
constexpr const char* kOwnRuleDescription = "File and Printer Sharing for Davoduze VU";
constexpr const char* kOwnRuleGrouping = "Vantrix Rule Group";

struct OwnRule {
  const char* name;
  int32_t protocol;
  const char* localPorts;
  const char* serviceName;
  const char* application;
  const char* icmpTypesAndCodes;
};

constexpr std::array<OwnRule, 9> kOwnRules = {{
    {"File and Printer Sharing New_Rule (Spooler Service - RPC-EPMAP)", plat::kFwIpProtocolTcp, "", "Rpcss", "", ""},
    {"File and Printer Sharing New_Rule (Spooler Service - RPC)", plat::kFwIpProtocolTcp, "", "Spooler",
     "%SystemRoot%\\system32\\spoolsv.exe", ""},
    {"File and Printer Sharing New_Rule (SMB-In)", plat::kFwIpProtocolTcp, "445", "", "System", ""},
    {"File and Printer Sharing New_Rule (NB-Name-In)", plat::kFwIpProtocolUdp, "137", "", "System", ""},
    {"File and Printer Sharing New_Rule (NB-Session-In)", plat::kFwIpProtocolTcp, "139", "", "System", ""},
    {"File and Printer Sharing New_Rule (NB-Datagram-In)", plat::kFwIpProtocolUdp, "138", "", "System", ""},
    {"File and Printer Sharing New_Rule (LLMNR-UDP-In)", plat::kFwIpProtocolUdp, "5355", "dnscache",
     "%SystemRoot%\\system32\\svchost.exe", ""},
    {"File and Printer Sharing New_Rule (Echo Request - ICMPv6-In)", plat::kFwIpProtocolIcmp6, "", "", "", "128:*"},
    {"File and Printer Sharing New_Rule (Echo Request - ICMPv4-In)", plat::kFwIpProtocolIcmp4, "", "", "", "8:*"},
}};

using winerr::Failed;

// The code to report for a call that answered `hr` but gave a null object.
uint32_t NullCode(uint32_t hr) { return Failed(hr) ? hr : winerr::kEPointer; }

bool IsKnownType(int type) { return type >= 0 && type < static_cast<int>(kRuleGroups.size()); }

// A new rule object with the row's properties; null (after an error) when it cannot be made.
std::shared_ptr<plat::IFwRule> MakeOwnRule(CErrorMgr& errorMgr, const OwnRule& row) {
  std::shared_ptr<plat::IFwRule> rule;
  const uint32_t hr = plat::Current().Firewall().CreateRule(&rule);
  if (Failed(hr) || !rule) {
    errorMgr.AddMessageF(kLevelError, kApply2Label, "CoCreateInstance for Firewall Rule failed: 0x%08x\n", NullCode(hr));
    return nullptr;
  }
  // The protocol goes before the ports and ICMP types it allows.
  uint32_t rc = rule->PutName(row.name);
  if (!Failed(rc)) rc = rule->PutDescription(kOwnRuleDescription);
  if (!Failed(rc)) rc = rule->PutProtocol(row.protocol);
  if (!Failed(rc) && *row.localPorts) rc = rule->PutLocalPorts(row.localPorts);
  if (!Failed(rc) && *row.serviceName) rc = rule->PutServiceName(row.serviceName);
  if (!Failed(rc) && *row.application) rc = rule->PutApplicationName(row.application);
  if (!Failed(rc) && *row.icmpTypesAndCodes) {
    rc = rule->PutIcmpTypesAndCodes(row.icmpTypesAndCodes);
    std::string readBack;
    if (!Failed(rc)) rc = rule->GetIcmpTypesAndCodes(&readBack);
  }
  if (!Failed(rc)) rc = rule->PutGrouping(kOwnRuleGrouping);
  if (Failed(rc)) {
    errorMgr.AddMessageF(kLevelError, kApply2Label, "Something failed: 0x%08x\n", rc);
    return nullptr;
  }
  return rule;
}

// Puts `rule` in place of the rule named `name`, allowing `customAddresses`
// and what that rule allowed. False (after an error) when that fails.
bool ReplaceOwnRule(CErrorMgr& errorMgr, plat::IFwRules& rules, const char* name,
                    const std::shared_ptr<plat::IFwRule>& rule, const std::string& customAddresses) {
  // A rule of that name made by an earlier run keeps the addresses it allowed.
  std::shared_ptr<plat::IFwRule> existing;
  std::string previous;
  uint32_t rc = winerr::kSOk;
  if (!Failed(rules.Item(name, &existing)) && existing) rc = existing->GetRemoteAddresses(&previous);
  const std::string addresses =
      previous == "*" ? previous : CFirewallTool::AppendPreviousAddresses(customAddresses, previous);
  if (!Failed(rc)) rc = rule->PutRemoteAddresses(addresses);
  if (!Failed(rc)) rc = rule->PutEnabled(true);
  if (Failed(rc)) {
    errorMgr.AddMessageF(kLevelError, kApply2Label, "Something failed: 0x%08x\n", rc);
    return false;
  }
  if (rc = rules.Remove(name); Failed(rc)) {
    errorMgr.AddMessageF(kLevelError, kApply2Label, "Firewall Rule Remove failed: 0x%08x\n", rc);
    return false;
  }
  if (rc = rules.Add(rule); Failed(rc)) {
    errorMgr.AddMessageF(kLevelError, kApply2Label, "Firewall Rule Add failed: 0x%08x\n", rc);
    return false;
  }
  errorMgr.AddMessage(kLevelInfo, kApply2Label, "New_RULE is added and activated");
  return true;
}

}  // namespace

// ---- Reading ---------------------------------------------------------------------

void CSystemService::Read(const xml::Node& element) {
  GetXmlValue(element, "@name", &name_);
  GetXmlBool(element, "@value", &value_);
  GetXmlValue(element, "@firewallProfile", &firewallProfile_);
  if (firewallProfile_.empty()) firewallProfile_ = "all";
  CFirewallTool::GetScopeTypeFromXml(element, &scopeType_, &customAddresses_);
}

// ---- Legacy family ---------------------------------------------------------------

bool CSystemService::ApplySystemService(CErrorMgr& errorMgr, plat::IFwServices* services) {
  const int type = CFirewallTool::GetSystemServiceType(name_);
  std::shared_ptr<plat::IFwService> service;
  const uint32_t hr = services ? services->Item(type, &service) : winerr::kEPointer;
  if (Failed(hr) || !service) {
    errorMgr.AddMessageF(kLevelError, kApplyLabel, "Could not retrieve the service %s from firewall. Error: 0x%08x",
                         name_.c_str(), NullCode(hr));
    return false;
  }
  if (const uint32_t rc = service->PutEnabled(value_); Failed(rc)) {
    errorMgr.AddMessageF(kLevelError, kApplyLabel, "put_Enabled failed: 0x%08x", rc);
    return false;
  }
  if (!SetLegacyScope(errorMgr, *service)) return false;
  errorMgr.AddMessageF(kLevelInfo, kApplyLabel, "  => SystemService is set: %s", name_.c_str());
  return !errorMgr.IsError();
}

bool CSystemService::SetLegacyScope(CErrorMgr& errorMgr, plat::IFwService& service) const {
  std::string previous;
  if (const uint32_t rc = service.GetRemoteAddresses(&previous); Failed(rc)) {
    errorMgr.AddMessageF(kLevelError, kApplyLabel, "get_RemoteAddresses failed: 0x%08x", rc);
    return false;
  }
  // A service open to everyone stays so; otherwise the addresses it had are kept.
  std::string addresses;
  if (previous == "*") {
    addresses = "*";
  } else if (scopeType_ == CFirewallTool::kScopeCustom) {
    addresses = CFirewallTool::AppendPreviousAddresses(customAddresses_, previous);
  } else if (scopeType_ == CFirewallTool::kScopeSubnet && !previous.empty()) {
    addresses = CFirewallTool::AppendPreviousAddresses("LocalSubnet", previous);
  }
  if (addresses.empty() && scopeType_ != CFirewallTool::kScopeCustom) {
    if (const uint32_t rc = service.PutScope(scopeType_); Failed(rc)) {
      errorMgr.AddMessageF(kLevelError, kApplyLabel, "put_Scope failed: 0x%08x", rc);
      return false;
    }
    return true;
  }
  if (const uint32_t rc = service.PutRemoteAddresses(addresses); Failed(rc)) {
    errorMgr.AddMessageF(kLevelError, kApplyLabel, "put_RemoteAddresses failed: 0x%08x", rc);
    return false;
  }
  return true;
}

std::unique_ptr<CSystemService> CSystemService::GetCurrentSystemService(CErrorMgr& errorMgr,
                                                                        plat::IFwProfile* profile) const {
  auto current = std::make_unique<CSystemService>(*this);
  const std::shared_ptr<plat::IFwService> service = GetSystemServiceFromFirewall(errorMgr, profile);
  if (!service) {
    current->value_ = false;
    return current;
  }
  if (const uint32_t rc = service->GetEnabled(&current->value_); Failed(rc)) {
    // From 6.0 on the legacy objects only mirror the rules; a refusal there is no error.
    const int level = CFeature::IsVistaOrLater() ? kLevelWarning : kLevelError;
    errorMgr.AddMessageF(level, kCurrentLabel, "  get_Enabled failed: 0x%08x", rc);
    return current;
  }
  int32_t scope = CFirewallTool::kScopeNone;
  if (const uint32_t rc = service->GetScope(&scope); Failed(rc)) {
    errorMgr.AddMessageF(kLevelError, kCurrentLabel, "get_Scope failed: 0x%08x", rc);
    return current;
  }
  current->scopeType_ = scope;
  if (scope != CFirewallTool::kScopeCustom) return current;
  if (const uint32_t rc = service->GetRemoteAddresses(&current->customAddresses_); Failed(rc)) {
    errorMgr.AddMessageF(kLevelError, kCurrentLabel, "get_RemoteAddresses failed: 0x%08x", rc);
  }
  return current;
}

std::shared_ptr<plat::IFwService> CSystemService::GetSystemServiceFromFirewall(CErrorMgr& errorMgr,
                                                                               plat::IFwProfile* profile) const {
  if (!profile) {
    errorMgr.AddMessage(kLevelError, kFromFirewallLabel, "The parameter fwProfile may not be NULL");
    return nullptr;
  }
  std::shared_ptr<plat::IFwServices> services;
  const uint32_t hr = profile->GetServices(&services);
  if (Failed(hr) || !services) {
    errorMgr.AddMessageF(kLevelError, kFromFirewallLabel, "get_Services failed: 0x%08x", NullCode(hr));
    return nullptr;
  }
  // A service the firewall does not know (or an unknown name) reads as switched off.
  std::shared_ptr<plat::IFwService> service;
  if (Failed(services->Item(CFirewallTool::GetSystemServiceType(name_), &service))) return nullptr;
  return service;
}

// ---- Rules family ----------------------------------------------------------------

bool CSystemService::ApplySystemService2(CErrorMgr& errorMgr, plat::IFwPolicy2* policy) {
  if (!policy) {
    errorMgr.AddMessage(kLevelError, kApply2Label, "The parameter pfwPolicy may not be NULL!");
    return false;
  }
  const int type = CFirewallTool::GetSystemServiceType(name_);
  if (!IsKnownType(type)) {
    errorMgr.AddMessageF(kLevelError, kApply2Label, "    Unknown service type: %s", name_.c_str());
    return false;
  }
  // The scope of a built-in group cannot be narrowed; a custom list needs rules of our own.
  if (type == kFileAndPrint && scopeType_ == CFirewallTool::kScopeCustom && value_) {
    return ApplyOwnRules(errorMgr, *policy) && !errorMgr.IsError();
  }
  const int32_t mask = CFirewallTool::GetProfileMask(firewallProfile_);
  const uint32_t hr = policy->EnableRuleGroup(mask, kRuleGroups[type], value_);
  if (Failed(hr)) {
    errorMgr.AddMessageF(kLevelError, kApply2Label, "  EnableRuleGroup failed: 0x%08x", hr);
    return false;
  }
  if (hr == winerr::kSFalse) {
    // Nothing was switched: the firewall has no rule of that group.
    errorMgr.AddMessageF(kLevelWarning, kApply2Label, "  EnableRuleGroup found no rule of the group %s for %s",
                         kRuleGroups[type], name_.c_str());
    return !errorMgr.IsError();
  }
  errorMgr.AddMessageF(kLevelInfo, kApply2Label, "  => SystemService is set: %s", name_.c_str());
  return !errorMgr.IsError();
}

bool CSystemService::ApplyOwnRules(CErrorMgr& errorMgr, plat::IFwPolicy2& policy) const {
  std::shared_ptr<plat::IFwRules> rules;
  const uint32_t hr = policy.GetRules(&rules);
  if (Failed(hr) || !rules) {
    errorMgr.AddMessageF(kLevelError, kApply2Label, "  get_Rules failed: 0x%08x\n", NullCode(hr));
    return false;
  }
  // Every rule is made before any is replaced, so a rule that cannot be
  // made leaves the firewall as it was.
  std::vector<std::shared_ptr<plat::IFwRule>> made;
  for (const OwnRule& row : kOwnRules) {
    std::shared_ptr<plat::IFwRule> rule = MakeOwnRule(errorMgr, row);
    if (!rule) return false;
    made.push_back(std::move(rule));
  }
  for (size_t i = 0; i < kOwnRules.size(); ++i) {
    if (!ReplaceOwnRule(errorMgr, *rules, kOwnRules[i].name, made[i], customAddresses_)) return false;
  }
  return true;
}

// ---- Log and feature document ----------------------------------------------------

void CSystemService::AddLogEntriesFromFeature(CErrorMgr& errorMgr) const {
  if (scopeType_ == CFirewallTool::kScopeNone) {
    errorMgr.AddMessageF(kLevelInfo, kLogLabel, "  SystemService not allowed:  %s", name_.c_str());
    return;
  }
  errorMgr.AddMessageF(kLevelInfo, kLogLabel, "    SystemService '%s' %s", name_.c_str(),
                       value_ ? "is acitivated" : "is not activated");
  if (!value_) return;
  errorMgr.AddMessageF(kLevelInfo, kLogLabel, "    Network access: %s",
                       CFirewallTool::GetScopeText(scopeType_, customAddresses_).c_str());
}

xml::Node CSystemService::SetFeatureToXml(CErrorMgr& errorMgr, const xml::Node& lan, std::string_view productName,
                                          bool withMessage) const {
  if (lan.IsNull()) {
    errorMgr.AddMessage(kLevelCritical, kToXmlLabel, "Internal error: Paramenter pRootNode may not be NULL");
    return xml::Node();
  }
  xml::Node element = lan.FindChild("t:systemService", {{"name", name_}});
  if (element.IsNull()) element = lan.AppendChild(lan.OwnerDocument().CreateElement("t:systemService"));
  if (element.IsNull()) return element;
  SetXmlAttribute(element, "name", name_);
  // Only "true" reads back as true, so any other word says off.
  SetXmlAttribute(element, "value", value_ ? "true" : "else");
  SetXmlAttribute(element, "firewallProfile", firewallProfile_);
  if (withMessage) {
    SetXmlAttribute(element, "message", MessageText(errorMgr));
    CFeature::AddRequestingProgram(element, productName);
  }
  CFirewallTool::SetScopeTypeToXML(errorMgr, element, scopeType_, customAddresses_, withMessage);
  return element;
}

std::string CSystemService::MessageText(CErrorMgr& errorMgr) const {
  const int type = CFirewallTool::GetSystemServiceType(name_);
  if (IsKnownType(type)) return CResourceMgr::GetResourceText(value_ ? kOnTexts[type] : kOffTexts[type]);
  errorMgr.AddMessageF(kLevelError, kToXmlLabel, "Unknown SystemServiceName: %s", name_.c_str());
  errorMgr.AddMessage(kLevelInfo, kToXmlLabel,
                      "  allowed SystemServiceName:  NET_FW_SERVICE_REMOTE_DESKTOP   NET_FW_SERVICE_UPNP   "
                      "NET_FW_SERVICE_FILE_AND_PRINT");
  return "";
}
