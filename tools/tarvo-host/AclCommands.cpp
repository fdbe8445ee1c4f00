// tarvo-host acl: the security descriptor of a file, folder or registry key
// as SDDL and as one readable line per ACE, and setting one from SDDL (any
// owner, as an administrator's tool with SeRestorePrivilege does). The
// descriptor is read and written through the Security service, so what is
// shown is what the program itself would see.
#include <optional>
#include <ostream>

#include "platform/WinError.h"
#include "platform/text/Text.h"
#include "platform/winsec/AccessMask.h"
#include "platform/winsec/Sddl.h"
#include "tools/tarvo-host/HostCommands.h"
#include "tools/tarvo-host/Json.h"
#include "tools/tarvo-host/RegFile.h"

namespace hosttool {
namespace {

using winsec::Ace;

constexpr uint32_t kAllParts = plat::kOwnerSecurityInformation | plat::kGroupSecurityInformation |
                               plat::kDaclSecurityInformation;

enum class ObjectKind { kFile, kFolder, kKey };

struct AclTarget {
  std::string display;  // as shown: "C:\Windows", "HKLM\SOFTWARE"
  std::string objectName;  // as the Security service takes it
  plat::SeObjectType type = plat::SeObjectType::kFile;
  ObjectKind kind = ObjectKind::kFile;
};

// ---- Naming the object -----------------------------------------------------

std::string RegistryObjectRoot(plat::HKey root) {
  switch (root) {
    case plat::kHkeyLocalMachine: return "MACHINE";
    case plat::kHkeyUsers: return "USERS";
    case plat::kHkeyCurrentUser: return "CURRENT_USER";
    case plat::kHkeyClassesRoot: return "CLASSES_ROOT";
    case plat::kHkeyCurrentConfig: return "MACHINE\\SYSTEM\\CurrentControlSet\\Hardware Profiles\\Current";
    default: return "";
  }
}

// KEY [/reg:32|/reg:64] out of the arguments.
bool KeyTarget(std::vector<std::string>& args, AclTarget* target, std::string* error) {
  target->type = plat::SeObjectType::kRegistryKey;
  target->kind = ObjectKind::kKey;
  for (auto it = args.begin(); it != args.end();) {
    if (text::EqualsNoCase(*it, "/reg:32")) {
      target->type = plat::SeObjectType::kRegistryWow64_32Key;
      it = args.erase(it);
    } else if (text::EqualsNoCase(*it, "/reg:64")) {
      target->type = plat::SeObjectType::kRegistryWow64_64Key;
      it = args.erase(it);
    } else {
      ++it;
    }
  }
  if (args.empty()) {
    *error = "acl: a registry key is needed";
    return false;
  }
  plat::HKey root = plat::kNullKey;
  std::string subKey;
  if (!SplitRootedPath(args[0], true, &root, &subKey, error)) return false;
  target->display = std::string(RootKeyName(root)) + (subKey.empty() ? "" : "\\" + subKey);
  target->objectName = RegistryObjectRoot(root) + (subKey.empty() ? "" : "\\" + subKey);
  args.erase(args.begin());
  return true;
}

// A Windows path, or a POSIX path (the Z: drive).
bool FileTarget(host::Host& h, std::vector<std::string>& args, AclTarget* target, std::string* error) {
  if (args.empty()) {
    *error = "acl: a path is needed";
    return false;
  }
  target->objectName = args[0].starts_with("/") ? h.Paths().WindowsPathOf(args[0]) : args[0];
  target->display = target->objectName;
  uint32_t attributes = 0;
  if (h.Files().GetAttributes(target->objectName, &attributes) == winerr::kSuccess) {
    target->display = h.Files().FullPath(target->objectName);
    target->kind = (attributes & plat::kFileAttributeDirectory) ? ObjectKind::kFolder : ObjectKind::kFile;
  }
  args.erase(args.begin());
  return true;
}

// ---- Describing ACEs -------------------------------------------------------

const char* AceTypeName(uint8_t type) {
  switch (type) {
    case winsec::kAccessAllowedAceType: return "allow";
    case winsec::kAccessDeniedAceType: return "deny";
    case winsec::kSystemAuditAceType: return "audit";
    case winsec::kSystemAlarmAceType: return "alarm";
    default: return "other";
  }
}

struct RightsName {
  uint32_t mask;
  const char* text;
};

constexpr RightsName kFileRights[] = {
    {winsec::kFileAllAccess, "full"},
    {winsec::kFileModify, "modify"},
    {winsec::kFileReadAndExecute, "read & execute"},
    {winsec::kFileGenericRead | winsec::kFileGenericWrite, "read, write"},
    {winsec::kFileGenericRead, "read"},
    {winsec::kFileGenericWrite, "write"},
    {winsec::kFileGenericExecute, "execute"},
};
constexpr RightsName kKeyRights[] = {
    {winsec::kKeyAllAccess, "full"},
    {winsec::kKeyRead | winsec::kKeyWrite, "read, write"},
    {winsec::kKeyRead, "read"},
    {winsec::kKeyWrite, "write"},
};

// The words the permission dialog uses for a mask, generic rights mapped.
std::string RightsText(uint32_t mask, ObjectKind kind) {
  const bool isKey = kind == ObjectKind::kKey;
  const uint32_t mapped =
      winsec::MapGenericRights(mask, isKey ? winsec::kRegistryGenericMapping : winsec::kFileGenericMapping);
  const std::span<const RightsName> names = isKey ? std::span<const RightsName>(kKeyRights) : kFileRights;
  for (const RightsName& name : names) {
    if (name.mask == mapped) return name.text;
  }
  return "special";
}

// Where an ACE applies, in the permission dialog's words.
std::string AppliesTo(uint8_t flags, ObjectKind kind) {
  const bool oi = flags & winsec::kObjectInheritAce;
  const bool ci = flags & winsec::kContainerInheritAce;
  const bool io = flags & winsec::kInheritOnlyAce;
  std::string text;
  if (kind == ObjectKind::kFile) {
    text = "this file";
  } else if (kind == ObjectKind::kKey) {
    text = !ci ? (io ? "nothing" : "this key only") : io ? "subkeys only" : "this key and subkeys";
  } else if (!oi && !ci) {
    text = io ? "nothing" : "this folder only";
  } else {
    const std::string below = oi && ci ? "subfolders and files" : ci ? "subfolders" : "files";
    text = io ? below + " only" : std::string("this folder") + (oi && ci ? ", " : " and ") + below;
  }
  if ((flags & winsec::kNoPropagateInheritAce) && (oi || ci)) text += ", one level down";
  return text;
}

std::string AccountText(plat::ISecurity& security, const winsec::Sid& sid) {
  plat::AccountName account;
  if (security.LookupAccountSid("", sid, &account) != winerr::kSuccess) return sid.ToString();
  return account.domain.empty() ? account.name : account.domain + "\\" + account.name;
}

std::string AceFlagsSddl(uint8_t flags) {
  // The flags part of the ACE's own SDDL: "(A;OICI;FA;;;BA)" -> "OICI".
  std::string ace;
  Ace probe = Ace::Allowed(0, winsec::Sid::Everyone(), flags);
  winsec::AceToSddl(probe, &ace);
  const size_t first = ace.find(';');
  const size_t second = ace.find(';', first + 1);
  return ace.substr(first + 1, second - first - 1);
}

std::string AceLine(plat::ISecurity& security, const Ace& ace, ObjectKind kind) {
  if (!ace.IsAccessAce()) return text::Format("%-5s  (ACE type %u)", AceTypeName(ace.type), ace.type);
  const std::string inherited = ace.IsInherited() ? "inherited from parent, " : "";
  return text::Format("%-5s  %s  %s (%s)  %s%s", AceTypeName(ace.type), AccountText(security, ace.sid).c_str(),
                      RightsText(ace.mask, kind).c_str(), winsec::RightsToSddl(ace.mask).c_str(), inherited.c_str(),
                      AppliesTo(ace.flags, kind).c_str());
}

// ---- Commands --------------------------------------------------------------

const char* KindName(ObjectKind kind) {
  switch (kind) {
    case ObjectKind::kFile: return "file";
    case ObjectKind::kFolder: return "folder";
    case ObjectKind::kKey: return "key";
  }
  return "file";
}

std::string FlagsText(const winsec::SecurityDescriptor& sd) {
  const uint16_t control = sd.Control();
  std::string flags = (control & winsec::kSeDaclProtected) ? "protected" : "inherits from parent";
  if (control & winsec::kSeDaclAutoInherited) flags += ", auto-inherited";
  return flags;
}

void WriteSidJson(JsonWriter& j, std::string_view key, plat::ISecurity& security,
                  const std::optional<winsec::Sid>& sid) {
  j.Key(key);
  if (!sid) {
    j.Null();
    return;
  }
  j.BeginObject().Field("sid", sid->ToString()).Field("account", AccountText(security, *sid)).EndObject();
}

void WriteJson(CommandContext& c, plat::ISecurity& security, const AclTarget& target,
               const winsec::SecurityDescriptor& sd, const std::string& sddl) {
  const uint16_t control = sd.Control();
  JsonWriter j;
  j.BeginObject().Field("object", target.display).Field("kind", KindName(target.kind));
  WriteSidJson(j, "owner", security, sd.Owner());
  WriteSidJson(j, "group", security, sd.Group());
  j.Field("sddl", sddl)
      .Field("protected", (control & winsec::kSeDaclProtected) != 0)
      .Field("autoInherited", (control & winsec::kSeDaclAutoInherited) != 0)
      .Field("nullDacl", sd.HasNullDacl())
      .Key("dacl")
      .BeginArray();
  if (const winsec::Acl* dacl = sd.Dacl()) {
    for (const Ace& ace : dacl->Aces()) {
      j.BeginObject().Field("type", AceTypeName(ace.type)).Field("flags", AceFlagsSddl(ace.flags));
      j.Field("inherited", ace.IsInherited());
      if (ace.IsAccessAce()) {
        j.Field("sid", ace.sid.ToString())
            .Field("account", AccountText(security, ace.sid))
            .Field("mask", static_cast<int64_t>(ace.mask))
            .Field("rights", winsec::RightsToSddl(ace.mask))
            .Field("rightsText", RightsText(ace.mask, target.kind))
            .Field("appliesTo", AppliesTo(ace.flags, target.kind));
      }
      j.EndObject();
    }
  }
  j.EndArray().EndObject();
  *c.out << j.Text() << "\n";
}

void WriteText(CommandContext& c, plat::ISecurity& security, const AclTarget& target,
               const winsec::SecurityDescriptor& sd, const std::string& sddl) {
  std::ostream& out = *c.out;
  out << "Object: " << target.display << " (" << KindName(target.kind) << ")\n";
  if (sd.Owner()) out << "Owner:  " << AccountText(security, *sd.Owner()) << "  " << sd.Owner()->ToString() << "\n";
  if (sd.Group()) out << "Group:  " << AccountText(security, *sd.Group()) << "  " << sd.Group()->ToString() << "\n";
  out << "Flags:  " << FlagsText(sd) << "\n";
  out << "SDDL:   " << sddl << "\n";
  if (sd.HasNullDacl()) {
    out << "DACL:   NULL (everyone has full access)\n";
    return;
  }
  const winsec::Acl* dacl = sd.Dacl();
  out << "DACL:" << (dacl && !dacl->Empty() ? "" : "   empty (nobody has access)") << "\n";
  if (!dacl) return;
  for (const Ace& ace : dacl->Aces()) out << "  " << AceLine(security, ace, target.kind) << "\n";
}

std::string ErrorText(uint32_t code) {
  switch (code) {
    case winerr::kFileNotFound: return "not found (2)";
    case winerr::kPathNotFound: return "path not found (3)";
    case winerr::kAccessDenied: return "access denied (5)";
    case winerr::kInvalidOwner:
      return "invalid owner (1307): the host's user holds no SeRestorePrivilege (a standard user) and may "
             "only make itself the owner";
    default: return text::Format("error %u", code);
  }
}

winsec::SddlDomains DomainsOf(host::Host& h) {
  winsec::SddlDomains domains;
  winsec::Sid machine;
  if (winsec::Sid::FromString(h.DomainSid(), &machine) == winerr::kSuccess) domains.machine = machine;
  return domains;
}

int ShowAcl(CommandContext& c, host::Host& h, const AclTarget& target) {
  plat::ISecurity& security = h.Security();
  winsec::SecurityDescriptor sd;
  if (uint32_t rc = security.GetNamedSecurityInfo(target.objectName, target.type, kAllParts, &sd)) {
    return c.Fail("acl: " + target.display + ": " + ErrorText(rc));
  }
  std::string sddl;
  if (uint32_t rc = winsec::SecurityDescriptorToSddl(sd, winsec::kAllSddlSecurityInformation, &sddl, DomainsOf(h))) {
    sddl = text::Format("(cannot be written as SDDL: error %u)", rc);
  }
  if (c.json) {
    WriteJson(c, security, target, sd, sddl);
  } else {
    WriteText(c, security, target, sd, sddl);
  }
  return kExitOk;
}

// SeRestorePrivilege enabled on the host's token for as long as the object
// lives, as an administrator's tool enables it to give an object any owner;
// disabled again afterwards unless it was on already. A token that does not
// hold it (a standard user's) stays as it is, and the owner check of the
// Security service refuses what it may not do.
class RestorePrivilegeScope {
 public:
  explicit RestorePrivilegeScope(plat::ISecurity& security) : security_(security) {
    if (security_.LookupPrivilegeValue("SeRestorePrivilege", &luid_) != winerr::kSuccess) return;
    if (security_.IsPrivilegeEnabled(luid_)) return;
    enabled_ = security_.AdjustTokenPrivilege(luid_, plat::kSePrivilegeEnabled) == winerr::kSuccess;
  }
  ~RestorePrivilegeScope() {
    if (enabled_) security_.AdjustTokenPrivilege(luid_, 0);
  }
  RestorePrivilegeScope(const RestorePrivilegeScope&) = delete;
  RestorePrivilegeScope& operator=(const RestorePrivilegeScope&) = delete;

 private:
  plat::ISecurity& security_;
  uint64_t luid_ = 0;
  bool enabled_ = false;
};

// Only an owner is checked against the caller; a group may be any account.
uint32_t SetParts(host::Host& h, const AclTarget& target, uint32_t info, const winsec::SecurityDescriptor& sd) {
  std::optional<RestorePrivilegeScope> restore;
  if (info & plat::kOwnerSecurityInformation) restore.emplace(h.Security());
  const std::optional<winsec::Sid>& owner = sd.Owner();
  const std::optional<winsec::Sid>& group = sd.Group();
  return h.Security().SetNamedSecurityInfo(target.objectName, target.type, info, owner ? &*owner : nullptr,
                                           group ? &*group : nullptr, sd.Dacl(), sd.Sacl());
}

// The parts the SDDL names are set, an owner or group whatever account it
// is; a DACL with P is set protected, any other DACL open to inheritance.
int SetAcl(CommandContext& c, host::Host& h, const AclTarget& target, const std::string& sddl) {
  winsec::SecurityDescriptor sd;
  if (uint32_t rc = winsec::SecurityDescriptorFromSddl(sddl, &sd, DomainsOf(h))) {
    return c.Fail(text::Format("acl: not a valid SDDL descriptor (error %u): ", rc) + sddl);
  }
  uint32_t info = 0;
  if (sd.Owner()) info |= plat::kOwnerSecurityInformation;
  if (sd.Group()) info |= plat::kGroupSecurityInformation;
  if (sd.DaclPresent()) {
    info |= plat::kDaclSecurityInformation;
    info |= (sd.Control() & winsec::kSeDaclProtected) ? plat::kProtectedDaclSecurityInformation
                                                        : plat::kUnprotectedDaclSecurityInformation;
  }
  if (sd.SaclPresent()) info |= plat::kSaclSecurityInformation;
  if (info == 0) return c.Fail("acl: the SDDL names no part to set");
  const uint32_t rc = SetParts(h, target, info, sd);
  if (rc != winerr::kSuccess) return c.Fail("acl: cannot set " + target.display + ": " + ErrorText(rc));
  if (c.json) {
    JsonWriter j;
    j.BeginObject().Field("object", target.display).Field("set", sddl).EndObject();
    *c.out << j.Text() << "\n";
  } else {
    *c.out << "Set " << target.display << "\n";
  }
  return kExitOk;
}

int RunAcl(CommandContext& c) {
  std::vector<std::string> args = c.args;
  bool registry = false;
  if (!args.empty() && args[0] == "--reg") {
    registry = true;
    args.erase(args.begin());
  }
  const bool set = !args.empty() && args[0] == "set";
  if (set) args.erase(args.begin());
  host::Host* h = c.OpenHost();
  if (!h) return kExitNoHost;
  AclTarget target;
  std::string error;
  if (!(registry ? KeyTarget(args, &target, &error) : FileTarget(*h, args, &target, &error))) return c.Fail(error);
  if (set) {
    if (args.size() != 1) return c.Fail("acl set: one SDDL descriptor is needed after the object");
    return SetAcl(c, *h, target, args[0]);
  }
  if (!args.empty()) return c.Fail("acl: unexpected argument '" + args[0] + "'");
  return ShowAcl(c, *h, target);
}

}  // namespace

int RunAclCommand(CommandContext& context) { return RunAcl(context); }

}  // namespace hosttool
