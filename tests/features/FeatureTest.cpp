// The feature base: OS conditions on several Windows versions, the os64bit,
// critical, reboot, adaption-moment and oswow spellings, product and kind
// names, the common attributes and permission pairs written back, requesting
// programs, history lookups and the process-wide OS queries.
#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "cli/Results.h"
#include "features/Feature.h"
#include "features/FeatureFixture.h"
#include "infra/BuildInfo.h"
#include "infra/ErrorMgr.h"
#include "infra/IniFile.h"
#include "securityfiles/XmlServices.h"
#include "support/TestHost.h"

namespace {

using feature_test::CommonFeature;
using feature_test::EntryOf;
using feature_test::FirstNode;
using feature_test::SecurityFile;

constexpr const char* kWuaPath = "/t:vscSetup/t:host/t:body/t:wua";

struct Reading {
  bool kept = false;
  int relation = -1;
  uint32_t major = 0, minor = 0, servicePack = 0;
};

// Reads a t:wua element with `attributes` as a feature on a fresh host of `profile`.
Reading ReadOn(std::string_view profile, std::string_view attributes, CErrorMgr& errorMgr) {
  TestHost host{profile};
  const xml::Document document = SecurityFile("<t:wua " + std::string(attributes) + "/>");
  CommonFeature feature;
  Reading r;
  r.kept = feature.GetFeatureFromXml(errorMgr, FirstNode(document, kWuaPath), "S1");
  r.relation = feature.GetOsRelation();
  r.major = feature.GetRequiredOsVersion().majorVersion;
  r.minor = feature.GetRequiredOsVersion().minorVersion;
  r.servicePack = feature.GetRequiredOsVersion().servicePackMajor;
  return r;
}

bool KeptOn(std::string_view profile, std::string_view attributes) {
  CErrorMgr errorMgr;
  return ReadOn(profile, attributes, errorMgr).kept;
}

plat::OsVersionInfoEx Running(uint32_t major, uint32_t minor, uint16_t servicePack) {
  plat::OsVersionInfoEx info;
  info.majorVersion = major;
  info.minorVersion = minor;
  info.servicePackMajor = servicePack;
  return info;
}

// ---- OS conditions -------------------------------------------------------------

TEST(FeatureOsCondition, RelationsAgainstTheRunningVersion) {
  EXPECT_TRUE(KeptOn("win81-x64", "osversion='+=win7'"));
  EXPECT_FALSE(KeptOn("win81-x64", "osversion='-win7'"));
  EXPECT_TRUE(KeptOn("winxp-sp3-x86", "osversion='-win7'"));
  EXPECT_TRUE(KeptOn("win7-sp1-x64", "osversion='=win7sp1'"));
  EXPECT_FALSE(KeptOn("win7-sp1-x64", "osversion='=win7sp2'"));
  EXPECT_TRUE(KeptOn("win7-sp1-x64", "osversion='-=win7sp1'"));
  EXPECT_FALSE(KeptOn("win7-sp1-x64", "osversion='+win7sp1'"));
  EXPECT_TRUE(KeptOn("win81-x64", "osversion='+win7sp1'"));
  EXPECT_TRUE(KeptOn("win7-sp1-x64", "osversion='WIN7'"));  // a name alone means equal
}

TEST(FeatureOsCondition, EqualAsksForAtLeastTheServicePack) {
  TestHost host;
  const xml::Document document = SecurityFile("<t:wua osversion='=win7sp1'/>");
  CommonFeature feature;
  CErrorMgr errorMgr;
  ASSERT_TRUE(feature.GetFeatureFromXml(errorMgr, FirstNode(document, kWuaPath), "S1"));
  EXPECT_FALSE(feature.IsOSVersionMatching(Running(6, 1, 0)));
  EXPECT_TRUE(feature.IsOSVersionMatching(Running(6, 1, 1)));
  EXPECT_TRUE(feature.IsOSVersionMatching(Running(6, 1, 2)));
  EXPECT_FALSE(feature.IsOSVersionMatching(Running(6, 2, 1)));
}

TEST(FeatureOsCondition, LongerVersionNamesWin) {
  CErrorMgr errorMgr;
  const Reading r2008r2 = ReadOn("win2008r2-sp1-x64", "osversion='win2008r2'", errorMgr);
  EXPECT_TRUE(r2008r2.kept);
  EXPECT_EQ(r2008r2.major, 6u);
  EXPECT_EQ(r2008r2.minor, 1u);
  EXPECT_FALSE(KeptOn("vista-sp2-x86", "osversion='win2008r2'"));
  const Reading r81 = ReadOn("win81-x64", "osversion='=win81'", errorMgr);
  EXPECT_TRUE(r81.kept);
  EXPECT_EQ(r81.minor, 3u);
  EXPECT_EQ(errorMgr.GetHighestLevel(), -1);
}

TEST(FeatureOsCondition, NumericVersions) {
  CErrorMgr errorMgr;
  const Reading noMinor = ReadOn("vista-sp2-x86", "osversion='=6.'", errorMgr);
  EXPECT_TRUE(noMinor.kept);
  EXPECT_EQ(noMinor.major, 6u);
  EXPECT_EQ(noMinor.minor, 0u);
  EXPECT_FALSE(KeptOn("win7-sp1-x64", "osversion='=6.'"));
  EXPECT_TRUE(KeptOn("winxp-sp3-x86", "osversion='-6.1'"));
  EXPECT_FALSE(KeptOn("win7-sp1-x64", "osversion='-6.1'"));
  EXPECT_TRUE(KeptOn("win2003-sp2-x64", "osversion='=5.2sp2'"));
}

TEST(FeatureOsCondition, AVersionWithoutOperatorIsAnErrorAndNoCondition) {
  CErrorMgr errorMgr;
  const Reading r = ReadOn("winxp-sp3-x86", "osversion='6.1'", errorMgr);
  EXPECT_TRUE(r.kept);  // no condition is applied
  EXPECT_EQ(r.relation, -1);
  EXPECT_EQ(r.major, 0u);
  const CErrorObject* entry = EntryOf(errorMgr, "CFeature::SetCondition()");
  ASSERT_NE(entry, nullptr);
  EXPECT_EQ(entry->level, kLevelError);
  EXPECT_EQ(entry->message,
            "An unknown OS condition '6.1' was found. Estimated was an relational operator like >, <, >=, <= or =");
}

TEST(FeatureOsCondition, NoVersionAfterTheOperatorIsAWarning) {
  CErrorMgr errorMgr;
  const Reading r = ReadOn("win7-sp1-x64", "osversion='=linux'", errorMgr);
  EXPECT_TRUE(r.kept);
  const CErrorObject* entry = EntryOf(errorMgr, "CFeature::ExtractOSVersion()");
  ASSERT_NE(entry, nullptr);
  EXPECT_EQ(entry->level, kLevelWarning);
  EXPECT_EQ(entry->message, "There was no valid OS version found in osversion attribute 'linux'");
}

TEST(FeatureOsCondition, AbsentOrEmptyOsVersionIsNoCondition) {
  CErrorMgr errorMgr;
  EXPECT_TRUE(ReadOn("winxp-sp3-x86", "", errorMgr).kept);
  EXPECT_TRUE(ReadOn("win81-x64", "osversion=''", errorMgr).kept);
  EXPECT_EQ(errorMgr.GetHighestLevel(), -1);
}

// An error recorded earlier in the run (another feature's) must not strip
// this feature of its condition: it would then be applied on any Windows.
TEST(FeatureOsCondition, AnEarlierErrorKeepsTheCondition) {
  CErrorMgr errorMgr;
  errorMgr.AddMessage(kLevelError, "Earlier::Step", "an earlier failure");
  const Reading r = ReadOn("win81-x64", "osversion='-win7'", errorMgr);
  EXPECT_FALSE(r.kept);
  EXPECT_EQ(r.major, 6u);
  const CErrorObject* note = EntryOf(errorMgr, "CFeature::InitFeatureFromNode");
  ASSERT_NE(note, nullptr);
  EXPECT_EQ(note->level, kLevelInfo);
  EXPECT_EQ(note->message, "    Feature  WUA  not allowed for this OSVersion");
}

// ---- os64bit -------------------------------------------------------------------

TEST(FeatureOs64Bit, On64BitWindows) {
  CErrorMgr errorMgr;
  EXPECT_FALSE(ReadOn("win7-sp1-x64", "os64bit='no'", errorMgr).kept);
  const CErrorObject* note = EntryOf(errorMgr, "CFeature::InitFeatureFromNode");
  ASSERT_NE(note, nullptr);
  EXPECT_EQ(note->message, "    Feature  WUA  not allowed for 64bit OS");
  EXPECT_EQ(note->level, kLevelInfo);
  EXPECT_FALSE(errorMgr.IsError());  // not applying is no error
  EXPECT_TRUE(KeptOn("win7-sp1-x64", "os64bit='Yes'"));
  EXPECT_TRUE(KeptOn("win7-sp1-x64", "os64bit='maybe'"));
}

TEST(FeatureOs64Bit, On32BitWindows) {
  // A 64-bit program only ever runs on 64-bit Windows; the 32-bit build is
  // the one that meets a 32-bit profile.
  if (kBuildIs64Bit) GTEST_SKIP() << "needs the 32-bit build";
  CErrorMgr errorMgr;
  TestHost host("winxp-sp3-x86", "en-US", true);
  const xml::Document document = SecurityFile("<t:wua os64bit='YES'/><t:wua os64bit='NO'/>");
  CommonFeature only64, only32;
  const xml::NodeList nodes = document.SelectNodes(kWuaPath);
  EXPECT_FALSE(only64.GetFeatureFromXml(errorMgr, nodes.Item(0), "S1"));
  ASSERT_NE(EntryOf(errorMgr, "CFeature::InitFeatureFromNode"), nullptr);
  EXPECT_EQ(EntryOf(errorMgr, "CFeature::InitFeatureFromNode")->message, "    Feature  WUA  not allowed for 32bit OS");
  EXPECT_TRUE(only32.GetFeatureFromXml(errorMgr, nodes.Item(1), "S1"));
  EXPECT_TRUE(only32.IsPlatformMatching());
}

TEST(FeatureOs64Bit, PlatformMatchingFollowsTheBuild) {
  TestHost host;
  const xml::Document document = SecurityFile("<t:wua os64bit='yes'/><t:wua/>");
  const xml::NodeList nodes = document.SelectNodes(kWuaPath);
  CErrorMgr errorMgr;
  CommonFeature only64, any;
  ASSERT_TRUE(only64.GetFeatureFromXml(errorMgr, nodes.Item(0), "S1"));
  ASSERT_TRUE(any.GetFeatureFromXml(errorMgr, nodes.Item(1), "S1"));
  EXPECT_EQ(only64.GetOs64BitRequirement(), 2);
  EXPECT_EQ(only64.IsPlatformMatching(), kBuildIs64Bit);
  EXPECT_EQ(any.GetOs64BitRequirement(), -1);
  EXPECT_TRUE(any.IsPlatformMatching());
}

// ---- Common attributes ------------------------------------------------------------

class FeatureAttributes : public ::testing::Test {
 protected:
  // Reads one t:wua with `attributes` on the default 64-bit host.
  CommonFeature& Read(std::string_view attributes) {
    document_ = SecurityFile("<t:wua " + std::string(attributes) + "/>");
    feature_.Reset();
    EXPECT_TRUE(feature_.GetFeatureFromXml(errorMgr_, FirstNode(document_, kWuaPath), "S1"));
    return feature_;
  }
  TestHost host_;
  CErrorMgr errorMgr_;
  xml::Document document_;
  CommonFeature feature_;
};

TEST_F(FeatureAttributes, CriticalSpellings) {
  EXPECT_TRUE(Read("critical='YES'").IsCritical());
  EXPECT_TRUE(Read("critical='True'").IsCritical());
  EXPECT_FALSE(Read("critical='1'").IsCritical());
  EXPECT_FALSE(Read("").IsCritical());
}

TEST_F(FeatureAttributes, RebootSpellings) {
  EXPECT_EQ(Read("reboot='AfterInstallation'").GetRebootRequirement(), 2);
  EXPECT_EQ(Read("reboot='BEFOREINSTALLATION'").GetRebootRequirement(), 4);
  EXPECT_EQ(Read("reboot='False'").GetRebootRequirement(), 1);
  EXPECT_EQ(Read("").GetRebootRequirement(), 1);
  EXPECT_EQ(Read("reboot='yes'").GetRebootRequirement(), -1);
  EXPECT_EQ(errorMgr_.GetHighestLevel(), -1);  // invalid texts are silent
}

TEST_F(FeatureAttributes, AdaptionMomentSpellings) {
  EXPECT_EQ(Read("adaptionmoment='BeforeInstallation'").GetAdaptionMoment(), 1);
  EXPECT_EQ(Read("").GetAdaptionMoment(), 2);
  EXPECT_EQ(Read("adaptionmoment='later'").GetAdaptionMoment(), -1);
  EXPECT_EQ(errorMgr_.GetHighestLevel(), -1);
  EXPECT_EQ(Read("adaptionmoment='whileInstallation'").GetAdaptionMoment(), -1);
  const CErrorObject* entry = EntryOf(errorMgr_, "CFeature::GetAdaptionMomentString");
  ASSERT_NE(entry, nullptr);
  EXPECT_EQ(entry->level, kLevelCritical);
  EXPECT_EQ(entry->message,
            "Internal error: The Parameter you have used for adaptionmoment in the TarvoXML is invalid. Possible "
            "Values are 'BeforeInstallation' and 'AfterInstallation'");
}

TEST_F(FeatureAttributes, OsWowOnlyOn64BitWindows) {
  EXPECT_TRUE(Read("oswow='yes'").IsOsWow());
  EXPECT_FALSE(Read("oswow='no'").IsOsWow());
  EXPECT_FALSE(Read("").IsOsWow());
}

TEST_F(FeatureAttributes, ResetRestoresTheInitialValues) {
  CommonFeature& f = Read("critical='yes' reboot='afterinstallation' osversion='+=win7' os64bit='yes'");
  f.Reset();
  EXPECT_FALSE(f.IsCritical());
  EXPECT_EQ(f.GetRebootRequirement(), -1);
  EXPECT_EQ(f.GetAdaptionMoment(), -1);
  EXPECT_EQ(f.GetOsRelation(), -1);
  EXPECT_EQ(f.GetOs64BitRequirement(), -1);
  EXPECT_EQ(f.GetRequiredOsVersion().majorVersion, 0u);
  EXPECT_EQ(f.GetRequiredOsVersion().osVersionInfoSize, 284u);
  EXPECT_EQ(f.GetSessionId(), "");
  EXPECT_EQ(f.GetProductName(), "");
  EXPECT_EQ(f.GetKindName(), "");
}

TEST(FeatureNames, ProductAndKindFromTheElement) {
  TestHost host;
  const xml::Document document = SecurityFile(
      "<t:wua/><t:fileSystemPermissions><t:fileSystemPath/></t:fileSystemPermissions>"
      "<t:registry><t:path/></t:registry><t:groupuser/>",
      "Line\\Control");
  CErrorMgr errorMgr;
  const std::pair<const char*, const char*> cases[] = {
      {"/t:vscSetup/t:host/t:body/t:wua", "WUA"},
      {"/t:vscSetup/t:host/t:body/t:fileSystemPermissions/t:fileSystemPath", "FilePermission"},
      {"/t:vscSetup/t:host/t:body/t:registry/t:path", "RegistryPermission"},
      {"/t:vscSetup/t:host/t:body/t:groupuser", "GroupUser"},
  };
  for (const auto& [path, kind] : cases) {
    CommonFeature feature;
    ASSERT_TRUE(feature.GetFeatureFromXml(errorMgr, FirstNode(document, path), "S7")) << path;
    EXPECT_EQ(feature.GetKindName(), kind);
    EXPECT_EQ(feature.GetProductName(), "Line\\Control") << path;
    EXPECT_EQ(feature.GetSessionId(), "S7");
  }
}

TEST(FeatureNames, ProductFromAnEnclosingProductElement) {
  TestHost host;
  xml::Document document = xml::Document::Create();
  ASSERT_TRUE(document.LoadXml("<t:TarvoHistory xmlns:t='urn:history'><t:Setup SessionId='S'><t:Product name='Historian' "
                               "moment='TargetValue'><t:wua value='pause'/></t:Product></t:Setup></t:TarvoHistory>"));
  CErrorMgr errorMgr;
  CommonFeature feature;
  ASSERT_TRUE(feature.GetFeatureFromXml(errorMgr, FirstNode(document, "//t:wua"), "S"));
  EXPECT_EQ(feature.GetProductName(), "Historian");
}

// ---- LoadFeature ---------------------------------------------------------------------

TEST(FeatureLoad, PassesRebootAndCriticalToTheResults) {
  TestHost host;
  CIniFile opFile;
  opFile.SetValue("GENERAL", "SessionID", "{42}");
  opFile.SetValue(kResultsSection, "RebootRequirement", "0");
  opFile.SetValue(kResultsSection, "ContainCriticalFeatures", "0");
  const xml::Document document = SecurityFile(
      "<t:wua reboot='afterinstallation' critical='yes'/>"
      "<t:wua reboot='beforeinstallation' critical='yes' osversion='-winxp'/>");
  const xml::NodeList nodes = document.SelectNodes(kWuaPath);
  CErrorMgr errorMgr;
  CommonFeature kept, dropped;
  EXPECT_TRUE(kept.LoadFeature(errorMgr, opFile, nodes.Item(0)));
  EXPECT_EQ(kept.GetSessionId(), "{42}");
  EXPECT_EQ(opFile.GetValue(kResultsSection, "RebootRequirement"), "1");
  EXPECT_EQ(opFile.GetValue(kResultsSection, "ContainCriticalFeatures"), "1");
  // A feature that does not apply here leaves the results alone.
  EXPECT_FALSE(dropped.LoadFeature(errorMgr, opFile, nodes.Item(1)));
  EXPECT_EQ(opFile.GetValue(kResultsSection, "RebootRequirement"), "1");
}

// ---- Writing -----------------------------------------------------------------------

xml::Document FeatureDocument() {
  xml::Document document = xml::Document::Create();
  EXPECT_TRUE(document.LoadXml("<t:Tarvo xmlns:t='urn:feature-document'><t:item/></t:Tarvo>"));
  return document;
}

TEST(FeatureWriting, CommonAttributesInOrder) {
  TestHost host;
  const xml::Document source = SecurityFile("<t:wua adaptionmoment='beforeinstallation' reboot='BeforeInstallation' "
                                            "critical='yes'/><t:wua reboot='maybe' adaptionmoment='never'/>");
  const xml::NodeList nodes = source.SelectNodes(kWuaPath);
  CErrorMgr errorMgr;
  CommonFeature first, second;
  ASSERT_TRUE(first.GetFeatureFromXml(errorMgr, nodes.Item(0), "S"));
  ASSERT_TRUE(second.GetFeatureFromXml(errorMgr, nodes.Item(1), "S"));
  const xml::Document document = FeatureDocument();
  const xml::Node item = FirstNode(document, "t:Tarvo/t:item");
  first.SetCommonAttributesToXml(item);
  EXPECT_EQ(item.Xml(), std::string("<t:item adaptionmoment=\"BeforeInstallation\" reboot=\"BeforeInstallation\" "
                                    "critical=\"true\" platform=\"") +
                            kBuildPlatform + "\"/>");
  second.SetCommonAttributesToXml(item);
  EXPECT_EQ(item.GetAttribute("adaptionmoment"), "");
  EXPECT_EQ(item.GetAttribute("reboot"), "");
  EXPECT_EQ(item.GetAttribute("critical"), "false");
}

TEST(FeatureWriting, RequestingProgramsAreListedOnce) {
  const xml::Document document = FeatureDocument();
  const xml::Node item = FirstNode(document, "t:Tarvo/t:item");
  CFeature::AddRequestingProgram(item, "Plant\\Viewer's");
  CFeature::AddRequestingProgram(item, "Plant\\Viewer's");
  CFeature::AddRequestingProgram(item, "Historian");
  const xml::NodeList programs = item.SelectNodes("t:RequestingProgram/t:Program");
  ASSERT_EQ(programs.Length(), 2u);
  EXPECT_EQ(programs.Item(0).GetAttribute("name"), "Plant\\Viewer's");
  EXPECT_EQ(programs.Item(1).GetAttribute("name"), "Historian");
  EXPECT_EQ(item.SelectNodes("t:RequestingProgram").Length(), 1u);
  CFeature::AddRequestingProgram(xml::Node{}, "ignored");  // a null element is no crash
}

TEST(FeatureWriting, ProgramPermissionCodes) {
  xml::Document document = xml::Document::Create();
  ASSERT_TRUE(document.LoadXml("<r><p/><p allow='TRUE'/><p allow='true' deny='false'/><p deny='False'/>"
                               "<p allow='yes'/><p allow='false' deny=''/></r>"));
  const xml::NodeList p = document.SelectNodes("r/p");
  const int32_t expected[] = {1, 3, 2, 0, -1, 1};  // an empty deny reads as its default
  for (size_t i = 0; i < p.Length(); ++i) {
    bool found = false;
    EXPECT_EQ(CFeature::GetProgramPermission(p.Item(i), &found), expected[i]) << i;
    EXPECT_EQ(found, expected[i] != -1) << i;
  }
  bool found = false;
  EXPECT_EQ(CFeature::GetProgramPermission(xml::Node{}, &found), -1);
  EXPECT_FALSE(found);
}

TEST(FeatureWriting, ProgramPermissionsRoundTrip) {
  const xml::Document document = FeatureDocument();
  const xml::Node item = FirstNode(document, "t:Tarvo/t:item");
  for (int32_t code = 0; code <= 3; ++code) {
    const std::string name = "t:right" + std::to_string(code);
    const xml::Node written = CFeature::SetProgramPermissionToXml(item, name, code, code == 2 ? "Allowed" : "");
    ASSERT_FALSE(written.IsNull());
    bool found = false;
    EXPECT_EQ(CFeature::GetProgramPermission(written, &found), code);
    EXPECT_EQ(HasXmlAttribute(written, "message"), code == 2);
  }
  EXPECT_EQ(FirstNode(document, "t:Tarvo/t:item/t:right2").Xml(),
            "<t:right2 allow=\"true\" deny=\"false\" message=\"Allowed\"/>");
  EXPECT_TRUE(CFeature::SetProgramPermissionToXml(item, "t:none", -1, "text").IsNull());
  EXPECT_TRUE(item.SelectSingleNode("t:none").IsNull());
}

// ---- History ---------------------------------------------------------------------

class FeatureHistory : public ::testing::Test {
 protected:
  void SetUp() override {
    history_ = xml::Document::Create();
    ASSERT_TRUE(history_.LoadXml(
        "<t:TarvoHistory xmlns:t=\"urn:history\"><t:Setup SessionId=\"{it's}\">"
        "<t:Product name=\"Line\\Control\" moment=\"TargetValue\"/>"
        "<t:Product name=\"Line\\Control\" moment=\"BeforeChangeValue\"><t:wua/></t:Product>"
        "</t:Setup></t:TarvoHistory>"));
    source_ = SecurityFile("<t:wua/>", "Line\\Control");
  }
  // A feature of session `sessionId` read from the security file.
  void ReadAs(std::string_view sessionId) {
    ASSERT_TRUE(feature_.GetFeatureFromXml(errorMgr_, FirstNode(source_, kWuaPath), sessionId));
  }
  TestHost host_;
  CErrorMgr errorMgr_;
  xml::Document history_;
  xml::Document source_;
  CommonFeature feature_;
};

TEST_F(FeatureHistory, FindsTheEntryFromBeforeTheChange) {
  ReadAs("{it's}");
  const xml::Node product = feature_.GetProductNodeFromHistory(errorMgr_, history_);
  ASSERT_FALSE(product.IsNull());
  EXPECT_EQ(product.GetAttribute("moment"), "BeforeChangeValue");
  EXPECT_EQ(errorMgr_.GetHighestLevel(), -1);
  EXPECT_TRUE(feature_.GetProductNodeFromHistory(errorMgr_, xml::Document{}).IsNull());
  EXPECT_EQ(errorMgr_.GetHighestLevel(), -1);
}

TEST_F(FeatureHistory, MissingSessionOrProductIsAnError) {
  ReadAs("{other}");
  EXPECT_TRUE(feature_.GetProductNodeFromHistory(errorMgr_, history_).IsNull());
  ASSERT_EQ(errorMgr_.Entries().size(), 1u);
  EXPECT_EQ(errorMgr_.Entries()[0]->level, kLevelError);
  EXPECT_EQ(errorMgr_.Entries()[0]->function, "CFeature::GetProductNodeFromHistory()");
  EXPECT_EQ(errorMgr_.Entries()[0]->message,
            "There is no session '{other}' in the history file, so it's impossible to get original value of the "
            "features for the named session");

  ASSERT_TRUE(history_.SelectSingleNode("//t:Product[@moment='BeforeChangeValue']").ParentNode().RemoveChild(
      history_.SelectSingleNode("//t:Product[@moment='BeforeChangeValue']")));
  CommonFeature again;
  CErrorMgr errorMgr;
  ASSERT_TRUE(again.GetFeatureFromXml(errorMgr, FirstNode(source_, kWuaPath), "{it's}"));
  EXPECT_TRUE(again.GetProductNodeFromHistory(errorMgr, history_).IsNull());
  ASSERT_EQ(errorMgr.Entries().size(), 1u);
  EXPECT_EQ(errorMgr.Entries()[0]->message,
            "There is no product 'Line\\Control' in the history file, so it's impossible to get original value of "
            "the features for the named product");
}

// ---- Base slots and OS queries -------------------------------------------------------

TEST(FeatureSlots, BaseBehaviour) {
  TestHost host;
  CErrorMgr errorMgr;
  CFeature feature;
  const xml::Document document = FeatureDocument();
  EXPECT_FALSE(feature.ApplyFeature(errorMgr));
  EXPECT_TRUE(feature.SetFeatureToXml(errorMgr, document.DocumentElement(), true).IsNull());
  EXPECT_TRUE(feature.SetFeatureToXml(errorMgr, document));
  EXPECT_FALSE(feature.SetFeatureToSecurityXml(errorMgr, document));
  EXPECT_TRUE(feature.GetFeatureFromXml(errorMgr, document.DocumentElement(), "S"));
  EXPECT_EQ(feature.GetOriginalFeatureFromHistory(errorMgr, false), nullptr);
  EXPECT_FALSE(feature.IsUninstallable(errorMgr, {}));
  EXPECT_EQ(feature.GetCurrentFeature(errorMgr), nullptr);
  EXPECT_EQ(errorMgr.GetHighestLevel(), -1);
}

TEST(FeatureOsQueries, AnswerFromTheVersionRecord) {
  struct Case {
    const char* profile;
    bool vistaOrLater;
    bool from61To63;
  };
  const Case cases[] = {{"winxp-sp3-x86", false, false},
                        {"vista-sp2-x86", true, false},
                        {"win7-sp1-x64", true, true},
                        {"win81-x64", true, true}};
  for (const Case& c : cases) {
    TestHost host{c.profile};
    CFeature::ResetVersionRecord();
    EXPECT_EQ(CFeature::IsVistaOrLater(), c.vistaOrLater) << c.profile;
    EXPECT_EQ(CFeature::IsWindows61To63(), c.from61To63) << c.profile;
  }
  CFeature::ResetVersionRecord();
}

TEST(FeatureOsQueries, TheRecordIsReadOnce) {
  {
    TestHost host{"winxp-sp3-x86"};
    CFeature::ResetVersionRecord();
    EXPECT_FALSE(CFeature::IsVistaOrLater());
  }
  TestHost host{"win81-x64"};
  EXPECT_FALSE(CFeature::IsVistaOrLater());  // still the record read first
  CFeature::ResetVersionRecord();
  EXPECT_TRUE(CFeature::IsVistaOrLater());
  CFeature::ResetVersionRecord();
}

}  // namespace
