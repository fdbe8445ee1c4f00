// How the simulated host keeps and computes the security of files, folders
// and registry keys. An object may store a descriptor of its own; what it
// reads back is computed from the chain of objects above it:
// - a DACL marked auto-inherited and not protected stores its explicit ACEs
//   only, and the ACEs inherited from the parent follow them (INHERITED_ACE)
//   whenever it is read, so a change above reaches every object below at
//   once, as SetNamedSecurityInfo's propagation does on Windows;
// - a protected DACL, and one set without auto-inheritance (SetFileSecurity,
//   RegSetKeySecurity), reads back exactly as it was stored;
// - an object without a stored DACL inherits its parent's inheritable ACEs,
//   and without a stored owner it has the owner of its creator.
// Descriptors are stored self-relative, as Windows APIs hand them out.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>

#include "platform/winsec/AccessMask.h"
#include "platform/winsec/Acl.h"
#include "platform/winsec/SecurityDescriptor.h"
#include "platform/winsec/Sid.h"

namespace host {

// What a new object gets when nothing is stored for it and nothing is
// inherited: the owner and group of the process that made it, and the
// token's default DACL (full control for SYSTEM and the owner), as Windows
// assigns to an object whose parent passes on no ACE.
struct CreatorDefaults {
  winsec::Sid owner;
  winsec::Sid group;
};
winsec::Acl DefaultDaclForNewObject(const CreatorDefaults& creator, const winsec::GenericMapping& mapping);

// One object of a chain, from the root down to the object asked about.
struct SecurityLevel {
  std::optional<winsec::SecurityDescriptor> stored;
  bool isContainer = true;
};

// Whether a stored DACL is computed on every read (explicit ACEs stored,
// inherited ones appended) rather than read back as stored.
bool IsInheritingDacl(const winsec::SecurityDescriptor& stored);

// What fills the gaps of a chain: the root's default descriptor (for what
// the root does not store) and the creator (for objects without an owner).
// Each is made only when a level needs it; seeded chains rarely do.
class SecurityDefaults {
 public:
  SecurityDefaults(std::function<winsec::SecurityDescriptor()> root, std::function<CreatorDefaults()> creator)
      : makeRoot_(std::move(root)), makeCreator_(std::move(creator)) {}
  const winsec::SecurityDescriptor& Root();
  const CreatorDefaults& Creator();

 private:
  std::function<winsec::SecurityDescriptor()> makeRoot_;
  std::function<CreatorDefaults()> makeCreator_;
  std::optional<winsec::SecurityDescriptor> root_;
  std::optional<CreatorDefaults> creator_;
};

// The descriptor the last object of `chain` reads back.
winsec::SecurityDescriptor EffectiveSecurity(std::span<const SecurityLevel> chain, SecurityDefaults& defaults,
                                             const winsec::GenericMapping& mapping);

// The parts of a descriptor that `securityInformation` names (owner, group,
// DACL, SACL), with the control bits that belong to them.
winsec::SecurityDescriptor SelectParts(const winsec::SecurityDescriptor& sd, uint32_t securityInformation);

// One SetNamedSecurityInfo call.
struct NamedSecurityChange {
  uint32_t securityInformation = 0;
  const winsec::Sid* owner = nullptr;
  const winsec::Sid* group = nullptr;
  const winsec::Acl* dacl = nullptr;  // null with DACL_SECURITY_INFORMATION: a NULL DACL
  const winsec::Acl* sacl = nullptr;
};

// When a DACL is set PROTECTED, the ACEs it carries with INHERITED_ACE keep
// that flag: the object keeps exactly the ACL it was given. (Whether Windows
// clears the flag is not known; tools that protect an object make explicit
// copies themselves.)
constexpr bool kProtectedDaclKeepsInheritedFlags = true;

// What an object stores after SetNamedSecurityInfo: UNPROTECTED (or a plain
// DACL on an object that is not protected) keeps the explicit ACEs of the
// given DACL and inherits the rest; PROTECTED keeps the given ACL as it is; a
// plain DACL keeps the object's protection. Generic rights of ACEs that take
// effect on the object are mapped as Windows does when it stores them.
winsec::SecurityDescriptor StoreNamedSecurity(const std::optional<winsec::SecurityDescriptor>& stored,
                                              bool currentlyProtected, const NamedSecurityChange& change,
                                              const winsec::GenericMapping& mapping);

// What an object stores after SetFileSecurity / RegSetKeySecurity: the named
// parts of `given` as they are, with their control bits; the
// (UN)PROTECTED_DACL bits of `securityInformation` set or clear protection.
// A DACL part without SE_DACL_PRESENT is a NULL DACL, as for Windows.
winsec::SecurityDescriptor StoreLiteralSecurity(const std::optional<winsec::SecurityDescriptor>& stored,
                                                const winsec::SecurityDescriptor& given,
                                                uint32_t securityInformation);

}  // namespace host
