// The predefined rules of the host's firewall: the groups a fresh Windows
// 6.0 or later brings (file and printer sharing, network discovery with its
// UPnP rules, remote desktop), every rule disabled. Names and groups are kept
// as indirect strings, as Windows keeps them, and resolved here.
#include <map>

#include "platform/WinError.h"
#include "platform/host/HostFirewall.h"

namespace host {

namespace {

constexpr const char* kFilePrintGroup = "@FirewallAPI.dll,-28502";
constexpr const char* kNetworkDiscoveryGroup = "@FirewallAPI.dll,-32752";
constexpr const char* kRemoteDesktopGroup = "@FirewallAPI.dll,-28752";

const std::map<std::string, std::string, std::less<>>& IndirectTexts() {
  static const std::map<std::string, std::string, std::less<>> texts = {
      {kFilePrintGroup, "File and Printer Sharing"},
      {kNetworkDiscoveryGroup, "Network Discovery"},
      {kRemoteDesktopGroup, "Remote Desktop"},
      {"@FirewallAPI.dll,-28503", "File and Printer Sharing (NB-Session-In)"},
      {"@FirewallAPI.dll,-28507", "File and Printer Sharing (NB-Session-Out)"},
      {"@FirewallAPI.dll,-28511", "File and Printer Sharing (SMB-In)"},
      {"@FirewallAPI.dll,-28515", "File and Printer Sharing (SMB-Out)"},
      {"@FirewallAPI.dll,-28519", "File and Printer Sharing (NB-Name-In)"},
      {"@FirewallAPI.dll,-28523", "File and Printer Sharing (NB-Name-Out)"},
      {"@FirewallAPI.dll,-28527", "File and Printer Sharing (NB-Datagram-In)"},
      {"@FirewallAPI.dll,-28531", "File and Printer Sharing (NB-Datagram-Out)"},
      {"@FirewallAPI.dll,-28535", "File and Printer Sharing (Spooler Service - RPC)"},
      {"@FirewallAPI.dll,-28539", "File and Printer Sharing (Spooler Service - RPC-EPMAP)"},
      {"@FirewallAPI.dll,-28543", "File and Printer Sharing (Echo Request - ICMPv4-In)"},
      {"@FirewallAPI.dll,-28544", "File and Printer Sharing (Echo Request - ICMPv4-Out)"},
      {"@FirewallAPI.dll,-28545", "File and Printer Sharing (Echo Request - ICMPv6-In)"},
      {"@FirewallAPI.dll,-28546", "File and Printer Sharing (Echo Request - ICMPv6-Out)"},
      {"@FirewallAPI.dll,-28548", "File and Printer Sharing (LLMNR-UDP-In)"},
      {"@FirewallAPI.dll,-28550", "File and Printer Sharing (LLMNR-UDP-Out)"},
      {"@FirewallAPI.dll,-32761", "Network Discovery (UPnP-In)"},
      {"@FirewallAPI.dll,-32757", "Network Discovery (SSDP-In)"},
      {"@FirewallAPI.dll,-28753", "Remote Desktop (TCP-In)"},
  };
  return texts;
}

struct PredefinedRule {
  const char* id;
  const char* group;
  const char* name;
  bool out;
  int protocol;
  const char* port;  // LPort for inbound, RPort for outbound; ICMP type for ICMP
  const char* app;
  const char* service;
  bool scoped;  // a -NoScope twin for the domain profile, local subnet for the others
  unsigned minMinor;  // the first 6.x that has it
};

constexpr const char* kSystem = "System";
constexpr const char* kSvchost = "%SystemRoot%\\system32\\svchost.exe";

constexpr PredefinedRule kPredefined[] = {
    {"FPS-NB_Session-In-TCP", kFilePrintGroup, "-28503", false, 6, "139", kSystem, "", true, 0},
    {"FPS-NB_Session-Out-TCP", kFilePrintGroup, "-28507", true, 6, "139", kSystem, "", true, 0},
    {"FPS-SMB-In-TCP", kFilePrintGroup, "-28511", false, 6, "445", kSystem, "", true, 0},
    {"FPS-SMB-Out-TCP", kFilePrintGroup, "-28515", true, 6, "445", kSystem, "", true, 0},
    {"FPS-NB_Name-In-UDP", kFilePrintGroup, "-28519", false, 17, "137", kSystem, "", true, 0},
    {"FPS-NB_Name-Out-UDP", kFilePrintGroup, "-28523", true, 17, "137", kSystem, "", true, 0},
    {"FPS-NB_Datagram-In-UDP", kFilePrintGroup, "-28527", false, 17, "138", kSystem, "", true, 0},
    {"FPS-NB_Datagram-Out-UDP", kFilePrintGroup, "-28531", true, 17, "138", kSystem, "", true, 0},
    {"FPS-SpoolSvc-In-TCP", kFilePrintGroup, "-28535", false, 6, "RPC", "%SystemRoot%\\system32\\spoolsv.exe",
     "Spooler", true, 0},
    {"FPS-RPCSS-In-TCP", kFilePrintGroup, "-28539", false, 6, "RPC-EPMap", kSvchost, "Rpcss", true, 0},
    {"FPS-ICMP4-ERQ-In", kFilePrintGroup, "-28543", false, 1, "8:*", "", "", true, 0},
    {"FPS-ICMP4-ERQ-Out", kFilePrintGroup, "-28544", true, 1, "8:*", "", "", true, 0},
    {"FPS-ICMP6-ERQ-In", kFilePrintGroup, "-28545", false, 58, "128:*", "", "", true, 0},
    {"FPS-ICMP6-ERQ-Out", kFilePrintGroup, "-28546", true, 58, "128:*", "", "", true, 0},
    {"FPS-LLMNR-In-UDP", kFilePrintGroup, "-28548", false, 17, "5355", kSvchost, "dnscache", false, 2},
    {"FPS-LLMNR-Out-UDP", kFilePrintGroup, "-28550", true, 17, "5355", kSvchost, "dnscache", false, 2},
    {"NETDIS-UPnPHost-In-TCP", kNetworkDiscoveryGroup, "-32761", false, 6, "2869", kSystem, "", false, 0},
    {"NETDIS-SSDPSrv-In-UDP", kNetworkDiscoveryGroup, "-32757", false, 17, "1900", kSvchost, "Ssdpsrv", false, 0},
    {"RemoteDesktop-In-TCP", kRemoteDesktopGroup, "-28753", false, 6, "3389", kSystem, "", false, 0},
};

FirewallRuleString RuleOf(HostFirewall& firewall, const PredefinedRule& def, const std::vector<std::string>& profiles,
                          bool localSubnet) {
  FirewallRuleString rule = firewall.NewRule();
  rule.Set("Dir", def.out ? "Out" : "In");
  rule.Set("Protocol", std::to_string(def.protocol));
  rule.Set("Profile", profiles);
  if (def.protocol == 1 || def.protocol == 58) {
    rule.Set(def.protocol == 1 ? "ICMP4" : "ICMP6", def.port);
  } else {
    rule.Set(def.out ? "RPort" : "LPort", def.port);
  }
  if (localSubnet) {
    rule.Set("RA4", "LocalSubnet");
    rule.Set("RA6", "LocalSubnet");
  }
  if (*def.app) rule.Set("App", def.app);
  if (*def.service) rule.Set("Svc", def.service);
  rule.Set("Name", std::string("@FirewallAPI.dll,") + def.name);
  rule.Set("EmbedCtxt", def.group);
  return rule;
}

}  // namespace

std::string FirewallDisplayText(std::string_view text) {
  const auto found = IndirectTexts().find(text);
  return found == IndirectTexts().end() ? std::string(text) : found->second;
}

void HostFirewall::SeedRules() {
  for (const PredefinedRule& def : kPredefined) {
    if (profile_.major == 6 && profile_.minor < def.minMinor) continue;
    if (!def.scoped) {
      WriteRule(def.id, RuleOf(*this, def, {}, false));
      continue;
    }
    WriteRule(def.id, RuleOf(*this, def, {"Private", "Public"}, true));
    WriteRule(std::string(def.id) + "-NoScope", RuleOf(*this, def, {"Domain"}, false));
  }
}

}  // namespace host
