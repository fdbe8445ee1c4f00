// The accounts service of the simulated host: users and local groups with
// their members, kept in host.db (tables account and member) by SID, with
// the names of the profile's language.
#pragma once

#include "platform/Accounts.h"

namespace host {

class Host;

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
  Host& host_;
};

}  // namespace host
