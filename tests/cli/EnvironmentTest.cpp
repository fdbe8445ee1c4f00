#include <gtest/gtest.h>

#include <filesystem>

#include "cli/Results.h"
#include "cli/Tarvo.h"
#include "infra/ErrorMgr.h"
#include "platform/Forwarding.h"
#include "platform/WinError.h"
#include "platform/text/Text.h"
#include "support/OpFile.h"
#include "support/RunProgram.h"
#include "support/TestHost.h"

namespace {

class EnvironmentTest : public ::testing::Test {
 protected:
  // An OPFile at C:\setup\op.ini with the given [GENERAL] lines.
  void WriteOpFile(const std::vector<std::string>& general, const std::string& extra = "") {
    host_.WriteHostFile("C:\\setup\\op.ini", Utf16FileBytes(MakeOpFileText({{"GENERAL", general}}) + extra));
  }
  std::vector<std::string> DefaultGeneral() {
    return {"SessionID={1234}", "ResourcePath=" + BinFolderWindowsPath(), "SetupLanguage=1033",
            "LogfilePath=C:\\logs\\"};
  }
  ProgramResult Tarvo(const std::string& method, const std::string& opFile = "C:\\setup\\op.ini") {
    return RunProgram(BinaryPath("tarvo"), {method, opFile}, {{"TARVO_HOST", host_.Folder()}});
  }
  std::vector<std::string> Results() { return SectionLines(FileText(host_.ReadHostFile("C:\\setup\\op.ini")), "RESULTS"); }
  std::string Log(const std::string& path = "C:\\logs\\Tarvo.log") { return MaskTimes(host_.ReadHostFile(path)); }

  TestHost host_;
};

TEST_F(EnvironmentTest, CancelSetFeaturesOnAValidOpFileReturnsZero) {
  host_.Platform().Files().MakeDirectory("C:\\logs");
  WriteOpFile(DefaultGeneral(), "[RESULTS]\r\nErrorOccured=1\r\nErrorMessage=old\r\n");
  const ProgramResult r = Tarvo("CancelSetFeatures");
  EXPECT_EQ(r.exitCode, 0) << r.out;
  EXPECT_EQ(r.out, "Tarvo returned: 0   <-- OK");
  EXPECT_EQ(Results(), (std::vector<std::string>{
                           "ErrorOccured=0", "ErrorMessage=", "CriticalError=0", "CriticalErrorMessage=",
                           "ContainCriticalFeatures=0", "CriticalFeatureError=0", "RebootRequirement=0",
                           "MessageFullPath=C:\\logs\\ReturnedFeatures.xml"}));
  const std::string log = Log();
  EXPECT_NE(log.find("\r\n*** Tarvo X"), std::string::npos);
  EXPECT_NE(log.find("*** Setup-SessionId: {1234}\r\n*** Action: CancelSetFeatures\r\n"), std::string::npos);
  EXPECT_NE(log.find("hh:mm:ss|           |CTarvo::CancelSetFeatures              |CancelSetFeatures is not yet supported"),
            std::string::npos);
  EXPECT_NE(log.find("|CTarvo::CancelSetFeatures   END        |Returncode: 0"), std::string::npos);
  // The repository log holds the same lines after its own first line.
  const std::string repository = Log("C:\\Windows\\Security\\Kelmar\\Tarvo.log");
  EXPECT_EQ(repository.substr(0, 8), "WinLog\r\n");
  EXPECT_NE(repository.find("Returncode: 0"), std::string::npos);
}

// Opening the OPFile cuts the old results and marks the run unfinished in
// one step: the file never holds the previous answer or none.
TEST_F(EnvironmentTest, OpeningTheOpFileMarksTheRunUnfinished) {
  WriteOpFile(DefaultGeneral(), "[RESULTS]\r\nErrorOccured=0\r\nRebootRequirement=2\r\n[Own]\r\nkey=kept\r\n");
  CTarvo tarvo;
  CErrorMgr errorMgr;
  ASSERT_EQ(tarvo.OpenIniFile(errorMgr, "C:\\setup\\op.ini"), 0);
  const std::string unfinished = std::string("=") + kUnfinishedRunMessage;
  EXPECT_EQ(Results(), (std::vector<std::string>{"ErrorOccured=1", "ErrorMessage" + unfinished, "CriticalError=1",
                                                 "CriticalErrorMessage" + unfinished, "ContainCriticalFeatures=0",
                                                 "CriticalFeatureError=0"}));
  EXPECT_EQ(SectionLines(FileText(host_.ReadHostFile("C:\\setup\\op.ini")), "Own"),
            std::vector<std::string>{"key=kept"});
}

TEST_F(EnvironmentTest, UninstallFeaturesLogsItsOwnTexts) {
  WriteOpFile(DefaultGeneral());
  host_.Platform().Files().MakeDirectory("C:\\logs");
  EXPECT_EQ(Tarvo("UninstallFeatures").exitCode, 0);
  const std::string log = Log();
  EXPECT_NE(log.find("UninstallFeatures is not yet supported"), std::string::npos);
  EXPECT_NE(log.find("Uninstall feature has finished..."), std::string::npos);
  EXPECT_NE(log.find("|CTarvo::UninstallFeatures  END         |Returncode: 0"), std::string::npos);
}

TEST_F(EnvironmentTest, LogfilePathVariants) {
  host_.Platform().Files().MakeDirectory("C:\\logs");
  std::vector<std::string> general = DefaultGeneral();
  general.back() = "LogfilePath=C:\\logs\\\\";
  WriteOpFile(general);
  EXPECT_EQ(Tarvo("CancelSetFeatures").exitCode, 0);
  EXPECT_NE(Log("C:\\logs\\Tarvo.log").find("Returncode: 0"), std::string::npos);
  // A file in a missing folder: the log goes to the user's temporary folder, with a warning.
  general.back() = "LogfilePath=C:\\missing\\my.log";
  WriteOpFile(general);
  EXPECT_EQ(Tarvo("CancelSetFeatures").exitCode, 0);
  const std::string temp = Log("C:\\Users\\tester\\AppData\\Local\\Temp\\Tarvo.log");
  EXPECT_NE(temp.find("|ADS_WARNING|CTarvo::GetLogFileName                 |Given logfile is not writeable: "
                      "'C:\\missing\\my.log'.  Use user temp: 'C:\\Users\\tester\\AppData\\Local\\Temp\\Tarvo.log'"),
            std::string::npos);
  EXPECT_FALSE(std::filesystem::exists(host_.HostPath("C:\\missing")));
  // A trailing backslash names a folder, also a missing one.
  general.back() = "LogfilePath=C:\\missing\\";
  WriteOpFile(general);
  EXPECT_EQ(Tarvo("CancelSetFeatures").exitCode, 0);
  EXPECT_NE(Log("C:\\Users\\tester\\AppData\\Local\\Temp\\Tarvo.log")
                .find("|Given logfile is not writeable: 'C:\\missing\\Tarvo.log'."),
            std::string::npos);
  EXPECT_FALSE(std::filesystem::exists(host_.HostPath("C:\\missing")));
}

// LogfilePath may name a log file, but no file of someone else's: the
// OPFile itself (in whatever spelling) or a file that is not 8-bit text.
TEST_F(EnvironmentTest, LogfilePathNamingAFileThatIsNoLogIsRefused) {
  const std::string temp = "C:\\Users\\tester\\AppData\\Local\\Temp\\Tarvo.log";
  const std::vector<std::string> general = {"ResourcePath=" + BinFolderWindowsPath(), "SetupLanguage=1033"};
  const std::string unicodeIni = Utf16FileBytes("[A]\r\nk=v\r\n");
  host_.WriteHostFile("C:\\other.ini", unicodeIni);
  host_.WriteHostFile("C:\\logs\\my.log", "an older log line\r\n");
  for (const auto& [logfilePath, refused] :
       {std::pair<std::string, bool>{"c:\\SETUP\\op.ini", true}, {"C:\\other.ini", true}, {"C:\\logs\\my.log", false}}) {
    std::vector<std::string> lines = general;
    lines.push_back("LogfilePath=" + logfilePath);
    host_.WriteHostFile("C:\\setup\\op.ini", MakeOpFileText({{"GENERAL", lines}}));  // 8-bit text
    std::filesystem::remove(host_.HostPath(temp));
    EXPECT_EQ(Tarvo("CancelSetFeatures").exitCode, 0) << logfilePath;
    EXPECT_EQ(host_.ReadHostFile("C:\\setup\\op.ini").find("***"), std::string::npos) << logfilePath;
    const std::string warning = "|Given logfile is not writeable: '" + logfilePath + "'.";
    EXPECT_EQ(std::filesystem::exists(host_.HostPath(temp)) && Log(temp).find(warning) != std::string::npos, refused)
        << logfilePath;
  }
  EXPECT_EQ(host_.ReadHostFile("C:\\other.ini"), unicodeIni);
  EXPECT_NE(host_.ReadHostFile("C:\\logs\\my.log").find("an older log line\r\n\r\n*** Tarvo"), std::string::npos);
}

TEST_F(EnvironmentTest, MissingSetupLanguageEndsWithFiveAfterTheHeader) {
  WriteOpFile({"ResourcePath=" + BinFolderWindowsPath(), "LogfilePath=C:\\"});
  EXPECT_EQ(Tarvo("CancelSetFeatures").exitCode, 5);
  const std::string log = Log("C:\\Tarvo.log");
  const size_t header = log.find("*** Action: CancelSetFeatures");
  const size_t critical = log.find("|CRIT_ERROR |CTarvo::OpenResources                  |Internal Error: Attribut "
                                   "'SetupLanguage' in Section 'GENERAL' not found in OPfile");
  ASSERT_NE(critical, std::string::npos);
  EXPECT_LT(header, critical);
  EXPECT_NE(FileText(host_.ReadHostFile("C:\\setup\\op.ini")).find("CriticalError=1"), std::string::npos);
}

TEST_F(EnvironmentTest, BadOpFilesGiveTheirExitCodes) {
  ProgramResult missing = Tarvo("CancelSetFeatures", "C:\\nothing.ini");
  EXPECT_EQ(missing.exitCode, 1);
  EXPECT_EQ(missing.out, "!! Internal communication file for Tarvo was not found !!\nTarvo returned: 1   <-- Error occured");
  host_.WriteHostFile("C:\\setup\\op.ini", Utf16FileBytes("[Product1]\r\nSecurityXML1=a.xml\r\n"));
  ProgramResult noGeneral = Tarvo("CancelSetFeatures");
  EXPECT_EQ(noGeneral.exitCode, 3);
  EXPECT_EQ(noGeneral.out, "!! invalid internal communication file for Tarvo !!\nTarvo returned: 3   <-- Error occured");
  // The results name the cause; no key is left empty for a setup to read as 0.
  const std::string cause = "Internal Error: Attribut 'ResourcePath' in Section 'GENERAL' not found in OPfile";
  EXPECT_EQ(Results(), (std::vector<std::string>{"ErrorOccured=1", "ErrorMessage=" + cause, "CriticalError=1",
                                                 "CriticalErrorMessage=" + cause, "ContainCriticalFeatures=0",
                                                 "CriticalFeatureError=0", "RebootRequirement=0",
                                                 "MessageFullPath=ReturnedFeatures.xml"}));
  // No language file anywhere: English is asked for as the primary language, so the miss is a warning.
  WriteOpFile({"ResourcePath=C:\\nowhere", "SetupLanguage=1031", "LogfilePath=C:\\"});
  EXPECT_EQ(Tarvo("CancelSetFeatures").exitCode, 0);
  EXPECT_NE(Log("C:\\Tarvo.log").find("|ADS_WARNING|CResourceMgr::LoadResourceP            |The primary ressource file "
                                       "C:\\nowhere\\Tarvo_1033.ulf could not be found"),
            std::string::npos);
  WriteOpFile({"ResourcePath=" + BinFolderWindowsPath(), "SetupLanguage=abc", "LogfilePath=C:\\"});
  EXPECT_EQ(Tarvo("CancelSetFeatures").exitCode, 0);
  host_.Platform().Files().SetReadOnly("C:\\setup\\op.ini", true);
  EXPECT_EQ(Tarvo("CancelSetFeatures").exitCode, 4);
}

// A file that is not INI text never gets a [RESULTS] section appended: one
// without ResourcePath ends with 3, one with it with 4, and both stay as they were.
TEST_F(EnvironmentTest, ABinaryOpFileIsLeftAsItIs) {
  const std::string binary = std::string("\x89PNG\r\n\x1A\n\0\0\0\rIHDR\r\n", 18);
  for (const auto& [tail, exitCode] : {std::pair<std::string, int>{"[GENERAL]\r\nSetupLanguage=1033\r\n", 3},
                                       {"[GENERAL]\r\nResourcePath=C:\\\r\nSetupLanguage=1033\r\n", 4}}) {
    host_.WriteHostFile("C:\\setup\\op.ini", binary + tail);
    EXPECT_EQ(Tarvo("CancelSetFeatures").exitCode, exitCode);
    EXPECT_EQ(host_.ReadHostFile("C:\\setup\\op.ini"), binary + tail);
  }
}

// A setup holding the OPFile locked: it is found but cannot be read.
class UnreadableFile : public plat::ForwardingFiles {
 public:
  UnreadableFile(plat::IFiles& base, std::string path) : ForwardingFiles(base), path_(std::move(path)) {}
  uint32_t OpenStream(std::string_view path, plat::OpenMode mode, std::unique_ptr<plat::IFileStream>* stream) override {
    if (mode == plat::OpenMode::kRead && text::EqualsNoCase(path, path_)) return winerr::kSharingViolation;
    return ForwardingFiles::OpenStream(path, mode, stream);
  }

 private:
  std::string path_;
};

TEST_F(EnvironmentTest, AnUnreadableOpFileStillGetsEveryResultKey) {
  WriteOpFile(DefaultGeneral());
  UnreadableFile files(host_.Platform().Files(), "C:\\setup\\op.ini");
  plat::ForwardingPlatform platform(host_.Platform());
  platform.SetFiles(&files);
  plat::ScopedPlatform installed(platform);
  CTarvo tarvo;
  CErrorMgr errorMgr;
  ASSERT_EQ(tarvo.InitEnvironment(errorMgr, "C:\\setup\\op.ini", "CancelSetFeatures"), 2);
  SetResults(tarvo.OpFile(), errorMgr);
  const auto result = [&](const char* key) { return tarvo.OpFile().GetValue(kResultsSection, key); };
  EXPECT_EQ(result("ErrorOccured"), "1");
  EXPECT_EQ(result("ErrorMessage").rfind("Can not read C:\\setup\\op.ini, errorcode=32", 0), 0u);
  EXPECT_EQ(result("CriticalError"), "1");
  EXPECT_EQ(result("RebootRequirement"), "0");
}

TEST_F(EnvironmentTest, ARepositoryFolderThatCannotBeCreatedGivesFive) {
  std::filesystem::remove_all(host_.HostPath("C:\\Windows\\security"));
  WriteOpFile(DefaultGeneral());
  host_.Platform().Files().MakeDirectory("C:\\logs");
  EXPECT_EQ(Tarvo("CancelSetFeatures").exitCode, 5);
  EXPECT_NE(Log().find("|CRIT_ERROR |CTarvo::GetLogFileInRepositoryDir      |Error trying to create the repository "
                       "folder 'C:\\Windows\\Security\\Kelmar'"),
            std::string::npos);
}

}  // namespace
