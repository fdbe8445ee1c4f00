#include "tools/tarvo-host/RegFile.h"

#include <algorithm>

#include "platform/WinError.h"
#include "platform/text/Text.h"

namespace hosttool {
namespace {

struct RootSpelling {
  plat::HKey key;
  std::string_view name;
  std::string_view shortName;
};

constexpr RootSpelling kRoots[] = {
    {plat::kHkeyLocalMachine, "HKEY_LOCAL_MACHINE", "HKLM"},
    {plat::kHkeyCurrentUser, "HKEY_CURRENT_USER", "HKCU"},
    {plat::kHkeyClassesRoot, "HKEY_CLASSES_ROOT", "HKCR"},
    {plat::kHkeyUsers, "HKEY_USERS", "HKU"},
    {plat::kHkeyCurrentConfig, "HKEY_CURRENT_CONFIG", "HKCC"},
};

// Windows' limits, in UTF-16 code units.
constexpr size_t kMaxKeyNameUnits = 255;
constexpr size_t kMaxValueNameUnits = 16383;
// Exported hex lines stay within this width, as the registry editor's do.
constexpr size_t kHexLineWidth = 80;

constexpr std::string_view kVersion5Header = "Windows Registry Editor Version 5.00";
constexpr std::string_view kRegedit4Header = "REGEDIT4";
constexpr std::string_view kUtf16BeBom = "\xFE\xFF";

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view TrimLeft(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  return s;
}

std::string_view TrimRight(std::string_view s) {
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

size_t Utf16Length(std::string_view utf8) { return text::Utf8ToUtf16(utf8).size(); }

// A piece of file text fit for a one-line message: control characters
// shown as '?', long text cut (on a UTF-8 boundary).
std::string Shown(std::string_view s) {
  constexpr size_t kMax = 60;
  bool cut = false;
  if (s.size() > kMax) {
    size_t end = kMax;
    while (end > 0 && (static_cast<unsigned char>(s[end]) & 0xC0) == 0x80) --end;
    s = s.substr(0, end);
    cut = true;
  }
  std::string out = "'";
  for (char c : s) out += (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) ? '?' : c;
  return out + (cut ? "...'" : "'");
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool CheckKeyName(std::string_view part, std::string_view path, std::string* error) {
  if (part.empty()) {
    *error = "empty key name in " + Shown(path);
    return false;
  }
  if (part.find('\0') != std::string_view::npos) {
    *error = "a key name cannot hold a NUL character";
    return false;
  }
  if (Utf16Length(part) > kMaxKeyNameUnits) {
    *error = "a key name longer than 255 characters: " + Shown(part);
    return false;
  }
  return true;
}

std::string FullKeyName(plat::HKey root, std::string_view subKey) {
  std::string name(RootKeyName(root));
  if (!subKey.empty()) name += "\\" + std::string(subKey);
  return name;
}

// ---- Export ---------------------------------------------------------------

std::string EscapeQuoted(std::string_view s) {
  std::string out = "\"";
  for (char c : s) {
    if (c == '\\' || c == '"') out += '\\';
    out += c;
  }
  return out + "\"";
}

// The text of a REG_SZ that the quoted form carries without loss: exactly
// one terminating NUL, no line breaks, and UTF-16 that survives UTF-8.
// Anything else is written as hex(1) so the import gives back the same bytes.
bool QuotableText(const plat::RegValue& value, std::string* textOut) {
  if (value.type != plat::kRegSz || value.data.size() < 2 || value.data.size() % 2 != 0) return false;
  std::u16string wide = text::Utf16LeBytesToUtf16(value.data);
  if (wide.back() != u'\0') return false;
  wide.pop_back();
  for (char16_t unit : wide) {
    if (unit == u'\0' || unit == u'\r' || unit == u'\n') return false;
  }
  *textOut = text::Utf16ToUtf8(wide);
  return text::Utf8ToUtf16(*textOut) == wide;
}

// `prefix` is the start of the line ("name"=hex(7):); the bytes follow,
// wrapped after a comma with a trailing backslash and a two-space indent.
std::string HexLine(std::string prefix, std::string_view bytes) {
  std::string line = std::move(prefix);
  size_t column = line.size();
  for (size_t i = 0; i < bytes.size(); ++i) {
    if (i > 0) {
      line += ',';
      ++column;
      // Room for the next two digits, its comma and the backslash.
      if (column + 4 > kHexLineWidth) {
        line += "\\\r\n  ";
        column = 2;
      }
    }
    line += text::Format("%02x", static_cast<unsigned char>(bytes[i]));
    column += 2;
  }
  return line;
}

std::string ValueLine(const std::string& name, const plat::RegValue& value) {
  const std::string prefix = (name.empty() ? std::string("@") : EscapeQuoted(name)) + "=";
  std::string quoted;
  if (QuotableText(value, &quoted)) return prefix + EscapeQuoted(quoted);
  if (value.type == plat::kRegDword && value.data.size() == 4) {
    return prefix + text::Format("dword:%08x", plat::RegDwordValue(value.data));
  }
  const std::string tag = value.type == plat::kRegBinary ? "hex:" : text::Format("hex(%x):", value.type);
  return HexLine(prefix + tag, value.data);
}

}  // namespace

uint32_t WalkKeyTree(plat::IRegistry& registry, plat::HKey key, const std::string& path, size_t depth,
                     uint32_t viewSam, const KeyVisitor& visit, std::string* leftOut) {
  std::vector<std::string> children;
  if (uint32_t rc = visit(key, path, &children)) return rc;
  if (!children.empty() && depth >= plat::kMaxKeyDepth) {
    if (leftOut->empty()) *leftOut = path + "\\" + children.front();
    return winerr::kSuccess;
  }
  for (const std::string& child : children) {
    plat::HKey sub = plat::kNullKey;
    if (uint32_t rc = registry.OpenKey(key, child, plat::kKeyRead | viewSam, &sub)) return rc;
    const uint32_t rc = WalkKeyTree(registry, sub, path + "\\" + child, depth + 1, viewSam, visit, leftOut);
    registry.CloseKey(sub);
    if (rc) return rc;
  }
  return winerr::kSuccess;
}

namespace {

class Exporter {
 public:
  Exporter(plat::IRegistry& registry, uint32_t viewSam) : registry_(registry), viewSam_(viewSam) {}

  // Appends `key` and its subtree.
  uint32_t WriteTree(plat::HKey key, const std::string& path, size_t depth) {
    return WalkKeyTree(
        registry_, key, path, depth, viewSam_,
        [this](plat::HKey visited, const std::string& visitedPath, std::vector<std::string>* children) {
          text_ += "[" + visitedPath + "]\r\n";
          if (uint32_t rc = WriteValues(visited)) return rc;
          text_ += "\r\n";
          return SubKeyNames(visited, children);
        },
        &leftOut_);
  }

  const std::string& Text() const { return text_; }
  const std::string& LeftOut() const { return leftOut_; }

 private:
  uint32_t WriteValues(plat::HKey key) {
    for (uint32_t index = 0;; ++index) {
      std::string name;
      plat::RegValue value;
      const uint32_t rc = registry_.EnumValue(key, index, &name, &value);
      if (rc == winerr::kNoMoreItems) return winerr::kSuccess;
      if (rc) return rc;
      text_ += ValueLine(name, value) + "\r\n";
    }
  }

  uint32_t SubKeyNames(plat::HKey key, std::vector<std::string>* names) {
    for (uint32_t index = 0;; ++index) {
      std::string name;
      const uint32_t rc = registry_.EnumKey(key, index, &name);
      if (rc == winerr::kNoMoreItems) return winerr::kSuccess;
      if (rc) return rc;
      names->push_back(std::move(name));
    }
  }

  plat::IRegistry& registry_;
  uint32_t viewSam_;
  std::string text_;
  std::string leftOut_;  // the first key too deep to be written
};

// ---- Import ---------------------------------------------------------------

bool StartsWithBytes(std::string_view s, std::string_view prefix) { return s.substr(0, prefix.size()) == prefix; }

// The file as UTF-8 text. A byte-order mark decides the encoding; without
// one, REGEDIT4 files are code page 1252 and version 5 files UTF-8 unless
// they are not valid UTF-8 (then 1252, as an 8-bit editor would have saved).
bool DecodeFile(std::string_view bytes, std::string* decoded, std::string* error) {
  if (StartsWithBytes(bytes, text::kUtf16LeBom)) {
    *decoded = text::Utf16ToUtf8(text::Utf16LeBytesToUtf16(bytes.substr(2)));
  } else if (StartsWithBytes(bytes, kUtf16BeBom)) {
    *error = "line 1: UTF-16 big-endian files are not supported (save the file as UTF-16LE)";
    return false;
  } else if (StartsWithBytes(bytes, text::kUtf8Bom)) {
    // Repairs malformed sequences into U+FFFD.
    *decoded = text::Utf16ToUtf8(text::Utf8ToUtf16(bytes.substr(3)));
  } else if (StartsWithBytes(bytes, kRegedit4Header) || !text::IsValidUtf8(bytes)) {
    *decoded = text::Cp1252ToUtf8(bytes);
  } else {
    *decoded = std::string(bytes);
  }
  return true;
}

std::vector<std::string_view> SplitLines(std::string_view s) {
  std::vector<std::string_view> lines;
  size_t start = 0;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] != '\r' && s[i] != '\n') continue;
    lines.push_back(s.substr(start, i - start));
    if (s[i] == '\r' && i + 1 < s.size() && s[i + 1] == '\n') ++i;
    start = i + 1;
  }
  if (start < s.size()) lines.push_back(s.substr(start));
  return lines;
}

// Registry strings of an 8-bit file become UTF-16LE, as the ANSI registry
// calls convert REG_SZ, REG_EXPAND_SZ and REG_MULTI_SZ data (NULs included).
bool IsAnsiConvertedType(uint32_t type) {
  return type == plat::kRegSz || type == plat::kRegExpandSz || type == plat::kRegMultiSz;
}

std::string AnsiToUtf16Le(std::string_view bytes) {
  return text::Utf16ToUtf16LeBytes(text::Utf8ToUtf16(text::Cp1252ToUtf8(bytes)));
}

class Parser {
 public:
  bool Run(std::string_view fileBytes, RegFileDocument* document, std::string* error) {
    document_ = document;
    error_ = error;
    *document_ = RegFileDocument{};
    std::string decoded;
    if (!DecodeFile(fileBytes, &decoded, error)) return false;
    lines_ = SplitLines(decoded);
    if (!ReadHeader()) return false;
    for (index_ = 1; index_ < lines_.size(); ++index_) {
      startLine_ = LineNumber();
      if (!ReadLine()) return false;
    }
    return true;
  }

 private:
  int LineNumber() const { return static_cast<int>(index_) + 1; }

  // Errors name the line a value starts on, also when it is continued.
  bool Fail(const std::string& why) {
    *error_ = text::Format("line %d: ", startLine_) + why;
    return false;
  }

  bool ReadHeader() {
    index_ = 0;
    startLine_ = 1;
    const std::string_view header = lines_.empty() ? std::string_view() : TrimRight(TrimLeft(lines_[0]));
    if (header == kVersion5Header) {
      document_->format = RegFileFormat::kVersion5;
    } else if (header == kRegedit4Header) {
      document_->format = RegFileFormat::kRegedit4;
    } else {
      return Fail("not a registry file: the first line must be \"" + std::string(kVersion5Header) + "\" or \"" +
                  std::string(kRegedit4Header) + "\"");
    }
    return true;
  }

  bool ReadLine() {
    const std::string_view line = TrimLeft(lines_[index_]);
    if (line.empty() || line.front() == ';') return true;
    if (line.front() == '[') return ReadKeyLine(TrimRight(line));
    if (line.front() == '"' || line.front() == '@') return ReadValueLine(line);
    return Fail("unexpected text " + Shown(line));
  }

  // [ROOT\path] or [-ROOT\path]. The last ']' closes it, so key names may
  // hold a ']' themselves.
  bool ReadKeyLine(std::string_view line) {
    if (line.size() < 2 || line.back() != ']') return Fail("a key line must end with ']'");
    std::string_view path = line.substr(1, line.size() - 2);
    RegFileKey key;
    key.line = LineNumber();
    if (!path.empty() && path.front() == '-') {
      key.remove = true;
      path.remove_prefix(1);
    }
    std::string why;
    if (!SplitRootedPath(path, true, &key.root, &key.subKey, &why)) return Fail(why);
    if (key.remove && key.subKey.empty()) return Fail("a root key cannot be deleted");
    if (KeyDepth(key.subKey) > plat::kMaxKeyDepth) {
      return Fail(text::Format("a key more than %zu levels below its root: ", plat::kMaxKeyDepth) + Shown(path));
    }
    document_->keys.push_back(std::move(key));
    return true;
  }

  bool ReadValueLine(std::string_view line) {
    if (document_->keys.empty()) return Fail("a value before the first key line");
    RegFileKey& key = document_->keys.back();
    if (key.remove) return Fail("a value in the section of a key that is deleted");
    RegFileValue value;
    value.line = LineNumber();
    size_t pos = 0;
    if (line.front() == '@') {
      pos = 1;
    } else if (!ReadQuoted(line, &pos, &value.name)) {
      return false;
    }
    if (!CheckValueName(value.name)) return false;
    while (pos < line.size() && IsBlank(line[pos])) ++pos;
    if (pos >= line.size() || line[pos] != '=') return Fail("expected '=' after the value name");
    if (!ReadData(TrimLeft(line.substr(pos + 1)), &value)) return false;
    key.values.push_back(std::move(value));
    return true;
  }

  bool CheckValueName(const std::string& name) {
    if (name.find('\0') != std::string::npos) return Fail("a value name cannot hold a NUL character");
    if (Utf16Length(name) > kMaxValueNameUnits) return Fail("a value name longer than 16383 characters");
    return true;
  }

  // A quoted string at `*pos` with \\ and \" escapes; `*pos` ends after it.
  bool ReadQuoted(std::string_view s, size_t* pos, std::string* out) {
    size_t i = *pos + 1;
    out->clear();
    while (i < s.size()) {
      const char c = s[i++];
      if (c == '"') {
        *pos = i;
        return true;
      }
      if (c != '\\') {
        *out += c;
        continue;
      }
      if (i >= s.size()) break;
      if (s[i] != '\\' && s[i] != '"') return Fail("unknown escape '\\" + std::string(1, s[i]) + "' in a string");
      *out += s[i++];
    }
    return Fail("a string without its closing quote");
  }

  // After the data only blanks and a ';' comment may follow.
  bool RestIsEmpty(std::string_view rest) {
    rest = TrimLeft(rest);
    if (rest.empty() || rest.front() == ';') return true;
    return Fail("unexpected text after the value: " + Shown(rest));
  }

  bool ReadData(std::string_view data, RegFileValue* value) {
    if (!data.empty() && data.front() == '-') {
      value->remove = true;
      return RestIsEmpty(data.substr(1));
    }
    if (!data.empty() && data.front() == '"') {
      size_t pos = 0;
      std::string textValue;
      if (!ReadQuoted(data, &pos, &textValue)) return false;
      value->value = {plat::kRegSz, plat::MakeRegSz(textValue)};
      return RestIsEmpty(data.substr(pos));
    }
    if (text::StartsWithNoCase(data, "dword:")) return ReadDword(data.substr(6), value);
    if (text::StartsWithNoCase(data, "hex")) return ReadHex(data.substr(3), value);
    return Fail("unrecognised value data " + Shown(data) +
                " (expected \"text\", dword:, hex:, hex(N): or - to delete)");
  }

  bool ReadDword(std::string_view digits, RegFileValue* value) {
    uint32_t number = 0;
    size_t count = 0;
    while (count < digits.size() && HexDigit(digits[count]) >= 0) {
      if (count == 8) return Fail("a dword has at most 8 hex digits");
      number = (number << 4) | static_cast<uint32_t>(HexDigit(digits[count]));
      ++count;
    }
    if (count == 0) return Fail("dword: needs hex digits");
    value->value = {plat::kRegDword, plat::MakeRegDword(number)};
    return RestIsEmpty(digits.substr(count));
  }

  // After "hex": an optional "(N)" type, the ':' and comma-separated bytes,
  // continued on the next line after a trailing backslash.
  bool ReadHex(std::string_view rest, RegFileValue* value) {
    uint32_t type = plat::kRegBinary;
    if (!rest.empty() && rest.front() == '(') {
      const size_t close = rest.find(')');
      if (close == std::string_view::npos) return Fail("hex( without its ')'");
      if (!ReadTypeNumber(rest.substr(1, close - 1), &type)) return false;
      rest.remove_prefix(close + 1);
    }
    if (rest.empty() || rest.front() != ':') return Fail("expected ':' after hex or hex(N)");
    std::string joined(rest.substr(1));
    while (!TrimRight(joined).empty() && TrimRight(joined).back() == '\\') {
      joined.resize(TrimRight(joined).size() - 1);
      if (index_ + 1 >= lines_.size()) break;  // a continuation at the end of the file
      joined += TrimLeft(lines_[++index_]);
    }
    std::string bytes;
    if (!ReadHexBytes(joined, &bytes)) return false;
    if (document_->format == RegFileFormat::kRegedit4 && IsAnsiConvertedType(type)) bytes = AnsiToUtf16Le(bytes);
    value->value = {type, std::move(bytes)};
    return true;
  }

  bool ReadTypeNumber(std::string_view digits, uint32_t* type) {
    if (digits.empty() || digits.size() > 8) return Fail("hex(N) needs 1 to 8 hex digits for the type");
    *type = 0;
    for (char c : digits) {
      if (HexDigit(c) < 0) return Fail("hex(N) needs 1 to 8 hex digits for the type");
      *type = (*type << 4) | static_cast<uint32_t>(HexDigit(c));
    }
    return true;
  }

  bool ReadHexBytes(std::string_view s, std::string* bytes) {
    size_t pos = 0;
    auto skipBlanks = [&] {
      while (pos < s.size() && IsBlank(s[pos])) ++pos;
    };
    auto atEnd = [&] { return pos >= s.size() || s[pos] == ';'; };
    skipBlanks();
    while (!atEnd()) {
      int byte = 0;
      size_t digits = 0;
      while (digits < 2 && pos < s.size() && HexDigit(s[pos]) >= 0) {
        byte = byte * 16 + HexDigit(s[pos++]);
        ++digits;
      }
      if (digits == 0) return Fail("bad hex byte at " + Shown(s.substr(pos)));
      bytes->push_back(static_cast<char>(byte));
      skipBlanks();
      if (atEnd()) break;
      if (s[pos] != ',') return Fail("expected ',' between hex bytes at " + Shown(s.substr(pos)));
      ++pos;
      skipBlanks();
    }
    return true;
  }

  RegFileDocument* document_ = nullptr;
  std::string* error_ = nullptr;
  std::vector<std::string_view> lines_;
  size_t index_ = 0;
  int startLine_ = 1;
};

// ---- Apply ----------------------------------------------------------------

bool CallFailed(uint32_t rc, int line, const std::string& what, std::string* error) {
  *error = text::Format("line %d: ", line) + what + ": " + RegistryErrorText(rc);
  return false;
}

bool ApplyKey(plat::IRegistry& registry, const RegFileKey& key, uint32_t viewSam, std::string* error,
              RegImportCounts* counts) {
  const std::string name = FullKeyName(key.root, key.subKey);
  if (key.remove) {
    const uint32_t rc = registry.DeleteTree(key.root, key.subKey, viewSam);
    if (rc && rc != winerr::kFileNotFound) return CallFailed(rc, key.line, "cannot delete " + name, error);
    ++counts->keys;
    return true;
  }
  plat::HKey handle = plat::kNullKey;
  if (uint32_t rc = registry.CreateKey(key.root, key.subKey, plat::kKeyAllAccess | viewSam, &handle, nullptr)) {
    return CallFailed(rc, key.line, "cannot create " + name, error);
  }
  ++counts->keys;
  for (const RegFileValue& value : key.values) {
    const std::string shownName = value.name.empty() ? "the default value" : "value \"" + value.name + "\"";
    uint32_t rc = value.remove ? registry.DeleteValue(handle, value.name)
                               : registry.SetValue(handle, value.name, value.value.type, value.value.data);
    if (value.remove && rc == winerr::kFileNotFound) rc = winerr::kSuccess;
    if (rc) {
      registry.CloseKey(handle);
      return CallFailed(rc, value.line,
                        (value.remove ? "cannot delete " : "cannot set ") + shownName + " of " + name, error);
    }
    ++counts->values;
  }
  registry.CloseKey(handle);
  return true;
}

}  // namespace

plat::HKey FindRootKey(std::string_view name, bool allowShort) {
  for (const RootSpelling& root : kRoots) {
    if (text::EqualsNoCase(name, root.name) || (allowShort && text::EqualsNoCase(name, root.shortName))) {
      return root.key;
    }
  }
  return plat::kNullKey;
}

std::string_view RootKeyName(plat::HKey root) {
  for (const RootSpelling& spelling : kRoots) {
    if (spelling.key == root) return spelling.name;
  }
  return {};
}

bool SplitRootedPath(std::string_view path, bool allowShort, plat::HKey* root, std::string* subKey,
                     std::string* error) {
  const size_t slash = path.find('\\');
  const std::string_view rootName = path.substr(0, slash);
  *root = FindRootKey(rootName, allowShort);
  if (*root == plat::kNullKey) {
    *error = "unknown root key " + Shown(rootName);
    return false;
  }
  std::string_view rest = slash == std::string_view::npos ? std::string_view() : path.substr(slash + 1);
  if (!rest.empty() && rest.back() == '\\') rest.remove_suffix(1);
  size_t start = 0;
  while (!rest.empty()) {
    size_t end = rest.find('\\', start);
    if (end == std::string_view::npos) end = rest.size();
    if (!CheckKeyName(rest.substr(start, end - start), path, error)) return false;
    if (end == rest.size()) break;
    start = end + 1;
  }
  *subKey = std::string(rest);
  return true;
}

size_t KeyDepth(std::string_view subKey) {
  return subKey.empty() ? 0 : static_cast<size_t>(std::count(subKey.begin(), subKey.end(), '\\')) + 1;
}

uint32_t ExportRegFile(plat::IRegistry& registry, plat::HKey root, std::string_view subKey, uint32_t viewSam,
                       std::string* fileBytes, std::string* leftOut) {
  plat::HKey key = plat::kNullKey;
  if (uint32_t rc = registry.OpenKey(root, subKey, plat::kKeyRead | viewSam, &key)) return rc;
  Exporter exporter(registry, viewSam);
  const uint32_t rc = exporter.WriteTree(key, FullKeyName(root, subKey), KeyDepth(subKey));
  registry.CloseKey(key);
  if (rc) return rc;
  if (leftOut) *leftOut = exporter.LeftOut();
  const std::string utf8 = std::string(kVersion5Header) + "\r\n\r\n" + exporter.Text();
  *fileBytes = std::string(text::kUtf16LeBom) + text::Utf16ToUtf16LeBytes(text::Utf8ToUtf16(utf8));
  return winerr::kSuccess;
}

bool ParseRegFile(std::string_view fileBytes, RegFileDocument* document, std::string* error) {
  Parser parser;
  return parser.Run(fileBytes, document, error);
}

bool ApplyRegFile(plat::IRegistry& registry, const RegFileDocument& document, uint32_t viewSam,
                  std::string* error, RegImportCounts* counts) {
  RegImportCounts local;
  if (!counts) counts = &local;
  for (const RegFileKey& key : document.keys) {
    if (!ApplyKey(registry, key, viewSam, error, counts)) return false;
  }
  return true;
}

std::string RegistryErrorText(uint32_t code) {
  switch (code) {
    case winerr::kFileNotFound: return "the system was unable to find the specified registry key or value";
    case winerr::kAccessDenied: return "access is denied";
    case winerr::kInvalidParameter: return "the parameter is incorrect";
    case winerr::kCantRead: return "the registry key could not be read";
    case winerr::kCantWrite: return "the registry could not be written";
    case winerr::kKeyDeleted: return "the key has been deleted";
    default: return text::Format("Win32 error %u", code);
  }
}

}  // namespace hosttool
