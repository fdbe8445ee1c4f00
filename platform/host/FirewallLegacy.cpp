// The legacy family of the host's firewall: manager, local policy, current
// profile, ICMP settings, authorized applications, globally open ports and
// the three predefined services.
//
// Before Windows 6.0 they keep their own store, the standard profile's, in
// HKLM\<kFirewallPolicyKey>\StandardProfile:
//   IcmpSettings            AllowInboundEchoRequest  REG_DWORD 0 or 1
//   AuthorizedApplications\List   <image path> = "<image path>:<scope>:<Enabled|Disabled>:<name>"
//   GloballyOpenPorts\List        "<port>:<TCP|UDP>" = "<port>:<TCP|UDP>:<scope>:<Enabled|Disabled>:<name>"
//   Services\List           FileAndPrint|UPnP|RemoteDesktop = "<same>:<scope>:<Enabled|Disabled>:"
// where <scope> is "*", "LocalSubnet" or a list of addresses.
//
// From 6.0 on no caller changes the firewall through this family, so there
// it is a thin read-only view over the rules: inbound echo follows the
// file-and-printer-sharing echo rule, a service follows its rule group, and
// the application and port lists are empty; changes answer E_NOTIMPL.
#include <algorithm>
#include <functional>
#include <optional>

#include "platform/WinError.h"
#include "platform/host/FirewallObjects.h"
#include "platform/host/FirewallValues.h"
#include "platform/host/HostFirewall.h"
#include "platform/text/Text.h"

namespace host {

using namespace plat;

namespace {

constexpr uint32_t kENotImpl = 0x80004001;
const std::string kProfileKey = std::string(kFirewallPolicyKey) + "\\StandardProfile";
const std::string kApplicationsKey = kProfileKey + "\\AuthorizedApplications\\List";
const std::string kPortsKey = kProfileKey + "\\GloballyOpenPorts\\List";
const std::string kServicesKey = kProfileKey + "\\Services\\List";
const std::string kIcmpKey = kProfileKey + "\\IcmpSettings";

constexpr const char* kServiceNames[] = {"FileAndPrint", "UPnP", "RemoteDesktop"};
// The scope a predefined service has until it is first changed: file and
// printer sharing and UPnP only for the local subnet, remote desktop for all.
constexpr const char* kServiceDefaultScopes[] = {"LocalSubnet", "LocalSubnet", "*"};
constexpr const char* kServiceGroups[] = {"@FirewallAPI.dll,-28502", "@FirewallAPI.dll,-32752",
                                          "@FirewallAPI.dll,-28752"};

// One entry of a legacy list: its key (what the value is named after),
// scope text, state and name.
struct Entry {
  std::string head;
  std::string scope = "*";
  bool enabled = true;
  std::string name;

  std::string Text() const { return head + ":" + scope + ":" + (enabled ? "Enabled" : "Disabled") + ":" + name; }
  // Null when `data` is not `head`, a scope, a state and a name. The first
  // state word after the head ends the scope, so neither an IPv6 scope nor a
  // name with colons is cut at the wrong place.
  static std::optional<Entry> Parse(std::string_view head, std::string_view data) {
    if (data.size() <= head.size() || !text::StartsWithNoCase(data, head) || data[head.size()] != ':') {
      return std::nullopt;
    }
    const std::string_view rest = data.substr(head.size());
    const size_t enabled = rest.find(":Enabled:"), disabled = rest.find(":Disabled:");
    const size_t state = std::min(enabled, disabled);
    if (state == std::string_view::npos || state == 0) return std::nullopt;
    const size_t nameStart = state + (state == enabled ? 9 : 10);
    return Entry{std::string(head), std::string(rest.substr(1, state - 1)), state == enabled,
                 std::string(rest.substr(nameStart))};
  }
};

int32_t ScopeOf(std::string_view scope) {
  if (scope == "*") return kFwScopeAll;
  return text::EqualsNoCase(scope, "LocalSubnet") ? kFwScopeLocalSubnet : kFwScopeCustom;
}

// The store of one legacy list under HKLM.
class LegacyList {
 public:
  LegacyList(HostFirewall& firewall, std::string key) : firewall_(firewall), key_(std::move(key)) {}

  std::optional<Entry> Read(std::string_view head) {
    HKey key = kNullKey;
    if (firewall_.Registry().OpenKey(kHkeyLocalMachine, key_, kKeyRead, &key) != 0) return std::nullopt;
    RegValue value;
    std::string name;
    std::optional<Entry> entry;
    for (uint32_t i = 0; !entry && firewall_.Registry().EnumValue(key, i, &name, &value) == 0; ++i) {
      if (text::EqualsNoCase(name, head)) entry = Entry::Parse(name, RegSzText(value.data));
    }
    firewall_.Registry().CloseKey(key);
    return entry;
  }
  std::vector<Entry> All() {
    std::vector<Entry> entries;
    HKey key = kNullKey;
    if (firewall_.Registry().OpenKey(kHkeyLocalMachine, key_, kKeyRead, &key) != 0) return entries;
    RegValue value;
    std::string name;
    for (uint32_t i = 0; firewall_.Registry().EnumValue(key, i, &name, &value) == 0; ++i) {
      if (std::optional<Entry> entry = Entry::Parse(name, RegSzText(value.data))) entries.push_back(*entry);
    }
    firewall_.Registry().CloseKey(key);
    return entries;
  }
  uint32_t Write(const Entry& entry) {
    HKey key = kNullKey;
    bool created = false;
    if (firewall_.Registry().CreateKey(kHkeyLocalMachine, key_, kKeyAllAccess, &key, &created) != 0) {
      return winerr::kEFail;
    }
    const uint32_t rc = firewall_.Registry().SetValue(key, entry.head, kRegSz, MakeRegSz(entry.Text()));
    firewall_.Registry().CloseKey(key);
    return rc == 0 ? winerr::kSOk : winerr::kEFail;
  }
  uint32_t Delete(std::string_view head) {
    HKey key = kNullKey;
    if (firewall_.Registry().OpenKey(kHkeyLocalMachine, key_, kKeyAllAccess, &key) != 0) return winerr::kSOk;
    firewall_.Registry().DeleteValue(key, head);
    firewall_.Registry().CloseKey(key);
    return winerr::kSOk;
  }

 private:
  HostFirewall& firewall_;
  std::string key_;
};

// What the application, port and service objects share: an entry that is
// either the object's own (new) or a live view of the list's entry.
class LiveEntry {
 public:
  LiveEntry(HostFirewall& firewall, std::string listKey, Entry entry, bool attached)
      : firewall_(firewall), list_(firewall, std::move(listKey)), entry_(std::move(entry)), attached_(attached) {}

  const Entry& Current() {
    Refresh();
    return entry_;
  }
  void Attach(const Entry& entry) {
    entry_ = entry;
    attached_ = true;
  }

 protected:
  uint32_t Get(const std::function<void(const Entry&)>& read) {
    if (attached_) {
      if (uint32_t rc = firewall_.Refusal(false)) return rc;
    }
    Refresh();
    read(entry_);
    return winerr::kSOk;
  }
  uint32_t Change(const std::function<uint32_t(Entry&)>& change) {
    if (attached_) {
      if (uint32_t rc = firewall_.Refusal(true)) return rc;
      if (firewall_.HasRules()) return kENotImpl;
    }
    Refresh();
    Entry changed = entry_;
    if (uint32_t rc = change(changed)) return rc;
    if (attached_) {
      if (uint32_t rc = list_.Write(changed)) return rc;
    }
    entry_ = changed;
    return winerr::kSOk;
  }
  uint32_t GetName(std::string* name) {
    return Get([&](const Entry& e) { *name = e.name; });
  }
  uint32_t PutName(std::string_view name) {
    return Change([&](Entry& e) {
      e.name = name;
      return winerr::kSOk;
    });
  }
  uint32_t GetEnabled(bool* enabled) {
    return Get([&](const Entry& e) { *enabled = e.enabled; });
  }
  uint32_t PutEnabled(bool enabled) {
    return Change([&](Entry& e) {
      e.enabled = enabled;
      return winerr::kSOk;
    });
  }
  uint32_t GetRemoteAddresses(std::string* addresses) {
    return Get([&](const Entry& e) { *addresses = e.scope; });
  }
  uint32_t GetScope(int32_t* scope) {
    return Get([&](const Entry& e) { *scope = ScopeOf(e.scope); });
  }
  uint32_t PutScope(int32_t scope) {
    // A custom scope comes with its addresses (put_RemoteAddresses).
    if (scope != kFwScopeAll && scope != kFwScopeLocalSubnet) return winerr::kEInvalidArg;
    return Change([&](Entry& e) {
      e.scope = scope == kFwScopeAll ? "*" : "LocalSubnet";
      return winerr::kSOk;
    });
  }
  uint32_t PutRemoteAddresses(std::string_view addresses) {
    if (!IsFirewallAddressList(addresses)) return winerr::kEInvalidArg;
    return Change([&](Entry& e) {
      e.scope = CanonicalAddressList(addresses);
      return winerr::kSOk;
    });
  }

  HostFirewall& firewall_;

 private:
  void Refresh() {
    if (!attached_) return;
    if (std::optional<Entry> stored = list_.Read(entry_.head)) entry_ = *stored;
  }

  LegacyList list_;
  Entry entry_;
  bool attached_;
};

class HostApplication : public IFwAuthorizedApplication, public LiveEntry {
 public:
  HostApplication(HostFirewall& firewall, Entry entry, bool attached)
      : LiveEntry(firewall, kApplicationsKey, std::move(entry), attached) {}
  uint32_t GetName(std::string* name) override { return LiveEntry::GetName(name); }
  uint32_t PutName(std::string_view name) override { return LiveEntry::PutName(name); }
  uint32_t GetProcessImageFileName(std::string* path) override {
    return Get([&](const Entry& e) { *path = e.head; });
  }
  uint32_t PutProcessImageFileName(std::string_view path) override {
    if (path.empty()) return winerr::kEInvalidArg;
    return Change([&](Entry& e) {
      e.head = path;
      return winerr::kSOk;
    });
  }
  uint32_t GetEnabled(bool* enabled) override { return LiveEntry::GetEnabled(enabled); }
  uint32_t PutEnabled(bool enabled) override { return LiveEntry::PutEnabled(enabled); }
  uint32_t GetScope(int32_t* scope) override { return LiveEntry::GetScope(scope); }
  uint32_t PutScope(int32_t scope) override { return LiveEntry::PutScope(scope); }
  uint32_t GetRemoteAddresses(std::string* addresses) override { return LiveEntry::GetRemoteAddresses(addresses); }
  uint32_t PutRemoteAddresses(std::string_view addresses) override {
    return LiveEntry::PutRemoteAddresses(addresses);
  }
};

// "80:TCP", the key of an open port.
std::string PortHead(int32_t port, int32_t protocol) {
  return std::to_string(port) + ":" + (protocol == kFwIpProtocolUdp ? "UDP" : "TCP");
}

class HostOpenPort : public IFwOpenPort, public LiveEntry {
 public:
  HostOpenPort(HostFirewall& firewall, Entry entry, bool attached)
      : LiveEntry(firewall, kPortsKey, std::move(entry), attached) {}
  uint32_t GetName(std::string* name) override { return LiveEntry::GetName(name); }
  uint32_t PutName(std::string_view name) override { return LiveEntry::PutName(name); }
  uint32_t GetPort(int32_t* port) override {
    return Get([&](const Entry& e) { *port = PortOf(e); });
  }
  uint32_t PutPort(int32_t port) override {
    if (port < 1 || port > 65535) return winerr::kEInvalidArg;
    return Change([&](Entry& e) {
      e.head = PortHead(port, ProtocolOf(e));
      return winerr::kSOk;
    });
  }
  uint32_t GetProtocol(int32_t* protocol) override {
    return Get([&](const Entry& e) { *protocol = ProtocolOf(e); });
  }
  uint32_t PutProtocol(int32_t protocol) override {
    if (protocol != kFwIpProtocolTcp && protocol != kFwIpProtocolUdp) return winerr::kEInvalidArg;
    return Change([&](Entry& e) {
      e.head = PortHead(PortOf(e), protocol);
      return winerr::kSOk;
    });
  }
  uint32_t GetIpVersion(int32_t* version) override {
    *version = kFwIpVersionAny;
    return winerr::kSOk;
  }
  uint32_t PutIpVersion(int32_t version) override {
    return version >= kFwIpVersionV4 && version <= kFwIpVersionAny ? winerr::kSOk : winerr::kEInvalidArg;
  }
  uint32_t GetEnabled(bool* enabled) override { return LiveEntry::GetEnabled(enabled); }
  uint32_t PutEnabled(bool enabled) override { return LiveEntry::PutEnabled(enabled); }
  uint32_t GetScope(int32_t* scope) override { return LiveEntry::GetScope(scope); }
  uint32_t PutScope(int32_t scope) override { return LiveEntry::PutScope(scope); }
  uint32_t GetRemoteAddresses(std::string* addresses) override { return LiveEntry::GetRemoteAddresses(addresses); }
  uint32_t PutRemoteAddresses(std::string_view addresses) override {
    return LiveEntry::PutRemoteAddresses(addresses);
  }

 private:
  static int32_t PortOf(const Entry& e) { return FirewallNumber(e.head.substr(0, e.head.find(':')), 65535, 0); }
  static int32_t ProtocolOf(const Entry& e) {
    return e.head.ends_with(":UDP") ? kFwIpProtocolUdp : kFwIpProtocolTcp;
  }
};

// Whether any rule of `group` is enabled (the view from 6.0 on).
bool GroupEnabled(HostFirewall& firewall, std::string_view group) {
  const std::vector<FirewallRuleRecord> rules = firewall.Rules();
  return std::any_of(rules.begin(), rules.end(), [group](const FirewallRuleRecord& r) {
    return r.rule.First("EmbedCtxt") == group && r.rule.First("Active") == "TRUE";
  });
}

class HostService : public IFwService, public LiveEntry {
 public:
  HostService(HostFirewall& firewall, int32_t type)
      : LiveEntry(firewall, kServicesKey, Entry{kServiceNames[type], kServiceDefaultScopes[type], false, ""}, true), type_(type) {}
  uint32_t GetType(int32_t* type) override {
    *type = type_;
    return winerr::kSOk;
  }
  uint32_t GetEnabled(bool* enabled) override {
    return Get([&](const Entry& e) {
      *enabled = firewall_.HasRules() ? GroupEnabled(firewall_, kServiceGroups[type_]) : e.enabled;
    });
  }
  uint32_t PutEnabled(bool enabled) override { return LiveEntry::PutEnabled(enabled); }
  uint32_t GetScope(int32_t* scope) override { return LiveEntry::GetScope(scope); }
  uint32_t PutScope(int32_t scope) override { return LiveEntry::PutScope(scope); }
  uint32_t GetRemoteAddresses(std::string* addresses) override { return LiveEntry::GetRemoteAddresses(addresses); }
  uint32_t PutRemoteAddresses(std::string_view addresses) override {
    return LiveEntry::PutRemoteAddresses(addresses);
  }

 private:
  int32_t type_;
};

// What the application and port collections share: their list and the
// objects they hand out for its entries.
template <typename Interface, typename Object>
class LegacyCollection {
 protected:
  LegacyCollection(HostFirewall& firewall, const std::string& key) : firewall_(firewall), list_(firewall, key) {}

  uint32_t CountEntries(int32_t* count) {
    if (uint32_t rc = firewall_.Refusal(false)) return rc;
    *count = static_cast<int32_t>(list_.All().size());
    return winerr::kSOk;
  }
  uint32_t EnumerateEntries(std::vector<std::shared_ptr<Interface>>* objects) {
    if (uint32_t rc = firewall_.Refusal(false)) return rc;
    objects->clear();
    for (Entry& entry : list_.All()) objects->push_back(std::make_shared<Object>(firewall_, entry, true));
    return winerr::kSOk;
  }
  uint32_t ItemOf(std::string_view head, std::shared_ptr<Interface>* object) {
    if (uint32_t rc = firewall_.Refusal(false)) return rc;
    std::optional<Entry> entry = list_.Read(head);
    if (!entry) return winerr::kHrFileNotFound;
    *object = std::make_shared<Object>(firewall_, *entry, true);
    return winerr::kSOk;
  }
  // Adds (or replaces) the entry of a complete object, which then is live.
  uint32_t AddObject(const std::shared_ptr<Interface>& object, const std::function<bool(const Entry&)>& isComplete) {
    if (uint32_t rc = firewall_.Refusal(true)) return rc;
    if (firewall_.HasRules()) return kENotImpl;
    auto* own = dynamic_cast<Object*>(object.get());
    if (!own) return winerr::kEInvalidArg;
    const Entry entry = own->Current();
    if (!isComplete(entry)) return winerr::kEInvalidArg;
    if (uint32_t rc = list_.Write(entry)) return rc;
    own->Attach(entry);
    return winerr::kSOk;
  }
  uint32_t RemoveEntry(std::string_view head) {
    if (uint32_t rc = firewall_.Refusal(true)) return rc;
    return firewall_.HasRules() ? kENotImpl : list_.Delete(head);
  }

 private:
  HostFirewall& firewall_;
  LegacyList list_;
};

class HostApplications : public IFwAuthorizedApplications,
                         LegacyCollection<IFwAuthorizedApplication, HostApplication> {
 public:
  explicit HostApplications(HostFirewall& firewall) : LegacyCollection(firewall, kApplicationsKey) {}
  uint32_t Count(int32_t* count) override { return CountEntries(count); }
  uint32_t Enumerate(std::vector<std::shared_ptr<IFwAuthorizedApplication>>* applications) override {
    return EnumerateEntries(applications);
  }
  uint32_t Item(std::string_view imagePath, std::shared_ptr<IFwAuthorizedApplication>* application) override {
    return ItemOf(imagePath, application);
  }
  uint32_t Add(const std::shared_ptr<IFwAuthorizedApplication>& application) override {
    return AddObject(application, [](const Entry& e) { return !e.head.empty() && !e.name.empty(); });
  }
  uint32_t Remove(std::string_view imagePath) override { return RemoveEntry(imagePath); }
};

class HostOpenPorts : public IFwOpenPorts, LegacyCollection<IFwOpenPort, HostOpenPort> {
 public:
  explicit HostOpenPorts(HostFirewall& firewall) : LegacyCollection(firewall, kPortsKey) {}
  uint32_t Count(int32_t* count) override { return CountEntries(count); }
  uint32_t Enumerate(std::vector<std::shared_ptr<IFwOpenPort>>* ports) override { return EnumerateEntries(ports); }
  uint32_t Item(int32_t port, int32_t protocol, std::shared_ptr<IFwOpenPort>* openPort) override {
    return ItemOf(PortHead(port, protocol), openPort);
  }
  uint32_t Add(const std::shared_ptr<IFwOpenPort>& openPort) override {
    return AddObject(openPort, [](const Entry& e) { return !e.head.starts_with("0:") && !e.name.empty(); });
  }
  uint32_t Remove(int32_t port, int32_t protocol) override { return RemoveEntry(PortHead(port, protocol)); }
};

class HostServicesList : public IFwServices {
 public:
  explicit HostServicesList(HostFirewall& firewall) : firewall_(firewall) {}
  uint32_t Count(int32_t* count) override {
    if (uint32_t rc = firewall_.Refusal(false)) return rc;
    *count = 3;
    return winerr::kSOk;
  }
  uint32_t Item(int32_t type, std::shared_ptr<IFwService>* service) override {
    if (uint32_t rc = firewall_.Refusal(false)) return rc;
    if (type < kFwServiceFileAndPrint || type > kFwServiceRemoteDesktop) return winerr::kEInvalidArg;
    *service = std::make_shared<HostService>(firewall_, type);
    return winerr::kSOk;
  }

 private:
  HostFirewall& firewall_;
};

bool StoredInboundEcho(IRegistry& registry) {
  HKey key = kNullKey;
  bool allow = false;
  if (registry.OpenKey(kHkeyLocalMachine, kIcmpKey, kKeyRead, &key) == 0) {
    RegValue value;
    if (registry.QueryValue(key, "AllowInboundEchoRequest", &value) == 0) allow = RegDwordValue(value.data) != 0;
    registry.CloseKey(key);
  }
  return allow;
}

class HostIcmpSettings : public IFwIcmpSettings {
 public:
  explicit HostIcmpSettings(HostFirewall& firewall) : firewall_(firewall) {}
  uint32_t GetAllowInboundEchoRequest(bool* allow) override {
    if (uint32_t rc = firewall_.Refusal(false)) return rc;
    if (firewall_.HasRules()) {
      const std::optional<FirewallRuleString> rule = firewall_.ReadRule("FPS-ICMP4-ERQ-In");
      *allow = rule && rule->First("Active") == "TRUE";
      return winerr::kSOk;
    }
    *allow = StoredInboundEcho(firewall_.Registry());
    return winerr::kSOk;
  }
  uint32_t PutAllowInboundEchoRequest(bool allow) override {
    if (uint32_t rc = firewall_.Refusal(true)) return rc;
    if (firewall_.HasRules()) return kENotImpl;
    HKey key = kNullKey;
    bool created = false;
    if (firewall_.Registry().CreateKey(kHkeyLocalMachine, kIcmpKey, kKeyAllAccess, &key, &created) != 0) {
      return winerr::kEFail;
    }
    const uint32_t rc =
        firewall_.Registry().SetValue(key, "AllowInboundEchoRequest", kRegDword, MakeRegDword(allow ? 1 : 0));
    firewall_.Registry().CloseKey(key);
    return rc == 0 ? winerr::kSOk : winerr::kEFail;
  }

 private:
  HostFirewall& firewall_;
};

class HostProfile : public IFwProfile {
 public:
  explicit HostProfile(HostFirewall& firewall) : firewall_(firewall) {}
  uint32_t GetIcmpSettings(std::shared_ptr<IFwIcmpSettings>* settings) override {
    return Hand(settings, std::make_shared<HostIcmpSettings>(firewall_));
  }
  uint32_t GetAuthorizedApplications(std::shared_ptr<IFwAuthorizedApplications>* applications) override {
    return Hand(applications, std::make_shared<HostApplications>(firewall_));
  }
  uint32_t GetGloballyOpenPorts(std::shared_ptr<IFwOpenPorts>* ports) override {
    return Hand(ports, std::make_shared<HostOpenPorts>(firewall_));
  }
  uint32_t GetServices(std::shared_ptr<IFwServices>* services) override {
    return Hand(services, std::make_shared<HostServicesList>(firewall_));
  }

 private:
  template <typename T, typename Made>
  uint32_t Hand(std::shared_ptr<T>* out, std::shared_ptr<Made> made) {
    if (uint32_t rc = firewall_.Refusal(false)) return rc;
    *out = std::move(made);
    return winerr::kSOk;
  }

  HostFirewall& firewall_;
};

class HostPolicy : public IFwPolicy {
 public:
  explicit HostPolicy(HostFirewall& firewall) : firewall_(firewall) {}
  uint32_t GetCurrentProfile(std::shared_ptr<IFwProfile>* profile) override {
    if (uint32_t rc = firewall_.Refusal(false)) return rc;
    if (firewall_.TakeProfileFailure()) return winerr::kEFail;
    *profile = std::make_shared<HostProfile>(firewall_);
    return winerr::kSOk;
  }

 private:
  HostFirewall& firewall_;
};

class HostManager : public IFwMgr {
 public:
  explicit HostManager(HostFirewall& firewall) : firewall_(firewall) {}
  uint32_t GetLocalPolicy(std::shared_ptr<IFwPolicy>* policy) override {
    if (uint32_t rc = firewall_.Refusal(false)) return rc;
    *policy = std::make_shared<HostPolicy>(firewall_);
    return winerr::kSOk;
  }

 private:
  HostFirewall& firewall_;
};

}  // namespace

FirewallLegacyState HostFirewall::LegacyState() {
  FirewallLegacyState state;
  state.inboundEcho = StoredInboundEcho(Registry());
  for (const auto& [list, key] : {std::pair{"application", kApplicationsKey}, std::pair{"port", kPortsKey},
                                  std::pair{"service", kServicesKey}}) {
    for (const Entry& e : LegacyList(*this, key).All()) state.entries.push_back({list, e.head, e.scope, e.enabled, e.name});
  }
  return state;
}

std::shared_ptr<IFwMgr> MakeManager(HostFirewall& firewall) { return std::make_shared<HostManager>(firewall); }

std::shared_ptr<IFwAuthorizedApplication> MakeNewAuthorizedApplication(HostFirewall& firewall) {
  return std::make_shared<HostApplication>(firewall, Entry{"", "*", true, ""}, false);
}

std::shared_ptr<IFwOpenPort> MakeNewOpenPort(HostFirewall& firewall) {
  return std::make_shared<HostOpenPort>(firewall, Entry{"0:TCP", "*", true, ""}, false);
}

}  // namespace host
