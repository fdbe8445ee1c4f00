// Translation of English well-known account names on English and German
// hosts, and the lookup buffer rule that leaves a name unchanged.
#include <gtest/gtest.h>

#include <string>

#include "access/WellKnownAccounts.h"
#include "platform/Forwarding.h"
#include "platform/host/AccountDirectory.h"
#include "support/TestHost.h"

namespace {

struct Translation {
  const char* english;
  const char* enUS;
  const char* deDE;
};

// Exact, case-sensitive names only; names with a domain part, names outside
// the table and the empty name stay as they are.
constexpr Translation kTranslations[] = {
    {"Administrators", "Administrators", "Administratoren"},
    {"Users", "Users", "Benutzer"},
    {"Guests", "Guests", "Gäste"},
    {"Guest", "Guest", "Gast"},
    {"Everyone", "Everyone", "Jeder"},
    {"NETWORK SERVICE", "NETWORK SERVICE", "NETZWERKDIENST"},
    {"INTERACTIVE", "INTERACTIVE", "INTERAKTIV"},
    {"AUTHENTICATED USER", "Authenticated Users", "Authentifizierte Benutzer"},
    {"CREATOR OWNER", "CREATOR OWNER", "ERSTELLER-BESITZER"},
    {"administrators", "administrators", "administrators"},
    {"Authenticated Users", "Authenticated Users", "Authenticated Users"},
    {"BUILTIN\\Administrators", "BUILTIN\\Administrators", "BUILTIN\\Administrators"},
    {"Plant Operators", "Plant Operators", "Plant Operators"},
    {"", "", ""},
};

TEST(WellKnownAccounts, TranslatesOnEnglishAndGermanHosts) {
  for (const char* language : {"en-US", "de-DE"}) {
    TestHost host("win7-sp1-x64", language);
    const bool german = std::string(language) == "de-DE";
    for (const Translation& t : kTranslations) {
      EXPECT_EQ(TranslateAccountName(t.english), german ? t.deDE : t.enUS) << language << " " << t.english;
    }
    const std::optional<WellKnownAccount> service = FindWellKnownAccount("NETWORK SERVICE");
    ASSERT_TRUE(service.has_value());
    EXPECT_EQ(service->sid, winsec::Sid::NetworkService());
    EXPECT_TRUE(service->IsDomainOf("NT AUTHORITY"));
    EXPECT_TRUE(service->IsDomainOf("nt authority"));
    EXPECT_TRUE(service->IsDomainOf(""));
    EXPECT_EQ(service->IsDomainOf("NT-AUTORITÄT"), german);
    EXPECT_FALSE(service->IsDomainOf("BUILTIN"));
  }
}

// The built-in accounts are found by RID, whatever they are called now.
TEST(WellKnownAccounts, BuiltInAdministratorIsFoundByItsRid) {
  TestHost host;
  host::AccountDirectory accounts = host::AccountDirectory::Of(host.Host());
  winsec::Sid administrator;
  ASSERT_EQ(winsec::Sid::WithRid(accounts.DomainSid(), winsec::kRidAdministrator, &administrator), 0u);
  accounts.Remove(administrator);
  accounts.Insert(administrator, host::AccountKind::kUser, "PlantAdmin", "");
  EXPECT_EQ(TranslateAccountName("Administrator"), "PlantAdmin");
}

// LookupAccountSidW gets a 16-character domain buffer: a longer referenced
// domain fails the lookup and the name stays English.
class LongDomainSecurity : public plat::ForwardingSecurity {
 public:
  using ForwardingSecurity::ForwardingSecurity;
  std::string domain;
  uint32_t LookupAccountSid(std::string_view systemName, const winsec::Sid& sid, plat::AccountName* account) override {
    const uint32_t rc = base_.LookupAccountSid(systemName, sid, account);
    account->domain = domain;
    return rc;
  }
};

TEST(WellKnownAccounts, DomainBufferIsCountedInUtf16Units) {
  TestHost host("win7-sp1-x64", "de-DE");
  plat::ForwardingPlatform platform(host.Platform());
  LongDomainSecurity security(host.Platform().Security());
  platform.SetSecurity(&security);
  plat::ScopedPlatform installed(platform);
  security.domain = "ÄÖÜÄÖÜÄÖÜÄÖÜÄÖÜ";  // 15 characters, 30 bytes: fits
  EXPECT_EQ(TranslateAccountName("Everyone"), "Jeder");
  security.domain = "\xF0\x9F\x94\x92" "ABCDEFGHIJKLMN";  // 15 characters, 16 UTF-16 units
  EXPECT_EQ(TranslateAccountName("Everyone"), "Everyone");
  EXPECT_TRUE(FitsLookupBuffer("ABCDEFGHIJKLMNO", 16));
  EXPECT_FALSE(FitsLookupBuffer("ABCDEFGHIJKLMNOP", 16));
}

}  // namespace
