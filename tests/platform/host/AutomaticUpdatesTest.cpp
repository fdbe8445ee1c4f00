// The automatic-updates service of the simulated host: pausing and resuming
// with the time of the last change on the virtual clock, the absent and
// failing agents with their HRESULTs, the rights it takes, and the state
// kept in host.db across a reopen.
#include <gtest/gtest.h>

#include <filesystem>

#include "platform/Forwarding.h"
#include "support/TestHost.h"

namespace {

constexpr uint32_t kSOk = 0;

plat::IAutomaticUpdates& Updates() { return plat::Current().AutomaticUpdates(); }

TEST(AutomaticUpdatesTest, ANewHostRunsUpdatesSinceItWasMade) {
  TestHost h;
  const host::AutomaticUpdatesState state = h.Host().AutomaticUpdates().State();
  EXPECT_FALSE(state.paused);
  EXPECT_EQ(state.changed, "2015-12-07 10:00:00");
  EXPECT_EQ(state.mode, "present");
}

TEST(AutomaticUpdatesTest, PauseAndResumeKeepTheTimeOfTheLastChange) {
  TestHost h;
  host::HostAutomaticUpdates& updates = h.Host().AutomaticUpdates();
  ASSERT_EQ(Updates().CreateInstance(), kSOk);

  plat::Current().System().Sleep(5000);
  ASSERT_EQ(Updates().Pause(), kSOk);
  EXPECT_TRUE(updates.State().paused);
  EXPECT_EQ(updates.State().changed, "2015-12-07 10:00:05");

  // A second pause is no change: the time stays that of the first.
  plat::Current().System().Sleep(60000);
  ASSERT_EQ(Updates().Pause(), kSOk);
  EXPECT_TRUE(updates.State().paused);
  EXPECT_EQ(updates.State().changed, "2015-12-07 10:00:05");

  plat::Current().System().Sleep(1000);
  ASSERT_EQ(Updates().Resume(), kSOk);
  EXPECT_FALSE(updates.State().paused);
  EXPECT_EQ(updates.State().changed, "2015-12-07 10:01:06");

  // Resuming what runs changes nothing either.
  plat::Current().System().Sleep(1000);
  ASSERT_EQ(Updates().Resume(), kSOk);
  EXPECT_EQ(updates.State().changed, "2015-12-07 10:01:06");
}

TEST(AutomaticUpdatesTest, AnAbsentAgentIsNotRegistered) {
  TestHost h("win7-sp1-x64", "en-US", host::OpenOptions{}.process32Bit, "absent");
  EXPECT_EQ(Updates().CreateInstance(), 0x80040154u);  // REGDB_E_CLASSNOTREG
  EXPECT_EQ(Updates().Pause(), 0x80040154u);
  EXPECT_EQ(Updates().Resume(), 0x80040154u);
  EXPECT_FALSE(h.Host().AutomaticUpdates().State().paused);
  EXPECT_EQ(h.Host().AutomaticUpdates().State().mode, "absent");
}

TEST(AutomaticUpdatesTest, AFailingAgentInstantiatesButRefusesEveryCall) {
  TestHost h("win7-sp1-x64", "en-US", host::OpenOptions{}.process32Bit, "failing");
  EXPECT_EQ(Updates().CreateInstance(), kSOk);
  plat::Current().System().Sleep(5000);
  EXPECT_EQ(Updates().Pause(), 0x80240001u);  // WU_E_NO_SERVICE
  EXPECT_EQ(Updates().Resume(), 0x80240001u);
  // Nothing was recorded.
  EXPECT_FALSE(h.Host().AutomaticUpdates().State().paused);
  EXPECT_EQ(h.Host().AutomaticUpdates().State().changed, "2015-12-07 10:00:00");
}

TEST(AutomaticUpdatesTest, TheModeCanBeSwitchedLaterButOnlyToAKnownOne) {
  TestHost h;
  host::HostAutomaticUpdates& updates = h.Host().AutomaticUpdates();
  ASSERT_TRUE(updates.SetMode("failing"));
  EXPECT_EQ(Updates().Pause(), 0x80240001u);
  ASSERT_TRUE(updates.SetMode("absent"));
  EXPECT_EQ(Updates().CreateInstance(), 0x80040154u);
  EXPECT_FALSE(updates.SetMode("broken"));
  EXPECT_FALSE(updates.SetMode("Present"));
  EXPECT_EQ(updates.State().mode, "absent");
  ASSERT_TRUE(updates.SetMode("present"));
  EXPECT_EQ(Updates().Pause(), kSOk);
  EXPECT_TRUE(updates.State().paused);
}

TEST(AutomaticUpdatesTest, ARefusedCallLeavesAnEnclosingTransactionUsable) {
  TestHost h("win7-sp1-x64", "en-US", host::OpenOptions{}.process32Bit, "failing");
  host::HostDb& db = h.Host().Db();
  {
    host::Transaction tx(db);
    db.SetMeta("probe", "kept");
    EXPECT_EQ(Updates().Pause(), 0x80240001u);
    tx.Commit();
  }
  EXPECT_EQ(db.Meta("probe"), "kept");
}

TEST(AutomaticUpdatesTest, TheStateSurvivesAReopenOfTheHost) {
  TestHost h;
  plat::Current().System().Sleep(2000);
  ASSERT_EQ(Updates().Pause(), kSOk);
  ASSERT_TRUE(h.Host().AutomaticUpdates().SetMode("failing"));

  std::string error;
  auto reopened = host::Host::Open(h.Folder(), host::OpenOptions{}, &error);
  ASSERT_TRUE(reopened) << error;
  const host::AutomaticUpdatesState state = reopened->AutomaticUpdates().State();
  EXPECT_TRUE(state.paused);
  EXPECT_EQ(state.changed, "2015-12-07 10:00:02");
  EXPECT_EQ(state.mode, "failing");
  EXPECT_EQ(reopened->AutomaticUpdates().Resume(), 0x80240001u);
}

TEST(AutomaticUpdatesTest, PausingTakesAnAdministrator) {
  TestHost h{TestHost::StandardUser{}};
  EXPECT_EQ(Updates().CreateInstance(), kSOk);
  EXPECT_EQ(Updates().Pause(), 0x80070005u);  // E_ACCESSDENIED
  EXPECT_FALSE(h.Host().AutomaticUpdates().State().paused);
}

TEST(AutomaticUpdatesTest, AHostIsNotMadeWithAnUnknownMode) {
  const std::string folder = MakeTempFolder("tarvo-wua-mode");
  host::CreateOptions create;
  create.automaticUpdates = "missing";
  std::string error;
  EXPECT_FALSE(host::Host::Create(folder, create, false, host::OpenOptions{}, &error));
  EXPECT_EQ(error, "unknown automatic-updates mode 'missing' (use present, absent or failing)");
  EXPECT_FALSE(host::Host::Exists(folder));
  std::filesystem::remove_all(folder);
}

// How callers test their error paths: one call replaced, the rest forwarded.
TEST(AutomaticUpdatesTest, AForwardingPlatformReplacesOnlyWhatATestOverrides) {
  TestHost h;
  struct FailingResume : plat::ForwardingAutomaticUpdates {
    using ForwardingAutomaticUpdates::ForwardingAutomaticUpdates;
    uint32_t Resume() override { return 0x8024A000; }  // WU_E_AU_NOSERVICE
  };
  FailingResume failing(h.Host().AutomaticUpdates());
  plat::ForwardingPlatform platform(h.Platform());
  platform.SetAutomaticUpdates(&failing);
  plat::ScopedPlatform installed(platform);

  EXPECT_EQ(Updates().CreateInstance(), kSOk);
  EXPECT_EQ(Updates().Pause(), kSOk);
  EXPECT_EQ(Updates().Resume(), 0x8024A000u);
  EXPECT_TRUE(h.Host().AutomaticUpdates().State().paused);
}

}  // namespace
