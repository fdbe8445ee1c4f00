// The permission engine.
#include "access/Permission.h"

#include <algorithm>
#include <vector>

#include "access/WellKnownAccounts.h"
#include "infra/ErrorMgr.h"
#include "platform/Files.h"
#include "platform/Platform.h"
#include "platform/WinError.h"
#include "platform/text/Text.h"
#include "platform/winsec/SecurityDescriptor.h"
#include "resources/ResourceMgr.h"
#include "securityfiles/XmlServices.h"

namespace {

constexpr const char* kGrantLabel = "CPermission::GrantDenyAccessToUser";
constexpr const char* kMergeLabel = "::AddAceToObjectsSecurityDescriptor";
constexpr const char* kExplicitLabel = "::AddExplicitEntriesOfObject";
constexpr const char* kFittingLabel = "CPermission::HaveFittingTrustee";
constexpr const char* kNameLabel = "CPermission::GetNameFromExplicitAccess";
constexpr const char* kDoubletLabel = "CPermission::RemoveAllDoublets";
constexpr const char* kDenyRightsLabel = "CPermission::GetAccessDenyRights()";
constexpr const char* kOwnerLabel = "::ChangeOwnerToAdmin";
constexpr const char* kRecurseLabel = "CheckRecurseSubDir";
constexpr const char* kOwnershipLabel = "CPermission::IsOwnershipSystem";
constexpr const char* kPrivilegeLabel = "CPermission::SetPrivilege";
constexpr const char* kCurrentLabel = "CPermission::GetCurrentFeature";
constexpr const char* kLogLabel = "CPermission::AddLogEntriesFromFeature";
constexpr const char* kListLabel = "CPermission::ListACL";

constexpr uint32_t kMaxAcesWithoutDoubletCheck = 20;

int Code(uint32_t rc) { return static_cast<int>(rc); }

// The account of a SID as the engine names it: "DOMAIN\name", a BUILTIN
// alias by its bare name whatever the machine calls that domain, and a SID
// without an account by its text. `found` tells whether the lookup answered.
struct SidAccount {
  std::string name;
  std::string domain;
  bool found = false;
  uint32_t error = 0;
};

SidAccount LookUpSid(const winsec::Sid& sid) {
  plat::AccountName account;
  SidAccount result;
  result.error = plat::Current().Security().LookupAccountSid("", sid, &account);
  result.found = result.error == winerr::kSuccess;
  if (result.found) {
    result.name = account.name;
    result.domain = account.domain;
  } else {
    result.name = sid.ToString();
  }
  return result;
}

bool IsBuiltinAlias(const winsec::Sid& sid) { return sid.IsInDomain(winsec::Sid::BuiltinDomain()); }

std::string QualifiedName(const winsec::Sid& sid, const SidAccount& account) {
  if (!account.found || account.domain.empty() || IsBuiltinAlias(sid)) return account.name;
  return account.domain + "\\" + account.name;
}

std::string AclInfo(const char* prefix, const winsec::Acl& acl) {
  return text::Format("%s  AceCount=%d,  AclRevision=%d,  AclSize=%d,  Sbz1=%d,  Sbz2=%d", prefix,
                      static_cast<int>(acl.AceCount()), static_cast<int>(acl.Revision()),
                      static_cast<int>(acl.AclSize()), 0, 0);
}

// The header fields of a descriptor read for its DACL only: no owner or
// group was asked for, so their references are 0.
std::string DescriptorInfo(const winsec::SecurityDescriptor& sd) {
  return text::Format("ctrl=0x%.4x  Group=0x%.4x  Owner=0x%.4x  Revision=0x%.4x  Sbz1=0x%.4x",
                      static_cast<unsigned>(sd.Control()), 0u, 0u, 1u, 0u);
}

std::string TrusteeText(const winsec::ExplicitAccess& record) {
  return record.trustee.form == winsec::TrusteeForm::kName ? record.trustee.name : record.trustee.sid.ToString();
}

bool IsAccessAce(const winsec::Ace& ace) {
  return ace.type == winsec::kAccessAllowedAceType || ace.type == winsec::kAccessDeniedAceType;
}

}  // namespace

CPermission::CPermission() = default;
CPermission::~CPermission() = default;

// ---- Rights --------------------------------------------------------------------

bool CPermission::GetAccessDenyRights(CErrorMgr& errorMgr, uint32_t* allowMask, uint32_t* denyMask, int32_t code,
                                      uint32_t mask) {
  switch (code) {
    case kRightNotGiven:
    case CFeature::kPermissionNeither:
      return true;
    case CFeature::kPermissionDenied:
      *denyMask |= mask;
      return true;
    case CFeature::kPermissionAllowed:
      *allowMask |= mask;
      return true;
    default:
      errorMgr.AddMessage(kLevelError, kDenyRightsLabel,
                          "   There is an Permission accessright set both true - this is not allowed! Check the "
                          "security XML");
      return false;
  }
}

// ---- Doublets --------------------------------------------------------------------

bool CPermission::IsSameAce(const winsec::Ace& a, const winsec::Ace& b) {
  return a.type == b.type && a.flags == b.flags && IsAccessAce(a) && a.sid == b.sid;
}

void CPermission::RemoveAllDoublets(CErrorMgr& errorMgr, winsec::Acl* acl) {
  std::vector<winsec::Ace>& aces = acl->Aces();
  bool reported = false;
  for (size_t i = 0; i < aces.size();) {
    const auto kept = std::find_if(aces.begin(), aces.begin() + static_cast<long>(i),
                                   [&](const winsec::Ace& earlier) { return IsSameAce(earlier, aces[i]); });
    if (kept == aces.begin() + static_cast<long>(i)) {
      ++i;
      continue;
    }
    if (!reported) {
      errorMgr.AddMessage(kLevelDebug, kDoubletLabel,
                          "  Found doublet(s) in Access Control list (ACL)! Trying to remove doublets.");
      reported = true;
    }
    // The rights of the later ACE stay granted (or denied) through the first.
    kept->mask |= aces[i].mask;
    aces.erase(aces.begin() + static_cast<long>(i));
  }
}

// ---- Ownership ---------------------------------------------------------------------

bool CPermission::SetPrivilege(CErrorMgr& errorMgr, bool enable) {
  plat::ISecurity& security = plat::Current().Security();
  uint64_t luid = 0;
  if (const uint32_t rc = security.LookupPrivilegeValue(plat::kSeTakeOwnershipPrivilege, &luid)) {
    errorMgr.AddMessageF(kLevelWarning, kPrivilegeLabel, "  LookupPrivilegeValue error: %u", rc);
    return false;
  }
  const uint32_t rc = security.AdjustTokenPrivilege(luid, enable ? plat::kSePrivilegeEnabled : 0);
  if (rc == winerr::kNotAllAssigned) {
    errorMgr.AddMessage(kLevelWarning, kPrivilegeLabel, "  The token does not have the specified privilege.");
    return false;
  }
  if (rc != winerr::kSuccess) {
    errorMgr.AddMessageF(kLevelWarning, kPrivilegeLabel, "  AdjustTokenPrivileges error: %u\n", rc);
    return false;
  }
  return true;
}

bool CPermission::IsOwnershipSystem(CErrorMgr& errorMgr, const std::string& path) {
  winsec::SecurityDescriptor sd;
  const uint32_t rc =
      plat::Current().Security().GetNamedSecurityInfo(path, plat::SeObjectType::kFile, plat::kOwnerSecurityInformation, &sd);
  if (rc == winerr::kAccessDenied) {
    errorMgr.AddMessageF(kLevelInfo, kOwnershipLabel, "  Repair Ownership for: %s", path.c_str());
    return true;
  }
  if (rc != winerr::kSuccess) {
    errorMgr.AddMessageF(kLevelWarning, kOwnershipLabel, "GetNamedSecurityInfo:  error=(%d)", Code(rc));
    return false;
  }
  if (!sd.Owner()) {
    errorMgr.AddMessage(kLevelDebug, kOwnershipLabel, "  GetSecurityDescriptorOwner:  No owner was found");
    return false;
  }
  const SidAccount owner = LookUpSid(*sd.Owner());
  if (!owner.found) return false;
  errorMgr.AddMessageF(kLevelDebug, kOwnershipLabel, "  Ownership from %s  Domain=%s  Name=%s ", path.c_str(),
                       owner.domain.c_str(), owner.name.c_str());
  return !systemAccountName_.empty() && text::AsciiLower(owner.name) == text::AsciiLower(systemAccountName_);
}

// Walks the tree with a list of folders still to visit rather than by
// recursion, and never enters a reparse point (a link could lead anywhere,
// even back into the tree).
void CPermission::CheckRecurseSubDir(CErrorMgr& errorMgr, const std::string& path, const winsec::Sid& owner) {
  plat::IFiles& files = plat::Current().Files();
  std::vector<std::string> folders = {path};
  while (!folders.empty()) {
    const std::string folder = folders.back();
    folders.pop_back();
    std::vector<plat::FileEntry> found;
    if (files.Find(folder + "\\*.*", &found) != winerr::kSuccess) continue;
    for (const plat::FileEntry& entry : found) {
      if (entry.name == "." || entry.name == "..") continue;
      const std::string child = folder + "\\" + entry.name;
      if (IsOwnershipSystem(errorMgr, child)) {
        const uint32_t rc = plat::Current().Security().SetNamedSecurityInfo(
            child, plat::SeObjectType::kFile, plat::kOwnerSecurityInformation, &owner, nullptr, nullptr, nullptr);
        if (rc != winerr::kSuccess) {
          errorMgr.AddMessageF(kLevelWarning, kRecurseLabel, "    Could not set owner to admin.  Retval=%d", Code(rc));
          break;
        }
        errorMgr.AddMessageF(kLevelDebug, kRecurseLabel, "  change OWNERSHIP from SYSTEM to Administrator at path= %s",
                             child.c_str());
      }
      if (entry.IsDirectory() && !entry.IsReparsePoint()) folders.push_back(child);
    }
  }
}

void CPermission::ChangeOwnerToAdmin(CErrorMgr& errorMgr, const std::string& path) {
  const winsec::Sid administrators = winsec::Sid::BuiltinAdministrators();
  errorMgr.AddMessageF(kLevelDebug, kOwnerLabel, "ConvertSidToStringSid: %s", administrators.ToString().c_str());
  if (!SetPrivilege(errorMgr, true)) {
    errorMgr.AddMessage(kLevelWarning, kOwnerLabel, "You must be logged on as Administrator");
    return;
  }
  if (IsOwnershipSystem(errorMgr, path)) {
    const uint32_t rc = plat::Current().Security().SetNamedSecurityInfo(
        path, plat::SeObjectType::kFile, plat::kOwnerSecurityInformation, &administrators, nullptr, nullptr, nullptr);
    if (rc != winerr::kSuccess) {
      errorMgr.AddMessageF(kLevelInfo, kOwnerLabel, "    Could not set owner. Error:  dwRes=%d", Code(rc));
      SetPrivilege(errorMgr, false);
      return;
    }
    errorMgr.AddMessageF(kLevelDebug, kOwnerLabel, "  change OWNERSHIP from SYSTEM to Administrator at path= %s",
                         path.c_str());
  }
  CheckRecurseSubDir(errorMgr, path, administrators);
  if (!SetPrivilege(errorMgr, false)) {
    errorMgr.AddMessage(kLevelWarning, kOwnerLabel, "Failed SetPrivilege call unexpectedly");
  }
}

// ---- Trustees ------------------------------------------------------------------------

std::string CPermission::GetNameFromExplicitAccess(CErrorMgr& errorMgr, const winsec::ExplicitAccess& record) {
  if (record.trustee.form == winsec::TrusteeForm::kName) return record.trustee.name;
  if (record.trustee.form != winsec::TrusteeForm::kSid) {
    errorMgr.AddMessage(kLevelDetail, kNameLabel, "EXPLICIT_ACCESS bad Trustee.TrusteeForm");
    return "";
  }
  const SidAccount account = LookUpSid(record.trustee.sid);
  if (!account.found) {
    if (account.error != winerr::kNoneMapped) {
      errorMgr.AddMessageF(kLevelWarning, kNameLabel, "LookupAccountSid() error=%d", Code(account.error));
    }
    return "";
  }
  errorMgr.AddMessageF(kLevelDebug, kNameLabel, "  LookupAccountSid(  wszName=%s; DomainName=%s; eUse=%d",
                       account.name.c_str(), account.domain.c_str(), 0);
  const std::string name = QualifiedName(record.trustee.sid, account);
  errorMgr.AddMessageF(kLevelDebug, kNameLabel, "  strName=%s", name.c_str());
  return name;
}

bool CPermission::HaveFittingTrustee(CErrorMgr& errorMgr, const std::vector<winsec::ExplicitAccess>& records,
                                     const winsec::ExplicitAccess& record) {
  const std::string wanted = text::AsciiLower(GetNameFromExplicitAccess(errorMgr, record));
  if (wanted.empty()) return false;
  for (const winsec::ExplicitAccess& candidate : records) {
    if (candidate.mode != record.mode) continue;
    if (text::AsciiLower(GetNameFromExplicitAccess(errorMgr, candidate)) == wanted) {
      errorMgr.AddMessage(kLevelDebug, kFittingLabel, "  FoundFittingTrusteeInList");
      return true;
    }
  }
  return false;
}

uint32_t CPermission::ResolveTrustee(std::string_view name, winsec::Sid* sid) const {
  const auto known = trustees_.find(std::string(name));
  if (known != trustees_.end()) {
    *sid = known->second;
    return winerr::kSuccess;
  }
  std::string domain;
  plat::SidNameUse use;
  return plat::Current().Security().LookupAccountName("", name, sid, &domain, &use);
}

// The grant and the deny record of the current entry, appended to
// `records`. False when the entry is not applied: its trustee is unknown,
// or it names none.
bool CPermission::BuildRecords(CErrorMgr& errorMgr, std::vector<winsec::ExplicitAccess>* records) {
  const uint8_t flags = GetInheritanceFlags();
  uint32_t allow = 0;
  uint32_t deny = 0;
  GetAccessMasks(errorMgr, &allow, &deny);
  if (current_.user == kInheritedRightsUser) return true;
  if (current_.user.empty()) return false;
  const ResolvedAccount account = ResolveAccount(current_.domain, current_.user);
  if (text::AsciiLower(current_.user) == "system") systemAccountName_ = account.name;
  if (!account.found) {
    if (current_.domain.empty()) {
      errorMgr.AddMessageF(kLevelWarning, kGrantLabel,
                           "  User or group %s does not exist;  rights could not be assigned to registry key or folder",
                           account.name.c_str());
    } else {
      errorMgr.AddMessageF(kLevelWarning, kGrantLabel,
                           "  User or group %s/%s does not exist;  rights could not be assigned to registry key or "
                           "folder",
                           current_.domain.c_str(), account.name.c_str());
    }
    return false;
  }
  const std::string trustee = current_.domain.empty() ? account.name : current_.domain + "\\" + account.name;
  trustees_[trustee] = account.sid;
  records->push_back(
      winsec::ExplicitAccess::ForName(winsec::AccessMode::kGrant, allow, trustee, flags, winsec::TrusteeType::kUser));
  records->push_back(
      winsec::ExplicitAccess::ForName(winsec::AccessMode::kDeny, deny, trustee, flags, winsec::TrusteeType::kUser));
  return true;
}

// ---- Applying ------------------------------------------------------------------------

plat::SeObjectType CPermission::EffectiveType(CErrorMgr& errorMgr, plat::SeObjectType type, int level) const {
  if (type != plat::SeObjectType::kRegistryKey || !IsOsWow()) return type;
  errorMgr.AddMessage(level, kMergeLabel, "    Registry access was changed to WOW");
  return plat::SeObjectType::kRegistryWow64_32Key;
}

// The entries are applied in the engine's order: the current entry (the
// last one read) first, then the list from its start to the one before the
// last. Every merge gets the records of all entries applied so far, which
// folds into the ACEs already written. The tree below is rewritten once,
// after the last entry, from the object's explicit entries as they then are.
uint32_t CPermission::GrantDenyAccessToUser(CErrorMgr& errorMgr, plat::SeObjectType objectType, bool replaceAllChild) {
  errorMgr.AddMessageF(kLevelDebug, kGrantLabel, "CALL with  SE_OBJECT_TYPE=%d;  ReplaceAllChild=%d",
                       static_cast<int>(objectType), replaceAllChild ? 1 : 0);
  std::vector<winsec::ExplicitAccess> records;
  bool parentToChild = false;
  bool rewriteSubtree = false;
  ownershipWalkedAs_.reset();
  for (;;) {
    if (BuildRecords(errorMgr, &records)) {
      if (current_.inheritFromParentToChild == 1) parentToChild = true;
      const uint32_t rc =
          AddAceToObjectsSecurityDescriptor(errorMgr, path_, objectType, records, replaceAllChild, parentToChild);
      if (rc != winerr::kSuccess) return rc;
      rewriteSubtree = rewriteSubtree || current_.replaceAllChild == 1;
    }
    if (!LoadNextEntry()) break;
    replaceAllChild = false;
  }
  return rewriteSubtree ? RewriteSubtree(errorMgr, objectType) : winerr::kSuccess;
}

// Everything below gets the object's explicit entries as inherited ones
// (rights that stop at the object's own level dropped) and inherits from
// its parent again.
uint32_t CPermission::RewriteSubtree(CErrorMgr& errorMgr, plat::SeObjectType objectType) {
  std::vector<winsec::ExplicitAccess> records;
  const uint32_t read = AddExplicitEntriesOfObject(errorMgr, objectType, &records);
  for (winsec::ExplicitAccess& record : records) {
    if (record.inheritance & winsec::kNoPropagateInheritAce) record.mask = 0;
    record.inheritance |= winsec::kInheritedAce;
  }
  ownershipCovered_ = true;
  const uint32_t rewritten = ReplaceAllChildFileAccess(errorMgr, path_, objectType, records, true);
  ownershipCovered_ = false;
  return read != winerr::kSuccess ? read : rewritten;
}

// Merges the records one at a time. A record that carries INHERITED_ACE is
// written as an inherited ACE: the unprotected write that follows replaces
// such ACEs by what the parent passes down.
uint32_t CPermission::MergeRecords(CErrorMgr& errorMgr, const std::string& objectName,
                                   const std::vector<winsec::ExplicitAccess>& records, winsec::Acl* dacl) {
  const auto resolve = [this](std::string_view name, winsec::Sid* sid) { return ResolveTrustee(name, sid); };
  for (const winsec::ExplicitAccess& record : records) {
    errorMgr.AddMessage(kLevelDebug, kMergeLabel,
                        "  Create a new ACL that possibly merges the new ACE into the modified existing DACL");
    const std::string trustee = TrusteeText(record);
    errorMgr.AddMessageF(kLevelInfo, kMergeLabel, "    SetEntriesInAcl:  %s AccessPermissions=0x%.8x; Inheritance=%d; Name=%s",
                         record.mask != 0 ? "Allowed" : "Denied ", record.mask, static_cast<int>(record.inheritance),
                         trustee.c_str());
    if (record.mask == 0) continue;
    uint32_t rc;
    winsec::Acl merged;
    if (record.inheritance & winsec::kInheritedAce) {
      winsec::Sid sid = record.trustee.sid;
      rc = record.trustee.form == winsec::TrusteeForm::kSid ? winerr::kSuccess : ResolveTrustee(record.trustee.name, &sid);
      merged = *dacl;
      const uint8_t flags = static_cast<uint8_t>(record.inheritance);
      merged.Append(record.mode == winsec::AccessMode::kDeny ? winsec::Ace::Denied(record.mask, sid, flags)
                                                             : winsec::Ace::Allowed(record.mask, sid, flags));
    } else {
      rc = winsec::MergeEntriesIntoAcl({&record, 1}, dacl, resolve, &merged);
    }
    if (rc != winerr::kSuccess) {
      errorMgr.AddMessageF(kLevelWarning, kMergeLabel,
                           "    SetEntriesInAcl() file=\"%s\" trustee=\"%s\" error=ACCESS_DENIED - file is blocked",
                           objectName.c_str(), trustee.c_str());
      return winerr::kAccessDenied;
    }
    *dacl = std::move(merged);
    errorMgr.AddMessage(kLevelDebug, kMergeLabel, AclInfo("NewDACL:", *dacl));
  }
  return winerr::kSuccess;
}

uint32_t CPermission::AddAceToObjectsSecurityDescriptor(CErrorMgr& errorMgr, const std::string& objectName,
                                                        plat::SeObjectType objectType,
                                                        const std::vector<winsec::ExplicitAccess>& records,
                                                        bool replaceAllChild, bool parentToChild) {
  errorMgr.AddMessageF(kLevelDebug, kMergeLabel, "CALL with:  ReplaceAllChild=%d;  ParentToChild=%d;  RemoveParentToChild=%d",
                       replaceAllChild ? 1 : 0, parentToChild ? 1 : 0, current_.removeInherited ? 1 : 0);
  if (objectType == plat::SeObjectType::kFile && !ownershipCovered_ && ownershipWalkedAs_ != systemAccountName_) {
    ChangeOwnerToAdmin(errorMgr, objectName);
    ownershipWalkedAs_ = systemAccountName_;
  }
  const plat::SeObjectType type = EffectiveType(errorMgr, objectType, kLevelDebug);
  plat::ISecurity& security = plat::Current().Security();
  const char* name = objectName.c_str();
  const char* user = current_.user.c_str();

  winsec::SecurityDescriptor sd;
  if (const uint32_t rc = security.GetNamedSecurityInfo(objectName, type, plat::kDaclSecurityInformation, &sd)) {
    errorMgr.AddMessageF(kLevelWarning, kMergeLabel, "    GetNamedSecurityInfo( file=\"%s\")  trustee=\"%s\"  error=%d",
                         name, user, Code(rc));
    return rc;
  }
  errorMgr.AddMessageF(kLevelDebug, kMergeLabel, "GetNamedSecurityInfo():  eObjectType=%d  %s",
                       static_cast<int>(type), DescriptorInfo(sd).c_str());

  winsec::Acl dacl;
  std::vector<winsec::ExplicitAccess> explicitEntries;
  const bool hasDacl = sd.Dacl() != nullptr;
  if (hasDacl) {
    dacl = *sd.Dacl();
    if (dacl.AceCount() > kMaxAcesWithoutDoubletCheck) RemoveAllDoublets(errorMgr, &dacl);
    if (!replaceAllChild && !parentToChild) {
      // The DACL becomes protected: its inherited ACEs go, or stay as explicit ones.
      std::vector<winsec::Ace>& aces = dacl.Aces();
      for (size_t i = aces.size(); i-- > 0;) {
        if (!aces[i].IsInherited()) continue;
        if (current_.removeInherited) {
          errorMgr.AddMessage(kLevelDebug, kMergeLabel, "  remove inherited ACEs");
          aces.erase(aces.begin() + static_cast<long>(i));
          errorMgr.AddMessageF(kLevelDebug, kMergeLabel, "  DeleteAce() file=\"%s\"", name);
        } else {
          aces[i].flags &= static_cast<uint8_t>(~winsec::kInheritedAce);
          errorMgr.AddMessage(kLevelDebug, kMergeLabel, "  copy inherited ACEs but mark as not inherited");
        }
      }
      if (errorMgr.IsError()) return winerr::kSuccess;
    }
    winsec::ExplicitEntriesFromAcl(dacl, &explicitEntries);
    errorMgr.AddMessage(kLevelDebug, kMergeLabel, AclInfo("OldDACL:", dacl));
    errorMgr.AddMessageF(kLevelDebug, kMergeLabel, "GetExplicitEntriesFromAcl()  file=\"%s\"  trustee=\"%s\"  entries=%u",
                         name, user, static_cast<unsigned>(explicitEntries.size()));
  } else {
    errorMgr.AddMessageF(kLevelWarning, kMergeLabel,
                         "    Found an object \"%s\" with damaged access control list (acl). Trying to repair.", name);
  }

  if (replaceAllChild) {
    errorMgr.AddMessage(kLevelDebug, kMergeLabel, "  ReplaceAllChild==1");
    if (!records.empty()) errorMgr.AddMessage(kLevelDebug, kMergeLabel, "TP2  bReplaceAllChild==1");
    dacl = winsec::Acl();
  } else {
    errorMgr.AddMessage(kLevelDebug, kMergeLabel, "  ReplaceAllChild==0");
    // From the last entry to the first, so the ACE indices still to come stay valid.
    for (size_t i = explicitEntries.size(); i-- > 0;) {
      errorMgr.AddMessage(kLevelDebug, kMergeLabel, "TP1  remove old ACEs of trustee");
      if (!HaveFittingTrustee(errorMgr, records, explicitEntries[i])) continue;
      errorMgr.AddMessage(kLevelDebug, kMergeLabel, "TP2  remove old ACEs of trustee");
      const size_t aceIndex = explicitEntries[i].sourceAceIndex.value_or(i);
      dacl.Aces().erase(dacl.Aces().begin() + static_cast<long>(aceIndex));
      errorMgr.AddMessageF(kLevelDebug, kMergeLabel, "  DeleteAce() file=\"%s\" trustee=\"%s\" ", name, user);
    }
  }

  const uint32_t result = MergeRecords(errorMgr, objectName, records, &dacl);
  // A failed merge writes nothing: the old DACL stays as it was.
  if (result != winerr::kSuccess || errorMgr.IsError()) return result;

  sd.SetControlBits(winsec::kSeDaclProtected, parentToChild ? 0 : winsec::kSeDaclProtected);
  if (parentToChild) errorMgr.AddMessage(kLevelDebug, kMergeLabel, "SetSecurityDescriptorControl(): ParentToChild");
  errorMgr.AddMessageF(kLevelDebug, kMergeLabel, "  SetSecurityDescriptorControl():  %s  bParentToChild=%d",
                       DescriptorInfo(sd).c_str(), parentToChild ? 1 : 0);
  errorMgr.AddMessage(kLevelDebug, kMergeLabel, AclInfo("TP1: NewDACL:", dacl));

  const uint32_t information = plat::kDaclSecurityInformation | (parentToChild
                                                                     ? plat::kUnprotectedDaclSecurityInformation
                                                                     : plat::kProtectedDaclSecurityInformation);
  if (const uint32_t rc = security.SetNamedSecurityInfo(objectName, type, information, nullptr, nullptr, &dacl, nullptr)) {
    // A refused write is an error of the run, not a detail.
    errorMgr.AddMessageF(kLevelError, kMergeLabel, "    SetNamedSecurityInfo(file=\"%s\") trustee=\"%s\" error=%d",
                         name, user, Code(rc));
    return rc;
  }
  winsec::SecurityDescriptor written;
  if (const uint32_t rc = security.GetNamedSecurityInfo(objectName, type, plat::kDaclSecurityInformation, &written)) {
    errorMgr.AddMessageF(kLevelDetail, kMergeLabel, "    GetNamedSecurityInfo(file=\"%s\") trustee=\"%s\" error=%d",
                         name, user, Code(rc));
    return rc;
  }
  return winerr::kSuccess;
}

uint32_t CPermission::AddExplicitEntriesOfObject(CErrorMgr& errorMgr, plat::SeObjectType objectType,
                                                 std::vector<winsec::ExplicitAccess>* records) {
  const plat::SeObjectType type = EffectiveType(errorMgr, objectType, kLevelDebug);
  winsec::SecurityDescriptor sd;
  if (const uint32_t rc =
          plat::Current().Security().GetNamedSecurityInfo(path_, type, plat::kDaclSecurityInformation, &sd)) {
    errorMgr.AddMessageF(kLevelError, kExplicitLabel, "GetNamedSecurityInfo(file=\"%s\") trustee=\"%s\" error=%d",
                         path_.c_str(), current_.user.c_str(), Code(rc));
    return rc;
  }
  std::vector<winsec::ExplicitAccess> found;
  if (sd.Dacl()) winsec::ExplicitEntriesFromAcl(*sd.Dacl(), &found);
  records->insert(records->end(), found.rbegin(), found.rend());
  return winerr::kSuccess;
}

// ---- The object's current DACL --------------------------------------------------------

void CPermission::ListACL(const winsec::Acl* acl, CErrorMgr& errorMgr) {
  if (acl == nullptr) {
    errorMgr.AddMessage(kLevelInfo, kListLabel, "    ListACL(pAcl == NULL");
    return;
  }
  for (const winsec::Ace& ace : acl->Aces()) {
    if (!IsAccessAce(ace)) {
      errorMgr.AddMessageF(kLevelInfo, kListLabel, "    GetAce() unexpected AceType (%d)", static_cast<int>(ace.type));
      continue;
    }
    const SidAccount account = LookUpSid(ace.sid);
    errorMgr.AddMessageF(kLevelInfo, kListLabel, "      %s 0x%.8x/%d,0x%.2x to %s\\%s.",
                         ace.type == winsec::kAccessAllowedAceType ? "Allowed" : "Denied ", ace.mask,
                         static_cast<int>(ace.type), static_cast<unsigned>(ace.flags), account.domain.c_str(),
                         account.name.c_str());
  }
}

void CPermission::AddEntriesFromAcl(CErrorMgr& errorMgr, const winsec::Acl& dacl, CPermission* result) const {
  bool inheritedListed = false;
  for (const winsec::Ace& ace : dacl.Aces()) {
    if (!IsAccessAce(ace)) {
      errorMgr.AddMessageF(kLevelWarning, kCurrentLabel, "  GetAce() unexpected AceType (%d)", static_cast<int>(ace.type));
      continue;
    }
    const bool allowed = ace.type == winsec::kAccessAllowedAceType;
    // Inherited is what carries INHERITED_ACE, for denies as for allows: a
    // deny that is merely inheritable (CI, OI ...) is the object's own and
    // must survive in the values read before a change.
    if (ace.IsInherited()) {
      if (!inheritedListed) result->AddInheritedRightsEntry(*this);
      inheritedListed = true;
    } else {
      const SidAccount account = LookUpSid(ace.sid);
      result->AddEntryFromAce(*this, ace.mask, ace.flags, account.name, account.found ? account.domain : "", allowed);
    }
    if (errorMgr.GetHighestLevel() >= kLevelCritical) break;
  }
}

std::unique_ptr<CFeature> CPermission::GetCurrentFeature(CErrorMgr& errorMgr) {
  std::unique_ptr<CPermission> result = CreateEmptyFeature();
  result->CopyOriginFrom(*this);
  result->CopyObjectFrom(*this);
  const plat::SeObjectType type = EffectiveType(errorMgr, ObjectType(), kLevelInfo);
  winsec::SecurityDescriptor sd;
  const uint32_t rc = plat::Current().Security().GetNamedSecurityInfo(path_, type, plat::kDaclSecurityInformation, &sd);
  if (rc == winerr::kPathNotFound) {
    errorMgr.AddMessageF(kLevelWarning, kCurrentLabel, "  Path not found:  path=\"%s\"  user=\"%s\"", path_.c_str(),
                         current_.user.c_str());
    return result;
  }
  if (rc != winerr::kSuccess) {
    errorMgr.AddMessageF(kLevelWarning, kCurrentLabel, "  GetNamedSecurityInfo( path=\"%s\"  user=\"%s\"  error=%d",
                         path_.c_str(), current_.user.c_str(), Code(rc));
    return result;
  }
  if (sd.Dacl() == nullptr) {
    errorMgr.AddMessageF(kLevelWarning, kCurrentLabel,
                         "  pCurrentDACL (Access Control List) of the object \"%s\" is  damaged or unavailable. No "
                         "permission settings will be set.",
                         path_.c_str());
    return result;
  }
  ListACL(sd.Dacl(), errorMgr);
  errorMgr.AddMessageF(kLevelInfo, kCurrentLabel, "    File- or Registry-Access to %s", path_.c_str());
  AddEntriesFromAcl(errorMgr, *sd.Dacl(), result.get());
  return result;
}

void CPermission::AddLogEntriesFromFeature(CErrorMgr& errorMgr) {
  if (!RewindEntries()) {
    errorMgr.AddMessage(kLevelInfo, kLogLabel, "    ---Nothing allowed/denied---");
    return;
  }
  bool more = true;
  while (more) {
    more = LoadNextEntry();
    const uint8_t flags = GetInheritanceFlags();
    uint32_t allow = 0;
    uint32_t deny = 0;
    GetAccessMasks(errorMgr, &allow, &deny);
    const char* domain = current_.domain.c_str();
    const char* user = current_.user.c_str();
    if (allow != 0) {
      errorMgr.AddMessageF(kLevelInfo, kLogLabel, "      Allowed 0x%.8x/%d,0x%.2x to %s\\%s.", allow, 0,
                           static_cast<unsigned>(flags), domain, user);
    }
    if (deny != 0) {
      errorMgr.AddMessageF(kLevelInfo, kLogLabel, "      Denied  0x%.8x/%d,0x%.2x to %s\\%s.", deny, 0,
                           static_cast<unsigned>(flags), domain, user);
    }
    if (allow == 0 && deny == 0 && current_.user == kInheritedRightsUser) {
      errorMgr.AddMessage(kLevelInfo, kLogLabel, "      Allowed/Denied Inherited User rights");
    }
  }
}

// ---- Reading and writing what both kinds share -------------------------------------------

namespace {

constexpr uint32_t kSynchronize = 0x00100000;
constexpr int kInheritText = 125;
constexpr int kReplaceText = 126;
constexpr int kCopyInheritedText = 171;
constexpr int kRemoveInheritedText = 172;

std::string XmlValueOf(const xml::Node& node, std::string_view xpath) {
  std::string value;
  GetXmlValue(node, xpath, &value);
  return value;
}

}  // namespace

void CPermission::GetInheritanceSettings(const xml::Node& node) {
  current_.inheritFromParentToChild =
      text::AsciiLower(XmlValueOf(node, "t:inheritFromParentToChild/@value")) == "true" ? 1 : 0;
  current_.removeInherited =
      text::AsciiLower(XmlValueOf(node, "t:inheritFromParentToChild/@inherited")) == "removeinherited";
  const std::string replace = text::AsciiLower(XmlValueOf(node, "t:replaceAllChild/@value"));
  current_.replaceAllChild = replace == "true" ? 1 : replace == "false" ? 0 : -1;
}

void CPermission::SetInheritanceSettingsToXml(const xml::Node& pathElement, bool withMessage) const {
  const xml::Node inherit =
      GetOrCreateChildElement(pathElement, "t:inheritFromParentToChild", ResourceTextIf(withMessage, kInheritText));
  SetXmlAttribute(inherit, "value", current_.inheritFromParentToChild == 1 ? "true" : "false");
  SetXmlAttribute(inherit, "inherited", current_.removeInherited ? "RemoveInherited" : "CopyInherited");
  if (withMessage) {
    SetXmlAttribute(inherit, "message2",
                    CResourceMgr::GetResourceText(current_.removeInherited ? kRemoveInheritedText : kCopyInheritedText));
  }
  const xml::Node replace =
      GetOrCreateChildElement(pathElement, "t:replaceAllChild", ResourceTextIf(withMessage, kReplaceText));
  SetXmlAttribute(replace, "value", current_.replaceAllChild == 1 ? "true" : "false");
}

bool CPermission::ReadRights(const xml::Node& entry, std::span<const PermissionRight> rights) {
  bool anyValid = false;
  for (size_t i = 0; i < rights.size(); ++i) {
    const xml::Node right = entry.SelectSingleNode(rights[i].element);
    bool valid = false;
    current_.rights[i] = right.IsNull() ? kRightNotGiven : GetProgramPermission(right, &valid);
    anyValid = anyValid || valid;
  }
  return anyValid;
}

void CPermission::SetRightsToXml(const xml::Node& entry, std::span<const PermissionRight> rights,
                                 bool withMessage) const {
  for (size_t i = 0; i < rights.size(); ++i) {
    SetProgramPermissionToXml(entry, rights[i].element, current_.rights[i],
                              ResourceTextIf(withMessage, rights[i].text));
  }
}

bool CPermission::AccessMasksOf(CErrorMgr& errorMgr, std::span<const PermissionRight> rights,
                                std::span<const size_t> order, uint32_t* allowMask, uint32_t* denyMask) const {
  *allowMask = 0;
  *denyMask = 0;
  for (const size_t i : order) {
    if (!GetAccessDenyRights(errorMgr, allowMask, denyMask, current_.rights[i], rights[i].mask)) return false;
  }
  if (current_.synchronize && *allowMask != 0) *allowMask |= kSynchronize;
  return true;
}

void CPermission::SetRightsFromAce(std::span<const PermissionRight> rights, uint32_t mask, bool allowed) {
  const int32_t code = allowed ? kPermissionAllowed : kPermissionDenied;
  current_.rights[0] = mask == rights[0].mask ? code : kRightNotGiven;
  for (size_t i = 1; i < rights.size(); ++i) current_.rights[i] = (mask & rights[i].mask) != 0 ? code : kRightNotGiven;
  current_.synchronize = (mask & kSynchronize) != 0;
}

const ApplyOntoRow* CPermission::FindApplyOnto(std::span<const ApplyOntoRow> rows, std::string_view text) {
  for (const ApplyOntoRow& row : rows) {
    if (text == row.text) return &row;
  }
  return nullptr;
}

uint8_t CPermission::InheritanceFlagsOf(std::span<const ApplyOntoRow> rows) const {
  const ApplyOntoRow* row = FindApplyOnto(rows, current_.applyOnto);
  uint8_t flags = row ? row->flags : 0;
  if (current_.applyWithinThisContainerOnly) flags |= winsec::kNoPropagateInheritAce;
  if (current_.inherited) flags |= winsec::kInheritedAce;
  return flags;
}

void CPermission::SetEntryFromAce(std::span<const ApplyOntoRow> rows, std::span<const PermissionRight> rights,
                                  uint32_t mask, uint8_t aceFlags, const std::string& name, const std::string& domain,
                                  bool allowed) {
  if (aceFlags & winsec::kInheritedAce) current_.inherited = true;
  // A flag combination outside the table keeps the applyOnto of the entry before.
  const uint8_t kept = aceFlags & (winsec::kInheritedAce | winsec::kNoPropagateInheritAce);
  for (const ApplyOntoRow& row : rows) {
    if (aceFlags == (kept | row.flags)) current_.applyOnto = row.text;
  }
  current_.applyWithinThisContainerOnly = (aceFlags & winsec::kNoPropagateInheritAce) != 0;
  current_.replaceAllChild = 1;
  current_.user = name;
  current_.domain = domain;
  SetRightsFromAce(rights, mask, allowed);
}

xml::Node CPermission::SetEntriesToXml(CErrorMgr& errorMgr, const xml::Node& pRootNode, bool withMessage,
                                       const char* label, const char* rootName) {
  xml::Node pathElement;
  bool more = true;
  while (more) {
    more = LoadNextEntry();
    if (pRootNode.IsNull()) {
      errorMgr.AddMessageF(kLevelCritical, label,
                           "Internal error: The XML document with the resources and the features to be changed, "
                           "contains not the root node '%s'",
                           rootName);
      return {};
    }
    if (!WriteCurrentEntry(errorMgr, pRootNode, withMessage, &pathElement)) break;
  }
  return pathElement;
}

// ---- The entry list --------------------------------------------------------------------

void CPermission::CopyObjectFrom(const CPermission& templateFeature) { path_ = templateFeature.path_; }

void CPermission::ResetCurrentEntry() {
  current_ = PermissionEntry();
  current_.rights.assign(RightCount(), kRightNotGiven);
}

void CPermission::AddCurrentEntry() {
  entries_.push_back(current_);
  cursor_ = 0;
}

bool CPermission::RewindEntries() {
  cursor_ = 0;
  return !entries_.empty();
}

bool CPermission::LoadNextEntry() {
  if (cursor_ >= entries_.size()) return false;
  current_ = entries_[cursor_++];
  if (cursor_ < entries_.size()) return true;
  cursor_ = 0;
  return false;
}

void CPermission::AddInheritedRightsEntry(const CPermission& templateFeature) {
  const std::string applyOnto = templateFeature.current_.applyOnto;
  ResetCurrentEntry();
  current_.user = kInheritedRightsUser;
  current_.applyOnto = applyOnto;
  current_.inheritFromParentToChild = 1;
  current_.replaceAllChild = 1;
  AddCurrentEntry();
}
