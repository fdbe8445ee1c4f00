// End-to-end tests of "tarvo-host init --user" and "tarvo-host localgroup":
// the built binary against a host in a temporary folder.
#include <gtest/gtest.h>

#include <filesystem>

#include "support/RunProgram.h"
#include "support/TestHost.h"

namespace {

constexpr const char* kCompleted = "The command completed successfully.\n";

class LocalGroupCommandTest : public ::testing::Test {
 protected:
  LocalGroupCommandTest() : folder_(MakeTempFolder("tarvo-localgroup-cmd")) {}
  ~LocalGroupCommandTest() override {
    std::error_code ec;
    std::filesystem::remove_all(folder_, ec);
  }
  ProgramResult Run(const std::vector<std::string>& args) {
    return RunProgram(BinaryPath("tarvo-host"), args, {{"TARVO_HOST", folder_}, {"USER", "tester"}});
  }
  void Init(const std::vector<std::string>& extra = {}) {
    std::vector<std::string> args = {"init", "--clock", "virtual"};
    args.insert(args.end(), extra.begin(), extra.end());
    const ProgramResult init = Run(args);
    ASSERT_EQ(init.exitCode, 0) << init.err;
  }
  static bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

  std::string folder_;
};

TEST_F(LocalGroupCommandTest, InitUserNamesTheHostsUserOrRefusesTheName) {
  const ProgramResult init = Run({"init", "--clock", "virtual", "--user", "Ops Engineer"});
  ASSERT_EQ(init.exitCode, 0) << init.err;
  EXPECT_TRUE(Has(init.out, " (win7-sp1-x64, en-US, user Ops Engineer)\n")) << init.out;
  EXPECT_TRUE(Has(Run({"show"}).out, "\nUser:          Ops Engineer (administrator)  S-1-5-21-"));
  EXPECT_TRUE(Has(Run({"accounts"}).out, "\n  WIN7-SP1-X64\\Ops Engineer  S-1-5-21-"));
  EXPECT_TRUE(Has(Run({"localgroup", "Administrators"}).out, "\nWIN7-SP1-X64\\Ops Engineer\n"));

  // Names Windows refuses, or that the host would change, are refused
  // before the existing host is touched.
  const struct {
    std::vector<std::string> user;
    const char* error;
  } refused[] = {
      {{"--user", ""}, "init: --user: the user name is empty"},
      {{"--user"}, "--user needs a value"},
      {{"--user", "ops/eng"}, "'ops/eng' holds a character a user name may not hold"},
      {{"--user", "abcdefghijklmnopqrstu"}, "is longer than the 20 characters of a user name"},
      {{"--user", "Jürgen Ölmüller-Äbi"}, "is longer than the 20 bytes of UTF-8"},
      {{"--user", ". ."}, "'. .' holds only dots and spaces"},
      {{"--user", "administrators"}, "'administrators' is the name of a built-in account or group"},
      {{"--user", "Guest"}, "'Guest' is the name of a built-in account"},
      {{"--user", "SYSTEM"}, "'SYSTEM' is the name of a built-in account"},
  };
  for (const auto& t : refused) {
    std::vector<std::string> args = {"init", "--force"};
    args.insert(args.end(), t.user.begin(), t.user.end());
    const ProgramResult r = Run(args);
    EXPECT_EQ(r.exitCode, 1) << t.error;
    EXPECT_TRUE(Has(r.err, t.error)) << r.err;
  }
  EXPECT_TRUE(Has(Run({"show"}).out, "\nUser:          Ops Engineer (administrator)"));
}

TEST_F(LocalGroupCommandTest, CreatesShowsChangesAndDeletesGroups) {
  Init({"--user", "tester"});
  ASSERT_EQ(Run({"snapshot", "save", "base"}).exitCode, 0);
  const struct {
    std::vector<std::string> args;
    int exitCode;
    std::string err;  // all of standard error
  } steps[] = {
      {{"/ADD", "/Comment:Plant operators, shift A"}, 0, ""},
      {{"/add"}, 1, "the group 'Operators' already exists (1379)\n"},
      {{"nobody", "tester", "/add"}, 1,
       "there is no account 'nobody' (1387)\ntarvo-host: localgroup: 1 of 2 accounts added\n"},
      {{"WIN7-SP1-X64\\Guest", "Administrator", "/Add"}, 0, ""},
      {{"TESTER", "/add"}, 1, "'TESTER' is already a member of 'Operators' (1378)\n"},
      {{"Administrators", "/add"}, 1, "'Administrators' cannot be a member of a local group (1388)\n"},
      {{"Administrator", "/DELETE"}, 0, ""},
      {{"Administrator", "/del"}, 1, "'Administrator' is not a member of 'Operators' (1377)\n"},
      {{"/comment:other"}, 1, "/comment goes only with creating a group (NAME /add)\n"},
      {{"tester"}, 1, "/add or /delete is missing after the accounts\n"},
      {{"/add", "/delete"}, 1, "/add and /delete cannot go together\n"},
      {{"/rename"}, 1, "unknown option '/rename'\n"},
  };
  for (const auto& step : steps) {
    std::vector<std::string> args = {"localgroup", "Operators"};
    args.insert(args.end(), step.args.begin(), step.args.end());
    const ProgramResult r = Run(args);
    EXPECT_EQ(r.exitCode, step.exitCode) << args[2] << ": " << r.err;
    EXPECT_EQ(r.err, step.err.empty() ? "" : "tarvo-host: localgroup: " + step.err) << args[2];
    EXPECT_EQ(r.out, step.exitCode == 0 ? kCompleted : "") << args[2];
  }

  const ProgramResult shown = Run({"localgroup", "operators"});
  ASSERT_EQ(shown.exitCode, 0) << shown.err;
  EXPECT_TRUE(Has(shown.out,
                  "Group name     Operators\nComment        Plant operators, shift A\nSID            S-1-5-21-"))
      << shown.out;
  const std::string members = "\nWIN7-SP1-X64\\tester\nWIN7-SP1-X64\\Guest\n";
  EXPECT_TRUE(Has(shown.out, "-1001\n\nMembers\n\n" + std::string(79, '-') + members)) << shown.out;
  EXPECT_TRUE(Has(Run({"localgroup"}).out, "\nUsers\n")) << "the list names every group";
  EXPECT_TRUE(Has(Run({"localgroup"}).out, "\nOperators\n"));
  const ProgramResult diff = Run({"diff", "base"});
  EXPECT_TRUE(Has(diff.out, "\n+ group  Operators  member WIN7-SP1-X64\\Guest\n")) << diff.out;
  EXPECT_TRUE(Has(Run({"groups"}).out, "Operators  (S-1-5-21-")) << "seen by the groups command";

  // A member given as a SID is removed by SID.
  EXPECT_EQ(Run({"localgroup", "Users", "S-1-5-4", "/delete"}).exitCode, 0);
  EXPECT_FALSE(Has(Run({"localgroup", "Users"}).out, "INTERACTIVE"));

  const struct {
    std::vector<std::string> args;
    std::string err;
  } refused[] = {
      {{"Nowhere"}, "the group 'Nowhere' does not exist (2220)"},
      {{"Nowhere", "tester", "/add"}, "the group 'Nowhere' does not exist (2220)"},
      {{"Guest", "/add"}, "a user named 'Guest' already exists (2224)"},
      {{"Bad/Name", "/add"}, "'Bad/Name' is not a valid group name (87)"},
      {{"Administrators", "/delete"}, "'Administrators' is a built-in group and cannot be deleted (1371)"},
      {{"/add"}, "the group name is missing"},
      {{"Operators", ""}, "a group or account name is empty"},
  };
  for (const auto& t : refused) {
    std::vector<std::string> args = {"localgroup"};
    args.insert(args.end(), t.args.begin(), t.args.end());
    const ProgramResult r = Run(args);
    EXPECT_EQ(r.exitCode, 1) << t.err;
    EXPECT_EQ(r.err, "tarvo-host: localgroup: " + t.err + "\n");
  }

  EXPECT_EQ(Run({"localgroup", "OPERATORS", "/delete"}).out, kCompleted);
  EXPECT_EQ(Run({"localgroup", "Operators"}).exitCode, 1);
  EXPECT_EQ(Run({"diff", "base"}).out, "- group  Users  member NT AUTHORITY\\INTERACTIVE\n");
}

TEST_F(LocalGroupCommandTest, GermanHostShowsBuiltinGroupsUnderTheirLocalNames) {
  Init({"--lang", "de-DE", "--user", "tester"});
  const ProgramResult shown = Run({"localgroup", "ADMINISTRATOREN"});
  ASSERT_EQ(shown.exitCode, 0) << shown.err;
  EXPECT_EQ(shown.out.substr(0, shown.out.find('\n')), "Group name     Administratoren");
  EXPECT_TRUE(Has(shown.out, "\nSID            S-1-5-32-544\n"));
  EXPECT_TRUE(Has(shown.out, "-\nWIN7-SP1-X64\\Administrator\nWIN7-SP1-X64\\tester\n")) << shown.out;
  EXPECT_EQ(Run({"localgroup", "Administrators"}).exitCode, 1) << "the English name is unknown here";

  const ProgramResult json = Run({"--json", "localgroup", "Administratoren"});
  ASSERT_EQ(json.exitCode, 0) << json.err;
  EXPECT_TRUE(json.out.starts_with(
      "{\"name\":\"Administratoren\",\"domain\":\"VORDEFINIERT\",\"sid\":\"S-1-5-32-544\",\"comment\":\"Administ"))
      << json.out;
  EXPECT_TRUE(Has(json.out, "-500\",\"name\":\"WIN7-SP1-X64\\\\Administrator\",\"use\":\"user\"},{\"sid\":\"S-1-5-21-"))
      << json.out;
  EXPECT_TRUE(Has(json.out, "-1000\",\"name\":\"WIN7-SP1-X64\\\\tester\",\"use\":\"user\"}]}\n")) << json.out;
  const ProgramResult list = Run({"--json", "localgroup"});
  EXPECT_TRUE(list.out.starts_with(
      "{\"groups\":[{\"name\":\"Administratoren\",\"domain\":\"VORDEFINIERT\",\"sid\":\"S-1-5-32-544\""))
      << list.out;
  EXPECT_FALSE(Has(list.out, "\"members\"")) << "the list holds the groups alone";
}

}  // namespace
