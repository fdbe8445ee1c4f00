// Snapshots and diffs of a simulated host: the rows of each state section
// (registry of both views, key and file security, accounts and members,
// automatic updates, files and folders of drive C), the generic diff with its order and text lines, and
// the snapshot store in host.db (no silent overwrite, unknown names, hosts
// made before the snapshot tables).
#include <gtest/gtest.h>

#include <filesystem>

#include "platform/WinError.h"
#include "platform/host/HostSnapshot.h"
#include "platform/text/Text.h"
#include "platform/winsec/Sddl.h"
#include "support/TestHost.h"

namespace {

using host::ChangeOp;
using host::SnapshotResult;
using host::StateChange;
using host::StateRow;

std::string Utf16z(std::string_view s) { return text::Utf16ToUtf16LeBytes(text::Utf8ToUtf16(s) + u'\0'); }

std::string Dword(uint32_t n) {
  return std::string{static_cast<char>(n & 0xff), static_cast<char>((n >> 8) & 0xff),
                     static_cast<char>((n >> 16) & 0xff), static_cast<char>(n >> 24)};
}

class SnapshotTest : public ::testing::Test {
 protected:
  host::Host& Host() { return h_.Host(); }

  // Sets a value below HKLM in the view `sam` chooses, making the key.
  void SetValue(std::string_view subKey, uint32_t sam, std::string_view name, uint32_t type, std::string_view data) {
    plat::IRegistry& reg = plat::Current().Registry();
    plat::HKey key = plat::kNullKey;
    ASSERT_EQ(reg.CreateKey(plat::kHkeyLocalMachine, subKey, plat::kKeyAllAccess | sam, &key, nullptr), 0u);
    ASSERT_EQ(reg.SetValue(key, name, type, data), 0u);
    reg.CloseKey(key);
  }

  void MakeKey(std::string_view subKey) {
    plat::IRegistry& reg = plat::Current().Registry();
    plat::HKey key = plat::kNullKey;
    ASSERT_EQ(reg.CreateKey(plat::kHkeyLocalMachine, subKey, plat::kKeyAllAccess, &key, nullptr), 0u);
    reg.CloseKey(key);
  }

  // Sets the parts the SDDL names, as SetNamedSecurityInfo does; a DACL
  // with P is set protected, any other one open to inheritance.
  void SetSecurity(std::string_view object, plat::SeObjectType type, std::string_view sddl) {
    winsec::SecurityDescriptor sd;
    ASSERT_EQ(winsec::SecurityDescriptorFromSddl(sddl, &sd), 0u) << sddl;
    uint32_t info = 0;
    if (sd.Owner()) info |= plat::kOwnerSecurityInformation;
    if (sd.DaclPresent()) {
      info |= plat::kDaclSecurityInformation | ((sd.Control() & winsec::kSeDaclProtected)
                                                    ? plat::kProtectedDaclSecurityInformation
                                                    : plat::kUnprotectedDaclSecurityInformation);
    }
    const winsec::Sid* owner = sd.Owner() ? &*sd.Owner() : nullptr;
    ASSERT_EQ(plat::Current().Security().SetNamedSecurityInfo(object, type, info, owner, nullptr, sd.Dacl(), nullptr),
              0u)
        << object;
  }

  std::vector<StateChange> ChangesSince(std::string_view snapshot) {
    std::vector<StateRow> before;
    EXPECT_EQ(host::LoadSnapshot(Host(), snapshot, &before), SnapshotResult::kOk);
    return host::DiffState(before, host::CollectState(Host()));
  }

  std::vector<std::string> LinesSince(std::string_view snapshot) {
    std::vector<std::string> lines;
    for (const StateChange& change : ChangesSince(snapshot)) lines.push_back(host::ChangeLine(change));
    return lines;
  }

  std::string GroupSid(std::string_view name) {
    winsec::Sid sid;
    EXPECT_EQ(plat::Current().Security().LookupAccountName("", name, &sid, nullptr, nullptr), 0u);
    return sid.ToString();
  }

  // Seen by a 64-bit process in both builds, so registry rows keep their unredirected paths.
  TestHost h_{"win7-sp1-x64", "en-US", false};
};

// ---- The state sections and the diff --------------------------------------

TEST_F(SnapshotTest, ADiffShowsExactlyWhatChangedInEachSection) {
  SetValue("SOFTWARE\\Vendor", 0, "Count", plat::kRegDword, Dword(1));
  SetValue("SOFTWARE\\Vendor", plat::kKeyWow64_32Key, "Mode", plat::kRegSz, Utf16z("a"));
  SetSecurity("MACHINE\\SOFTWARE\\Vendor", plat::SeObjectType::kRegistryKey, "D:P(A;CI;KA;;;BA)");
  h_.WriteHostFile("C:\\Data\\a.txt", "x");
  SetSecurity("C:\\Data", plat::SeObjectType::kFile, "D:(A;OICI;FA;;;BA)");
  ASSERT_EQ(plat::Current().Accounts().LocalGroupAdd("Operators", "Run the plant"), 0u);
  ASSERT_EQ(host::SaveSnapshot(Host(), "before"), SnapshotResult::kOk);
  EXPECT_TRUE(LinesSince("before").empty());

  SetValue("SOFTWARE\\Vendor", 0, "Count", plat::kRegDword, Dword(2));
  SetValue("SOFTWARE\\Vendor", plat::kKeyWow64_32Key, "Mode", plat::kRegSz, Utf16z("b"));
  SetValue("SOFTWARE\\Vendor", plat::kKeyWow64_32Key, "Added", plat::kRegExpandSz, Utf16z("%X%"));
  SetSecurity("MACHINE\\SOFTWARE\\Vendor", plat::SeObjectType::kRegistryKey, "D:P(A;CI;KA;;;BA)(A;CI;KR;;;BU)");
  SetSecurity("C:\\Data", plat::SeObjectType::kFile, "D:(A;OICI;FA;;;BA)(A;OICI;FR;;;BU)");
  ASSERT_EQ(plat::Current().Accounts().LocalGroupAddMembersByName("Operators", {"WIN7-SP1-X64\\tester"}), 0u);
  plat::Current().System().Sleep(5000);
  ASSERT_EQ(plat::Current().AutomaticUpdates().Pause(), 0u);

  EXPECT_EQ(LinesSince("before"),
            (std::vector<std::string>{
                "~ acl  C:\\Data  D:AI(A;OICI;FA;;;BA) -> D:AI(A;OICI;FA;;;BA)(A;OICI;FR;;;BU)",
                "~ acl  HKLM\\SOFTWARE\\Vendor  D:PAI(A;CI;KA;;;BA) -> D:PAI(A;CI;KA;;;BA)(A;CI;KR;;;BU)",
                "+ group  Operators  member WIN7-SP1-X64\\tester",
                "~ reg  HKLM\\SOFTWARE\\Vendor  Count: REG_DWORD 1 -> 2",
                "+ reg  HKLM\\SOFTWARE\\Wow6432Node\\Vendor  Added = REG_EXPAND_SZ \"%X%\"",
                "~ reg  HKLM\\SOFTWARE\\Wow6432Node\\Vendor  Mode: REG_SZ \"a\" -> \"b\"",
                "~ wua  resumed -> paused (2015-12-07 10:00:05)",
            }));

  // The structured form keeps the stored values whole.
  const std::vector<StateChange> changes = ChangesSince("before");
  ASSERT_EQ(changes.size(), 7u);
  EXPECT_EQ(changes[2].op, ChangeOp::kAdded);
  EXPECT_EQ(changes[2].path, "Operators");
  EXPECT_FALSE(changes[2].before);
  EXPECT_EQ(changes[3].before, "REG_DWORD 1");
  EXPECT_EQ(changes[3].after, "REG_DWORD 2");
  EXPECT_EQ(changes[6].kind, "wua");
  EXPECT_EQ(changes[6].before, "resumed (2015-12-07 10:00:00)");
  EXPECT_EQ(changes[6].after, "paused (2015-12-07 10:00:05)");
}

TEST_F(SnapshotTest, WhatWasRemovedShowsAsItWas) {
  SetValue("SOFTWARE\\Vendor\\Sub", 0, "Count", plat::kRegDword, Dword(7));
  h_.WriteHostFile("C:\\Data\\a.txt", "x");
  SetSecurity("C:\\Data", plat::SeObjectType::kFile, "D:P(A;OICI;FA;;;BA)");
  ASSERT_EQ(plat::Current().Accounts().LocalGroupAdd("Operators", ""), 0u);
  ASSERT_EQ(plat::Current().Accounts().LocalGroupAddMembersByName("Operators", {"tester"}), 0u);
  const std::string operators = GroupSid("Operators");
  ASSERT_EQ(host::SaveSnapshot(Host(), "before"), SnapshotResult::kOk);

  ASSERT_EQ(plat::Current().Registry().DeleteTree(plat::kHkeyLocalMachine, "SOFTWARE\\Vendor", 0), 0u);
  ASSERT_EQ(plat::Current().Accounts().LocalGroupDelete("Operators"), 0u);
  // The descriptor of a deleted folder is no longer part of the state, though
  // host.db still holds its row.
  std::filesystem::remove_all(h_.HostPath("C:\\Data"));

  EXPECT_EQ(LinesSince("before"), (std::vector<std::string>{
                                      "- acl  C:\\Data  D:PAI(A;OICI;FA;;;BA)",
                                      "- file  C:\\Data\\a.txt  1 byte",
                                      "- folder  C:\\Data",
                                      "- group  Operators  " + operators,
                                      "- group  Operators  member WIN7-SP1-X64\\tester",
                                      "- key  HKLM\\SOFTWARE\\Vendor",
                                      "- key  HKLM\\SOFTWARE\\Vendor\\Sub",
                                      "- reg  HKLM\\SOFTWARE\\Vendor\\Sub  Count = REG_DWORD 7",
                                  }));
}

TEST_F(SnapshotTest, TheDefaultValueAndAChangeOfType) {
  SetValue("SOFTWARE\\Vendor", 0, "", plat::kRegSz, Utf16z("x"));
  SetValue("SOFTWARE\\Vendor", 0, "Level", plat::kRegDword, Dword(1));
  ASSERT_EQ(host::SaveSnapshot(Host(), "before"), SnapshotResult::kOk);
  SetValue("SOFTWARE\\Vendor", 0, "", plat::kRegSz, Utf16z("y"));
  SetValue("SOFTWARE\\Vendor", 0, "Level", plat::kRegSz, Utf16z("1"));

  EXPECT_EQ(LinesSince("before"), (std::vector<std::string>{
                                      "~ reg  HKLM\\SOFTWARE\\Vendor  (Default): REG_SZ \"x\" -> \"y\"",
                                      "~ reg  HKLM\\SOFTWARE\\Vendor  Level: REG_DWORD 1 -> REG_SZ \"1\"",
                                  }));
  // Scripts get the name as stored: empty for the default value.
  EXPECT_EQ(ChangesSince("before").front().name, "");
}

TEST_F(SnapshotTest, AKeyComesBeforeItsSubkeysAndCaseDoesNotOrder) {
  ASSERT_EQ(host::SaveSnapshot(Host(), "before"), SnapshotResult::kOk);
  for (const char* key : {"SOFTWARE\\A B", "SOFTWARE\\C", "SOFTWARE\\A\\B", "SOFTWARE\\b"}) MakeKey(key);
  EXPECT_EQ(LinesSince("before"), (std::vector<std::string>{
                                      "+ key  HKLM\\SOFTWARE\\A",
                                      "+ key  HKLM\\SOFTWARE\\A\\B",
                                      "+ key  HKLM\\SOFTWARE\\A B",
                                      "+ key  HKLM\\SOFTWARE\\b",
                                      "+ key  HKLM\\SOFTWARE\\C",
                                  }));
}

TEST_F(SnapshotTest, AnOwnerChangeShowsOnlyTheOwnerOnceItIsStored) {
  h_.WriteHostFile("C:\\Data\\a.txt", "x");
  SetSecurity("C:\\Data", plat::SeObjectType::kFile, "D:(A;OICI;FA;;;BA)");
  ASSERT_EQ(host::SaveSnapshot(Host(), "dacl"), SnapshotResult::kOk);
  SetSecurity("C:\\Data", plat::SeObjectType::kFile, "O:BA");
  // A part that was not stored before: the whole descriptor on both sides.
  EXPECT_EQ(LinesSince("dacl"), (std::vector<std::string>{
                                    "~ acl  C:\\Data  D:AI(A;OICI;FA;;;BA) -> O:BAD:AI(A;OICI;FA;;;BA)",
                                }));
  ASSERT_EQ(host::SaveSnapshot(Host(), "owner"), SnapshotResult::kOk);
  SetSecurity("C:\\Data", plat::SeObjectType::kFile, "O:" + Host().UserSid());
  EXPECT_EQ(LinesSince("owner"), (std::vector<std::string>{"~ acl  C:\\Data  O:BA -> O:" + Host().UserSid()}));
}

TEST_F(SnapshotTest, TwoSnapshotsCompareWithEachOther) {
  ASSERT_EQ(host::SaveSnapshot(Host(), "first"), SnapshotResult::kOk);
  SetValue("SOFTWARE\\Vendor", 0, "Step", plat::kRegDword, Dword(1));
  ASSERT_EQ(host::SaveSnapshot(Host(), "second"), SnapshotResult::kOk);
  SetValue("SOFTWARE\\Vendor", 0, "Step", plat::kRegDword, Dword(2));

  std::vector<StateRow> first, second;
  ASSERT_EQ(host::LoadSnapshot(Host(), "first", &first), SnapshotResult::kOk);
  ASSERT_EQ(host::LoadSnapshot(Host(), "second", &second), SnapshotResult::kOk);
  std::vector<std::string> lines;
  for (const StateChange& c : host::DiffState(first, second)) lines.push_back(host::ChangeLine(c));
  EXPECT_EQ(lines, (std::vector<std::string>{
                       "+ key  HKLM\\SOFTWARE\\Vendor",
                       "+ reg  HKLM\\SOFTWARE\\Vendor  Step = REG_DWORD 1",
                   }));
  // Backwards, the same changes undone.
  lines.clear();
  for (const StateChange& c : host::DiffState(second, first)) lines.push_back(host::ChangeLine(c));
  EXPECT_EQ(lines, (std::vector<std::string>{
                       "- key  HKLM\\SOFTWARE\\Vendor",
                       "- reg  HKLM\\SOFTWARE\\Vendor  Step = REG_DWORD 1",
                   }));
}

TEST_F(SnapshotTest, FilesAndFoldersOnDriveCShowWithTheirSize) {
  h_.WriteHostFile("C:\\Data\\same.txt", "abc");
  h_.WriteHostFile("C:\\Data\\grows.txt", "abc");
  h_.WriteHostFile("C:\\Data\\gone.txt", "x");
  h_.WriteHostFile("C:\\Old\\f.txt", "x");
  ASSERT_EQ(host::SaveSnapshot(Host(), "before"), SnapshotResult::kOk);
  EXPECT_TRUE(LinesSince("before").empty());

  h_.WriteHostFile("C:\\Data\\same.txt", "abd");
  h_.WriteHostFile("C:\\Data\\grows.txt", "abcdef");
  std::filesystem::remove(h_.HostPath("C:\\Data\\gone.txt"));
  std::filesystem::remove_all(h_.HostPath("C:\\Old"));
  h_.WriteHostFile("C:\\New\\Sub\\empty.txt", "");
  // Links are no files of their own.
  std::filesystem::create_symlink(h_.HostPath("C:\\Data"), h_.HostPath("C:\\New\\link"));

  EXPECT_EQ(LinesSince("before"), (std::vector<std::string>{
                                      "- file  C:\\Data\\gone.txt  1 byte",
                                      "~ file  C:\\Data\\grows.txt  3 bytes -> 6 bytes",
                                      "~ file  C:\\Data\\same.txt  3 bytes, hash e71fa2190541574b -> "
                                      "3 bytes, hash e71fa71905415fca",
                                      "+ file  C:\\New\\Sub\\empty.txt  0 bytes",
                                      "- file  C:\\Old\\f.txt  1 byte",
                                      "+ folder  C:\\New",
                                      "+ folder  C:\\New\\Sub",
                                      "- folder  C:\\Old",
                                  }));
  // Scripts get the stored values whole.
  const std::vector<StateChange> changes = ChangesSince("before");
  ASSERT_EQ(changes.size(), 8u);
  EXPECT_EQ(changes[1].before, "3 bytes, hash e71fa2190541574b");
  EXPECT_EQ(changes[3].after, "0 bytes, hash cbf29ce484222325");
}

// ---- The snapshot store ----------------------------------------------------

TEST_F(SnapshotTest, SavingUnderAnExistingNameIsRefusedAndKeepsTheOlderSnapshot) {
  ASSERT_EQ(host::SaveSnapshot(Host(), "base"), SnapshotResult::kOk);
  const std::vector<host::SnapshotInfo> saved = host::ListSnapshots(Host());
  SetValue("SOFTWARE\\Vendor", 0, "Count", plat::kRegDword, Dword(1));
  plat::Current().System().Sleep(60000);

  EXPECT_EQ(host::SaveSnapshot(Host(), "base"), SnapshotResult::kExists);
  const std::vector<host::SnapshotInfo> after = host::ListSnapshots(Host());
  ASSERT_EQ(after.size(), 1u);
  EXPECT_EQ(after[0].taken, saved[0].taken);
  EXPECT_EQ(after[0].rows, saved[0].rows);
  EXPECT_EQ(LinesSince("base").size(), 2u);  // the key and its value are still new to it

  ASSERT_EQ(host::DeleteSnapshot(Host(), "base"), SnapshotResult::kOk);
  ASSERT_EQ(host::SaveSnapshot(Host(), "base"), SnapshotResult::kOk);
  EXPECT_TRUE(LinesSince("base").empty());
  EXPECT_EQ(host::ListSnapshots(Host())[0].taken, "2015-12-07 10:01:00");
}

TEST_F(SnapshotTest, UnknownAndMalformedNames) {
  std::vector<StateRow> rows{{"x", "y", "", ""}};
  EXPECT_EQ(host::LoadSnapshot(Host(), "missing", &rows), SnapshotResult::kNotFound);
  EXPECT_TRUE(rows.empty());
  EXPECT_EQ(host::DeleteSnapshot(Host(), "missing"), SnapshotResult::kNotFound);
  for (const std::string& name :
       std::vector<std::string>{"", "-base", ".base", "a/b", "a b", "na\xc3\xafve", std::string(65, 'a')}) {
    EXPECT_EQ(host::SaveSnapshot(Host(), name), SnapshotResult::kBadName) << name;
  }
  EXPECT_TRUE(host::ListSnapshots(Host()).empty());
  EXPECT_EQ(host::SaveSnapshot(Host(), "v1.2_rc-3"), SnapshotResult::kOk);
  EXPECT_EQ(host::SaveSnapshot(Host(), std::string(64, 'a')), SnapshotResult::kOk);
}

TEST_F(SnapshotTest, AHostMadeBeforeSnapshotsGainsTheirTablesWhenOpened) {
  Host().Db().Exec("DROP TABLE snapshot_row; DROP TABLE snapshot;");
  std::string error;
  auto reopened = host::Host::Open(h_.Folder(), host::OpenOptions{}, &error);
  ASSERT_TRUE(reopened) << error;
  EXPECT_EQ(host::SaveSnapshot(*reopened, "base"), SnapshotResult::kOk);
  EXPECT_EQ(host::ListSnapshots(*reopened).size(), 1u);
}

// ---- Registry values as text -----------------------------------------------

TEST(SnapshotValueTextTest, DataThatFitsItsTypeReadsAsValues) {
  EXPECT_EQ(host::RegistryValueText(plat::kRegSz, Utf16z("C:\\Program Files")), "REG_SZ \"C:\\Program Files\"");
  EXPECT_EQ(host::RegistryValueText(plat::kRegSz, Utf16z("")), "REG_SZ \"\"");
  EXPECT_EQ(host::RegistryValueText(plat::kRegExpandSz, Utf16z("%SystemRoot%")), "REG_EXPAND_SZ \"%SystemRoot%\"");
  EXPECT_EQ(host::RegistryValueText(plat::kRegSz, Utf16z("Gr\xc3\xbc\xc3\x9f" "e")), "REG_SZ \"Gr\xc3\xbc\xc3\x9f" "e\"");
  EXPECT_EQ(host::RegistryValueText(plat::kRegMultiSz, Utf16z("a") + Utf16z("b c") + Utf16z("")),
            "REG_MULTI_SZ \"a\" \"b c\"");
  EXPECT_EQ(host::RegistryValueText(plat::kRegMultiSz, Utf16z("")), "REG_MULTI_SZ (empty)");
  EXPECT_EQ(host::RegistryValueText(plat::kRegDword, Dword(0xffffffff)), "REG_DWORD 4294967295");
  EXPECT_EQ(host::RegistryValueText(plat::kRegDwordBigEndian, std::string("\x00\x00\x01\x02", 4)),
            "REG_DWORD_BIG_ENDIAN 258");
  EXPECT_EQ(host::RegistryValueText(plat::kRegQword, Dword(1) + Dword(1)), "REG_QWORD 4294967297");
  EXPECT_EQ(host::RegistryValueText(plat::kRegBinary, std::string("\x01\xab\x00", 3)), "REG_BINARY 01 ab 00");
  EXPECT_EQ(host::RegistryValueText(plat::kRegBinary, ""), "REG_BINARY (empty)");
  EXPECT_EQ(host::RegistryValueText(0x4000, "A"), "REG_TYPE_0x4000 41");
}

TEST(SnapshotValueTextTest, DataThatDoesNotFitShowsAsBytesSoDistinctDataNeverReadsTheSame) {
  const std::string ab = Utf16z("ab");
  // Without its NUL, with an odd byte, or with a second string inside.
  EXPECT_EQ(host::RegistryValueText(plat::kRegSz, ab.substr(0, 4)), "REG_SZ hex: 61 00 62 00");
  EXPECT_EQ(host::RegistryValueText(plat::kRegSz, ab + "x"), "REG_SZ hex: 61 00 62 00 00 00 78");
  EXPECT_EQ(host::RegistryValueText(plat::kRegSz, Utf16z("a") + Utf16z("b")), "REG_SZ hex: 61 00 00 00 62 00 00 00");
  // A lone surrogate, and a line break that would split the line.
  EXPECT_EQ(host::RegistryValueText(plat::kRegSz, std::string("\x00\xd8\x00\x00", 4)), "REG_SZ hex: 00 d8 00 00");
  EXPECT_EQ(host::RegistryValueText(plat::kRegSz, Utf16z("a\nb")), "REG_SZ hex: 61 00 0a 00 62 00 00 00");
  // ["a\" \"b"] would read like ["a", "b"]; an empty string inside ends a list early.
  EXPECT_NE(host::RegistryValueText(plat::kRegMultiSz, Utf16z("a\" \"b") + Utf16z("")),
            host::RegistryValueText(plat::kRegMultiSz, Utf16z("a") + Utf16z("b") + Utf16z("")));
  EXPECT_EQ(host::RegistryValueText(plat::kRegMultiSz, Utf16z("a") + Utf16z("") + Utf16z("b") + Utf16z("")),
            "REG_MULTI_SZ hex: 61 00 00 00 00 00 62 00 00 00 00 00");
  EXPECT_EQ(host::RegistryValueText(plat::kRegMultiSz, Utf16z("a")), "REG_MULTI_SZ hex: 61 00 00 00");
  EXPECT_EQ(host::RegistryValueText(plat::kRegDword, std::string("\x01\x00\x00", 3)), "REG_DWORD hex: 01 00 00");
  EXPECT_EQ(host::RegistryValueText(plat::kRegQword, Dword(1)), "REG_QWORD hex: 01 00 00 00");
}

}  // namespace
