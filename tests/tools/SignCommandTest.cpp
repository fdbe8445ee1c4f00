// End-to-end tests of "tarvo-host sign": the built binary writes the
// checksum into copies of security files in a temporary folder, keeping
// their encoding, and checks it, naming the file when it does not match.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

#include "support/RunProgram.h"
#include "support/TestHost.h"

namespace {

namespace fs = std::filesystem;

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

class SignCommandTest : public ::testing::Test {
 protected:
  SignCommandTest() : folder_(MakeTempFolder("tarvo-sign-cmd")) {
    fs::create_directories(folder_ + "/files");
    for (const char* name : {"ControlStation.xml", "DataServer.xml"}) {
      fs::copy_file(std::string(TARVO_SOURCE_DIR) + "/examples/" + name, Path(name));
    }
  }
  ~SignCommandTest() override {
    std::error_code ec;
    fs::remove_all(folder_, ec);
  }

  std::string Path(const std::string& name) const { return folder_ + "/files/" + name; }

  ProgramResult Run(const std::vector<std::string>& args, const std::string& cwd = "") {
    return RunProgram(BinaryPath("tarvo-host"), args, {{"TARVO_HOST", folder_ + "/host"}, {"USER", "tester"}}, cwd);
  }

  // Replaces the first `from` in a UTF-8 file.
  void Edit(const std::string& name, const std::string& from, const std::string& to) {
    std::string text = ReadFile(Path(name));
    const size_t at = text.find(from);
    ASSERT_NE(at, std::string::npos);
    WriteFile(Path(name), text.replace(at, from.size(), to));
  }

  // Replaces the stored checksum of a UTF-8 file.
  void SetStoredChecksum(const std::string& name, const std::string& value) {
    const std::string text = ReadFile(Path(name));
    const std::regex checksum("<t:checksum value=\"[^\"]*\"/>");
    ASSERT_TRUE(std::regex_search(text, checksum));
    WriteFile(Path(name), std::regex_replace(text, checksum, "<t:checksum value=\"" + value + "\"/>"));
  }

  std::string folder_;
};

TEST_F(SignCommandTest, SignThenVerify) {
  const std::string file = Path("ControlStation.xml");
  const ProgramResult sign = Run({"sign", file});
  ASSERT_EQ(sign.exitCode, 0) << sign.err;
  EXPECT_EQ(sign.out.rfind(file + ": signed, checksum ", 0), 0u) << sign.out;
  const ProgramResult verify = Run({"sign", "--verify", file});
  EXPECT_EQ(verify.exitCode, 0) << verify.err;
  EXPECT_EQ(verify.out, file + ": checksum ok\n");
  EXPECT_EQ(verify.err, "");
}

TEST_F(SignCommandTest, AChangedFileFailsNamingIt) {
  const std::string file = Path("ControlStation.xml");
  ASSERT_EQ(Run({"sign", file}).exitCode, 0);
  Edit("ControlStation.xml", "CS Operators", "CS Operatorz");
  const ProgramResult verify = Run({"sign", "--verify", file});
  EXPECT_EQ(verify.exitCode, 1);
  EXPECT_EQ(verify.out, "");
  EXPECT_TRUE(Has(verify.err, "tarvo-host: " + file + ": checksum mismatch (stored '")) << verify.err;
  // Signing again makes it pass.
  ASSERT_EQ(Run({"sign", file}).exitCode, 0);
  EXPECT_EQ(Run({"sign", "--verify", file}).exitCode, 0);
}

TEST_F(SignCommandTest, AnUnsignedFileFails) {
  const std::string file = Path("ControlStation.xml");
  SetStoredChecksum("ControlStation.xml", "");
  const ProgramResult verify = Run({"sign", "--verify", file});
  EXPECT_EQ(verify.exitCode, 1);
  EXPECT_TRUE(Has(verify.err, file + ": checksum mismatch (stored '', computed '")) << verify.err;
}

TEST_F(SignCommandTest, SigningKeepsTheEncoding) {
  SetStoredChecksum("ControlStation.xml", "");
  ASSERT_EQ(Run({"sign", Path("DataServer.xml")}).exitCode, 0);
  ASSERT_EQ(Run({"sign", Path("ControlStation.xml")}).exitCode, 0);
  const std::string utf16 = ReadFile(Path("DataServer.xml"));
  EXPECT_EQ(utf16.substr(0, 4), std::string("\xFF\xFE<\0", 4));
  const std::string utf8 = ReadFile(Path("ControlStation.xml"));
  EXPECT_EQ(utf8.rfind("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n", 0), 0u);
  EXPECT_TRUE(Has(utf8, "<t:checksum value=\"")) << utf8;
  EXPECT_FALSE(Has(utf8, "<t:checksum value=\"\"/>")) << utf8;
}

TEST_F(SignCommandTest, WindowsAndRelativePathsNameTheSameFile) {
  const std::string windows = "Z:" + fs::path(Path("DataServer.xml")).string();
  ASSERT_EQ(Run({"sign", windows}).exitCode, 0);
  const ProgramResult relative = Run({"sign", "--verify", "files\\DataServer.xml"}, folder_);
  EXPECT_EQ(relative.exitCode, 0) << relative.err;
  EXPECT_EQ(relative.out, "files\\DataServer.xml: checksum ok\n");
  const ProgramResult json = Run({"--json", "sign", "--verify", "files/DataServer.xml"}, folder_);
  EXPECT_EQ(json.exitCode, 0) << json.err;
  EXPECT_TRUE(Has(json.out, "{\"file\":\"files/DataServer.xml\",\"ok\":true,\"stored\":\"")) << json.out;
}

TEST_F(SignCommandTest, FilesThatCannotBeSignedAreLeftAlone) {
  const std::string noContainer = Path("NoProducts.xml");
  const std::string text = "<t:vscSetup xmlns:t=\"urn:example\"><t:host/></t:vscSetup>\n";
  WriteFile(noContainer, text);
  const ProgramResult sign = Run({"sign", noContainer});
  EXPECT_EQ(sign.exitCode, 1);
  EXPECT_TRUE(Has(sign.err, noContainer + ": not signed: The root node where the t:checksum node")) << sign.err;
  EXPECT_EQ(ReadFile(noContainer), text);
  const ProgramResult verify = Run({"sign", "--verify", noContainer});
  EXPECT_EQ(verify.exitCode, 1);
  EXPECT_TRUE(Has(verify.err, noContainer + ": checksum cannot be computed: The checksum node could not be found!"))
      << verify.err;

  const std::string broken = Path("Broken.xml");
  WriteFile(broken, "<t:vscSetup>");
  const ProgramResult load = Run({"sign", broken});
  EXPECT_EQ(load.exitCode, 1);
  EXPECT_TRUE(Has(load.err, broken + ": cannot be loaded (code 1392): ")) << load.err;
  EXPECT_EQ(ReadFile(broken), "<t:vscSetup>");
}

TEST_F(SignCommandTest, BadCalls) {
  const ProgramResult missing = Run({"sign", Path("Missing.xml")});
  EXPECT_EQ(missing.exitCode, 1);
  EXPECT_EQ(missing.err, "tarvo-host: " + Path("Missing.xml") + ": no such file\n");
  EXPECT_EQ(Run({"sign"}).err, "tarvo-host: sign: a file is needed\n");
  EXPECT_EQ(Run({"sign", "a.xml", "b.xml"}).exitCode, 1);
  EXPECT_EQ(Run({"sign", "--check", "a.xml"}).err, "tarvo-host: sign: unknown option '--check'\n");
}

TEST(SignExamples, TheShippedSecurityFilesVerify) {
  const std::string folder = MakeTempFolder("tarvo-sign-examples");
  for (const char* name : {"ControlStation.xml", "DataServer.xml"}) {
    const std::string file = std::string(TARVO_SOURCE_DIR) + "/examples/" + name;
    const ProgramResult r = RunProgram(BinaryPath("tarvo-host"), {"sign", "--verify", file}, {{"TARVO_HOST", folder}});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, file + ": checksum ok\n");
  }
  std::error_code ec;
  fs::remove_all(folder, ec);
}

}  // namespace
