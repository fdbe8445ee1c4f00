// End-to-end tests of "tarvo-host accounts" and "tarvo-host groups": the
// built binary against a German host in a temporary folder.
#include <gtest/gtest.h>

#include <filesystem>

#include "support/RunProgram.h"
#include "support/TestHost.h"

namespace {

class AccountsCommandTest : public ::testing::Test {
 protected:
  AccountsCommandTest() : folder_(MakeTempFolder("tarvo-accounts-cmd")) {
    const ProgramResult init = Run({"init", "--lang", "de-DE", "--clock", "virtual"});
    EXPECT_EQ(init.exitCode, 0) << init.err;
  }
  ~AccountsCommandTest() override {
    std::error_code ec;
    std::filesystem::remove_all(folder_, ec);
  }
  ProgramResult Run(const std::vector<std::string>& args) {
    return RunProgram(BinaryPath("tarvo-host"), args, {{"TARVO_HOST", folder_}, {"USER", "tester"}});
  }
  static bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

  std::string folder_;
};

TEST_F(AccountsCommandTest, AccountsListsUsersGroupsAndMembersWithSids) {
  const ProgramResult r = Run({"accounts"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_TRUE(Has(r.out, "Account domain: WIN7-SP1-X64  S-1-5-21-")) << r.out;
  EXPECT_TRUE(Has(r.out, "\n  WIN7-SP1-X64\\Gast  S-1-5-21-")) << r.out;
  EXPECT_TRUE(Has(r.out, "-501  Vordefiniertes Konto für Gastzugriff")) << r.out;
  EXPECT_TRUE(Has(r.out, "\n  WIN7-SP1-X64\\tester  S-1-5-21-")) << r.out;
  EXPECT_TRUE(Has(r.out, "\n  VORDEFINIERT\\Administratoren  S-1-5-32-544  Administratoren haben")) << r.out;
  EXPECT_TRUE(Has(r.out, "\n    NT-AUTORITÄT\\INTERAKTIV  S-1-5-4\n")) << r.out;
  // Users come before the groups, the global group before the local ones.
  EXPECT_LT(r.out.find("Users:"), r.out.find("Global groups:"));
  EXPECT_LT(r.out.find("WIN7-SP1-X64\\Kein"), r.out.find("Local groups:"));
}

TEST_F(AccountsCommandTest, AccountsAsJson) {
  const ProgramResult r = Run({"--json", "accounts"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out.substr(0, 36), "{\"domain\":{\"name\":\"WIN7-SP1-X64\",\"si");
  EXPECT_TRUE(Has(r.out, "\"users\":[{\"name\":\"Administrator\",\"domain\":\"WIN7-SP1-X64\",\"sid\":\"S-1-5-21-"))
      << r.out;
  EXPECT_TRUE(Has(r.out, "{\"name\":\"Administratoren\",\"domain\":\"VORDEFINIERT\",\"sid\":\"S-1-5-32-544\""))
      << r.out;
  EXPECT_TRUE(Has(r.out, "{\"sid\":\"S-1-5-11\",\"name\":\"NT-AUTORITÄT\\\\Authentifizierte Benutzer\","
                         "\"use\":\"wellKnownGroup\"}"))
      << r.out;
  EXPECT_EQ(r.out.back(), '\n');
}

TEST_F(AccountsCommandTest, GroupsShowsDescriptionsAndMembers) {
  const ProgramResult r = Run({"groups"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out.substr(0, r.out.find('\n')), "Administratoren  (S-1-5-32-544)");
  EXPECT_TRUE(Has(r.out, "\n  members: WIN7-SP1-X64\\Administrator, WIN7-SP1-X64\\tester\n")) << r.out;
  EXPECT_TRUE(Has(r.out, "Hauptbenutzer  (S-1-5-32-547)\n  Hauptbenutzer sind aus Gründen")) << r.out;
  EXPECT_TRUE(Has(r.out, "\n  members: (none)\n")) << r.out;

  const ProgramResult json = Run({"groups", "--json"});
  ASSERT_EQ(json.exitCode, 0) << json.err;
  EXPECT_EQ(json.out.substr(0, 21), "{\"groups\":[{\"name\":\"A");
  EXPECT_TRUE(Has(json.out, "\"name\":\"Gäste\",\"domain\":\"VORDEFINIERT\",\"sid\":\"S-1-5-32-546\"")) << json.out;
  EXPECT_EQ(Run({"groups", "extra"}).exitCode, 1);
}

}  // namespace
