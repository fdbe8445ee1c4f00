#include <gtest/gtest.h>

#include "WinsecTestUtil.h"
#include "platform/winsec/AccessMask.h"
#include "platform/winsec/SecurityDescriptor.h"

namespace winsec {
namespace {

using testing::Hex;
using testing::SdOf;
using testing::SddlOf;
using testing::SelfRelative;
using testing::ToHex;

const char kBaSid[] = "01 02 00 00 00 00 00 05 20 00 00 00 20 02 00 00";
const char kSySid[] = "01 01 00 00 00 00 00 05 12 00 00 00";
const char kEmptyAcl[] = "02 00 08 00 00 00 00 00";

std::string Cat(std::initializer_list<std::string> parts) {
  std::string out;
  for (const std::string& part : parts) out += part + " ";
  return out;
}

SecurityDescriptor Parsed(const Bytes& bytes) {
  SecurityDescriptor sd;
  EXPECT_EQ(SecurityDescriptor::FromSelfRelative(bytes, &sd), winerr::kSuccess);
  return sd;
}

uint32_t ParseCode(const Bytes& bytes) {
  SecurityDescriptor sd;
  return SecurityDescriptor::FromSelfRelative(bytes, &sd);
}

TEST(SecurityDescriptorSelfRelative, EmptyDaclIs28Bytes) {
  SecurityDescriptor sd;
  sd.SetDacl(Acl());
  Bytes bytes = SelfRelative(sd);
  ASSERT_EQ(bytes.size(), 28u);
  EXPECT_EQ(ToHex(bytes), ToHex(Hex(Cat({"01 00 04 80 00 00 00 00 00 00 00 00 00 00 00 00 14 00 00 00",
                                          kEmptyAcl}))));
}

TEST(SecurityDescriptorSelfRelative, PartsFollowTheHeaderInOwnerGroupSaclDaclOrder) {
  SecurityDescriptor sd;
  sd.SetOwner(Sid::BuiltinAdministrators());
  sd.SetGroup(Sid::LocalSystem());
  sd.SetSacl(Acl());
  sd.SetDacl(Acl({Ace::Allowed(kFileAllAccess, Sid::BuiltinAdministrators())}));
  Bytes bytes = SelfRelative(sd);
  std::string expected = Cat({"01 00 14 80", "14 00 00 00", "24 00 00 00", "30 00 00 00", "38 00 00 00",
                              kBaSid, kSySid, kEmptyAcl, "02 00 20 00 01 00 00 00",
                              "00 00 18 00 FF 01 1F 00", kBaSid});
  EXPECT_EQ(ToHex(bytes), ToHex(Hex(expected)));
  EXPECT_EQ(Parsed(bytes), sd);
}

TEST(SecurityDescriptorSelfRelative, ReaderFollowsOffsetsInAnyOrder) {
  // DACL right after the header, owner after it, no group.
  Bytes bytes = Hex(Cat({"01 00 04 80", "1C 00 00 00", "00 00 00 00", "00 00 00 00", "14 00 00 00",
                         kEmptyAcl, kBaSid}));
  SecurityDescriptor sd = Parsed(bytes);
  ASSERT_TRUE(sd.Owner());
  EXPECT_EQ(*sd.Owner(), Sid::BuiltinAdministrators());
  EXPECT_FALSE(sd.Group());
  ASSERT_NE(sd.Dacl(), nullptr);
  EXPECT_TRUE(sd.Dacl()->Empty());
  // Written back in the fixed order, with the same content.
  EXPECT_EQ(Parsed(SelfRelative(sd)), sd);
  EXPECT_EQ(SelfRelative(sd)[4], 0x14);
}

TEST(SecurityDescriptorSelfRelative, TypicalFileDescriptorControl) {
  SecurityDescriptor sd = SdOf("O:BAG:SYD:PAI(A;;FA;;;BA)");
  Bytes bytes = SelfRelative(sd);
  EXPECT_EQ(bytes[2] | (bytes[3] << 8), 0x9404);
  EXPECT_EQ(sd.Control(), 0x1404);  // the model itself is not in a form
}

TEST(SecurityDescriptorDaclStates, AbsentNullAndEmptyStayDistinct) {
  SecurityDescriptor absent;
  SecurityDescriptor null;
  null.SetNullDacl();
  SecurityDescriptor empty;
  empty.SetDacl(Acl());

  EXPECT_FALSE(absent.DaclPresent());
  EXPECT_TRUE(null.DaclPresent());
  EXPECT_TRUE(null.HasNullDacl());
  EXPECT_EQ(null.Dacl(), nullptr);
  EXPECT_TRUE(empty.DaclPresent());
  EXPECT_FALSE(empty.HasNullDacl());
  ASSERT_NE(empty.Dacl(), nullptr);

  EXPECT_EQ(ToHex(SelfRelative(absent)), "01 00 00 80 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00");
  EXPECT_EQ(ToHex(SelfRelative(null)), "01 00 04 80 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00");
  EXPECT_EQ(SelfRelative(empty).size(), 28u);

  for (const SecurityDescriptor* sd : {&absent, &null, &empty}) {
    EXPECT_EQ(Parsed(SelfRelative(*sd)), *sd);
  }
  EXPECT_EQ(SddlOf(absent), "");
  EXPECT_EQ(SddlOf(null), "D:NO_ACCESS_CONTROL");
  EXPECT_EQ(SddlOf(empty), "D:");
}

TEST(SecurityDescriptorDaclStates, OffsetWithoutPresentBitIsIgnored) {
  // SE_DACL_PRESENT clear, yet an offset to garbage: Windows reads no DACL.
  Bytes bytes = Hex("01 00 00 80 00 00 00 00 00 00 00 00 00 00 00 00 14 00 00 00 FF FF FF FF");
  SecurityDescriptor sd = Parsed(bytes);
  EXPECT_FALSE(sd.DaclPresent());
}

TEST(SecurityDescriptorDaclStates, NullSaclRoundTrips) {
  SecurityDescriptor sd;
  sd.SetNullSacl();
  SecurityDescriptor back = Parsed(SelfRelative(sd));
  EXPECT_TRUE(back.SaclPresent());
  EXPECT_TRUE(back.HasNullSacl());
  EXPECT_EQ(back.Control(), kSeSaclPresent);
}

TEST(SecurityDescriptorMalformed, TruncatedDescriptorsAreRefused) {
  Bytes bytes = SelfRelative(SdOf("O:BAG:SYD:(A;;FA;;;BA)"));
  for (size_t size = 0; size < bytes.size(); ++size) {
    EXPECT_EQ(ParseCode(Bytes(bytes.begin(), bytes.begin() + static_cast<long>(size))),
              winerr::kInvalidSecurityDescr)
        << "size " << size;
  }
}

TEST(SecurityDescriptorMalformed, HeaderProblems) {
  Bytes good = SelfRelative(SdOf("D:"));
  Bytes revision = good;
  revision[0] = 2;
  EXPECT_EQ(ParseCode(revision), winerr::kInvalidSecurityDescr);
  Bytes absolute = good;
  absolute[3] = 0x00;  // SE_SELF_RELATIVE missing
  EXPECT_EQ(ParseCode(absolute), winerr::kInvalidSecurityDescr);
}

TEST(SecurityDescriptorMalformed, OffsetsOutOfRange) {
  auto withOwnerOffset = [](const char* offset) {
    return Hex(Cat({"01 00 00 80", offset, "00 00 00 00 00 00 00 00 00 00 00 00", kBaSid}));
  };
  EXPECT_EQ(ParseCode(withOwnerOffset("14 00 00 00")), winerr::kSuccess);
  EXPECT_EQ(ParseCode(withOwnerOffset("04 00 00 00")), winerr::kInvalidSecurityDescr);  // in header
  EXPECT_EQ(ParseCode(withOwnerOffset("24 00 00 00")), winerr::kInvalidSecurityDescr);  // at the end
  EXPECT_EQ(ParseCode(withOwnerOffset("18 00 00 00")), winerr::kInvalidSecurityDescr);  // SID cut off
  EXPECT_EQ(ParseCode(withOwnerOffset("F0 FF FF FF")), winerr::kInvalidSecurityDescr);  // wraps

  // A DACL offset past the buffer, and one whose ACL overruns it.
  EXPECT_EQ(ParseCode(Hex("01 00 04 80 00 00 00 00 00 00 00 00 00 00 00 00 40 00 00 00")),
            winerr::kInvalidSecurityDescr);
  EXPECT_EQ(ParseCode(Hex(Cat({"01 00 04 80 00 00 00 00 00 00 00 00 00 00 00 00 14 00 00 00",
                               "02 00 10 00 00 00 00 00"}))),
            winerr::kInvalidSecurityDescr);
}

TEST(SecurityDescriptorMalformed, InvalidPartsAreRefused) {
  // Group SID with 16 sub-authorities.
  Bytes sixteen = Hex("01 00 00 80 00 00 00 00 14 00 00 00 00 00 00 00 00 00 00 00 01 10 00 00 00 00 00 05");
  sixteen.resize(sixteen.size() + 64, 0);
  EXPECT_EQ(ParseCode(sixteen), winerr::kInvalidSecurityDescr);
  // ACE overrunning its ACL inside the SACL.
  Bytes sacl = Hex(Cat({"01 00 10 80 00 00 00 00 00 00 00 00 14 00 00 00 00 00 00 00",
                        "02 00 10 00 01 00 00 00 02 C0 18 00 00 00 01 00", kBaSid}));
  EXPECT_EQ(ParseCode(sacl), winerr::kInvalidSecurityDescr);
}

TEST(SecurityDescriptorMalformed, CorruptedBytesAreRefusedOrReadConsistently) {
  // Every byte of a descriptor with all four parts set to a few values: the
  // reader either refuses it or yields a descriptor that writes back to a
  // buffer it reads again as the same descriptor.
  Bytes good = SelfRelative(SdOf("O:BAG:SYD:PAI(A;OICI;FA;;;BA)(OA;CI;RP;;;AU)S:(AU;SA;FA;;;WD)"));
  for (size_t i = 0; i < good.size(); ++i) {
    for (uint8_t value : {0x00, 0x01, 0x04, 0x0F, 0x10, 0x7F, 0x80, 0xFF}) {
      Bytes bytes = good;
      bytes[i] = value;
      SecurityDescriptor sd;
      uint32_t rc = SecurityDescriptor::FromSelfRelative(bytes, &sd);
      if (rc != winerr::kSuccess) {
        EXPECT_EQ(rc, winerr::kInvalidSecurityDescr);
        continue;
      }
      Bytes again;
      ASSERT_EQ(sd.ToSelfRelative(&again), winerr::kSuccess);
      EXPECT_EQ(Parsed(again), sd) << "byte " << i << " = " << int{value};
    }
  }
}

TEST(SecurityDescriptorAbsolute, HeaderSizes) {
  EXPECT_EQ(AbsoluteHeaderSize(4), 20u);
  EXPECT_EQ(AbsoluteHeaderSize(8), 40u);
}

TEST(SecurityDescriptorAbsolute, PartsAreSeparateBuffers) {
  Bytes selfRelative = SelfRelative(SdOf("O:BAG:SYD:P(A;;FA;;;BA)S:NO_ACCESS_CONTROL"));
  AbsoluteSecurityDescriptor absolute;
  ASSERT_EQ(SelfRelativeToAbsolute(selfRelative, &absolute), winerr::kSuccess);
  EXPECT_EQ(absolute.revision, 1);
  EXPECT_EQ(absolute.control, kSeDaclPresent | kSeSaclPresent | kSeDaclProtected);
  EXPECT_EQ(ToHex(absolute.owner), ToHex(Hex(kBaSid)));
  EXPECT_EQ(ToHex(absolute.group), ToHex(Hex(kSySid)));
  EXPECT_TRUE(absolute.sacl.empty());  // NULL SACL: present, no buffer
  EXPECT_EQ(ToHex(absolute.dacl),
            ToHex(Hex(Cat({"02 00 20 00 01 00 00 00 00 00 18 00 FF 01 1F 00", kBaSid}))));

  Bytes back;
  ASSERT_EQ(AbsoluteToSelfRelative(absolute, &back), winerr::kSuccess);
  EXPECT_EQ(back, selfRelative);
}

TEST(SecurityDescriptorAbsolute, InvalidAbsoluteFormsAreRefused) {
  AbsoluteSecurityDescriptor absolute;
  absolute.control = kSeDaclPresent;
  absolute.dacl = Hex(kEmptyAcl);
  Bytes out;
  ASSERT_EQ(AbsoluteToSelfRelative(absolute, &out), winerr::kSuccess);

  AbsoluteSecurityDescriptor flagged = absolute;
  flagged.control |= kSeSelfRelative;
  EXPECT_EQ(AbsoluteToSelfRelative(flagged, &out), winerr::kInvalidSecurityDescr);
  AbsoluteSecurityDescriptor revision = absolute;
  revision.revision = 2;
  EXPECT_EQ(AbsoluteToSelfRelative(revision, &out), winerr::kInvalidSecurityDescr);
  AbsoluteSecurityDescriptor owner = absolute;
  owner.owner = Hex("01 05 00 00 00 00 00 05 20 00 00 00");  // 5 sub-authorities, 1 present
  EXPECT_EQ(AbsoluteToSelfRelative(owner, &out), winerr::kInvalidSecurityDescr);
  AbsoluteSecurityDescriptor dacl = absolute;
  dacl.dacl = Hex("02 00 10 00 00 00 00 00");
  EXPECT_EQ(AbsoluteToSelfRelative(dacl, &out), winerr::kInvalidSecurityDescr);
}

TEST(SecurityDescriptorControl, PresentBitsFollowTheParts) {
  SecurityDescriptor sd;
  sd.SetControlBits(0xFFFF, 0xFFFF);
  EXPECT_EQ(sd.Control() & (kSeDaclPresent | kSeSaclPresent | kSeSelfRelative), 0);
  sd.SetDacl(Acl());
  EXPECT_TRUE(sd.Control() & kSeDaclPresent);
  sd.RemoveDacl();
  EXPECT_FALSE(sd.Control() & kSeDaclPresent);
}

TEST(SecurityDescriptorControl, ChangeControlOnlyTouchesTheInheritanceBits) {
  SecurityDescriptor sd = SdOf("D:");
  EXPECT_EQ(sd.ChangeControl(kSeDaclProtected | kSeDaclAutoInherited, kSeDaclProtected), winerr::kSuccess);
  EXPECT_EQ(sd.Control(), kSeDaclPresent | kSeDaclProtected);
  EXPECT_EQ(sd.ChangeControl(kSeDaclUntrusted | kSeServerSecurity, 0xFFFF), winerr::kSuccess);

  uint16_t before = sd.Control();
  EXPECT_EQ(sd.ChangeControl(kSeOwnerDefaulted, kSeOwnerDefaulted), winerr::kInvalidParameter);
  EXPECT_EQ(sd.ChangeControl(kSeDaclPresent, 0), winerr::kInvalidParameter);
  EXPECT_EQ(sd.ChangeControl(kSeDaclProtected | kSeSelfRelative, 0), winerr::kInvalidParameter);
  EXPECT_EQ(sd.Control(), before);
}

TEST(SecurityDescriptorControl, DefaultedBitsSurviveTheBinaryForm) {
  SecurityDescriptor sd = SdOf("O:BAD:");
  sd.SetControlBits(kSeOwnerDefaulted | kSeDaclDefaulted, kSeOwnerDefaulted | kSeDaclDefaulted);
  SecurityDescriptor back = Parsed(SelfRelative(sd));
  EXPECT_EQ(back.Control(), kSeOwnerDefaulted | kSeDaclDefaulted | kSeDaclPresent);
}

}  // namespace
}  // namespace winsec
