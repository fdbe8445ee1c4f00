// End-to-end tests of "tarvo-host services": the built binary lists a
// host's services, shows one, sets start type, state and behaviour, and the
// host diff shows what changed; "init --not-admin" makes a host whose user
// is no administrator.
#include <gtest/gtest.h>

#include <filesystem>

#include "support/RunProgram.h"
#include "support/TestHost.h"

namespace {

class ServicesCommandTest : public ::testing::Test {
 protected:
  ServicesCommandTest() : folder_(MakeTempFolder("tarvo-services-cmd")) {}
  ~ServicesCommandTest() override {
    std::error_code ec;
    std::filesystem::remove_all(folder_, ec);
  }
  ProgramResult Run(const std::vector<std::string>& args) {
    return RunProgram(BinaryPath("tarvo-host"), args, {{"TARVO_HOST", folder_}, {"USER", "tester"}});
  }
  void Init(const std::vector<std::string>& options = {}) {
    std::vector<std::string> args = {"init", "--clock", "virtual"};
    args.insert(args.end(), options.begin(), options.end());
    const ProgramResult init = Run(args);
    ASSERT_EQ(init.exitCode, 0) << init.err;
  }

  std::string folder_;
};

TEST_F(ServicesCommandTest, ListShowSetAndDiff) {
  Init({"--profile", "winxp-sp3-x86"});
  const ProgramResult list = Run({"services"});
  ASSERT_EQ(list.exitCode, 0) << list.err;
  EXPECT_EQ(list.out,
            "NAME           STATE          START     TYPE           CHECK WAIT HINT  DISPLAY NAME\n"
            "SharedAccess   running        auto      share process      0         0  "
            "Windows Firewall/Internet Connection Sharing (ICS)\n"
            "wuauserv       running        auto      share process      0         0  Automatic Updates\n");
  ASSERT_EQ(Run({"snapshot", "save", "fresh"}).exitCode, 0);

  const ProgramResult set =
      Run({"services", "set", "sharedaccess", "--start", "disabled", "--state", "stopped", "--behaviour", "fail-start"});
  ASSERT_EQ(set.exitCode, 0) << set.err;
  EXPECT_EQ(set.out,
            "Name:          SharedAccess\n"
            "Display name:  Windows Firewall/Internet Connection Sharing (ICS)\n"
            "Type:          share process\n"
            "Start type:    disabled\n"
            "State:         stopped\n"
            "Check point:   0\n"
            "Wait hint:     0\n"
            "Exit code:     0\n"
            "Process id:    0\n"
            "Behaviour:     fail-start\n"
            "Image path:    %SystemRoot%\\system32\\svchost.exe -k netsvcs\n"
            "Account:       LocalSystem\n"
            "Depends on:    Netman, WinMgmt\n"
            "Registry:      HKLM\\SYSTEM\\CurrentControlSet\\Services\\SharedAccess\n");
  const ProgramResult json = Run({"--json", "services", "wuauserv"});
  EXPECT_EQ(json.out,
            "{\"name\":\"wuauserv\",\"displayName\":\"Automatic Updates\",\"type\":32,\"startType\":\"auto\","
            "\"state\":\"running\",\"checkPoint\":0,\"waitHint\":0,\"exitCode\":0,\"processId\":1204,"
            "\"behaviour\":\"normal\"}\n");

  const ProgramResult diff = Run({"diff", "fresh"});
  ASSERT_EQ(diff.exitCode, 0) << diff.err;
  EXPECT_EQ(diff.out,
            "~ reg  HKLM\\SYSTEM\\CurrentControlSet\\Services\\SharedAccess  Start: REG_DWORD 2 -> 4\n"
            "~ service  SharedAccess  running -> stopped, behaviour fail-start\n");
}

TEST_F(ServicesCommandTest, BadCallsAreRefused) {
  Init();
  struct Case {
    std::vector<std::string> args;
    const char* err;
  };
  const Case cases[] = {
      {{"services", "NoSuch"}, "tarvo-host: services: no service 'NoSuch'\n"},
      {{"services", "set"}, "tarvo-host: services set: a service name is needed\n"},
      {{"services", "set", "MpsSvc"}, "tarvo-host: services set: nothing to set (use --start, --state or --behaviour)\n"},
      {{"services", "set", "MpsSvc", "--start", "boot"},
       "tarvo-host: services set: unknown start type 'boot' (use auto, manual or disabled)\n"},
      {{"services", "set", "MpsSvc", "--state", "paused", "--state", "starting"},
       "tarvo-host: services set: unknown state 'starting' (use running, stopped or paused)\n"},
      {{"services", "set", "MpsSvc", "--behaviour", "slow"},
       "tarvo-host: services set: unknown behaviour 'slow' (use normal, stuck-start, fail-start or stuck-stop)\n"},
  };
  for (const Case& c : cases) {
    const ProgramResult r = Run(c.args);
    EXPECT_EQ(r.exitCode, 1) << c.err;
    EXPECT_EQ(r.err, c.err);
  }
  // Nothing was changed by the refused calls.
  const ProgramResult json = Run({"--json", "services", "MpsSvc"});
  EXPECT_NE(json.out.find("\"startType\":\"auto\",\"state\":\"running\""), std::string::npos) << json.out;
}

TEST_F(ServicesCommandTest, AHostWhoseUserIsNoAdministrator) {
  Init({"--not-admin"});
  const ProgramResult show = Run({"show"});
  EXPECT_NE(show.out.find("User:          tester (standard user)"), std::string::npos) << show.out;
  // The host's owner still prepares its services.
  const ProgramResult set = Run({"services", "set", "MpsSvc", "--state", "stopped"});
  EXPECT_EQ(set.exitCode, 0) << set.err;
}

}  // namespace
