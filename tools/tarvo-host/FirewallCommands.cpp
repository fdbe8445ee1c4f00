// tarvo-host firewall: the host's firewall rules in the manner of a rule
// listing (sorted by name, ids only in JSON), or on Windows before 6.0 the
// legacy state (inbound echo, applications, ports, services); switching and
// deleting rules by name, and the failure knob of the current profile. The
// tool reads and writes as the machine's owner, whether the firewall service
// runs or not.
#include <algorithm>
#include <ostream>

#include "platform/host/FirewallObjects.h"
#include "platform/text/Text.h"
#include "tools/tarvo-host/HostCommands.h"
#include "tools/tarvo-host/Json.h"

namespace hosttool {
namespace {

// What the listing shows of one rule, as its object answers.
struct RuleView {
  std::string id, name, group, direction, action, protocol, localPorts, remotePorts;
  std::string localAddresses, remoteAddresses, profiles, program, service, icmp, text;
  bool enabled = false;
};

std::string ProtocolName(int32_t protocol) {
  switch (protocol) {
    case plat::kFwIpProtocolTcp: return "TCP";
    case plat::kFwIpProtocolUdp: return "UDP";
    case plat::kFwIpProtocolIcmp4: return "ICMPv4";
    case plat::kFwIpProtocolIcmp6: return "ICMPv6";
    case plat::kFwIpProtocolAny: return "Any";
    default: return std::to_string(protocol);
  }
}

std::string ProfileNames(int32_t profiles) {
  std::string names;
  for (const auto& [bit, name] : {std::pair{plat::kFwProfile2Domain, "Domain"},
                                  std::pair{plat::kFwProfile2Private, "Private"},
                                  std::pair{plat::kFwProfile2Public, "Public"}}) {
    if (profiles & bit) names += (names.empty() ? "" : ",") + std::string(name);
  }
  return names;
}

std::string AnyFor(const std::string& value) { return value == "*" ? "Any" : value; }

RuleView ViewOf(host::HostFirewall& firewall, const host::FirewallRuleRecord& record) {
  std::shared_ptr<plat::IFwRule> rule = host::MakeRuleView(firewall, record.rule);
  RuleView v;
  v.id = record.id;
  v.text = record.rule.Text();
  int32_t direction = 0, action = 0, protocol = 0, profiles = 0;
  rule->GetName(&v.name);
  rule->GetGrouping(&v.group);
  v.group = host::FirewallDisplayText(v.group);
  rule->GetEnabled(&v.enabled);
  rule->GetDirection(&direction);
  rule->GetAction(&action);
  rule->GetProtocol(&protocol);
  rule->GetProfiles(&profiles);
  rule->GetLocalPorts(&v.localPorts);
  rule->GetRemotePorts(&v.remotePorts);
  rule->GetLocalAddresses(&v.localAddresses);
  rule->GetRemoteAddresses(&v.remoteAddresses);
  rule->GetApplicationName(&v.program);
  rule->GetServiceName(&v.service);
  rule->GetIcmpTypesAndCodes(&v.icmp);
  v.direction = direction == plat::kFwRuleDirOut ? "Out" : "In";
  v.action = action == plat::kFwActionBlock ? "Block" : "Allow";
  v.protocol = ProtocolName(protocol);
  v.profiles = ProfileNames(profiles);
  return v;
}

void WriteRuleJson(JsonWriter& j, const RuleView& v) {
  j.BeginObject()
      .Field("id", v.id)
      .Field("name", v.name)
      .Field("group", v.group)
      .Field("enabled", v.enabled)
      .Field("direction", v.direction)
      .Field("action", v.action)
      .Field("protocol", v.protocol)
      .Field("localPorts", v.localPorts)
      .Field("remotePorts", v.remotePorts)
      .Field("localAddresses", v.localAddresses)
      .Field("remoteAddresses", v.remoteAddresses)
      .Field("profiles", v.profiles)
      .Field("program", v.program)
      .Field("service", v.service)
      .Field("icmp", v.icmp)
      .Field("ruleString", v.text)
      .EndObject();
}

void WriteRuleText(std::ostream& out, const RuleView& v) {
  const auto line = [&out](const char* label, const std::string& value) {
    out << text::Format("%-38s%s\n", (std::string(label) + ":").c_str(), value.c_str());
  };
  line("Rule Name", v.name);
  out << std::string(70, '-') << "\n";
  line("Enabled", v.enabled ? "Yes" : "No");
  line("Direction", v.direction);
  line("Profiles", v.profiles);
  line("Grouping", v.group);
  line("LocalIP", AnyFor(v.localAddresses));
  line("RemoteIP", AnyFor(v.remoteAddresses));
  line("Protocol", v.protocol);
  if (!v.localPorts.empty()) line("LocalPort", AnyFor(v.localPorts));
  if (!v.remotePorts.empty()) line("RemotePort", AnyFor(v.remotePorts));
  if (!v.icmp.empty()) line("ICMP", AnyFor(v.icmp));
  if (!v.program.empty()) line("Program", v.program);
  if (!v.service.empty()) line("Service", v.service);
  line("Action", v.action);
  out << "\n";
}

void ShowRules(CommandContext& c, host::HostFirewall& firewall) {
  std::vector<RuleView> views;
  for (const host::FirewallRuleRecord& record : firewall.Rules()) views.push_back(ViewOf(firewall, record));
  std::stable_sort(views.begin(), views.end(), [](const RuleView& a, const RuleView& b) {
    return std::tie(a.name, a.id) < std::tie(b.name, b.id);
  });
  if (c.json) {
    JsonWriter j;
    j.BeginArray();
    for (const RuleView& v : views) WriteRuleJson(j, v);
    j.EndArray();
    *c.out << j.Text() << "\n";
    return;
  }
  for (const RuleView& v : views) WriteRuleText(*c.out, v);
  *c.out << views.size() << " rules\n";
}

void ShowLegacy(CommandContext& c, host::HostFirewall& firewall) {
  const host::FirewallLegacyState state = firewall.LegacyState();
  if (c.json) {
    JsonWriter j;
    j.BeginObject().Field("inboundEcho", state.inboundEcho).Key("entries").BeginArray();
    for (const host::FirewallLegacyEntry& e : state.entries) {
      j.BeginObject()
          .Field("list", e.list)
          .Field("key", e.key)
          .Field("name", e.name)
          .Field("enabled", e.enabled)
          .Field("scope", e.scope)
          .EndObject();
    }
    j.EndArray().EndObject();
    *c.out << j.Text() << "\n";
    return;
  }
  *c.out << "Inbound echo request: " << (state.inboundEcho ? "Enabled" : "Disabled") << "\n";
  *c.out << text::Format("%-12s %-9s %-24s %-30s %s\n", "LIST", "STATE", "SCOPE", "NAME", "KEY");
  for (const host::FirewallLegacyEntry& e : state.entries) {
    *c.out << text::Format("%-12s %-9s %-24s %-30s %s\n", e.list.c_str(), e.enabled ? "Enabled" : "Disabled",
                           AnyFor(e.scope).c_str(), e.name.c_str(), e.key.c_str());
  }
}

int RunChange(CommandContext& c, host::HostFirewall& firewall) {
  const std::string& verb = c.args[0];
  if (c.args.size() != 2) return c.Fail("firewall " + verb + ": one rule name is needed");
  if (!firewall.HasRules()) return c.Fail("firewall " + verb + ": this Windows version keeps no rules");
  const std::string& name = c.args[1];
  const bool found = verb == "delete" ? firewall.DeleteRules(name) : firewall.SetRulesEnabled(name, verb == "enable");
  if (!found) return c.Fail("firewall " + verb + ": no rule named '" + name + "'");
  return kExitOk;
}

int RunSet(CommandContext& c, host::HostFirewall& firewall) {
  if (c.args.size() != 3 || c.args[1] != "profile-failures") {
    return c.Fail("firewall set: use 'firewall set profile-failures N|always'");
  }
  const std::string& value = c.args[2];
  if (value == "always") {
    firewall.SetProfileFailures(-1);
    return kExitOk;
  }
  if (value.empty() || value.size() > 6 || value.find_first_not_of("0123456789") != std::string::npos) {
    return c.Fail("firewall set profile-failures: '" + value + "' is neither a count nor 'always'");
  }
  firewall.SetProfileFailures(std::stoi(value));
  return kExitOk;
}

int RunFirewall(CommandContext& c) {
  const std::string verb = c.args.empty() ? "" : c.args[0];
  if (!verb.empty() && verb != "enable" && verb != "disable" && verb != "delete" && verb != "set") {
    return c.Fail("firewall: unknown argument '" + verb + "'");
  }
  host::Host* h = c.OpenHost();
  if (!h) return kExitNoHost;
  try {
    host::HostFirewall& firewall = h->Firewall();
    if (verb == "set") return RunSet(c, firewall);
    if (!verb.empty()) return RunChange(c, firewall);
    if (firewall.HasRules()) {
      ShowRules(c, firewall);
    } else {
      ShowLegacy(c, firewall);
    }
    return kExitOk;
  } catch (const host::DbError& e) {
    return c.Fail("firewall: the host database failed: " + e.message);
  }
}

}  // namespace

int RunFirewallCommand(CommandContext& context) { return RunFirewall(context); }

}  // namespace hosttool
