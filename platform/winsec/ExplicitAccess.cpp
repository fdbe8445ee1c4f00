#include "platform/winsec/ExplicitAccess.h"

#include <algorithm>
#include <iterator>
#include <utility>

#include "platform/WinError.h"

namespace winsec {
namespace {

// A record checked and with its trustee turned into a SID.
struct ResolvedEntry {
  AccessMode mode = AccessMode::kNotUsed;
  uint32_t mask = 0;
  uint8_t flags = 0;
  Sid sid;
};

bool IsMergeMode(AccessMode mode) {
  return mode == AccessMode::kGrant || mode == AccessMode::kSet || mode == AccessMode::kDeny ||
         mode == AccessMode::kRevoke;
}

uint32_t ResolveTrustee(const Trustee& trustee, const NameResolver& resolveName, Sid* sid) {
  switch (trustee.form) {
    case TrusteeForm::kSid:
      *sid = trustee.sid;
      return winerr::kSuccess;
    case TrusteeForm::kName:
      return resolveName ? resolveName(trustee.name, sid) : winerr::kInvalidParameter;
    default:
      return winerr::kInvalidParameter;
  }
}

uint32_t Resolve(const ExplicitAccess& entry, const NameResolver& resolveName, ResolvedEntry* out) {
  if (!IsMergeMode(entry.mode) || (entry.inheritance & ~uint32_t{kExplicitAccessInheritanceFlags}) != 0) {
    return winerr::kInvalidParameter;
  }
  Sid sid;
  if (uint32_t rc = ResolveTrustee(entry.trustee, resolveName, &sid); rc != winerr::kSuccess) return rc;
  *out = {entry.mode, entry.mask, static_cast<uint8_t>(entry.inheritance), sid};
  return winerr::kSuccess;
}

bool IsTrusteeAce(const Ace& ace, uint8_t type, const Sid& sid) { return ace.type == type && ace.sid == sid; }

// The explicit deny ACEs, or the other explicit ACEs, of the ACL being
// built. ACEs added by records lead the group in record order; the old ACEs
// follow in their order.
class AceGroup {
 public:
  void AppendOld(const Ace& ace) { aces_.push_back(ace); }

  // ORs the rights into the ACE of the same type, trustee and flags, or
  // adds the ACE when there is none. No rights: nothing changes.
  void AddRights(const Ace& ace) {
    if (ace.mask == 0) return;
    auto same = std::find_if(aces_.begin(), aces_.end(), [&](const Ace& old) {
      return IsTrusteeAce(old, ace.type, ace.sid) && old.flags == ace.flags;
    });
    if (same == aces_.end()) {
      InsertAdded(ace);
      return;
    }
    same->mask |= ace.mask;
    size_t index = static_cast<size_t>(same - aces_.begin());
    if (!kFoldedAceKeepsItsPlace && index >= added_) {
      Ace folded = *same;
      aces_.erase(same);
      InsertAdded(folded);
    }
  }

  // Takes `mask` out of the trustee's ACEs of `type`; an ACE that loses
  // rights and is left with none is dropped.
  void StripRights(uint8_t type, const Sid& sid, uint32_t mask) {
    std::vector<bool> emptied(aces_.size());
    for (size_t i = 0; i < aces_.size(); ++i) {
      Ace& ace = aces_[i];
      if (!IsTrusteeAce(ace, type, sid) || (ace.mask & mask) == 0) continue;
      ace.mask &= ~mask;
      emptied[i] = ace.mask == 0;
    }
    RemoveMarked(emptied);
  }

  void RemoveTrustee(uint8_t type, const Sid& sid) {
    std::vector<bool> matches(aces_.size());
    for (size_t i = 0; i < aces_.size(); ++i) matches[i] = IsTrusteeAce(aces_[i], type, sid);
    RemoveMarked(matches);
  }

  void MoveTo(std::vector<Ace>* out) {
    std::move(aces_.begin(), aces_.end(), std::back_inserter(*out));
    aces_.clear();
    added_ = 0;
  }

 private:
  void InsertAdded(const Ace& ace) {
    aces_.insert(aces_.begin() + static_cast<std::ptrdiff_t>(added_), ace);
    ++added_;
  }

  void RemoveMarked(const std::vector<bool>& marked) {
    std::vector<Ace> kept;
    size_t keptAdded = 0;
    for (size_t i = 0; i < aces_.size(); ++i) {
      if (marked[i]) continue;
      if (i < added_) ++keptAdded;
      kept.push_back(std::move(aces_[i]));
    }
    aces_ = std::move(kept);
    added_ = keptAdded;
  }

  std::vector<Ace> aces_;
  size_t added_ = 0;
};

void Apply(const ResolvedEntry& entry, AceGroup* denies, AceGroup* allows) {
  switch (entry.mode) {
    case AccessMode::kGrant:
      if (kMergeStripsOpposingRights) denies->StripRights(kAccessDeniedAceType, entry.sid, entry.mask);
      allows->AddRights(Ace::Allowed(entry.mask, entry.sid, entry.flags));
      break;
    case AccessMode::kDeny:
      if (kMergeStripsOpposingRights) allows->StripRights(kAccessAllowedAceType, entry.sid, entry.mask);
      denies->AddRights(Ace::Denied(entry.mask, entry.sid, entry.flags));
      break;
    case AccessMode::kSet:
      denies->RemoveTrustee(kAccessDeniedAceType, entry.sid);
      allows->RemoveTrustee(kAccessAllowedAceType, entry.sid);
      allows->AddRights(Ace::Allowed(entry.mask, entry.sid, entry.flags));
      break;
    case AccessMode::kRevoke:
      allows->RemoveTrustee(kAccessAllowedAceType, entry.sid);
      if (kRevokeRemovesDenies) denies->RemoveTrustee(kAccessDeniedAceType, entry.sid);
      break;
    default:
      break;  // refused by Resolve
  }
}

}  // namespace

uint32_t MergeEntriesIntoAcl(std::span<const ExplicitAccess> entries, const Acl* oldAcl,
                             const NameResolver& resolveName, Acl* newAcl) {
  std::vector<ResolvedEntry> resolved;
  for (const ExplicitAccess& entry : entries) {
    ResolvedEntry one;
    if (uint32_t rc = Resolve(entry, resolveName, &one); rc != winerr::kSuccess) return rc;
    resolved.push_back(std::move(one));
  }

  Acl result;
  if (oldAcl) result.SetRevision(oldAcl->Revision());
  if (resolved.empty()) {
    if (oldAcl) result.Aces() = oldAcl->Aces();
    *newAcl = std::move(result);
    return winerr::kSuccess;
  }

  AceGroup denies;
  AceGroup allows;
  std::vector<Ace> inherited;
  if (oldAcl) {
    for (const Ace& ace : oldAcl->Aces()) {
      if (ace.IsInherited()) {
        inherited.push_back(ace);
      } else if (IsDenyAceType(ace.type)) {
        denies.AppendOld(ace);
      } else {
        allows.AppendOld(ace);
      }
    }
  }
  for (const ResolvedEntry& entry : resolved) Apply(entry, &denies, &allows);

  denies.MoveTo(&result.Aces());
  allows.MoveTo(&result.Aces());
  result.Aces().insert(result.Aces().end(), inherited.begin(), inherited.end());
  *newAcl = std::move(result);
  return winerr::kSuccess;
}

uint32_t ExplicitEntriesFromAcl(const Acl& acl, std::vector<ExplicitAccess>* entries) {
  if (!entries) return winerr::kInvalidParameter;
  std::vector<ExplicitAccess> found;
  for (size_t i = 0; i < acl.AceCount(); ++i) {
    const Ace& ace = acl.Aces()[i];
    if (ace.IsInherited()) continue;
    AccessMode mode;
    if (ace.type == kAccessAllowedAceType) {
      mode = AccessMode::kGrant;
    } else if (ace.type == kAccessDeniedAceType) {
      mode = AccessMode::kDeny;
    } else {
      continue;
    }
    ExplicitAccess entry = ExplicitAccess::ForSid(mode, ace.mask, ace.sid, ace.flags & kExplicitAccessInheritanceFlags);
    entry.sourceAceIndex = i;
    found.push_back(std::move(entry));
  }
  *entries = std::move(found);
  return winerr::kSuccess;
}

}  // namespace winsec
