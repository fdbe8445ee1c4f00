#include <gtest/gtest.h>

#include <set>
#include <unordered_set>
#include <vector>

#include "WinsecTestUtil.h"
#include "platform/winsec/Sid.h"

namespace winsec {
namespace {

using testing::Hex;
using testing::SidOf;
using testing::ToHex;

TEST(SidBinary, DocumentedLayouts) {
  EXPECT_EQ(ToHex(Sid::Everyone().ToBytes()), "01 01 00 00 00 00 00 01 00 00 00 00");
  EXPECT_EQ(ToHex(Sid::LocalSystem().ToBytes()), "01 01 00 00 00 00 00 05 12 00 00 00");
  Bytes admins = Sid::BuiltinAdministrators().ToBytes();
  EXPECT_EQ(admins.size(), 16u);
  EXPECT_EQ(ToHex(admins), "01 02 00 00 00 00 00 05 20 00 00 00 20 02 00 00");
}

TEST(SidBinary, AuthorityIsBigEndianAndSubAuthoritiesLittleEndian) {
  std::vector<uint32_t> subs = {0x01020304};
  Sid sid;
  ASSERT_EQ(Sid::Make(0x123456789ABCull, subs, &sid), winerr::kSuccess);
  EXPECT_EQ(ToHex(sid.ToBytes()), "01 01 12 34 56 78 9A BC 04 03 02 01");

  Sid back;
  ASSERT_EQ(Sid::Parse(sid.ToBytes(), &back), winerr::kSuccess);
  EXPECT_EQ(back, sid);
  EXPECT_EQ(back.IdentifierAuthority(), 0x123456789ABCull);
}

TEST(SidBinary, ParseStopsAtTheSidAndReportsItsLength) {
  Bytes bytes = Hex("01 02 00 00 00 00 00 05 20 00 00 00 21 02 00 00 FF FF FF FF");
  Sid sid;
  size_t length = 0;
  ASSERT_EQ(Sid::Parse(bytes, &sid, &length), winerr::kSuccess);
  EXPECT_EQ(length, 16u);
  EXPECT_EQ(sid, Sid::BuiltinUsers());
}

TEST(SidBinary, ZeroAndFifteenSubAuthoritiesAreValid) {
  Sid none;
  ASSERT_EQ(Sid::Parse(Hex("01 00 00 00 00 00 00 05"), &none), winerr::kSuccess);
  EXPECT_EQ(none.SubAuthorityCount(), 0u);
  EXPECT_EQ(none.ToString(), "S-1-5");

  Bytes fifteen = Hex("01 0F 00 00 00 00 00 05");
  fifteen.resize(8 + 15 * 4, 0x11);
  Sid full;
  ASSERT_EQ(Sid::Parse(fifteen, &full), winerr::kSuccess);
  EXPECT_EQ(full.Length(), kSidMaxLength);
  EXPECT_EQ(full.ToBytes(), fifteen);
}

TEST(SidBinary, MalformedBuffersAreRefused) {
  Sid sid;
  Bytes valid = Sid::BuiltinAdministrators().ToBytes();
  for (size_t size = 0; size < valid.size(); ++size) {
    EXPECT_EQ(Sid::Parse(ByteView(valid).first(size), &sid), winerr::kInvalidSid) << "size " << size;
  }
  EXPECT_EQ(Sid::Parse(Hex("02 01 00 00 00 00 00 01 00 00 00 00"), &sid), winerr::kInvalidSid);
  EXPECT_EQ(Sid::Parse(Hex("00 01 00 00 00 00 00 01 00 00 00 00"), &sid), winerr::kInvalidSid);

  // Sixteen sub-authorities, with all their bytes present.
  Bytes sixteen = Hex("01 10 00 00 00 00 00 05");
  sixteen.resize(8 + 16 * 4, 0);
  EXPECT_EQ(Sid::Parse(sixteen, &sid), winerr::kInvalidSid);
}

TEST(SidBinary, MakeRefusesWhatTheLayoutCannotHold) {
  Sid sid;
  std::vector<uint32_t> sixteen(16, 1);
  std::vector<uint32_t> one = {1};
  EXPECT_EQ(Sid::Make(kNtAuthority, sixteen, &sid), winerr::kInvalidSid);
  EXPECT_EQ(Sid::Make(uint64_t{1} << 48, one, &sid), winerr::kInvalidSid);
  EXPECT_EQ(Sid::Make(kSidMaxAuthority, one, &sid), winerr::kSuccess);
}

TEST(SidText, RoundTripsAndNormalises) {
  EXPECT_EQ(SidOf("S-1-5-32-544"), Sid::BuiltinAdministrators());
  EXPECT_EQ(SidOf("s-1-5-18"), Sid::LocalSystem());
  EXPECT_EQ(SidOf("S-0x1-0XC-0x1a").ToString(), "S-1-12-26");
  EXPECT_EQ(SidOf("S-1-5-21-4294967295-1-2-500").ToString(), "S-1-5-21-4294967295-1-2-500");
  EXPECT_EQ(SidOf("S-1-5-0x0000000a").ToString(), "S-1-5-10");
}

TEST(SidText, AuthorityFromTwoToThe32IsPrintedInHex) {
  EXPECT_EQ(SidOf("S-1-4294967295-1").ToString(), "S-1-4294967295-1");
  EXPECT_EQ(SidOf("S-1-4294967296-1").ToString(), "S-1-0x000100000000-1");
  EXPECT_EQ(SidOf("S-1-0xFFFFFFFFFFFF-7").ToString(), "S-1-0xFFFFFFFFFFFF-7");
  // The hex form reads back to the same SID.
  EXPECT_EQ(SidOf("S-1-0x000100000000-1"), SidOf("S-1-4294967296-1"));
}

TEST(SidText, FifteenSubAuthoritiesAreTheLimit) {
  std::string text = "S-1-5";
  for (int i = 0; i < 15; ++i) text += "-" + std::to_string(i);
  EXPECT_EQ(SidOf(text).SubAuthorityCount(), 15u);
  Sid sid;
  EXPECT_EQ(Sid::FromString(text + "-15", &sid), winerr::kInvalidSid);
}

TEST(SidText, MalformedTextIsRefusedWithInvalidSid) {
  const char* bad[] = {
      "S-1-5",                   // no sub-authority
      "S-1", "S-", "S", "", "1-5-18",
      "S-2-5-18",                // revision
      "S-1-5-",                  // empty trailing component
      "S-1--5", "S--1-5-18",
      "S-1-5-x", "S-1-5-18x", "S-1-5-0x", "S-1-5-+18", "S-1-5--18",
      "S-1-5-4294967296",        // sub-authority above 32 bits
      "S-1-281474976710656-1",   // authority of 2^48
      " S-1-5-18", "S-1-5-18 ", "S 1-5-18",
  };
  for (const char* text : bad) {
    Sid sid = Sid::Everyone();
    EXPECT_EQ(Sid::FromString(text, &sid), winerr::kInvalidSid) << '"' << text << '"';
    EXPECT_EQ(sid, Sid::Everyone()) << "output untouched on failure: " << text;
  }
}

TEST(SidDomain, AccountSidsFromTheirDomain) {
  Sid domain = SidOf("S-1-5-21-1004336348-1177238915-682003330");
  Sid admin;
  ASSERT_EQ(Sid::WithRid(domain, kRidAdministrator, &admin), winerr::kSuccess);
  EXPECT_EQ(admin.ToString(), "S-1-5-21-1004336348-1177238915-682003330-500");
  EXPECT_TRUE(admin.IsInDomain(domain));
  EXPECT_TRUE(admin.StartsWith(domain));
  EXPECT_FALSE(domain.IsInDomain(domain));
  EXPECT_FALSE(Sid::BuiltinAdministrators().IsInDomain(domain));

  Sid back;
  uint32_t rid = 0;
  ASSERT_EQ(admin.DomainOf(&back), winerr::kSuccess);
  ASSERT_EQ(admin.Rid(&rid), winerr::kSuccess);
  EXPECT_EQ(back, domain);
  EXPECT_EQ(rid, 500u);
}

TEST(SidDomain, DomainOfDropsTheRidCompletely) {
  // The removed sub-authority must not linger in equality, ordering or hash.
  Sid domain;
  ASSERT_EQ(Sid::BuiltinAdministrators().DomainOf(&domain), winerr::kSuccess);
  EXPECT_EQ(domain, Sid::BuiltinDomain());
  EXPECT_EQ(std::hash<Sid>()(domain), std::hash<Sid>()(Sid::BuiltinDomain()));
  EXPECT_EQ(domain <=> Sid::BuiltinDomain(), std::strong_ordering::equal);
}

TEST(SidDomain, LimitsOfTheHelpers) {
  Sid none;
  ASSERT_EQ(Sid::Parse(Hex("01 00 00 00 00 00 00 05"), &none), winerr::kSuccess);
  Sid out;
  uint32_t rid = 0;
  EXPECT_EQ(none.DomainOf(&out), winerr::kInvalidSid);
  EXPECT_EQ(none.Rid(&rid), winerr::kInvalidSid);

  std::vector<uint32_t> fifteen(15, 7);
  Sid full;
  ASSERT_EQ(Sid::Make(kNtAuthority, fifteen, &full), winerr::kSuccess);
  EXPECT_EQ(Sid::WithRid(full, 500, &out), winerr::kInvalidSid);
}

TEST(SidOrdering, AuthorityFirstThenSubAuthorities) {
  std::set<Sid> sorted = {SidOf("S-1-5-32-544"), SidOf("S-1-5-18"), SidOf("S-1-1-0"),
                          SidOf("S-1-5-32"), SidOf("S-1-5-32-545"), SidOf("S-1-16-4096")};
  std::vector<std::string> order;
  for (const Sid& sid : sorted) order.push_back(sid.ToString());
  EXPECT_EQ(order, (std::vector<std::string>{"S-1-1-0", "S-1-5-18", "S-1-5-32", "S-1-5-32-544",
                                             "S-1-5-32-545", "S-1-16-4096"}));
}

TEST(SidOrdering, HashSetFindsEqualSids) {
  std::unordered_set<Sid> set = {Sid::Everyone(), Sid::LocalSystem(), Sid::BuiltinAdministrators()};
  EXPECT_EQ(set.count(SidOf("S-1-5-32-544")), 1u);
  EXPECT_EQ(set.count(SidOf("S-1-5-32-545")), 0u);
  EXPECT_NE(Sid::CreatorOwner(), Sid::CreatorGroup());
}

TEST(SidWellKnown, NamedSidsHaveTheirDocumentedValues) {
  const std::pair<Sid, const char*> cases[] = {
      {Sid::Everyone(), "S-1-1-0"},
      {Sid::Local(), "S-1-2-0"},
      {Sid::CreatorOwner(), "S-1-3-0"},
      {Sid::CreatorGroup(), "S-1-3-1"},
      {Sid::CreatorOwnerServer(), "S-1-3-2"},
      {Sid::CreatorGroupServer(), "S-1-3-3"},
      {Sid::Network(), "S-1-5-2"},
      {Sid::Batch(), "S-1-5-3"},
      {Sid::Interactive(), "S-1-5-4"},
      {Sid::Service(), "S-1-5-6"},
      {Sid::Anonymous(), "S-1-5-7"},
      {Sid::Proxy(), "S-1-5-8"},
      {Sid::PrincipalSelf(), "S-1-5-10"},
      {Sid::AuthenticatedUsers(), "S-1-5-11"},
      {Sid::LocalSystem(), "S-1-5-18"},
      {Sid::LocalService(), "S-1-5-19"},
      {Sid::NetworkService(), "S-1-5-20"},
      {Sid::BuiltinDomain(), "S-1-5-32"},
      {Sid::BuiltinAdministrators(), "S-1-5-32-544"},
      {Sid::BuiltinUsers(), "S-1-5-32-545"},
      {Sid::BuiltinGuests(), "S-1-5-32-546"},
      {Sid::PowerUsers(), "S-1-5-32-547"},
      {Sid::PerformanceMonitorUsers(), "S-1-5-32-558"},
      {Sid::PerformanceLogUsers(), "S-1-5-32-559"},
      {Sid::DistributedComUsers(), "S-1-5-32-562"},
      {Sid::IisUsers(), "S-1-5-32-568"},
      {Sid::AllApplicationPackages(), "S-1-15-2-1"},
      {Sid::MandatoryLabel(kMandatoryHighRid), "S-1-16-12288"},
  };
  for (const auto& [sid, text] : cases) EXPECT_EQ(sid.ToString(), text);
}

}  // namespace
}  // namespace winsec
