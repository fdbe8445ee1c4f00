#include <gtest/gtest.h>

#include "WinsecTestUtil.h"
#include "platform/winsec/AccessMask.h"
#include "platform/winsec/Sddl.h"

namespace winsec {
namespace {

using testing::AcesOf;
using testing::Hex;
using testing::SdOf;
using testing::SddlOf;
using testing::SelfRelative;
using testing::SidOf;
using testing::ToHex;

uint32_t ParseCode(std::string_view sddl, const SddlDomains& domains = {}) {
  SecurityDescriptor sd;
  return SecurityDescriptorFromSddl(sddl, &sd, domains);
}

std::string AceText(const Ace& ace, const SddlDomains& domains = {}) {
  std::string text;
  EXPECT_EQ(AceToSddl(ace, &text, domains), winerr::kSuccess);
  return text;
}

SddlDomains MachineDomain() {
  SddlDomains domains;
  domains.machine = SidOf("S-1-5-21-1004336348-1177238915-682003330");
  return domains;
}

TEST(SddlRoundTrip, TypicalFolderDescriptor) {
  const char text[] = "O:BAG:SYD:PAI(A;OICI;FA;;;BA)(A;;0x1200a9;;;BU)";
  SecurityDescriptor sd = SdOf(text);
  EXPECT_EQ(sd.Control(), kSeDaclPresent | kSeDaclProtected | kSeDaclAutoInherited);
  ASSERT_NE(sd.Dacl(), nullptr);
  ASSERT_EQ(sd.Dacl()->AceCount(), 2u);
  EXPECT_EQ(sd.Dacl()->Aces()[0], Ace::Allowed(kFileAllAccess, Sid::BuiltinAdministrators(),
                                               kObjectInheritAce | kContainerInheritAce));
  EXPECT_EQ(sd.Dacl()->Aces()[1], Ace::Allowed(kFileReadAndExecute, Sid::BuiltinUsers()));
  EXPECT_EQ(SddlOf(sd), text);

  SecurityDescriptor fromBinary;
  ASSERT_EQ(SecurityDescriptor::FromSelfRelative(SelfRelative(sd), &fromBinary), winerr::kSuccess);
  EXPECT_EQ(SddlOf(fromBinary), text);
}

TEST(SddlRoundTrip, DcomMachineDescriptors) {
  const char* texts[] = {
      "O:BAG:BAD:(A;;CCDCLCSWRP;;;BA)(A;;CCDCSW;;;WD)(A;;CCDCLCSWRP;;;S-1-5-32-562)(A;;CCDCLCSWRP;;;LU)",
      "O:BAG:BAD:(A;;CCDCLC;;;WD)(A;;CCDC;;;AN)(A;;CCDCLC;;;S-1-5-32-562)(A;;CCDCLC;;;LU)(A;;CCDC;;;AC)"
      "(A;;CCDC;;;S-1-15-3-1024-2405443489-874036122-4286035555-1823921565-1746547431-2453885448-"
      "3625952902-991631256)",
      "O:BAG:BAD:(A;;CCDCLC;;;PS)(A;;CCDC;;;SY)(A;;CCDCLC;;;BA)",
  };
  for (const char* text : texts) EXPECT_EQ(SddlOf(SdOf(text)), text);
}

TEST(SddlRoundTrip, EmptyAclsAreEightByteAcls) {
  Bytes dacl = SelfRelative(SdOf("D:"));
  EXPECT_EQ(ToHex(dacl), "01 00 04 80 00 00 00 00 00 00 00 00 00 00 00 00 14 00 00 00 "
                         "02 00 08 00 00 00 00 00");
  Bytes sacl = SelfRelative(SdOf("S:"));
  EXPECT_EQ(ToHex(sacl), "01 00 10 80 00 00 00 00 00 00 00 00 14 00 00 00 00 00 00 00 "
                         "02 00 08 00 00 00 00 00");
}

TEST(SddlRoundTrip, NullAclsWithFlags) {
  EXPECT_EQ(SddlOf(SdOf("D:NO_ACCESS_CONTROL")), "D:NO_ACCESS_CONTROL");
  EXPECT_EQ(SddlOf(SdOf("D:PNO_ACCESS_CONTROL")), "D:PNO_ACCESS_CONTROL");
  EXPECT_EQ(SddlOf(SdOf("S:NO_ACCESS_CONTROL")), "S:NO_ACCESS_CONTROL");
  EXPECT_TRUE(SdOf("D:NO_ACCESS_CONTROL").HasNullDacl());
}

TEST(SddlRights, OutputAlgorithm) {
  EXPECT_EQ(RightsToSddl(0xF0000000), "GAGXGWGR");
  EXPECT_EQ(RightsToSddl(0x3), "CCDC");
  EXPECT_EQ(RightsToSddl(kKeyRead | kKeyWrite), "CCDCLCSWRPRC");
  EXPECT_EQ(RightsToSddl(kFileGenericRead | kFileGenericWrite), "0x12019f");
  EXPECT_EQ(RightsToSddl(kFileReadAndExecute), "0x1200a9");
  EXPECT_EQ(RightsToSddl(0xFFFFFFFF), "0xffffffff");
  EXPECT_EQ(RightsToSddl(kSynchronize), "0x100000");  // no one-bit name
  EXPECT_EQ(RightsToSddl(kDelete | kWriteDac | kWriteOwner), "SDWDWO");
  EXPECT_EQ(RightsToSddl(0), "");
}

TEST(SddlRights, CompositesWinOverBitNames) {
  EXPECT_EQ(RightsToSddl(kFileAllAccess), "FA");
  EXPECT_EQ(RightsToSddl(kFileGenericRead), "FR");
  EXPECT_EQ(RightsToSddl(kFileGenericWrite), "FW");
  EXPECT_EQ(RightsToSddl(kFileGenericExecute), "FX");
  EXPECT_EQ(RightsToSddl(kKeyAllAccess), "KA");
  EXPECT_EQ(RightsToSddl(kKeyExecute), "KR");  // KX has the same value; KR is written
  EXPECT_EQ(RightsToSddl(kKeyWrite), "KW");
}

TEST(SddlRights, Parsing) {
  uint32_t mask = 0;
  ASSERT_EQ(RightsFromSddl("KX", &mask), winerr::kSuccess);
  EXPECT_EQ(mask, kKeyRead);
  ASSERT_EQ(RightsFromSddl("0x1F01FF", &mask), winerr::kSuccess);
  EXPECT_EQ(mask, kFileAllAccess);
  ASSERT_EQ(RightsFromSddl("2032127", &mask), winerr::kSuccess);
  EXPECT_EQ(mask, kFileAllAccess);
  ASSERT_EQ(RightsFromSddl("GRGW", &mask), winerr::kSuccess);
  EXPECT_EQ(mask, kGenericRead | kGenericWrite);
  ASSERT_EQ(RightsFromSddl("FRSD", &mask), winerr::kSuccess);
  EXPECT_EQ(mask, kFileGenericRead | kDelete);
  ASSERT_EQ(RightsFromSddl("", &mask), winerr::kSuccess);
  EXPECT_EQ(mask, 0u);

  for (const char* bad : {"ROB", "F", "XX", "0x", "0xZZ", "0x100000000", "4294967296", "GA0x1", "ga"}) {
    EXPECT_EQ(RightsFromSddl(bad, &mask), winerr::kInvalidParameter) << bad;
  }
}

TEST(SddlFlags, OutputOrderIsFixed) {
  Ace ace = Ace::Audit(kGenericAll, Sid::Everyone(), 0xDF);
  EXPECT_EQ(AceText(ace), "(AU;OICINPIOIDSAFA;GA;;;WD)");
  Ace fromText;
  ASSERT_EQ(AceFromSddl("(A;IDIOCIOI;FA;;;BA)", &fromText), winerr::kSuccess);
  EXPECT_EQ(AceText(fromText), "(A;OICIIOID;FA;;;BA)");
}

TEST(SddlFlags, FlagWithoutTokenCannotBeWritten) {
  std::string text;
  EXPECT_EQ(AceToSddl(Ace::Allowed(kGenericAll, Sid::Everyone(), kCriticalAceFlag), &text),
            winerr::kNotSupported);
}

TEST(SddlFlags, AclFlagsInBothParts) {
  SecurityDescriptor sd = SdOf("D:AIARPS:PAI");
  EXPECT_EQ(sd.Control(), kSeDaclPresent | kSeDaclProtected | kSeDaclAutoInheritReq |
                              kSeDaclAutoInherited | kSeSaclPresent | kSeSaclProtected |
                              kSeSaclAutoInherited);
  EXPECT_EQ(SddlOf(sd), "D:PARAIS:PAI");
}

TEST(SddlSids, AliasesBothWays) {
  Sid sid;
  ASSERT_EQ(SidFromSddl("wD", &sid), winerr::kSuccess);
  EXPECT_EQ(sid, Sid::Everyone());
  ASSERT_EQ(SidFromSddl("ba", &sid), winerr::kSuccess);
  EXPECT_EQ(sid, Sid::BuiltinAdministrators());
  EXPECT_EQ(SidToSddl(SidOf("s-1-5-18")), "SY");
  EXPECT_EQ(SidToSddl(Sid::PerformanceLogUsers()), "LU");
  EXPECT_EQ(SidToSddl(Sid::PerformanceMonitorUsers()), "MU");
  EXPECT_EQ(SidToSddl(Sid::AllApplicationPackages()), "AC");
  EXPECT_EQ(SidToSddl(Sid::CreatorOwner()), "CO");
  EXPECT_EQ(SidToSddl(Sid::MandatoryLabel(kMandatoryLowRid)), "LW");
  EXPECT_EQ(SddlOf(SdOf("D:(A;;GA;;;wD)")), "D:(A;;GA;;;WD)");
}

TEST(SddlSids, NumericWhereNoAliasExists) {
  EXPECT_EQ(SidToSddl(Sid::Local()), "S-1-2-0");
  EXPECT_EQ(SidToSddl(Sid::DistributedComUsers()), "S-1-5-32-562");
  EXPECT_EQ(SidToSddl(Sid::BuiltinDomain()), "S-1-5-32");
  EXPECT_EQ(SidToSddl(SidOf("S-1-5-21-1-2-3-1001")), "S-1-5-21-1-2-3-1001");
}

TEST(SddlSids, LocalAccountsNeedTheMachineDomain) {
  SddlDomains domains = MachineDomain();
  Sid admin;
  ASSERT_EQ(SidFromSddl("LA", &admin, domains), winerr::kSuccess);
  EXPECT_EQ(admin.ToString(), "S-1-5-21-1004336348-1177238915-682003330-500");
  EXPECT_EQ(SidToSddl(admin, domains), "LA");
  EXPECT_EQ(SidToSddl(SidOf("S-1-5-21-1004336348-1177238915-682003330-501"), domains), "LG");
  // Another domain's 500, and RIDs other than 500/501, stay numeric.
  EXPECT_EQ(SidToSddl(SidOf("S-1-5-21-1-2-3-500"), domains), "S-1-5-21-1-2-3-500");
  EXPECT_EQ(SidToSddl(SidOf("S-1-5-21-1004336348-1177238915-682003330-512"), domains),
            "S-1-5-21-1004336348-1177238915-682003330-512");

  // Without the domain: not read, not written.
  Sid sid;
  EXPECT_EQ(SidFromSddl("LA", &sid), winerr::kInvalidSid);
  EXPECT_EQ(SidToSddl(admin), "S-1-5-21-1004336348-1177238915-682003330-500");
  EXPECT_EQ(SddlOf(SdOf("O:LAD:(A;;FA;;;LG)", domains), domains), "O:LAD:(A;;FA;;;LG)");
}

TEST(SddlSids, DomainGroupsNeedTheJoinedDomain) {
  SddlDomains domains;
  domains.joined = SidOf("S-1-5-21-7-8-9");
  Sid sid;
  ASSERT_EQ(SidFromSddl("DA", &sid, domains), winerr::kSuccess);
  EXPECT_EQ(sid.ToString(), "S-1-5-21-7-8-9-512");
  EXPECT_EQ(SidToSddl(SidOf("S-1-5-21-7-8-9-513"), domains), "DU");
  EXPECT_EQ(SidFromSddl("DA", &sid, MachineDomain()), winerr::kInvalidSid);
}

TEST(SddlParts, SecurityInformationChoosesTheParts) {
  SecurityDescriptor sd = SdOf("O:BAG:SYD:(A;;FA;;;BA)S:(AU;SA;FA;;;WD)");
  auto write = [&sd](uint32_t info) {
    std::string text;
    EXPECT_EQ(SecurityDescriptorToSddl(sd, info, &text), winerr::kSuccess);
    return text;
  };
  EXPECT_EQ(write(kOwnerSecurityInformation), "O:BA");
  EXPECT_EQ(write(kGroupSecurityInformation), "G:SY");
  EXPECT_EQ(write(kDaclSecurityInformation), "D:(A;;FA;;;BA)");
  EXPECT_EQ(write(kSaclSecurityInformation), "S:(AU;SA;FA;;;WD)");
  EXPECT_EQ(write(kOwnerSecurityInformation | kSaclSecurityInformation), "O:BAS:(AU;SA;FA;;;WD)");
  EXPECT_EQ(write(0), "");
  EXPECT_EQ(write(kAllSddlSecurityInformation), "O:BAG:SYD:(A;;FA;;;BA)S:(AU;SA;FA;;;WD)");
}

TEST(SddlParts, InputOrderIsFreeOutputOrderIsFixed) {
  EXPECT_EQ(SddlOf(SdOf("S:D:(A;;GA;;;WD)G:SYO:BA")), "O:BAG:SYD:(A;;GA;;;WD)S:");
  EXPECT_EQ(SddlOf(SdOf("")), "");
  // Aliases ending in a tag letter, right before the next tag.
  SecurityDescriptor sd = SdOf("O:SOG:NOD:(A;;GA;;;SO)");
  EXPECT_EQ(*sd.Owner(), Sid::Builtin(kAliasRidSystemOps));
  EXPECT_EQ(*sd.Group(), Sid::Builtin(kAliasRidNetworkConfigurationOps));
  EXPECT_EQ(SddlOf(sd), "O:SOG:NOD:(A;;GA;;;SO)");
}

TEST(SddlObjectAces, GuidsAndRevision) {
  const char text[] = "D:(OA;CI;RPWP;bf967a86-0de6-11d0-a285-00aa003049e2;;AU)"
                      "(OD;;CR;00299570-246d-11d0-a768-00aa006e0529;bf967aba-0de6-11d0-a285-00aa003049e2;WD)";
  SecurityDescriptor sd = SdOf(text);
  EXPECT_EQ(SddlOf(sd), text);
  ASSERT_NE(sd.Dacl(), nullptr);
  EXPECT_EQ(sd.Dacl()->Revision(), kAclRevisionDs);
  // mask, object flags, GUID with its first three groups little-endian, SID
  EXPECT_EQ(ToHex(sd.Dacl()->Aces()[0].body),
            ToHex(Hex("30 00 00 00 01 00 00 00 86 7a 96 bf e6 0d d0 11 a2 85 00 aa 00 30 49 e2 "
                      "01 01 00 00 00 00 00 05 0b 00 00 00")));
  EXPECT_EQ(sd.Dacl()->Aces()[1].body[4], kAceObjectTypePresent | kAceInheritedObjectTypePresent);
  EXPECT_EQ(SddlOf(SdOf("D:(OA;;GA;;;WD)")), "D:(OA;;GA;;;WD)");
}

TEST(SddlObjectAces, MandatoryLabel) {
  SecurityDescriptor sd = SdOf("S:(ML;;NW;;;LW)");
  ASSERT_NE(sd.Sacl(), nullptr);
  const Ace& ace = sd.Sacl()->Aces()[0];
  EXPECT_EQ(ace.type, kSystemMandatoryLabelAceType);
  EXPECT_EQ(ToHex(ace.body), "01 00 00 00 01 01 00 00 00 00 00 10 00 10 00 00");
  EXPECT_EQ(SddlOf(sd), "S:(ML;;NW;;;LW)");
  EXPECT_EQ(SddlOf(SdOf("S:(ML;OICI;NWNRNX;;;HI)")), "S:(ML;OICI;NWNRNX;;;HI)");
}

TEST(SddlObjectAces, MalformedObjectBodyIsNotWritten) {
  Acl acl({Ace::Opaque(kAccessAllowedObjectAceType, 0, Hex("10 00 00 00 01 00 00 00 86 7a"))});
  SecurityDescriptor sd;
  sd.SetDacl(acl);
  std::string text;
  EXPECT_EQ(SecurityDescriptorToSddl(sd, kAllSddlSecurityInformation, &text), winerr::kInvalidAcl);
}

TEST(SddlMalformed, UnknownTokensAreInvalidParameter) {
  const char* cases[] = {
      "X:BA", "xO:BA", "o:BA", "O:BAO:SY",          // part tags
      "D:Z(A;;GA;;;WD)", "D:PX",                      // ACL flags
      "D:(Q;;GA;;;WD)", "D:(a;;GA;;;WD)",            // ACE type
      "D:(A;QQ;GA;;;WD)", "D:(A;O;GA;;;WD)",         // ACE flags
      "D:(A;;ROB;;;WD)", "D:(A;;0xZZ;;;WD)",          // rights
      "D:(A;;GA;11111111-1111-1111-1111-111111111111;;WD)",  // GUID on a plain ACE
      "D:(OA;;GA;1111-1111;;WD)",                           // malformed GUID
  };
  for (const char* text : cases) EXPECT_EQ(ParseCode(text), winerr::kInvalidParameter) << text;
}

TEST(SddlMalformed, BadSidsAreInvalidSid) {
  const char* cases[] = {"O:S-1-5", "O:", "G:XX", "D:(A;;GA;;;XX)", "D:(A;;GA;;;)",
                         "D:(A;;GA;;;S-1-5-32-544-1-2-3-4-5-6-7-8-9-10-11-12-13-14)"};
  for (const char* text : cases) EXPECT_EQ(ParseCode(text), winerr::kInvalidSid) << text;
}

TEST(SddlMalformed, BrokenAceStructureIsInvalidAcl) {
  const char* cases[] = {
      "D:(A;;GA;;;WD",   "D:(A;;GA;;WD)",     "D:(A;;GA;;;WD;x)", "D:(A;;GA;;;WD))",
      "D:(A;;GA;;;WD)x", "D:NO_ACCESS_CONTROL(A;;GA;;;WD)",
  };
  for (const char* text : cases) EXPECT_EQ(ParseCode(text), winerr::kInvalidAcl) << text;
}

TEST(SddlMalformed, UnsupportedAceTypes) {
  EXPECT_EQ(ParseCode("D:(XA;;FA;;;WD;(Member_of {SID(BA)}))"), winerr::kNotSupported);
  EXPECT_EQ(ParseCode("S:(RA;;;;;WD;(\"A\",TU,0,5))"), winerr::kNotSupported);
  SecurityDescriptor sd;
  sd.SetDacl(Acl({Ace::Opaque(kAccessAllowedCallbackAceType, 0, Hex("00 00 00 00"))}));
  std::string text;
  EXPECT_EQ(SecurityDescriptorToSddl(sd, kDaclSecurityInformation, &text), winerr::kNotSupported);
}

TEST(SddlMalformed, AclTooLargeForItsSizeField) {
  std::string text = "D:";
  for (int i = 0; i < 2800; ++i) text += "(A;;FA;;;BA)";
  EXPECT_EQ(ParseCode(text), winerr::kInvalidAcl);
}

}  // namespace
}  // namespace winsec
