// The security service of the simulated host: account lookups with the
// profile's localized names, the process token with its privileges, and
// the security descriptors of files and registry keys kept in host.db,
// checked against the token as Windows checks them.
#pragma once

#include <optional>

#include "platform/Security.h"
#include "platform/host/AccountDirectory.h"
#include "platform/host/FileSecurity.h"
#include "platform/host/Token.h"

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

  // The token of this process, made from the account database on first use
  // and kept for the life of the process, as a logon token is.
  Token& ProcessToken();
  // The check HostRegistry runs when a key is opened: 0, or 5 when the
  // key's DACL does not grant `access` to the token.
  uint32_t CheckKeyAccess(int64_t keyId, uint32_t access);

 private:
  // A named object located for the security calls.
  struct NamedObject {
    bool isKey = false;
    FileObject file;
    int64_t keyId = 0;
    const winsec::GenericMapping* mapping = nullptr;
  };
  FileSecurityStore FileStore();
  uint32_t Locate(std::string_view objectName, plat::SeObjectType type, NamedObject* object);
  uint32_t LocateKey(std::string_view objectName, plat::SeObjectType type, NamedObject* object);
  winsec::SecurityDescriptor EffectiveOf(const NamedObject& object);
  std::optional<winsec::SecurityDescriptor> StoredOf(const NamedObject& object);
  uint32_t StoreFor(const NamedObject& object, const winsec::SecurityDescriptor& sd);
  // The rights a Get/Set of these parts needs, checked against the token.
  uint32_t CheckRights(const winsec::SecurityDescriptor& current, const NamedObject& object, uint32_t rights);
  uint32_t CheckNewOwner(const winsec::Sid* owner);
  bool IsLocalMachine(std::string_view systemName) const;
  AccountDirectory Directory();

  Host& host_;
  std::optional<Token> token_;
};

}  // namespace host
