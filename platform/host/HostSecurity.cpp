#include "platform/host/HostSecurity.h"

#include "platform/WinError.h"
#include "platform/host/Host.h"

namespace host {

// Not built yet: every call answers ERROR_CALL_NOT_IMPLEMENTED.
uint32_t HostSecurity::LookupAccountName(std::string_view, std::string_view, winsec::Sid*, std::string*,
                                         plat::SidNameUse*) {
  return winerr::kCallNotImplemented;
}
uint32_t HostSecurity::LookupAccountSid(std::string_view, const winsec::Sid&, plat::AccountName*) {
  return winerr::kCallNotImplemented;
}
uint32_t HostSecurity::GetTokenUser(winsec::Sid*) { return winerr::kCallNotImplemented; }
uint32_t HostSecurity::GetTokenGroups(std::vector<winsec::Sid>*) { return winerr::kCallNotImplemented; }
uint32_t HostSecurity::LookupPrivilegeValue(std::string_view, uint64_t*) { return winerr::kCallNotImplemented; }
uint32_t HostSecurity::AdjustTokenPrivilege(uint64_t, uint32_t) { return winerr::kCallNotImplemented; }
bool HostSecurity::IsPrivilegeEnabled(uint64_t) { return false; }
uint32_t HostSecurity::GetNamedSecurityInfo(std::string_view, plat::SeObjectType, uint32_t,
                                            winsec::SecurityDescriptor*) {
  return winerr::kCallNotImplemented;
}
uint32_t HostSecurity::SetNamedSecurityInfo(std::string_view, plat::SeObjectType, uint32_t, const winsec::Sid*,
                                            const winsec::Sid*, const winsec::Acl*, const winsec::Acl*) {
  return winerr::kCallNotImplemented;
}
uint32_t HostSecurity::SetFileSecurity(std::string_view, uint32_t, const winsec::SecurityDescriptor&) {
  return winerr::kCallNotImplemented;
}

}  // namespace host
