#include <filesystem>
#include <stdexcept>

#include "cli/FeatureRunFixture.h"
#include "features/FeatureFixture.h"
#include "cli/Tarvo.h"
#include "infra/BuildInfo.h"
#include "infra/ProcessState.h"
#include "platform/Forwarding.h"
#include "resources/ResourceMgr.h"
#include "securityfiles/Placeholders.h"

namespace {

namespace fs = std::filesystem;

const std::string kPauseBefore = Wua("pause", "adaptionmoment=\"BeforeInstallation\"");
const std::string kResumeAfter = Wua("resume", "adaptionmoment=\"AfterInstallation\"");

class ApplyFeaturesTest : public FeatureRunTest {
 protected:
  explicit ApplyFeaturesTest(std::string_view updateAgent = "present") : FeatureRunTest("win7-sp1-x64", updateAgent) {}
  const std::string kHistory = std::string(kRepository) + "History.xml";
  bool UpdatesPaused() { return host_.Host().AutomaticUpdates().State().paused; }
  std::string History() { return DocumentText(kHistory); }
};

TEST_F(ApplyFeaturesTest, EachMomentAppliesItsOwnFeatures) {
  WriteSingleFileSetup(kPauseBefore + kResumeAfter, {"InstallationMoment=0"});
  ASSERT_EQ(Tarvo("ApplyFeatures").exitCode, 0);
  EXPECT_TRUE(UpdatesPaused());
  std::string log = Log();
  EXPECT_NE(log.find("|CTarvo::ApplyFeatures                  |Installation moment:  Before product installation"),
            std::string::npos);
  EXPECT_EQ(Count(log, "---- Apply feature  WUA  BEGIN ----"), 1u);
  EXPECT_NE(log.find("|CTarvo::ApplyFeatures                  |No Reboot needed"), std::string::npos);
  EXPECT_NE(log.find("|CTarvo::ApplyFeatures                  |END  Returncode: 0"), std::string::npos);
  // The same session after the installation: an empty moment means after.
  WriteSingleFileSetup(kPauseBefore + kResumeAfter, {"InstallationMoment="});
  ASSERT_EQ(Tarvo("ApplyFeatures").exitCode, 0);
  EXPECT_FALSE(UpdatesPaused());
  EXPECT_NE(Log().find("Installation moment:  After product installation"), std::string::npos);
  // Both runs wrote into one t:Setup and one t:Product; the kind keeps one t:wua.
  const std::string history = History();
  EXPECT_EQ(Count(history, "<t:Setup SessionId=\"Session 1\">"), 1u);
  EXPECT_EQ(Count(history, "<t:Product name=\"Plant Viewer\" moment=\"TargetValue\">"), 1u);
  EXPECT_EQ(Count(history, "<t:wua "), 1u);
  EXPECT_NE(history.find("adaptionmoment=\"AfterInstallation\" reboot=\"no\" critical=\"false\""), std::string::npos);
  EXPECT_EQ(history.find("message="), std::string::npos);
  // The file was stored in the repository with its product.
  EXPECT_TRUE(Exists(std::string(kRepository) + "Plant Viewer.xml"));
  EXPECT_NE(DocumentText(std::string(kRepository) + "TarvoRepository.xml").find("originalname=\"C:\\sec\\a.xml\""),
            std::string::npos);
}

TEST_F(ApplyFeaturesTest, FillOnlyRepositoryStoresWithoutApplying) {
  WriteSingleFileSetup(kPauseBefore, {"InstallationMoment=0", "FillOnlyRepository=1"});
  EXPECT_EQ(Tarvo("ApplyFeatures").exitCode, 0);
  EXPECT_FALSE(UpdatesPaused());
  EXPECT_TRUE(Exists(std::string(kRepository) + "TarvoRepository.xml"));
  EXPECT_FALSE(Exists(kHistory));
  EXPECT_NE(Log().find("FillOnlyRepository was set;  no ApplyFeatures called!"), std::string::npos);
  // With FillRepository 0 as well, nothing is stored either.
  fs::remove_all(host_.HostPath(kRepository));
  WriteSingleFileSetup(kPauseBefore, {"InstallationMoment=0", "FillOnlyRepository=1", "FillRepository=0"});
  EXPECT_EQ(Tarvo("ApplyFeatures").exitCode, 0);
  EXPECT_FALSE(Exists(std::string(kRepository) + "TarvoRepository.xml"));
  EXPECT_FALSE(UpdatesPaused());
}

TEST_F(ApplyFeaturesTest, OnlyTheExactOnlyTargetSkipsTheCurrentValues) {
  WriteSingleFileSetup(kResumeAfter, {"Execution=onlytarget"});
  Tarvo("ApplyFeatures");
  EXPECT_NE(Log().find("Features before change:"), std::string::npos);
  EXPECT_NE(Log().find("Values after value change:"), std::string::npos);
  WriteSingleFileSetup(kResumeAfter, {"Execution=OnlyTarget"});
  Tarvo("ApplyFeatures");
  const std::string log = Log();
  const std::string lastRun = log.substr(log.rfind("*** Action: ApplyFeatures"));
  EXPECT_EQ(lastRun.find("Features before change:"), std::string::npos);
  EXPECT_EQ(lastRun.find("Values after value change:"), std::string::npos);
  EXPECT_NE(lastRun.find("Target values:"), std::string::npos);
}

// The 32-bit flavour on 64-bit Windows: a feature for 64-bit programs passes
// discovery (Windows is 64-bit) but not the apply loop's platform check. (A
// 64-bit program only runs on 64-bit Windows, so the 64-bit flavour has no
// such case.)
TEST_F(ApplyFeaturesTest, AFeatureForTheOtherFlavourIsNotAllowed) {
  if (kBuildIs64Bit) GTEST_SKIP() << "only the 32-bit flavour meets this case";
  WriteSingleFileSetup(Wua("pause", "adaptionmoment=\"BeforeInstallation\" os64bit=\"YES\""),
                       {"InstallationMoment=0"});
  EXPECT_EQ(Tarvo("ApplyFeatures").exitCode, 0);
  EXPECT_FALSE(UpdatesPaused());
  const std::string log = Log();
  EXPECT_NE(log.find("|CTarvo::ApplyFeatures                  |Feature not allowed for this OSVersion"),
            std::string::npos);
  EXPECT_EQ(log.find("BEGIN"), std::string::npos);
}

TEST_F(ApplyFeaturesTest, TwoProductsGiveTwoProductEntriesInOrderOfUse) {
  WriteSecurityFile("C:\\sec\\b.xml", kResumeAfter, "Second Product");
  WriteSecurityFile("C:\\sec\\a.xml", kResumeAfter, "First Product");
  WriteOpFile(General(), {{"Product1", Product("{A}", {"C:\\sec\\a.xml"})},
                          {"Product2", Product("{B}", {"C:\\sec\\b.xml"})}});
  EXPECT_EQ(Tarvo("ApplyFeatures").exitCode, 0);
  const std::string history = History();
  const size_t first = history.find("<t:Product name=\"First Product\"");
  const size_t second = history.find("<t:Product name=\"Second Product\"");
  ASSERT_NE(second, std::string::npos);
  EXPECT_LT(first, second);
  EXPECT_EQ(Count(history, "<t:Setup "), 1u);
}

TEST_F(ApplyFeaturesTest, ApostrophesInSessionAndProductFindTheirEntriesAgain) {
  WriteSecurityFile("C:\\sec\\a.xml", kPauseBefore + kResumeAfter, "O'Neil's &quot;Viewer&quot;");
  std::vector<std::string> general = General({"InstallationMoment=0"});
  general[0] = "SessionID=Bob's setup";
  WriteOpFile(general, {{"Product1", Product("{A}", {"C:\\sec\\a.xml"})}});
  EXPECT_EQ(Tarvo("ApplyFeatures").exitCode, 0);
  general.back() = "InstallationMoment=1";
  WriteOpFile(general, {{"Product1", Product("{A}", {"C:\\sec\\a.xml"})}});
  EXPECT_EQ(Tarvo("ApplyFeatures").exitCode, 0);
  const std::string history = History();
  EXPECT_EQ(Count(history, "<t:Setup "), 1u);
  EXPECT_EQ(Count(history, "<t:Product "), 1u);
}

TEST_F(ApplyFeaturesTest, AnUnreadableHistoryIsKeptBesideTheNewOne) {
  WriteSingleFileSetup(kResumeAfter);
  const std::string garbage("\x01\xfe garbage \x00 <not xml", 22);
  host_.WriteHostFile(kHistory, garbage);
  EXPECT_EQ(Tarvo("ApplyFeatures").exitCode, 0);
  std::string kept;
  for (const auto& entry : fs::directory_iterator(host_.HostPath(kRepository))) {
    if (entry.path().filename().string().rfind("History.xml.unreadable-", 0) == 0) kept = entry.path().string();
  }
  ASSERT_FALSE(kept.empty());
  EXPECT_EQ(host_.ReadHostFile(host_.WindowsPathOf(kept)), garbage);
  EXPECT_NE(History().find("<t:wua "), std::string::npos);
  EXPECT_NE(Log().find("|ADS_WARNING|CRepositoryMgr::OpenHistoryDocument    |The history file "
                       "C:\\Windows\\Security\\Kelmar\\History.xml cannot be read; it was kept as "
                       "C:\\Windows\\Security\\Kelmar\\History.xml.unreadable-"),
            std::string::npos);
}

TEST_F(ApplyFeaturesTest, AHistoryOfAnotherKindIsLeftAlone) {
  WriteSingleFileSetup(kPauseBefore, {"InstallationMoment=0"});
  const std::string foreign = "<?xml version=\"1.0\"?><other/>";
  host_.WriteHostFile(kHistory, foreign);
  EXPECT_EQ(Tarvo("ApplyFeatures").exitCode, 10);
  EXPECT_EQ(host_.ReadHostFile(kHistory), foreign);
  EXPECT_EQ(Result("ErrorMessage"), "The history file has no root element 't:TarvoHistory'; the feature is not recorded");
  EXPECT_TRUE(UpdatesPaused());  // the feature is still applied
}

TEST_F(ApplyFeaturesTest, AnEarlierErrorKeepsLaterFeaturesOutOfTheHistory) {
  WriteSecurityFile("C:\\sec\\a.xml", kPauseBefore);
  WriteOpFile(General({"InstallationMoment=0"}), {{"Product1", {"InstallDir=C:\\App", "SecurityXML1=C:\\sec\\a.xml"}}});
  EXPECT_EQ(Tarvo("ApplyFeatures").exitCode, 10);  // the product has no UpgradeCode
  EXPECT_TRUE(UpdatesPaused());
  EXPECT_FALSE(Exists(kHistory));
}

TEST_F(ApplyFeaturesTest, AHistoryThatCannotBeWrittenIsCriticalAndKept) {
  WriteSingleFileSetup(kPauseBefore, {"InstallationMoment=0"});
  ASSERT_EQ(Tarvo("ApplyFeatures").exitCode, 0);
  const std::string before = host_.ReadHostFile(kHistory);
  ASSERT_EQ(host_.Platform().Files().SetReadOnly(kHistory, true), 0u);
  EXPECT_EQ(Tarvo("ApplyFeatures").exitCode, 10);
  EXPECT_EQ(Result("CriticalErrorMessage"),
            "Could not save the history under: C:\\Windows\\Security\\Kelmar\\History.xml");
  EXPECT_EQ(host_.ReadHostFile(kHistory), before);
  EXPECT_TRUE(UpdatesPaused());  // applied all the same
}

class ApplyFeaturesWithoutAgentTest : public ApplyFeaturesTest {
 protected:
  ApplyFeaturesWithoutAgentTest() : ApplyFeaturesTest("absent") {}
};

TEST_F(ApplyFeaturesWithoutAgentTest, ACriticalFeatureOfTheOtherMomentMakesLaterErrorsCritical) {
  WriteSingleFileSetup(Wua("pause", "adaptionmoment=\"BeforeInstallation\" critical=\"true\"") + kResumeAfter +
                       kResumeAfter);
  EXPECT_EQ(Tarvo("ApplyFeatures").exitCode, 10);
  EXPECT_EQ(Result("CriticalFeatureError"), "1");
  EXPECT_EQ(Result("CriticalFeatureErrorMessage1"), "IAutomaticUpdates could not be instantiated Error: -2147221164");
  EXPECT_EQ(Result("CriticalError"), "0");
  EXPECT_EQ(Result("ContainCriticalFeatures"), "1");
  // The loop stopped after the first failing feature.
  EXPECT_EQ(Count(Log(), "---- Apply feature  WUA  BEGIN ----"), 1u);
  EXPECT_NE(Log().find("Apply feature has finished with error"), std::string::npos);
}

// An exception escaping a feature still ends in [RESULTS] and exit code 10.
class ThrowingUpdates : public plat::ForwardingAutomaticUpdates {
 public:
  using ForwardingAutomaticUpdates::ForwardingAutomaticUpdates;
  uint32_t Pause() override { throw std::runtime_error("agent crashed"); }
};

TEST_F(ApplyFeaturesTest, AnEscapingExceptionIsReportedAsACrash) {
  WriteSingleFileSetup(kPauseBefore, {"InstallationMoment=0"});
  ResetProcessState();
  CResourceMgr::Reset();
  CPlaceholders::ResetCachedValues();
  plat::ForwardingPlatform platform(host_.Platform());
  ThrowingUpdates updates(host_.Platform().AutomaticUpdates());
  platform.SetAutomaticUpdates(&updates);
  plat::ScopedPlatform installed(platform);
  platform.System().SetLastError(1234);
  CTarvo tarvo;
  EXPECT_EQ(tarvo.ApplyFeatures(kOpFile), 10);
  EXPECT_EQ(Result("CriticalErrorMessage"), "Unknown crash in Tarvo");
  EXPECT_NE(Log().find("|CTarvo::ApplyFeatures                  |GetLastError(): "), std::string::npos);
  EXPECT_NE(Log().find("END  Returncode: 10"), std::string::npos);
}

// Which values are logged around the apply step depends on the kind: no
// current values for firewall features on Vista and later, none before the
// change for file permissions.
TEST_F(ApplyFeaturesTest, KindsDecideWhichCurrentValuesAreLogged) {
  CFeature::ResetVersionRecord();
  auto loggedSteps = [](std::string_view body, std::string_view query) {
    const xml::Document document = feature_test::SecurityFile(body);
    feature_test::CommonFeature feature;
    CErrorMgr errors;
    EXPECT_TRUE(feature.GetFeatureFromXml(errors, feature_test::FirstNode(document, query), "S"));
    CTarvo tarvo;
    tarvo.MakeHistoryLogAndApplyFeature(errors, feature);
    std::string steps;
    for (const auto& entry : errors.Entries()) {
      if (entry->message.back() == ':') steps += entry->message + " ";
    }
    return steps;
  };
  EXPECT_EQ(loggedSteps("<t:network><t:lan/></t:network>", "//t:lan"), "Target values: ");
  EXPECT_EQ(loggedSteps("<t:fileSystemPermissions><t:fileSystemPath value=\"C:\\x\"/></t:fileSystemPermissions>",
                        "//t:fileSystemPath"),
            "Target values: Values after value change: ");
  EXPECT_EQ(loggedSteps("<t:componentService/>", "//t:componentService"),
            "Features before change: Target values: Values after value change: ");
}

}  // namespace
