#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "securityfiles/SecurityFileFormat.h"

namespace {

using secfile::OsCondition;
using secfile::OsVersion;
using secfile::ParseOsCondition;

constexpr OsVersion kVista{6, 0, 0};
constexpr OsVersion kWin7{6, 1, 0};
constexpr OsVersion kWin7Sp1{6, 1, 1};
constexpr OsVersion kWin7Sp2{6, 1, 2};
constexpr OsVersion kWin8{6, 2, 0};
constexpr OsVersion kWin81{6, 3, 0};

bool Holds(std::string_view osversion, const OsVersion& running) {
  return secfile::OsConditionHolds(ParseOsCondition(osversion), running);
}

// --- osversion -------------------------------------------------------------

TEST(SecurityFileFormatOsVersion, HigherOrEqualWin7AppliesFromWin7On) {
  const OsCondition c = ParseOsCondition("+=win7");
  EXPECT_EQ(c.relation, secfile::kOsHigherOrEqual);
  EXPECT_EQ(c.required, (OsVersion{6, 1, 0}));
  EXPECT_EQ(c.issue, OsCondition::Issue::kNone);
  EXPECT_TRUE(secfile::OsConditionHolds(c, kWin81));
  EXPECT_TRUE(secfile::OsConditionHolds(c, kWin7));
  EXPECT_FALSE(secfile::OsConditionHolds(c, kVista));
}

TEST(SecurityFileFormatOsVersion, LowerThanWin7AppliesOnlyBeforeIt) {
  const OsCondition c = ParseOsCondition("-win7");
  EXPECT_EQ(c.relation, secfile::kOsLower);
  EXPECT_EQ(c.required, (OsVersion{6, 1, 0}));
  EXPECT_FALSE(secfile::OsConditionHolds(c, kWin81));
  EXPECT_FALSE(secfile::OsConditionHolds(c, kWin7));
  EXPECT_TRUE(secfile::OsConditionHolds(c, kVista));
}

TEST(SecurityFileFormatOsVersion, EqualWithServicePackAcceptsLaterServicePacksOnly) {
  const OsCondition c = ParseOsCondition("=win7sp1");
  EXPECT_EQ(c.relation, secfile::kOsEqual);
  EXPECT_EQ(c.required, (OsVersion{6, 1, 1}));
  EXPECT_TRUE(secfile::OsConditionHolds(c, kWin7Sp1));
  EXPECT_TRUE(secfile::OsConditionHolds(c, kWin7Sp2));
  EXPECT_FALSE(secfile::OsConditionHolds(c, kWin7));
  EXPECT_FALSE(secfile::OsConditionHolds(c, OsVersion{6, 2, 1}));
}

TEST(SecurityFileFormatOsVersion, LongerVersionNamesWinOverTheirPrefixes) {
  // Without operator a name means "equal"; win2008 and win8 are prefixes of
  // the longer names and must not be taken for them.
  const OsCondition r2 = ParseOsCondition("win2008r2");
  EXPECT_EQ(r2.relation, secfile::kOsEqual);
  EXPECT_EQ(r2.required, (OsVersion{6, 1, 0}));
  EXPECT_EQ(ParseOsCondition("=win2008").required, (OsVersion{6, 0, 0}));
  EXPECT_EQ(ParseOsCondition("=win81").required, (OsVersion{6, 3, 0}));
  EXPECT_EQ(ParseOsCondition("=win8").required, (OsVersion{6, 2, 0}));
  EXPECT_EQ(ParseOsCondition("=win2012r2").required, (OsVersion{6, 3, 0}));
  EXPECT_EQ(ParseOsCondition("=win2012").required, (OsVersion{6, 2, 0}));
  EXPECT_EQ(ParseOsCondition("=win2000").required, (OsVersion{5, 0, 0}));
  EXPECT_EQ(ParseOsCondition("=win2003").required, (OsVersion{5, 2, 0}));
  EXPECT_EQ(ParseOsCondition("=winvista").required, (OsVersion{6, 0, 0}));
}

TEST(SecurityFileFormatOsVersion, VersionNamesIgnoreLetterCase) {
  const OsCondition c = ParseOsCondition("WIN7");
  EXPECT_EQ(c.relation, secfile::kOsEqual);
  EXPECT_EQ(c.required, (OsVersion{6, 1, 0}));
  EXPECT_EQ(ParseOsCondition("+=WinXP SP2").required, (OsVersion{5, 1, 2}));
}

TEST(SecurityFileFormatOsVersion, NumberWithoutOperatorIsAnUnknownRelationAndNoCondition) {
  const secfile::OsRelationSplit split = secfile::SplitOsRelation("6.1");
  EXPECT_FALSE(split.recognised);
  EXPECT_EQ(split.relation, secfile::kOsRelationNone);

  const OsCondition c = ParseOsCondition("6.1");
  EXPECT_EQ(c.issue, OsCondition::Issue::kUnknownRelation);
  EXPECT_EQ(c.relation, secfile::kOsRelationNone);
  EXPECT_FALSE(c.HasCondition());
  // The feature then applies everywhere.
  EXPECT_TRUE(secfile::OsConditionHolds(c, kVista));
  EXPECT_TRUE(secfile::OsConditionHolds(c, kWin81));
  EXPECT_EQ(ParseOsCondition(">=6.1").issue, OsCondition::Issue::kUnknownRelation);
}

TEST(SecurityFileFormatOsVersion, PointWithoutMinorDigitGivesMinorZero) {
  const OsCondition c = ParseOsCondition("=6.");
  EXPECT_EQ(c.relation, secfile::kOsEqual);
  EXPECT_EQ(c.required, (OsVersion{6, 0, 0}));
  EXPECT_TRUE(secfile::OsConditionHolds(c, kVista));
  EXPECT_FALSE(secfile::OsConditionHolds(c, kWin7));
}

TEST(SecurityFileFormatOsVersion, NumericFormsTakeOneMinorDigitAndTheServicePackAnywhere) {
  EXPECT_EQ(ParseOsCondition("-6.1").required, (OsVersion{6, 1, 0}));
  EXPECT_EQ(ParseOsCondition("+=10.0").required, (OsVersion{10, 0, 0}));
  EXPECT_EQ(ParseOsCondition("=6.15").required, (OsVersion{6, 1, 0}));  // one digit only
  EXPECT_EQ(ParseOsCondition("=6.x").required, (OsVersion{6, 0, 0}));
  EXPECT_EQ(ParseOsCondition("+=6.1 sp1").required, (OsVersion{6, 1, 1}));
  EXPECT_EQ(ParseOsCondition("=winxpsp2").required, (OsVersion{5, 1, 2}));
  EXPECT_EQ(ParseOsCondition("=win7sp").required, (OsVersion{6, 1, 0}));  // "sp" at the end
}

TEST(SecurityFileFormatOsVersion, OperatorsStripEveryLeadingOperatorCharacter) {
  const OsCondition doubled = ParseOsCondition("==win7");
  EXPECT_EQ(doubled.relation, secfile::kOsEqual);
  EXPECT_EQ(doubled.required, (OsVersion{6, 1, 0}));
  const OsCondition mixed = ParseOsCondition("+=+=6.1");
  EXPECT_EQ(mixed.relation, secfile::kOsHigherOrEqual);
  EXPECT_EQ(mixed.required, (OsVersion{6, 1, 0}));
  const OsCondition lowerOrEqual = ParseOsCondition("-=win2003");
  EXPECT_EQ(lowerOrEqual.relation, secfile::kOsLowerOrEqual);
  EXPECT_TRUE(secfile::OsConditionHolds(lowerOrEqual, OsVersion{5, 2, 0}));
  EXPECT_TRUE(secfile::OsConditionHolds(lowerOrEqual, OsVersion{5, 1, 3}));
  EXPECT_FALSE(secfile::OsConditionHolds(lowerOrEqual, OsVersion{5, 2, 2}));  // a later service pack is higher
  EXPECT_FALSE(secfile::OsConditionHolds(lowerOrEqual, kVista));
  EXPECT_EQ(secfile::SplitOsRelation("+6.1").relation, secfile::kOsHigher);
  // "=" is tested first: what follows it is the version text, not a second operator.
  const secfile::OsRelationSplit split = secfile::SplitOsRelation("=+win7");
  EXPECT_EQ(split.relation, secfile::kOsEqual);
  EXPECT_EQ(split.rest, "+win7");
}

TEST(SecurityFileFormatOsVersion, TextWithoutVersionIsAWarningAndNoCondition) {
  for (const char* text : {"=win10", "=.1", "+=", "=windows"}) {
    const OsCondition c = ParseOsCondition(text);
    EXPECT_EQ(c.issue, OsCondition::Issue::kNoVersion) << text;
    EXPECT_FALSE(c.HasCondition()) << text;
    EXPECT_TRUE(secfile::OsConditionHolds(c, kVista)) << text;
  }
  EXPECT_FALSE(secfile::ExtractOsVersion(".1").found);
  EXPECT_TRUE(secfile::ExtractOsVersion("5.").found);
}

TEST(SecurityFileFormatOsVersion, AbsentAttributeIsNoConditionAndNoIssue) {
  for (const char* text : {secfile::kOsVersionNotSet, ""}) {
    const OsCondition c = ParseOsCondition(text);
    EXPECT_EQ(c.issue, OsCondition::Issue::kNone);
    EXPECT_EQ(c.relation, secfile::kOsRelationNone);
    EXPECT_FALSE(c.HasCondition());
  }
}

TEST(SecurityFileFormatOsVersion, HigherAndLowerCompareTheServicePackToo) {
  // "Higher than Windows 7" already holds on Windows 7 with a service pack.
  EXPECT_TRUE(Holds("+win7", kWin7Sp1));
  EXPECT_FALSE(Holds("+win7", kWin7));
  EXPECT_TRUE(Holds("-win7sp1", kWin7));
  EXPECT_FALSE(Holds("-=win7sp1", kWin7Sp2));
  EXPECT_TRUE(Holds("-=win7sp1", kWin7Sp1));
  EXPECT_TRUE(Holds("+win7", kWin8));
}

TEST(SecurityFileFormatOsVersion, AVersionWithoutRecognisedRelationNeverHolds) {
  // Only reachable by a caller that keeps a version after an unknown
  // operator; such a condition must exclude the feature, not include it.
  OsCondition c;
  c.required = kWin7;
  EXPECT_FALSE(secfile::OsConditionHolds(c, kWin7));
}

// --- common attributes -----------------------------------------------------

TEST(SecurityFileFormatCommonAttributes, RebootSpellings) {
  EXPECT_EQ(secfile::RebootRequirementFromText("AfterInstallation"), secfile::kRebootAfterInstallation);
  EXPECT_EQ(secfile::RebootRequirementFromText("BEFOREINSTALLATION"), secfile::kRebootBeforeInstallation);
  EXPECT_EQ(secfile::RebootRequirementFromText("no"), secfile::kRebootNone);
  EXPECT_EQ(secfile::RebootRequirementFromText("False"), secfile::kRebootNone);
  EXPECT_EQ(secfile::RebootRequirementFromText(""), secfile::kRebootNone);  // absent
  // "yes" does not say when: not understood, which is not the same as absent.
  EXPECT_EQ(secfile::RebootRequirementFromText("yes"), secfile::kRebootUnset);
  EXPECT_EQ(secfile::RebootRequirementFromText("no "), secfile::kRebootUnset);
}

TEST(SecurityFileFormatCommonAttributes, CriticalIsTrueOnlyForTrueOrYes) {
  EXPECT_TRUE(secfile::CriticalFromText("YES"));
  EXPECT_TRUE(secfile::CriticalFromText("True"));
  EXPECT_FALSE(secfile::CriticalFromText("1"));
  EXPECT_FALSE(secfile::CriticalFromText("no"));
  EXPECT_FALSE(secfile::CriticalFromText(""));
}

TEST(SecurityFileFormatCommonAttributes, AdaptionMomentAndTheRejectedWhileInstallation) {
  EXPECT_EQ(secfile::AdaptionMomentFromText(""), secfile::kMomentAfterInstallation);
  EXPECT_EQ(secfile::AdaptionMomentFromText("BeforeInstallation"), secfile::kMomentBeforeInstallation);
  EXPECT_EQ(secfile::AdaptionMomentFromText("AFTERINSTALLATION"), secfile::kMomentAfterInstallation);
  EXPECT_EQ(secfile::AdaptionMomentFromText("whileInstallation"), secfile::kMomentUnset);
  EXPECT_TRUE(secfile::IsRejectedAdaptionMoment("whileInstallation"));
  EXPECT_EQ(secfile::AdaptionMomentFromText("later"), secfile::kMomentUnset);
  EXPECT_FALSE(secfile::IsRejectedAdaptionMoment("later"));
  EXPECT_FALSE(secfile::IsRejectedAdaptionMoment(""));
}

TEST(SecurityFileFormatCommonAttributes, Os64BitAndOsWow) {
  EXPECT_EQ(secfile::Os64BitRequirementFromText("no"), secfile::kOs64BitOnly32);
  EXPECT_EQ(secfile::Os64BitRequirementFromText("Yes"), secfile::kOs64BitOnly64);
  EXPECT_EQ(secfile::Os64BitRequirementFromText("maybe"), secfile::kOs64BitAny);
  EXPECT_EQ(secfile::Os64BitRequirementFromText(""), secfile::kOs64BitAny);
  EXPECT_TRUE(secfile::OsWowRequested("yes"));
  EXPECT_FALSE(secfile::OsWowRequested("Y"));
  EXPECT_FALSE(secfile::OsWowRequested(""));
}

// --- feature kinds -----------------------------------------------------------

TEST(SecurityFileFormatKinds, DiscoveryOrderAndKindNames) {
  std::vector<std::string> names;
  for (const auto& info : secfile::kFeatureKinds) names.push_back(info.kindName);
  EXPECT_EQ(names, (std::vector<std::string>{"GroupUser", "FilePermission", "RegistryPermission", "DCOM", "Firewall",
                                             "WUA"}));
}

TEST(SecurityFileFormatKinds, EachQueryEndsAtItsFeatureElementBelowTheBody) {
  for (const auto& info : secfile::kFeatureKinds) {
    const std::string query = info.query;
    EXPECT_TRUE(query.starts_with(std::string(secfile::kBodyPath) + "/")) << query;
    EXPECT_TRUE(query.ends_with(std::string("/t:") + info.localName)) << query;
    EXPECT_EQ(&secfile::KindInfo(info.kind), &info);
  }
}

TEST(SecurityFileFormatKinds, LocalNamesMapToKindNamesExactly) {
  EXPECT_EQ(secfile::KindNameFromLocalName("fileSystemPath"), "FilePermission");
  EXPECT_EQ(secfile::KindNameFromLocalName("path"), "RegistryPermission");
  EXPECT_EQ(secfile::KindNameFromLocalName("componentService"), "DCOM");
  EXPECT_EQ(secfile::KindNameFromLocalName("lan"), "Firewall");
  // Case-sensitive; containers and kind names are not feature elements.
  EXPECT_EQ(secfile::KindNameFromLocalName("Path"), "");
  EXPECT_EQ(secfile::KindNameFromLocalName("fileSystemPermissions"), "");
  EXPECT_EQ(secfile::KindNameFromLocalName("GroupUser"), "");
  EXPECT_EQ(secfile::FindKindByLocalName("network"), nullptr);
}

// --- product name ------------------------------------------------------------

TEST(SecurityFileFormatProductName, FirstNonEmptyAnswerInQueryOrder) {
  std::map<std::string, std::string> answers = {
      {"../../t:products/t:product/@value", "Deeper"},
      {"@name", "FromHistory"},
  };
  std::vector<std::string> asked;
  const auto valueOf = [&](const char* query) {
    asked.push_back(query);
    auto it = answers.find(query);
    return it == answers.end() ? std::string() : it->second;
  };
  EXPECT_EQ(secfile::FindProductName(valueOf), "Deeper");
  EXPECT_EQ(asked, (std::vector<std::string>{"../t:products/t:product/@value", "../../t:products/t:product/@value"}));

  answers.clear();
  EXPECT_EQ(secfile::FindProductName(valueOf), "");
}

}  // namespace
