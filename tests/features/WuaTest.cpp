// The automatic-updates feature: value spellings, the one t:wua element per
// parent with and without language texts, the unset value, and pausing and
// resuming the host's update agent when it is present, absent or failing.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <string_view>

#include "features/FeatureFixture.h"
#include "features/WUA.h"
#include "infra/BuildInfo.h"
#include "infra/ErrorMgr.h"
#include "platform/Platform.h"
#include "resources/ResourceMgr.h"
#include "securityfiles/XmlServices.h"
#include "support/TestHost.h"

namespace {

using feature_test::EntryOf;
using feature_test::FirstNode;
using feature_test::SecurityFile;

constexpr const char* kWuaPath = "/t:vscSetup/t:host/t:body/t:wua";

std::string ReadSourceFile(std::string_view relative) {
  std::ifstream in(std::string(TARVO_SOURCE_DIR) + "/" + std::string(relative), std::ios::binary);
  std::stringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

class WuaFeature : public ::testing::Test {
 protected:
  explicit WuaFeature(std::string_view agent = host::kWuaPresent)
      : host_("win7-sp1-x64", "en-US", host::OpenOptions{}.process32Bit, agent) {}
  void TearDown() override { CResourceMgr::Reset(); }

  // A feature read from one t:wua element with `attributes`.
  void Read(CWUA& feature, std::string_view attributes) {
    source_ = SecurityFile("<t:wua " + std::string(attributes) + "/>");
    ASSERT_TRUE(feature.GetFeatureFromXml(errorMgr_, FirstNode(source_, kWuaPath), "S1"));
  }
  void LoadEnglish() {
    host_.WriteHostFile("C:\\lang\\Tarvo_1033.ulf", ReadSourceFile("data/Tarvo_1033.ulf"));
    ASSERT_TRUE(CResourceMgr::LoadResource(errorMgr_, "C:\\lang", 1033));
  }
  static xml::Document FeatureDocument() {
    xml::Document document = xml::Document::Create();
    EXPECT_TRUE(document.LoadXml("<t:Tarvo xmlns:t='urn:feature-document'/>"));
    return document;
  }
  bool Paused() { return host_.Host().AutomaticUpdates().State().paused; }

  TestHost host_;
  CErrorMgr errorMgr_;
  xml::Document source_;
};

TEST_F(WuaFeature, ValueSpellings) {
  const std::pair<const char*, int> cases[] = {
      {"value='Pause'", CWUA::kValuePause}, {"value='PAUSE'", CWUA::kValuePause},
      {"value='pause'", CWUA::kValuePause}, {"value='stop'", CWUA::kValueResume},
      {"value=''", CWUA::kValueResume},     {"", CWUA::kValueResume},
      {"value=' pause'", CWUA::kValueResume},
  };
  for (const auto& [attributes, expected] : cases) {
    CWUA feature;
    Read(feature, attributes);
    EXPECT_EQ(feature.GetValue(), expected) << attributes;
    EXPECT_EQ(feature.GetKindName(), "WUA");
  }
}

TEST_F(WuaFeature, ANewFeatureHasNoValue) { EXPECT_EQ(CWUA().GetValue(), CWUA::kValueNotRead); }

TEST_F(WuaFeature, AFeatureThatDoesNotApplyIsNotRead) {
  CWUA feature;
  source_ = SecurityFile("<t:wua value='pause' osversion='-winxp'/>");
  EXPECT_FALSE(feature.GetFeatureFromXml(errorMgr_, FirstNode(source_, kWuaPath), "S1"));
  EXPECT_EQ(feature.GetValue(), CWUA::kValueNotRead);
}

TEST_F(WuaFeature, WritesTheElementWithMessageAndAttributesInOrder) {
  LoadEnglish();
  CWUA feature;
  Read(feature, "value='pause' adaptionmoment='BeforeInstallation' critical='yes'");
  const xml::Document document = FeatureDocument();
  ASSERT_TRUE(feature.SetFeatureToXml(errorMgr_, document));
  const xml::Node wua = FirstNode(document, "t:Tarvo/t:wua");
  EXPECT_EQ(wua.Xml(), "<t:wua message=\"" + CResourceMgr::GetResourceText(191) +
                           "\" adaptionmoment=\"BeforeInstallation\" reboot=\"no\" critical=\"true\" platform=\"" +
                           kBuildPlatform + "\" value=\"pause\"/>");
  EXPECT_EQ(wua.GetAttribute("message"), "Pause automatic Windows updates during the installation");
}

TEST_F(WuaFeature, HistoryEntriesCarryNoMessage) {
  LoadEnglish();
  CWUA feature;
  Read(feature, "value='resume'");
  const xml::Document document = FeatureDocument();
  const xml::Node wua = feature.SetFeatureToXml(errorMgr_, document.DocumentElement(), false);
  ASSERT_FALSE(wua.IsNull());
  EXPECT_FALSE(HasXmlAttribute(wua, "message"));
  EXPECT_EQ(wua.GetAttribute("value"), "resume");
  // With messages, the resume text is the other one.
  feature.SetFeatureToXml(errorMgr_, document.DocumentElement(), true);
  EXPECT_EQ(wua.GetAttribute("message"), CResourceMgr::GetResourceText(192));
}

TEST_F(WuaFeature, TwoFeaturesShareOneElementAndTheLastWins) {
  CWUA first, second;
  Read(first, "value='pause' critical='yes' reboot='afterinstallation'");
  Read(second, "value='stop'");
  const xml::Document document = FeatureDocument();
  ASSERT_TRUE(first.SetFeatureToXml(errorMgr_, document));
  ASSERT_TRUE(second.SetFeatureToXml(errorMgr_, document));
  const xml::NodeList all = document.SelectNodes("t:Tarvo/t:wua");
  ASSERT_EQ(all.Length(), 1u);
  EXPECT_EQ(all.Item(0).GetAttribute("value"), "resume");
  EXPECT_EQ(all.Item(0).GetAttribute("critical"), "false");
  EXPECT_EQ(all.Item(0).GetAttribute("reboot"), "no");
}

TEST_F(WuaFeature, AnUnsetValueWritesNothing) {
  CWUA feature;
  const xml::Document document = FeatureDocument();
  EXPECT_TRUE(feature.SetFeatureToXml(errorMgr_, document.DocumentElement(), true).IsNull());
  EXPECT_TRUE(document.SelectSingleNode("t:Tarvo/t:wua").IsNull());
  const CErrorObject* entry = EntryOf(errorMgr_, "CWUA::SetFeatureToXml()");
  ASSERT_NE(entry, nullptr);
  EXPECT_EQ(entry->level, kLevelCritical);
  EXPECT_EQ(entry->message, "Internal error: The WUA feature value was not set (pause or resume are only valid)");
  EXPECT_FALSE(feature.SetFeatureToXml(errorMgr_, document));
}

TEST_F(WuaFeature, ADocumentWithoutTheRootIsAnInternalError) {
  CWUA feature;
  Read(feature, "value='pause'");
  xml::Document document = xml::Document::Create();
  ASSERT_TRUE(document.LoadXml("<t:Other xmlns:t='urn:x'/>"));
  EXPECT_FALSE(feature.SetFeatureToXml(errorMgr_, document));
  const CErrorObject* entry = EntryOf(errorMgr_, "CWUA::SetFeatureToXml()");
  ASSERT_NE(entry, nullptr);
  EXPECT_EQ(entry->level, kLevelCritical);
  EXPECT_EQ(entry->message,
            "Internal error: The XML document with the resources and the features to be changed, contains not the "
            "root node 'Tarvo'");
  EXPECT_TRUE(document.SelectSingleNode("//t:wua").IsNull());
}

TEST_F(WuaFeature, ApplyingPausesAndResumesTheHost) {
  CWUA pause, resume;
  Read(pause, "value='Pause'");
  Read(resume, "value='whatever'");
  ASSERT_FALSE(Paused());
  EXPECT_TRUE(pause.ApplyFeature(errorMgr_));
  EXPECT_TRUE(Paused());
  EXPECT_TRUE(pause.ApplyFeature(errorMgr_));  // pausing again changes nothing and is no failure
  EXPECT_TRUE(Paused());
  EXPECT_TRUE(resume.ApplyFeature(errorMgr_));
  EXPECT_FALSE(Paused());
  EXPECT_EQ(errorMgr_.GetHighestLevel(), -1);
}

TEST_F(WuaFeature, AnEarlierErrorMakesTheResultFalseButStillApplies) {
  CWUA pause;
  Read(pause, "value='pause'");
  errorMgr_.AddMessage(kLevelError, "Earlier::Step", "an earlier failure");
  EXPECT_FALSE(pause.ApplyFeature(errorMgr_));
  EXPECT_TRUE(Paused());
}

class WuaAbsentAgent : public WuaFeature {
 protected:
  WuaAbsentAgent() : WuaFeature(host::kWuaAbsent) {}
};

TEST_F(WuaAbsentAgent, IsAnError) {
  CWUA pause;
  Read(pause, "value='pause'");
  EXPECT_FALSE(pause.ApplyFeature(errorMgr_));
  const CErrorObject* entry = EntryOf(errorMgr_, "CWUA::ApplyFeature");
  ASSERT_NE(entry, nullptr);
  EXPECT_EQ(entry->level, kLevelError);
  EXPECT_EQ(entry->message, "IAutomaticUpdates could not be instantiated Error: -2147221164");
  EXPECT_EQ(errorMgr_.Entries().size(), 1u);  // no pause was tried
  EXPECT_EQ(errorMgr_.GetHighestLevel(), kLevelError);
}

TEST_F(WuaAbsentAgent, IsCriticalForACriticalFeature) {
  CWUA pause;
  Read(pause, "value='pause' critical='yes'");
  ASSERT_TRUE(pause.IsCritical());
  errorMgr_.SetCriticalFeature(pause.IsCritical());  // as ApplyFeatures marks the run
  EXPECT_FALSE(pause.ApplyFeature(errorMgr_));
  EXPECT_EQ(errorMgr_.GetHighestLevel(), kLevelCritical);
}

class WuaFailingAgent : public WuaFeature {
 protected:
  WuaFailingAgent() : WuaFeature(host::kWuaFailing) {}
};

TEST_F(WuaFailingAgent, IsAWarning) {
  CWUA pause, resume;
  Read(pause, "value='pause'");
  Read(resume, "");
  EXPECT_TRUE(pause.ApplyFeature(errorMgr_));
  EXPECT_TRUE(resume.ApplyFeature(errorMgr_));
  ASSERT_EQ(errorMgr_.Entries().size(), 2u);
  EXPECT_EQ(errorMgr_.Entries()[0]->level, kLevelWarning);
  EXPECT_EQ(errorMgr_.Entries()[0]->function, "CWUA::ApplyFeature");
  EXPECT_EQ(errorMgr_.Entries()[0]->message, "The Windows UpdateAgent (WUA) could not be paused. Error: -2145124351");
  EXPECT_EQ(errorMgr_.Entries()[1]->message,
            "The Windows UpdateAgent (WUA) could not be resumed. (It will resume automatically later) Error: "
            "-2145124351");
  EXPECT_FALSE(Paused());
  EXPECT_FALSE(errorMgr_.IsError());
}

}  // namespace
