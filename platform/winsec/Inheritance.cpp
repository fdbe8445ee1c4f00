#include "platform/winsec/Inheritance.h"

#include <algorithm>
#include <iterator>

namespace winsec {
namespace {

constexpr uint8_t kInheritBits = kObjectInheritAce | kContainerInheritAce;
constexpr uint8_t kAuditBits = kSuccessfulAccessAceFlag | kFailedAccessAceFlag;

struct Propagation {
  bool effective;    // the ACE applies to the child itself
  bool inheritable;  // the ACE passes on to the child's children
};

Propagation PropagationOf(uint8_t flags, bool childIsContainer) {
  if (!(flags & kInheritBits)) return {false, false};
  bool effective = childIsContainer ? (flags & kContainerInheritAce) : (flags & kObjectInheritAce);
  bool inheritable = childIsContainer && !(flags & kNoPropagateInheritAce);
  return {effective, inheritable};
}

bool IsCreatorSid(const Sid& sid) { return sid == Sid::CreatorOwner() || sid == Sid::CreatorGroup(); }

// Whether the effective copy differs from the parent's ACE in more than flags.
bool NeedsMapping(const Ace& ace) {
  return ace.IsAccessAce() && ((ace.mask & kGenericRightsMask) || IsCreatorSid(ace.sid));
}

Ace WithFlags(const Ace& ace, uint8_t flags) {
  Ace copy = ace;
  copy.flags = flags;
  return copy;
}

Ace EffectiveCopy(const Ace& ace, const InheritanceTarget& child, uint8_t flags) {
  Ace copy = WithFlags(ace, flags);
  if (!copy.IsAccessAce()) return copy;
  copy.mask = MapGenericRights(copy.mask, child.mapping);
  if (copy.sid == Sid::CreatorOwner() && child.owner) copy.sid = *child.owner;
  if (copy.sid == Sid::CreatorGroup() && child.group) copy.sid = *child.group;
  return copy;
}

void AppendSplit(Ace effective, Ace inheritOnly, std::vector<Ace>* out) {
  if (kSplitAceOrder == SplitAceOrder::kEffectiveFirst) {
    out->push_back(std::move(effective));
    out->push_back(std::move(inheritOnly));
  } else {
    out->push_back(std::move(inheritOnly));
    out->push_back(std::move(effective));
  }
}

void AppendInherited(const Ace& ace, const InheritanceTarget& child, std::vector<Ace>* out) {
  Propagation propagation = PropagationOf(ace.flags, child.isContainer);
  uint8_t kept = ace.flags & kAuditBits;
  uint8_t effectiveFlags = kInheritedAce | kept;
  uint8_t inheritOnlyFlags = (ace.flags & kInheritBits) | kInheritOnlyAce | kInheritedAce | kept;
  if (propagation.effective && propagation.inheritable) {
    if (NeedsMapping(ace)) {
      AppendSplit(EffectiveCopy(ace, child, effectiveFlags), WithFlags(ace, inheritOnlyFlags), out);
    } else {
      out->push_back(WithFlags(ace, (ace.flags & kInheritBits) | kInheritedAce | kept));
    }
  } else if (propagation.effective) {
    out->push_back(EffectiveCopy(ace, child, effectiveFlags));
  } else if (propagation.inheritable) {
    out->push_back(WithFlags(ace, inheritOnlyFlags));
  }
}

int CanonicalGroup(const Ace& ace) {
  return (ace.IsInherited() ? 2 : 0) + (IsDenyAceType(ace.type) ? 0 : 1);
}

bool InCanonicalOrder(const Ace& a, const Ace& b) { return CanonicalGroup(a) < CanonicalGroup(b); }

}  // namespace

std::vector<Ace> InheritedAces(const Acl& parentAcl, const InheritanceTarget& child) {
  std::vector<Ace> inherited;
  for (const Ace& ace : parentAcl.Aces()) AppendInherited(ace, child, &inherited);
  return inherited;
}

Acl BuildObjectAcl(const Acl& assigned, const Acl* parentAcl, const InheritanceTarget& child,
                   bool isProtected) {
  if (isProtected) return assigned;
  std::vector<Ace> aces;
  std::copy_if(assigned.Aces().begin(), assigned.Aces().end(), std::back_inserter(aces),
               [](const Ace& ace) { return !ace.IsInherited(); });
  if (parentAcl) {
    std::vector<Ace> inherited = InheritedAces(*parentAcl, child);
    aces.insert(aces.end(), inherited.begin(), inherited.end());
  }
  Acl result(std::move(aces));
  result.SetRevision(assigned.Revision());
  return result;
}

bool IsCanonicalOrder(const Acl& acl) {
  return std::is_sorted(acl.Aces().begin(), acl.Aces().end(), InCanonicalOrder);
}

void SortCanonical(Acl* acl) {
  std::stable_sort(acl->Aces().begin(), acl->Aces().end(), InCanonicalOrder);
}

}  // namespace winsec
