#include "platform/host/HostAccounts.h"

#include "platform/WinError.h"
#include "platform/host/Host.h"

namespace host {

// Not built yet: every call answers ERROR_CALL_NOT_IMPLEMENTED.
uint32_t HostAccounts::LocalGroupAdd(std::string_view, std::string_view) { return winerr::kCallNotImplemented; }
uint32_t HostAccounts::LocalGroupDelete(std::string_view) { return winerr::kCallNotImplemented; }
uint32_t HostAccounts::LocalGroupGetInfo(std::string_view, plat::LocalGroupInfo*) { return winerr::kCallNotImplemented; }
uint32_t HostAccounts::LocalGroupEnum(std::vector<plat::LocalGroupInfo>*) { return winerr::kCallNotImplemented; }
uint32_t HostAccounts::LocalGroupAddMembers(std::string_view, const std::vector<winsec::Sid>&) {
  return winerr::kCallNotImplemented;
}
uint32_t HostAccounts::LocalGroupAddMembersByName(std::string_view, const std::vector<std::string>&) {
  return winerr::kCallNotImplemented;
}
uint32_t HostAccounts::LocalGroupDelMembers(std::string_view, const std::vector<winsec::Sid>&) {
  return winerr::kCallNotImplemented;
}
uint32_t HostAccounts::LocalGroupDelMembersByName(std::string_view, const std::vector<std::string>&) {
  return winerr::kCallNotImplemented;
}
uint32_t HostAccounts::LocalGroupGetMembers(std::string_view, std::vector<plat::LocalGroupMember>*) {
  return winerr::kCallNotImplemented;
}
uint32_t HostAccounts::UserGetLocalGroups(std::string_view, bool, std::vector<std::string>*) {
  return winerr::kCallNotImplemented;
}
uint32_t HostAccounts::UserModalsGetDomain(std::string*, winsec::Sid*) { return winerr::kCallNotImplemented; }

}  // namespace host
