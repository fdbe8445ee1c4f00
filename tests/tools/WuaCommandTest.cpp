// End-to-end tests of "tarvo-host wua": the built binary shows, pauses and
// resumes the automatic updates of a host in a temporary folder and switches
// its update agent between present, absent and failing.
#include <gtest/gtest.h>

#include <filesystem>

#include "support/RunProgram.h"
#include "support/TestHost.h"

namespace {

class WuaCommandTest : public ::testing::Test {
 protected:
  WuaCommandTest() : folder_(MakeTempFolder("tarvo-wua-cmd")) {
    const ProgramResult init = Run({"init", "--clock", "virtual"});
    EXPECT_EQ(init.exitCode, 0) << init.err;
  }
  ~WuaCommandTest() override {
    std::error_code ec;
    std::filesystem::remove_all(folder_, ec);
  }
  ProgramResult Run(const std::vector<std::string>& args) {
    return RunProgram(BinaryPath("tarvo-host"), args, {{"TARVO_HOST", folder_}, {"USER", "tester"}});
  }

  std::string folder_;
};

TEST_F(WuaCommandTest, ANewHostShowsResumedUpdatesAndAPresentAgent) {
  const ProgramResult r = Run({"wua"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out,
            "Automatic updates: resumed\n"
            "Last change:       2015-12-07 10:00:00\n"
            "Update agent:      present\n");
  const ProgramResult json = Run({"--json", "wua"});
  ASSERT_EQ(json.exitCode, 0) << json.err;
  EXPECT_EQ(json.out, "{\"state\":\"resumed\",\"changed\":\"2015-12-07 10:00:00\",\"mode\":\"present\"}\n");
}

TEST_F(WuaCommandTest, PauseAndResumeLastBeyondTheProcess) {
  ASSERT_EQ(Run({"wua", "pause"}).exitCode, 0);
  const ProgramResult paused = Run({"--json", "wua"});
  EXPECT_EQ(paused.out, "{\"state\":\"paused\",\"changed\":\"2015-12-07 10:00:00\",\"mode\":\"present\"}\n");
  const ProgramResult resumed = Run({"wua", "resume"});
  ASSERT_EQ(resumed.exitCode, 0) << resumed.err;
  EXPECT_EQ(resumed.out.substr(0, 27), "Automatic updates: resumed\n");
}

TEST_F(WuaCommandTest, AnAbsentOrFailingAgentFailsWithItsHresult) {
  const ProgramResult absent = Run({"wua", "set-mode", "absent"});
  ASSERT_EQ(absent.exitCode, 0) << absent.err;
  EXPECT_NE(absent.out.find("Update agent:      absent: instantiation fails with REGDB_E_CLASSNOTREG\n"),
            std::string::npos)
      << absent.out;
  const ProgramResult notRegistered = Run({"wua", "pause"});
  EXPECT_EQ(notRegistered.exitCode, 1);
  EXPECT_EQ(notRegistered.err, "tarvo-host: wua pause: the update agent cannot be instantiated (HRESULT 0x80040154)\n");

  ASSERT_EQ(Run({"wua", "set-mode", "failing"}).exitCode, 0);
  const ProgramResult failing = Run({"wua", "resume"});
  EXPECT_EQ(failing.exitCode, 1);
  EXPECT_EQ(failing.err, "tarvo-host: wua resume: the update agent refused (HRESULT 0x80240001)\n");
  EXPECT_EQ(Run({"--json", "wua"}).out,
            "{\"state\":\"resumed\",\"changed\":\"2015-12-07 10:00:00\",\"mode\":\"failing\"}\n");
}

TEST_F(WuaCommandTest, BadCallsAreRefused) {
  const ProgramResult mode = Run({"wua", "set-mode", "gone"});
  EXPECT_EQ(mode.exitCode, 1);
  EXPECT_EQ(mode.err, "tarvo-host: wua set-mode: unknown mode 'gone' (use present, absent or failing)\n");
  EXPECT_EQ(Run({"wua", "set-mode"}).exitCode, 1);
  EXPECT_EQ(Run({"wua", "pause", "now"}).exitCode, 1);
  const ProgramResult action = Run({"wua", "stop"});
  EXPECT_EQ(action.exitCode, 1);
  EXPECT_EQ(action.err, "tarvo-host: wua: unknown action 'stop' (use pause, resume or set-mode)\n");
  EXPECT_EQ(Run({"--json", "wua"}).out,
            "{\"state\":\"resumed\",\"changed\":\"2015-12-07 10:00:00\",\"mode\":\"present\"}\n");
}

}  // namespace
