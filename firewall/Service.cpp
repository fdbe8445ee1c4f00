// A firewall application (t:service) on both firewall families.
#include "firewall/Service.h"

#include "features/Feature.h"
#include "firewall/FirewallTool.h"
#include "infra/ErrorMgr.h"
#include "infra/IniFile.h"
#include "infra/ProcessState.h"
#include "infra/Tool.h"
#include "platform/Platform.h"
#include "platform/WinError.h"
#include "platform/text/Text.h"
#include "securityfiles/RepositoryMgr.h"
#include "securityfiles/XmlServices.h"

namespace {

constexpr const char* kApplyLabel = "CService::ApplyService";
constexpr const char* kApply2Label = "CService::ApplyService2";
constexpr const char* kAttachLabel = "::AttachNewApplicationToFirewall";
constexpr const char* kAttach2Label = "::AttachNewApplicationToFirewall2";
constexpr const char* kChangeLabel = "CService::ChangeApplicationValues";
constexpr const char* kFilePathLabel = "CService::FilePathExist";
constexpr const char* kCurrentLabel = "CService::GetCurrentService";
constexpr const char* kAppLabel = "CService::GetAppFromFirewall";
constexpr const char* kLogLabel = "CService::AddLogEntriesFromFeature";
constexpr const char* kXmlLabel = "CService::SetFeatureToXml(pRootNode)";

constexpr const char* kResettingFailed =
    "While re-setting the application %s to the firewall an error occured. Error: 0x%08lx. No trying only to "
    "change settings instead of removing and re-setting it.";
constexpr const char* kRemovingFailed =
    "While removing the application %s from the firewall an error occured. Error: 0x%08lx";

// The SessionID values with which the product's own interface calls the tool.
constexpr const char* kGuiSession = "88  Tarvo GUI";
constexpr const char* kSilentSession = "99  silent mode";
constexpr const char* kToolIniName = "TarvoTool_X86.ini";

constexpr int kServiceText = 169;

unsigned long Code(uint32_t hr) { return hr; }

using winerr::Failed;

std::string ValueOf(const xml::Node& node, std::string_view xpath) {
  std::string value;
  GetXmlValue(node, xpath, &value);
  return value;
}

std::string PreviousOrEmpty(const std::string* previous) { return previous ? *previous : std::string(); }

// The SessionID the tool's own INI file in the repository names; "" when
// the file is missing or unreadable. Read anew for every entry.
std::string ToolSessionId(CErrorMgr& errorMgr) {
  CIniFile ini;
  if (!ini.Load(CStdTool::CombinePath(CRepositoryMgr::ReturnRepositoryDir(errorMgr, false), kToolIniName)).empty()) {
    return "";
  }
  return ini.GetValue("GENERAL", "SessionID");
}

// Removes every rule of that name; S_OK once none is left, else the code
// of the removal that failed. A removal that reports success but leaves
// the rule in place counts as failed once more removals were tried than
// there were rules, so a refusing collection cannot keep this looping.
uint32_t RemoveRulesNamed(plat::IFwRules& rules, std::string_view name) {
  int32_t count = 0;
  if (const uint32_t hr = rules.Count(&count); Failed(hr)) return hr;
  std::shared_ptr<plat::IFwRule> rule;
  for (int32_t removals = 0; rules.Item(name, &rule) == winerr::kSOk && rule; ++removals) {
    if (removals >= count) return winerr::kEFail;
    const uint32_t hr = rules.Remove(name);
    if (Failed(hr)) return hr;
    rule.reset();
  }
  return winerr::kSOk;
}

}  // namespace

// ---- Reading ---------------------------------------------------------------------

void CService::Read(const xml::Node& element) {
  name_ = ValueOf(element, "@name");
  exePath_ = CStdTool::CollapseBackslashes(ValueOf(element, "@exepath"));
  GetXmlTriState(element, "@exists", &exists_);
  GetXmlTriStateDefaultYes(element, "@enable", &enable_);
  firewallProfile_ = ValueOf(element, "@firewallProfile");
  if (firewallProfile_.empty()) firewallProfile_ = "all";
  CFirewallTool::GetScopeTypeFromXml(element, &scopeType_, &customAddresses_);
}

std::unique_ptr<CService> CService::RemovalCopy() const {
  auto copy = std::make_unique<CService>(*this);
  copy->exists_ = 0;
  return copy;
}

// ---- The executable ----------------------------------------------------------------

bool CService::ExecutableExists() const { return CStdTool::FileExists(exePath_); }

bool CService::FilePathExist(CErrorMgr& errorMgr) const {
  if (ExecutableExists()) return true;
  errorMgr.AddMessageF(kLevelWarning, kFilePathLabel,
                       "  Application  %s  does not exist;  so it couldn't be added to the firewall", exePath_.c_str());
  return false;
}

// A missing executable is only a warning when the product's own interface
// called the tool or the run took its security files from the repository:
// then the program may legitimately be absent on this machine.
void CService::ReportMissingExecutable(CErrorMgr& errorMgr, const char* label) const {
  const std::string sessionId = ToolSessionId(errorMgr);
  const bool expected = sessionId == kGuiSession || sessionId == kSilentSession || CurrentProcessState().clientXml;
  errorMgr.AddMessageF(expected ? kLevelWarning : kLevelError, label, "    Application not found at: %s",
                       exePath_.c_str());
  errorMgr.AddMessageF(kLevelInfo, label, "    no firewall settings were made for: %s", name_.c_str());
}

// ---- Legacy family -----------------------------------------------------------------

bool CService::ApplyService(CErrorMgr& errorMgr, plat::IFwProfile* profile,
                            plat::IFwAuthorizedApplications* applications) {
  errorMgr.AddMessage(kLevelDebug, kApplyLabel, "");
  if (applications == nullptr) {
    errorMgr.AddMessage(kLevelError, kApplyLabel, "The parameter pfwApps may not be NULL");
    return false;
  }
  if (profile == nullptr) {
    errorMgr.AddMessage(kLevelError, kApplyLabel, "The parameter pfwProfile may not be NULL");
    return false;
  }
  if (exists_ == 0) {
    const uint32_t hr = applications->Remove(exePath_);
    if (Failed(hr)) errorMgr.AddMessageF(kLevelError, kApplyLabel, kRemovingFailed, exePath_.c_str(), Code(hr));
    return !errorMgr.IsError();
  }
  if (!ExecutableExists()) {
    ReportMissingExecutable(errorMgr, kApplyLabel);
    return !errorMgr.IsError();
  }
  std::shared_ptr<plat::IFwAuthorizedApplication> existing;
  bool added = false;
  if (applications->Item(exePath_, &existing) == winerr::kSOk && existing) {
    std::string previous;
    existing->GetRemoteAddresses(&previous);
    const uint32_t hr = applications->Remove(exePath_);
    if (Failed(hr)) {
      errorMgr.AddMessageF(kLevelError, kApplyLabel, kResettingFailed, exePath_.c_str(), Code(hr));
      ChangeApplicationValues(errorMgr, existing.get(), &previous);
      return !errorMgr.IsError();
    }
    added = AttachNewApplicationToFirewall(errorMgr, applications, &previous);
  } else {
    added = AttachNewApplicationToFirewall(errorMgr, applications, nullptr);
  }
  if (added) {
    errorMgr.AddMessageF(kLevelInfo, kApplyLabel, "  => Service is set:  %s  is now enabled in the firewall.",
                         exePath_.c_str());
  }
  return !errorMgr.IsError();
}

bool CService::AttachNewApplicationToFirewall(CErrorMgr& errorMgr, plat::IFwAuthorizedApplications* applications,
                                              const std::string* previousRemoteAddresses) {
  if (applications == nullptr) {
    errorMgr.AddMessage(kLevelError, kAttachLabel, "The parameter pfwApps may not be NULL");
    return false;
  }
  std::shared_ptr<plat::IFwAuthorizedApplication> application;
  uint32_t hr = plat::Current().Firewall().CreateAuthorizedApplication(&application);
  if (Failed(hr) || !application) {
    errorMgr.AddMessageF(kLevelError, kAttachLabel, "CoCreateInstance failed: 0x%08lx", Code(hr));
    return false;
  }
  if (!ChangeApplicationValues(errorMgr, application.get(), previousRemoteAddresses)) return false;
  hr = applications->Add(application);
  if (Failed(hr)) {
    errorMgr.AddMessageF(kLevelError, kAttachLabel,
                         "The new application %s couldn't be added to the firewall. Error 0x%08lx", exePath_.c_str(),
                         Code(hr));
    return false;
  }
  return errorMgr.GetHighestLevel() < kLevelCritical;
}

// The exception is always enabled on this family: it has no disabled state
// the entry could ask for.
bool CService::ChangeApplicationValues(CErrorMgr& errorMgr, plat::IFwAuthorizedApplication* application,
                                       const std::string* previousRemoteAddresses) {
  if (application == nullptr) {
    errorMgr.AddMessage(kLevelError, kChangeLabel, "The parameter pfwApp may not be NULL");
    return false;
  }
  if (!ExecutableExists()) {
    errorMgr.AddMessageF(kLevelWarning, kChangeLabel,
                         "  Application %s does not exist;  so it couldn't be added to the firewall", exePath_.c_str());
    return false;
  }
  const auto check = [&](uint32_t hr, const char* format) {
    if (Failed(hr)) errorMgr.AddMessageF(kLevelError, kChangeLabel, format, Code(hr));
    return !Failed(hr);
  };
  if (!check(application->PutEnabled(true), "put_Enabled failed: 0x%08lx") ||
      !check(application->PutName(name_), "put_Name failed: 0x%08lx") ||
      !check(application->PutProcessImageFileName(exePath_), "put_ProcessImageFileName failed: 0x%08lx")) {
    return false;
  }
  const CFirewallTool::LegacyRemoteAccess access =
      CFirewallTool::GetLegacyRemoteAccess(scopeType_, customAddresses_, PreviousOrEmpty(previousRemoteAddresses));
  return check(
      access.byAddresses ? application->PutRemoteAddresses(access.addresses) : application->PutScope(access.scope),
      access.failureFormat);
}

// ---- Rules family ------------------------------------------------------------------

bool CService::ApplyService2(CErrorMgr& errorMgr, plat::IFwPolicy2* policy, plat::IFwRules* rules) {
  errorMgr.AddMessage(kLevelDebug, kApply2Label, "");
  if (policy == nullptr) {
    errorMgr.AddMessage(kLevelError, kApply2Label, "The parameter  pfwPolicy  may not be NULL");
    return false;
  }
  if (rules == nullptr) {
    errorMgr.AddMessage(kLevelError, kApply2Label, "The parameter  fwRules  may not be NULL");
    return false;
  }
  if (exists_ == 0) {
    const uint32_t hr = RemoveRulesNamed(*rules, name_);
    if (Failed(hr)) errorMgr.AddMessageF(kLevelError, kApply2Label, kRemovingFailed, exePath_.c_str(), Code(hr));
    return !errorMgr.IsError();
  }
  if (!ExecutableExists()) {
    ReportMissingExecutable(errorMgr, kApply2Label);
    return !errorMgr.IsError();
  }
  std::shared_ptr<plat::IFwRule> existing;
  const bool replacing = rules->Item(name_, &existing) == winerr::kSOk && existing;
  if (AttachNewApplicationToFirewall2(errorMgr, rules)) {
    const char* format =
        replacing ? (enable_ == 1 ? "  => Service is set once again and enabled:  %s"
                                  : "  => Service is set once again but disabled:  %s")
                  : (enable_ == 1 ? "  => Service is set and enabled:  %s" : "  => Service is set but disabled:  %s");
    errorMgr.AddMessageF(kLevelInfo, kApply2Label, format, exePath_.c_str());
  }
  return !errorMgr.IsError();
}

// The new rule is made complete before the old ones go, so that a rule the
// firewall refuses leaves the existing exception as it was.
bool CService::AttachNewApplicationToFirewall2(CErrorMgr& errorMgr, plat::IFwRules* rules) {
  errorMgr.AddMessageF(kLevelDetail, kAttach2Label, "    Name: %s", name_.c_str());
  if (rules == nullptr) {
    errorMgr.AddMessage(kLevelError, kAttach2Label, "The parameter  fwRules  may not be NULL");
    return false;
  }
  std::shared_ptr<plat::IFwRule> existing;
  std::string previous;
  const bool replacing = rules->Item(name_, &existing) == winerr::kSOk && existing;
  if (replacing) existing->GetRemoteAddresses(&previous);

  std::shared_ptr<plat::IFwRule> rule;
  uint32_t hr = plat::Current().Firewall().CreateRule(&rule);
  if (Failed(hr) || !rule) {
    errorMgr.AddMessageF(kLevelError, kAttach2Label, "CoCreateInstance failed: 0x%08lx", Code(hr));
    return false;
  }
  if (!FillRule(errorMgr, *rule, previous)) return false;
  if (replacing) {
    hr = RemoveRulesNamed(*rules, name_);
    if (Failed(hr)) {
      errorMgr.AddMessageF(kLevelError, kAttach2Label, kResettingFailed, exePath_.c_str(), Code(hr));
      return false;
    }
  }
  hr = rules->Add(rule);
  if (Failed(hr)) {
    errorMgr.AddMessageF(kLevelError, kAttach2Label, "Add failed: 0x%08lx  %s", Code(hr), name_.c_str());
    return false;
  }
  return errorMgr.GetHighestLevel() < kLevelCritical;
}

bool CService::FillRule(CErrorMgr& errorMgr, plat::IFwRule& rule, const std::string& previous) const {
  const auto check = [&](uint32_t hr, const char* format, const std::string& detail) {
    if (Failed(hr)) errorMgr.AddMessageF(kLevelError, kAttach2Label, format, Code(hr), detail.c_str());
    return !Failed(hr);
  };
  if (!check(rule.PutApplicationName(exePath_), "put_ApplicationName failed: 0x%08lx  %s", exePath_) ||
      !check(rule.PutName(name_), "put_Name failed: 0x%08lx  %s", name_) ||
      !check(rule.PutGrouping(grouping_), "put_Grouping failed: 0x%08lx", "")) {
    return false;
  }
  const std::string addresses = CFirewallTool::GetRuleRemoteAddresses(scopeType_, customAddresses_, previous);
  if (previous == "*") {
    if (!check(rule.PutRemoteAddresses(addresses), "put_RemoteAddresses failed: 0x%08lx", "")) return false;
  } else if (scopeType_ == CFirewallTool::kScopeCustom) {
    if (!check(rule.PutRemoteAddresses(addresses), "put_RemoteAddresses failed: 0x%08lx  %s", addresses)) return false;
    errorMgr.AddMessageF(kLevelDetail, kAttach2Label, "    put_RemoteAddresses:  %s", addresses.c_str());
  } else if (scopeType_ == CFirewallTool::kScopeSubnet) {
    if (!check(rule.PutRemoteAddresses(addresses), "put_Scope failed: 0x%08lx", "")) return false;
  }
  return check(rule.PutProfiles(CFirewallTool::GetProfileMask(firewallProfile_)), "put_Profiles failed: 0x%08lx  %s",
               name_) &&
         check(rule.PutEnabled(enable_ == 1), "put_Enabled failed: 0x%08lx  %s", name_);
}

// ---- The machine's values ----------------------------------------------------------

std::unique_ptr<CService> CService::GetCurrentService(CErrorMgr& errorMgr, plat::IFwProfile* profile) const {
  auto current = std::make_unique<CService>();
  current->exists_ = 0;
  current->name_ = name_;
  current->scopeType_ = scopeType_;
  current->exePath_ = exePath_;
  current->customAddresses_ = customAddresses_;
  current->firewallProfile_ = firewallProfile_;
  const std::shared_ptr<plat::IFwAuthorizedApplication> application = GetAppFromFirewall(errorMgr, profile);
  if (!application) return current;
  const auto check = [&](uint32_t hr, const char* format) {
    if (Failed(hr)) errorMgr.AddMessageF(kLevelError, kCurrentLabel, format, Code(hr));
    return !Failed(hr);
  };
  bool enabled = false;
  if (!check(application->GetEnabled(&enabled), "get_Enabled failed: 0x%08lx")) return current;
  current->exists_ = enabled ? 1 : 0;
  int32_t scope = CFirewallTool::kScopeNone;
  if (!check(application->GetScope(&scope), "get_Scope failed: 0x%08lx")) return current;
  current->scopeType_ = scope;
  if (scope == CFirewallTool::kScopeCustom &&
      !check(application->GetRemoteAddresses(&current->customAddresses_), "get_RemoteAddresses failed: 0x%08lx")) {
    return current;
  }
  check(application->GetName(&current->name_), "get_Name failed: 0x%08lx");
  return current;
}

std::shared_ptr<plat::IFwAuthorizedApplication> CService::GetAppFromFirewall(CErrorMgr& errorMgr,
                                                                             plat::IFwProfile* profile) const {
  if (profile == nullptr) {
    errorMgr.AddMessage(kLevelError, kAppLabel, "The parameter fwProfile may not be NULL");
    return nullptr;
  }
  std::shared_ptr<plat::IFwAuthorizedApplications> applications;
  const uint32_t hr = profile->GetAuthorizedApplications(&applications);
  if (Failed(hr) || !applications) {
    errorMgr.AddMessageF(kLevelError, kAppLabel, "get_AuthorizedApplications failed: 0x%08lx", Code(hr));
    return nullptr;
  }
  std::shared_ptr<plat::IFwAuthorizedApplication> application;
  if (applications->Item(exePath_, &application) != winerr::kSOk) return nullptr;
  return application;
}

// ---- Log and documents ---------------------------------------------------------------

void CService::AddLogEntriesFromFeature(CErrorMgr& errorMgr) const {
  const char* state = exists_ == -1 ? "should be created" : exists_ == 0 ? "exists not" : "exists";
  errorMgr.AddMessageF(kLevelInfo, kLogLabel, "    Application  '%s'  %s", exePath_.c_str(), state);
  if (exists_ == 0) return;
  errorMgr.AddMessageF(kLevelInfo, kLogLabel, "    Network access: %s",
                       CFirewallTool::GetScopeText(scopeType_, customAddresses_).c_str());
}

xml::Node CService::SetFeatureToXml(CErrorMgr& errorMgr, const xml::Node& lan, std::string_view productName,
                                    bool withMessage) const {
  if (lan.IsNull()) {
    errorMgr.AddMessage(kLevelCritical, kXmlLabel, "Internal error: Paramenter pRootNode may not be NULL");
    return xml::Node();
  }
  xml::Node element = lan.FindChild("t:service", {{"name", name_}});
  if (element.IsNull()) element = lan.AppendChild(lan.OwnerDocument().CreateElement("t:service"));
  SetXmlAttribute(element, "name", name_);
  SetXmlAttribute(element, "exepath", exePath_);
  if (enable_ != -1) SetXmlAttribute(element, "enable", enable_ == 1 ? "yes" : "no");
  SetXmlAttribute(element, "firewallProfile", firewallProfile_);
  if (withMessage) {
    SetXmlAttribute(element, "message", ResourceTextIf(true, kServiceText));
    CFeature::AddRequestingProgram(element, productName);
  }
  if (exists_ != -1) SetXmlAttribute(element, "exists", exists_ == 1 ? "true" : "false");
  CFirewallTool::SetScopeTypeToXML(errorMgr, element, scopeType_, customAddresses_, withMessage);
  return element;
}
