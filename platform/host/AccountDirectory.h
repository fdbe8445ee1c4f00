// The accounts a simulated host knows, by SID and by name: the users, global
// groups and local groups (aliases) kept in host.db (tables account and
// member) and the well-known SIDs of WellKnownAccounts.h, all named in the
// host's language. The security service (lookups, the token) and the
// accounts service (NetAPI) both read and change accounts through this class.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Security.h"
#include "platform/host/HostDb.h"
#include "platform/host/Profiles.h"
#include "platform/host/WellKnownAccounts.h"
#include "platform/winsec/Sid.h"

namespace host {

class Host;

// What the account table stores: users, global groups and local groups.
enum class AccountKind { kUser, kGroup, kAlias };

struct Account {
  winsec::Sid sid;
  std::string name;
  std::string domain;  // the computer name, BUILTIN, NT AUTHORITY ... or "" (Everyone)
  plat::SidNameUse use = plat::SidNameUse::kUnknown;
  std::string comment;  // stored accounts only
  bool stored = false;  // kept in the account table

  // "DOMAIN\name", or the name alone when the account has no domain.
  std::string QualifiedName() const { return domain.empty() ? name : domain + "\\" + name; }
};

// Name comparison as Windows does it for account names: case is ignored for
// the ASCII letters and the Latin-1 letters (so "GÄSTE" finds "Gäste").
std::string FoldAccountName(std::string_view name);

// The first RID handed out to a local group made by NetLocalGroupAdd; RID
// 1000 is the host's user. RIDs are never reused, as SAM never reuses them.
constexpr uint32_t kFirstNewAccountRid = 1001;

class AccountDirectory {
 public:
  AccountDirectory(HostDb& db, const Profile& profile, AccountLanguage language, std::string computerName,
                   winsec::Sid domainSid);
  static AccountDirectory Of(Host& host);

  const winsec::Sid& DomainSid() const { return domainSid_; }
  const std::string& ComputerName() const { return computerName_; }
  AccountLanguage Language() const { return language_; }
  const Profile& ProfileDef() const { return profile_; }

  // LookupAccountSidW: stored accounts, well-known SIDs of this Windows
  // version, and the two domains (BUILTIN and the account domain).
  std::optional<Account> FindBySid(const winsec::Sid& sid);
  // LookupAccountNameW: "name", "DOMAIN\name" or a bare domain name. A bare
  // name is searched among the well-known names first, then the BUILTIN
  // aliases, then the accounts of the account domain, then the domains.
  std::optional<Account> FindByName(std::string_view accountName);
  // A stored account of `kind` by its name or "DOMAIN\name".
  std::optional<Account> FindStored(std::string_view name, AccountKind kind);

  // The stored accounts of a kind: BUILTIN aliases first, each domain by RID.
  std::vector<Account> Stored(AccountKind kind);

  // Members of a group in the order they were added.
  std::vector<winsec::Sid> MembersOf(const winsec::Sid& group);
  bool IsMember(const winsec::Sid& group, const winsec::Sid& member);
  // The stored groups of `kind` that hold any of `members` directly.
  std::vector<Account> GroupsContaining(const std::vector<winsec::Sid>& members, AccountKind kind);

  // Changes; callers run them inside one transaction.
  void Insert(const winsec::Sid& sid, AccountKind kind, std::string_view name, std::string_view comment);
  // Removes the account and every membership it takes part in.
  void Remove(const winsec::Sid& sid);
  void AddMember(const winsec::Sid& group, const winsec::Sid& member);
  void RemoveMember(const winsec::Sid& group, const winsec::Sid& member);
  // The next free RID of the account domain (kFirstNewAccountRid and up).
  uint32_t AllocateRid();

 private:
  std::optional<Account> StoredBySid(const winsec::Sid& sid);
  std::optional<Account> WellKnownBySid(const winsec::Sid& sid) const;
  std::optional<Account> DomainBySid(const winsec::Sid& sid) const;
  std::optional<Account> FindQualified(std::string_view domain, std::string_view name);
  std::optional<Account> FindBare(std::string_view name);
  std::vector<Account> StoredNamed(std::string_view name);
  std::string DomainOfStored(const winsec::Sid& sid) const;
  Account MakeStored(const winsec::Sid& sid, std::string_view kind, std::string name, std::string comment) const;

  HostDb& db_;
  const Profile& profile_;
  AccountLanguage language_;
  std::string computerName_;
  winsec::Sid domainSid_;
};

// Orders accounts as NetLocalGroupEnum lists them here: BUILTIN first, each
// domain by RID.
void SortAccounts(std::vector<Account>* accounts);

}  // namespace host
