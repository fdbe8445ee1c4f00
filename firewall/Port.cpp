// A firewall port (t:port) on both firewall families.
#include "firewall/Port.h"

#include <cctype>

#include "features/Feature.h"
#include "firewall/FirewallTool.h"
#include "infra/ErrorMgr.h"
#include "platform/Platform.h"
#include "platform/WinError.h"
#include "platform/text/Text.h"
#include "securityfiles/XmlServices.h"

namespace {

constexpr const char* kApplyLabel = "CPort::ApplyPort";
constexpr const char* kApply2Label = "CPort::ApplyPort2";
constexpr const char* kAttachLabel = "CPort::AttachNewPortToFirewall";
constexpr const char* kAdd2Label = "CPort::FirewallPortAdd2";
constexpr const char* kChangeLabel = "CPort::ChangePortValues";
constexpr const char* kCheckLabel = "CPort::CheckPortInFirewall";
constexpr const char* kGetPortLabel = "CPort::GetPortFromFirewall";
constexpr const char* kLogLabel = "CPort::AddLogEntriesFromFeature";
constexpr const char* kXmlLabel = "CPort::SetFeatureToXml";

constexpr const char* kRemovingFailed = "While removing the port  %s %s an error occured. Error: 0x%08lx";
constexpr const char* kPortSet = "  => Port is set:  %s  %s";

// Language texts of the feature document.
constexpr int kTcpAndUdpText = 166;
constexpr int kTcpText = 167;
constexpr int kUdpText = 168;
constexpr int kPortNoteText = 189;

// Above any port: the firewall refuses it, where a wrapped-around value
// could name a real port.
constexpr int32_t kBeyondAnyPort = 65536;

unsigned long Code(uint32_t hr) { return hr; }

using winerr::Failed;

std::string ValueOf(const xml::Node& node, std::string_view xpath) {
  std::string value;
  GetXmlValue(node, xpath, &value);
  return value;
}

const char* TriStateText(int value) { return value == 1 ? "true" : "false"; }

}  // namespace

// ---- Reading ---------------------------------------------------------------------

void CPort::Read(const xml::Node& element) {
  GetXmlTriState(element, "@udp", &udp_);
  GetXmlTriState(element, "@tcp", &tcp_);
  name_ = ValueOf(element, "@name");
  port_ = ValueOf(element, "@value");
  GetXmlTriState(element, "@exists", &exists_);
  GetXmlTriStateDefaultYes(element, "@enable", &enable_);
  firewallProfile_ = ValueOf(element, "@firewallProfile");
  if (firewallProfile_.empty()) firewallProfile_ = "all";
  CFirewallTool::GetScopeTypeFromXml(element, &scopeType_, &customAddresses_);
}

int32_t CPort::Protocol() const {
  if (tcp_ == 1) return plat::kFwIpProtocolTcp;
  if (udp_ == 1) return plat::kFwIpProtocolUdp;
  return -1;
}

int32_t CPort::PortNumber() const {
  int32_t number = 0;
  for (const char c : port_) {
    if (!std::isdigit(static_cast<unsigned char>(c))) break;
    number = number * 10 + (c - '0');
    if (number >= kBeyondAnyPort) return kBeyondAnyPort;
  }
  return number;
}

const char* CPort::ProtocolText() const { return Protocol() == plat::kFwIpProtocolUdp ? "UDP" : "TCP"; }

// ---- Legacy family -----------------------------------------------------------------

bool CPort::ApplyPort(CErrorMgr& errorMgr, plat::IFwOpenPorts* ports) {
  if (ports == nullptr) {
    errorMgr.AddMessage(kLevelError, kApplyLabel, "The parameter pfwOpenPorts may not be NULL");
    return false;
  }
  std::shared_ptr<plat::IFwOpenPort> existing;
  const bool found = ports->Item(PortNumber(), Protocol(), &existing) == winerr::kSOk && existing;
  if (exists_ == 0) {
    if (!found) {
      errorMgr.AddMessageF(
          kLevelWarning, kApplyLabel,
          "  The port %s %s couldn't be removed from firewall, because the port was not found in firewall",
          port_.c_str(), ProtocolText());
      return !errorMgr.IsError();
    }
    const uint32_t hr = ports->Remove(PortNumber(), Protocol());
    if (Failed(hr)) {
      errorMgr.AddMessageF(kLevelError, kApplyLabel, kRemovingFailed, port_.c_str(), ProtocolText(), Code(hr));
    } else {
      errorMgr.AddMessageF(kLevelInfo, kApplyLabel, "  => Port is removed:  %s", port_.c_str());
    }
    return !errorMgr.IsError();
  }
  if (found) {
    ChangePortValues(errorMgr, existing.get(), true);
  } else {
    AttachNewPortToFirewall(errorMgr, ports);
  }
  return !errorMgr.IsError();
}

bool CPort::AttachNewPortToFirewall(CErrorMgr& errorMgr, plat::IFwOpenPorts* ports) {
  if (ports == nullptr) {
    errorMgr.AddMessage(kLevelError, kAttachLabel, "The parameter pfwOpenPorts may not be NULL");
    return false;
  }
  std::shared_ptr<plat::IFwOpenPort> openPort;
  uint32_t hr = plat::Current().Firewall().CreateOpenPort(&openPort);
  if (Failed(hr) || !openPort) {
    errorMgr.AddMessageF(kLevelError, kAttachLabel, "CoCreateInstance(FirwallPort) failed: 0x%08lx", Code(hr));
    return false;
  }
  if (!ChangePortValues(errorMgr, openPort.get(), false)) return false;
  hr = ports->Add(openPort);
  if (Failed(hr)) {
    errorMgr.AddMessageF(kLevelError, kAttachLabel, "The new port couldn't be added to the firewall. Error 0x%08lx",
                         Code(hr));
    return false;
  }
  errorMgr.AddMessageF(kLevelInfo, kChangeLabel, kPortSet, port_.c_str(), name_.c_str());
  return true;
}

// A port is always enabled on this family. An existing port is changed in
// place (the object is live), so its success line follows here; a new
// port's follows its addition.
bool CPort::ChangePortValues(CErrorMgr& errorMgr, plat::IFwOpenPort* openPort, bool existing) {
  if (openPort == nullptr) {
    errorMgr.AddMessage(kLevelError, kChangeLabel, "The parameter fwOpenPort may not be NULL");
    return false;
  }
  const auto check = [&](uint32_t hr, const char* format) {
    if (Failed(hr)) errorMgr.AddMessageF(kLevelError, kChangeLabel, format, Code(hr));
    return !Failed(hr);
  };
  if (!check(openPort->PutEnabled(true), "put_Enabled failed: 0x%08lx") ||
      !check(openPort->PutPort(PortNumber()), "put_Port() failed: 0x%08lx") ||
      !check(openPort->PutProtocol(Protocol()), "put_Protocol() failed: 0x%08lx")) {
    return false;
  }
  openPort->PutIpVersion(plat::kFwIpVersionV4);
  if (!check(openPort->PutName(name_), "put_Name failed: 0x%08lx")) return false;
  std::string previous;
  if (existing) openPort->GetRemoteAddresses(&previous);
  if (!SetLegacyRemoteAccess(errorMgr, *openPort, previous)) return false;
  if (existing) errorMgr.AddMessageF(kLevelInfo, kChangeLabel, kPortSet, port_.c_str(), name_.c_str());
  return true;
}

bool CPort::SetLegacyRemoteAccess(CErrorMgr& errorMgr, plat::IFwOpenPort& openPort, const std::string& previous) const {
  const CFirewallTool::LegacyRemoteAccess access =
      CFirewallTool::GetLegacyRemoteAccess(scopeType_, customAddresses_, previous);
  const uint32_t hr =
      access.byAddresses ? openPort.PutRemoteAddresses(access.addresses) : openPort.PutScope(access.scope);
  if (Failed(hr)) errorMgr.AddMessageF(kLevelError, kChangeLabel, access.failureFormat, Code(hr));
  return !Failed(hr);
}

// ---- Rules family ------------------------------------------------------------------

bool CPort::ApplyPort2(CErrorMgr& errorMgr, plat::IFwRules* rules) {
  if (rules == nullptr) {
    errorMgr.AddMessage(kLevelError, kApply2Label, "The parameter  fwRules  may not be NULL");
    return false;
  }
  std::shared_ptr<plat::IFwRule> existing;
  const bool found = rules->Item(name_, &existing) == winerr::kSOk && existing;
  if (exists_ == 0) {
    if (found) RemoveRule(errorMgr, *rules);
    return !errorMgr.IsError();
  }
  if (found) {
    bool enabled = false;
    std::string localPorts;
    existing->GetEnabled(&enabled);
    existing->GetLocalPorts(&localPorts);
    errorMgr.AddMessageF(
        kLevelInfo, kApply2Label,
        enabled ? "    before execution: Port '%s' is enable" : "    before execution: Port '%s' is disable",
        localPorts.c_str());
  } else {
    errorMgr.AddMessageF(kLevelInfo, kApply2Label, "    before execution: Port '%s' is not set", port_.c_str());
  }
  FirewallPortAdd2(errorMgr, rules);
  return !errorMgr.IsError();
}

// Removes one rule of the entry's name; "removed" only once no rule of that
// name is left.
void CPort::RemoveRule(CErrorMgr& errorMgr, plat::IFwRules& rules) const {
  const uint32_t hr = rules.Remove(name_);
  if (Failed(hr)) {
    errorMgr.AddMessageF(kLevelError, kApply2Label, kRemovingFailed, port_.c_str(), ProtocolText(), Code(hr));
    return;
  }
  std::shared_ptr<plat::IFwRule> left;
  if (rules.Item(name_, &left) != winerr::kSOk || !left) {
    errorMgr.AddMessageF(kLevelInfo, kApply2Label, "  => Port is removed:  %s", name_.c_str());
  }
}

// The new rule is made complete before the old one goes, so that a rule
// the firewall refuses leaves the existing opening as it was.
bool CPort::FirewallPortAdd2(CErrorMgr& errorMgr, plat::IFwRules* rules) {
  if (rules == nullptr) {
    errorMgr.AddMessage(kLevelError, kAdd2Label, "The parameter  fwRules  may not be NULL");
    return false;
  }
  std::shared_ptr<plat::IFwRule> existing;
  std::string previous;
  const bool replacing = rules->Item(name_, &existing) == winerr::kSOk && existing;
  if (replacing) existing->GetRemoteAddresses(&previous);

  std::shared_ptr<plat::IFwRule> rule;
  uint32_t hr = plat::Current().Firewall().CreateRule(&rule);
  if (Failed(hr) || !rule) {
    errorMgr.AddMessageF(kLevelError, kAdd2Label, "CoCreateInstance(FirwallPort) failed: 0x%08lx", Code(hr));
    return false;
  }
  if (!FillRule(errorMgr, *rule, previous)) return false;
  if (replacing) {
    hr = rules->Remove(name_);
    if (Failed(hr)) {
      errorMgr.AddMessageF(kLevelError, kAdd2Label, kRemovingFailed, port_.c_str(), ProtocolText(), Code(hr));
      return false;
    }
  }
  hr = rules->Add(rule);
  if (Failed(hr)) {
    errorMgr.AddMessageF(kLevelError, kAdd2Label, "Add failed: 0x%08lx", Code(hr));
    return false;
  }
  errorMgr.AddMessageF(kLevelInfo, kAdd2Label, "  => Port is set%s:  %s  %s",
                       enable_ == 1 ? " and enabled" : " but disabled", port_.c_str(), name_.c_str());
  return true;
}

bool CPort::FillRule(CErrorMgr& errorMgr, plat::IFwRule& rule, const std::string& previous) const {
  const auto check = [&](uint32_t hr, const char* format) {
    if (Failed(hr)) errorMgr.AddMessageF(kLevelError, kAdd2Label, format, Code(hr));
    return !Failed(hr);
  };
  if (!check(rule.PutName(name_), "put_Name failed: 0x%08lx") ||
      !check(rule.PutGrouping(grouping_), "put_Grouping failed: 0x%08lx") ||
      !check(rule.PutProtocol(Protocol()), "put_Protocol failed: 0x%08lx") ||
      !check(rule.PutLocalPorts(port_), "put_LocalPorts failed: 0x%08lx")) {
    return false;
  }
  bool addressesSet = true;
  const std::string addresses = CFirewallTool::GetRuleRemoteAddresses(scopeType_, customAddresses_, previous);
  if (previous == "*" || scopeType_ == CFirewallTool::kScopeCustom) {
    addressesSet = check(rule.PutRemoteAddresses(addresses), "put_RemoteAddresses failed: 0x%08lx");
  } else if (scopeType_ == CFirewallTool::kScopeSubnet) {
    addressesSet = check(rule.PutRemoteAddresses(addresses), "put_Scope failed: 0x%08lx");
  }
  return addressesSet &&
         check(rule.PutProfiles(CFirewallTool::GetProfileMask(firewallProfile_)), "put_Profiles failed: 0x%08lx") &&
         check(rule.PutEnabled(enable_ == 1), "put_Enabled failed: 0x%08lx");
}

// ---- The machine's values ----------------------------------------------------------

std::unique_ptr<CPort> CPort::GetCurrentPort(CErrorMgr& errorMgr, plat::IFwProfile* profile) const {
  auto current = std::make_unique<CPort>();
  if (tcp_ == 1) {
    CheckPortInFirewall(errorMgr, profile, PortNumber(), plat::kFwIpProtocolTcp, current.get());
  } else if (udp_ == 1) {
    CheckPortInFirewall(errorMgr, profile, PortNumber(), plat::kFwIpProtocolUdp, current.get());
  }
  return current;
}

bool CPort::CheckPortInFirewall(CErrorMgr& errorMgr, plat::IFwProfile* profile, int32_t port, int32_t protocol,
                                CPort* entry) const {
  const std::shared_ptr<plat::IFwOpenPort> openPort = GetPortFromFirewall(errorMgr, profile, port, protocol);
  entry->exists_ = 0;
  entry->name_ = name_;
  entry->tcp_ = protocol == plat::kFwIpProtocolTcp ? 1 : 0;
  entry->udp_ = protocol == plat::kFwIpProtocolUdp ? 1 : 0;
  entry->port_ = std::to_string(port);
  entry->scopeType_ = scopeType_;
  entry->customAddresses_ = customAddresses_;
  if (!openPort) return !errorMgr.IsError();
  const auto check = [&](uint32_t hr, const char* format) {
    if (Failed(hr)) errorMgr.AddMessageF(kLevelError, kCheckLabel, format, Code(hr));
    return !Failed(hr);
  };
  bool enabled = false;
  if (!check(openPort->GetEnabled(&enabled), "get_Enabled failed: 0x%08lx")) return false;
  entry->exists_ = enabled ? 1 : 0;
  int32_t scope = CFirewallTool::kScopeNone;
  if (!check(openPort->GetScope(&scope), "get_Scope failed: 0x%08lx")) return false;
  entry->scopeType_ = scope;
  if (scope == CFirewallTool::kScopeCustom &&
      !check(openPort->GetRemoteAddresses(&entry->customAddresses_), "get_RemoteAddresses failed: 0x%08lx")) {
    return false;
  }
  return check(openPort->GetName(&entry->name_), "get_Name failed: 0x%08lx");
}

std::shared_ptr<plat::IFwOpenPort> CPort::GetPortFromFirewall(CErrorMgr& errorMgr, plat::IFwProfile* profile,
                                                              int32_t port, int32_t protocol) const {
  if (profile == nullptr) {
    errorMgr.AddMessage(kLevelError, kGetPortLabel, "The parameter fwProfile may not be NULL");
    return nullptr;
  }
  std::shared_ptr<plat::IFwOpenPorts> ports;
  const uint32_t hr = profile->GetGloballyOpenPorts(&ports);
  if (Failed(hr) || !ports) {
    errorMgr.AddMessageF(kLevelError, kGetPortLabel, "get_GloballyOpenPorts failed: 0x%08lx", Code(hr));
    return nullptr;
  }
  std::shared_ptr<plat::IFwOpenPort> openPort;
  if (ports->Item(port, protocol, &openPort) != winerr::kSOk) return nullptr;
  return openPort;
}

// ---- Log and documents ---------------------------------------------------------------

void CPort::AddLogEntriesFromFeature(CErrorMgr& errorMgr) const {
  const char* protocol = tcp_ != 0 ? "TCP" : udp_ != 0 ? "UDP" : "";
  const char* state = exists_ == -1 ? "should be opened" : exists_ == 0 ? "is closed" : "is open";
  errorMgr.AddMessageF(kLevelInfo, kLogLabel, "    Port named '%s' (%s %s) %s", name_.c_str(), port_.c_str(), protocol,
                       state);
  if (exists_ == 0) return;
  errorMgr.AddMessageF(kLevelInfo, kLogLabel, "    Network access: %s",
                       CFirewallTool::GetScopeText(scopeType_, customAddresses_).c_str());
}

xml::Node CPort::SetFeatureToXml(CErrorMgr& errorMgr, const xml::Node& lan, std::string_view productName,
                                 bool withMessage) const {
  if (lan.IsNull()) {
    errorMgr.AddMessage(kLevelCritical, kXmlLabel, "Internal error: Paramenter pRootNode may not be NULL");
    return xml::Node();
  }
  xml::Node element = lan.FindChild("t:port", {{"name", name_}});
  if (element.IsNull()) element = lan.AppendChild(lan.OwnerDocument().CreateElement("t:port"));
  if (udp_ != -1) SetXmlAttribute(element, "udp", TriStateText(udp_));
  if (tcp_ != -1) SetXmlAttribute(element, "tcp", TriStateText(tcp_));
  if (withMessage && (tcp_ == 1 || udp_ == 1)) {
    const int text = tcp_ == 1 && udp_ == 1 ? kTcpAndUdpText : tcp_ == 1 ? kTcpText : kUdpText;
    SetXmlAttribute(element, "message", ResourceTextIf(true, text));
    SetXmlAttribute(element, "message2", ResourceTextIf(true, kPortNoteText));
  }
  SetXmlAttribute(element, "name", name_);
  SetXmlAttribute(element, "value", port_);
  if (exists_ != -1) SetXmlAttribute(element, "exists", TriStateText(exists_));
  if (enable_ != -1) SetXmlAttribute(element, "enable", enable_ == 1 ? "yes" : "no");
  SetXmlAttribute(element, "firewallProfile", firewallProfile_);
  if (withMessage) CFeature::AddRequestingProgram(element, productName);
  CFirewallTool::SetScopeTypeToXML(errorMgr, element, scopeType_, customAddresses_, withMessage);
  return element;
}
