// The access token of a process on the simulated host: the user's SID, its
// group SIDs (the logon's well-known groups, its global groups and every
// local group holding any of them) and its privileges. It is built once per
// process from the account database, as Windows builds a token at logon;
// enabling a privilege changes this process's token only.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "platform/host/AccountDirectory.h"
#include "platform/winsec/Sid.h"

namespace host {

// A privilege with the LUID Windows gives it (SE_*_PRIVILEGE values).
struct PrivilegeDef {
  const char* name;
  uint32_t luid;
};
std::span<const PrivilegeDef> AllPrivileges();
// By name, ASCII case ignored; null when unknown.
const PrivilegeDef* FindPrivilege(std::string_view name);
const PrivilegeDef* FindPrivilege(uint64_t luid);

class Token {
 public:
  // The token of `user` after an interactive logon on this host.
  static Token ForUser(AccountDirectory& accounts, const winsec::Sid& user);

  const winsec::Sid& User() const { return user_; }
  const std::vector<winsec::Sid>& Groups() const { return groups_; }
  // The user or one of the groups.
  bool HasSid(const winsec::Sid& sid) const;
  bool IsAdministrator() const { return HasSid(winsec::Sid::BuiltinAdministrators()); }

  // Whether `sid` may be made an object's owner without SeRestorePrivilege:
  // the user itself, or the Administrators group of an administrator.
  bool CanOwn(const winsec::Sid& sid) const;

  bool Holds(uint64_t luid) const;
  bool IsEnabled(uint64_t luid) const;
  // AdjustTokenPrivileges for one privilege: SE_PRIVILEGE_ENABLED enables,
  // 0 disables, SE_PRIVILEGE_REMOVED removes it from the token. 1300
  // (ERROR_NOT_ALL_ASSIGNED) when the token does not hold it.
  uint32_t Adjust(uint64_t luid, uint32_t attributes);

 private:
  struct HeldPrivilege {
    uint32_t luid;
    bool enabled;
  };
  void GrantPrivileges(const Profile& profile);

  winsec::Sid user_;
  std::vector<winsec::Sid> groups_;
  std::vector<HeldPrivilege> privileges_;
};

}  // namespace host
