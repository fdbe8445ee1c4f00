// The firewall of the simulated host, one state for both object families.
// From Windows 6.0 the rules are kept as Windows keeps them: one rule string
// per rule (see FirewallRuleString.h) under kFirewallRulesKey, the value
// name being the rule id. Ids of rules made here are GUIDs that follow from
// the rule's name (see NewRuleId), so a host's state is reproducible and a
// rule removed and added again keeps its id. Before 6.0 only the legacy store exists (its layout is
// described in FirewallLegacy.cpp) and the rules family is not registered.
// Every object refuses calls while the firewall service does not run, and a
// user who is no administrator cannot change anything.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Firewall.h"
#include "platform/host/FirewallRuleString.h"
#include "platform/host/HostDb.h"
#include "platform/host/HostRegistry.h"
#include "platform/host/HostServices.h"
#include "platform/host/HostSystem.h"
#include "platform/host/Profiles.h"

namespace host {

// Below HKLM.
inline constexpr std::string_view kFirewallPolicyKey =
    "SYSTEM\\CurrentControlSet\\Services\\SharedAccess\\Parameters\\FirewallPolicy";
inline constexpr std::string_view kFirewallRulesKey =
    "SYSTEM\\CurrentControlSet\\Services\\SharedAccess\\Parameters\\FirewallPolicy\\FirewallRules";

// One stored rule, for the host's own view.
struct FirewallRuleRecord {
  std::string id;
  FirewallRuleString rule;
};

// One entry of the legacy store: an authorized application (key: image
// path), an open port (key: "8080:TCP") or a service (key: FileAndPrint,
// UPnP, RemoteDesktop); scope "*", "LocalSubnet" or addresses.
struct FirewallLegacyEntry {
  std::string list;  // "application", "port" or "service"
  std::string key;
  std::string scope;
  bool enabled = false;
  std::string name;
};

struct FirewallLegacyState {
  bool inboundEcho = false;
  std::vector<FirewallLegacyEntry> entries;
};

// The display text of a rule's name or group: an indirect string of the
// predefined groups ("@FirewallAPI.dll,-28502") resolved, anything else as it is.
std::string FirewallDisplayText(std::string_view text);

class HostFirewall : public plat::IFirewall {
 public:
  HostFirewall(HostDb& db, HostSystem& system, HostServices& services, const Profile& profile,
               const std::string& userSid);

  uint32_t CreateManager(std::shared_ptr<plat::IFwMgr>* manager) override;
  uint32_t CreatePolicy2(std::shared_ptr<plat::IFwPolicy2>* policy) override;
  uint32_t CreateAuthorizedApplication(std::shared_ptr<plat::IFwAuthorizedApplication>* application) override;
  uint32_t CreateOpenPort(std::shared_ptr<plat::IFwOpenPort>* openPort) override;
  uint32_t CreateRule(std::shared_ptr<plat::IFwRule>* rule) override;

  // Whether this Windows version keeps rules (6.0 and later).
  bool HasRules() const;
  // The firewall service of this Windows version.
  std::string ServiceName() const;

  // The host's own view, for tools and tests: no rights are checked.
  std::vector<FirewallRuleRecord> Rules();
  // What the legacy store holds (before 6.0).
  FirewallLegacyState LegacyState();
  // Switches or deletes every rule of that name; false when there is none.
  bool SetRulesEnabled(std::string_view name, bool enabled);
  bool DeleteRules(std::string_view name);
  // get_CurrentProfile fails the next `count` times, or always with a
  // negative count, or never again with 0. Throws DbError.
  void SetProfileFailures(int count);
  // The predefined rules of a fresh installation, unless the host has its
  // rules already (a host made before the firewall was kept gains them).
  void SeedIfMissing();

  // ---- For the firewall's own objects.
  // S_OK when a call may go on: the service runs and, for a change, the user
  // is an administrator.
  uint32_t Refusal(bool change);
  // Whether get_CurrentProfile fails this time (the failure knob).
  bool TakeProfileFailure();
  std::optional<FirewallRuleString> ReadRule(std::string_view id);
  uint32_t WriteRule(std::string_view id, const FirewallRuleString& rule);
  uint32_t DeleteRule(std::string_view id);
  // The first free id of a rule named `name`: a hash of the name (ASCII case
  // ignored) and a count for further rules of that name, in GUID form.
  std::string NewRuleId(std::string_view name);
  // The rule string of a new rule of this Windows version.
  FirewallRuleString NewRule() const;
  plat::IRegistry& Registry() { return registry_; }

 private:
  void SeedRules();

  HostDb& db_;
  HostSystem& system_;
  HostServices& services_;
  const Profile& profile_;
  // The firewall's own view of the registry: it runs as the system.
  HostRegistry registry_;
  // Whether the firewall service runs, as of `serviceStamp_`: reading one
  // rule asks it for every property.
  bool serviceRunning_ = false;
  HostDb::Stamp serviceStamp_;
};

}  // namespace host
