#include "platform/host/AccessCheck.h"

#include <algorithm>

#include "platform/WinError.h"

namespace host {
namespace {

using winsec::Ace;

constexpr uint32_t kOwnerImplicitRights = winsec::kReadControl | winsec::kWriteDac;

// Every right an object of this kind knows, for MAXIMUM_ALLOWED.
uint32_t AllRights(const winsec::GenericMapping& mapping) {
  return mapping.genericAll | winsec::kStandardRightsAll | winsec::kAccessSystemSecurity;
}

// Since Vista an OWNER RIGHTS ACE replaces the owner's implicit rights and
// applies to whoever the owner is.
bool HasOwnerRightsAce(const winsec::Acl& dacl) {
  return std::any_of(dacl.Aces().begin(), dacl.Aces().end(),
                     [](const Ace& ace) { return ace.IsAccessAce() && ace.sid == winsec::Sid::OwnerRights(); });
}

bool AceApplies(const Ace& ace, const Token& token, bool isOwner) {
  if (ace.sid == winsec::Sid::OwnerRights()) return isOwner;
  return token.HasSid(ace.sid);
}

struct Decision {
  uint32_t granted = 0;
  uint32_t denied = 0;
};

// Walks the DACL in order; a right is decided by the first ACE that names it.
void WalkDacl(const winsec::Acl& dacl, const Token& token, bool isOwner, const winsec::GenericMapping& mapping,
              uint32_t wanted, Decision* decision) {
  for (const Ace& ace : dacl.Aces()) {
    if (ace.IsInheritOnly() || !AceApplies(ace, token, isOwner)) continue;
    if (ace.type != winsec::kAccessAllowedAceType && ace.type != winsec::kAccessDeniedAceType) continue;
    const uint32_t rights = winsec::MapGenericRights(ace.mask, mapping) & wanted;
    const uint32_t open = rights & ~(decision->granted | decision->denied);
    if (ace.type == winsec::kAccessAllowedAceType) {
      decision->granted |= open;
    } else {
      decision->denied |= open;
    }
  }
}

}  // namespace

uint32_t CheckAccess(const winsec::SecurityDescriptor& sd, const Token& token, uint32_t desired,
                     const winsec::GenericMapping& mapping, uint32_t* granted) {
  const bool maximum = (desired & winsec::kMaximumAllowed) != 0;
  uint32_t wanted = winsec::MapGenericRights(desired & ~winsec::kMaximumAllowed, mapping);
  if (granted) *granted = 0;
  if (!maximum && wanted == 0) return winerr::kSuccess;

  Decision decision;
  // ACCESS_SYSTEM_SECURITY comes from the privilege, never from the DACL.
  const PrivilegeDef* security = FindPrivilege("SeSecurityPrivilege");
  if (wanted & winsec::kAccessSystemSecurity) {
    if (!token.IsEnabled(security->luid)) return winerr::kPrivilegeNotHeld;
    decision.granted |= winsec::kAccessSystemSecurity;
  }
  const PrivilegeDef* takeOwnership = FindPrivilege("SeTakeOwnershipPrivilege");
  if (token.IsEnabled(takeOwnership->luid)) decision.granted |= winsec::kWriteOwner;

  // MAXIMUM_ALLOWED looks at every right; ACCESS_SYSTEM_SECURITY only when asked for.
  const uint32_t scope = wanted | (maximum ? AllRights(mapping) & ~winsec::kAccessSystemSecurity : 0);
  const winsec::Acl* dacl = sd.Dacl();
  if (!dacl) {
    // No DACL or a NULL one: nothing is protected.
    decision.granted |= scope;
  } else {
    const bool isOwner = sd.Owner() && token.HasSid(*sd.Owner());
    if (isOwner && !HasOwnerRightsAce(*dacl)) decision.granted |= kOwnerImplicitRights & scope;
    WalkDacl(*dacl, token, isOwner, mapping, scope, &decision);
  }

  const uint32_t result = decision.granted & scope;
  if ((wanted & ~result) != 0 || result == 0) return winerr::kAccessDenied;
  if (granted) *granted = result;
  return winerr::kSuccess;
}

}  // namespace host
