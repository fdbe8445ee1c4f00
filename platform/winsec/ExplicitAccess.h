// Explicit-access records (shaped after EXPLICIT_ACCESS_W) and the two ACL
// operations built on them, with Windows' rules: merging records into an ACL
// as SetEntriesInAclW does, and reading an ACL's explicit ACEs back as
// records as GetExplicitEntriesFromAclW does. Pure functions on Acl values;
// account names are resolved through a function the caller supplies. The
// functions are named apart from the Win32 calls, whose names are macros.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/winsec/Ace.h"
#include "platform/winsec/Acl.h"
#include "platform/winsec/Sid.h"

namespace winsec {

// ACCESS_MODE. Merging supports kGrant, kSet, kDeny and kRevoke.
enum class AccessMode : uint32_t {
  kNotUsed = 0,
  kGrant = 1,
  kSet = 2,
  kDeny = 3,
  kRevoke = 4,
  kSetAuditSuccess = 5,
  kSetAuditFailure = 6,
};

// TRUSTEE_FORM. Merging supports kSid and kName.
enum class TrusteeForm : uint32_t {
  kSid = 0,
  kName = 1,
  kBadForm = 2,
  kObjectsAndSid = 3,
  kObjectsAndName = 4,
};

// TRUSTEE_TYPE. Carried along; it plays no part in matching.
enum class TrusteeType : uint32_t {
  kUnknown = 0,
  kUser = 1,
  kGroup = 2,
  kDomain = 3,
  kAlias = 4,
  kWellKnownGroup = 5,
  kDeleted = 6,
  kInvalid = 7,
  kComputer = 8,
};

// The inheritance flags a record may carry: OBJECT_INHERIT, CONTAINER_INHERIT,
// NO_PROPAGATE_INHERIT and INHERIT_ONLY. INHERITED_ACE is not among them.
constexpr uint8_t kExplicitAccessInheritanceFlags =
    kObjectInheritAce | kContainerInheritAce | kNoPropagateInheritAce | kInheritOnlyAce;

struct Trustee {
  TrusteeForm form = TrusteeForm::kSid;
  TrusteeType type = TrusteeType::kUnknown;
  Sid sid;           // form kSid
  std::string name;  // form kName: an account name, resolved when merging

  friend bool operator==(const Trustee& a, const Trustee& b) = default;
};

struct ExplicitAccess {
  uint32_t mask = 0;
  AccessMode mode = AccessMode::kNotUsed;
  uint32_t inheritance = 0;  // ACE flags, see kExplicitAccessInheritanceFlags
  Trustee trustee;
  // Records read from an ACL: the index of the ACE they came from.
  std::optional<size_t> sourceAceIndex;

  static ExplicitAccess ForSid(AccessMode mode, uint32_t mask, const Sid& sid, uint32_t inheritance = 0) {
    return {mask, mode, inheritance, {TrusteeForm::kSid, TrusteeType::kUnknown, sid, {}}, std::nullopt};
  }
  static ExplicitAccess ForName(AccessMode mode, uint32_t mask, std::string name, uint32_t inheritance = 0,
                                TrusteeType type = TrusteeType::kUnknown) {
    return {mask, mode, inheritance, {TrusteeForm::kName, type, Sid(), std::move(name)}, std::nullopt};
  }

  friend bool operator==(const ExplicitAccess& a, const ExplicitAccess& b) = default;
};

// Turns an account name into its SID; returns 0 or the lookup's error
// (typically 1332, ERROR_NONE_MAPPED).
using NameResolver = std::function<uint32_t(std::string_view name, Sid* sid)>;

// Where Windows' behaviour is not documented, merging follows these choices.
// GRANT takes the granted rights out of the trustee's explicit deny ACEs and
// DENY takes the denied rights out of its explicit allow ACEs; an ACE left
// without rights is dropped (the original documentation of the call).
constexpr bool kMergeStripsOpposingRights = true;
// REVOKE removes the trustee's explicit allow ACEs and keeps its deny ACEs
// (the current documentation; also observed on Windows).
constexpr bool kRevokeRemovesDenies = false;
// Rights folded into an existing ACE leave that ACE where it was, so merging
// rights a trustee already has changes nothing.
constexpr bool kFoldedAceKeepsItsPlace = true;

// Merges `entries`, in order, into `oldAcl` (nullptr: no ACL) and stores the
// result in `newAcl`; SetEntriesInAclW's rules:
// - a trustee is its SID, or its name resolved by `resolveName`; trustees
//   match by SID alone;
// - GRANT adds an allow ACE, DENY a deny ACE; rights for a trustee that
//   already has an explicit ACE of that kind with the same flags are OR-ed
//   into it, so merging the same record twice changes nothing more (and
//   see kMergeStripsOpposingRights);
// - SET drops every explicit allow and deny ACE of the trustee, then adds an
//   allow ACE with exactly its rights; REVOKE drops the explicit allow ACEs;
// - a record with no rights adds no ACE;
// - result order: explicit deny ACEs, explicit allow (and other) ACEs, each
//   group with the newly added ACEs first in record order, then the
//   inherited ACEs of `oldAcl` unchanged in their order. Inherited ACEs are
//   never edited.
// No entries give a copy of `oldAcl` in its order, or an empty ACL when there
// is none (Windows gives no ACL there, which as a DACL would grant everyone
// everything). The result holds the old ACL's revision and no free space.
// Errors, with `newAcl` left as it was: ERROR_INVALID_PARAMETER for a mode
// other than the four above, a trustee form other than SID or name, a name
// without a resolver, or inheritance flags outside
// kExplicitAccessInheritanceFlags; the resolver's code when a name does not
// resolve.
uint32_t MergeEntriesIntoAcl(std::span<const ExplicitAccess> entries, const Acl* oldAcl,
                             const NameResolver& resolveName, Acl* newAcl);

// The explicit ACEs of `acl` as records, in ACL order (GetExplicitEntriesFromAclW):
// access-allowed ACEs as GRANT, access-denied ACEs as DENY, the trustee as
// its SID (type unknown), the ACE's inheritance flags, and the ACE's index.
// ACEs carrying INHERITED_ACE are skipped, and so are all other ACE types
// (object, callback, audit ...), which a record here cannot express.
// Replaces `*entries`; ERROR_INVALID_PARAMETER only when `entries` is null.
uint32_t ExplicitEntriesFromAcl(const Acl& acl, std::vector<ExplicitAccess>* entries);

}  // namespace winsec
