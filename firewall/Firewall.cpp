// The firewall feature.
#include "firewall/Firewall.h"

#include <algorithm>

#include "firewall/FirewallService.h"
#include "infra/ErrorMgr.h"
#include "platform/Platform.h"
#include "platform/WinError.h"
#include "securityfiles/SecurityFileFormat.h"
#include "securityfiles/XmlServices.h"

using plat::IFwPolicy2;
using plat::IFwProfile;
using plat::IFwRules;

namespace {

constexpr const char* kApplyLabel = "CFirewall::ApplyFeature";
constexpr const char* kPortsLabel = "CFirewall::SetPortsToFirewall";
constexpr const char* kSystemServicesLabel = "CFirewall::SetSystemServices";
constexpr const char* kServicesLabel = "CFirewall::SetServices";
constexpr const char* kIcmpLabel = "CFirewall::SetIcmpState";
constexpr const char* kPorts2Label = "CFirewall::SetPortsToFirewall2";
constexpr const char* kSystemServices2Label = "CFirewall::SetSystemServices2";
constexpr const char* kServices2Label = "CFirewall::SetServices2";
constexpr const char* kIcmp2Label = "CFirewall::SetIcmpState2";
constexpr const char* kProfileLabel = "CFirewall::GetFirewallProfile";
constexpr const char* kProfile2Label = "CFirewall::GetFirewallProfile2";
constexpr const char* kIsIcmpLabel = "CFirewall::IsIcmpEnabled";
constexpr const char* kCheckLabel = "CFirewall::CheckFirewall";
constexpr const char* kStopLabel = "CFirewall::StopFirewall";
constexpr const char* kCurrentLabel = "CFirewall::GetCurrentFeature";
constexpr const char* kLogLabel = "CFirewall::AddLogEntriesFromFeature";
constexpr const char* kSetRootLabel = "CFirewall::SetFeatureToXml(pRootNode)";
constexpr const char* kSetDocLabel = "CFirewall::SetFeatureToXml(pXmlDoc)";
constexpr const char* kHistoryLabel = "CFirewall::GetOriginalFeatureFromHistory";
constexpr const char* kUninstallLabel = "CFirewall::IsUninstallable";

constexpr const char* kNullProfile = "The parameter pfwProfile may not be NULL!";
constexpr const char* kNullPolicy = "The parameter pfwPolicy may not be NULL!";
constexpr const char* kLanValue = "Local Area Connection";
constexpr const char* kIcmpRuleName = "ICMP_RULE";

constexpr int kProfileAttempts = 10;
constexpr uint32_t kServiceStopped = 1;
constexpr uint32_t kPolicyWaitMs = 200;
constexpr uint32_t kProfileWaitMs = 1000;

constexpr int kNetworkText = 158;
constexpr int kIcmpText = 159;

// A call that answered success but handed out no object failed all the same.
// The object is looked at only after the call (taken by reference).
template <typename T>
uint32_t Fetched(uint32_t rc, const std::shared_ptr<T>& object) {
  return rc == winerr::kSOk && object == nullptr ? winerr::kEPointer : rc;
}

// The firewall service: MpsSvc on 6.1 to 6.3, SharedAccess on everything
// else (6.0 included, where the check asks no service manager).
const char* FirewallServiceName() { return CFeature::IsWindows61To63() ? "MpsSvc" : "SharedAccess"; }

void Sleep(uint32_t milliseconds) { plat::Current().System().Sleep(milliseconds); }

std::shared_ptr<IFwRules> RulesOf(CErrorMgr& errorMgr, IFwPolicy2& policy, int level, const char* label,
                                  const char* format) {
  std::shared_ptr<IFwRules> rules;
  if (const uint32_t rc = Fetched(policy.GetRules(&rules), rules)) {
    errorMgr.AddMessageF(level, label, format, rc);
    return nullptr;
  }
  return rules;
}

}  // namespace

CFirewall::CFirewall() { Clear(); }
CFirewall::~CFirewall() { Clear(); }

void CFirewall::Clear() {
  icmpState_ = kIcmpNotRequested;
  startedByUs_ = false;
  systemServices_.clear();
  ports_.clear();
  applications_.clear();
}

// ---- Reading -------------------------------------------------------------------

bool CFirewall::GetFeatureFromXml(CErrorMgr& errorMgr, const xml::Node& node, std::string_view sessionId) {
  if (!InitFeatureFromNode(errorMgr, node, sessionId)) return false;
  std::string icmp;
  GetXmlValue(node, "t:icmp/@value", &icmp);
  icmpState_ = icmp == "true" ? 1 : icmp == "false" ? 0 : kIcmpNotRequested;
  for (const xml::Node element : node.SelectNodes("t:systemService")) {
    systemServices_.push_back(std::make_unique<CSystemService>());
    systemServices_.back()->Read(element);
  }
  for (const xml::Node element : node.SelectNodes("t:service")) {
    applications_.push_back(std::make_unique<CService>());
    applications_.back()->Read(element);
  }
  for (const xml::Node element : node.SelectNodes("t:port")) {
    ports_.push_back(std::make_unique<CPort>());
    ports_.back()->Read(element);
  }
  return true;
}

// ---- Applying --------------------------------------------------------------------

bool CFirewall::ApplyFeature(CErrorMgr& errorMgr) {
  if (!CheckFirewall(errorMgr)) {
    errorMgr.AddMessage(kLevelInfo, kApplyLabel, "  error by CheckFirewall");
    return !errorMgr.IsError();
  }
  if (IsVistaOrLater()) {
    std::shared_ptr<IFwPolicy2> policy;
    GetFirewallProfile2(errorMgr, &policy) && SetPortsToFirewall2(errorMgr, policy.get()) &&
        SetSystemServices2(errorMgr, policy.get()) && SetServices2(errorMgr, policy.get()) &&
        SetIcmpState2(errorMgr, policy.get());
  } else {
    std::shared_ptr<IFwProfile> profile;
    GetFirewallProfile(errorMgr, &profile) && SetPortsToFirewall(errorMgr, profile.get()) &&
        SetSystemServices(errorMgr, profile.get()) && SetServices(errorMgr, profile.get()) &&
        SetIcmpState(errorMgr, profile.get());
  }
  if (startedByUs_) StopFirewall(errorMgr);
  return !errorMgr.IsError();
}

bool CFirewall::SetPortsToFirewall(CErrorMgr& errorMgr, IFwProfile* profile) {
  errorMgr.AddMessage(kLevelDebug, kPortsLabel, "");
  if (profile == nullptr) {
    errorMgr.AddMessage(kLevelError, kPortsLabel, kNullProfile);
    return false;
  }
  std::shared_ptr<plat::IFwOpenPorts> openPorts;
  if (const uint32_t rc = Fetched(profile->GetGloballyOpenPorts(&openPorts), openPorts)) {
    errorMgr.AddMessageF(kLevelError, kPortsLabel, "get_GloballyOpenPorts failed: 0x%08lx", static_cast<unsigned long>(rc));
    return false;
  }
  for (const auto& port : ports_) {
    if (errorMgr.IsError()) break;
    port->ApplyPort(errorMgr, openPorts.get());
  }
  return !errorMgr.IsError();
}

bool CFirewall::SetSystemServices(CErrorMgr& errorMgr, IFwProfile* profile) {
  errorMgr.AddMessage(kLevelDebug, kSystemServicesLabel, "");
  if (profile == nullptr) {
    errorMgr.AddMessage(kLevelError, kSystemServicesLabel, kNullProfile);
    return false;
  }
  std::shared_ptr<plat::IFwServices> services;
  if (const uint32_t rc = Fetched(profile->GetServices(&services), services)) {
    errorMgr.AddMessageF(kLevelError, kSystemServicesLabel, "get_Services failed: 0x%08lx", static_cast<unsigned long>(rc));
    return false;
  }
  for (const auto& service : systemServices_) {
    if (errorMgr.IsError()) break;
    service->ApplySystemService(errorMgr, services.get());
  }
  return !errorMgr.IsError();
}

bool CFirewall::SetServices(CErrorMgr& errorMgr, IFwProfile* profile) {
  errorMgr.AddMessage(kLevelDebug, kServicesLabel, "");
  if (profile == nullptr) {
    errorMgr.AddMessage(kLevelError, kServicesLabel, kNullProfile);
    return false;
  }
  std::shared_ptr<plat::IFwAuthorizedApplications> applications;
  if (const uint32_t rc = Fetched(profile->GetAuthorizedApplications(&applications), applications)) {
    errorMgr.AddMessageF(kLevelError, kServicesLabel, "get_AuthorizedApplications failed: 0x%08lx",
                         static_cast<unsigned long>(rc));
    return false;
  }
  for (const auto& application : applications_) application->ApplyService(errorMgr, profile, applications.get());
  return !errorMgr.IsError();
}

bool CFirewall::SetIcmpState(CErrorMgr& errorMgr, IFwProfile* profile) {
  errorMgr.AddMessage(kLevelDebug, kIcmpLabel, "");
  if (icmpState_ == kIcmpNotRequested) return !errorMgr.IsError();
  if (profile == nullptr) {
    errorMgr.AddMessage(kLevelError, kIcmpLabel, kNullProfile);
    return false;
  }
  std::shared_ptr<plat::IFwIcmpSettings> settings;
  if (const uint32_t rc = Fetched(profile->GetIcmpSettings(&settings), settings)) {
    errorMgr.AddMessageF(kLevelInfo, kIcmpLabel, "  get_IcmpSettings failed: 0x%08lx", static_cast<unsigned long>(rc));
  } else if (const uint32_t put = settings->PutAllowInboundEchoRequest(icmpState_ == 1)) {
    errorMgr.AddMessageF(kLevelInfo, kIcmpLabel, "  put_AllowInboundEchoRequest failed: 0x%08lx",
                         static_cast<unsigned long>(put));
  }
  return !errorMgr.IsError();
}

bool CFirewall::GetFirewallProfile(CErrorMgr& errorMgr, std::shared_ptr<IFwProfile>* profile) {
  errorMgr.AddMessage(kLevelDebug, kProfileLabel, "");
  if (profile == nullptr) {
    errorMgr.AddMessage(kLevelError, kProfileLabel, kNullProfile);
    return false;
  }
  profile->reset();
  std::shared_ptr<plat::IFwMgr> manager;
  if (const uint32_t rc = Fetched(plat::Current().Firewall().CreateManager(&manager), manager)) {
    errorMgr.AddMessageF(kLevelError, kProfileLabel, "CoCreateInstance failed: 0x%08lx", static_cast<unsigned long>(rc));
    return false;
  }
  Sleep(kPolicyWaitMs);
  std::shared_ptr<plat::IFwPolicy> policy;
  if (const uint32_t rc = Fetched(manager->GetLocalPolicy(&policy), policy)) {
    errorMgr.AddMessageF(kLevelError, kProfileLabel, "get_LocalPolicy failed: 0x%08lx", static_cast<unsigned long>(rc));
    return false;
  }
  for (int attempt = 0; attempt < kProfileAttempts; ++attempt) {
    Sleep(kProfileWaitMs);
    const uint32_t rc = Fetched(policy->GetCurrentProfile(profile), *profile);
    if (rc == winerr::kSOk) return !errorMgr.IsError();
    profile->reset();
    errorMgr.AddMessageF(kLevelInfo, kProfileLabel, "    Retrying because  get_CurrentProfile failed (0x%08lx)",
                         static_cast<unsigned long>(rc));
  }
  errorMgr.AddMessage(kLevelWarning, kProfileLabel,
                      "Getting the firewall profile failed 10 times, Tarvo aborts retrying it.");
  errorMgr.AddMessage(kLevelWarning, kProfileLabel,
                      " Tarvo couldn't set up any firewall settings. If the firewall is completely down, it's not a "
                      "problem if nothing is set");
  return !errorMgr.IsError();
}

int CFirewall::IsIcmpEnabled(CErrorMgr& errorMgr, IFwProfile* profile) {
  errorMgr.AddMessage(kLevelDebug, kIsIcmpLabel, "");
  if (profile == nullptr) {
    errorMgr.AddMessage(kLevelError, "CFirewall::IsIcmpEnabled(fwProfile)", "Parameter fwProfile may not be NULL");
    return -1;
  }
  std::shared_ptr<plat::IFwIcmpSettings> settings;
  if (const uint32_t rc = Fetched(profile->GetIcmpSettings(&settings), settings)) {
    errorMgr.AddMessageF(kLevelError, "CFirewall::IsIcmpEnabled()", "get_IcmpSettings failed: 0x%08lx",
                         static_cast<unsigned long>(rc));
    return -1;
  }
  bool allowed = false;
  if (const uint32_t rc = settings->GetAllowInboundEchoRequest(&allowed)) {
    errorMgr.AddMessageF(kLevelError, kIsIcmpLabel, "get_AllowInboundEchoRequest failed: 0x%08lx",
                         static_cast<unsigned long>(rc));
    return -1;
  }
  return allowed ? 1 : 0;
}

bool CFirewall::SetPortsToFirewall2(CErrorMgr& errorMgr, IFwPolicy2* policy) {
  errorMgr.AddMessage(kLevelDebug, kPorts2Label, "");
  if (policy == nullptr) {
    errorMgr.AddMessage(kLevelError, kPorts2Label, kNullPolicy);
    return false;
  }
  const std::shared_ptr<IFwRules> rules = RulesOf(errorMgr, *policy, kLevelError, kPorts2Label, "get_Rules failed: 0x%08lx");
  if (!rules) return false;
  for (const auto& port : ports_) {
    port->SetGrouping(GetProductName());
    port->ApplyPort2(errorMgr, rules.get());
  }
  return !errorMgr.IsError();
}

bool CFirewall::SetSystemServices2(CErrorMgr& errorMgr, IFwPolicy2* policy) {
  errorMgr.AddMessage(kLevelDebug, kSystemServices2Label, "");
  if (policy == nullptr) {
    errorMgr.AddMessage(kLevelError, kSystemServices2Label, kNullPolicy);
    return false;
  }
  for (const auto& service : systemServices_) {
    if (errorMgr.IsError()) break;
    service->ApplySystemService2(errorMgr, policy);
  }
  return !errorMgr.IsError();
}

bool CFirewall::SetServices2(CErrorMgr& errorMgr, IFwPolicy2* policy) {
  errorMgr.AddMessage(kLevelDebug, kServices2Label, "");
  if (policy == nullptr) {
    errorMgr.AddMessage(kLevelError, kServices2Label, "The parameter  pfwPolicy  may not be NULL!");
    return false;
  }
  const std::shared_ptr<IFwRules> rules =
      RulesOf(errorMgr, *policy, kLevelError, kServices2Label, "get_Rules failed: 0x%08lx");
  if (!rules) return false;
  for (const auto& application : applications_) {
    application->SetGrouping(GetProductName());
    application->ApplyService2(errorMgr, policy, rules.get());
  }
  return !errorMgr.IsError();
}

// A rule that allows inbound echo requests from everywhere, named
// ICMP_RULE, replaced on every run; state 0 removes one rule of that name
// whichever product made it. A change that did not happen is an error, so
// that the run does not report a ping setting it could not make.
bool CFirewall::SetIcmpState2(CErrorMgr& errorMgr, IFwPolicy2* policy) {
  errorMgr.AddMessage(kLevelDebug, kIcmp2Label, "");
  if (icmpState_ == kIcmpNotRequested) return !errorMgr.IsError();
  if (policy == nullptr) {
    errorMgr.AddMessage(kLevelError, kIcmp2Label, kNullPolicy);
    return false;
  }
  const std::shared_ptr<IFwRules> rules = RulesOf(errorMgr, *policy, kLevelInfo, kIcmp2Label, "  get_Rules failed: 0x%08lx\n");
  if (!rules) return false;
  if (icmpState_ == 0) {
    if (const uint32_t rc = rules->Remove(kIcmpRuleName)) {
      errorMgr.AddMessageF(kLevelError, kIcmp2Label, "Firewall Rule Remove failed: 0x%08lx\n", static_cast<unsigned long>(rc));
      return false;
    }
    errorMgr.AddMessage(kLevelInfo, kIcmp2Label, "ICMP_RULE is removed. icmp echo is deactivated");
    return !errorMgr.IsError();
  }
  std::shared_ptr<plat::IFwRule> rule;
  if (const uint32_t rc = Fetched(plat::Current().Firewall().CreateRule(&rule), rule)) {
    errorMgr.AddMessageF(kLevelInfo, kIcmp2Label, "CoCreateInstance for Firewall Rule failed: 0x%08lx\n",
                         static_cast<unsigned long>(rc));
    return false;
  }
  uint32_t rc = rule->PutName(kIcmpRuleName);
  if (rc == winerr::kSOk) rc = rule->PutDescription("Allow ICMP network traffic");
  if (rc == winerr::kSOk) rc = rule->PutProtocol(plat::kFwIpProtocolIcmp4);
  if (rc == winerr::kSOk) rc = rule->PutIcmpTypesAndCodes("8:*");
  if (rc == winerr::kSOk) rc = rule->PutGrouping(GetProductName());
  if (rc == winerr::kSOk) rc = rule->PutProfiles(plat::kFwProfile2All);
  if (rc == winerr::kSOk) rc = rule->PutAction(plat::kFwActionAllow);
  if (rc == winerr::kSOk) rc = rule->PutEnabled(true);
  if (rc == winerr::kSOk) {
    rules->Remove(kIcmpRuleName);
    rc = rules->Add(rule);
  }
  if (rc != winerr::kSOk) {
    errorMgr.AddMessageF(kLevelError, kIcmp2Label, "Firewall Rule Add failed: 0x%08lx\n", static_cast<unsigned long>(rc));
    return false;
  }
  errorMgr.AddMessage(kLevelInfo, kIcmp2Label, "ICMP_RULE is added. icmp echo is activated");
  return !errorMgr.IsError();
}

bool CFirewall::GetFirewallProfile2(CErrorMgr& errorMgr, std::shared_ptr<IFwPolicy2>* policy) {
  errorMgr.AddMessage(kLevelDebug, kProfile2Label, "");
  if (policy == nullptr) {
    errorMgr.AddMessage(kLevelError, kProfile2Label, kNullPolicy);
    return false;
  }
  policy->reset();
  if (const uint32_t rc = Fetched(plat::Current().Firewall().CreatePolicy2(policy), *policy)) {
    policy->reset();
    errorMgr.AddMessageF(kLevelInfo, kProfile2Label, "CoCreateInstance for Vista and higher failed: 0x%08lx",
                         static_cast<unsigned long>(rc));
    errorMgr.AddMessageF(kLevelError, kProfile2Label, "WindowsFirewallInitialize for Vista and higher failed: 0x%08lx",
                         static_cast<unsigned long>(rc));
  }
  return !errorMgr.IsError();
}

// ---- The firewall service --------------------------------------------------------

bool CFirewall::CheckFirewall(CErrorMgr& errorMgr) {
  errorMgr.AddMessage(kLevelInfo, kCheckLabel, "  call CheckFirewallService()");
  const char* serviceName = FirewallServiceName();
  uint32_t state = 0;
  const bool checked = CheckFirewallService(errorMgr, serviceName, &state);
  if (!checked || state != kServiceStopped) return checked;
  errorMgr.AddMessage(kLevelDetail, kCheckLabel, "  call StartFirewallService()");
  const bool started = StartFirewallService(errorMgr, serviceName, &previousStartType_);
  startedByUs_ = started;
  return started;
}

bool CFirewall::StopFirewall(CErrorMgr& errorMgr) {
  errorMgr.AddMessage(kLevelInfo, kStopLabel, "  call StopFirewallService()");
  const bool stopped = StopFirewallService(errorMgr, FirewallServiceName(), previousStartType_);
  startedByUs_ = false;
  return stopped;
}

// ---- The machine's values ----------------------------------------------------------

std::unique_ptr<CFeature> CFirewall::GetCurrentFeature(CErrorMgr& errorMgr) {
  auto current = std::make_unique<CFirewall>();
  if (!CheckFirewall(errorMgr)) {
    errorMgr.AddMessage(kLevelError, kCurrentLabel, "error by CheckFirewall");
    return current;
  }
  current->CopyOriginFrom(*this);
  errorMgr.AddMessage(kLevelDebug, kCurrentLabel, "  call  SetCommonFeatureValuesToFeature()");
  std::shared_ptr<IFwProfile> profile;
  if (GetFirewallProfile(errorMgr, &profile)) {
    if (icmpState_ != kIcmpNotRequested) current->icmpState_ = IsIcmpEnabled(errorMgr, profile.get());
    if (!errorMgr.IsError()) {
      GetCurrentPorts(errorMgr, profile.get(), current.get()) &&
          GetCurrentServices(errorMgr, profile.get(), current.get()) &&
          GetCurrentSystemServices(errorMgr, profile.get(), current.get());
    }
  }
  if (startedByUs_) StopFirewall(errorMgr);
  return current;
}

bool CFirewall::GetCurrentPorts(CErrorMgr& errorMgr, IFwProfile* profile, CFirewall* current) const {
  errorMgr.AddMessage(kLevelDebug, "CFirewall::GetCurrentPorts", "  ");
  if (current == nullptr) {
    errorMgr.AddMessage(kLevelDebug, "CFirewall::GetCurrentPorts", "  pCurrentFW == NULL");
    return !errorMgr.IsError();
  }
  for (const auto& port : ports_) {
    if (errorMgr.IsError()) break;
    current->ports_.push_back(port->GetCurrentPort(errorMgr, profile));
  }
  return !errorMgr.IsError();
}

bool CFirewall::GetCurrentServices(CErrorMgr& errorMgr, IFwProfile* profile, CFirewall* current) const {
  errorMgr.AddMessage(kLevelDebug, "CFirewall::GetCurrentServices", " ");
  if (current == nullptr) {
    errorMgr.AddMessage(kLevelDebug, "CFirewall::GetCurrentServices", "DEBUG  pCurrentFW == NULL");
    return !errorMgr.IsError();
  }
  for (const auto& application : applications_) {
    if (errorMgr.IsError()) break;
    current->applications_.push_back(application->GetCurrentService(errorMgr, profile));
  }
  return !errorMgr.IsError();
}

bool CFirewall::GetCurrentSystemServices(CErrorMgr& errorMgr, IFwProfile* profile, CFirewall* current) const {
  errorMgr.AddMessage(kLevelDebug, "CFirewall::GetCurrentSystemServices", " ");
  if (current == nullptr) {
    errorMgr.AddMessage(kLevelDebug, "CFirewall::GetCurrentSystemServices", "DEBUG  pCurrentFW == NULL");
    return !errorMgr.IsError();
  }
  for (const auto& service : systemServices_) {
    if (errorMgr.IsError()) break;
    current->systemServices_.push_back(service->GetCurrentSystemService(errorMgr, profile));
  }
  return !errorMgr.IsError();
}

void CFirewall::AddLogEntriesFromFeature(CErrorMgr& errorMgr) {
  if (icmpState_ != kIcmpNotRequested) {
    errorMgr.AddMessageF(kLevelInfo, kLogLabel, "  icmp echo %s", icmpState_ == 1 ? "activated" : "deactivated");
  }
  if (!ports_.empty()) {
    errorMgr.AddMessage(kLevelInfo, kLogLabel, "  In firewall opened port(s):");
    for (const auto& port : ports_) port->AddLogEntriesFromFeature(errorMgr);
  }
  if (!applications_.empty()) {
    errorMgr.AddMessage(kLevelInfo, kLogLabel, "  In firewall authentified application(s):");
    for (const auto& application : applications_) application->AddLogEntriesFromFeature(errorMgr);
  }
  if (!systemServices_.empty()) {
    errorMgr.AddMessage(kLevelInfo, kLogLabel, "  In firewall activated SystemService(s):");
    for (const auto& service : systemServices_) service->AddLogEntriesFromFeature(errorMgr);
  }
}

// ---- Writing --------------------------------------------------------------------------

void CFirewall::WriteIcmp(const xml::Node& lan, bool withMessage, bool withRequestingProgram) const {
  if (icmpState_ == kIcmpNotRequested) return;
  const xml::Node icmp = GetOrCreateChildElement(lan, "t:icmp", ResourceTextIf(withMessage, kIcmpText));
  SetXmlAttribute(icmp, "value", icmpState_ == 1 ? "true" : "false");
  if (withRequestingProgram) AddRequestingProgram(icmp, GetProductName());
}

void CFirewall::WriteEntries(CErrorMgr& errorMgr, const xml::Node& lan, bool withMessage) const {
  // An error recorded before this feature wrote does not cut its entries
  // short; one of its own entries does.
  const CErrorScope scope(errorMgr);
  const std::string product = GetProductName();
  for (const auto& service : systemServices_) {
    if (scope.Failed()) return;
    service->SetFeatureToXml(errorMgr, lan, product, withMessage);
  }
  for (const auto& port : ports_) {
    if (scope.Failed()) return;
    port->SetFeatureToXml(errorMgr, lan, product, withMessage);
  }
  for (const auto& application : applications_) {
    if (scope.Failed()) return;
    application->SetFeatureToXml(errorMgr, lan, product, withMessage);
  }
}

xml::Node CFirewall::SetFeatureToXml(CErrorMgr& errorMgr, const xml::Node& pRootNode, bool withMessage) {
  if (pRootNode.IsNull()) {
    errorMgr.AddMessage(kLevelCritical, kSetRootLabel, "Internal error: Paramenter pRootNode may not be NULL");
    return {};
  }
  const xml::Node network = GetOrCreateChildElement(pRootNode, "t:network", ResourceTextIf(withMessage, kNetworkText));
  if (network.IsNull()) return {};
  const xml::Node lan = GetOrCreateChildElement(network, "t:lan");
  SetXmlAttribute(lan, "value", kLanValue);
  WriteIcmp(lan, withMessage, withMessage);
  WriteEntries(errorMgr, lan, withMessage);
  return network;
}

bool CFirewall::SetFeatureToXml(CErrorMgr& errorMgr, const xml::Document& pXmlDoc) {
  if (pXmlDoc.IsNull()) {
    errorMgr.AddMessage(kLevelError, kSetDocLabel, "Paramenter pXmlDoc may not be NULL!");
    return false;
  }
  return CFeature::SetFeatureToXml(errorMgr, pXmlDoc);
}

bool CFirewall::SetFeatureToSecurityXml(CErrorMgr& errorMgr, const xml::Document& pXmlDoc) {
  if (pXmlDoc.IsNull()) {
    errorMgr.AddMessage(kLevelError, kSetDocLabel, "Paramenter pXmlDoc may not be NULL!");
    return false;
  }
  const xml::Node root = pXmlDoc.SelectSingleNode(secfile::kRootElement);
  const xml::Node host = GetOrCreateChildElement(root, "t:host");
  if (host.IsNull()) return false;
  SetXmlAttribute(host, "name", "");
  // t:checksum follows t:product inside t:products, as the schema has it.
  const xml::Node products = GetOrCreateChildElement(host, "t:products");
  SetXmlAttribute(GetOrCreateChildElement(products, "t:product"), "value", GetProductName());
  SetXmlAttribute(GetOrCreateChildElement(products, "t:checksum"), "value", "");
  const xml::Node lan =
      GetOrCreateChildElement(GetOrCreateChildElement(GetOrCreateChildElement(host, "t:body"), "t:network"), "t:lan");
  SetXmlAttribute(lan, "value", kLanValue);
  WriteIcmp(lan, true, false);
  WriteEntries(errorMgr, lan, false);
  return !errorMgr.IsError();
}

// ---- History and uninstalling ------------------------------------------------------------

std::unique_ptr<CFeature> CFirewall::GetOriginalFeatureFromHistory(CErrorMgr& errorMgr, bool undo) {
  if (errorMgr.IsError()) return nullptr;
  if (undo) {
    auto removal = std::make_unique<CFirewall>();
    removal->CopyOriginFrom(*this);
    for (const auto& application : applications_) removal->applications_.push_back(application->RemovalCopy());
    return removal;
  }
  const xml::Node lan = SelectFromHistory(errorMgr, "t:network/t:lan");
  if (lan.IsNull()) {
    errorMgr.AddMessage(kLevelError, kHistoryLabel,
                        "There is no firewall feature in the history file  so it's impossible to get original value "
                        "for this features");
    return nullptr;
  }
  auto original = std::make_unique<CFirewall>();
  original->GetFeatureFromXml(errorMgr, lan, GetSessionId());
  return original;
}

bool CFirewall::IsUninstallable(CErrorMgr& errorMgr, const std::vector<CFeature*>& others) {
  errorMgr.AddMessage(kLevelInfo, kUninstallLabel, " The Firewall Feature maybe is uninstallable...checking...");
  const auto heldElsewhere = [&](const std::unique_ptr<CService>& application) {
    return std::any_of(others.begin(), others.end(), [&](CFeature* other) {
      const auto* firewall = dynamic_cast<const CFirewall*>(other);
      if (firewall == nullptr || firewall == this) return false;
      return std::any_of(firewall->applications_.begin(), firewall->applications_.end(),
                         [&](const auto& held) { return held->ExePath() == application->ExePath(); });
    });
  };
  if (!errorMgr.IsError()) std::erase_if(applications_, heldElsewhere);
  if (!applications_.empty()) {
    errorMgr.AddMessage(kLevelInfo, kUninstallLabel,
                        "  The Firewall Feature is uninstallable, cause at least one service was found which could "
                        "be uninstalled");
    icmpState_ = kIcmpNotRequested;
    ports_.clear();
    systemServices_.clear();
    return true;
  }
  errorMgr.AddMessage(kLevelInfo, kUninstallLabel,
                      "  The Firewall Feature is not uninstallable, cause no service was found which could be "
                      "uninstalled");
  return false;
}
