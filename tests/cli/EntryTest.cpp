#include <gtest/gtest.h>

#include <filesystem>

#include "cli/Entry.h"
#include "infra/BuildInfo.h"
#include "platform/Registry.h"
#include "support/RunProgram.h"
#include "support/TestHost.h"

namespace {

class TarvoProgramTest : public ::testing::Test {
 protected:
  ProgramResult Tarvo(const std::vector<std::string>& args, int timeoutMs = 60000) {
    return RunProgram(BinaryPath("tarvo"), args, {{"TARVO_HOST", host_.Folder()}}, "", timeoutMs);
  }
  void SetLoggingLevel(const std::string& text) {
    plat::IRegistry& reg = host_.Platform().Registry();
    plat::HKey key = plat::kNullKey;
    ASSERT_EQ(reg.CreateKey(plat::kHkeyLocalMachine, "SOFTWARE\\Norvale\\OXLAN\\Global", plat::kKeyAllAccess, &key,
                            nullptr),
              0u);
    reg.SetValue(key, "LOGGINGLEVEL", plat::kRegSz, plat::MakeRegSz(text));
    reg.CloseKey(key);
  }
  // The exit-trace values in the Global key, as "name=data".
  std::vector<std::string> ExitTraces() {
    plat::IRegistry& reg = host_.Platform().Registry();
    plat::HKey key = plat::kNullKey;
    std::vector<std::string> traces;
    if (reg.OpenKey(plat::kHkeyLocalMachine, "SOFTWARE\\Norvale\\OXLAN\\Global", plat::kKeyRead, &key) != 0) {
      return traces;
    }
    std::string name;
    plat::RegValue value;
    for (uint32_t i = 0; reg.EnumValue(key, i, &name, &value) == 0; ++i) {
      if (name != "LOGGINGLEVEL") traces.push_back(name + "=" + plat::RegSzText(value.data));
    }
    reg.CloseKey(key);
    return traces;
  }
  TestHost host_;
};

// The usage text as a setup's documentation shows it, line by line.
const char* const kExpectedUsage[] = {
    "Use only with two or 3 paramters in this way:\n\n",
    "Tarvo_[Platform].exe [[Method] [path]\\[Opfile]] | [MaskUnicodeCharacters [path]\\[XMLInput.xml] "
    "[path]\\[XMLOutput.xml]]\n",
    "Valid method names:\n",
    "  ReturnFeatures\n",
    "  ApplyFeatures\n",
    "  MaskUnicodeCharacters\n",
    "  ExportFirewallFeatures\n",
    "  ImportAndApplyFirewallFeatures\n",
    "  CancelSetFeatures\n\n",
    "Example:  Tarvo_Win32.exe ReturnFeatures \"c:\\this path\\Opfile.ini\"\n",
    "Example:  Tarvo_Win32.exe MaskUnicodeCharacters \"c:\\path\\ReturnFeatures_Input.xml\" "
    "\"c:\\out path\\ReturnFeatures_Output.xml\"\n\n",
    "Example:  Tarvo_Win32.exe ExportFirewallFeatures \"2014_11_10__11_01_37\"\n",
    "Outputvalues are:\n",
    " 0 = no error occured\n",
    " 1 = internal communication file was not found (OPFile.ini)\n",
    " 2 = cannot read internal communication file (OPFile.ini)\n",
    " 3 = invalid internal communication file for OPFile.ini)\n",
    " 4 = cannot write internal communication file (OPFile.ini)\n",
    " 5 = the primary and also the backup language could be loaded\n",
    " 6 = feature xml with language resources could not be Create\n",
    " 8 = Invalid access method\n",
    " 9 = internal error\n",
    "10 = general error\n",
};

std::string ExpectedUsage() {
  std::string text;
  for (const char* line : kExpectedUsage) text += line;
  return text;
}

TEST_F(TarvoProgramTest, UsageTextIsPrintedByteForByteForASingleArgument) {
  const ProgramResult r = Tarvo({"ReturnFeatures"});
  EXPECT_EQ(r.exitCode, 8);
  EXPECT_EQ(r.out, ExpectedUsage());
  EXPECT_EQ(Tarvo({}).out, ExpectedUsage());
}

TEST_F(TarvoProgramTest, UnknownMethodsPrintUsageAndTheErrorLine) {
  const ProgramResult r = Tarvo({"foo", "bar"});
  EXPECT_EQ(r.exitCode, 8);
  EXPECT_EQ(r.out, ExpectedUsage() + "Tarvo returned: 8   <-- Error occured");
  // Blanks around a method name are not trimmed.
  EXPECT_EQ(Tarvo({" dummy", "x"}).exitCode, 8);
}

TEST_F(TarvoProgramTest, DummyReturnsZeroInAnyCaseAndOrder) {
  ProgramResult r = Tarvo({"dummy", "anything"});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.out, "Tarvo returned: 0   <-- OK");
  EXPECT_EQ(Tarvo({"anything", "DUMMY"}).exitCode, 0);
  EXPECT_EQ(Tarvo({"DuMmY", "x", "y", "z"}).exitCode, 0);
}

TEST_F(TarvoProgramTest, MethodsRunInBothOrders) {
  // A missing OPFile ends either method with 1, and nothing is created.
  EXPECT_EQ(Tarvo({"RETURNFEATURES", "C:\\op.ini"}).out,
            "!! Internal communication file for Tarvo was not found !!\nTarvo returned: 1   <-- Error occured");
  EXPECT_EQ(Tarvo({"C:\\op.ini", "ApplyFeatures"}).exitCode, 1);
  EXPECT_FALSE(std::filesystem::exists(host_.HostPath("C:\\op.ini")));
  // A snapshot name without a snapshot: its OPFile is missing too.
  EXPECT_EQ(Tarvo({"2015_12_07__10_00_00", "ImportAndApplyFirewallFeatures"}).exitCode, 1);
}

TEST_F(TarvoProgramTest, DebugSwitchWaitsForADebuggerWhateverItsCase) {
  const ProgramResult r = Tarvo({"ReturnFeatures", "C:\\op.ini", "-D"}, 1500);
  EXPECT_TRUE(r.timedOut);
  EXPECT_EQ(r.out, "Started in Debug-Mode. Please attach a debugger in order to proceed");
  // In the reversed order the wait prints nothing.
  const ProgramResult reversed = Tarvo({"C:\\op.ini", "ReturnFeatures", "-d"}, 1500);
  EXPECT_TRUE(reversed.timedOut);
  EXPECT_EQ(reversed.out, "");
  // "-d" as the second of two arguments is not the switch.
  EXPECT_FALSE(Tarvo({"dummy", "-d"}).timedOut);
}

TEST_F(TarvoProgramTest, ExitTraceFollowsTheLoggingLevel) {
  SetLoggingLevel("10");
  Tarvo({"dummy", "x"});
  EXPECT_TRUE(ExitTraces().empty());
  SetLoggingLevel("11abc");
  Tarvo({"foo", "bar"});
  const auto traces = ExitTraces();
  ASSERT_EQ(traces.size(), 1u);
  // The host's virtual clock starts at 2015-12-07 10:00:00.
  EXPECT_EQ(traces[0], "12.07_10:00:00_E=ReturnValue= 8");
}

TEST(LoggingLevelTest, ReadsLikeAtol) {
  EXPECT_EQ(LoggingLevelOf("11"), 11);
  EXPECT_EQ(LoggingLevelOf("  +12x"), 12);
  EXPECT_EQ(LoggingLevelOf("abc"), 0);
  EXPECT_EQ(LoggingLevelOf("-3"), -3);
}

TEST(MethodNameTest, MatchesWholeNamesIgnoringCase) {
  EXPECT_TRUE(IsValidMethodName("ImportAndApplyFirewallFeatures"));
  EXPECT_TRUE(IsValidMethodName("uninstallfeatures"));
  EXPECT_FALSE(IsValidMethodName("ReturnFeatures "));
  EXPECT_FALSE(IsValidMethodName("Return"));
  EXPECT_FALSE(IsValidMethodName(""));
}

}  // namespace

namespace {

TEST_F(TarvoProgramTest, MaskUnicodeCharactersRunsOnPosixPaths) {
  const std::string folder = MakeTempFolder("tarvo-mask");
  const std::string input = folder + "/in.xml";
  {
    FILE* f = fopen(input.c_str(), "wb");
    fputs("Pr\xFC" "fung \x80\r\n", f);  // code page 1252: u umlaut and the euro sign
    fclose(f);
  }
  const ProgramResult r = Tarvo({"MaskUnicodeCharacters", input, folder + "/out.xml"});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.out, "Tarvo returned: 0   <-- OK");
  FILE* f = fopen((folder + "/out.xml").c_str(), "rb");
  ASSERT_NE(f, nullptr);
  std::string bytes(256, '\0');
  bytes.resize(fread(bytes.data(), 1, bytes.size(), f));
  fclose(f);
  const std::u16string expected = u"\uFEFFPr\u00FCfung \u00B2u8364&amp;\n";
  EXPECT_EQ(bytes, std::string(reinterpret_cast<const char*>(expected.data()), expected.size() * 2));
  // An output in a missing folder gives 3 and creates nothing.
  EXPECT_EQ(Tarvo({"MaskUnicodeCharacters", input, folder + "/missing/out.xml"}).exitCode, 3);
  EXPECT_FALSE(std::filesystem::exists(folder + "/missing"));
  // Only one path: the output path is empty.
  EXPECT_EQ(Tarvo({"maskunicodecharacters", input}).exitCode, 3);
  std::filesystem::remove_all(folder);
}

TEST_F(TarvoProgramTest, ArgumentsThatAreNotUtf8AreTakenAsCodePage1252) {
  const ProgramResult r = Tarvo({"MaskUnicodeCharacters", "/tmp/\xE4\xFF-missing.xml", "/tmp/out.xml"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.out, "Tarvo returned: 1   <-- Error occured");
}

}  // namespace
