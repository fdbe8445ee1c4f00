// Account lookups of the simulated host by name and by SID, in English and
// German installations: localized names, the domains they are reported in,
// the forms of names accepted, and ERROR_NONE_MAPPED for what is unknown.
#include <gtest/gtest.h>

#include "platform/Security.h"
#include "platform/WinError.h"
#include "platform/host/AccountDirectory.h"
#include "support/TestHost.h"

namespace {

using plat::SidNameUse;
using winsec::Sid;

struct Lookup {
  uint32_t rc = 0;
  Sid sid;
  std::string domain;
  SidNameUse use = SidNameUse::kUnknown;
};

class SecurityLookupTest : public ::testing::Test {
 protected:
  explicit SecurityLookupTest(std::string_view language = "en-US", std::string_view profile = "win7-sp1-x64")
      : host_(profile, language) {}

  plat::ISecurity& security() { return host_.Platform().Security(); }
  Lookup ByName(std::string_view name, std::string_view system = "") {
    Lookup result;
    result.rc = security().LookupAccountName(system, name, &result.sid, &result.domain, &result.use);
    return result;
  }
  // "DOMAIN\name" as LookupAccountSid reports it, or "error N".
  std::string BySid(const Sid& sid) {
    plat::AccountName account;
    if (uint32_t rc = security().LookupAccountSid("", sid, &account)) return "error " + std::to_string(rc);
    return account.domain + "\\" + account.name;
  }
  Sid DomainSid() {
    Sid sid;
    Sid::FromString(host_.Host().DomainSid(), &sid);
    return sid;
  }
  Sid Local(uint32_t rid) {
    Sid sid;
    Sid::WithRid(DomainSid(), rid, &sid);
    return sid;
  }
  std::string Computer() { return host_.Host().Identity().computerName; }

  TestHost host_;
};

class SecurityLookupGermanTest : public SecurityLookupTest {
 protected:
  SecurityLookupGermanTest() : SecurityLookupTest("de-DE") {}
};

class SecurityLookupXpTest : public SecurityLookupTest {
 protected:
  SecurityLookupXpTest() : SecurityLookupTest("en-US", "winxp-sp3-x86") {}
};

TEST_F(SecurityLookupTest, EnglishNamesOfWellKnownSidsAndTheirDomains) {
  EXPECT_EQ(BySid(Sid::BuiltinAdministrators()), "BUILTIN\\Administrators");
  EXPECT_EQ(BySid(Sid::Everyone()), "\\Everyone");
  EXPECT_EQ(BySid(Sid::LocalSystem()), "NT AUTHORITY\\SYSTEM");
  EXPECT_EQ(BySid(Sid::AuthenticatedUsers()), "NT AUTHORITY\\Authenticated Users");
  EXPECT_EQ(BySid(Sid::CreatorOwner()), "\\CREATOR OWNER");
  EXPECT_EQ(BySid(Local(500)), Computer() + "\\Administrator");
  EXPECT_EQ(BySid(Local(501)), Computer() + "\\Guest");
  EXPECT_EQ(BySid(Local(1000)), Computer() + "\\tester");
}

TEST_F(SecurityLookupGermanTest, GermanNamesOfWellKnownSidsAndTheirDomains) {
  EXPECT_EQ(BySid(Sid::BuiltinAdministrators()), "VORDEFINIERT\\Administratoren");
  EXPECT_EQ(BySid(Sid::BuiltinUsers()), "VORDEFINIERT\\Benutzer");
  EXPECT_EQ(BySid(Sid::BuiltinGuests()), "VORDEFINIERT\\Gäste");
  EXPECT_EQ(BySid(Sid::PowerUsers()), "VORDEFINIERT\\Hauptbenutzer");
  EXPECT_EQ(BySid(Sid::Everyone()), "\\Jeder");
  EXPECT_EQ(BySid(Sid::LocalSystem()), "NT-AUTORITÄT\\SYSTEM");
  EXPECT_EQ(BySid(Sid::LocalService()), "NT-AUTORITÄT\\LOKALER DIENST");
  EXPECT_EQ(BySid(Sid::NetworkService()), "NT-AUTORITÄT\\NETZWERKDIENST");
  EXPECT_EQ(BySid(Sid::Interactive()), "NT-AUTORITÄT\\INTERAKTIV");
  EXPECT_EQ(BySid(Sid::AuthenticatedUsers()), "NT-AUTORITÄT\\Authentifizierte Benutzer");
  EXPECT_EQ(BySid(Sid::CreatorOwner()), "\\ERSTELLER-BESITZER");
  EXPECT_EQ(BySid(Local(500)), Computer() + "\\Administrator");
  EXPECT_EQ(BySid(Local(501)), Computer() + "\\Gast");
}

TEST_F(SecurityLookupGermanTest, GermanNamesResolveAndEnglishOnesAreNotMapped) {
  Lookup admins = ByName("Administratoren");
  ASSERT_EQ(admins.rc, winerr::kSuccess);
  EXPECT_EQ(admins.sid, Sid::BuiltinAdministrators());
  EXPECT_EQ(admins.domain, "VORDEFINIERT");
  EXPECT_EQ(admins.use, SidNameUse::kAlias);

  EXPECT_EQ(ByName("VORDEFINIERT\\Administratoren").sid, Sid::BuiltinAdministrators());
  EXPECT_EQ(ByName("NT-AUTORITÄT\\SYSTEM").sid, Sid::LocalSystem());
  EXPECT_EQ(ByName("Jeder").sid, Sid::Everyone());
  EXPECT_EQ(ByName("Gast").sid, Local(501));

  for (const char* english : {"Administrators", "BUILTIN\\Administrators", "Everyone", "Guest",
                              "NT AUTHORITY\\SYSTEM", "VORDEFINIERT\\Administrators"}) {
    EXPECT_EQ(ByName(english).rc, winerr::kNoneMapped) << english;
  }
}

TEST_F(SecurityLookupGermanTest, CaseIsIgnoredAlsoForUmlauts) {
  EXPECT_EQ(ByName("GÄSTE").sid, Sid::BuiltinGuests());
  EXPECT_EQ(ByName("nt-autorität\\lokaler dienst").sid, Sid::LocalService());
  EXPECT_EQ(ByName("NT-AUTORITÄT\\Lokaler Dienst").sid, Sid::LocalService());
}

TEST_F(SecurityLookupTest, NameFormsAndWhatTheyReport) {
  const Lookup user = ByName("tester");
  ASSERT_EQ(user.rc, winerr::kSuccess);
  EXPECT_EQ(user.sid, Local(1000));
  EXPECT_EQ(user.domain, Computer());
  EXPECT_EQ(user.use, SidNameUse::kUser);

  // The computer name is the domain of local accounts.
  EXPECT_EQ(ByName(Computer() + "\\tester").sid, Local(1000));
  EXPECT_EQ(ByName("BUILTIN\\users").sid, Sid::BuiltinUsers());
  EXPECT_EQ(ByName("nt authority\\system").sid, Sid::LocalSystem());
  // A local account is not found under another domain.
  EXPECT_EQ(ByName("BUILTIN\\tester").rc, winerr::kNoneMapped);

  const Lookup system = ByName("SYSTEM");
  EXPECT_EQ(system.domain, "NT AUTHORITY");
  EXPECT_EQ(system.use, SidNameUse::kWellKnownGroup);
  const Lookup everyone = ByName("Everyone");
  EXPECT_EQ(everyone.domain, "");
  EXPECT_EQ(ByName("None").use, SidNameUse::kGroup);
}

TEST_F(SecurityLookupTest, BareDomainNamesNameTheDomains) {
  const Lookup builtin = ByName("BUILTIN");
  ASSERT_EQ(builtin.rc, winerr::kSuccess);
  EXPECT_EQ(builtin.sid, Sid::BuiltinDomain());
  EXPECT_EQ(builtin.use, SidNameUse::kDomain);
  const Lookup machine = ByName(Computer());
  ASSERT_EQ(machine.rc, winerr::kSuccess);
  EXPECT_EQ(machine.sid, DomainSid());
  EXPECT_EQ(machine.use, SidNameUse::kDomain);
  EXPECT_EQ(BySid(DomainSid()), Computer() + "\\" + Computer());
}

TEST_F(SecurityLookupTest, UnknownNamesAndSidsAreNotMapped) {
  for (const char* name : {"nobody", "", "BUILTIN\\", "NOWHERE\\tester", "Authenticated User"}) {
    EXPECT_EQ(ByName(name).rc, winerr::kNoneMapped) << name;
  }
  EXPECT_EQ(BySid(Local(1234)), "error 1332");
  Sid foreign;
  Sid::FromString("S-1-5-21-1-2-3-500", &foreign);
  EXPECT_EQ(BySid(foreign), "error 1332");
}

TEST_F(SecurityLookupTest, OnlyTheLocalMachineAnswers) {
  EXPECT_EQ(ByName("tester", Computer()).rc, winerr::kSuccess);
  EXPECT_EQ(ByName("tester", "\\\\" + Computer()).rc, winerr::kSuccess);
  EXPECT_NE(ByName("tester", "OTHERPC").rc, winerr::kSuccess);
}

TEST_F(SecurityLookupTest, SidsOfLaterWindowsVersionsAreUnknownHere) {
  // ALL APPLICATION PACKAGES came with Windows 8.
  EXPECT_EQ(BySid(Sid::AllApplicationPackages()), "error 1332");
}

TEST_F(SecurityLookupXpTest, XpHasNeitherTheServiceSidsNorTheVistaGroups) {
  Sid trustedInstaller;
  Sid::FromString("S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464", &trustedInstaller);
  EXPECT_EQ(BySid(trustedInstaller), "error 1332");
  EXPECT_EQ(BySid(Sid::IisUsers()), "error 1332");
  EXPECT_EQ(ByName("IIS_IUSRS").rc, winerr::kNoneMapped);
  EXPECT_EQ(BySid(Sid::PowerUsers()), "BUILTIN\\Power Users");
}

TEST(SecurityAccountNameFold, FoldsAsciiAndLatin1LettersOnly) {
  EXPECT_EQ(host::FoldAccountName("GÄSTE Ü"), "gäste ü");
  EXPECT_EQ(host::FoldAccountName("×"), "×");  // U+00D7 is no letter
  EXPECT_EQ(host::FoldAccountName("ÀÞ"), "àþ");
}

}  // namespace
