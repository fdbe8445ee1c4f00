#include "platform/host/Token.h"

#include <algorithm>

#include "platform/WinError.h"
#include "platform/text/Text.h"

namespace host {
namespace {

constexpr PrivilegeDef kPrivileges[] = {
    {"SeCreateTokenPrivilege", 2},
    {"SeAssignPrimaryTokenPrivilege", 3},
    {"SeLockMemoryPrivilege", 4},
    {"SeIncreaseQuotaPrivilege", 5},
    {"SeMachineAccountPrivilege", 6},
    {"SeTcbPrivilege", 7},
    {"SeSecurityPrivilege", 8},
    {"SeTakeOwnershipPrivilege", 9},
    {"SeLoadDriverPrivilege", 10},
    {"SeSystemProfilePrivilege", 11},
    {"SeSystemtimePrivilege", 12},
    {"SeProfileSingleProcessPrivilege", 13},
    {"SeIncreaseBasePriorityPrivilege", 14},
    {"SeCreatePagefilePrivilege", 15},
    {"SeCreatePermanentPrivilege", 16},
    {"SeBackupPrivilege", 17},
    {"SeRestorePrivilege", 18},
    {"SeShutdownPrivilege", 19},
    {"SeDebugPrivilege", 20},
    {"SeAuditPrivilege", 21},
    {"SeSystemEnvironmentPrivilege", 22},
    {"SeChangeNotifyPrivilege", 23},
    {"SeRemoteShutdownPrivilege", 24},
    {"SeUndockPrivilege", 25},
    {"SeSyncAgentPrivilege", 26},
    {"SeEnableDelegationPrivilege", 27},
    {"SeManageVolumePrivilege", 28},
    {"SeImpersonatePrivilege", 29},
    {"SeCreateGlobalPrivilege", 30},
    {"SeTrustedCredManAccessPrivilege", 31},
    {"SeRelabelPrivilege", 32},
    {"SeIncreaseWorkingSetPrivilege", 33},
    {"SeTimeZonePrivilege", 34},
    {"SeCreateSymbolicLinkPrivilege", 35},
};

// Who holds a privilege: the user rights a workstation assigns by default.
enum Holder : uint8_t { kEveryone = 1, kUsers = 2, kAdmins = 4, kBackupOperators = 8 };

struct Assignment {
  const char* privilege;
  uint8_t holders;
  bool enabledByDefault;
  uint16_t since;
};

constexpr Assignment kAssignments[] = {
    {"SeChangeNotifyPrivilege", kEveryone, true, kAllVersions},
    {"SeShutdownPrivilege", kUsers | kAdmins | kBackupOperators, false, kAllVersions},
    {"SeUndockPrivilege", kUsers | kAdmins, false, kAllVersions},
    {"SeIncreaseWorkingSetPrivilege", kUsers, false, kNt60},
    {"SeTimeZonePrivilege", kUsers | kAdmins, false, kNt60},
    {"SeSecurityPrivilege", kAdmins, false, kAllVersions},
    {"SeBackupPrivilege", kAdmins | kBackupOperators, false, kAllVersions},
    {"SeRestorePrivilege", kAdmins | kBackupOperators, false, kAllVersions},
    {"SeSystemtimePrivilege", kAdmins, false, kAllVersions},
    {"SeTakeOwnershipPrivilege", kAdmins, false, kAllVersions},
    {"SeDebugPrivilege", kAdmins, false, kAllVersions},
    {"SeSystemEnvironmentPrivilege", kAdmins, false, kAllVersions},
    {"SeRemoteShutdownPrivilege", kAdmins, false, kAllVersions},
    {"SeLoadDriverPrivilege", kAdmins, false, kAllVersions},
    {"SeSystemProfilePrivilege", kAdmins, false, kAllVersions},
    {"SeProfileSingleProcessPrivilege", kAdmins, false, kAllVersions},
    {"SeIncreaseBasePriorityPrivilege", kAdmins, false, kAllVersions},
    {"SeCreatePagefilePrivilege", kAdmins, false, kAllVersions},
    {"SeIncreaseQuotaPrivilege", kAdmins, false, kAllVersions},
    {"SeManageVolumePrivilege", kAdmins, false, kAllVersions},
    {"SeImpersonatePrivilege", kAdmins, true, kAllVersions},
    {"SeCreateGlobalPrivilege", kAdmins, true, kAllVersions},
    {"SeCreateSymbolicLinkPrivilege", kAdmins, false, kNt60},
};

winsec::Sid ConsoleLogon() {
  winsec::Sid sid;
  const uint32_t subs[] = {1};
  winsec::Sid::Make(winsec::kLocalSidAuthority, subs, &sid);
  return sid;
}

winsec::Sid NtlmAuthentication() {
  winsec::Sid sid;
  const uint32_t subs[] = {64, 10};
  winsec::Sid::Make(winsec::kNtAuthority, subs, &sid);
  return sid;
}

void AddUnique(std::vector<winsec::Sid>* sids, const winsec::Sid& sid) {
  if (std::find(sids->begin(), sids->end(), sid) == sids->end()) sids->push_back(sid);
}

}  // namespace

std::span<const PrivilegeDef> AllPrivileges() { return kPrivileges; }

const PrivilegeDef* FindPrivilege(std::string_view name) {
  for (const PrivilegeDef& p : kPrivileges) {
    if (text::EqualsNoCase(p.name, name)) return &p;
  }
  return nullptr;
}

const PrivilegeDef* FindPrivilege(uint64_t luid) {
  for (const PrivilegeDef& p : kPrivileges) {
    if (p.luid == luid) return &p;
  }
  return nullptr;
}

Token Token::ForUser(AccountDirectory& accounts, const winsec::Sid& user) {
  Token token;
  token.user_ = user;
  const Profile& profile = accounts.ProfileDef();
  // The SIDs an interactive logon puts into every token (whoami /groups).
  std::vector<winsec::Sid> logon = {winsec::Sid::Everyone(), winsec::Sid::Interactive()};
  if (AvailableOn(kNt61, profile)) logon.push_back(ConsoleLogon());
  logon.push_back(winsec::Sid::AuthenticatedUsers());
  logon.push_back(winsec::Sid::Nt(15));  // This Organization
  logon.push_back(winsec::Sid::Local());
  logon.push_back(NtlmAuthentication());

  std::vector<winsec::Sid> globals;
  for (const Account& group : accounts.GroupsContaining({user}, AccountKind::kGroup)) globals.push_back(group.sid);
  // Local groups hold users, global groups and well-known SIDs, never other
  // local groups: one pass over all of them finds every alias of the token.
  std::vector<winsec::Sid> holders = {user};
  holders.insert(holders.end(), globals.begin(), globals.end());
  holders.insert(holders.end(), logon.begin(), logon.end());

  AddUnique(&token.groups_, winsec::Sid::Everyone());
  for (const winsec::Sid& sid : globals) AddUnique(&token.groups_, sid);
  for (const Account& alias : accounts.GroupsContaining(holders, AccountKind::kAlias)) {
    AddUnique(&token.groups_, alias.sid);
  }
  for (const winsec::Sid& sid : logon) AddUnique(&token.groups_, sid);

  token.GrantPrivileges(profile);
  return token;
}

void Token::GrantPrivileges(const Profile& profile) {
  uint8_t holders = kEveryone;
  if (HasSid(winsec::Sid::BuiltinUsers())) holders |= kUsers;
  if (IsAdministrator()) holders |= kAdmins;
  if (HasSid(winsec::Sid::Builtin(winsec::kAliasRidBackupOps))) holders |= kBackupOperators;
  for (const Assignment& a : kAssignments) {
    if (!(a.holders & holders) || !AvailableOn(a.since, profile)) continue;
    privileges_.push_back({FindPrivilege(a.privilege)->luid, a.enabledByDefault});
  }
}

bool Token::HasSid(const winsec::Sid& sid) const {
  return sid == user_ || std::find(groups_.begin(), groups_.end(), sid) != groups_.end();
}

bool Token::CanOwn(const winsec::Sid& sid) const {
  return sid == user_ || (IsAdministrator() && sid == winsec::Sid::BuiltinAdministrators());
}

bool Token::Holds(uint64_t luid) const {
  return std::any_of(privileges_.begin(), privileges_.end(), [&](const HeldPrivilege& p) { return p.luid == luid; });
}

bool Token::IsEnabled(uint64_t luid) const {
  return std::any_of(privileges_.begin(), privileges_.end(),
                     [&](const HeldPrivilege& p) { return p.luid == luid && p.enabled; });
}

uint32_t Token::Adjust(uint64_t luid, uint32_t attributes) {
  auto it = std::find_if(privileges_.begin(), privileges_.end(), [&](const HeldPrivilege& p) { return p.luid == luid; });
  if (it == privileges_.end()) return winerr::kNotAllAssigned;
  if (attributes & plat::kSePrivilegeRemoved) {
    privileges_.erase(it);
  } else {
    it->enabled = (attributes & plat::kSePrivilegeEnabled) != 0;
  }
  return winerr::kSuccess;
}

}  // namespace host
