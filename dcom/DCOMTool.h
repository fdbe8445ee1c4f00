// The security-descriptor tools every DCOM setting shares. DCOM keeps its
// launch and access permissions as self-relative security descriptors in
// REG_BINARY values, machine-wide under HKLM\Software\Microsoft\Ole and per
// application under HKCR\APPID\{id}. These tools build the standard
// descriptors, add and remove an account's ACEs, and read and write the
// values; descriptors are winsec value types, never raw buffers.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/Registry.h"
#include "platform/winsec/Acl.h"
#include "platform/winsec/SecurityDescriptor.h"

class CErrorMgr;

// COM rights bits of launch and access descriptors.
constexpr uint32_t kComRightsExecute = 0x1;  // joins every non-empty mask
constexpr uint32_t kComRightsExecuteLocal = 0x2;
constexpr uint32_t kComRightsExecuteRemote = 0x4;
constexpr uint32_t kComRightsActivateLocal = 0x8;
constexpr uint32_t kComRightsActivateRemote = 0x10;

// Where the machine-wide descriptors live, below HKEY_LOCAL_MACHINE.
constexpr const char* kOleKey = "Software\\Microsoft\\Ole";

// The standard descriptors CreateStandardSD builds.
enum class StandardSD : int {
  kDefaultLaunch = 1,    // DefaultLaunchPermission, an application's LaunchPermission
  kDefaultAccess = 2,    // DefaultAccessPermission, an application's AccessPermission
  kLaunchRestriction = 3,  // MachineLaunchRestriction
  kAccessRestriction = 4,  // MachineAccessRestriction
};

class CDCOMTool {
 public:
  // A standard descriptor of `type` (1-4), owner and group the current
  // user. The ACEs are built from the accounts' SIDs, so the descriptor is
  // the same on a machine in any language; a type outside 1-4 gives an
  // empty DACL. 0 or the Win32 code.
  static uint32_t CreateStandardSD(CErrorMgr& errorMgr, winsec::SecurityDescriptor* sd, int type);
  // A descriptor granting the current user execute, local execute and local
  // activation (execute only on Windows 5.0).
  static uint32_t CreateNewSD(CErrorMgr& errorMgr, winsec::SecurityDescriptor* sd);
  // Adds an allowed or denied ACE for the account to the ACL in canonical
  // order: a denied ACE becomes the first ACE, an allowed one the last.
  static uint32_t AddUserToACL(CErrorMgr& errorMgr, winsec::Acl* acl, uint32_t mask, std::string_view domain,
                               std::string_view user, bool allow);
  // The same for an account already looked up.
  static uint32_t AddSidToACL(CErrorMgr& errorMgr, winsec::Acl* acl, uint32_t mask, const winsec::Sid& sid,
                              bool allow);
  // Copies the denied ACEs of `source` to the front of `target` (their order
  // reversed), then appends its allowed ACEs; ACEs of other types are not copied.
  static uint32_t CopyACL(const winsec::Acl& source, winsec::Acl* target);

  // Reads a descriptor value of HKLM\`keyPath` as self-relative bytes. A
  // missing key or value gives CreateNewSD's descriptor with *isNew set. A
  // value that is not REG_BINARY or no valid self-relative descriptor is
  // ERROR_INVALID_SECURITY_DESCR; it and any other failure are reported at
  // level 5.
  static uint32_t GetSecurityDescriptorFromRegistry(CErrorMgr& errorMgr, std::string_view keyPath,
                                                    std::string_view valueName, bool* isNew,
                                                    winsec::Bytes* selfRelative);
  // A descriptor value of an open key: 0, ERROR_FILE_NOT_FOUND for a missing
  // value, ERROR_INVALID_SECURITY_DESCR for one that is not REG_BINARY or
  // not a valid self-relative descriptor, or the query's code. Reports nothing.
  static uint32_t ReadDescriptorValue(plat::HKey key, std::string_view valueName, winsec::Bytes* selfRelative);
  // Writes the descriptor as REG_BINARY value of HKLM\Software\Microsoft\Ole.
  static uint32_t SetSecurityDescriptorToRegistry(CErrorMgr& errorMgr, std::string_view valueName,
                                                  const winsec::SecurityDescriptor& sd);
  // The DACL, or null (reported, level 5) when the descriptor has none.
  static const winsec::Acl* GetACLFromSecurityDescriptor(CErrorMgr& errorMgr, const winsec::SecurityDescriptor* sd);
  // Removes the first allowed, denied or audit ACE of the account named
  // (looked up without a domain). An unknown account is a warning and 0.
  static uint32_t RemovePrincipalFromACL(CErrorMgr& errorMgr, winsec::Acl* acl, std::string_view name);
  // Removes every ACE of the SID that RemovePrincipalFromACL would consider;
  // how many went.
  static size_t RemoveAllAcesOf(winsec::Acl* acl, const winsec::Sid& sid);
  // Reads a self-relative descriptor into the form the tools change.
  static uint32_t MakeSDAbsolute(winsec::ByteView selfRelative, winsec::SecurityDescriptor* sd);

  // The account of a SID as domain and name; a SID the machine cannot name
  // gives its text as the name and no domain.
  static void AccountOfSid(const winsec::Sid& sid, std::string* domain, std::string* user);
  // The value name of a machine-wide descriptor kind (1-4), "" otherwise.
  static const char* LimitDefaultValueName(int kind);
  // Kinds 1 (DefaultLaunchPermission) and 3 (MachineLaunchRestriction) hold launch rights.
  static bool IsLaunchKind(int kind) { return kind == 1 || kind == 3; }
};
