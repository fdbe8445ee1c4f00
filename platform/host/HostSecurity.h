// The security service of the simulated host: account lookups with the
// profile's localized names, the process token, and the security
// descriptors of files and registry keys kept in host.db.
#pragma once

#include "platform/Security.h"

namespace host {

class Host;

class HostSecurity : public plat::ISecurity {
 public:
  explicit HostSecurity(Host& host) : host_(host) {}

  uint32_t LookupAccountName(std::string_view systemName, std::string_view accountName, winsec::Sid* sid,
                             std::string* referencedDomain, plat::SidNameUse* use) override;
  uint32_t LookupAccountSid(std::string_view systemName, const winsec::Sid& sid, plat::AccountName* account) override;
  uint32_t GetTokenUser(winsec::Sid* user) override;
  uint32_t GetTokenGroups(std::vector<winsec::Sid>* groups) override;
  uint32_t LookupPrivilegeValue(std::string_view name, uint64_t* luid) override;
  uint32_t AdjustTokenPrivilege(uint64_t luid, uint32_t attributes) override;
  bool IsPrivilegeEnabled(uint64_t luid) override;
  uint32_t GetNamedSecurityInfo(std::string_view objectName, plat::SeObjectType type, uint32_t securityInformation,
                                winsec::SecurityDescriptor* descriptor) override;
  uint32_t SetNamedSecurityInfo(std::string_view objectName, plat::SeObjectType type, uint32_t securityInformation,
                                const winsec::Sid* owner, const winsec::Sid* group, const winsec::Acl* dacl,
                                const winsec::Acl* sacl) override;
  uint32_t SetFileSecurity(std::string_view path, uint32_t securityInformation,
                           const winsec::SecurityDescriptor& descriptor) override;

 private:
  Host& host_;
};

}  // namespace host
