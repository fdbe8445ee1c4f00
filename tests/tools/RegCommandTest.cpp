// End-to-end tests of "tarvo-host reg": the built binary against hosts in
// temporary folders, checked through its exit code, output and files.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/text/Text.h"
#include "support/RunProgram.h"
#include "support/TestHost.h"

namespace {

namespace fs = std::filesystem;

const char* const kKey = "HKLM\\SOFTWARE\\Tarvo\\Test";
const char* const kKeyFull = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Tarvo\\Test";
const char* const kNotFound =
    "tarvo-host: reg: the system was unable to find the specified registry key or value\n";

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

void WriteFile(const std::string& path, std::string_view bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

class RegCommandTest : public ::testing::Test {
 protected:
  RegCommandTest() : folder_(MakeTempFolder("tarvo-reg")), host_(folder_ + "/host") {}
  ~RegCommandTest() override {
    std::error_code ec;
    fs::remove_all(folder_, ec);
  }

  ProgramResult Run(const std::vector<std::string>& args, const std::string& hostFolder) {
    return RunProgram(TARVO_BIN_DIR "/tarvo-host", args, {{"TARVO_HOST", hostFolder}});
  }
  ProgramResult Run(const std::vector<std::string>& args) { return Run(args, host_); }

  // Runs a call that must succeed with reg's confirmation line.
  void Ok(const std::vector<std::string>& args, const std::string& hostFolder) {
    const ProgramResult r = Run(args, hostFolder);
    EXPECT_EQ(r.exitCode, 0) << args[1] << ": " << r.err;
    EXPECT_EQ(r.out, "The operation completed successfully.\n") << args[1];
  }
  void Ok(const std::vector<std::string>& args) { Ok(args, host_); }

  void AddSampleValues() {
    Ok({"reg", "add", kKey, "/v", "Name", "/d", "hello world"});
    Ok({"reg", "add", kKey, "/v", "Count", "/t", "REG_DWORD", "/d", "0x2a"});
    Ok({"reg", "add", kKey, "/v", "List", "/t", "REG_MULTI_SZ", "/d", "a\\0b c"});
    Ok({"reg", "add", kKey, "/v", "Blob", "/t", "REG_BINARY", "/d", "DEADbeef"});
    Ok({"reg", "add", kKey, "/ve", "/d", "the default"});
    Ok({"reg", "add", kKey, "/v", "Big", "/t", "REG_QWORD", "/d", "18446744073709551615"});
    Ok({"reg", "add", kKey, "/v", "Path", "/t", "REG_EXPAND_SZ", "/d", "%SystemRoot%\\x"});
    Ok({"reg", "add", kKey, "/v", "Nothing", "/t", "REG_NONE"});
    Ok({"reg", "add", std::string(kKey) + "\\Sub", "/v", "Inner", "/t", "REG_DWORD", "/d", "7"});
  }

  std::string folder_;
  std::string host_;
};

const char* const kSampleQuery =
    "\n"
    "HKEY_LOCAL_MACHINE\\SOFTWARE\\Tarvo\\Test\n"
    "    Name    REG_SZ    hello world\n"
    "    Count    REG_DWORD    0x2a\n"
    "    List    REG_MULTI_SZ    a\\0b c\n"
    "    Blob    REG_BINARY    DEADBEEF\n"
    "    (Default)    REG_SZ    the default\n"
    "    Big    REG_QWORD    0xffffffffffffffff\n"
    "    Path    REG_EXPAND_SZ    %SystemRoot%\\x\n"
    "    Nothing    REG_NONE    \n"
    "\n"
    "HKEY_LOCAL_MACHINE\\SOFTWARE\\Tarvo\\Test\\Sub\n";

TEST_F(RegCommandTest, AddQueryExportImportDelete) {
  const ProgramResult init = Run({"init", "--clock", "virtual"});
  ASSERT_EQ(init.exitCode, 0) << init.err;
  AddSampleValues();

  ProgramResult r = Run({"reg", "query", kKey});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, kSampleQuery);

  r = Run({"reg", "query", "hkey_local_machine\\SOFTWARE\\Tarvo\\Test", "/v", "count"});
  EXPECT_EQ(r.out, "\nHKEY_LOCAL_MACHINE\\SOFTWARE\\Tarvo\\Test\n    Count    REG_DWORD    0x2a\n");

  r = Run({"reg", "query", kKey, "/s"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.out.find("\n\nHKEY_LOCAL_MACHINE\\SOFTWARE\\Tarvo\\Test\\Sub\n    Inner    REG_DWORD    0x7\n\n"),
            std::string::npos)
      << r.out;

  r = Run({"--json", "reg", "query", std::string(kKey) + "\\Sub"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out,
            "{\"key\":\"HKEY_LOCAL_MACHINE\\\\SOFTWARE\\\\Tarvo\\\\Test\\\\Sub\",\"values\":[{\"name\":\"Inner\","
            "\"type\":\"REG_DWORD\",\"typeNumber\":4,\"data\":\"0x7\",\"bytes\":\"07000000\"}],\"subKeys\":[]}\n");
  r = Run({"reg", "query", kKey, "/v", "List", "/s", "--json"});
  EXPECT_EQ(r.out,
            "[{\"key\":\"HKEY_LOCAL_MACHINE\\\\SOFTWARE\\\\Tarvo\\\\Test\",\"values\":[{\"name\":\"List\","
            "\"type\":\"REG_MULTI_SZ\",\"typeNumber\":7,\"data\":\"a\\\\0b c\",\"bytes\":\"610000006200200063000000"
            "0000\",\"items\":[\"a\",\"b c\"]}],\"subKeys\":[\"Sub\"]}]\n");

  const std::string file = folder_ + "/export.reg";
  Ok({"reg", "export", "HKLM\\SOFTWARE\\Tarvo", file});
  const std::string bytes = ReadFile(file);
  ASSERT_GE(bytes.size(), 2u);
  EXPECT_EQ(bytes.substr(0, 2), "\xFF\xFE");
  EXPECT_NE(text::Utf16ToUtf8(text::Utf16LeBytesToUtf16(bytes.substr(2))).find("\"Count\"=dword:0000002a\r\n"),
            std::string::npos);

  const std::string fresh = folder_ + "/fresh";
  Ok({"reg", "import", file}, fresh);
  r = Run({"reg", "query", kKey}, fresh);
  EXPECT_EQ(r.out, kSampleQuery);

  Ok({"reg", "delete", kKey, "/v", "Name", "/f"});
  r = Run({"reg", "query", kKey, "/v", "Name"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.err, kNotFound);
  Ok({"reg", "delete", kKey, "/ve", "/f"});
  r = Run({"reg", "query", kKey, "/ve"});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.out, std::string("\n") + kKeyFull + "\n    (Default)    REG_SZ    (value not set)\n");
  Ok({"reg", "delete", kKey, "/va", "/f"});
  r = Run({"reg", "query", kKey});
  EXPECT_EQ(r.out, std::string("\n") + kKeyFull + "\n\n" + kKeyFull + "\\Sub\n");  // sub keys stay
  Ok({"reg", "delete", kKey, "/f"});
  r = Run({"reg", "query", kKey});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.err, kNotFound);
  EXPECT_EQ(r.out, "");
  // The other host kept its copy.
  EXPECT_EQ(Run({"reg", "query", kKey}, fresh).out, kSampleQuery);
}

TEST_F(RegCommandTest, ViewsSelectTheRedirectedKeys) {
  Ok({"reg", "add", "HKLM\\SOFTWARE\\Bits", "/v", "View", "/d", "32", "/reg:32"});
  Ok({"reg", "add", "HKLM\\SOFTWARE\\Bits", "/v", "View", "/d", "64", "/reg:64"});
  EXPECT_NE(Run({"reg", "query", "HKLM\\SOFTWARE\\Bits", "/reg:32"}).out.find("View    REG_SZ    32\n"),
            std::string::npos);
  EXPECT_NE(Run({"reg", "query", "HKLM\\SOFTWARE\\Bits"}).out.find("View    REG_SZ    64\n"), std::string::npos);
  EXPECT_NE(Run({"reg", "query", "HKLM\\SOFTWARE\\Wow6432Node\\Bits"}).out.find("View    REG_SZ    32\n"),
            std::string::npos);

  const std::string file = folder_ + "/bits32.reg";
  Ok({"reg", "export", "HKLM\\SOFTWARE\\Bits", file, "/reg:32"});
  const std::string fresh = folder_ + "/fresh";
  Ok({"reg", "import", file, "/reg:32"}, fresh);
  EXPECT_EQ(Run({"reg", "query", "HKLM\\SOFTWARE\\Bits", "/reg:64"}, fresh).exitCode, 1);
  EXPECT_NE(Run({"reg", "query", "HKLM\\SOFTWARE\\Bits", "/reg:32"}, fresh).out.find("View    REG_SZ    32\n"),
            std::string::npos);
}

TEST_F(RegCommandTest, AddParsesDataAsRegDoes) {
  Ok({"reg", "add", kKey, "/v", "Dec", "/t", "reg_dword", "/d", "4294967295"});
  Ok({"reg", "add", kKey, "/v", "Zero", "/t", "REG_DWORD"});
  Ok({"reg", "add", kKey, "/v", "Sep", "/t", "REG_MULTI_SZ", "/d", "x#y#", "/s", "#"});
  Ok({"reg", "add", kKey, "/v", "Empty", "/t", "REG_BINARY", "/d", ""});
  Ok({"reg", "add", kKey, "-v", "Dash", "-d", "/not/an/option"});
  const ProgramResult r = Run({"--json", "reg", "query", kKey});
  EXPECT_NE(r.out.find("\"name\":\"Dec\",\"type\":\"REG_DWORD\",\"typeNumber\":4,\"data\":\"0xffffffff\""),
            std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("\"name\":\"Zero\",\"type\":\"REG_DWORD\",\"typeNumber\":4,\"data\":\"0x0\""),
            std::string::npos);
  EXPECT_NE(r.out.find("\"items\":[\"x\",\"y\"]"), std::string::npos);
  EXPECT_NE(r.out.find("\"name\":\"Empty\",\"type\":\"REG_BINARY\",\"typeNumber\":3,\"data\":\"\",\"bytes\":\"\""),
            std::string::npos);
  EXPECT_NE(r.out.find("\"name\":\"Dash\",\"type\":\"REG_SZ\",\"typeNumber\":1,\"data\":\"/not/an/option\""),
            std::string::npos);

  // An existing value needs /f, and stays as it was without it.
  ProgramResult again = Run({"reg", "add", kKey, "/v", "Dec", "/t", "REG_DWORD", "/d", "1"});
  EXPECT_EQ(again.exitCode, 1);
  EXPECT_NE(again.err.find("exists (add /f to overwrite it)"), std::string::npos) << again.err;
  EXPECT_NE(Run({"reg", "query", kKey, "/v", "Dec"}).out.find("0xffffffff"), std::string::npos);
  Ok({"reg", "add", kKey, "/v", "Dec", "/t", "REG_DWORD", "/d", "1", "/f"});
  EXPECT_NE(Run({"reg", "query", kKey, "/v", "Dec"}).out.find("REG_DWORD    0x1\n"), std::string::npos);
}

TEST_F(RegCommandTest, BadCallsExitOneWithAOneLineMessage) {
  const std::vector<std::vector<std::string>> calls = {
      {"reg"},
      {"reg", "frobnicate"},
      {"reg", "query"},
      {"reg", "query", kKey, "extra"},
      {"reg", "query", "HKXX\\SOFTWARE"},
      {"reg", "query", "\\\\server\\HKLM\\SOFTWARE"},
      {"reg", "query", kKey, "/t", "REG_SZ"},
      {"reg", "query", kKey, "/reg:32", "/reg:64"},
      {"reg", "query", kKey, "/v", "a", "/ve"},
      {"reg", "add", kKey, "/v"},
      {"reg", "add", kKey, "/d", "data without a name"},
      {"reg", "add", kKey, "/v", "x", "/t", "REG_FOO"},
      {"reg", "add", kKey, "/v", "x", "/t", "REG_DWORD", "/d", "4294967296"},
      {"reg", "add", kKey, "/v", "x", "/t", "REG_DWORD", "/d", "-1"},
      {"reg", "add", kKey, "/v", "x", "/t", "REG_QWORD", "/d", "0x1ffffffffffffffff"},
      {"reg", "add", kKey, "/v", "x", "/t", "REG_BINARY", "/d", "ABC"},
      {"reg", "add", kKey, "/v", "x", "/t", "REG_BINARY", "/d", "zz"},
      {"reg", "add", kKey, "/v", "x", "/t", "REG_MULTI_SZ", "/d", "a\\0\\0b"},
      {"reg", "add", kKey, "/v", "x", "/s", "#"},
      {"reg", "delete", kKey},
      {"reg", "delete", "HKLM", "/f"},
      {"reg", "delete", kKey, "/f"},  // no such key
      {"reg", "export", kKey},
      {"reg", "import"},
      {"reg", "import", "/nonexistent/file.reg"},
  };
  for (const auto& args : calls) {
    const ProgramResult r = Run(args);
    std::string shown;
    for (const std::string& a : args) shown += a + " ";
    EXPECT_EQ(r.exitCode, 1) << shown << r.err;
    EXPECT_EQ(r.err.rfind("tarvo-host: reg", 0), 0u) << shown << r.err;
    EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << shown << r.err;
    EXPECT_EQ(r.out, "") << shown;
  }
  // None of them left a trace.
  EXPECT_EQ(Run({"reg", "query", kKey}).exitCode, 1);
}

TEST_F(RegCommandTest, ExportKeepsAnExistingFileWithoutY) {
  Ok({"reg", "add", kKey, "/v", "a", "/d", "b"});
  const std::string file = folder_ + "/keep.reg";
  WriteFile(file, "precious");
  const ProgramResult r = Run({"reg", "export", kKey, file});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.err.find("add /y"), std::string::npos) << r.err;
  EXPECT_EQ(ReadFile(file), "precious");
  Ok({"reg", "export", kKey, file, "/y"});
  EXPECT_EQ(ReadFile(file).substr(0, 2), "\xFF\xFE");
  // Only the file itself is left: no temporary sibling.
  size_t entries = 0;
  for ([[maybe_unused]] const auto& entry : fs::directory_iterator(folder_)) ++entries;
  EXPECT_EQ(entries, 2u);  // the host folder and keep.reg
}

TEST_F(RegCommandTest, ImportOfABadFileNamesTheLineAndChangesNothing) {
  const std::string file = folder_ + "/bad.reg";
  WriteFile(file,
            "REGEDIT4\r\n"
            "\r\n"
            "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Tarvo\\Test]\r\n"
            "\"first\"=\"ok\"\r\n"
            "\"second\"=dword:nope\r\n");
  const ProgramResult r = Run({"reg", "import", file});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.err, "tarvo-host: reg import: " + file +
                       ": line 5: dword: needs hex digits\n");
  EXPECT_EQ(Run({"reg", "query", kKey}).exitCode, 1);
}

// "HKLM\k\k...": `levels` keys below the root.
std::string DeepKey(size_t levels) {
  std::string path = "HKLM";
  for (size_t i = 0; i < levels; ++i) path += "\\k";
  return path;
}

TEST_F(RegCommandTest, KeysDeeperThanWindowsAllowsAreRefusedAndOldOnesLeftOut) {
  const ProgramResult add = Run({"reg", "add", DeepKey(513)});
  EXPECT_EQ(add.exitCode, 1);
  EXPECT_EQ(add.err, "tarvo-host: reg: the parameter is incorrect\n");
  const std::string file = folder_ + "/deep.reg";
  WriteFile(file, "REGEDIT4\n\n[" + DeepKey(513) + "]\n");
  const ProgramResult import = Run({"reg", "import", file});
  EXPECT_EQ(import.exitCode, 1);
  EXPECT_NE(import.err.find(": line 3: a key more than 512 levels below its root"), std::string::npos) << import.err;
  EXPECT_EQ(Run({"reg", "query", "HKLM\\k"}).exitCode, 1);  // nothing was made

  // A host made before the refusal may hold such keys: the keys above them
  // still list and export, without the ones too deep.
  {
    std::string error;
    auto old = host::Host::Open(host_, host::OpenOptions{}, &error);
    ASSERT_TRUE(old) << error;
    old->RegistryImpl().EnsurePhysicalKey(text::SplitNonEmpty(DeepKey(514), "\\"));
  }
  auto note = [](const std::string& operation) {
    return "tarvo-host: reg " + operation + ": keys more than 512 levels below the root are left out, the first: " +
           "HKEY_LOCAL_MACHINE" + DeepKey(513).substr(4) + "\n";
  };
  const ProgramResult query = Run({"reg", "query", "HKLM\\k", "/s"});
  EXPECT_EQ(query.exitCode, 0) << query.err;
  EXPECT_EQ(query.err, note("query"));
  EXPECT_NE(query.out.find("HKEY_LOCAL_MACHINE" + DeepKey(512).substr(4) + "\n"), std::string::npos);
  EXPECT_EQ(query.out.find("HKEY_LOCAL_MACHINE" + DeepKey(513).substr(4) + "\n"), std::string::npos);
  const ProgramResult exported = Run({"reg", "export", "HKLM\\k", folder_ + "/old.reg"});
  EXPECT_EQ(exported.exitCode, 0) << exported.err;
  EXPECT_EQ(exported.err, note("export"));
}

TEST_F(RegCommandTest, CorruptHostDatabaseExitsTwo) {
  fs::create_directories(host_);
  std::string garbage;
  for (int i = 0; i < 4096; ++i) garbage += static_cast<char>((i * 131 + 7) & 0xFF);
  WriteFile(host_ + "/host.db", garbage);
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"reg", "query", "HKLM\\SOFTWARE"},
        std::vector<std::string>{"reg", "add", kKey, "/v", "x", "/d", "y"}}) {
    const ProgramResult r = Run(args);
    EXPECT_EQ(r.exitCode, 2) << args[1];
    EXPECT_EQ(r.err.rfind("tarvo-host: cannot open the host: ", 0), 0u) << r.err;
    EXPECT_EQ(r.out, "");
  }
  // Refused, never replaced.
  EXPECT_EQ(ReadFile(host_ + "/host.db"), garbage);
}

}  // namespace
