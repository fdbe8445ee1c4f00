#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "WinsecTestUtil.h"
#include "platform/winsec/AccessMask.h"
#include "platform/winsec/ExplicitAccess.h"

namespace winsec {
namespace {

using testing::AcesOf;
using testing::DaclOf;

constexpr uint32_t kOiCi = kObjectInheritAce | kContainerInheritAce;

ExplicitAccess Grant(uint32_t mask, const Sid& sid, uint32_t flags = 0) {
  return ExplicitAccess::ForSid(AccessMode::kGrant, mask, sid, flags);
}
ExplicitAccess Deny(uint32_t mask, const Sid& sid, uint32_t flags = 0) {
  return ExplicitAccess::ForSid(AccessMode::kDeny, mask, sid, flags);
}
ExplicitAccess SetOnly(uint32_t mask, const Sid& sid, uint32_t flags = 0) {
  return ExplicitAccess::ForSid(AccessMode::kSet, mask, sid, flags);
}
ExplicitAccess Revoke(const Sid& sid) { return ExplicitAccess::ForSid(AccessMode::kRevoke, 0, sid); }

// Knows one account name, "Users".
uint32_t ResolveUsers(std::string_view name, Sid* sid) {
  if (name != "Users") return winerr::kNoneMapped;
  *sid = Sid::BuiltinUsers();
  return winerr::kSuccess;
}

struct MergeCase {
  const char* name;
  const char* oldDacl;  // nullptr: no ACL
  std::vector<ExplicitAccess> entries;
  const char* expected;
};

std::string MergedAces(const char* oldDacl, const std::vector<ExplicitAccess>& entries, Acl* merged) {
  std::optional<Acl> old;
  if (oldDacl) old = DaclOf(oldDacl);
  EXPECT_EQ(MergeEntriesIntoAcl(entries, old ? &*old : nullptr, ResolveUsers, merged), winerr::kSuccess);
  return AcesOf(*merged);
}

TEST(ExplicitAccessMerge, Goldens) {
  const Sid bu = Sid::BuiltinUsers();
  const Sid au = Sid::AuthenticatedUsers();
  const std::vector<MergeCase> cases = {
      {"grant into no ACL", nullptr, {Grant(kFileGenericRead, bu, kOiCi)}, "(A;OICI;FR;;;BU)"},
      {"grant folds into the allow ACE with the same flags, where it stands",
       "D:(A;;FA;;;SY)(A;OICI;FR;;;BU)", {Grant(kFileGenericWrite, bu, kOiCi)},
       "(A;;FA;;;SY)(A;OICI;0x12019f;;;BU)"},
      {"the same entry twice in one call gives one ACE", nullptr,
       {Grant(kFileGenericRead, bu), Grant(kFileGenericRead, bu)}, "(A;;FR;;;BU)"},
      {"grant with other flags adds an ACE before the old allows", "D:(A;;FA;;;SY)(A;OICI;FR;;;BU)",
       {Grant(kFileGenericWrite, bu)}, "(A;;FW;;;BU)(A;;FA;;;SY)(A;OICI;FR;;;BU)"},
      {"new allows keep the order of the entries, also across a removal", "D:(A;;FA;;;SY)(A;;FR;;;AU)",
       {Grant(kFileGenericRead, bu), Revoke(au), Grant(kFileGenericExecute, Sid::Anonymous())},
       "(A;;FR;;;BU)(A;;FX;;;AN)(A;;FA;;;SY)"},
      {"deny goes before the old denies, denies before allows", "D:(A;;FA;;;SY)(D;;SD;;;AN)",
       {Deny(kFileGenericWrite, bu)}, "(D;;FW;;;BU)(D;;SD;;;AN)(A;;FA;;;SY)"},
      {"set replaces every explicit allow and deny of the trustee",
       "D:(D;;FW;;;BU)(A;;FA;;;SY)(A;OICI;FR;;;BU)(A;;FX;;;BU)", {SetOnly(kFileGenericRead, bu, kOiCi)},
       "(A;OICI;FR;;;BU)(A;;FA;;;SY)"},
      {"set without rights only removes", "D:(D;;FW;;;BU)(A;;FA;;;SY)(A;OICI;FR;;;BU)", {SetOnly(0, bu)},
       "(A;;FA;;;SY)"},
      {"revoke removes the allows and keeps the denies", "D:(D;;FW;;;BU)(A;;FA;;;SY)(A;OICI;FR;;;BU)",
       {Revoke(bu)}, "(D;;FW;;;BU)(A;;FA;;;SY)"},
      {"no rights add nothing", "D:(A;;FA;;;SY)", {Grant(0, bu), Deny(0, bu)}, "(A;;FA;;;SY)"},
      {"grant takes its rights out of the trustee's denies", "D:(D;;WDWO;;;BU)(D;;SD;;;BU)",
       {Grant(kWriteDac | kDelete, bu)}, "(D;;WO;;;BU)(A;;SDWD;;;BU)"},
      {"deny takes its rights out of the trustee's allows", "D:(A;;FA;;;BU)", {Deny(kDelete, bu)},
       "(D;;SD;;;BU)(A;;0x1e01ff;;;BU)"},
      {"inherited ACEs stay after the explicit ones, unchanged and in order",
       "D:(A;ID;FA;;;SY)(D;ID;FW;;;BU)(A;;FR;;;AU)(A;OICIID;FA;;;BA)", {Grant(kFileGenericWrite, bu)},
       "(A;;FW;;;BU)(A;;FR;;;AU)(A;ID;FA;;;SY)(D;ID;FW;;;BU)(A;OICIID;FA;;;BA)"},
      {"no entries copy the old ACL as it is", "D:(A;;FA;;;SY)(D;;SD;;;AN)", {}, "(A;;FA;;;SY)(D;;SD;;;AN)"},
      {"no entries and no ACL give an empty ACL", nullptr, {}, ""},
      {"a trustee by name", nullptr, {ExplicitAccess::ForName(AccessMode::kGrant, kFileGenericRead, "Users")},
       "(A;;FR;;;BU)"},
  };
  for (const MergeCase& c : cases) {
    SCOPED_TRACE(c.name);
    Acl merged;
    EXPECT_EQ(MergedAces(c.oldDacl, c.entries, &merged), c.expected);
    // Merging the same entries again changes nothing.
    Acl again;
    ASSERT_EQ(MergeEntriesIntoAcl(c.entries, &merged, ResolveUsers, &again), winerr::kSuccess);
    EXPECT_EQ(AcesOf(again), c.expected);
  }
}

TEST(ExplicitAccessMerge, BadEntriesFailAndLeaveNoAcl) {
  const Sid bu = Sid::BuiltinUsers();
  auto withForm = [&](TrusteeForm form) {
    ExplicitAccess entry = Grant(kFileGenericRead, bu);
    entry.trustee.form = form;
    return entry;
  };
  struct BadCase {
    const char* name;
    ExplicitAccess entry;
    NameResolver resolver;
    uint32_t expected;
  };
  const std::vector<BadCase> cases = {
      {"mode not used", ExplicitAccess::ForSid(AccessMode::kNotUsed, kFileGenericRead, bu), ResolveUsers,
       winerr::kInvalidParameter},
      {"audit mode", ExplicitAccess::ForSid(AccessMode::kSetAuditSuccess, kFileGenericRead, bu), ResolveUsers,
       winerr::kInvalidParameter},
      {"unknown mode", ExplicitAccess::ForSid(static_cast<AccessMode>(9), kFileGenericRead, bu), ResolveUsers,
       winerr::kInvalidParameter},
      {"bad trustee form", withForm(TrusteeForm::kBadForm), ResolveUsers, winerr::kInvalidParameter},
      {"object trustee", withForm(TrusteeForm::kObjectsAndSid), ResolveUsers, winerr::kInvalidParameter},
      {"INHERITED_ACE", Grant(kFileGenericRead, bu, kInheritedAce), ResolveUsers, winerr::kInvalidParameter},
      {"audit flag", Grant(kFileGenericRead, bu, kSuccessfulAccessAceFlag), ResolveUsers,
       winerr::kInvalidParameter},
      {"name without resolver", ExplicitAccess::ForName(AccessMode::kGrant, kFileGenericRead, "Users"), nullptr,
       winerr::kInvalidParameter},
      {"name the resolver does not know", ExplicitAccess::ForName(AccessMode::kGrant, kFileGenericRead, "Nobody"),
       ResolveUsers, winerr::kNoneMapped},
  };
  const Acl old = DaclOf("D:(A;;FA;;;SY)");
  for (const BadCase& c : cases) {
    SCOPED_TRACE(c.name);
    // A good entry first: nothing of it may reach the result either.
    std::vector<ExplicitAccess> entries = {Grant(kFileGenericRead, Sid::AuthenticatedUsers()), c.entry};
    Acl out = DaclOf("D:(A;;FR;;;WD)");
    EXPECT_EQ(MergeEntriesIntoAcl(entries, &old, c.resolver, &out), c.expected);
    EXPECT_EQ(AcesOf(out), "(A;;FR;;;WD)");
  }
}

TEST(ExplicitAccessRead, ExplicitAcesWithTheirIndices) {
  Acl acl = DaclOf(
      "D:(A;ID;FA;;;SY)(D;NP;FW;;;BU)(OA;;RP;bf967aba-0de6-11d0-a285-00aa003049e2;;AU)"
      "(A;OICIID;FA;;;BA)(A;CIIO;FR;;;AU)");
  std::vector<ExplicitAccess> entries = {Grant(1, Sid::Everyone())};
  ASSERT_EQ(ExplicitEntriesFromAcl(acl, &entries), winerr::kSuccess);

  ExplicitAccess deny = Deny(kFileGenericWrite, Sid::BuiltinUsers(), kNoPropagateInheritAce);
  deny.sourceAceIndex = 1;
  ExplicitAccess grant = Grant(kFileGenericRead, Sid::AuthenticatedUsers(), kContainerInheritAce | kInheritOnlyAce);
  grant.sourceAceIndex = 4;
  EXPECT_EQ(entries, (std::vector<ExplicitAccess>{deny, grant}));

  EXPECT_EQ(ExplicitEntriesFromAcl(acl, nullptr), winerr::kInvalidParameter);
}

}  // namespace
}  // namespace winsec
