#include <gtest/gtest.h>

#include "WinsecTestUtil.h"
#include "platform/winsec/AccessMask.h"
#include "platform/winsec/Acl.h"

namespace winsec {
namespace {

using testing::Hex;
using testing::ToHex;

const char kBaSid[] = "01 02 00 00 00 00 00 05 20 00 00 00 20 02 00 00";

Bytes BytesOf(const Acl& acl) {
  Bytes bytes;
  EXPECT_EQ(acl.ToBytes(&bytes), winerr::kSuccess);
  return bytes;
}

// An object ACE (allowed, with an object-type GUID) as raw body bytes.
Ace ObjectAce() {
  Bytes body = Hex("10 00 00 00 01 00 00 00");  // mask RP, object type present
  Bytes guid = Hex("86 7a 96 bf e6 0d d0 11 a2 85 00 aa 00 30 49 e2");
  body.insert(body.end(), guid.begin(), guid.end());
  Bytes sid = Sid::AuthenticatedUsers().ToBytes();
  body.insert(body.end(), sid.begin(), sid.end());
  return Ace::Opaque(kAccessAllowedObjectAceType, kContainerInheritAce, body);
}

TEST(AclBinary, EmptyAclIsEightBytes) {
  EXPECT_EQ(ToHex(BytesOf(Acl())), "02 00 08 00 00 00 00 00");
}

TEST(AclBinary, AccessAceLayout) {
  Acl acl;
  acl.Append(Ace::Allowed(kFileAllAccess, Sid::BuiltinAdministrators()));
  ASSERT_EQ(acl.Aces()[0].Size(), 24u);
  EXPECT_EQ(ToHex(BytesOf(acl)),
            ToHex(Hex(std::string("02 00 20 00 01 00 00 00 00 00 18 00 FF 01 1F 00 ") + kBaSid)));
}

TEST(AclBinary, EveryAccessAceTypeRoundTrips) {
  Acl acl;
  acl.Append(Ace::Denied(kWriteDac, Sid::Everyone(), kObjectInheritAce | kContainerInheritAce));
  acl.Append(Ace::Allowed(kGenericRead, Sid::BuiltinUsers(), kInheritedAce));
  acl.Append(Ace::Audit(kDelete, Sid::Everyone(), kSuccessfulAccessAceFlag | kFailedAccessAceFlag));
  acl.Append(Ace::Alarm(kDelete, Sid::LocalSystem(), kSuccessfulAccessAceFlag));
  Acl back;
  ASSERT_EQ(Acl::Parse(BytesOf(acl), &back), winerr::kSuccess);
  EXPECT_EQ(back, acl);
  EXPECT_EQ(back.Aces()[0].type, kAccessDeniedAceType);
  EXPECT_EQ(back.Aces()[2].flags, 0xC0);
}

TEST(AclBinary, OpaqueAcesSurviveByteForByte) {
  Acl acl;
  acl.Append(ObjectAce());
  acl.Append(Ace::Allowed(kReadControl, Sid::Everyone()));
  Bytes bytes = BytesOf(acl);
  Acl back;
  ASSERT_EQ(Acl::Parse(bytes, &back), winerr::kSuccess);
  EXPECT_EQ(BytesOf(back), bytes);
  EXPECT_EQ(back.Aces()[0].body, ObjectAce().body);
}

TEST(AclBinary, OpaqueBodyIsPaddedToFourBytes) {
  Acl acl;
  acl.Append(Ace::Opaque(kSystemScopedPolicyIdAceType, 0, Hex("01 02 03 04 05")));
  EXPECT_EQ(ToHex(BytesOf(acl)), "02 00 14 00 01 00 00 00 13 00 0C 00 01 02 03 04 05 00 00 00");
}

TEST(AclBinary, FreeSpaceAtTheEndIsKept) {
  Bytes bytes = Hex(std::string("02 00 28 00 01 00 00 00 00 00 18 00 FF 01 1F 00 ") + kBaSid +
                    " 00 00 00 00 00 00 00 00");
  Acl acl;
  ASSERT_EQ(Acl::Parse(bytes, &acl), winerr::kSuccess);
  EXPECT_EQ(acl.BytesInUse(), 32u);
  EXPECT_EQ(acl.AclSize(), 40u);
  EXPECT_EQ(acl.BytesFree(), 8u);
  EXPECT_EQ(BytesOf(acl), bytes);

  // Removing an ACE frees its bytes but keeps the size, as DeleteAce does.
  acl.Aces().clear();
  EXPECT_EQ(acl.AclSize(), 40u);
  EXPECT_EQ(acl.BytesFree(), 32u);
}

TEST(AclBinary, ReservedSizeGrowsWithTheAces) {
  Acl acl;
  ASSERT_EQ(acl.SetAclSize(16), winerr::kSuccess);
  EXPECT_EQ(BytesOf(acl).size(), 16u);
  acl.Append(Ace::Allowed(kFileAllAccess, Sid::BuiltinAdministrators()));
  EXPECT_EQ(acl.AclSize(), 32u);
  EXPECT_EQ(acl.SetAclSize(7), winerr::kInsufficientBuffer);
  EXPECT_EQ(acl.SetAclSize(0x10000), winerr::kInvalidParameter);
}

TEST(AclBinary, PaddingInsideAnAccessAceIsDropped) {
  Bytes bytes = Hex(std::string("02 00 24 00 01 00 00 00 00 00 1C 00 FF 01 1F 00 ") + kBaSid +
                    " 00 00 00 00");
  Acl acl;
  ASSERT_EQ(Acl::Parse(bytes, &acl), winerr::kSuccess);
  EXPECT_EQ(acl.Aces()[0].sid, Sid::BuiltinAdministrators());
  EXPECT_EQ(acl.Aces()[0].Size(), 24u);
  EXPECT_EQ(acl.AclSize(), 36u);  // the ACL keeps its size; the 4 bytes become free space
}

TEST(AclBinary, TooLargeToWrite) {
  Acl acl;
  for (int i = 0; i < 2800; ++i) acl.Append(Ace::Allowed(1, Sid::BuiltinAdministrators()));
  ASSERT_GT(acl.BytesInUse(), kMaxAclSize);
  Bytes bytes;
  EXPECT_EQ(acl.ToBytes(&bytes), winerr::kInvalidAcl);

  Acl big;
  big.Append(Ace::Opaque(kSystemResourceAttributeAceType, 0, Bytes(0x10000, 0)));
  EXPECT_EQ(big.ToBytes(&bytes), winerr::kInvalidAcl);
}

TEST(AclRevision, TwoByDefaultFourWithObjectAces) {
  Acl acl;
  EXPECT_EQ(acl.Revision(), kAclRevision);
  acl.Append(ObjectAce());
  EXPECT_EQ(acl.Revision(), kAclRevisionDs);
  EXPECT_EQ(BytesOf(acl)[0], 4);
  acl.Aces().clear();
  EXPECT_EQ(acl.Revision(), kAclRevision);
}

TEST(AclRevision, ReadRevisionIsKeptAndSetRevisionFollowsInitializeAcl) {
  Acl acl;
  ASSERT_EQ(Acl::Parse(Hex("03 00 08 00 00 00 00 00"), &acl), winerr::kSuccess);
  EXPECT_EQ(acl.Revision(), kAclRevision3);
  EXPECT_EQ(acl.SetRevision(1), winerr::kInvalidParameter);
  EXPECT_EQ(acl.SetRevision(5), winerr::kInvalidParameter);
  EXPECT_EQ(acl.SetRevision(0xFF), winerr::kInvalidParameter);
  EXPECT_EQ(acl.Revision(), kAclRevision3);
  EXPECT_EQ(acl.SetRevision(kAclRevisionDs), winerr::kSuccess);
  EXPECT_EQ(acl.Revision(), kAclRevisionDs);
}

TEST(AclMalformed, HeaderProblems) {
  Acl acl;
  EXPECT_EQ(Acl::Parse(Hex("02 00 08 00 00 00 00"), &acl), winerr::kInvalidAcl);     // 7 bytes
  EXPECT_EQ(Acl::Parse(Hex("01 00 08 00 00 00 00 00"), &acl), winerr::kInvalidAcl);  // revision 1
  EXPECT_EQ(Acl::Parse(Hex("05 00 08 00 00 00 00 00"), &acl), winerr::kInvalidAcl);  // revision 5
  EXPECT_EQ(Acl::Parse(Hex("02 00 04 00 00 00 00 00"), &acl), winerr::kInvalidAcl);  // AclSize < 8
  EXPECT_EQ(Acl::Parse(Hex("02 00 0C 00 00 00 00 00"), &acl), winerr::kInvalidAcl);  // beyond buffer
}

TEST(AclMalformed, AceProblems) {
  const std::string ace = std::string("00 00 18 00 FF 01 1F 00 ") + kBaSid;
  Acl acl;
  // Two ACEs announced, one present.
  EXPECT_EQ(Acl::Parse(Hex("02 00 20 00 02 00 00 00 " + ace), &acl), winerr::kInvalidAcl);
  // AceSize not a multiple of 4.
  EXPECT_EQ(Acl::Parse(Hex(std::string("02 00 20 00 01 00 00 00 00 00 17 00 FF 01 1F 00 ") + kBaSid),
                       &acl),
            winerr::kInvalidAcl);
  // AceSize 0 (would never advance).
  EXPECT_EQ(Acl::Parse(Hex("02 00 10 00 02 00 00 00 00 00 00 00 00 00 00 00"), &acl), winerr::kInvalidAcl);
  // AceSize runs past AclSize although the buffer holds the bytes.
  EXPECT_EQ(Acl::Parse(Hex("02 00 1C 00 01 00 00 00 " + ace), &acl), winerr::kInvalidAcl);
  // The SID claims more sub-authorities than the ACE holds.
  EXPECT_EQ(Acl::Parse(Hex("02 00 20 00 01 00 00 00 00 00 18 00 FF 01 1F 00 "
                           "01 03 00 00 00 00 00 05 20 00 00 00 20 02 00 00"),
                       &acl),
            winerr::kInvalidAcl);
  // A SID of the wrong revision inside the ACE.
  EXPECT_EQ(Acl::Parse(Hex("02 00 18 00 01 00 00 00 00 00 10 00 FF 01 1F 00 "
                           "07 00 00 00 00 00 00 05"),
                       &acl),
            winerr::kInvalidAcl);
  // An access ACE too short for a mask.
  EXPECT_EQ(Acl::Parse(Hex("02 00 0C 00 01 00 00 00 00 00 04 00"), &acl), winerr::kInvalidAcl);
}

TEST(AclMalformed, TruncationAnywhereIsRefused) {
  Acl acl;
  acl.Append(Ace::Allowed(kFileAllAccess, Sid::BuiltinAdministrators()));
  acl.Append(ObjectAce());
  Bytes bytes = BytesOf(acl);
  Acl out;
  for (size_t size = 0; size < bytes.size(); ++size) {
    EXPECT_EQ(Acl::Parse(ByteView(bytes).first(size), &out), winerr::kInvalidAcl) << size;
  }
}

}  // namespace
}  // namespace winsec
