// The accounts service of the simulated host: users and local groups with
// their members, kept in host.db (tables account and member) by SID, with
// the names of the profile's language, answering with the NetAPI codes.
// Changing groups takes an administrator or a power user, as on a
// workstation.
#pragma once

#include <optional>

#include "platform/Accounts.h"
#include "platform/WinError.h"
#include "platform/host/AccountDirectory.h"

namespace host {

class Host;

// NetLocalGroup* for a group that does not exist. Both NERR_GroupNotFound
// and ERROR_NO_SUCH_ALIAS are documented for it; the SAM of a local machine
// answers the former.
constexpr uint32_t kLocalGroupNotFound = winerr::kNerrGroupNotFound;
// NetLocalGroupDel of a BUILTIN alias (Administrators, Users ...), which
// Windows refuses as a special account.
constexpr uint32_t kBuiltinGroupNotDeletable = winerr::kSpecialAccount;

// The name rules of NetLocalGroupAdd: 1 to 256 characters, no control
// characters, none of " / \ [ ] : | < > + = ; ? *, not only dots and
// spaces, no trailing dot. ERROR_INVALID_PARAMETER (87) otherwise, the code
// NetLocalGroupAdd documents for a bad name (parm_err = the name).
uint32_t CheckLocalGroupName(std::string_view name);

class HostAccounts : public plat::IAccounts {
 public:
  explicit HostAccounts(Host& host) : host_(host) {}

  uint32_t LocalGroupAdd(std::string_view name, std::string_view comment) override;
  uint32_t LocalGroupDelete(std::string_view name) override;
  uint32_t LocalGroupGetInfo(std::string_view name, plat::LocalGroupInfo* info) override;
  uint32_t LocalGroupEnum(std::vector<plat::LocalGroupInfo>* groups) override;
  uint32_t LocalGroupAddMembers(std::string_view group, const std::vector<winsec::Sid>& members) override;
  uint32_t LocalGroupAddMembersByName(std::string_view group, const std::vector<std::string>& members) override;
  uint32_t LocalGroupDelMembers(std::string_view group, const std::vector<winsec::Sid>& members) override;
  uint32_t LocalGroupDelMembersByName(std::string_view group, const std::vector<std::string>& members) override;
  uint32_t LocalGroupGetMembers(std::string_view group, std::vector<plat::LocalGroupMember>* members) override;
  uint32_t UserGetLocalGroups(std::string_view userName, bool includeIndirect,
                              std::vector<std::string>* groups) override;
  uint32_t UserModalsGetDomain(std::string* domainName, winsec::Sid* domainSid) override;

 private:
  AccountDirectory Directory();
  // Administrators and Power Users may change local groups.
  bool MayChangeGroups();
  uint32_t FindGroup(AccountDirectory& accounts, std::string_view name, Account* group);
  uint32_t AddMembers(std::string_view group, const std::vector<winsec::Sid>& members);
  uint32_t DelMembers(std::string_view group, const std::vector<winsec::Sid>& members);
  // The SIDs of members named "DOMAIN\name"; a missing group wins over a missing member.
  uint32_t SidsOfMemberNames(std::string_view group, const std::vector<std::string>& members,
                             std::vector<winsec::Sid>* sids);

  Host& host_;
};

}  // namespace host
