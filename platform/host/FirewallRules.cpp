// The rules family of the host's firewall: INetFwRule, INetFwRules and
// INetFwPolicy2 over the rule strings HostFirewall keeps. A rule object is
// either new (its rule string lives in the object) or taken from the
// collection (its rule string is re-read from the store on every call and
// every change is written back at once).
#include <algorithm>
#include <functional>

#include "platform/WinError.h"
#include "platform/host/FirewallObjects.h"
#include "platform/host/FirewallValues.h"
#include "platform/host/HostFirewall.h"
#include "platform/text/Text.h"

namespace host {

using namespace plat;

namespace {

std::string Joined(const std::vector<std::string>& items) {
  std::string list;
  for (const std::string& item : items) list += (list.empty() ? "" : ",") + item;
  return list;
}

bool IsPortProtocol(int32_t protocol) { return protocol == kFwIpProtocolTcp || protocol == kFwIpProtocolUdp; }
bool IsIcmpProtocol(int32_t protocol) { return protocol == kFwIpProtocolIcmp4 || protocol == kFwIpProtocolIcmp6; }

int32_t ProtocolOf(const FirewallRuleString& rule) {
  return FirewallNumber(rule.First("Protocol"), kFwIpProtocolAny, kFwIpProtocolAny);
}
const char* IcmpKeyOf(int32_t protocol) { return protocol == kFwIpProtocolIcmp6 ? "ICMP6" : "ICMP4"; }

constexpr std::pair<int32_t, const char*> kProfileNames[] = {
    {kFwProfile2Domain, "Domain"}, {kFwProfile2Private, "Private"}, {kFwProfile2Public, "Public"}};

int32_t ProfilesOf(const FirewallRuleString& rule) {
  const std::vector<std::string> names = rule.All("Profile");
  if (names.empty()) return kFwProfile2All;
  int32_t mask = 0;
  for (const auto& [bit, name] : kProfileNames) {
    if (std::find(names.begin(), names.end(), name) != names.end()) mask |= bit;
  }
  return mask;
}

// An address list as the two fields of the families hold it: keywords go to
// both, IPv6 items to the second, the rest to the first.
void SetAddresses(FirewallRuleString& rule, const char* key4, const char* key6, std::string_view list) {
  std::vector<std::string> v4, v6;
  if (list != "*") {
    for (const std::string& item : FirewallListItems(CanonicalAddressList(list))) {
      if (IsAddressKeyword(item) || !IsIpv6AddressItem(item)) v4.push_back(item);
      if (IsAddressKeyword(item) || IsIpv6AddressItem(item)) v6.push_back(item);
    }
  }
  rule.Set(key4, v4);
  rule.Set(key6, v6);
}

std::string AddressesOf(const FirewallRuleString& rule, const char* key4, const char* key6) {
  std::vector<std::string> items = rule.All(key4);
  for (const std::string& item : rule.All(key6)) {
    if (std::find(items.begin(), items.end(), item) == items.end()) items.push_back(item);
  }
  return items.empty() ? "*" : Joined(items);
}

std::string PortsOf(const FirewallRuleString& rule, const char* key) {
  if (!IsPortProtocol(ProtocolOf(rule))) return "";
  const std::vector<std::string> ports = rule.All(key);
  return ports.empty() ? "*" : Joined(ports);
}

uint32_t SetText(FirewallRuleString& rule, const char* key, std::string_view value) {
  if (value.empty()) {
    rule.Remove(key);
  } else {
    rule.Set(key, value);
  }
  return winerr::kSOk;
}

uint32_t SetPorts(FirewallRuleString& rule, const char* key, std::string_view ports) {
  if (!IsPortProtocol(ProtocolOf(rule)) || !IsFirewallPortList(ports)) return winerr::kEInvalidArg;
  rule.Set(key, ports == "*" ? std::vector<std::string>{} : FirewallListItems(ports));
  return winerr::kSOk;
}

uint32_t SetProtocol(FirewallRuleString& rule, int32_t protocol) {
  if (protocol < 0 || protocol > kFwIpProtocolAny) return winerr::kEInvalidArg;
  const bool hasPorts = rule.Has("LPort") || rule.Has("RPort");
  const bool hasIcmp = rule.Has("ICMP4") || rule.Has("ICMP6");
  if ((hasPorts && !IsPortProtocol(protocol)) || (hasIcmp && protocol != ProtocolOf(rule))) {
    return winerr::kEInvalidArg;
  }
  return SetText(rule, "Protocol", protocol == kFwIpProtocolAny ? "" : std::to_string(protocol));
}

uint32_t SetIcmp(FirewallRuleString& rule, std::string_view icmp) {
  const int32_t protocol = ProtocolOf(rule);
  if (!IsIcmpProtocol(protocol) || !IsIcmpTypesAndCodes(icmp)) return winerr::kEInvalidArg;
  rule.Set(IcmpKeyOf(protocol), icmp == "*" ? std::vector<std::string>{} : FirewallListItems(icmp));
  return winerr::kSOk;
}

std::string IcmpOf(const FirewallRuleString& rule) {
  const int32_t protocol = ProtocolOf(rule);
  if (!IsIcmpProtocol(protocol)) return "";
  const std::vector<std::string> items = rule.All(IcmpKeyOf(protocol));
  return items.empty() ? "*" : Joined(items);
}

uint32_t SetProfiles(FirewallRuleString& rule, int32_t profiles) {
  if (!IsProfileMask(profiles)) return winerr::kEInvalidArg;
  std::vector<std::string> names;
  if (profiles != kFwProfile2All) {
    for (const auto& [bit, name] : kProfileNames) {
      if (profiles & bit) names.emplace_back(name);
    }
  }
  rule.Set("Profile", names);
  return winerr::kSOk;
}

bool IsRuleName(std::string_view name) {
  return !name.empty() && name.find('|') == std::string_view::npos && !text::EqualsNoCase(name, "all");
}

class HostRule : public IFwRule {
 public:
  HostRule(HostFirewall& firewall, FirewallRuleString rule, std::string id = {})
      : firewall_(firewall), rule_(std::move(rule)), id_(std::move(id)) {}

  uint32_t GetName(std::string* name) override {
    return Get([&](const FirewallRuleString& r) { *name = FirewallDisplayText(r.First("Name")); });
  }
  uint32_t PutName(std::string_view name) override {
    return Change([&](FirewallRuleString& r) { return IsRuleName(name) ? SetText(r, "Name", name) : winerr::kEInvalidArg; });
  }
  uint32_t GetDescription(std::string* description) override {
    return Get([&](const FirewallRuleString& r) { *description = FirewallDisplayText(r.First("Desc")); });
  }
  uint32_t PutDescription(std::string_view description) override {
    return Change([&](FirewallRuleString& r) {
      return description.find('|') == std::string_view::npos ? SetText(r, "Desc", description) : winerr::kEInvalidArg;
    });
  }
  uint32_t GetApplicationName(std::string* path) override {
    return Get([&](const FirewallRuleString& r) { *path = r.First("App"); });
  }
  uint32_t PutApplicationName(std::string_view path) override {
    return Change([&](FirewallRuleString& r) { return SetText(r, "App", path); });
  }
  uint32_t GetServiceName(std::string* name) override {
    return Get([&](const FirewallRuleString& r) { *name = r.First("Svc"); });
  }
  uint32_t PutServiceName(std::string_view name) override {
    return Change([&](FirewallRuleString& r) { return SetText(r, "Svc", name); });
  }
  uint32_t GetProtocol(int32_t* protocol) override {
    return Get([&](const FirewallRuleString& r) { *protocol = ProtocolOf(r); });
  }
  uint32_t PutProtocol(int32_t protocol) override {
    return Change([&](FirewallRuleString& r) { return SetProtocol(r, protocol); });
  }
  uint32_t GetLocalPorts(std::string* ports) override {
    return Get([&](const FirewallRuleString& r) { *ports = PortsOf(r, "LPort"); });
  }
  uint32_t PutLocalPorts(std::string_view ports) override {
    return Change([&](FirewallRuleString& r) { return SetPorts(r, "LPort", ports); });
  }
  uint32_t GetRemotePorts(std::string* ports) override {
    return Get([&](const FirewallRuleString& r) { *ports = PortsOf(r, "RPort"); });
  }
  uint32_t PutRemotePorts(std::string_view ports) override {
    return Change([&](FirewallRuleString& r) { return SetPorts(r, "RPort", ports); });
  }
  uint32_t GetLocalAddresses(std::string* addresses) override {
    return Get([&](const FirewallRuleString& r) { *addresses = AddressesOf(r, "LA4", "LA6"); });
  }
  uint32_t PutLocalAddresses(std::string_view addresses) override { return PutAddresses("LA4", "LA6", addresses); }
  uint32_t GetRemoteAddresses(std::string* addresses) override {
    return Get([&](const FirewallRuleString& r) { *addresses = AddressesOf(r, "RA4", "RA6"); });
  }
  uint32_t PutRemoteAddresses(std::string_view addresses) override { return PutAddresses("RA4", "RA6", addresses); }
  uint32_t GetIcmpTypesAndCodes(std::string* icmp) override {
    return Get([&](const FirewallRuleString& r) { *icmp = IcmpOf(r); });
  }
  uint32_t PutIcmpTypesAndCodes(std::string_view icmp) override {
    return Change([&](FirewallRuleString& r) { return SetIcmp(r, icmp); });
  }
  uint32_t GetDirection(int32_t* direction) override {
    return Get([&](const FirewallRuleString& r) { *direction = r.First("Dir") == "Out" ? kFwRuleDirOut : kFwRuleDirIn; });
  }
  uint32_t PutDirection(int32_t direction) override {
    if (direction != kFwRuleDirIn && direction != kFwRuleDirOut) return winerr::kEInvalidArg;
    return Change([&](FirewallRuleString& r) { return SetText(r, "Dir", direction == kFwRuleDirOut ? "Out" : "In"); });
  }
  uint32_t GetInterfaceTypes(std::string* types) override {
    return Get([&](const FirewallRuleString& r) {
      const std::vector<std::string> items = r.All("IFType");
      *types = items.empty() ? "All" : Joined(items);
    });
  }
  uint32_t PutInterfaceTypes(std::string_view types) override {
    if (!IsInterfaceTypeList(types)) return winerr::kEInvalidArg;
    return Change([&](FirewallRuleString& r) {
      const bool all = text::EqualsNoCase(types, "All");
      r.Set("IFType", all ? std::vector<std::string>{} : FirewallListItems(types));
      return winerr::kSOk;
    });
  }
  uint32_t GetEnabled(bool* enabled) override {
    return Get([&](const FirewallRuleString& r) { *enabled = r.First("Active") == "TRUE"; });
  }
  uint32_t PutEnabled(bool enabled) override {
    return Change([&](FirewallRuleString& r) { return SetText(r, "Active", enabled ? "TRUE" : "FALSE"); });
  }
  uint32_t GetGrouping(std::string* group) override {
    return Get([&](const FirewallRuleString& r) { *group = r.First("EmbedCtxt"); });
  }
  uint32_t PutGrouping(std::string_view group) override {
    return Change([&](FirewallRuleString& r) { return SetText(r, "EmbedCtxt", group); });
  }
  uint32_t GetProfiles(int32_t* profiles) override {
    return Get([&](const FirewallRuleString& r) { *profiles = ProfilesOf(r); });
  }
  uint32_t PutProfiles(int32_t profiles) override {
    return Change([&](FirewallRuleString& r) { return SetProfiles(r, profiles); });
  }
  uint32_t GetEdgeTraversal(bool* allowed) override {
    return Get([&](const FirewallRuleString& r) { *allowed = r.First("Edge") == "TRUE"; });
  }
  uint32_t PutEdgeTraversal(bool allowed) override {
    return Change([&](FirewallRuleString& r) { return SetText(r, "Edge", allowed ? "TRUE" : ""); });
  }
  uint32_t GetAction(int32_t* action) override {
    return Get([&](const FirewallRuleString& r) { *action = r.First("Action") == "Block" ? kFwActionBlock : kFwActionAllow; });
  }
  uint32_t PutAction(int32_t action) override {
    if (action != kFwActionAllow && action != kFwActionBlock) return winerr::kEInvalidArg;
    return Change([&](FirewallRuleString& r) { return SetText(r, "Action", action == kFwActionBlock ? "Block" : "Allow"); });
  }

  // The collection's side: the rule string as it stands, and where it went.
  const FirewallRuleString& Current() {
    Refresh();
    return rule_;
  }
  const std::string& Id() const { return id_; }
  void Attach(std::string id) { id_ = std::move(id); }

 private:
  // A rule of the collection answers what the store holds now.
  void Refresh() {
    if (id_.empty()) return;
    if (std::optional<FirewallRuleString> stored = firewall_.ReadRule(id_)) rule_ = *stored;
  }

  uint32_t Get(const std::function<void(const FirewallRuleString&)>& read) {
    if (!id_.empty()) {
      if (uint32_t rc = firewall_.Refusal(false)) return rc;
    }
    Refresh();
    read(rule_);
    return winerr::kSOk;
  }

  uint32_t Change(const std::function<uint32_t(FirewallRuleString&)>& change) {
    if (!id_.empty()) {
      if (uint32_t rc = firewall_.Refusal(true)) return rc;
    }
    Refresh();
    FirewallRuleString changed = rule_;
    if (uint32_t rc = change(changed)) return rc;
    if (!id_.empty()) {
      if (uint32_t rc = firewall_.WriteRule(id_, changed)) return rc;
    }
    rule_ = changed;
    return winerr::kSOk;
  }

  uint32_t PutAddresses(const char* key4, const char* key6, std::string_view addresses) {
    if (!IsFirewallAddressList(addresses)) return winerr::kEInvalidArg;
    return Change([&](FirewallRuleString& r) {
      SetAddresses(r, key4, key6, addresses);
      return winerr::kSOk;
    });
  }

  HostFirewall& firewall_;
  FirewallRuleString rule_;
  std::string id_;  // empty while the rule is not in the collection
};

class HostRules : public IFwRules {
 public:
  explicit HostRules(HostFirewall& firewall) : firewall_(firewall) {}

  uint32_t Count(int32_t* count) override {
    if (uint32_t rc = firewall_.Refusal(false)) return rc;
    *count = static_cast<int32_t>(firewall_.Rules().size());
    return winerr::kSOk;
  }
  uint32_t Enumerate(std::vector<std::shared_ptr<IFwRule>>* rules) override {
    if (uint32_t rc = firewall_.Refusal(false)) return rc;
    rules->clear();
    for (FirewallRuleRecord& record : firewall_.Rules()) {
      rules->push_back(std::make_shared<HostRule>(firewall_, std::move(record.rule), record.id));
    }
    return winerr::kSOk;
  }
  uint32_t Item(std::string_view name, std::shared_ptr<IFwRule>* rule) override {
    if (uint32_t rc = firewall_.Refusal(false)) return rc;
    std::optional<FirewallRuleRecord> found = FirstNamed(name);
    if (!found) return winerr::kHrFileNotFound;
    *rule = std::make_shared<HostRule>(firewall_, std::move(found->rule), found->id);
    return winerr::kSOk;
  }
  uint32_t Add(const std::shared_ptr<IFwRule>& rule) override {
    if (uint32_t rc = firewall_.Refusal(true)) return rc;
    auto* hostRule = dynamic_cast<HostRule*>(rule.get());
    if (!hostRule) return winerr::kEInvalidArg;
    const FirewallRuleString& current = hostRule->Current();
    if (!IsRuleName(current.First("Name"))) return winerr::kEInvalidArg;
    // An object already in the collection overwrites its own rule.
    const std::string id = hostRule->Id().empty() ? firewall_.NewRuleId(current.First("Name")) : hostRule->Id();
    if (uint32_t rc = firewall_.WriteRule(id, current)) return rc;
    hostRule->Attach(id);
    return winerr::kSOk;
  }
  uint32_t Remove(std::string_view name) override {
    if (uint32_t rc = firewall_.Refusal(true)) return rc;
    std::optional<FirewallRuleRecord> found = FirstNamed(name);
    return found ? firewall_.DeleteRule(found->id) : winerr::kSOk;
  }

 private:
  std::optional<FirewallRuleRecord> FirstNamed(std::string_view name) {
    for (FirewallRuleRecord& record : firewall_.Rules()) {
      if (text::EqualsNoCase(FirewallDisplayText(record.rule.First("Name")), name)) return std::move(record);
    }
    return std::nullopt;
  }

  HostFirewall& firewall_;
};

class HostPolicy2 : public IFwPolicy2 {
 public:
  explicit HostPolicy2(HostFirewall& firewall) : firewall_(firewall), rules_(std::make_shared<HostRules>(firewall)) {}

  uint32_t GetRules(std::shared_ptr<IFwRules>* rules) override {
    if (uint32_t rc = firewall_.Refusal(false)) return rc;
    *rules = rules_;
    return winerr::kSOk;
  }
  uint32_t EnableRuleGroup(int32_t profileMask, std::string_view group, bool enable) override {
    if (uint32_t rc = firewall_.Refusal(true)) return rc;
    if (group.empty()) return winerr::kEInvalidArg;
    bool found = false;
    for (FirewallRuleRecord& record : firewall_.Rules()) {
      const std::string ruleGroup = record.rule.First("EmbedCtxt");
      if (ruleGroup.empty() ||
          !(text::EqualsNoCase(ruleGroup, group) || text::EqualsNoCase(FirewallDisplayText(ruleGroup), group))) {
        continue;
      }
      found = true;
      if ((ProfilesOf(record.rule) & profileMask) == 0) continue;
      record.rule.Set("Active", enable ? "TRUE" : "FALSE");
      if (uint32_t rc = firewall_.WriteRule(record.id, record.rule)) return rc;
    }
    return found ? winerr::kSOk : winerr::kSFalse;
  }

 private:
  HostFirewall& firewall_;
  // The same collection on every call, as Windows hands out.
  std::shared_ptr<HostRules> rules_;
};

}  // namespace

std::shared_ptr<IFwRule> MakeNewRule(HostFirewall& firewall) {
  return std::make_shared<HostRule>(firewall, firewall.NewRule());
}

std::shared_ptr<IFwRule> MakeRuleView(HostFirewall& firewall, FirewallRuleString rule) {
  return std::make_shared<HostRule>(firewall, std::move(rule));
}

std::shared_ptr<IFwPolicy2> MakePolicy2(HostFirewall& firewall) { return std::make_shared<HostPolicy2>(firewall); }

}  // namespace host
