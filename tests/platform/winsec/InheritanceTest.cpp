#include <gtest/gtest.h>

#include "WinsecTestUtil.h"
#include "platform/winsec/Inheritance.h"

namespace winsec {
namespace {

using testing::AcesOf;
using testing::DaclOf;
using testing::SidOf;

const char kUser1[] = "S-1-5-21-1-2-3-1001";
const char kUser2[] = "S-1-5-21-1-2-3-1002";
const char kUser3[] = "S-1-5-21-1-2-3-1003";
const char kGroup[] = "S-1-5-21-1-2-3-513";

std::string Inherit(const char* parentDacl, const InheritanceTarget& child) {
  return AcesOf(Acl(InheritedAces(DaclOf(parentDacl), child)));
}

// A folder R with a file FR in it and a subfolder C holding a file F and a
// folder G; every object keeps only what it inherits.
struct Tree {
  std::string fileInRoot, child, fileInChild, grandchild;
  friend bool operator==(const Tree&, const Tree&) = default;
  friend std::ostream& operator<<(std::ostream& os, const Tree& t) {
    return os << "FR=" << t.fileInRoot << " C=" << t.child << " F=" << t.fileInChild
              << " G=" << t.grandchild;
  }
};

Tree Propagate(const std::string& rootDacl) {
  Acl root = DaclOf(rootDacl);
  Acl child = BuildObjectAcl(Acl(), &root, InheritanceTarget::Directory(SidOf(kUser1)), false);
  Acl fileInRoot = BuildObjectAcl(Acl(), &root, InheritanceTarget::File(SidOf(kUser1)), false);
  Acl fileInChild = BuildObjectAcl(Acl(), &child, InheritanceTarget::File(SidOf(kUser2)), false);
  Acl grandchild = BuildObjectAcl(Acl(), &child, InheritanceTarget::Directory(SidOf(kUser3)), false);
  return {AcesOf(fileInRoot), AcesOf(child), AcesOf(fileInChild), AcesOf(grandchild)};
}

TEST(InheritanceFlags, ThreeLevelsPerFlagCombination) {
  const std::string e = "(A;ID;FA;;;BU)";
  const struct {
    const char* flags;
    Tree expected;
  } cases[] = {
      {"OI", {e, "(A;OIIOID;FA;;;BU)", e, "(A;OIIOID;FA;;;BU)"}},
      {"CI", {"", "(A;CIID;FA;;;BU)", "", "(A;CIID;FA;;;BU)"}},
      {"OICI", {e, "(A;OICIID;FA;;;BU)", e, "(A;OICIID;FA;;;BU)"}},
      {"OICINP", {e, e, "", ""}},
      {"OINP", {e, "", "", ""}},
      {"CINP", {"", e, "", ""}},
      // INHERIT_ONLY concerns the parent only; it does not travel with the copy.
      {"OICIIO", {e, "(A;OICIID;FA;;;BU)", e, "(A;OICIID;FA;;;BU)"}},
      {"OIIO", {e, "(A;OIIOID;FA;;;BU)", e, "(A;OIIOID;FA;;;BU)"}},
      {"CIIO", {"", "(A;CIID;FA;;;BU)", "", "(A;CIID;FA;;;BU)"}},
      {"OICIID", {e, "(A;OICIID;FA;;;BU)", e, "(A;OICIID;FA;;;BU)"}},
      {"IO", {"", "", "", ""}},
      {"NP", {"", "", "", ""}},
      {"", {"", "", "", ""}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Propagate(std::string("D:(A;") + c.flags + ";FA;;;BU)"), c.expected) << c.flags;
  }
}

TEST(InheritanceFlags, ParentOrderAndAceTypesAreKept) {
  const char root[] = "D:(D;OICI;FW;;;BG)(A;OICI;FR;;;BU)(A;CI;FA;;;BA)(A;OI;FX;;;WD)";
  EXPECT_EQ(Inherit(root, InheritanceTarget::File()), "(D;ID;FW;;;BG)(A;ID;FR;;;BU)(A;ID;FX;;;WD)");
  EXPECT_EQ(Inherit(root, InheritanceTarget::Directory()),
            "(D;OICIID;FW;;;BG)(A;OICIID;FR;;;BU)(A;CIID;FA;;;BA)(A;OIIOID;FX;;;WD)");
}

TEST(InheritanceFlags, AuditFlagsStay) {
  const char root[] = "D:(AU;OICISAFA;FA;;;WD)(AU;CINPFA;FW;;;BU)";
  EXPECT_EQ(Inherit(root, InheritanceTarget::File()), "(AU;IDSAFA;FA;;;WD)");
  EXPECT_EQ(Inherit(root, InheritanceTarget::Directory()), "(AU;OICIIDSAFA;FA;;;WD)(AU;IDFA;FW;;;BU)");
}

TEST(InheritanceFlags, ObjectAcesPropagateByTheirFlags) {
  const char root[] = "D:(OA;CI;RP;bf967a86-0de6-11d0-a285-00aa003049e2;;AU)";
  EXPECT_EQ(Inherit(root, InheritanceTarget::Directory()),
            "(OA;CIID;RP;bf967a86-0de6-11d0-a285-00aa003049e2;;AU)");
  EXPECT_EQ(Inherit(root, InheritanceTarget::File()), "");
}

TEST(InheritanceMapping, GenericRightsSplitIntoEffectiveAndInheritOnly) {
  // A folder below such a parent reads back as "D:AI(A;ID;FA;;;BA)(A;OICIIOID;GA;;;BA)".
  EXPECT_EQ(Inherit("D:(A;OICI;GA;;;BA)", InheritanceTarget::Directory()),
            "(A;ID;FA;;;BA)(A;OICIIOID;GA;;;BA)");
  EXPECT_EQ(Inherit("D:(A;OICI;GA;;;BA)", InheritanceTarget::File()), "(A;ID;FA;;;BA)");

  Tree tree = Propagate("D:(A;OICI;GR;;;BU)");
  EXPECT_EQ(tree.child, "(A;ID;FR;;;BU)(A;OICIIOID;GR;;;BU)");
  EXPECT_EQ(tree.fileInChild, "(A;ID;FR;;;BU)");
  EXPECT_EQ(tree.grandchild, tree.child);  // the inherit-only copy carries on unmapped
}

TEST(InheritanceMapping, NoSplitWhereNothingIsLeftToInherit) {
  EXPECT_EQ(Inherit("D:(A;OICINP;GA;;;BA)", InheritanceTarget::Directory()), "(A;ID;FA;;;BA)");
  EXPECT_EQ(Inherit("D:(A;CINP;GW;;;BA)", InheritanceTarget::Directory()), "(A;ID;FW;;;BA)");
  // An OI-only ACE does not apply to a folder: it arrives inherit-only and unmapped.
  EXPECT_EQ(Inherit("D:(A;OI;GA;;;BA)", InheritanceTarget::Directory()), "(A;OIIOID;GA;;;BA)");
  // Mixed generic and specific bits: only the generic ones are mapped.
  EXPECT_EQ(Inherit("D:(A;OI;GRSD;;;BA)", InheritanceTarget::File()), "(A;ID;0x130089;;;BA)");
}

TEST(InheritanceMapping, CreatorOwnerAndGroupAreReplacedInTheEffectiveCopy) {
  Tree tree = Propagate("D:(A;OICIIO;GA;;;CO)");
  EXPECT_EQ(tree.fileInRoot, std::string("(A;ID;FA;;;") + kUser1 + ")");
  EXPECT_EQ(tree.child, std::string("(A;ID;FA;;;") + kUser1 + ")(A;OICIIOID;GA;;;CO)");
  EXPECT_EQ(tree.fileInChild, std::string("(A;ID;FA;;;") + kUser2 + ")");
  EXPECT_EQ(tree.grandchild, std::string("(A;ID;FA;;;") + kUser3 + ")(A;OICIIOID;GA;;;CO)");

  // Without generic bits the SID alone forces the split.
  EXPECT_EQ(Inherit("D:(A;OICI;FR;;;CG)", InheritanceTarget::Directory(SidOf(kUser1), SidOf(kGroup))),
            std::string("(A;ID;FR;;;") + kGroup + ")(A;OICIIOID;FR;;;CG)");
  EXPECT_EQ(Inherit("D:(A;OI;GW;;;CG)", InheritanceTarget::File(SidOf(kUser1), SidOf(kGroup))),
            std::string("(A;ID;FW;;;") + kGroup + ")");
}

TEST(InheritanceMapping, CreatorSidStaysWhenNoOwnerIsKnown) {
  EXPECT_EQ(Inherit("D:(A;OI;GA;;;CO)", InheritanceTarget::File()), "(A;ID;FA;;;CO)");
}

TEST(InheritanceMapping, RegistryKeys) {
  InheritanceTarget key = InheritanceTarget::RegistryKey();
  EXPECT_EQ(Inherit("D:(A;CI;GA;;;BA)", key), "(A;ID;KA;;;BA)(A;CIIOID;GA;;;BA)");
  EXPECT_EQ(Inherit("D:(A;CI;GR;;;BU)", key), "(A;ID;KR;;;BU)(A;CIIOID;GR;;;BU)");
  EXPECT_EQ(Inherit("D:(A;CI;GW;;;BU)", key), "(A;ID;KW;;;BU)(A;CIIOID;GW;;;BU)");
  EXPECT_EQ(Inherit("D:(A;CI;KR;;;BU)", key), "(A;CIID;KR;;;BU)");
  // Keys are containers: an OI-only ACE reaches subkeys only as inherit-only.
  EXPECT_EQ(Inherit("D:(A;OI;KA;;;BA)", key), "(A;OIIOID;KA;;;BA)");
}

TEST(InheritanceObjectAcl, ExplicitAcesComeFirst) {
  Acl parent = DaclOf("D:(A;OICI;FR;;;BU)(D;OICI;FW;;;BG)");
  Acl result = BuildObjectAcl(DaclOf("D:(A;;FA;;;BA)(D;;FA;;;AN)"), &parent,
                              InheritanceTarget::Directory(), false);
  EXPECT_EQ(AcesOf(result), "(A;;FA;;;BA)(D;;FA;;;AN)(A;OICIID;FR;;;BU)(D;OICIID;FW;;;BG)");
}

TEST(InheritanceObjectAcl, InheritedAcesOfTheAssignedAclAreRecomputed) {
  Acl parent = DaclOf("D:(A;OICI;FR;;;BU)");
  // Stale inherited ACEs in the ACL being set are dropped.
  Acl stale = DaclOf("D:(A;ID;FA;;;WD)(A;;FA;;;BA)");
  EXPECT_EQ(AcesOf(BuildObjectAcl(stale, &parent, InheritanceTarget::File(), false)),
            "(A;;FA;;;BA)(A;ID;FR;;;BU)");
  // An empty ACL on an unprotected object still reads back the inherited ACEs.
  EXPECT_EQ(AcesOf(BuildObjectAcl(Acl(), &parent, InheritanceTarget::File(), false)), "(A;ID;FR;;;BU)");
  // No parent ACL (none, or a NULL DACL): only the explicit ACEs remain.
  EXPECT_EQ(AcesOf(BuildObjectAcl(stale, nullptr, InheritanceTarget::File(), false)), "(A;;FA;;;BA)");
}

TEST(InheritanceObjectAcl, ProtectedAclIsTakenAsGiven) {
  Acl parent = DaclOf("D:(A;OICI;FR;;;BU)");
  Acl assigned = DaclOf("D:(A;;FA;;;BA)(A;ID;FR;;;WD)");
  EXPECT_EQ(BuildObjectAcl(assigned, &parent, InheritanceTarget::Directory(), true), assigned);
}

TEST(InheritanceObjectAcl, ThreeLevelTreeWithExplicitAcesOnEachLevel) {
  Acl root = DaclOf("D:(A;OICI;FA;;;BA)(A;OICIIO;GA;;;CO)");
  Acl child = BuildObjectAcl(DaclOf("D:(A;CI;FR;;;BU)"), &root,
                             InheritanceTarget::Directory(SidOf(kUser1)), false);
  EXPECT_EQ(AcesOf(child), std::string("(A;CI;FR;;;BU)(A;OICIID;FA;;;BA)(A;ID;FA;;;") + kUser1 +
                               ")(A;OICIIOID;GA;;;CO)");

  Acl grandchild = BuildObjectAcl(DaclOf("D:(D;;FW;;;BG)"), &child,
                                  InheritanceTarget::Directory(SidOf(kUser3)), false);
  EXPECT_EQ(AcesOf(grandchild), std::string("(D;;FW;;;BG)(A;CIID;FR;;;BU)(A;OICIID;FA;;;BA)(A;ID;FA;;;") +
                                    kUser3 + ")(A;OICIIOID;GA;;;CO)");

  Acl file = BuildObjectAcl(Acl(), &child, InheritanceTarget::File(SidOf(kUser2)), false);
  EXPECT_EQ(AcesOf(file), std::string("(A;ID;FA;;;BA)(A;ID;FA;;;") + kUser2 + ")");
}

TEST(InheritanceObjectAcl, RevisionOfTheAssignedAclIsKept) {
  Acl assigned;
  ASSERT_EQ(assigned.SetRevision(kAclRevision3), winerr::kSuccess);
  Acl parent = DaclOf("D:(A;OICI;FR;;;BU)");
  EXPECT_EQ(BuildObjectAcl(assigned, &parent, InheritanceTarget::File(), false).Revision(), kAclRevision3);
}

TEST(InheritanceCanonical, OrderCheck) {
  EXPECT_TRUE(IsCanonicalOrder(DaclOf("D:(D;;FA;;;BG)(A;;FA;;;BA)(D;ID;FA;;;BU)(A;ID;FA;;;WD)")));
  EXPECT_TRUE(IsCanonicalOrder(DaclOf("D:(A;;FA;;;BA)(A;ID;FA;;;WD)")));
  EXPECT_TRUE(IsCanonicalOrder(Acl()));
  EXPECT_FALSE(IsCanonicalOrder(DaclOf("D:(A;;FA;;;BA)(D;;FA;;;BG)")));
  EXPECT_FALSE(IsCanonicalOrder(DaclOf("D:(A;ID;FA;;;WD)(A;;FA;;;BA)")));
  EXPECT_FALSE(IsCanonicalOrder(DaclOf("D:(A;ID;FA;;;WD)(D;ID;FA;;;BU)")));
  // Object deny ACEs deny too.
  EXPECT_FALSE(IsCanonicalOrder(DaclOf("D:(A;;FA;;;BA)(OD;;CR;;;WD)")));
}

TEST(InheritanceCanonical, SortKeepsOrderWithinEachGroup) {
  Acl acl = DaclOf("D:(A;ID;FR;;;WD)(A;;FA;;;BA)(D;ID;FW;;;BU)(D;;FA;;;BG)(A;;FR;;;SY)(D;;FW;;;AN)");
  SortCanonical(&acl);
  EXPECT_EQ(AcesOf(acl), "(D;;FA;;;BG)(D;;FW;;;AN)(A;;FA;;;BA)(A;;FR;;;SY)(D;ID;FW;;;BU)(A;ID;FR;;;WD)");
  EXPECT_TRUE(IsCanonicalOrder(acl));
}

}  // namespace
}  // namespace winsec
