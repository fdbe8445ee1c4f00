// Placeholder resolution against real test hosts: the product's directories
// from the OPFile, the known folders of 32- and 64-bit and German machines,
// SharedPath in both registry views, %-tokens, backslash handling and the
// redirection of 32-bit products to the 32-bit folders.
#include "securityfiles/Placeholders.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "infra/BuildInfo.h"
#include "infra/ErrorMgr.h"
#include "infra/IniFile.h"
#include "platform/Registry.h"
#include "platform/xml/Dom.h"
#include "support/TestHost.h"

namespace {

constexpr const char* kLabel = "CXmlAnalyser::RePlaceHolders";

class PlaceholdersTest : public ::testing::Test {
 protected:
  void SetUp() override { UseHost("win7-sp1-x64", "en-US", !kBuildIs64Bit); }
  void TearDown() override { CPlaceholders::ResetCachedValues(); }

  // A fresh host; the values read once per process are forgotten with the old one.
  void UseHost(std::string_view profile, std::string_view language, bool process32Bit) {
    host_.reset();
    host_ = std::make_unique<TestHost>(profile, language, process32Bit);
    CPlaceholders::ResetCachedValues();
  }

  // A 64-bit process only exists in the 64-bit build.
  bool SkipUnless64BitBuild() { return !kBuildIs64Bit; }

  void SetSharedPath(uint32_t view, std::string_view value) {
    plat::IRegistry& registry = host_->Platform().Registry();
    plat::HKey key = plat::kNullKey;
    ASSERT_EQ(registry.CreateKey(plat::kHkeyLocalMachine, "SOFTWARE\\Norvale\\OxLan\\Global",
                                 plat::kKeyAllAccess | view, &key, nullptr),
              0u);
    ASSERT_EQ(registry.SetValue(key, "SharedPath", plat::kRegSz, plat::MakeRegSz(value)), 0u);
    registry.CloseKey(key);
  }

  // A security file whose body holds `body`.
  static xml::Document Document(std::string_view body) {
    xml::Document doc = xml::Document::Create();
    const std::string text = R"(<t:vscSetup xmlns:t="urn:test"><t:host name=""><t:body>)" + std::string(body) +
                             "</t:body></t:host></t:vscSetup>";
    EXPECT_TRUE(doc.LoadXml(text)) << doc.GetParseError().reason;
    return doc;
  }

  // Resolves `body` as file K of Product1.
  xml::Document Resolve(std::string_view body, std::string_view method = "ReturnFeatures", int fileNumber = 1) {
    xml::Document doc = Document(body);
    result_ = CPlaceholders::RePlaceHolders(errors_, doc, opFile_, 1, fileNumber, method);
    return doc;
  }

  static std::string Attr(const xml::Document& doc, std::string_view xpath) {
    const xml::Node node = doc.SelectSingleNode(xpath);
    EXPECT_FALSE(node.IsNull()) << xpath;
    return node.NodeValue();
  }

  std::vector<std::string> Messages(int level, std::string_view label = kLabel) const {
    std::vector<std::string> found;
    for (const auto& entry : errors_.Entries()) {
      if (entry->level == level && entry->function == label) found.push_back(entry->message);
    }
    return found;
  }

  bool HasMessage(int level, std::string_view message) const {
    for (const std::string& m : Messages(level)) {
      if (m == message) return true;
    }
    return false;
  }

  std::unique_ptr<TestHost> host_;
  CIniFile opFile_;
  CErrorMgr errors_;
  bool result_ = false;
};

// ---------------------------------------------------------------------------
// Install directory.

using PlaceholdersInstallDirTest = PlaceholdersTest;

TEST_F(PlaceholdersInstallDirTest, InstallDirWithoutTrailingBackslashJoinsWithOneBackslash) {
  opFile_.SetValue("Product1", "InstallDir", R"(C:\P)");
  const xml::Document doc =
      Resolve(R"(<t:a one="[INSTALLDIR]\bin" two="[INSTALLDIR]\\bin" three="[INSTALLDIR]" )"
              R"(four="x[INSTALLDIR]\a\[INSTALLDIR]\b"/>)");
  EXPECT_TRUE(result_);
  EXPECT_EQ(Attr(doc, "//t:a/@one"), R"(C:\P\bin)");
  EXPECT_EQ(Attr(doc, "//t:a/@two"), R"(C:\P\bin)");
  EXPECT_EQ(Attr(doc, "//t:a/@three"), R"(C:\P\)");
  EXPECT_EQ(Attr(doc, "//t:a/@four"), R"(xC:\P\a\C:\P\b)");

  EXPECT_TRUE(HasMessage(kLevelInfo, R"(    InstallDir=  C:\P)"));
  EXPECT_TRUE(HasMessage(kLevelInfo, "    InstallDir1= "));
  EXPECT_TRUE(HasMessage(kLevelInfo, "    CommonDir1= "));
  EXPECT_TRUE(HasMessage(kLevelInfo, R"(    used InstallDir1= C:\P\)"));
  EXPECT_TRUE(HasMessage(kLevelInfo, R"(  path was changed from '[INSTALLDIR]bin'  to  'C:\P\bin')"));
}

TEST_F(PlaceholdersInstallDirTest, FileSpecificDirWinsAndTheAnchorGoesBelowIt) {
  opFile_.SetValue("Product1", "InstallDir", R"(C:\General)");
  opFile_.SetValue("Product1", "InstallDir2", R"(C:\P2)");
  opFile_.SetValue("Product1", "Anchor", R"(Sub\\)");
  const xml::Document doc = Resolve(R"(<t:a v="[INSTALLDIR]\x"/>)", "ReturnFeatures", 2);
  EXPECT_EQ(Attr(doc, "//t:a/@v"), R"(C:\P2\Sub\x)");
  EXPECT_TRUE(HasMessage(kLevelInfo, R"(    InstallDir2= C:\P2)"));
  EXPECT_TRUE(HasMessage(kLevelInfo, R"(    used InstallDir2= C:\P2\Sub\)"));
  // The general key is only reported with the first file.
  for (const std::string& m : Messages(kLevelInfo)) EXPECT_EQ(m.find("InstallDir=  "), std::string::npos) << m;
}

TEST_F(PlaceholdersInstallDirTest, SectionAndKeyNamesIgnoreCase) {
  opFile_.SetValue("PRODUCT3", "installdir", R"(C:\Three)");
  xml::Document doc = Document(R"(<t:a v="[INSTALLDIR]x"/>)");
  EXPECT_TRUE(CPlaceholders::RePlaceHolders(errors_, doc, opFile_, 3, 1, "ReturnFeatures"));
  EXPECT_EQ(Attr(doc, "//t:a/@v"), R"(C:\Three\x)");
}

TEST_F(PlaceholdersInstallDirTest, DummyIsUsedWithoutTrailingBackslash) {
  opFile_.SetValue("Product1", "InstallDir", R"(Dummy\)");
  const xml::Document doc = Resolve(R"(<t:a x="[INSTALLDIR]x" bin="[INSTALLDIR]\bin"/>)");
  EXPECT_TRUE(result_);
  EXPECT_EQ(Attr(doc, "//t:a/@x"), "Dummyx");
  EXPECT_EQ(Attr(doc, "//t:a/@bin"), "Dummybin");
  for (const std::string& m : Messages(kLevelInfo)) EXPECT_EQ(m.find("used InstallDir"), std::string::npos) << m;
}

TEST_F(PlaceholdersInstallDirTest, MissingInstallDirIsAnErrorAndLeavesTheDocumentAlone) {
  opFile_.SetValue("Product1", "SecurityXML1", R"(C:\a.xml)");
  const xml::Document doc = Resolve(R"(<t:a v="[ProgramFilesFolder]x" w="C:\\y"/>)");
  EXPECT_FALSE(result_);
  EXPECT_TRUE(errors_.IsError());
  const std::vector<std::string> expected = {
      "The InstallDir attribute was not filled in Section: Product1  but it's necessary"};
  EXPECT_EQ(Messages(kLevelError), expected);
  EXPECT_TRUE(HasMessage(kLevelInfo, "    the general 'InstallDir' attribute was not set"));
  EXPECT_EQ(Attr(doc, "//t:a/@v"), "[ProgramFilesFolder]x");
  EXPECT_EQ(Attr(doc, "//t:a/@w"), R"(C:\\y)");
}

TEST_F(PlaceholdersInstallDirTest, MissingInstallDirStopsAlsoAfterAnEarlierErrorOfTheRun) {
  // The session clears the error flag before each file, but the highest
  // level of the run stays at 5 from the earlier file.
  errors_.AddMessage(kLevelError, "CTarvo::::GetSecurityXMLsLoaded", "an earlier file failed");
  errors_.SetError(false);
  const xml::Document doc = Resolve(R"(<t:a v="[ProgramFilesFolder]x"/>)");
  EXPECT_FALSE(result_);
  EXPECT_EQ(Attr(doc, "//t:a/@v"), "[ProgramFilesFolder]x");
}

TEST_F(PlaceholdersInstallDirTest, AnErrorFlagSetByTheCallerMeansNoRewrite) {
  opFile_.SetValue("Product1", "InstallDir", R"(C:\P)");
  errors_.SetError(true);
  const xml::Document doc = Resolve(R"(<t:a v="[INSTALLDIR]x"/>)");
  EXPECT_FALSE(result_);
  EXPECT_EQ(Attr(doc, "//t:a/@v"), "[INSTALLDIR]x");
}

// ---------------------------------------------------------------------------
// Common directory and SharedPath.

using PlaceholdersCommonDirTest = PlaceholdersTest;

TEST_F(PlaceholdersCommonDirTest, CommonDirOfTheFileGetsExactlyOneTrailingBackslash) {
  opFile_.SetValue("Product1", "InstallDir", R"(C:\P)");
  opFile_.SetValue("Product1", "CommonDir1", R"(C:\Shared\\)");
  SetSharedPath(0, R"(C:\FromRegistry)");
  const xml::Document doc = Resolve(R"(<t:a v="[COMMONDIR]\x"/>)");
  EXPECT_EQ(Attr(doc, "//t:a/@v"), R"(C:\Shared\x)");
  EXPECT_TRUE(HasMessage(kLevelInfo, R"(    used CommonDir1=  C:\Shared\ )"));
}

TEST_F(PlaceholdersCommonDirTest, WithoutCommonDirTheRegistrySharedPathIsUsed) {
  opFile_.SetValue("Product1", "InstallDir", R"(C:\P)");
  SetSharedPath(0, R"(D:\Norvale\Shared\)");
  const xml::Document doc = Resolve(R"(<t:a v="[COMMONDIR]\x"/>)");
  EXPECT_EQ(Attr(doc, "//t:a/@v"), R"(D:\Norvale\Shared\x)");
  EXPECT_TRUE(HasMessage(kLevelInfo, R"(    read CommonDir from registry: D:\Norvale\Shared\ )"));
  EXPECT_TRUE(HasMessage(kLevelInfo, R"(    used CommonDir1=  D:\Norvale\Shared\ )"));
}

TEST_F(PlaceholdersCommonDirTest, SharedPathOnlyIn32BitViewIsNotSeenBy64BitProcess) {
  if (SkipUnless64BitBuild()) GTEST_SKIP() << "a 64-bit process needs the 64-bit build";
  opFile_.SetValue("Product1", "InstallDir", R"(C:\P)");
  SetSharedPath(plat::kKeyWow64_32Key, R"(C:\Shared32)");
  const xml::Document doc = Resolve(R"(<t:a v="[COMMONDIR]\x" w="[INSTALLDIR]y"/><t:b v="[INSTALLDIR]z"/>)");
  // Outside ApplyFeatures the placeholder stays with a warning.
  EXPECT_TRUE(result_);
  EXPECT_EQ(Attr(doc, "//t:a/@v"), R"([COMMONDIR]\x)");
  EXPECT_EQ(Messages(kLevelWarning), std::vector<std::string>{R"(  Path cannot be resolved: '[COMMONDIR]\x')"});
  EXPECT_EQ(Attr(doc, "//t:b/@v"), R"(C:\P\z)");
}

TEST_F(PlaceholdersCommonDirTest, UnresolvableCommonDirDuringApplyFeaturesStopsAfterTheElement) {
  opFile_.SetValue("Product1", "InstallDir", R"(C:\P)");
  const xml::Document doc =
      Resolve(R"(<t:a v="[COMMONDIR]\x" w="[INSTALLDIR]y"><t:c v="[INSTALLDIR]c"/></t:a><t:b v="[INSTALLDIR]z"/>)",
              "ApplyFeatures");
  EXPECT_FALSE(result_);
  EXPECT_EQ(Messages(kLevelError), std::vector<std::string>{R"(  Path cannot be resolved: '[COMMONDIR]\x')"});
  EXPECT_EQ(Attr(doc, "//t:a/@v"), R"([COMMONDIR]\x)");
  // The element's other attributes are still resolved; nothing after it is.
  EXPECT_EQ(Attr(doc, "//t:a/@w"), R"(C:\P\y)");
  EXPECT_EQ(Attr(doc, "//t:c/@v"), "[INSTALLDIR]c");
  EXPECT_EQ(Attr(doc, "//t:b/@v"), "[INSTALLDIR]z");
}

TEST_F(PlaceholdersCommonDirTest, SharedPathOnlyIn32BitViewIsNativeFor32BitProcess) {
  UseHost("win7-sp1-x64", "en-US", true);
  opFile_.SetValue("Product1", "InstallDir", R"(C:\P)");
  SetSharedPath(plat::kKeyWow64_32Key, R"(C:\Shared32)");
  const xml::Document doc = Resolve(R"(<t:a v="[COMMONDIR]\x"/>)", "ApplyFeatures");
  EXPECT_TRUE(result_);
  EXPECT_EQ(Attr(doc, "//t:a/@v"), R"(C:\Shared32\x)");
}

// ---------------------------------------------------------------------------
// Known folders.

using PlaceholdersFoldersTest = PlaceholdersTest;

TEST_F(PlaceholdersFoldersTest, EveryFolderOfA64BitProcessOnWindows7) {
  if (SkipUnless64BitBuild()) GTEST_SKIP() << "a 64-bit process needs the 64-bit build";
  opFile_.SetValue("Product1", "InstallDir", R"(C:\P)");
  const xml::Document doc = Resolve(
      R"(<t:a docs="[COMMONDOCUMENTSFOLDER]\d" appdata="[CommonAppDataFolder]\a" data="[ProgramData]\p" )"
      R"(pf="[ProgramFilesFolder]\x" cf="[CommonFilesFolder]\c" sys="[SYSTEMFOLDER]\s" sys2="[SystemFolder]s" )"
      R"(win="[WindowsFolder]\w" lower="[programfilesfolder]\x"/>)");
  EXPECT_TRUE(result_);
  EXPECT_EQ(Attr(doc, "//t:a/@docs"), R"(C:\Users\Public\Documents\d)");
  EXPECT_EQ(Attr(doc, "//t:a/@appdata"), R"(C:\ProgramData\a)");
  EXPECT_EQ(Attr(doc, "//t:a/@data"), R"(C:\ProgramData\p)");
  EXPECT_EQ(Attr(doc, "//t:a/@pf"), R"(C:\Program Files\x)");
  EXPECT_EQ(Attr(doc, "//t:a/@cf"), R"(C:\Program Files\Common Files\c)");
  EXPECT_EQ(Attr(doc, "//t:a/@sys"), R"(C:\Windows\system32\s)");
  EXPECT_EQ(Attr(doc, "//t:a/@sys2"), R"(C:\Windows\system32\s)");
  EXPECT_EQ(Attr(doc, "//t:a/@win"), R"(C:\Windows\w)");
  // Placeholders are case-sensitive.
  EXPECT_EQ(Attr(doc, "//t:a/@lower"), R"([programfilesfolder]\x)");
}

TEST_F(PlaceholdersFoldersTest, A32BitProcessOn64BitWindowsGetsThe32BitProgramFolders) {
  UseHost("win7-sp1-x64", "en-US", true);
  opFile_.SetValue("Product1", "InstallDir", R"(C:\P)");
  const xml::Document doc =
      Resolve(R"(<t:a pf="[ProgramFilesFolder]\x" cf="[CommonFilesFolder]\c" sys="[SystemFolder]\s"/>)");
  EXPECT_EQ(Attr(doc, "//t:a/@pf"), R"(C:\Program Files (x86)\x)");
  EXPECT_EQ(Attr(doc, "//t:a/@cf"), R"(C:\Program Files (x86)\Common Files\c)");
  EXPECT_EQ(Attr(doc, "//t:a/@sys"), R"(C:\Windows\system32\s)");
}

TEST_F(PlaceholdersFoldersTest, GermanWindowsXpHasLocalizedFoldersAndNoProgramData) {
  UseHost("winxp-sp3-x86", "de-DE", true);
  opFile_.SetValue("Product1", "InstallDir", R"(C:\Programme\Produkt)");
  const xml::Document doc = Resolve(
      R"(<t:a pf="[ProgramFilesFolder]\x" cf="[CommonFilesFolder]\c" appdata="[CommonAppDataFolder]\a" )"
      R"(docs="[COMMONDOCUMENTSFOLDER]\d" data="[ProgramData]\p" win="[WindowsFolder]\w" )"
      R"(root="%SystemRoot%\a.dll" windir="%WINDIR%\b.ini" inst="[INSTALLDIR]\bin"/>)");
  EXPECT_TRUE(result_);
  EXPECT_EQ(Attr(doc, "//t:a/@pf"), R"(C:\Programme\x)");
  EXPECT_EQ(Attr(doc, "//t:a/@cf"), R"(C:\Programme\Gemeinsame Dateien\c)");
  EXPECT_EQ(Attr(doc, "//t:a/@appdata"), R"(C:\Dokumente und Einstellungen\All Users\Anwendungsdaten\a)");
  EXPECT_EQ(Attr(doc, "//t:a/@docs"), R"(C:\Dokumente und Einstellungen\All Users\Dokumente\d)");
  // Before Windows 6 the program data of products lies below Program Files.
  EXPECT_EQ(Attr(doc, "//t:a/@data"), R"(C:\Programme\p)");
  EXPECT_EQ(Attr(doc, "//t:a/@win"), R"(C:\WINDOWS\w)");
  EXPECT_EQ(Attr(doc, "//t:a/@root"), R"(C:\WINDOWS\system32\a.dll)");
  EXPECT_EQ(Attr(doc, "//t:a/@windir"), R"(C:\WINDOWS\b.ini)");
  EXPECT_EQ(Attr(doc, "//t:a/@inst"), R"(C:\Programme\Produkt\bin)");
}

TEST_F(PlaceholdersFoldersTest, EachReplacementIsReportedFromTheTextBeforeAllReplacements) {
  UseHost("win7-sp1-x64", "en-US", true);
  opFile_.SetValue("Product1", "InstallDir", R"(C:\P)");
  Resolve(R"(<t:a v="[INSTALLDIR]\a;[CommonAppDataFolder]\b"/>)");
  EXPECT_TRUE(HasMessage(kLevelInfo, R"(  path was changed from '[INSTALLDIR]a;[CommonAppDataFolder]b'  to  )"
                                     R"('C:\P\a;[CommonAppDataFolder]b')"));
  // The report of [CommonAppDataFolder] has one blank on each side of "to".
  EXPECT_TRUE(HasMessage(kLevelInfo, R"(  path was changed from '[INSTALLDIR]a;[CommonAppDataFolder]b' to )"
                                     R"('C:\P\a;C:\ProgramData\b')"));
}

// ---------------------------------------------------------------------------
// %-tokens.

using PlaceholdersEnvironmentTokenTest = PlaceholdersTest;

TEST_F(PlaceholdersEnvironmentTokenTest, SystemRootInAnyCaseIsTheSystemFolder) {
  opFile_.SetValue("Product1", "InstallDir", R"(C:\P)");
  const xml::Document doc = Resolve(R"(<t:a v="%SYSTEMROOT%\a.dll" w="%windir%\x"/>)");
  EXPECT_EQ(Attr(doc, "//t:a/@v"), R"(C:\Windows\system32\a.dll)");
  EXPECT_EQ(Attr(doc, "//t:a/@w"), R"(C:\Windows\x)");
  EXPECT_TRUE(HasMessage(kLevelInfo, R"(  Replace SystemRoot: C:\Windows\system32\\a.dll)"));
  EXPECT_TRUE(HasMessage(kLevelInfo, R"(  Replace Windir: C:\Windows\\x)"));
}

TEST_F(PlaceholdersEnvironmentTokenTest, OnlyTheFirstTokenOfAValueIsExamined) {
  opFile_.SetValue("Product1", "InstallDir", R"(C:\P)");
  const xml::Document doc = Resolve(
      R"(<t:a two="%windir%\a;%SystemRoot%\b" same="%SystemRoot%\a;%SystemRoot%\b;%SYSTEMROOT%\c" )"
      R"(unknown="%SystemDrive%\x;%SystemRoot%\y" percent="100%" lone="%SystemRoot"/>)");
  EXPECT_EQ(Attr(doc, "//t:a/@two"), R"(C:\Windows\a;%SystemRoot%\b)");
  // Every occurrence of the token as written is replaced, another spelling is not.
  EXPECT_EQ(Attr(doc, "//t:a/@same"), R"(C:\Windows\system32\a;C:\Windows\system32\b;%SYSTEMROOT%\c)");
  EXPECT_EQ(Attr(doc, "//t:a/@unknown"), R"(%SystemDrive%\x;%SystemRoot%\y)");
  EXPECT_EQ(Attr(doc, "//t:a/@percent"), "100%");
  EXPECT_EQ(Attr(doc, "//t:a/@lone"), "%SystemRoot");
  // The report shows the remaining percent signs as blanks.
  EXPECT_TRUE(HasMessage(kLevelInfo, R"(  Replace Windir: C:\Windows\\a; SystemRoot \b)"));
}

// ---------------------------------------------------------------------------
// Backslashes and what is left alone.

using PlaceholdersBackslashTest = PlaceholdersTest;

TEST_F(PlaceholdersBackslashTest, DoubledBackslashesBecomeSingleButNetworkPathsKeepTheirPrefix) {
  opFile_.SetValue("Product1", "InstallDir", R"(\\server\share\Product)");
  const xml::Document doc = Resolve(
      R"(<t:a doubled="C:\\a\\b" unc="\\server\share\x.exe" uncdoubled="\\server\\share" )"
      R"(inst="[INSTALLDIR]\bin" root="\a\\b"/>)");
  EXPECT_EQ(Attr(doc, "//t:a/@doubled"), R"(C:\a\b)");
  EXPECT_EQ(Attr(doc, "//t:a/@unc"), R"(\\server\share\x.exe)");
  EXPECT_EQ(Attr(doc, "//t:a/@uncdoubled"), R"(\\server\share)");
  EXPECT_EQ(Attr(doc, "//t:a/@inst"), R"(\\server\share\Product\bin)");
  EXPECT_EQ(Attr(doc, "//t:a/@root"), R"(\a\b)");
}

TEST_F(PlaceholdersBackslashTest, BracketsThatAreNoPlaceholderKeepTheFollowingBackslash) {
  opFile_.SetValue("Product1", "InstallDir", R"(C:\P)");
  const xml::Document doc =
      Resolve(R"(<t:a v="C:\Data[2015]\Logs" w="[INSTALLDIR]\Data[1]\x" user="[Operators]\x"/>)");
  EXPECT_EQ(Attr(doc, "//t:a/@v"), R"(C:\Data[2015]\Logs)");
  EXPECT_EQ(Attr(doc, "//t:a/@w"), R"(C:\P\Data[1]\x)");
  EXPECT_EQ(Attr(doc, "//t:a/@user"), R"([Operators]\x)");
}

TEST_F(PlaceholdersBackslashTest, ElementTextAndValuesWithoutPlaceholdersAreNotTouched) {
  opFile_.SetValue("Product1", "InstallDir", R"(C:\P)");
  const xml::Document doc =
      Resolve(R"(<t:a name="Control Station" empty="">[INSTALLDIR]\\x<!-- [INSTALLDIR] --></t:a>)");
  EXPECT_TRUE(result_);
  EXPECT_EQ(doc.SelectSingleNode("//t:a").Text(), R"([INSTALLDIR]\\x)");
  EXPECT_EQ(Attr(doc, "//t:a/@name"), "Control Station");
  EXPECT_EQ(Attr(doc, "//t:a/@empty"), "");
  for (const std::string& m : Messages(kLevelInfo)) EXPECT_EQ(m.find("path was changed"), std::string::npos) << m;
}

TEST_F(PlaceholdersBackslashTest, DeeplyNestedDocumentIsWalkedToTheBottom) {
  opFile_.SetValue("Product1", "InstallDir", R"(C:\P)");
  constexpr int kDepth = 100000;
  std::string body;
  for (int i = 0; i < kDepth; ++i) body += "<t:n>";
  body += R"(<t:leaf v="[INSTALLDIR]\x"/>)";
  for (int i = 0; i < kDepth; ++i) body += "</t:n>";
  const xml::Document doc = Resolve(body);
  EXPECT_TRUE(result_);
  EXPECT_EQ(Attr(doc, "//t:leaf/@v"), R"(C:\P\x)");
}

// ---------------------------------------------------------------------------
// 32-bit products on 64-bit Windows (oswow).

using PlaceholdersWowTest = PlaceholdersTest;

TEST_F(PlaceholdersWowTest, ExePathAndValueMoveToThe32BitFoldersButPathDoesNot) {
  if (SkipUnless64BitBuild()) GTEST_SKIP() << "a 64-bit process needs the 64-bit build";
  opFile_.SetValue("Product1", "InstallDir", R"(C:\P)");
  const xml::Document doc = Resolve(
      R"(<t:e oswow="YES" exepath="[ProgramFilesFolder]App\a.exe" path="[ProgramFilesFolder]App" )"
      R"(value="[CommonFilesFolder]x"><t:child exepath="[ProgramFilesFolder]App\b.exe"/></t:e>)"
      R"(<t:f oswow="yes" value="[SystemFolder]drivers"/><t:g oswow="NO" value="[ProgramFilesFolder]g"/>)");
  EXPECT_EQ(Attr(doc, "//t:e/@exepath"), R"(C:\Program Files (x86)\App\a.exe)");
  EXPECT_EQ(Attr(doc, "//t:e/@path"), R"(C:\Program Files\App)");
  EXPECT_EQ(Attr(doc, "//t:e/@value"), R"(C:\Program Files (x86)\Common Files\x)");
  // The flag belongs to the element that carries the attribute.
  EXPECT_EQ(Attr(doc, "//t:child/@exepath"), R"(C:\Program Files\App\b.exe)");
  EXPECT_EQ(Attr(doc, "//t:f/@value"), R"(C:\Windows\SysWOW64\drivers)");
  EXPECT_EQ(Attr(doc, "//t:f/@oswow"), "yes");
  EXPECT_EQ(Attr(doc, "//t:g/@value"), R"(C:\Program Files\g)");
  EXPECT_TRUE(HasMessage(kLevelInfo, R"(  path was changed to x86 folder: 'C:\Program Files (x86)\App\a.exe')"));
}

TEST_F(PlaceholdersWowTest, CommonDirMovesToThe32BitSharedPath) {
  if (SkipUnless64BitBuild()) GTEST_SKIP() << "a 64-bit process needs the 64-bit build";
  opFile_.SetValue("Product1", "InstallDir", R"(C:\P)");
  SetSharedPath(0, R"(C:\Shared64)");
  SetSharedPath(plat::kKeyWow64_32Key, R"(C:\Shared32\\)");
  const xml::Document doc = Resolve(R"(<t:a oswow="YES" value="[COMMONDIR]bin"/><t:b value="[COMMONDIR]bin"/>)");
  EXPECT_EQ(Attr(doc, "//t:a/@value"), R"(C:\Shared32\bin)");
  EXPECT_EQ(Attr(doc, "//t:b/@value"), R"(C:\Shared64\bin)");
}

TEST_F(PlaceholdersWowTest, Missing32BitSharedPathKeepsTheCommonDir) {
  if (SkipUnless64BitBuild()) GTEST_SKIP() << "a 64-bit process needs the 64-bit build";
  opFile_.SetValue("Product1", "InstallDir", R"(C:\P)");
  opFile_.SetValue("Product1", "CommonDir1", R"(C:\Shared)");
  const xml::Document doc = Resolve(R"(<t:a oswow="YES" exepath="[COMMONDIR]bin\a.exe"/>)");
  EXPECT_TRUE(result_);
  EXPECT_EQ(Attr(doc, "//t:a/@exepath"), R"(C:\Shared\bin\a.exe)");
  EXPECT_TRUE(HasMessage(kLevelInfo, "  wow registry shared path not found, cannot chage to wow path"));
}

TEST_F(PlaceholdersWowTest, A32BitProcessAlreadyHasThe32BitProgramFolders) {
  UseHost("win7-sp1-x64", "en-US", true);
  opFile_.SetValue("Product1", "InstallDir", R"(C:\P)");
  const xml::Document doc = Resolve(
      R"(<t:a oswow="YES" exepath="[ProgramFilesFolder]App\a.exe" value="[SystemFolder]x.dll" )"
      R"(path="[SystemFolder]y"/>)");
  EXPECT_EQ(Attr(doc, "//t:a/@exepath"), R"(C:\Program Files (x86)\App\a.exe)");
  EXPECT_EQ(Attr(doc, "//t:a/@value"), R"(C:\Windows\SysWOW64\x.dll)");
  EXPECT_EQ(Attr(doc, "//t:a/@path"), R"(C:\Windows\system32\y)");
}

TEST_F(PlaceholdersWowTest, On32BitWindowsNothingMoves) {
  UseHost("winxp-sp3-x86", "en-US", true);
  opFile_.SetValue("Product1", "InstallDir", R"(C:\P)");
  SetSharedPath(0, R"(C:\Shared)");
  const xml::Document doc = Resolve(
      R"(<t:a oswow="YES" exepath="[ProgramFilesFolder]App\a.exe" value="[SystemFolder]x.dll" other="[COMMONDIR]c"/>)"
      R"(<t:b oswow="YES" value="[COMMONDIR]c"/>)");
  EXPECT_EQ(Attr(doc, "//t:a/@exepath"), R"(C:\Program Files\App\a.exe)");
  EXPECT_EQ(Attr(doc, "//t:a/@value"), R"(C:\WINDOWS\system32\x.dll)");
  EXPECT_EQ(Attr(doc, "//t:b/@value"), R"(C:\Shared\c)");
  for (const std::string& m : Messages(kLevelInfo)) EXPECT_EQ(m.find("x86 folder"), std::string::npos) << m;
}

// ---------------------------------------------------------------------------
// The shipped example files.

using PlaceholdersExamplesTest = PlaceholdersTest;

TEST_F(PlaceholdersExamplesTest, ExamplesResolveEveryPlaceholderOfTheirAttributes) {
  opFile_.SetValue("Product1", "InstallDir", R"(C:\Program Files\Norvale\Product\)");
  SetSharedPath(0, R"(C:\Program Files\Norvale\Shared)");
  for (const char* file : {"ControlStation.xml", "DataServer.xml"}) {
    SCOPED_TRACE(file);
    CPlaceholders::ResetCachedValues();
    xml::Document doc = xml::Document::Create();
    ASSERT_TRUE(doc.Load(host_->WindowsPathOf(std::string(TARVO_SOURCE_DIR) + "/examples/" + file)));
    EXPECT_TRUE(CPlaceholders::RePlaceHolders(errors_, doc, opFile_, 1, 1, "ApplyFeatures"));
    const xml::NodeList attributes = doc.SelectNodes("//@*");
    ASSERT_FALSE(attributes.Empty());
    for (const xml::Node& attribute : attributes) {
      EXPECT_EQ(attribute.NodeValue().find('['), std::string::npos) << attribute.NodeName();
    }
  }
  EXPECT_TRUE(Messages(kLevelError).empty());
}

TEST_F(PlaceholdersExamplesTest, ControlStationPathsAfterResolution) {
  opFile_.SetValue("Product1", "InstallDir", R"(C:\Program Files\Norvale\Control Station)");
  xml::Document doc = xml::Document::Create();
  ASSERT_TRUE(doc.Load(host_->WindowsPathOf(TARVO_SOURCE_DIR "/examples/ControlStation.xml")));
  ASSERT_TRUE(CPlaceholders::RePlaceHolders(errors_, doc, opFile_, 1, 1, "ApplyFeatures"));
  EXPECT_EQ(Attr(doc, "(//t:fileSystemPath)[1]/@value"), R"(C:\Program Files\Norvale\Control Station\Projects)");
  EXPECT_EQ(Attr(doc, "(//t:fileSystemPath)[2]/@value"), R"(C:\ProgramData\Control Station\Logs)");
  EXPECT_EQ(Attr(doc, "//t:service/@exepath"), R"(C:\Program Files\Norvale\Control Station\bin\CSRuntime.exe)");
  EXPECT_EQ(Attr(doc, "//t:groupuser/t:user/@value"), "tester");
}

}  // namespace
