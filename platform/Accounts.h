// The Accounts service: local groups and their members, a user's local
// groups and the account domain, shaped after the NetAPI calls on the local
// machine. Results are NET_API_STATUS codes (2220 group not found, 2221 user
// not found, 1379 local group / 2223 global group / 2224 user of that name
// exists, 1377/1378 member (not) in group, 1387 no such member, 1388 invalid
// member, 1371 built-in group, 87 bad name, 5 access denied).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Security.h"
#include "platform/winsec/Sid.h"

namespace plat {

struct LocalGroupInfo {
  std::string name;
  std::string comment;
};

struct LocalGroupMember {
  winsec::Sid sid;
  std::string domainAndName;  // "DOMAIN\name", or the SID text when it has no account
  SidNameUse use = SidNameUse::kUnknown;
};

class IAccounts {
 public:
  virtual ~IAccounts() = default;

  // NetLocalGroupAdd, level 1.
  virtual uint32_t LocalGroupAdd(std::string_view name, std::string_view comment) = 0;
  // NetLocalGroupDel.
  virtual uint32_t LocalGroupDelete(std::string_view name) = 0;
  // NetLocalGroupGetInfo, level 1.
  virtual uint32_t LocalGroupGetInfo(std::string_view name, LocalGroupInfo* info) = 0;
  // NetLocalGroupEnum, level 1.
  virtual uint32_t LocalGroupEnum(std::vector<LocalGroupInfo>* groups) = 0;
  // NetLocalGroupAddMembers, level 0 (SIDs) or level 3 ("DOMAIN\name").
  // All or nothing: one member that is already in the group or unknown adds none.
  virtual uint32_t LocalGroupAddMembers(std::string_view group, const std::vector<winsec::Sid>& members) = 0;
  virtual uint32_t LocalGroupAddMembersByName(std::string_view group, const std::vector<std::string>& members) = 0;
  // NetLocalGroupDelMembers, level 0 or 3; all or nothing as well.
  virtual uint32_t LocalGroupDelMembers(std::string_view group, const std::vector<winsec::Sid>& members) = 0;
  virtual uint32_t LocalGroupDelMembersByName(std::string_view group, const std::vector<std::string>& members) = 0;
  // NetLocalGroupGetMembers, level 2.
  virtual uint32_t LocalGroupGetMembers(std::string_view group, std::vector<LocalGroupMember>* members) = 0;
  // NetUserGetLocalGroups, level 0: the local groups of a user, with
  // LG_INCLUDE_INDIRECT also those it belongs to through other groups.
  virtual uint32_t UserGetLocalGroups(std::string_view userName, bool includeIndirect,
                                      std::vector<std::string>* groups) = 0;
  // NetUserModalsGet, level 2: the account domain's name and SID.
  virtual uint32_t UserModalsGetDomain(std::string* domainName, winsec::Sid* domainSid) = 0;
};

}  // namespace plat
