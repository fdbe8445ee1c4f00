// End-to-end tests of "tarvo-host snapshot" and "tarvo-host diff": the built
// binary saves the state of a host in a temporary folder, changes it with
// other tarvo-host commands, and shows what changed as text and as JSON.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "support/RunProgram.h"
#include "support/TestHost.h"

namespace {

class SnapshotCommandTest : public ::testing::Test {
 protected:
  SnapshotCommandTest() : folder_(MakeTempFolder("tarvo-snapshot-cmd")) {
    const ProgramResult init = Run({"init", "--clock", "virtual"});
    EXPECT_EQ(init.exitCode, 0) << init.err;
    std::filesystem::create_directories(folder_ + "/drive_c/Product");
  }
  ~SnapshotCommandTest() override {
    std::error_code ec;
    std::filesystem::remove_all(folder_, ec);
  }
  ProgramResult Run(const std::vector<std::string>& args) {
    return RunProgram(BinaryPath("tarvo-host"), args, {{"TARVO_HOST", folder_}, {"USER", "tester"}});
  }
  void MustRun(const std::vector<std::string>& args) {
    const ProgramResult r = Run(args);
    ASSERT_EQ(r.exitCode, 0) << args[0] << ": " << r.err;
  }
  // A product setup's changes: a registry value, a folder's DACL, a pause.
  void ChangeLikeASetup() {
    MustRun({"reg", "add", "HKLM\\SOFTWARE\\Norvale\\OXLAN\\Global", "/v", "LOGGINGLEVEL", "/t", "REG_SZ", "/d",
             "11", "/f"});
    MustRun({"acl", "set", "C:\\Product", "D:(A;OICI;FA;;;BA)"});
    MustRun({"wua", "pause"});
  }

  std::string folder_;
};

TEST_F(SnapshotCommandTest, DiffShowsOneLinePerChangeSinceTheSnapshot) {
  const ProgramResult save = Run({"snapshot", "save", "base"});
  ASSERT_EQ(save.exitCode, 0) << save.err;
  EXPECT_EQ(save.out.substr(0, 20), "Saved snapshot base ");
  EXPECT_NE(save.out.find(" rows, 2015-12-07 10:00:00)\n"), std::string::npos) << save.out;
  EXPECT_EQ(Run({"diff", "base"}).out, "No changes.\n");

  ChangeLikeASetup();
  const ProgramResult diff = Run({"diff", "base"});
  ASSERT_EQ(diff.exitCode, 0) << diff.err;
  EXPECT_EQ(diff.out,
            "+ acl  C:\\Product  D:AI(A;OICI;FA;;;BA)\n"
            "+ key  HKLM\\SOFTWARE\\Norvale\n"
            "+ key  HKLM\\SOFTWARE\\Norvale\\OXLAN\n"
            "+ key  HKLM\\SOFTWARE\\Norvale\\OXLAN\\Global\n"
            "+ reg  HKLM\\SOFTWARE\\Norvale\\OXLAN\\Global  LOGGINGLEVEL = REG_SZ \"11\"\n"
            "~ wua  resumed -> paused (2015-12-07 10:00:00)\n");
}

TEST_F(SnapshotCommandTest, DiffAsJson) {
  MustRun({"snapshot", "save", "base"});
  ChangeLikeASetup();
  const ProgramResult diff = Run({"--json", "diff", "base"});
  ASSERT_EQ(diff.exitCode, 0) << diff.err;
  EXPECT_EQ(diff.out,
            "[{\"kind\":\"acl\",\"op\":\"added\",\"path\":\"C:\\\\Product\",\"name\":\"\",\"before\":null,"
            "\"after\":\"D:AI(A;OICI;FA;;;BA)\"},"
            "{\"kind\":\"key\",\"op\":\"added\",\"path\":\"HKLM\\\\SOFTWARE\\\\Norvale\",\"name\":\"\",\"before\":null,"
            "\"after\":\"\"},"
            "{\"kind\":\"key\",\"op\":\"added\",\"path\":\"HKLM\\\\SOFTWARE\\\\Norvale\\\\OXLAN\",\"name\":\"\","
            "\"before\":null,\"after\":\"\"},"
            "{\"kind\":\"key\",\"op\":\"added\",\"path\":\"HKLM\\\\SOFTWARE\\\\Norvale\\\\OXLAN\\\\Global\",\"name\":\"\","
            "\"before\":null,\"after\":\"\"},"
            "{\"kind\":\"reg\",\"op\":\"added\",\"path\":\"HKLM\\\\SOFTWARE\\\\Norvale\\\\OXLAN\\\\Global\","
            "\"name\":\"LOGGINGLEVEL\",\"before\":null,\"after\":\"REG_SZ \\\"11\\\"\"},"
            "{\"kind\":\"wua\",\"op\":\"changed\",\"path\":\"\",\"name\":\"\",\"before\":\"resumed (2015-12-07 "
            "10:00:00)\",\"after\":\"paused (2015-12-07 10:00:00)\"}]\n");
  EXPECT_EQ(Run({"--json", "diff", "base", "base"}).out, "[]\n");
}

TEST_F(SnapshotCommandTest, TwoSnapshotsAndBothRegistryViews) {
  MustRun({"snapshot", "save", "one"});
  MustRun({"reg", "add", "HKLM\\SOFTWARE\\Vendor", "/v", "Count", "/t", "REG_DWORD", "/d", "1", "/reg:32", "/f"});
  MustRun({"snapshot", "save", "two"});
  MustRun({"reg", "add", "HKLM\\SOFTWARE\\Vendor", "/v", "Count", "/t", "REG_DWORD", "/d", "2", "/reg:32", "/f"});
  MustRun({"reg", "add", "HKLM\\SOFTWARE\\Vendor", "/v", "Count", "/t", "REG_DWORD", "/d", "5", "/reg:64", "/f"});

  EXPECT_EQ(Run({"diff", "one", "two"}).out,
            "+ key  HKLM\\SOFTWARE\\Wow6432Node\\Vendor\n"
            "+ reg  HKLM\\SOFTWARE\\Wow6432Node\\Vendor  Count = REG_DWORD 1\n");
  EXPECT_EQ(Run({"diff", "two"}).out,
            "+ key  HKLM\\SOFTWARE\\Vendor\n"
            "+ reg  HKLM\\SOFTWARE\\Vendor  Count = REG_DWORD 5\n"
            "~ reg  HKLM\\SOFTWARE\\Wow6432Node\\Vendor  Count: REG_DWORD 1 -> 2\n");
}

TEST_F(SnapshotCommandTest, AnExistingSnapshotIsNeverOverwritten) {
  MustRun({"snapshot", "save", "base"});
  ChangeLikeASetup();
  const ProgramResult again = Run({"snapshot", "save", "base"});
  EXPECT_EQ(again.exitCode, 1);
  EXPECT_EQ(again.err, "tarvo-host: snapshot save: a snapshot named 'base' exists; delete it first\n");
  // The first state is still the one compared with.
  EXPECT_NE(Run({"diff", "base"}).out, "No changes.\n");

  const ProgramResult list = Run({"--json", "snapshot", "list"});
  ASSERT_EQ(list.exitCode, 0) << list.err;
  EXPECT_EQ(list.out.substr(0, 53), "[{\"name\":\"base\",\"taken\":\"2015-12-07 10:00:00\",\"rows\":");
  EXPECT_EQ(list.out.find("},{"), std::string::npos) << list.out;

  EXPECT_EQ(Run({"snapshot", "delete", "base"}).out, "Deleted snapshot base\n");
  EXPECT_EQ(Run({"snapshot", "list"}).out, "No snapshots.\n");
  MustRun({"snapshot", "save", "base"});
  EXPECT_EQ(Run({"diff", "base"}).out, "No changes.\n");
}

TEST_F(SnapshotCommandTest, FilesShowInTheDiffAndOldSnapshotsSayTheyHaveNone) {
  MustRun({"snapshot", "save", "base"});
  std::filesystem::create_directories(folder_ + "/drive_c/Product/Logs");
  std::ofstream(folder_ + "/drive_c/Product/Logs/run.log") << "started\n";
  EXPECT_EQ(Run({"diff", "base"}).out,
            "+ file  C:\\Product\\Logs\\run.log  8 bytes\n"
            "+ folder  C:\\Product\\Logs\n");
  MustRun({"snapshot", "save", "now"});

  // A snapshot stored before files were recorded holds no file rows.
  {
    std::string error;
    auto h = host::Host::Open(folder_, host::OpenOptions{}, &error);
    ASSERT_TRUE(h) << error;
    h->Db().Exec("DELETE FROM snapshot_row WHERE snapshot='base' AND kind IN ('file', 'folder')");
  }
  MustRun({"wua", "pause"});
  const std::string note = "Files not compared: snapshot 'base' was stored before snapshots recorded files.\n";
  const std::string wua = "~ wua  resumed -> paused (2015-12-07 10:00:00)\n";
  EXPECT_EQ(Run({"diff", "base"}).out, note + wua);
  EXPECT_EQ(Run({"diff", "base", "now"}).out, note + "No changes.\n");
  EXPECT_EQ(Run({"diff", "now", "base"}).out, note + "No changes.\n");
  const ProgramResult json = Run({"--json", "diff", "base"});
  EXPECT_EQ(json.out.rfind("[{\"kind\":\"wua\",", 0), 0u) << json.out;
  EXPECT_EQ(json.err, "tarvo-host: diff: " + note);
}

TEST_F(SnapshotCommandTest, BadCallsAreRefused) {
  const ProgramResult missing = Run({"diff", "nothing"});
  EXPECT_EQ(missing.exitCode, 1);
  EXPECT_EQ(missing.err, "tarvo-host: diff: no snapshot named 'nothing'\n");
  EXPECT_EQ(Run({"diff"}).exitCode, 1);
  EXPECT_EQ(Run({"diff", "a", "b", "c"}).exitCode, 1);
  EXPECT_EQ(Run({"snapshot", "delete", "nothing"}).err, "tarvo-host: snapshot delete: no snapshot named 'nothing'\n");
  EXPECT_EQ(Run({"snapshot", "save"}).err, "tarvo-host: snapshot save: a snapshot name is needed\n");
  const ProgramResult name = Run({"snapshot", "save", "../x"});
  EXPECT_EQ(name.exitCode, 1);
  EXPECT_EQ(name.err, "tarvo-host: snapshot save: '../x' is no snapshot name (1 to 64 of A-Z a-z 0-9 . _ -)\n");
  EXPECT_EQ(Run({"snapshot", "take", "x"}).exitCode, 1);
}

}  // namespace
