#include "platform/host/ObjectSecurity.h"

#include "platform/Security.h"
#include "platform/winsec/Inheritance.h"

namespace host {
namespace {

using winsec::Acl;
using winsec::SecurityDescriptor;

constexpr uint16_t kDaclControl = winsec::kSeDaclProtected | winsec::kSeDaclAutoInherited |
                                  winsec::kSeDaclAutoInheritReq | winsec::kSeDaclDefaulted |
                                  winsec::kSeDaclUntrusted;
constexpr uint16_t kSaclControl = winsec::kSeSaclProtected | winsec::kSeSaclAutoInherited |
                                  winsec::kSeSaclAutoInheritReq | winsec::kSeSaclDefaulted;
constexpr uint16_t kOwnerControl = winsec::kSeOwnerDefaulted;
constexpr uint16_t kGroupControl = winsec::kSeGroupDefaulted;

winsec::InheritanceTarget TargetOf(bool isContainer, const winsec::GenericMapping& mapping,
                                   const SecurityDescriptor& child) {
  return {isContainer, mapping, child.Owner(), child.Group()};
}

// The DACL of a level that stores none: what its parent passes on, or the
// creator's default DACL when the parent passes on nothing.
void InheritDacl(const SecurityDescriptor& parent, const winsec::InheritanceTarget& target,
                 SecurityDefaults& defaults, SecurityDescriptor* child) {
  std::vector<winsec::Ace> inherited;
  if (parent.Dacl()) inherited = winsec::InheritedAces(*parent.Dacl(), target);
  if (inherited.empty()) {
    const CreatorDefaults& creator = defaults.Creator();
    CreatorDefaults owner{target.owner.value_or(creator.owner), creator.group};
    child->SetDacl(DefaultDaclForNewObject(owner, target.mapping));
    child->SetControlBits(kDaclControl, 0);
    return;
  }
  child->SetDacl(Acl(std::move(inherited)));
  child->SetControlBits(kDaclControl, winsec::kSeDaclAutoInherited);
}

// The level's own DACL on top of what its parent passes on.
void ComputeDacl(const SecurityDescriptor& stored, const SecurityDescriptor* parent,
                 const winsec::InheritanceTarget& target, SecurityDescriptor* child) {
  const uint16_t control = stored.Control() & kDaclControl;
  if (stored.HasNullDacl()) {
    child->SetNullDacl();
  } else if (IsInheritingDacl(stored)) {
    const Acl* parentDacl = parent ? parent->Dacl() : nullptr;
    child->SetDacl(winsec::BuildObjectAcl(*stored.Dacl(), parentDacl, target, false));
  } else {
    child->SetDacl(*stored.Dacl());
  }
  child->SetControlBits(kDaclControl, control);
}

// The owner (or group) of a level: its own, else for the root the default
// root's, else its creator's.
std::optional<winsec::Sid> OwnerOf(const SecurityDescriptor& stored, bool isRoot, SecurityDefaults& defaults) {
  if (stored.Owner()) return stored.Owner();
  if (isRoot && defaults.Root().Owner()) return defaults.Root().Owner();
  return defaults.Creator().owner;
}

std::optional<winsec::Sid> GroupOf(const SecurityDescriptor& stored, bool isRoot, SecurityDefaults& defaults) {
  if (stored.Group()) return stored.Group();
  if (isRoot && defaults.Root().Group()) return defaults.Root().Group();
  return defaults.Creator().group;
}

// One level below `parent` (null for the root, whose gaps the default root fills).
SecurityDescriptor ComputeLevel(const SecurityLevel& level, const SecurityDescriptor* parent,
                                SecurityDefaults& defaults, const winsec::GenericMapping& mapping) {
  const SecurityDescriptor empty;
  const SecurityDescriptor& stored = level.stored ? *level.stored : empty;
  SecurityDescriptor child;
  child.SetOwner(OwnerOf(stored, !parent, defaults));
  child.SetGroup(GroupOf(stored, !parent, defaults));
  const winsec::InheritanceTarget target = TargetOf(level.isContainer, mapping, child);
  if (stored.DaclPresent()) {
    ComputeDacl(stored, parent, target, &child);
  } else if (parent) {
    InheritDacl(*parent, target, defaults, &child);
  } else if (defaults.Root().DaclPresent()) {
    ComputeDacl(defaults.Root(), nullptr, target, &child);
  } else {
    child.SetNullDacl();
  }
  if (stored.SaclPresent()) {
    if (stored.Sacl()) {
      child.SetSacl(*stored.Sacl());
    } else {
      child.SetNullSacl();
    }
    child.SetControlBits(kSaclControl, stored.Control() & kSaclControl);
  }
  return child;
}

// Maps the generic rights of every ACE that takes effect on the object.
Acl MapEffectiveAces(Acl acl, const winsec::GenericMapping& mapping) {
  for (winsec::Ace& ace : acl.Aces()) {
    if (ace.IsAccessAce() && !ace.IsInheritOnly()) ace.mask = winsec::MapGenericRights(ace.mask, mapping);
  }
  return acl;
}

Acl ExplicitAces(const Acl& acl) {
  Acl explicitOnly;
  explicitOnly.SetRevision(acl.Revision());
  for (const winsec::Ace& ace : acl.Aces()) {
    if (!ace.IsInherited()) explicitOnly.Append(ace);
  }
  return explicitOnly;
}

Acl ClearedInheritedFlags(Acl acl) {
  for (winsec::Ace& ace : acl.Aces()) ace.flags &= static_cast<uint8_t>(~winsec::kInheritedAce);
  return acl;
}

void StoreNamedDacl(const NamedSecurityChange& change, bool currentlyProtected, const winsec::GenericMapping& mapping,
                    SecurityDescriptor* next) {
  bool makeProtected = currentlyProtected;
  if (change.securityInformation & plat::kProtectedDaclSecurityInformation) {
    makeProtected = true;
  } else if (change.securityInformation & plat::kUnprotectedDaclSecurityInformation) {
    makeProtected = false;
  }
  const uint16_t control = winsec::kSeDaclAutoInherited | (makeProtected ? winsec::kSeDaclProtected : 0);
  if (!change.dacl) {
    next->SetNullDacl();
  } else if (makeProtected) {
    Acl kept = kProtectedDaclKeepsInheritedFlags ? *change.dacl : ClearedInheritedFlags(*change.dacl);
    next->SetDacl(MapEffectiveAces(std::move(kept), mapping));
  } else {
    next->SetDacl(MapEffectiveAces(ExplicitAces(*change.dacl), mapping));
  }
  next->SetControlBits(kDaclControl, control);
}

}  // namespace

Acl DefaultDaclForNewObject(const CreatorDefaults& creator, const winsec::GenericMapping& mapping) {
  Acl acl;
  acl.Append(winsec::Ace::Allowed(mapping.genericAll, winsec::Sid::LocalSystem()));
  if (creator.owner != winsec::Sid::LocalSystem()) acl.Append(winsec::Ace::Allowed(mapping.genericAll, creator.owner));
  return acl;
}

bool IsInheritingDacl(const SecurityDescriptor& stored) {
  const uint16_t control = stored.Control();
  return stored.Dacl() && (control & winsec::kSeDaclAutoInherited) && !(control & winsec::kSeDaclProtected);
}

const SecurityDescriptor& SecurityDefaults::Root() {
  if (!root_) root_ = makeRoot_();
  return *root_;
}

const CreatorDefaults& SecurityDefaults::Creator() {
  if (!creator_) creator_ = makeCreator_();
  return *creator_;
}

SecurityDescriptor EffectiveSecurity(std::span<const SecurityLevel> chain, SecurityDefaults& defaults,
                                     const winsec::GenericMapping& mapping) {
  SecurityDescriptor current;
  for (size_t i = 0; i < chain.size(); ++i) {
    SecurityDescriptor parent = std::move(current);
    current = ComputeLevel(chain[i], i == 0 ? nullptr : &parent, defaults, mapping);
  }
  return current;
}

SecurityDescriptor SelectParts(const SecurityDescriptor& sd, uint32_t securityInformation) {
  SecurityDescriptor selected;
  uint16_t control = 0;
  if (securityInformation & plat::kOwnerSecurityInformation) {
    selected.SetOwner(sd.Owner());
    control |= kOwnerControl;
  }
  if (securityInformation & plat::kGroupSecurityInformation) {
    selected.SetGroup(sd.Group());
    control |= kGroupControl;
  }
  if ((securityInformation & plat::kDaclSecurityInformation) && sd.DaclPresent()) {
    if (sd.Dacl()) {
      selected.SetDacl(*sd.Dacl());
    } else {
      selected.SetNullDacl();
    }
    control |= kDaclControl;
  }
  if ((securityInformation & plat::kSaclSecurityInformation) && sd.SaclPresent()) {
    if (sd.Sacl()) {
      selected.SetSacl(*sd.Sacl());
    } else {
      selected.SetNullSacl();
    }
    control |= kSaclControl;
  }
  selected.SetControlBits(control, sd.Control() & control);
  return selected;
}

SecurityDescriptor StoreNamedSecurity(const std::optional<SecurityDescriptor>& stored, bool currentlyProtected,
                                      const NamedSecurityChange& change, const winsec::GenericMapping& mapping) {
  SecurityDescriptor next = stored.value_or(SecurityDescriptor());
  if (change.securityInformation & plat::kOwnerSecurityInformation) next.SetOwner(*change.owner);
  if (change.securityInformation & plat::kGroupSecurityInformation) next.SetGroup(*change.group);
  if (change.securityInformation & plat::kDaclSecurityInformation) {
    StoreNamedDacl(change, currentlyProtected, mapping, &next);
  }
  if (change.securityInformation & plat::kSaclSecurityInformation) {
    if (change.sacl) {
      next.SetSacl(*change.sacl);
    } else {
      next.SetNullSacl();
    }
  }
  return next;
}

SecurityDescriptor StoreLiteralSecurity(const std::optional<SecurityDescriptor>& stored, const SecurityDescriptor& given,
                                        uint32_t securityInformation) {
  SecurityDescriptor next = stored.value_or(SecurityDescriptor());
  if (securityInformation & plat::kOwnerSecurityInformation) next.SetOwner(given.Owner());
  if (securityInformation & plat::kGroupSecurityInformation) next.SetGroup(given.Group());
  if (securityInformation & plat::kDaclSecurityInformation) {
    if (given.Dacl()) {
      next.SetDacl(*given.Dacl());
    } else {
      next.SetNullDacl();
    }
    uint16_t control = given.Control() & kDaclControl;
    if (securityInformation & plat::kProtectedDaclSecurityInformation) control |= winsec::kSeDaclProtected;
    if (securityInformation & plat::kUnprotectedDaclSecurityInformation) {
      control &= static_cast<uint16_t>(~winsec::kSeDaclProtected);
    }
    next.SetControlBits(kDaclControl, control);
  }
  if (securityInformation & plat::kSaclSecurityInformation) {
    if (given.Sacl()) {
      next.SetSacl(*given.Sacl());
    } else {
      next.SetNullSacl();
    }
    next.SetControlBits(kSaclControl, given.Control() & kSaclControl);
  }
  return next;
}

}  // namespace host
