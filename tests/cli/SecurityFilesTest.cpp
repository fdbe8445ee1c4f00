#include <gtest/gtest.h>

#include "cli/Tarvo.h"
#include "infra/ErrorMgr.h"
#include "infra/ProcessState.h"
#include "support/OpFile.h"
#include "support/TestHost.h"

namespace {

std::string SourceWindowsPath(std::string_view relative) {
  std::string path = "Z:" + std::string(TARVO_SOURCE_DIR) + "/" + std::string(relative);
  for (char& c : path) {
    if (c == '/') c = '\\';
  }
  return path;
}

class SecurityFilesTest : public ::testing::Test {
 protected:
  SecurityFilesTest() { ResetProcessState(); }

  // Loads an OPFile with the given product sections and returns the loaded files.
  std::vector<CSecurityXmlEntry> Load(const std::vector<std::pair<std::string, std::vector<std::string>>>& products,
                                      std::vector<std::string> general = {}) {
    general.push_back("ResourcePath=" + BinFolderWindowsPath());
    auto sections = products;
    sections.insert(sections.begin(), {"GENERAL", general});
    host_.WriteHostFile("C:\\op.ini", Utf16FileBytes(MakeOpFileText(sections)));
    EXPECT_EQ(tarvo_.OpenIniFile(errors_, "C:\\op.ini"), 0);
    return tarvo_.GetSecurityXMLsLoaded(errors_);
  }
  bool Logged(std::string_view text) const {
    for (const auto& e : errors_.Entries()) {
      if (e->message.find(text) != std::string::npos) return true;
    }
    return false;
  }
  std::string ControlStation() const { return SourceWindowsPath("examples/ControlStation.xml"); }
  std::string DataServer() const { return SourceWindowsPath("examples/DataServer.xml"); }

  TestHost host_;
  CTarvo tarvo_;
  CErrorMgr errors_;
};

TEST_F(SecurityFilesTest, ProductsAndFilesStopAtTheFirstGap) {
  const auto loaded = Load({{"Product1", {"UpgradeCode={A}", "InstallDir=C:\\CS", "SecurityXML1=" + ControlStation(),
                                          "SecurityXML3=" + DataServer()}},
                            {"Product3", {"UpgradeCode={C}", "SecurityXML1=" + DataServer()}}});
  ASSERT_EQ(loaded.size(), 1u);
  EXPECT_EQ(loaded[0].path, ControlStation());
  EXPECT_EQ(loaded[0].upgradeCode, "{A}");
  EXPECT_LT(errors_.GetHighestLevel(), kLevelError);
  // Placeholders are resolved in the loaded document.
  EXPECT_EQ(loaded[0].document.Xml().find("[INSTALLDIR]"), std::string::npos);
}

TEST_F(SecurityFilesTest, RepositorySettingsLeavePlaceholdersAlone) {
  const auto loaded = Load({{"Product1", {"UpgradeCode={A}", "InstallDir=C:\\CS", "SecurityXML1=" + ControlStation()}}},
                           {"RepositorySettings=1"});
  ASSERT_EQ(loaded.size(), 1u);
  EXPECT_NE(loaded[0].document.Xml().find("[INSTALLDIR]"), std::string::npos);
}

TEST_F(SecurityFilesTest, FilesThatCannotBeLoadedAreSkippedWithACriticalEntry) {
  host_.WriteHostFile("C:\\bad\\notxml.xml", "this is not XML");
  host_.Platform().Files().MakeDirectory("C:\\bad\\folder.xml");
  const auto loaded = Load({{"Product1", {"UpgradeCode={A}", "InstallDir=C:\\CS", "SecurityXML1=C:\\bad\\missing.xml",
                                          "SecurityXML2=C:\\bad\\folder.xml", "SecurityXML3=C:\\bad\\notxml.xml",
                                          "SecurityXML4=" + ControlStation()}}});
  ASSERT_EQ(loaded.size(), 1u);
  EXPECT_EQ(errors_.GetHighestLevel(), kLevelCritical);
  EXPECT_TRUE(Logged("SecurityXML C:\\bad\\missing.xml could not be loaded. Error: 2"));
  EXPECT_TRUE(Logged("SecurityXML C:\\bad\\folder.xml could not be loaded. Error: "));
  EXPECT_TRUE(Logged("SecurityXML C:\\bad\\notxml.xml could not be loaded. Error: "));
}

TEST_F(SecurityFilesTest, ACheckSumMismatchDropsTheFile) {
  std::string text = host_.ReadHostFile(ControlStation());
  text.replace(text.find("Control"), 7, "Kontrol");
  host_.WriteHostFile("C:\\edited.xml", text);
  const auto loaded = Load({{"Product1", {"UpgradeCode={A}", "InstallDir=C:\\CS", "SecurityXML1=C:\\edited.xml"}}});
  EXPECT_TRUE(loaded.empty());
  EXPECT_TRUE(Logged("Hash Check failed:  C:\\edited.xml"));
  EXPECT_EQ(errors_.GetHighestLevel(), kLevelCritical);
}

TEST_F(SecurityFilesTest, MissingProductOneAndMissingUpgradeCode) {
  EXPECT_TRUE(Load({{"Product2", {"SecurityXML1=" + ControlStation()}}}).empty());
  EXPECT_TRUE(Logged("Internal error: There is not at least one Section '[Product1]'"));
  errors_.ResetMessages();
  const auto loaded = Load({{"Product1", {"InstallDir=C:\\CS", "SecurityXML1=" + ControlStation()}}});
  ASSERT_EQ(loaded.size(), 1u);
  EXPECT_TRUE(Logged("The OPFile does not contain an \"UpgradeCode\" attribute within the section Product1"));
}

}  // namespace
