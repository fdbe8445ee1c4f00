#include "platform/host/HostAccounts.h"

#include <algorithm>

#include "platform/WinError.h"
#include "platform/host/Host.h"
#include "platform/text/Text.h"

namespace host {
namespace {

using plat::SidNameUse;

constexpr size_t kMaxGroupNameLength = 256;
constexpr size_t kMaxCommentLength = 256;  // MAXCOMMENTSZ
constexpr std::string_view kForbiddenNameCharacters = "\"/\\[]:|<>+=;?*";


size_t CharacterCount(std::string_view utf8) {
  size_t count = 0;
  for (size_t pos = 0; pos < utf8.size(); ++count) text::NextCodePoint(utf8, pos);
  return count;
}

// Local groups hold users, global groups and well-known groups; never other
// local groups, domains or labels (ERROR_INVALID_MEMBER).
bool MayBeMember(SidNameUse use) {
  return use == SidNameUse::kUser || use == SidNameUse::kGroup || use == SidNameUse::kWellKnownGroup;
}

bool Contains(const std::vector<winsec::Sid>& sids, const winsec::Sid& sid) {
  return std::find(sids.begin(), sids.end(), sid) != sids.end();
}

}  // namespace

uint32_t CheckLocalGroupName(std::string_view name) {
  if (name.empty() || CharacterCount(name) > kMaxGroupNameLength || name.back() == '.') {
    return winerr::kInvalidParameter;
  }
  bool onlyDotsAndSpaces = true;
  for (unsigned char c : name) {
    if (c < 32 || kForbiddenNameCharacters.find(static_cast<char>(c)) != std::string_view::npos) {
      return winerr::kInvalidParameter;
    }
    if (c != '.' && c != ' ') onlyDotsAndSpaces = false;
  }
  return onlyDotsAndSpaces ? winerr::kInvalidParameter : winerr::kSuccess;
}

AccountDirectory HostAccounts::Directory() { return AccountDirectory::Of(host_); }

bool HostAccounts::MayChangeGroups() {
  const Token& token = host_.SecurityImpl().ProcessToken();
  return token.IsAdministrator() || token.HasSid(winsec::Sid::PowerUsers());
}

uint32_t HostAccounts::FindGroup(AccountDirectory& accounts, std::string_view name, Account* group) {
  std::optional<Account> found = accounts.FindStored(name, AccountKind::kAlias);
  if (!found) return kLocalGroupNotFound;
  *group = std::move(*found);
  return winerr::kSuccess;
}

uint32_t HostAccounts::LocalGroupAdd(std::string_view name, std::string_view comment) {
  return Guarded([&]() -> uint32_t {
    if (!MayChangeGroups()) return winerr::kAccessDenied;
    if (uint32_t rc = CheckLocalGroupName(name)) return rc;
    if (CharacterCount(comment) > kMaxCommentLength) return winerr::kInvalidParameter;
    AccountDirectory accounts = Directory();
    // The name must be free among all accounts of the machine.
    if (accounts.FindStored(name, AccountKind::kAlias)) return winerr::kAliasExists;
    if (accounts.FindStored(name, AccountKind::kGroup)) return winerr::kNerrGroupExists;
    if (accounts.FindStored(name, AccountKind::kUser)) return winerr::kNerrUserExists;
    Transaction tx(host_.Db());
    winsec::Sid sid;
    if (uint32_t rc = winsec::Sid::WithRid(accounts.DomainSid(), accounts.AllocateRid(), &sid)) return rc;
    accounts.Insert(sid, AccountKind::kAlias, name, comment);
    tx.Commit();
    return winerr::kSuccess;
  });
}

uint32_t HostAccounts::LocalGroupDelete(std::string_view name) {
  return Guarded([&]() -> uint32_t {
    if (!MayChangeGroups()) return winerr::kAccessDenied;
    AccountDirectory accounts = Directory();
    Account group;
    if (uint32_t rc = FindGroup(accounts, name, &group)) return rc;
    if (group.sid.IsInDomain(winsec::Sid::BuiltinDomain())) return kBuiltinGroupNotDeletable;
    Transaction tx(host_.Db());
    accounts.Remove(group.sid);
    tx.Commit();
    return winerr::kSuccess;
  });
}

uint32_t HostAccounts::LocalGroupGetInfo(std::string_view name, plat::LocalGroupInfo* info) {
  return Guarded([&]() -> uint32_t {
    AccountDirectory accounts = Directory();
    Account group;
    if (uint32_t rc = FindGroup(accounts, name, &group)) return rc;
    info->name = group.name;
    info->comment = group.comment;
    return winerr::kSuccess;
  });
}

uint32_t HostAccounts::LocalGroupEnum(std::vector<plat::LocalGroupInfo>* groups) {
  return Guarded([&]() -> uint32_t {
    groups->clear();
    for (const Account& group : Directory().Stored(AccountKind::kAlias)) groups->push_back({group.name, group.comment});
    return winerr::kSuccess;
  });
}

// All or nothing: every member is checked before the first one is added.
uint32_t HostAccounts::AddMembers(std::string_view groupName, const std::vector<winsec::Sid>& members) {
  if (!MayChangeGroups()) return winerr::kAccessDenied;
  AccountDirectory accounts = Directory();
  Account group;
  if (uint32_t rc = FindGroup(accounts, groupName, &group)) return rc;
  std::vector<winsec::Sid> checked;
  for (const winsec::Sid& sid : members) {
    const std::optional<Account> member = accounts.FindBySid(sid);
    if (!member) return winerr::kNoSuchMember;
    if (!MayBeMember(member->use)) return winerr::kInvalidMember;
    if (Contains(checked, sid) || accounts.IsMember(group.sid, sid)) return winerr::kMemberInAlias;
    checked.push_back(sid);
  }
  Transaction tx(host_.Db());
  for (const winsec::Sid& sid : checked) accounts.AddMember(group.sid, sid);
  tx.Commit();
  return winerr::kSuccess;
}

uint32_t HostAccounts::LocalGroupAddMembers(std::string_view group, const std::vector<winsec::Sid>& members) {
  return Guarded([&]() -> uint32_t { return AddMembers(group, members); });
}

uint32_t HostAccounts::SidsOfMemberNames(std::string_view group, const std::vector<std::string>& members,
                                         std::vector<winsec::Sid>* sids) {
  if (!MayChangeGroups()) return winerr::kAccessDenied;
  AccountDirectory accounts = Directory();
  for (const std::string& name : members) {
    const std::optional<Account> member = accounts.FindByName(name);
    if (!member) {
      Account found;
      if (uint32_t rc = FindGroup(accounts, group, &found)) return rc;
      return winerr::kNoSuchMember;
    }
    sids->push_back(member->sid);
  }
  return winerr::kSuccess;
}

uint32_t HostAccounts::LocalGroupAddMembersByName(std::string_view group, const std::vector<std::string>& members) {
  return Guarded([&]() -> uint32_t {
    std::vector<winsec::Sid> sids;
    if (uint32_t rc = SidsOfMemberNames(group, members, &sids)) return rc;
    return AddMembers(group, sids);
  });
}

// A SID that is no member is ERROR_MEMBER_NOT_IN_ALIAS when it names an
// account and ERROR_NO_SUCH_MEMBER when it names none. A SID left behind by
// a deleted account is removed like any member. All or nothing, as adding.
uint32_t HostAccounts::DelMembers(std::string_view groupName, const std::vector<winsec::Sid>& members) {
  if (!MayChangeGroups()) return winerr::kAccessDenied;
  AccountDirectory accounts = Directory();
  Account group;
  if (uint32_t rc = FindGroup(accounts, groupName, &group)) return rc;
  std::vector<winsec::Sid> checked;
  for (const winsec::Sid& sid : members) {
    if (!Contains(checked, sid) && accounts.IsMember(group.sid, sid)) {
      checked.push_back(sid);
      continue;
    }
    return accounts.FindBySid(sid) ? winerr::kMemberNotInAlias : winerr::kNoSuchMember;
  }
  Transaction tx(host_.Db());
  for (const winsec::Sid& sid : checked) accounts.RemoveMember(group.sid, sid);
  tx.Commit();
  return winerr::kSuccess;
}

uint32_t HostAccounts::LocalGroupDelMembers(std::string_view group, const std::vector<winsec::Sid>& members) {
  return Guarded([&]() -> uint32_t { return DelMembers(group, members); });
}

uint32_t HostAccounts::LocalGroupDelMembersByName(std::string_view group, const std::vector<std::string>& members) {
  return Guarded([&]() -> uint32_t {
    std::vector<winsec::Sid> sids;
    if (uint32_t rc = SidsOfMemberNames(group, members, &sids)) return rc;
    return DelMembers(group, sids);
  });
}

uint32_t HostAccounts::LocalGroupGetMembers(std::string_view groupName, std::vector<plat::LocalGroupMember>* members) {
  return Guarded([&]() -> uint32_t {
    AccountDirectory accounts = Directory();
    Account group;
    if (uint32_t rc = FindGroup(accounts, groupName, &group)) return rc;
    members->clear();
    for (const winsec::Sid& sid : accounts.MembersOf(group.sid)) {
      plat::LocalGroupMember member;
      member.sid = sid;
      if (const std::optional<Account> account = accounts.FindBySid(sid)) {
        member.domainAndName = account->QualifiedName();
        member.use = account->use;
      } else {
        // What is left of a deleted account of this machine, or a SID of
        // no known domain.
        member.domainAndName = sid.ToString();
        member.use = sid.IsInDomain(accounts.DomainSid()) ? SidNameUse::kDeletedAccount : SidNameUse::kUnknown;
      }
      members->push_back(std::move(member));
    }
    return winerr::kSuccess;
  });
}

uint32_t HostAccounts::UserGetLocalGroups(std::string_view userName, bool includeIndirect,
                                          std::vector<std::string>* groups) {
  return Guarded([&]() -> uint32_t {
    AccountDirectory accounts = Directory();
    const std::optional<Account> user = accounts.FindStored(userName, AccountKind::kUser);
    if (!user) return winerr::kNerrUserNotFound;
    // Indirect membership: through the global groups the user is in (local
    // groups do not nest).
    std::vector<winsec::Sid> holders = {user->sid};
    if (includeIndirect) {
      for (const Account& global : accounts.GroupsContaining({user->sid}, AccountKind::kGroup)) {
        holders.push_back(global.sid);
      }
    }
    groups->clear();
    for (const Account& alias : accounts.GroupsContaining(holders, AccountKind::kAlias)) groups->push_back(alias.name);
    return winerr::kSuccess;
  });
}

uint32_t HostAccounts::UserModalsGetDomain(std::string* domainName, winsec::Sid* domainSid) {
  AccountDirectory accounts = Directory();
  *domainName = accounts.ComputerName();
  *domainSid = accounts.DomainSid();
  return winerr::kSuccess;
}

}  // namespace host
