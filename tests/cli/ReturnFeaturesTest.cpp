#include <filesystem>
#include <fstream>
#include <sstream>

#include "cli/FeatureRunFixture.h"
#include "infra/BuildInfo.h"

namespace {

namespace fs = std::filesystem;

std::string ReadGolden(const std::string& name) {
  std::ifstream in(std::string(TARVO_SOURCE_DIR) + "/tests/cli/golden/" + name, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  std::string golden = text.str();
  while (!golden.empty() && (golden.back() == '\n' || golden.back() == '\r')) golden.pop_back();
  return golden;
}

std::string WithoutTrailingNewlines(std::string text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  return text;
}

std::string ReplaceAll(std::string text, std::string_view from, std::string_view to) {
  for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
    text.replace(at, from.size(), to);
  }
  return text;
}

using ReturnFeaturesTest = FeatureRunTest;

// The log up to the firewall snapshot, which reads the firewall features again.
std::string BeforeSnapshot(const std::string& log) {
  return log.substr(0, log.find("CTarvo::RetrieveCustomFirewallFeatures"));
}

// The shipped example, run from a folder laid out as the repository root
// (its OPFile uses paths relative to it).
TEST_F(ReturnFeaturesTest, TheExampleGivesTheGoldenFeatureDocument) {
  const fs::path root = fs::path(host_.Folder()) / "checkout";
  fs::create_directories(root / "build" / "example");
  fs::create_directory_symlink(fs::path(TARVO_SOURCE_DIR) / "examples", root / "examples");
  fs::create_directory_symlink(TARVO_BIN_DIR, root / "build" / "bin");
  fs::copy_file(fs::path(TARVO_SOURCE_DIR) / "examples" / "OPFile.ini", root / "op.ini");
  const ProgramResult r = RunProgram(BinaryPath("tarvo"), {"ReturnFeatures", "op.ini"},
                                     {{"TARVO_HOST", host_.Folder()}}, root.string());
  ASSERT_EQ(r.exitCode, 0) << r.out;
  std::ifstream in(root / "build" / "example" / "ReturnedFeatures.xml", std::ios::binary);
  std::stringstream bytes;
  bytes << in.rdbuf();
  ASSERT_EQ(bytes.str().substr(0, 2), "\xff\xfe");  // UTF-16LE, as the declaration says
  EXPECT_EQ(WithoutTrailingNewlines(FileText(bytes.str())),
            ReplaceAll(ReadGolden("ExampleReturnedFeatures.xml"), "@PLATFORM@", kBuildPlatform));
  std::ifstream logIn(root / "build" / "example" / "Tarvo.log", std::ios::binary);
  std::stringstream log;
  log << logIn.rdbuf();
  EXPECT_EQ(Count(BeforeSnapshot(log.str()), "    Found    Firewall Feature"), 2u);
  EXPECT_EQ(Count(log.str(), "    Found    WUA Feature"), 1u);
  EXPECT_EQ(Count(log.str(), "    Found    DCOM Feature"), 1u);
  // ReturnFeatures writes no repository log.
  EXPECT_FALSE(Exists(std::string(kRepository) + "Tarvo.log"));
}

TEST_F(ReturnFeaturesTest, OnlyFileFailsItsChecksum) {
  WriteSecurityFile("C:\\sec\\a.xml", Wua("pause"));
  std::string text = host_.ReadHostFile("C:\\sec\\a.xml");
  text.replace(text.find("pause"), 5, "PAUSE");
  host_.WriteHostFile("C:\\sec\\a.xml", text);
  WriteOpFile(General(), {{"Product1", Product("{A}", {"C:\\sec\\a.xml"})}});
  EXPECT_EQ(Tarvo("ReturnFeatures").exitCode, 10);
  EXPECT_FALSE(Exists("C:\\logs\\ReturnedFeatures.xml"));
  EXPECT_EQ(Result("CriticalError"), "1");
  EXPECT_EQ(Log().find("Read Features:"), std::string::npos);
  EXPECT_NE(Log().find("|ADS_WARNING|CTarvo::ReturnFeatures                 |Return features has finished with error"),
            std::string::npos);
}

TEST_F(ReturnFeaturesTest, AFileWithoutFeaturesGivesTheRootOnly) {
  WriteSingleFileSetup("");
  EXPECT_EQ(Tarvo("ReturnFeatures").exitCode, 0);
  EXPECT_EQ(WithoutTrailingNewlines(DocumentText("C:\\logs\\ReturnedFeatures.xml")),
            "<?xml version=\"1.0\" encoding=\"UTF-16\" standalone=\"no\"?>\r\n"
            "<t:Tarvo xmlns:t=\"http://schemas.tarvo.example/2005/Kelmar\"/>");
  const std::string log = Log();
  EXPECT_NE(log.find("|                                       |  C:\\sec\\a.xml\r\n"), std::string::npos);
  EXPECT_EQ(log.find("Found"), std::string::npos);
  EXPECT_NE(log.find("|CTarvo::ReturnFeatures   END           |Returncode: 0"), std::string::npos);
}

TEST_F(ReturnFeaturesTest, AnEmptyLogfilePathWritesIntoTheCurrentFolder) {
  WriteSecurityFile("C:\\sec\\a.xml", Wua("pause"));
  WriteOpFile({"SessionID=S", "ResourcePath=" + BinFolderWindowsPath(), "SetupLanguage=1033", "LogfilePath="},
              {{"Product1", Product("{A}", {"C:\\sec\\a.xml"})}});
  const std::string cwd = MakeTempFolder();
  EXPECT_EQ(Tarvo("ReturnFeatures", cwd).exitCode, 0);
  EXPECT_EQ(Result("MessageFullPath"), "ReturnedFeatures.xml");
  EXPECT_NE(DocumentText(host_.WindowsPathOf(cwd + "/ReturnedFeatures.xml")).find("value=\"pause\""),
            std::string::npos);
  fs::remove_all(cwd);
}

TEST_F(ReturnFeaturesTest, MarksOfTheKeptFeaturesReachTheResults) {
  WriteSingleFileSetup(Wua("pause", "critical=\"true\" reboot=\"AfterInstallation\"") +
                       Wua("resume", "osversion=\"=5.1\" reboot=\"BeforeInstallation\""));
  EXPECT_EQ(Tarvo("ReturnFeatures").exitCode, 0);
  EXPECT_EQ(Result("ContainCriticalFeatures"), "1");
  // The second feature does not apply on Windows 7, so its reboot mark does not count.
  EXPECT_EQ(Result("RebootRequirement"), "1");
  const std::string document = DocumentText("C:\\logs\\ReturnedFeatures.xml");
  EXPECT_EQ(Count(document, "<t:wua "), 1u);
  EXPECT_NE(document.find("critical=\"true\""), std::string::npos);
}

TEST_F(ReturnFeaturesTest, FirewallSnapshotNoteFollowsTheOpFile) {
  const std::string note = "The Current Firewall Settings will not be saved !";
  WriteSingleFileSetup("", {"SaveCurrentFirewall=off"});
  Tarvo("ReturnFeatures");
  EXPECT_EQ(Log().find(note), std::string::npos);

  WriteSingleFileSetup("", {"SaveCurrentFirewall=OFF"});
  Tarvo("ReturnFeatures");
  EXPECT_EQ(Count(Log(), note), 1u);

  std::vector<std::string> general = General();
  general[0] = "SessionID=88  Tarvo GUI";
  WriteOpFile(general, {{"Product1", Product("{A}", {"C:\\sec\\a.xml"})}});
  Tarvo("ReturnFeatures");
  EXPECT_EQ(Count(Log(), note), 2u);
  // The note comes after [RESULTS] was written and before the end line.
  const std::string log = Log();
  EXPECT_LT(log.rfind(note), log.rfind("Returncode: 0"));
}

TEST_F(ReturnFeaturesTest, FilterSelectsKindsByName) {
  const std::string body =
      "<t:fileSystemPermissions><t:fileSystemPath value=\"C:\\x\"><t:filePermissions user=\"Users\" domain=\"\" "
      "applyOnto=\"This folder only\"><t:delete/></t:filePermissions></t:fileSystemPath></t:fileSystemPermissions>"
      "<t:registry><t:path hkey=\"HKEY_LOCAL_MACHINE\" value=\"SOFTWARE\\x\"/></t:registry>"
      "<t:network><t:lan/><t:lan/></t:network>" + Wua("pause");
  WriteSingleFileSetup(body, {"Feature=Permission"});
  EXPECT_EQ(Tarvo("ReturnFeatures").exitCode, 0);
  std::string log = BeforeSnapshot(Log());
  EXPECT_NE(log.find("    Found  1 FilePermission Features"), std::string::npos);
  EXPECT_NE(log.find("    Found  1 RegistryPermission Feature"), std::string::npos);
  EXPECT_EQ(log.find("Firewall Feature"), std::string::npos);
  EXPECT_EQ(DocumentText("C:\\logs\\ReturnedFeatures.xml").find("t:wua"), std::string::npos);

  WriteSingleFileSetup(body, {"Feature=Firewall,WUA"});
  Tarvo("ReturnFeatures");
  log = Log();
  EXPECT_NE(log.find("    Found    Firewall Feature"), std::string::npos);
  EXPECT_NE(log.find("    Found    WUA Feature"), std::string::npos);
  // A list selects what each of its items would alone.
  WriteSingleFileSetup(body, {"Feature=Permission,WUA"});
  fs::remove(host_.HostPath("C:\\logs\\Tarvo.log"));
  Tarvo("ReturnFeatures");
  log = BeforeSnapshot(Log());
  EXPECT_NE(log.find("    Found  1 FilePermission Features"), std::string::npos);
  EXPECT_NE(log.find("    Found  1 RegistryPermission Feature"), std::string::npos);
  EXPECT_EQ(log.find("Firewall Feature"), std::string::npos);
  EXPECT_NE(DocumentText("C:\\logs\\ReturnedFeatures.xml").find("t:wua"), std::string::npos);
  // The filter compares case-sensitively.
  WriteSingleFileSetup(body, {"Feature=wua"});
  Tarvo("ReturnFeatures");
  EXPECT_EQ(DocumentText("C:\\logs\\ReturnedFeatures.xml").find("t:wua"), std::string::npos);
}

class ReturnFeaturesOnXpTest : public FeatureRunTest {
 protected:
  ReturnFeaturesOnXpTest() : FeatureRunTest("winxp-sp3-x86") {}
};

TEST_F(ReturnFeaturesOnXpTest, OsConditionsDropFeaturesOfOtherVersions) {
  WriteSingleFileSetup(Wua("pause", "osversion=\"+=win7\"") + Wua("resume", "osversion=\"-win7\""));
  EXPECT_EQ(Tarvo("ReturnFeatures").exitCode, 0);
  const std::string document = DocumentText("C:\\logs\\ReturnedFeatures.xml");
  EXPECT_NE(document.find("value=\"resume\""), std::string::npos);
  EXPECT_EQ(document.find("value=\"pause\""), std::string::npos);
}

// The lines of `log` after the first line holding `from`, up to the next
// line holding `to` (the log's line ends included).
std::string LinesBetween(const std::string& log, std::string_view from, std::string_view to) {
  const size_t start = log.find('\n', log.find(from)) + 1;
  const size_t end = log.rfind('\n', log.find(to, start)) + 1;
  return log.substr(start, end - start);
}

// The snapshot that ends ReturnFeatures works on the security files as the
// run loaded them; its part of the log still reads as a load of its own.
TEST_F(ReturnFeaturesTest, TheSnapshotRecordsTheLoadOfTheSecurityFilesAgain) {
  WriteSecurityFile("C:\\sec\\a.xml",
                    "<t:network><t:lan value=\"Local Area Connection\"><t:port name=\"P\" value=\"5000\" "
                    "tcp=\"true\" exists=\"true\" enable=\"yes\" firewallProfile=\"all\"><t:scopeAny/>"
                    "</t:port></t:lan></t:network>");
  WriteSecurityFile("C:\\sec\\b.xml", Wua("pause"), "Meter");
  WriteOpFile(General(), {{"Product1", Product("{A}", {"C:\\sec\\a.xml", "C:\\sec\\b.xml"})},
                          {"Product2", Product("{B}", {"C:\\sec\\b.xml"})}});
  ASSERT_EQ(Tarvo("ReturnFeatures").exitCode, 0) << Log();
  const std::string log = Log();
  const std::string load = LinesBetween(log, "    OPFile:", "Read Features:");
  EXPECT_NE(load.find("CTarvo::::GetSecurityXMLsLoaded        |  SecurityXML2= C:\\sec\\b.xml"), std::string::npos)
      << load;
  EXPECT_EQ(LinesBetween(log, "CTarvo::RetrieveCustomFirewallFeatures |OPFile:", "CTarvo::RetrieveCustomFirewallFeatures |\r"),
            load);
  EXPECT_EQ(Count(log, "    Found    Firewall Feature"), 2u);  // once for the setup, once for the snapshot
}

}  // namespace
