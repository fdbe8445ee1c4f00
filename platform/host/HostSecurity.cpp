#include "platform/host/HostSecurity.h"

#include "platform/WinError.h"
#include "platform/host/AccessCheck.h"
#include "platform/host/DefaultSecurity.h"
#include "platform/host/Host.h"
#include "platform/host/KeySecurity.h"
#include "platform/text/Text.h"

namespace host {
namespace {

// LookupAccountName/Sid with another computer's name: the LSA of that
// machine cannot be reached from the host (RPC_S_SERVER_UNAVAILABLE).
constexpr uint32_t kRemoteMachineUnreachable = 1722;

constexpr uint32_t kReadParts =
    plat::kOwnerSecurityInformation | plat::kGroupSecurityInformation | plat::kDaclSecurityInformation;


// The rights Windows asks for before reading or writing these parts.
uint32_t RightsToRead(uint32_t securityInformation) {
  uint32_t rights = 0;
  if (securityInformation & kReadParts) rights |= winsec::kReadControl;
  if (securityInformation & plat::kSaclSecurityInformation) rights |= winsec::kAccessSystemSecurity;
  return rights;
}

uint32_t RightsToWrite(uint32_t securityInformation) {
  uint32_t rights = 0;
  if (securityInformation & (plat::kOwnerSecurityInformation | plat::kGroupSecurityInformation)) {
    rights |= winsec::kWriteOwner;
  }
  if (securityInformation & plat::kDaclSecurityInformation) rights |= winsec::kWriteDac;
  if (securityInformation & plat::kSaclSecurityInformation) rights |= winsec::kAccessSystemSecurity;
  return rights;
}

// The predefined key behind the root word of a registry object name.
plat::HKey RootOfObjectName(std::string_view root) {
  if (text::EqualsNoCase(root, "MACHINE")) return plat::kHkeyLocalMachine;
  if (text::EqualsNoCase(root, "USERS")) return plat::kHkeyUsers;
  if (text::EqualsNoCase(root, "CURRENT_USER")) return plat::kHkeyCurrentUser;
  if (text::EqualsNoCase(root, "CLASSES_ROOT")) return plat::kHkeyClassesRoot;
  return plat::kNullKey;
}

bool IsProtected(const winsec::SecurityDescriptor& sd) {
  return (sd.Control() & winsec::kSeDaclProtected) != 0;
}

}  // namespace

AccountDirectory HostSecurity::Directory() { return AccountDirectory::Of(host_); }

bool HostSecurity::IsLocalMachine(std::string_view systemName) const {
  if (systemName.starts_with("\\\\")) systemName.remove_prefix(2);
  return systemName.empty() || text::EqualsNoCase(systemName, host_.Identity().computerName);
}

uint32_t HostSecurity::LookupAccountName(std::string_view systemName, std::string_view accountName,
                                         winsec::Sid* sid, std::string* referencedDomain, plat::SidNameUse* use) {
  if (!IsLocalMachine(systemName)) return kRemoteMachineUnreachable;
  return Guarded([&]() -> uint32_t {
    AccountDirectory accounts = Directory();
    const std::optional<Account> found = accounts.FindByName(accountName);
    if (!found) return winerr::kNoneMapped;
    if (sid) *sid = found->sid;
    if (referencedDomain) *referencedDomain = found->domain;
    if (use) *use = found->use;
    return winerr::kSuccess;
  });
}

uint32_t HostSecurity::LookupAccountSid(std::string_view systemName, const winsec::Sid& sid,
                                        plat::AccountName* account) {
  if (!IsLocalMachine(systemName)) return kRemoteMachineUnreachable;
  return Guarded([&]() -> uint32_t {
    AccountDirectory accounts = Directory();
    const std::optional<Account> found = accounts.FindBySid(sid);
    if (!found) return winerr::kNoneMapped;
    account->name = found->name;
    account->domain = found->domain;
    account->use = found->use;
    return winerr::kSuccess;
  });
}

Token& HostSecurity::ProcessToken() {
  if (!token_) {
    AccountDirectory accounts = Directory();
    winsec::Sid user;
    winsec::Sid::FromString(host_.UserSid(), &user);
    token_ = Token::ForUser(accounts, user);
  }
  return *token_;
}

uint32_t HostSecurity::GetTokenUser(winsec::Sid* user) {
  return Guarded([&]() -> uint32_t {
    *user = ProcessToken().User();
    return winerr::kSuccess;
  });
}

uint32_t HostSecurity::GetTokenGroups(std::vector<winsec::Sid>* groups) {
  return Guarded([&]() -> uint32_t {
    *groups = ProcessToken().Groups();
    return winerr::kSuccess;
  });
}

uint32_t HostSecurity::LookupPrivilegeValue(std::string_view name, uint64_t* luid) {
  const PrivilegeDef* privilege = FindPrivilege(name);
  if (!privilege) return winerr::kNoSuchPrivilege;
  *luid = privilege->luid;
  return winerr::kSuccess;
}

uint32_t HostSecurity::AdjustTokenPrivilege(uint64_t luid, uint32_t attributes) {
  return Guarded([&]() -> uint32_t { return ProcessToken().Adjust(luid, attributes); });
}

bool HostSecurity::IsPrivilegeEnabled(uint64_t luid) {
  try {
    return ProcessToken().IsEnabled(luid);
  } catch (const DbError&) {
    return false;
  }
}

uint32_t HostSecurity::CheckKeyAccess(int64_t keyId, uint32_t access) {
  if (access == 0) return winerr::kSuccess;  // opening only to find the key
  return Guarded([&]() -> uint32_t {
    winsec::SecurityDescriptor sd;
    if (!KeySecurityStore(host_.Db(), host_.ProfileDef()).Effective(keyId, &sd)) return winerr::kKeyDeleted;
    return CheckAccess(sd, ProcessToken(), access, winsec::kRegistryGenericMapping);
  });
}

// ---- Named objects ---------------------------------------------------------

uint32_t HostSecurity::LocateKey(std::string_view objectName, plat::SeObjectType type, NamedObject* object) {
  if (objectName.starts_with("\\\\")) return winerr::kBadNetPath;
  const size_t slash = objectName.find('\\');
  const plat::HKey root = RootOfObjectName(objectName.substr(0, slash));
  if (root == plat::kNullKey) return winerr::kInvalidParameter;
  const std::string_view subKey = slash == std::string_view::npos ? "" : objectName.substr(slash + 1);
  uint32_t view = 0;
  if (type == plat::SeObjectType::kRegistryWow64_32Key) view = plat::kKeyWow64_32Key;
  if (type == plat::SeObjectType::kRegistryWow64_64Key) view = plat::kKeyWow64_64Key;
  // Opening with no rights only finds the key; the rights are checked below.
  plat::HKey key = plat::kNullKey;
  HostRegistry& registry = host_.RegistryImpl();
  if (uint32_t rc = registry.OpenKey(root, subKey, view, &key)) return rc;
  object->isKey = true;
  object->keyId = registry.KeyIdOf(key);
  object->mapping = &winsec::kRegistryGenericMapping;
  registry.CloseKey(key);
  return winerr::kSuccess;
}

FileSecurityStore HostSecurity::FileStore() {
  return FileSecurityStore(host_.Db(), host_.Paths(), host_.ProfileDef(), host_.FileCache());
}

uint32_t HostSecurity::Locate(std::string_view objectName, plat::SeObjectType type, NamedObject* object) {
  switch (type) {
    case plat::SeObjectType::kFile:
      object->mapping = &winsec::kFileGenericMapping;
      return FileStore().Locate(objectName, &object->file);
    case plat::SeObjectType::kRegistryKey:
    case plat::SeObjectType::kRegistryWow64_32Key:
    case plat::SeObjectType::kRegistryWow64_64Key:
      return LocateKey(objectName, type, object);
  }
  return winerr::kInvalidParameter;
}

winsec::SecurityDescriptor HostSecurity::EffectiveOf(const NamedObject& object) {
  if (!object.isKey) {
    return FileStore().Effective(object.file);
  }
  winsec::SecurityDescriptor sd;
  KeySecurityStore(host_.Db(), host_.ProfileDef()).Effective(object.keyId, &sd);
  return sd;
}

std::optional<winsec::SecurityDescriptor> HostSecurity::StoredOf(const NamedObject& object) {
  if (object.isKey) return KeySecurityStore(host_.Db(), host_.ProfileDef()).Stored(object.keyId);
  return object.file.chain.back().stored;
}

uint32_t HostSecurity::StoreFor(const NamedObject& object, const winsec::SecurityDescriptor& sd) {
  Transaction tx(host_.Db());
  const uint32_t rc = object.isKey ? KeySecurityStore(host_.Db(), host_.ProfileDef()).Store(object.keyId, sd)
                                   : FileStore().Store(object.file, sd);
  if (rc == winerr::kSuccess) tx.Commit();
  return rc;
}

uint32_t HostSecurity::CheckRights(const winsec::SecurityDescriptor& current, const NamedObject& object,
                                   uint32_t rights) {
  return CheckAccess(current, ProcessToken(), rights, *object.mapping);
}

// Without SeRestorePrivilege an owner must be the caller or a group of it
// that may own objects (ERROR_INVALID_OWNER otherwise).
uint32_t HostSecurity::CheckNewOwner(const winsec::Sid* owner) {
  if (!owner) return winerr::kInvalidParameter;
  const Token& token = ProcessToken();
  if (token.CanOwn(*owner) || token.IsEnabled(FindPrivilege("SeRestorePrivilege")->luid)) return winerr::kSuccess;
  return winerr::kInvalidOwner;
}

uint32_t HostSecurity::GetNamedSecurityInfo(std::string_view objectName, plat::SeObjectType type,
                                            uint32_t securityInformation, winsec::SecurityDescriptor* descriptor) {
  return Guarded([&]() -> uint32_t {
    NamedObject object;
    if (uint32_t rc = Locate(objectName, type, &object)) return rc;
    const winsec::SecurityDescriptor current = EffectiveOf(object);
    if (uint32_t rc = CheckRights(current, object, RightsToRead(securityInformation))) return rc;
    *descriptor = SelectParts(current, securityInformation);
    return winerr::kSuccess;
  });
}

uint32_t HostSecurity::SetNamedSecurityInfo(std::string_view objectName, plat::SeObjectType type,
                                            uint32_t securityInformation, const winsec::Sid* owner,
                                            const winsec::Sid* group, const winsec::Acl* dacl,
                                            const winsec::Acl* sacl) {
  return Guarded([&]() -> uint32_t {
    NamedObject object;
    if (uint32_t rc = Locate(objectName, type, &object)) return rc;
    const winsec::SecurityDescriptor current = EffectiveOf(object);
    if (uint32_t rc = CheckRights(current, object, RightsToWrite(securityInformation))) return rc;
    if (securityInformation & plat::kOwnerSecurityInformation) {
      if (uint32_t rc = CheckNewOwner(owner)) return rc;
    }
    if ((securityInformation & plat::kGroupSecurityInformation) && !group) return winerr::kInvalidParameter;
    const NamedSecurityChange change{securityInformation, owner, group, dacl, sacl};
    return StoreFor(object, StoreNamedSecurity(StoredOf(object), IsProtected(current), change, *object.mapping));
  });
}

uint32_t HostSecurity::SetFileSecurity(std::string_view path, uint32_t securityInformation,
                                       const winsec::SecurityDescriptor& descriptor) {
  return Guarded([&]() -> uint32_t {
    NamedObject object;
    if (uint32_t rc = Locate(path, plat::SeObjectType::kFile, &object)) return rc;
    const winsec::SecurityDescriptor current = EffectiveOf(object);
    if (uint32_t rc = CheckRights(current, object, RightsToWrite(securityInformation))) return rc;
    if (securityInformation & plat::kOwnerSecurityInformation) {
      const winsec::Sid* owner = descriptor.Owner() ? &*descriptor.Owner() : nullptr;
      if (uint32_t rc = CheckNewOwner(owner)) return rc;
    }
    return StoreFor(object, StoreLiteralSecurity(StoredOf(object), descriptor, securityInformation));
  });
}

}  // namespace host
