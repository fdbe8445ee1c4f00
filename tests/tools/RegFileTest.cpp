#include "tools/tarvo-host/RegFile.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <optional>
#include <tuple>

#include "platform/Forwarding.h"
#include "platform/Registry.h"
#include "platform/WinError.h"
#include "platform/text/Text.h"
#include "support/TestHost.h"

namespace {

using namespace plat;
using hosttool::ApplyRegFile;
using hosttool::ExportRegFile;
using hosttool::ParseRegFile;
using hosttool::RegFileDocument;

// name -> (type, bytes) per key path (relative to the exported key).
using ValueMap = std::map<std::string, std::pair<uint32_t, std::string>>;
using TreeSnapshot = std::map<std::string, ValueMap>;

void SnapshotKey(IRegistry& reg, HKey key, const std::string& path, uint32_t view, TreeSnapshot* tree) {
  ValueMap& values = (*tree)[path];
  std::string name;
  RegValue value;
  for (uint32_t i = 0; reg.EnumValue(key, i, &name, &value) == winerr::kSuccess; ++i) {
    values[name] = {value.type, value.data};
  }
  for (uint32_t i = 0; reg.EnumKey(key, i, &name) == winerr::kSuccess; ++i) {
    HKey sub = kNullKey;
    ASSERT_EQ(reg.OpenKey(key, name, kKeyRead | view, &sub), winerr::kSuccess) << name;
    SnapshotKey(reg, sub, path + "\\" + name, view, tree);
    reg.CloseKey(sub);
  }
}

// The key and everything below it; empty when the key does not exist.
TreeSnapshot Snapshot(IRegistry& reg, HKey root, std::string_view subKey, uint32_t view = 0) {
  TreeSnapshot tree;
  HKey key = kNullKey;
  if (reg.OpenKey(root, subKey, kKeyRead | view, &key) != winerr::kSuccess) return tree;
  SnapshotKey(reg, key, "", view, &tree);
  reg.CloseKey(key);
  return tree;
}

HKey Create(IRegistry& reg, HKey root, std::string_view path, uint32_t view = 0) {
  HKey key = kNullKey;
  EXPECT_EQ(reg.CreateKey(root, path, kKeyAllAccess | view, &key, nullptr), winerr::kSuccess) << path;
  return key;
}

std::string Utf16File(std::string_view utf8) {
  return std::string(text::kUtf16LeBom) + text::Utf16ToUtf16LeBytes(text::Utf8ToUtf16(utf8));
}

std::string Utf16Bytes(std::u16string_view s) { return text::Utf16ToUtf16LeBytes(s); }

// The exported file as UTF-8 text (BOM dropped).
std::string ExportText(IRegistry& reg, HKey root, std::string_view subKey, uint32_t view = 0) {
  std::string bytes;
  EXPECT_EQ(ExportRegFile(reg, root, subKey, view, &bytes), winerr::kSuccess);
  EXPECT_EQ(bytes.substr(0, 2), text::kUtf16LeBom);
  return text::Utf16ToUtf8(text::Utf16LeBytesToUtf16(bytes.substr(2)));
}

// Parses and applies; returns the error ("" on success).
std::string Import(IRegistry& reg, std::string_view file, uint32_t view = 0) {
  RegFileDocument document;
  std::string error;
  if (!ParseRegFile(file, &document, &error)) return error;
  if (!ApplyRegFile(reg, document, view, &error)) return error;
  return {};
}

std::optional<RegValue> Value(IRegistry& reg, HKey root, std::string_view path, std::string_view name,
                              uint32_t view = 0) {
  HKey key = kNullKey;
  if (reg.OpenKey(root, path, kKeyRead | view, &key) != winerr::kSuccess) return std::nullopt;
  RegValue value;
  const uint32_t rc = reg.QueryValue(key, name, &value);
  reg.CloseKey(key);
  if (rc != winerr::kSuccess) return std::nullopt;
  return value;
}

bool KeyExists(IRegistry& reg, HKey root, std::string_view path, uint32_t view = 0) {
  HKey key = kNullKey;
  if (reg.OpenKey(root, path, kKeyRead | view, &key) != winerr::kSuccess) return false;
  reg.CloseKey(key);
  return true;
}

std::vector<std::string> Lines(const std::string& s) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start <= s.size()) {
    size_t end = s.find("\r\n", start);
    if (end == std::string::npos) end = s.size();
    lines.push_back(s.substr(start, end - start));
    start = end + 2;
  }
  return lines;
}

// ---- Round trip -----------------------------------------------------------

class RegFileRoundTrip : public ::testing::Test {
 protected:
  IRegistry& source() { return source_.Platform().Registry(); }
  IRegistry& target() { return target_.Platform().Registry(); }

  // One value of every type, and the shapes that the quoted string form
  // cannot carry (missing or extra NULs, line breaks, lone surrogates).
  void FillEveryType(HKey key) {
    IRegistry& reg = source();
    reg.SetValue(key, "", kRegSz, MakeRegSz("default text"));
    reg.SetValue(key, "Text", kRegSz, MakeRegSz("quote \" backslash \\ \xC3\xBC \xE2\x82\xAC \xF0\x9F\x98\x80"));
    reg.SetValue(key, "@", kRegSz, MakeRegSz("a value named @, not the default"));
    reg.SetValue(key, "na\\me \"q\"", kRegSz, MakeRegSz("escaped name"));
    reg.SetValue(key, "Empty", kRegSz, MakeRegSz(""));
    reg.SetValue(key, "NoTerminator", kRegSz, Utf16Bytes(u"ab"));
    reg.SetValue(key, "EmbeddedNul", kRegSz, Utf16Bytes(std::u16string(u"a\0b\0", 4)));
    reg.SetValue(key, "LineBreak", kRegSz, MakeRegSz("one\r\ntwo"));
    reg.SetValue(key, "LoneSurrogate", kRegSz, Utf16Bytes(std::u16string(u"\xD800\0", 2)));
    reg.SetValue(key, "OddLength", kRegSz, std::string("abc"));
    reg.SetValue(key, "Expand", kRegExpandSz, MakeRegSz("%SystemRoot%\\system32"));
    reg.SetValue(key, "Multi", kRegMultiSz, MakeRegMultiSz({"one", "two", "drei \xC3\x9F"}));
    reg.SetValue(key, "EmptyMulti", kRegMultiSz, Utf16Bytes(std::u16string(u"\0\0", 2)));
    reg.SetValue(key, "Binary", kRegBinary, std::string("\xDE\xAD\xBE\xEF", 4));
    reg.SetValue(key, "EmptyBinary", kRegBinary, "");
    reg.SetValue(key, "Dword", kRegDword, MakeRegDword(42));
    reg.SetValue(key, "DwordMax", kRegDword, MakeRegDword(0xFFFFFFFF));
    reg.SetValue(key, "ShortDword", kRegDword, std::string("\x01\x02", 2));
    reg.SetValue(key, "BigEndian", kRegDwordBigEndian, std::string("\0\0\0\x2A", 4));
    reg.SetValue(key, "Qword", kRegQword, MakeRegQword(0x0123456789ABCDEFull));
    reg.SetValue(key, "None", kRegNone, std::string("\x01\x02", 2));
    reg.SetValue(key, "EmptyNone", kRegNone, "");
    reg.SetValue(key, "Link", kRegLink, Utf16Bytes(u"\\Registry\\Machine\\Software"));
    reg.SetValue(key, "ResourceList", 8, std::string("\x01\0\0\0\x02\0\0\0", 8));
    reg.SetValue(key, "Custom", 0x12345, std::string("\xFF\x00\x7F", 3));
    std::string longData;
    for (int i = 0; i < 300; ++i) longData += static_cast<char>(i * 7);
    reg.SetValue(key, "Long binary", kRegBinary, longData);
  }

  TestHost source_;
  TestHost target_;
};

TEST_F(RegFileRoundTrip, EveryValueTypeSurvivesExportAndImportIntoAFreshHost) {
  HKey key = Create(source(), kHkeyLocalMachine, "SOFTWARE\\RoundTrip");
  FillEveryType(key);
  source().CloseKey(key);
  HKey deeper = Create(source(), kHkeyLocalMachine, "SOFTWARE\\RoundTrip\\Sub\\Deeper");
  source().SetValue(deeper, "Level", kRegDword, MakeRegDword(3));
  source().CloseKey(deeper);
  source().CloseKey(Create(source(), kHkeyLocalMachine, "SOFTWARE\\RoundTrip\\Empty key"));
  source().CloseKey(Create(source(), kHkeyLocalMachine, "SOFTWARE\\RoundTrip\\Bracket]Key"));

  std::string file;
  ASSERT_EQ(ExportRegFile(source(), kHkeyLocalMachine, "SOFTWARE\\RoundTrip", 0, &file), winerr::kSuccess);
  ASSERT_EQ(Import(target(), file), "");

  const TreeSnapshot before = Snapshot(source(), kHkeyLocalMachine, "SOFTWARE\\RoundTrip");
  EXPECT_EQ(before.size(), 5u);  // the key, Bracket]Key, Empty key, Sub, Sub\Deeper
  EXPECT_EQ(before.at("").size(), 26u);
  EXPECT_EQ(Snapshot(target(), kHkeyLocalMachine, "SOFTWARE\\RoundTrip"), before);
}

TEST_F(RegFileRoundTrip, ExportWritesTheVersion5TextForm) {
  HKey key = Create(source(), kHkeyCurrentUser, "Software\\Form");
  FillEveryType(key);
  source().CloseKey(key);
  source().CloseKey(Create(source(), kHkeyCurrentUser, "Software\\Form\\Child"));

  std::string bytes;
  ASSERT_EQ(ExportRegFile(source(), kHkeyCurrentUser, "Software\\Form", 0, &bytes), winerr::kSuccess);
  const std::string textForm = text::Utf16ToUtf8(text::Utf16LeBytesToUtf16(bytes.substr(2)));
  // Every line break is CR LF.
  for (size_t i = 0; i < textForm.size(); ++i) {
    if (textForm[i] == '\n') {
      ASSERT_TRUE(i > 0 && textForm[i - 1] == '\r') << "bare LF at " << i;
    }
    if (textForm[i] == '\r') {
      ASSERT_EQ(textForm[i + 1], '\n') << "bare CR at " << i;
    }
  }
  const std::vector<std::string> lines = Lines(textForm);
  auto has = [&](const std::string& line) { return std::find(lines.begin(), lines.end(), line) != lines.end(); };
  EXPECT_EQ(lines[0], "Windows Registry Editor Version 5.00");
  EXPECT_EQ(lines[1], "");
  EXPECT_EQ(lines[2], "[HKEY_CURRENT_USER\\Software\\Form]");
  EXPECT_TRUE(has("@=\"default text\""));
  EXPECT_TRUE(has("\"Text\"=\"quote \\\" backslash \\\\ \xC3\xBC \xE2\x82\xAC \xF0\x9F\x98\x80\""));
  EXPECT_TRUE(has("\"@\"=\"a value named @, not the default\""));
  EXPECT_TRUE(has("\"na\\\\me \\\"q\\\"\"=\"escaped name\""));
  EXPECT_TRUE(has("\"Empty\"=\"\""));
  EXPECT_TRUE(has("\"NoTerminator\"=hex(1):61,00,62,00"));
  EXPECT_TRUE(has("\"LineBreak\"=hex(1):6f,00,6e,00,65,00,0d,00,0a,00,74,00,77,00,6f,00,00,00"));
  EXPECT_TRUE(has("\"Dword\"=dword:0000002a"));
  EXPECT_TRUE(has("\"DwordMax\"=dword:ffffffff"));
  EXPECT_TRUE(has("\"ShortDword\"=hex(4):01,02"));
  EXPECT_TRUE(has("\"BigEndian\"=hex(5):00,00,00,2a"));
  EXPECT_TRUE(has("\"Binary\"=hex:de,ad,be,ef"));
  EXPECT_TRUE(has("\"EmptyBinary\"=hex:"));
  EXPECT_TRUE(has("\"Qword\"=hex(b):ef,cd,ab,89,67,45,23,01"));
  EXPECT_TRUE(has("\"None\"=hex(0):01,02"));
  EXPECT_TRUE(has("\"Custom\"=hex(12345):ff,00,7f"));
  // Strings of hex(2) and hex(7) are UTF-16LE with their terminating NULs.
  EXPECT_TRUE(has("\"Expand\"=hex(2):25,00,53,00,79,00,73,00,74,00,65,00,6d,00,52,00,6f,00,6f,00,74,\\"));
  EXPECT_TRUE(has("\"EmptyMulti\"=hex(7):00,00,00,00"));
  EXPECT_TRUE(has("[HKEY_CURRENT_USER\\Software\\Form\\Child]"));
  // Each key section ends with an empty line.
  EXPECT_EQ(lines[lines.size() - 2], "");
}

TEST_F(RegFileRoundTrip, LongHexDataWrapsWithinEightyColumnsAndReadsBack) {
  HKey key = Create(source(), kHkeyLocalMachine, "SOFTWARE\\Wrap");
  std::string data;
  for (int i = 0; i < 200; ++i) data += static_cast<char>(i);
  source().SetValue(key, "A rather long value name for wrapping", kRegMultiSz, data);
  source().CloseKey(key);
  const std::vector<std::string> lines = Lines(ExportText(source(), kHkeyLocalMachine, "SOFTWARE\\Wrap"));
  size_t continued = 0;
  for (size_t i = 0; i < lines.size(); ++i) {
    EXPECT_LE(lines[i].size(), 80u) << lines[i];
    if (!lines[i].empty() && lines[i].back() == '\\') {
      ++continued;
      ASSERT_LT(i + 1, lines.size());
      EXPECT_EQ(lines[i + 1].substr(0, 2), "  ");
      EXPECT_NE(lines[i + 1][2], ' ');
    }
  }
  EXPECT_GE(continued, 7u);  // 200 bytes at three characters each, some 25 per line

  std::string file;
  ASSERT_EQ(ExportRegFile(source(), kHkeyLocalMachine, "SOFTWARE\\Wrap", 0, &file), winerr::kSuccess);
  ASSERT_EQ(Import(target(), file), "");
  EXPECT_EQ(Value(target(), kHkeyLocalMachine, "SOFTWARE\\Wrap", "A rather long value name for wrapping")->data, data);
}

TEST_F(RegFileRoundTrip, ThirtyTwoBitViewExportsAndImportsTheRedirectedKeys) {
  HKey key32 = Create(source(), kHkeyLocalMachine, "SOFTWARE\\Vendor", kKeyWow64_32Key);
  source().SetValue(key32, "Bits", kRegDword, MakeRegDword(32));
  source().CloseKey(Create(source(), key32, "Child32"));
  source().CloseKey(key32);
  HKey key64 = Create(source(), kHkeyLocalMachine, "SOFTWARE\\Vendor", kKeyWow64_64Key);
  source().SetValue(key64, "Bits", kRegDword, MakeRegDword(64));
  source().CloseKey(key64);

  std::string file32;
  ASSERT_EQ(ExportRegFile(source(), kHkeyLocalMachine, "SOFTWARE\\Vendor", kKeyWow64_32Key, &file32),
            winerr::kSuccess);
  const std::string text32 = text::Utf16ToUtf8(text::Utf16LeBytesToUtf16(file32.substr(2)));
  // The file names the logical key; the view is the reader's choice.
  EXPECT_NE(text32.find("[HKEY_LOCAL_MACHINE\\SOFTWARE\\Vendor]\r\n\"Bits\"=dword:00000020"), std::string::npos);
  EXPECT_NE(text32.find("[HKEY_LOCAL_MACHINE\\SOFTWARE\\Vendor\\Child32]"), std::string::npos);
  EXPECT_EQ(text32.find("Wow6432Node"), std::string::npos);
  const std::string text64 = ExportText(source(), kHkeyLocalMachine, "SOFTWARE\\Vendor", kKeyWow64_64Key);
  EXPECT_NE(text64.find("\"Bits\"=dword:00000040"), std::string::npos);
  EXPECT_EQ(text64.find("Child32"), std::string::npos);

  ASSERT_EQ(Import(target(), file32, kKeyWow64_32Key), "");
  EXPECT_FALSE(KeyExists(target(), kHkeyLocalMachine, "SOFTWARE\\Vendor", kKeyWow64_64Key));
  // Physically the 32-bit keys live below Wow6432Node.
  EXPECT_EQ(RegDwordValue(Value(target(), kHkeyLocalMachine, "SOFTWARE\\Wow6432Node\\Vendor", "Bits")->data), 32u);
  EXPECT_TRUE(KeyExists(target(), kHkeyLocalMachine, "SOFTWARE\\Wow6432Node\\Vendor\\Child32"));
  EXPECT_EQ(Snapshot(target(), kHkeyLocalMachine, "SOFTWARE\\Vendor", kKeyWow64_32Key),
            Snapshot(source(), kHkeyLocalMachine, "SOFTWARE\\Vendor", kKeyWow64_32Key));
}

TEST_F(RegFileRoundTrip, ExportOfAMissingKeyFails) {
  std::string file = "untouched";
  EXPECT_EQ(ExportRegFile(source(), kHkeyLocalMachine, "SOFTWARE\\Nowhere", 0, &file), winerr::kFileNotFound);
  EXPECT_EQ(file, "untouched");
}

// "k\k\...": `levels` keys, each below the one before.
std::string Chain(size_t levels) {
  std::string path = "k";
  for (size_t i = 1; i < levels; ++i) path += "\\k";
  return path;
}

// A host made before the registry refused keys deeper than Windows allows
// may hold some; the export writes what Windows could hold.
TEST_F(RegFileRoundTrip, ExportLeavesOutKeysDeeperThanWindowsAllows) {
  const std::vector<std::string> deepest = text::SplitNonEmpty("HKLM\\" + Chain(514), "\\");
  source_.Host().RegistryImpl().EnsurePhysicalKey(deepest);
  std::string bytes, leftOut;
  ASSERT_EQ(ExportRegFile(source(), kHkeyLocalMachine, "k", 0, &bytes, &leftOut), winerr::kSuccess);
  EXPECT_EQ(leftOut, "HKEY_LOCAL_MACHINE\\" + Chain(513));
  const std::string text = text::Utf16ToUtf8(text::Utf16LeBytesToUtf16(bytes.substr(2)));
  EXPECT_NE(text.find("[HKEY_LOCAL_MACHINE\\" + Chain(512) + "]\r\n"), std::string::npos);
  EXPECT_EQ(text.find("[HKEY_LOCAL_MACHINE\\" + Chain(513) + "]\r\n"), std::string::npos);
  // What was written imports again.
  EXPECT_EQ(Import(target(), bytes), "");
  EXPECT_TRUE(KeyExists(target(), kHkeyLocalMachine, Chain(512)));
}

// ---- Import ---------------------------------------------------------------

class RegFileImport : public ::testing::Test {
 protected:
  IRegistry& reg() { return host_.Platform().Registry(); }
  TestHost host_;
};

TEST_F(RegFileImport, Regedit4FileIsReadAsCodePage1252WithEightBitStrings) {
  // "Gr\xFC\xDF" is "Grüß" in code page 1252; hex(2) and hex(7) hold 8-bit strings.
  const std::string file =
      "REGEDIT4\r\n\r\n"
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Old]\r\n"
      "\"Greeting\"=\"Gr\xFC\xDF \x80\"\r\n"
      "\"Path\"=hex(2):25,53,79,73,74,65,6d,52,6f,6f,74,25,00\r\n"
      "\"List\"=hex(7):61,00,fc,00,00\r\n"
      "\"Bytes\"=hex:fc,00\r\n"
      "\"Number\"=dword:00000010\r\n";
  ASSERT_EQ(Import(reg(), file), "");
  EXPECT_EQ(RegSzText(Value(reg(), kHkeyLocalMachine, "SOFTWARE\\Old", "Greeting")->data),
            "Gr\xC3\xBC\xC3\x9F \xE2\x82\xAC");
  const RegValue path = *Value(reg(), kHkeyLocalMachine, "SOFTWARE\\Old", "Path");
  EXPECT_EQ(path.type, kRegExpandSz);
  EXPECT_EQ(path.data, MakeRegSz("%SystemRoot%"));
  const RegValue list = *Value(reg(), kHkeyLocalMachine, "SOFTWARE\\Old", "List");
  EXPECT_EQ(list.type, kRegMultiSz);
  EXPECT_EQ(list.data, MakeRegMultiSz({"a", "\xC3\xBC"}));
  // Binary data is never converted.
  EXPECT_EQ(Value(reg(), kHkeyLocalMachine, "SOFTWARE\\Old", "Bytes")->data, std::string("\xFC\x00", 2));
  EXPECT_EQ(RegDwordValue(Value(reg(), kHkeyLocalMachine, "SOFTWARE\\Old", "Number")->data), 16u);
}

TEST_F(RegFileImport, Version5FileReadsTheSameAsUtf16Utf8AndUtf8WithBom) {
  const std::string body =
      "Windows Registry Editor Version 5.00\r\n\r\n"
      "[HKEY_CURRENT_USER\\Software\\Enc]\r\n"
      "\"Name\"=\"\xC3\xBC\xE2\x82\xAC\"\r\n"
      "\"Exp\"=hex(2):41,00,fc,00,00,00\r\n";
  const std::vector<std::string> files = {Utf16File(body), body, std::string(text::kUtf8Bom) + body};
  for (const std::string& file : files) {
    reg().DeleteTree(kHkeyCurrentUser, "Software\\Enc", 0);
    ASSERT_FALSE(KeyExists(reg(), kHkeyCurrentUser, "Software\\Enc"));
    ASSERT_EQ(Import(reg(), file), "");
    EXPECT_EQ(RegSzText(Value(reg(), kHkeyCurrentUser, "Software\\Enc", "Name")->data), "\xC3\xBC\xE2\x82\xAC");
    // In a version 5 file hex(2) is already UTF-16LE.
    EXPECT_EQ(Value(reg(), kHkeyCurrentUser, "Software\\Enc", "Exp")->data, MakeRegSz("A\xC3\xBC"));
  }
}

TEST_F(RegFileImport, CreatesMissingParentsAndAcceptsShortRootNames) {
  const std::string file =
      "Windows Registry Editor Version 5.00\n"
      "[HKLM\\SOFTWARE\\A\\B\\C]\n"
      "\"v\"=dword:7\n"
      "[hkcu\\Software\\Short]\n"
      "@=\"default\"\n"
      "[HKEY_USERS\\.DEFAULT\\Software\\U]\n"
      "[HKCR\\.tarvo]\n"
      "@=\"TarvoFile\"\n";
  ASSERT_EQ(Import(reg(), file), "");
  EXPECT_TRUE(KeyExists(reg(), kHkeyLocalMachine, "SOFTWARE\\A\\B"));
  EXPECT_EQ(RegDwordValue(Value(reg(), kHkeyLocalMachine, "SOFTWARE\\A\\B\\C", "v")->data), 7u);
  EXPECT_EQ(RegSzText(Value(reg(), kHkeyCurrentUser, "Software\\Short", "")->data), "default");
  EXPECT_TRUE(KeyExists(reg(), kHkeyUsers, ".DEFAULT\\Software\\U"));
  // HKEY_CLASSES_ROOT is HKLM\SOFTWARE\Classes on this host.
  EXPECT_EQ(RegSzText(Value(reg(), kHkeyLocalMachine, "SOFTWARE\\Classes\\.tarvo", "")->data), "TarvoFile");
}

TEST_F(RegFileImport, DeletesKeysWithTheirSubtreeAndSingleValues) {
  HKey key = Create(reg(), kHkeyLocalMachine, "SOFTWARE\\Del\\Keep");
  reg().SetValue(key, "gone", kRegSz, MakeRegSz("x"));
  reg().SetValue(key, "", kRegSz, MakeRegSz("default"));
  reg().SetValue(key, "stays", kRegSz, MakeRegSz("y"));
  reg().CloseKey(key);
  reg().CloseKey(Create(reg(), kHkeyLocalMachine, "SOFTWARE\\Del\\Drop\\Deep\\Deeper"));
  const std::string file =
      "Windows Registry Editor Version 5.00\r\n\r\n"
      "[-HKEY_LOCAL_MACHINE\\SOFTWARE\\Del\\Drop]\r\n\r\n"
      "[-HKEY_LOCAL_MACHINE\\SOFTWARE\\Del\\NeverExisted]\r\n\r\n"
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Del\\Keep]\r\n"
      "\"gone\"=-\r\n"
      "@=-\r\n"
      "\"never there\"=-\r\n";
  ASSERT_EQ(Import(reg(), file), "");
  EXPECT_FALSE(KeyExists(reg(), kHkeyLocalMachine, "SOFTWARE\\Del\\Drop"));
  EXPECT_FALSE(Value(reg(), kHkeyLocalMachine, "SOFTWARE\\Del\\Keep", "gone"));
  EXPECT_FALSE(Value(reg(), kHkeyLocalMachine, "SOFTWARE\\Del\\Keep", ""));
  EXPECT_TRUE(Value(reg(), kHkeyLocalMachine, "SOFTWARE\\Del\\Keep", "stays"));
  // A deletion is not a creation.
  EXPECT_FALSE(KeyExists(reg(), kHkeyLocalMachine, "SOFTWARE\\Del\\NeverExisted"));
}

TEST_F(RegFileImport, ReadsCommentsBlankLinesContinuationsAndLooseSpacing) {
  const std::string file =
      "Windows Registry Editor Version 5.00\r\n"
      "; a comment\r\n"
      "   \r\n"
      "  [HKEY_LOCAL_MACHINE\\SOFTWARE\\Loose\\]  \r\n"
      "\t; an indented comment\r\n"
      "\"Bin\" = hex:01,02,\\\r\n"
      "  03,04,\\\r\n"
      "\t05 , 6 ; a trailing comment\r\n"
      "\"D\"=DWORD:ABC  ; upper case is fine\r\n"
      "\"S\"=\"a;b\" ; ';' inside quotes is text\r\n"
      "\"Last\"=hex(2):41,00,00,00,\\\r\n";  // a continuation at the end of the file
  ASSERT_EQ(Import(reg(), file), "");
  EXPECT_EQ(Value(reg(), kHkeyLocalMachine, "SOFTWARE\\Loose", "Bin")->data, std::string("\x01\x02\x03\x04\x05\x06"));
  EXPECT_EQ(RegDwordValue(Value(reg(), kHkeyLocalMachine, "SOFTWARE\\Loose", "D")->data), 0xABCu);
  EXPECT_EQ(RegSzText(Value(reg(), kHkeyLocalMachine, "SOFTWARE\\Loose", "S")->data), "a;b");
  EXPECT_EQ(Value(reg(), kHkeyLocalMachine, "SOFTWARE\\Loose", "Last")->data, MakeRegSz("A"));
}

TEST_F(RegFileImport, LaterLinesWinAndRepeatedSectionsAddUp) {
  const std::string file =
      "Windows Registry Editor Version 5.00\n"
      "[HKEY_CURRENT_USER\\Software\\Twice]\n"
      "\"v\"=\"first\"\n"
      "[HKEY_CURRENT_USER\\Software\\Other]\n"
      "[HKEY_CURRENT_USER\\Software\\Twice]\n"
      "\"V\"=\"second\"\n"
      "\"w\"=dword:1\n";
  ASSERT_EQ(Import(reg(), file), "");
  EXPECT_EQ(RegSzText(Value(reg(), kHkeyCurrentUser, "Software\\Twice", "v")->data), "second");
  EXPECT_TRUE(Value(reg(), kHkeyCurrentUser, "Software\\Twice", "w"));
}

struct BadFile {
  const char* body;  // after the header line
  int line;
  const char* message;
};

TEST_F(RegFileImport, RejectsBadLinesWithTheirNumber) {
  const BadFile cases[] = {
      {"\"v\"=\"x\"\n", 2, "a value before the first key line"},
      {"[HKEY_LOCAL_MACHINE\\SOFTWARE\\X\n", 2, "must end with ']'"},
      {"[HKEY_NOWHERE\\X]\n", 2, "unknown root key 'HKEY_NOWHERE'"},
      {"[HKLM\\SOFTWARE\\\\X]\n", 2, "empty key name"},
      {"[-HKEY_LOCAL_MACHINE]\n", 2, "a root key cannot be deleted"},
      {"[HKLM\\S]\n\"v\"=\"unterminated\n", 3, "closing quote"},
      {"[HKLM\\S]\n\"v\"=\"bad \\n escape\"\n", 3, "unknown escape '\\n'"},
      {"[HKLM\\S]\n\"v\" \"x\"\n", 3, "expected '='"},
      {"[HKLM\\S]\n\"v\"=dword:123456789\n", 3, "at most 8 hex digits"},
      {"[HKLM\\S]\n\"v\"=dword:\n", 3, "needs hex digits"},
      {"[HKLM\\S]\n\"v\"=dword:12zz\n", 3, "unexpected text after the value"},
      {"[HKLM\\S]\n\"v\"=hex:01,,02\n", 3, "bad hex byte"},
      {"[HKLM\\S]\n\"v\"=hex:012\n", 3, "expected ','"},
      {"[HKLM\\S]\n\"v\"=hex(xyz):01\n", 3, "hex(N) needs 1 to 8 hex digits"},
      {"[HKLM\\S]\n\"v\"=hex(123456789):01\n", 3, "hex(N) needs 1 to 8 hex digits"},
      {"[HKLM\\S]\n\"v\"=hex(2:01\n", 3, "without its ')'"},
      {"[HKLM\\S]\n\"v\"=hex;01\n", 3, "expected ':'"},
      {"[HKLM\\S]\n\"v\"=str:\"x\"\n", 3, "unrecognised value data"},
      {"[HKLM\\S]\n\"v\"=\"x\" y\n", 3, "unexpected text after the value"},
      {"[HKLM\\S]\n\"v\"=- x\n", 3, "unexpected text after the value"},
      {"[HKLM\\S]\nplain text\n", 3, "unexpected text 'plain text'"},
      {"[-HKLM\\S]\n\"v\"=\"x\"\n", 3, "key that is deleted"},
      // A continued value reports the line it starts on.
      {"[HKLM\\S]\n\"v\"=hex:01,\\\n  02,\\\n  zz\n", 3, "bad hex byte at 'zz'"},
  };
  for (const BadFile& c : cases) {
    const std::string file = std::string("Windows Registry Editor Version 5.00\n") + c.body;
    RegFileDocument document;
    std::string error;
    EXPECT_FALSE(ParseRegFile(file, &document, &error)) << c.body;
    EXPECT_EQ(error.rfind(text::Format("line %d: ", c.line), 0), 0u) << c.body << " -> " << error;
    EXPECT_NE(error.find(c.message), std::string::npos) << c.body << " -> " << error;
  }
}

TEST_F(RegFileImport, RejectsFilesWithoutAKnownHeader) {
  for (const std::string& file : {std::string(), std::string("REGEDIT5\r\n[HKLM\\S]\r\n"),
                                 std::string("\r\nWindows Registry Editor Version 5.00\r\n"),
                                 std::string("\xFE\xFF\0W", 4)}) {
    RegFileDocument document;
    std::string error;
    EXPECT_FALSE(ParseRegFile(file, &document, &error));
    EXPECT_EQ(error.rfind("line 1: ", 0), 0u) << error;
  }
}

TEST_F(RegFileImport, RejectsNamesBeyondWindowsLimits) {
  const std::string longKey(256, 'k');
  const std::string longValue(16384, 'v');
  for (const std::string& body :
       {"[HKLM\\SOFTWARE\\" + longKey + "]\n", "[HKLM\\S]\n\"" + longValue + "\"=\"x\"\n",
        std::string("[HKLM\\S]\n\"a\0b\"=\"x\"\n", 19)}) {
    RegFileDocument document;
    std::string error;
    EXPECT_FALSE(ParseRegFile("REGEDIT4\n" + body, &document, &error)) << body.size();
  }
  RegFileDocument document;
  std::string error;
  EXPECT_TRUE(ParseRegFile("REGEDIT4\n[HKLM\\SOFTWARE\\" + std::string(255, 'k') + "]\n", &document, &error))
      << error;
}

TEST_F(RegFileImport, RejectsKeysDeeperThanWindowsAllowsWithTheirLine) {
  for (const char* line : {"[HKLM\\", "[-HKLM\\"}) {
    const std::string file = "REGEDIT4\n[HKLM\\S]\n" + std::string(line) + Chain(513) + "]\n";
    RegFileDocument document;
    std::string error;
    EXPECT_FALSE(ParseRegFile(file, &document, &error));
    EXPECT_EQ(error.rfind("line 3: a key more than 512 levels below its root: ", 0), 0u) << error;
  }
  EXPECT_EQ(Import(reg(), "REGEDIT4\n[HKLM\\" + Chain(512) + "]\n"), "");
  EXPECT_TRUE(KeyExists(reg(), kHkeyLocalMachine, Chain(512)));
}

TEST_F(RegFileImport, BadLineLeavesTheRegistryUntouched) {
  // Line 12 is bad; everything before it is fine and must not be applied.
  const std::string file =
      "Windows Registry Editor Version 5.00\r\n"  // 1
      "\r\n"                                      // 2
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Partial]\r\n"
      "\"a\"=\"1\"\r\n"
      "\"b\"=dword:2\r\n"
      "\r\n"
      "[-HKEY_LOCAL_MACHINE\\SOFTWARE\\Existing]\r\n"
      "\r\n"
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Partial\\Sub]\r\n"  // 9
      "\"c\"=hex:01,02,\\\r\n"
      "  03\r\n"
      "\"d\"=dword:xyz\r\n"  // 12
      "\"e\"=\"5\"\r\n";
  reg().CloseKey(Create(reg(), kHkeyLocalMachine, "SOFTWARE\\Existing"));
  const TreeSnapshot before = Snapshot(reg(), kHkeyLocalMachine, "SOFTWARE");
  EXPECT_EQ(Import(reg(), file).rfind("line 12: ", 0), 0u);
  EXPECT_EQ(Snapshot(reg(), kHkeyLocalMachine, "SOFTWARE"), before);
}

// Fails SetValue of one value name, as a key whose descriptor refuses writes would.
class RefusingRegistry : public ForwardingRegistry {
 public:
  RefusingRegistry(IRegistry& base, std::string refused) : ForwardingRegistry(base), refused_(std::move(refused)) {}
  uint32_t SetValue(HKey key, std::string_view name, uint32_t type, std::string_view data) override {
    if (name == refused_) return winerr::kAccessDenied;
    return ForwardingRegistry::SetValue(key, name, type, data);
  }

 private:
  std::string refused_;
};

TEST_F(RegFileImport, FailedCallInsideTheCallersTransactionRollsEverythingBack) {
  const std::string file =
      "Windows Registry Editor Version 5.00\n"
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Tx\\New]\n"
      "\"ok\"=\"written first\"\n"
      "[-HKEY_LOCAL_MACHINE\\SOFTWARE\\Tx\\Old]\n"
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Tx\\Later]\n"
      "\"refused\"=\"x\"\n";
  reg().CloseKey(Create(reg(), kHkeyLocalMachine, "SOFTWARE\\Tx\\Old"));
  RegFileDocument document;
  std::string error;
  ASSERT_TRUE(ParseRegFile(file, &document, &error)) << error;
  RefusingRegistry refusing(reg(), "refused");
  {
    host::Transaction tx(host_.Host().Db());
    EXPECT_FALSE(ApplyRegFile(refusing, document, 0, &error));
    // Not committed: the scope rolls back.
  }
  EXPECT_EQ(error,
            "line 6: cannot set value \"refused\" of HKEY_LOCAL_MACHINE\\SOFTWARE\\Tx\\Later: access is denied");
  EXPECT_FALSE(KeyExists(reg(), kHkeyLocalMachine, "SOFTWARE\\Tx\\New"));
  EXPECT_TRUE(KeyExists(reg(), kHkeyLocalMachine, "SOFTWARE\\Tx\\Old"));
  EXPECT_FALSE(KeyExists(reg(), kHkeyLocalMachine, "SOFTWARE\\Tx\\Later"));
}

// Deterministic mutations of valid files and plain noise: the reader must
// answer every one with a document or a "line N:" message, and whatever it
// accepts must be applicable.
TEST_F(RegFileImport, SurvivesArbitraryBytes) {
  const std::string seeds[] = {
      Utf16File("Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\Software\\F]\r\n"
                "\"s\"=\"t\\\\x\"\r\n@=dword:1\r\n\"h\"=hex(7):41,00,00,00,\\\r\n  00,00\r\n"
                "[-HKCU\\Software\\F\\G]\r\n"),
      "REGEDIT4\n[HKCU\\Software\\F]\n\"s\"=\"\xE4\"\n\"b\"=hex:01,02\n\"x\"=-\n",
      "Windows Registry Editor Version 5.00\n[HKCU\\Software\\F\\]\n\"q\"=hex(b):01,02,03,04,05,06,07,08\n",
  };
  uint32_t state = 12345;
  auto next = [&state] {
    state = state * 1103515245u + 12345u;
    return state >> 8;
  };
  int accepted = 0;
  for (int round = 0; round < 3000; ++round) {
    std::string file = seeds[round % 3];
    if (round % 10 == 9) {
      file.resize(next() % 200);
      for (char& c : file) c = static_cast<char>(next());
    }
    const int edits = 1 + static_cast<int>(next() % 6);
    for (int e = 0; e < edits && !file.empty(); ++e) {
      const size_t at = next() % file.size();
      switch (next() % 4) {
        case 0: file[at] = static_cast<char>(next()); break;
        case 1: file.insert(at, 1, "\\\"[]=-:,;@\r\n\0("[next() % 15]); break;
        case 2: file.erase(at, 1 + next() % 3); break;
        default: file.resize(at); break;
      }
    }
    RegFileDocument document;
    std::string error;
    if (!ParseRegFile(file, &document, &error)) {
      ASSERT_EQ(error.rfind("line ", 0), 0u) << error;
      continue;
    }
    ++accepted;
    host::Transaction tx(host_.Host().Db());  // rolled back: every round starts clean
    ApplyRegFile(reg(), document, 0, &error);
  }
  EXPECT_GT(accepted, 100);  // the mutations must also reach the apply step
}

// ---- Root keys ------------------------------------------------------------

TEST(RegFileRootKeys, SplitsFullAndShortSpellings) {
  struct Case {
    const char* path;
    bool allowShort;
    HKey root;
    const char* subKey;
  };
  const Case good[] = {
      {"HKEY_LOCAL_MACHINE\\SOFTWARE\\X", false, kHkeyLocalMachine, "SOFTWARE\\X"},
      {"hkey_current_user", false, kHkeyCurrentUser, ""},
      {"HKLM\\SOFTWARE\\", true, kHkeyLocalMachine, "SOFTWARE"},
      {"HKCU\\Software", true, kHkeyCurrentUser, "Software"},
      {"HKCR\\.txt", true, kHkeyClassesRoot, ".txt"},
      {"HKU\\.DEFAULT", true, kHkeyUsers, ".DEFAULT"},
      {"HKCC\\Software", true, kHkeyCurrentConfig, "Software"},
      {"HKEY_USERS\\S-1-5-18", true, kHkeyUsers, "S-1-5-18"},
      {"HKEY_CURRENT_CONFIG", true, kHkeyCurrentConfig, ""},
  };
  for (const Case& c : good) {
    HKey root = kNullKey;
    std::string subKey, error;
    ASSERT_TRUE(hosttool::SplitRootedPath(c.path, c.allowShort, &root, &subKey, &error)) << c.path << ": " << error;
    EXPECT_EQ(root, c.root) << c.path;
    EXPECT_EQ(subKey, c.subKey) << c.path;
  }
  for (const char* bad : {"HKLM\\SOFTWARE", "HKEY_DYN_DATA\\X", "", "\\SOFTWARE", "HKEY_LOCAL_MACHINE\\\\X",
                          "HKEY_LOCAL_MACHINE\\A\\\\"}) {
    HKey root = kNullKey;
    std::string subKey, error;
    EXPECT_FALSE(hosttool::SplitRootedPath(bad, false, &root, &subKey, &error)) << bad;
    EXPECT_FALSE(error.empty()) << bad;
  }
  EXPECT_EQ(hosttool::RootKeyName(kHkeyClassesRoot), "HKEY_CLASSES_ROOT");
  EXPECT_EQ(hosttool::RootKeyName(0x1234), "");
}

}  // namespace
