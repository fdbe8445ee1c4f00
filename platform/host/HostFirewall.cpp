#include "platform/host/HostFirewall.h"

#include <cstdio>

#include "platform/WinError.h"
#include "platform/host/FirewallObjects.h"
#include "platform/text/Text.h"

namespace host {

using namespace plat;

namespace {

constexpr const char* kProfileFailuresMeta = "firewall_profile_failures";

// The rule-string version each Windows version writes.
std::string RuleVersionOf(const Profile& profile) {
  if (profile.major == 6 && profile.minor == 0) return "2.0";
  if (profile.major == 6 && profile.minor == 1) return "2.10";
  if (profile.major == 6 && profile.minor == 2) return "2.20";
  if (profile.major == 6) return "2.22";
  return "2.26";
}

}  // namespace

HostFirewall::HostFirewall(HostDb& db, HostSystem& system, HostServices& services, const Profile& profile,
                           const std::string& userSid)
    : db_(db), system_(system), services_(services), profile_(profile), registry_(db, profile, userSid, false) {}

uint32_t HostFirewall::CreateManager(std::shared_ptr<IFwMgr>* manager) {
  *manager = MakeManager(*this);
  return winerr::kSOk;
}

uint32_t HostFirewall::CreatePolicy2(std::shared_ptr<IFwPolicy2>* policy) {
  if (!HasRules()) return winerr::kRegdbEClassNotReg;
  *policy = MakePolicy2(*this);
  return winerr::kSOk;
}

uint32_t HostFirewall::CreateAuthorizedApplication(std::shared_ptr<IFwAuthorizedApplication>* application) {
  *application = MakeNewAuthorizedApplication(*this);
  return winerr::kSOk;
}

uint32_t HostFirewall::CreateOpenPort(std::shared_ptr<IFwOpenPort>* openPort) {
  *openPort = MakeNewOpenPort(*this);
  return winerr::kSOk;
}

uint32_t HostFirewall::CreateRule(std::shared_ptr<IFwRule>* rule) {
  if (!HasRules()) return winerr::kRegdbEClassNotReg;
  *rule = MakeNewRule(*this);
  return winerr::kSOk;
}

bool HostFirewall::HasRules() const { return profile_.major >= 6; }

std::string HostFirewall::ServiceName() const { return HasRules() ? "MpsSvc" : "SharedAccess"; }

uint32_t HostFirewall::Refusal(bool change) {
  if (const HostDb::Stamp stamp = db_.CurrentStamp(); !(stamp == serviceStamp_)) {
    const std::optional<ServiceRecord> service = services_.Find(ServiceName());
    serviceRunning_ = service && service->status.currentState == kServiceRunning;
    serviceStamp_ = stamp;
  }
  if (!serviceRunning_) return winerr::kHrFirewallServiceNotRunning;
  if (change && !system_.IsUserAnAdmin()) return winerr::kEAccessDenied;
  return winerr::kSOk;
}

bool HostFirewall::TakeProfileFailure() {
  const std::string knob = db_.Meta(kProfileFailuresMeta, "0");
  const int count = std::stoi(knob);
  if (count == 0) return false;
  if (count > 0) db_.SetMeta(kProfileFailuresMeta, std::to_string(count - 1));
  return true;
}

void HostFirewall::SetProfileFailures(int count) { db_.SetMeta(kProfileFailuresMeta, std::to_string(count)); }

std::optional<FirewallRuleString> HostFirewall::ReadRule(std::string_view id) {
  HKey key = kNullKey;
  if (Registry().OpenKey(kHkeyLocalMachine, kFirewallRulesKey, kKeyRead, &key) != 0) return std::nullopt;
  RegValue value;
  const uint32_t rc = Registry().QueryValue(key, id, &value);
  Registry().CloseKey(key);
  if (rc != 0) return std::nullopt;
  return FirewallRuleString::Parse(RegSzText(value.data));
}

uint32_t HostFirewall::WriteRule(std::string_view id, const FirewallRuleString& rule) {
  HKey key = kNullKey;
  bool created = false;
  if (Registry().CreateKey(kHkeyLocalMachine, kFirewallRulesKey, kKeyAllAccess, &key, &created) != 0) {
    return winerr::kEFail;
  }
  const uint32_t rc = Registry().SetValue(key, id, kRegSz, MakeRegSz(rule.Text()));
  Registry().CloseKey(key);
  return rc == 0 ? winerr::kSOk : winerr::kEFail;
}

uint32_t HostFirewall::DeleteRule(std::string_view id) {
  HKey key = kNullKey;
  if (Registry().OpenKey(kHkeyLocalMachine, kFirewallRulesKey, kKeyAllAccess, &key) != 0) return winerr::kEFail;
  const uint32_t rc = Registry().DeleteValue(key, id);
  Registry().CloseKey(key);
  return rc == 0 ? winerr::kSOk : winerr::kEFail;
}

std::string HostFirewall::NewRuleId(std::string_view name) {
  uint64_t hash = 14695981039346656037ull;  // 64-bit FNV-1a
  for (const char c : text::AsciiLower(name)) {
    hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211ull;
  }
  char id[40];
  for (uint32_t count = 0;; ++count) {
    std::snprintf(id, sizeof id, "{7A5E%04X-0000-4000-8000-%012llX}", count & 0xFFFF,
                  static_cast<unsigned long long>(hash & 0xFFFFFFFFFFFFull));
    if (!ReadRule(id) || count == 0xFFFF) return id;
  }
}

FirewallRuleString HostFirewall::NewRule() const {
  FirewallRuleString rule(RuleVersionOf(profile_));
  rule.Set("Action", "Allow");
  rule.Set("Active", "FALSE");
  rule.Set("Dir", "In");
  return rule;
}

std::vector<FirewallRuleRecord> HostFirewall::Rules() {
  std::vector<FirewallRuleRecord> rules;
  HKey key = kNullKey;
  if (Registry().OpenKey(kHkeyLocalMachine, kFirewallRulesKey, kKeyRead, &key) != 0) return rules;
  std::string id;
  RegValue value;
  for (uint32_t index = 0; Registry().EnumValue(key, index, &id, &value) == 0; ++index) {
    if (std::optional<FirewallRuleString> rule = FirewallRuleString::Parse(RegSzText(value.data))) {
      rules.push_back({id, *rule});
    }
  }
  Registry().CloseKey(key);
  return rules;
}

bool HostFirewall::SetRulesEnabled(std::string_view name, bool enabled) {
  bool found = false;
  for (FirewallRuleRecord& record : Rules()) {
    if (!text::EqualsNoCase(FirewallDisplayText(record.rule.First("Name")), name)) continue;
    record.rule.Set("Active", enabled ? "TRUE" : "FALSE");
    WriteRule(record.id, record.rule);
    found = true;
  }
  return found;
}

bool HostFirewall::DeleteRules(std::string_view name) {
  bool found = false;
  for (const FirewallRuleRecord& record : Rules()) {
    if (!text::EqualsNoCase(FirewallDisplayText(record.rule.First("Name")), name)) continue;
    DeleteRule(record.id);
    found = true;
  }
  return found;
}

void HostFirewall::SeedIfMissing() {
  if (!HasRules()) return;
  HKey key = kNullKey;
  if (Registry().OpenKey(kHkeyLocalMachine, kFirewallRulesKey, kKeyRead, &key) == 0) {
    Registry().CloseKey(key);
    return;
  }
  Transaction tx(db_);
  SeedRules();
  tx.Commit();
}

}  // namespace host
