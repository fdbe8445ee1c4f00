// The Security service: accounts by name and by SID (with the names of the
// machine's language), the process token, and the security descriptors of
// named objects (files and folders, registry keys), shaped after
// LookupAccountNameW/SidW, the token calls and Get/SetNamedSecurityInfoW.
// Results are Win32 codes (1332 none mapped, 1300 not all assigned, 2 file
// not found, 5 access denied, 1307 invalid owner, 1314 privilege not held ...).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/winsec/Acl.h"
#include "platform/winsec/SecurityDescriptor.h"
#include "platform/winsec/Sid.h"

namespace plat {

// SID_NAME_USE.
enum class SidNameUse : int {
  kUser = 1,
  kGroup = 2,
  kDomain = 3,
  kAlias = 4,
  kWellKnownGroup = 5,
  kDeletedAccount = 6,
  kInvalid = 7,
  kUnknown = 8,
  kComputer = 9,
  kLabel = 10,
};

// SE_OBJECT_TYPE values the program uses.
enum class SeObjectType : int {
  kFile = 1,
  kRegistryKey = 4,
  kRegistryWow64_32Key = 12,
  kRegistryWow64_64Key = 13,
};

// SECURITY_INFORMATION bits.
constexpr uint32_t kOwnerSecurityInformation = 0x00000001;
constexpr uint32_t kGroupSecurityInformation = 0x00000002;
constexpr uint32_t kDaclSecurityInformation = 0x00000004;
constexpr uint32_t kSaclSecurityInformation = 0x00000008;
constexpr uint32_t kUnprotectedSaclSecurityInformation = 0x10000000;
constexpr uint32_t kUnprotectedDaclSecurityInformation = 0x20000000;
constexpr uint32_t kProtectedSaclSecurityInformation = 0x40000000;
constexpr uint32_t kProtectedDaclSecurityInformation = 0x80000000;

// Privilege attributes.
constexpr uint32_t kSePrivilegeEnabled = 0x00000002;
constexpr uint32_t kSePrivilegeRemoved = 0x00000004;
constexpr const char* kSeTakeOwnershipPrivilege = "SeTakeOwnershipPrivilege";

struct AccountName {
  std::string name;
  std::string domain;
  SidNameUse use = SidNameUse::kUnknown;
};

class ISecurity {
 public:
  virtual ~ISecurity() = default;

  // LookupAccountNameW on the local machine (`systemName` empty or the
  // computer's name): "name", "DOMAIN\name" or a bare domain name; case is
  // ignored for ASCII and Latin-1 letters. 1332 when unknown; another
  // machine cannot be reached (1722). Output pointers may be null.
  virtual uint32_t LookupAccountName(std::string_view systemName, std::string_view accountName, winsec::Sid* sid,
                                     std::string* referencedDomain, SidNameUse* use) = 0;
  // LookupAccountSidW: the account's name and domain in the machine's language; 1332 when unknown.
  virtual uint32_t LookupAccountSid(std::string_view systemName, const winsec::Sid& sid, AccountName* account) = 0;

  // The process token: its user, and its group SIDs (without the user).
  virtual uint32_t GetTokenUser(winsec::Sid* user) = 0;
  virtual uint32_t GetTokenGroups(std::vector<winsec::Sid>* groups) = 0;
  // LookupPrivilegeValueW: the LUID of a privilege name; 1313 when unknown.
  virtual uint32_t LookupPrivilegeValue(std::string_view name, uint64_t* luid) = 0;
  // AdjustTokenPrivileges for one privilege (attributes 2 enable, 0 disable,
  // 4 remove): 0, or 1300 (ERROR_NOT_ALL_ASSIGNED) when the token does not
  // hold it. The change lasts as long as the process.
  virtual uint32_t AdjustTokenPrivilege(uint64_t luid, uint32_t attributes) = 0;
  virtual bool IsPrivilegeEnabled(uint64_t luid) = 0;

  // GetNamedSecurityInfoW. Files: "C:\dir\file"; registry keys:
  // "MACHINE\SOFTWARE\...", "CLASSES_ROOT\...", "CURRENT_USER\...", "USERS\...".
  // The DACL read back lists the explicit ACEs and then the inherited ones.
  // Only the parts named come back. Needs READ_CONTROL (5 otherwise), and
  // SeSecurityPrivilege enabled for the SACL (1314). A missing file is 2, a
  // missing folder on its path 3, a missing key 2, an unknown registry root
  // or object type 87.
  virtual uint32_t GetNamedSecurityInfo(std::string_view objectName, SeObjectType type, uint32_t securityInformation,
                                        winsec::SecurityDescriptor* descriptor) = 0;
  // SetNamedSecurityInfoW. `dacl` null with DACL_SECURITY_INFORMATION sets a
  // NULL DACL. The (UN)PROTECTED_DACL bits choose whether the object goes on
  // inheriting from its parent; without either, its protection is kept.
  // Needs WRITE_DAC for the DACL and WRITE_OWNER for owner and group (5); an
  // owner must be the caller or its Administrators group unless
  // SeRestorePrivilege is enabled (1307).
  virtual uint32_t SetNamedSecurityInfo(std::string_view objectName, SeObjectType type, uint32_t securityInformation,
                                        const winsec::Sid* owner, const winsec::Sid* group, const winsec::Acl* dacl,
                                        const winsec::Acl* sacl) = 0;
  // SetFileSecurityW: stores the descriptor's parts as given, without
  // recomputing inheritance.
  virtual uint32_t SetFileSecurity(std::string_view path, uint32_t securityInformation,
                                   const winsec::SecurityDescriptor& descriptor) = 0;
};

}  // namespace plat
