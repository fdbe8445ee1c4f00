// A session id holding a character XML cannot carry: the history written
// with it must load again in the next run, and that run must find the same
// t:Setup, instead of keeping the file aside and starting a new history.
#include <filesystem>

#include "cli/FeatureRunFixture.h"

namespace {

class HistoryControlCharacterTest : public FeatureRunTest {};

TEST_F(HistoryControlCharacterTest, AControlCharacterInTheSessionIdKeepsTheHistoryReadable) {
  std::vector<std::string> general = General({"InstallationMoment=0"});
  general[0] = "SessionID=Session\x01" "1";
  WriteSecurityFile("C:\\sec\\a.xml", Wua("pause", "adaptionmoment=\"BeforeInstallation\""), "First Product");
  WriteOpFile(general, {{"Product1", Product("{A}", {"C:\\sec\\a.xml"})}});
  ASSERT_EQ(Tarvo("ApplyFeatures").exitCode, 0);

  general.back() = "InstallationMoment=1";
  WriteSecurityFile("C:\\sec\\b.xml", Wua("resume", "adaptionmoment=\"AfterInstallation\""), "Second Product");
  WriteOpFile(general, {{"Product1", Product("{B}", {"C:\\sec\\b.xml"})}});
  ASSERT_EQ(Tarvo("ApplyFeatures").exitCode, 0);

  const std::string history = DocumentText(std::string(kRepository) + "History.xml");
  EXPECT_EQ(Count(history, "<t:Setup "), 1u) << history;
  EXPECT_EQ(Count(history, "<t:Setup SessionId=\"Session\xEF\xBF\xBD" "1\">"), 1u) << history;
  EXPECT_EQ(Count(history, "<t:Product name=\"First Product\" moment=\"TargetValue\">"), 1u) << history;
  EXPECT_EQ(Count(history, "<t:Product name=\"Second Product\" moment=\"TargetValue\">"), 1u) << history;
  for (const auto& entry : std::filesystem::directory_iterator(host_.HostPath(kRepository))) {
    EXPECT_EQ(entry.path().filename().string().find(".unreadable-"), std::string::npos) << entry.path();
  }
}

}  // namespace
