// ACE inheritance as Windows computes it for files, folders and registry
// keys: which ACEs of a parent's ACL reach a child, with which flags, with
// generic rights mapped and CREATOR OWNER / CREATOR GROUP replaced where the
// ACE takes effect on the child. Also the ACL an object reads back (its own
// ACEs, then the inherited ones) and the canonical order of a DACL.
#pragma once

#include <optional>
#include <utility>
#include <vector>

#include "platform/winsec/AccessMask.h"
#include "platform/winsec/Ace.h"
#include "platform/winsec/Acl.h"
#include "platform/winsec/Sid.h"

namespace winsec {

// The object that inherits: file or container, how its generic rights map,
// and the owner and group that stand in for CREATOR OWNER / CREATOR GROUP
// (left as they are when not given).
struct InheritanceTarget {
  bool isContainer = false;
  GenericMapping mapping = kFileGenericMapping;
  std::optional<Sid> owner;
  std::optional<Sid> group;

  static InheritanceTarget File(std::optional<Sid> owner = {}, std::optional<Sid> group = {}) {
    return {false, kFileGenericMapping, std::move(owner), std::move(group)};
  }
  static InheritanceTarget Directory(std::optional<Sid> owner = {}, std::optional<Sid> group = {}) {
    return {true, kFileGenericMapping, std::move(owner), std::move(group)};
  }
  // Registry keys are always containers.
  static InheritanceTarget RegistryKey(std::optional<Sid> owner = {}, std::optional<Sid> group = {}) {
    return {true, kRegistryGenericMapping, std::move(owner), std::move(group)};
  }
};

// When an inherited ACE both applies to a container child and stays
// inheritable, and it carries generic rights or a creator SID, the child gets
// two ACEs: the effective copy (mapped, substituted, flags INHERITED_ACE only)
// and the inherit-only copy (as on the parent, plus INHERIT_ONLY and
// INHERITED_ACE). This is the order of that pair.
enum class SplitAceOrder { kEffectiveFirst, kInheritOnlyFirst };
constexpr SplitAceOrder kSplitAceOrder = SplitAceOrder::kEffectiveFirst;

// The ACEs `child` inherits from `parentAcl`, in parent order:
// - no OBJECT_INHERIT / CONTAINER_INHERIT: nothing;
// - a file inherits OI ACEs as effective ACEs (flags INHERITED_ACE);
// - a container inherits CI ACEs as effective ACEs and keeps OI/CI on them;
//   OI-only ACEs arrive inherit-only (OI|IO);
// - NO_PROPAGATE_INHERIT stops it there: no OI/CI/NP on the child's copy;
// - every copy carries INHERITED_ACE; audit flags (SA/FA) stay.
// Works for DACLs and SACLs alike; ACE types other than the basic four
// propagate by their flags alone, unmapped.
std::vector<Ace> InheritedAces(const Acl& parentAcl, const InheritanceTarget& child);

// The ACL an object reads back after its ACL was set to `assigned`: unless
// `isProtected`, the ACEs of `assigned` that carry INHERITED_ACE are dropped
// and those inherited from `parentAcl` (nullptr: none, as for a NULL DACL)
// follow its explicit ACEs. A protected ACL is `assigned` unchanged.
Acl BuildObjectAcl(const Acl& assigned, const Acl* parentAcl, const InheritanceTarget& child,
                   bool isProtected);

// Canonical DACL order: explicit deny, explicit allow, inherited deny,
// inherited allow. ACE types that do not deny sort with the allowing ones.
// (Windows accepts inherited ACEs grouped by generation, deny before allow
// in each; with one generation that is the same order.)
bool IsCanonicalOrder(const Acl& acl);
// Sorts into that order, keeping the relative order within each group.
void SortCanonical(Acl* acl);

}  // namespace winsec
