// The DCOM security-descriptor tools.
#include "dcom/DCOMTool.h"

#include <algorithm>
#include <array>
#include <vector>

#include "infra/ErrorMgr.h"
#include "infra/Tool.h"
#include "platform/Platform.h"
#include "platform/WinError.h"

namespace {

constexpr const char* kAddLabel = "CDCOMTool::AddUserToACL";
constexpr const char* kGetLabel = "CDCOMTool::GetSecurityDescriptorFromRegistry";
constexpr const char* kSetLabel = "CDCOMTool::SetSecurityDescriptorToRegistry";
constexpr const char* kAclLabel = "CDCOMTool::GetACLFromSecurityDescriptor";
constexpr const char* kRemoveLabel = "::RemovePrincipalFromACL";

// Room an added ACE needs beyond its SID (header and mask, with slack).
constexpr size_t kAceOverhead = 16;

struct StandardAce {
  winsec::Sid (*sid)();
  uint32_t mask;
};

// The ACEs of the standard descriptors, all allowed, in the order they are
// added: Administrators, INTERACTIVE, SYSTEM; SELF, SYSTEM; Administrators,
// Everyone; Everyone, ANONYMOUS LOGON.
const std::vector<StandardAce>& StandardAces(int type) {
  static const std::array<std::vector<StandardAce>, 4> kTables = {{
      {{&winsec::Sid::BuiltinAdministrators, 31}, {&winsec::Sid::Interactive, 11}, {&winsec::Sid::LocalSystem, 11}},
      {{&winsec::Sid::PrincipalSelf, 7}, {&winsec::Sid::LocalSystem, 3}},
      {{&winsec::Sid::BuiltinAdministrators, 15}, {&winsec::Sid::Everyone, 11}},
      {{&winsec::Sid::Everyone, 7}, {&winsec::Sid::Anonymous, 3}},
  }};
  static const std::vector<StandardAce> kNone;
  return type >= 1 && type <= 4 ? kTables[static_cast<size_t>(type - 1)] : kNone;
}

int Code(uint32_t rc) { return static_cast<int>(rc); }

bool IsRemovableAceType(uint8_t type) {
  return type == winsec::kAccessAllowedAceType || type == winsec::kAccessDeniedAceType ||
         type == winsec::kSystemAuditAceType;
}

// Owner and group: copies of the current user's SID, neither defaulted.
uint32_t SetOwnerAndGroup(CErrorMgr& errorMgr, winsec::SecurityDescriptor* sd) {
  winsec::Sid user;
  if (const int rc = CTool::GetCurrentUserSID(errorMgr, &user)) return static_cast<uint32_t>(rc);
  sd->SetGroup(user);
  sd->SetOwner(user);
  return winerr::kSuccess;
}

bool IsWindows50() {
  plat::OsVersionInfoEx info;
  return plat::Current().System().GetVersionInfo(&info) && info.majorVersion == 5 && info.minorVersion == 0;
}

}  // namespace

// ---- Error scope ------------------------------------------------------------------


// ---- Building descriptors -----------------------------------------------------------

uint32_t CDCOMTool::CreateStandardSD(CErrorMgr& errorMgr, winsec::SecurityDescriptor* sd, int type) {
  *sd = winsec::SecurityDescriptor();
  winsec::Acl acl;
  for (const StandardAce& ace : StandardAces(type)) {
    if (const uint32_t rc = AddSidToACL(errorMgr, &acl, ace.mask, ace.sid(), true)) return rc;
  }
  sd->SetDacl(std::move(acl));
  return SetOwnerAndGroup(errorMgr, sd);
}

uint32_t CDCOMTool::CreateNewSD(CErrorMgr& errorMgr, winsec::SecurityDescriptor* sd) {
  *sd = winsec::SecurityDescriptor();
  if (const uint32_t rc = SetOwnerAndGroup(errorMgr, sd)) return rc;
  const uint32_t mask = IsWindows50() ? kComRightsExecute
                                      : kComRightsExecute | kComRightsExecuteLocal | kComRightsActivateLocal;
  sd->SetDacl(winsec::Acl({winsec::Ace::Allowed(mask, *sd->Owner())}));
  return winerr::kSuccess;
}

uint32_t CDCOMTool::CopyACL(const winsec::Acl& source, winsec::Acl* target) {
  std::vector<winsec::Ace>& aces = target->Aces();
  for (const winsec::Ace& ace : source.Aces()) {
    if (ace.type == winsec::kAccessDeniedAceType) aces.insert(aces.begin(), ace);
  }
  for (const winsec::Ace& ace : source.Aces()) {
    if (ace.type == winsec::kAccessAllowedAceType) aces.push_back(ace);
  }
  return winerr::kSuccess;
}

uint32_t CDCOMTool::AddSidToACL(CErrorMgr& errorMgr, winsec::Acl* acl, uint32_t mask, const winsec::Sid& sid,
                                bool allow) {
  const size_t size = acl->BytesInUse() + sid.Length() + kAceOverhead;
  winsec::Acl added;
  if (const uint32_t rc = added.SetAclSize(size)) {
    errorMgr.AddMessageF(kLevelError, kAddLabel, "InitializeAcl() failed. Error=%d", Code(rc));
    return rc;
  }
  CopyACL(*acl, &added);
  added.Append(allow ? winsec::Ace::Allowed(mask, sid) : winsec::Ace::Denied(mask, sid));
  // The second copy puts the new denied ACE first and the others back in
  // their order.
  winsec::Acl result;
  result.SetAclSize(size);
  CopyACL(added, &result);
  *acl = std::move(result);
  return winerr::kSuccess;
}

uint32_t CDCOMTool::AddUserToACL(CErrorMgr& errorMgr, winsec::Acl* acl, uint32_t mask, std::string_view domain,
                                 std::string_view user, bool allow) {
  const std::string account = domain.empty() ? std::string(user) : std::string(domain) + "\\" + std::string(user);
  winsec::Sid sid;
  if (const int rc = CTool::GetSidFromAccountName(nullptr, account, &sid)) {
    errorMgr.AddMessageF(kLevelError, kAddLabel, "GetSIDFromName(%s) failed. Error=%d", std::string(user).c_str(), rc);
    return static_cast<uint32_t>(rc);
  }
  errorMgr.AddMessageF(kLevelDebug, kAddLabel, "  GetSIDFromName(%s)", std::string(user).c_str());
  return AddSidToACL(errorMgr, acl, mask, sid, allow);
}

// ---- Reading and writing the registry ---------------------------------------------

uint32_t CDCOMTool::ReadDescriptorValue(plat::HKey key, std::string_view valueName, winsec::Bytes* selfRelative) {
  plat::RegValue value;
  const uint32_t rc = plat::Current().Registry().QueryValue(key, valueName, &value);
  if (rc != winerr::kSuccess) return rc;
  winsec::SecurityDescriptor parsed;
  if (value.type != plat::kRegBinary ||
      winsec::SecurityDescriptor::FromSelfRelative(winsec::AsBytes(value.data), &parsed) != winerr::kSuccess) {
    return winerr::kInvalidSecurityDescr;
  }
  const winsec::ByteView bytes = winsec::AsBytes(value.data);
  selfRelative->assign(bytes.begin(), bytes.end());
  return winerr::kSuccess;
}

uint32_t CDCOMTool::GetSecurityDescriptorFromRegistry(CErrorMgr& errorMgr, std::string_view keyPath,
                                                      std::string_view valueName, bool* isNew,
                                                      winsec::Bytes* selfRelative) {
  *isNew = false;
  plat::IRegistry& registry = plat::Current().Registry();
  plat::HKey key = plat::kNullKey;
  uint32_t rc = registry.OpenKey(plat::kHkeyLocalMachine, keyPath, plat::kKeyAllAccess, &key);
  if (rc != winerr::kSuccess && rc != winerr::kFileNotFound) {
    errorMgr.AddMessageF(kLevelError, kGetLabel, "RegistryKey containing DCOM options could not be opened. Error=%d",
                         Code(rc));
    return rc;
  }
  if (rc == winerr::kSuccess) {
    rc = ReadDescriptorValue(key, valueName, selfRelative);
    registry.CloseKey(key);
    if (rc == winerr::kInvalidSecurityDescr) {
      errorMgr.AddMessageF(kLevelError, kGetLabel,
                           "The value %s is not a valid self-relative security descriptor (REG_BINARY); it is left "
                           "as it is. Error=%d",
                           std::string(valueName).c_str(), Code(rc));
      return rc;
    }
    if (rc != winerr::kFileNotFound) {
      if (rc != winerr::kSuccess) {
        errorMgr.AddMessageF(kLevelError, kGetLabel, "The value %s could not be read. Error=%d",
                             std::string(valueName).c_str(), Code(rc));
      }
      return rc;
    }
  }
  // The key or the value is missing: the system default is in force.
  winsec::SecurityDescriptor created;
  rc = CreateNewSD(errorMgr, &created);
  if (rc != winerr::kSuccess) {
    errorMgr.AddMessage(kLevelInfo, kGetLabel, "  error by CreateNewSD");
    return rc;
  }
  *isNew = true;
  return created.ToSelfRelative(selfRelative);
}

uint32_t CDCOMTool::SetSecurityDescriptorToRegistry(CErrorMgr& errorMgr, std::string_view valueName,
                                                    const winsec::SecurityDescriptor& sd) {
  winsec::Bytes bytes;
  if (const uint32_t rc = sd.ToSelfRelative(&bytes)) {
    errorMgr.AddMessageF(kLevelError, kSetLabel, "MakeSelfRelativeSD() failed.  ReturnValue=%d", Code(rc));
    return rc;
  }
  plat::IRegistry& registry = plat::Current().Registry();
  plat::HKey key = plat::kNullKey;
  bool created = false;
  uint32_t rc = registry.CreateKey(plat::kHkeyLocalMachine, kOleKey, plat::kKeyAllAccess, &key, &created);
  if (rc != winerr::kSuccess) {
    errorMgr.AddMessageF(kLevelError, kSetLabel, "RegCreateKeyEx(%s\\%s) failed. Error: %d", "HKEY_LOCAL_MACHINE",
                         kOleKey, Code(rc));
    return rc;
  }
  rc = registry.SetValue(key, valueName, plat::kRegBinary, winsec::ToByteString(bytes));
  registry.CloseKey(key);
  const std::string name(valueName);
  if (rc != winerr::kSuccess) {
    errorMgr.AddMessageF(kLevelError, kSetLabel, "RegSetValueEx(%s\\%s\\%s) failed. Error: %d", "HKEY_LOCAL_MACHINE",
                         kOleKey, name.c_str(), Code(rc));
    return rc;
  }
  errorMgr.AddMessageF(kLevelDebug, kSetLabel, "  Set Permissions to HKLM\\%s %s", kOleKey, name.c_str());
  return winerr::kSuccess;
}

// ---- ACLs ------------------------------------------------------------------------

const winsec::Acl* CDCOMTool::GetACLFromSecurityDescriptor(CErrorMgr& errorMgr, const winsec::SecurityDescriptor* sd) {
  if (sd == nullptr) return nullptr;
  if (sd->Dacl() == nullptr) {
    errorMgr.AddMessage(kLevelError, kAclLabel, "  <Access is denied to everyone>");
    return nullptr;
  }
  return sd->Dacl();
}

uint32_t CDCOMTool::RemovePrincipalFromACL(CErrorMgr& errorMgr, winsec::Acl* acl, std::string_view name) {
  winsec::Sid sid;
  const std::string account(name);
  if (CTool::GetSidFromAccountName(nullptr, account, &sid) != 0) {
    errorMgr.AddMessageF(kLevelWarning, kRemoveLabel, "  The user %s  doesn't exist", account.c_str());
    return winerr::kSuccess;
  }
  errorMgr.AddMessageF(kLevelDebug, kRemoveLabel, "  remove Principal=%s  from ACL", account.c_str());
  std::vector<winsec::Ace>& aces = acl->Aces();
  const auto first = std::find_if(aces.begin(), aces.end(),
                                  [&](const winsec::Ace& ace) { return IsRemovableAceType(ace.type) && ace.sid == sid; });
  if (first != aces.end()) aces.erase(first);
  return winerr::kSuccess;
}

size_t CDCOMTool::RemoveAllAcesOf(winsec::Acl* acl, const winsec::Sid& sid) {
  return std::erase_if(acl->Aces(),
                       [&](const winsec::Ace& ace) { return IsRemovableAceType(ace.type) && ace.sid == sid; });
}

uint32_t CDCOMTool::MakeSDAbsolute(winsec::ByteView selfRelative, winsec::SecurityDescriptor* sd) {
  return winsec::SecurityDescriptor::FromSelfRelative(selfRelative, sd);
}

void CDCOMTool::AccountOfSid(const winsec::Sid& sid, std::string* domain, std::string* user) {
  plat::AccountName account;
  if (plat::Current().Security().LookupAccountSid("", sid, &account) == winerr::kSuccess) {
    *domain = account.domain;
    *user = account.name;
  } else {
    domain->clear();
    *user = sid.ToString();
  }
}

const char* CDCOMTool::LimitDefaultValueName(int kind) {
  switch (kind) {
    case 1: return "DefaultLaunchPermission";
    case 2: return "DefaultAccessPermission";
    case 3: return "MachineLaunchRestriction";
    case 4: return "MachineAccessRestriction";
    default: return "";
  }
}
