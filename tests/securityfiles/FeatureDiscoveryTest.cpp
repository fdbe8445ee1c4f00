#include <gtest/gtest.h>

#include <algorithm>

#include "features/WUA.h"
#include "features/FeatureFixture.h"
#include "infra/IniFile.h"
#include "securityfiles/FeatureDiscovery.h"
#include "support/TestHost.h"

namespace {

using feature_test::SecurityFile;

class FeatureDiscoveryTest : public ::testing::Test {
 protected:
  FeatureList Discover(std::string_view body) {
    return CXmlAnalyser::DiscoverFeatures(errors_, opFile_, "C:\\sec\\a.xml", SecurityFile(body));
  }
  std::vector<std::string> Messages() const {
    std::vector<std::string> messages;
    for (const auto& entry : errors_.Entries()) messages.push_back(entry->message);
    return messages;
  }

  TestHost host_;
  CIniFile opFile_;
  CErrorMgr errors_;
};

TEST_F(FeatureDiscoveryTest, KeepsDocumentOrderAndReportsEachKindOnce) {
  const FeatureList features = Discover(
      "<t:wua value=\"pause\"/><t:network><t:lan/><t:lan/></t:network><t:wua value=\"resume\" osversion=\"=5.1\"/>"
      "<t:wua value=\"resume\"/>");
  // By kind first (firewall before updates), then in document order; the
  // Windows XP feature does not apply on Windows 7.
  ASSERT_EQ(features.size(), 4u);
  EXPECT_EQ(features[0]->GetKindName(), "Firewall");
  EXPECT_EQ(features[1]->GetKindName(), "Firewall");
  EXPECT_EQ(static_cast<CWUA&>(*features[2]).GetValue(), CWUA::kValuePause);
  EXPECT_EQ(static_cast<CWUA&>(*features[3]).GetValue(), CWUA::kValueResume);
  const std::vector<std::string> messages = Messages();
  EXPECT_EQ(messages.front(), "  C:\\sec\\a.xml");
  EXPECT_EQ(std::count(messages.begin(), messages.end(), "    Found    WUA Feature"), 1);
  EXPECT_EQ(std::count(messages.begin(), messages.end(), "    Found    Firewall Feature"), 1);
}

TEST_F(FeatureDiscoveryTest, ACriticalEntryEndsDiscoveryAndDropsTheCurrentKind) {
  errors_.AddMessage(kLevelCritical, "test", "earlier critical entry");
  EXPECT_TRUE(Discover("<t:wua value=\"pause\"/>").empty());
  const std::vector<std::string> messages = Messages();
  EXPECT_EQ(std::count(messages.begin(), messages.end(), "    Found    WUA Feature"), 0);
  // The first kind already ends it: no later kind is even counted.
  EXPECT_TRUE(Discover("<t:network><t:lan/></t:network>").empty());
  EXPECT_EQ(Messages().size(), messages.size() + 1);  // only the file's own line
}

TEST(FeatureDiscoveryFilter, MatchesKindNamesEitherWay) {
  EXPECT_TRUE(CXmlAnalyser::IsKindSelected("", "DCOM"));
  EXPECT_TRUE(CXmlAnalyser::IsKindSelected("DCOM", "DCOM"));
  EXPECT_FALSE(CXmlAnalyser::IsKindSelected("DCOM", "WUA"));
  EXPECT_TRUE(CXmlAnalyser::IsKindSelected("Firewall;WUA", "WUA"));
  EXPECT_TRUE(CXmlAnalyser::IsKindSelected("Permission", "FilePermission"));
  EXPECT_TRUE(CXmlAnalyser::IsKindSelected("Permission", "RegistryPermission"));
  EXPECT_FALSE(CXmlAnalyser::IsKindSelected("Permission", "GroupUser"));
  EXPECT_FALSE(CXmlAnalyser::IsKindSelected("dcom", "DCOM"));
}

}  // namespace
