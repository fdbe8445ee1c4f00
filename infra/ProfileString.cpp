#include "infra/ProfileString.h"

#include <vector>

#include "infra/IniFile.h"
#include "platform/Files.h"
#include "platform/Platform.h"
#include "platform/WinError.h"
#include "platform/text/Text.h"

namespace profile {
namespace {

bool IsBlankUnit(char16_t u) { return u == ' ' || u == '\t' || u == '\v' || u == '\f' || u == '\r' || u == '\n'; }

std::string_view TrimText(std::string_view s) {
  while (!s.empty() && IsBlankUnit(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
  while (!s.empty() && IsBlankUnit(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
  return s;
}

// The file as a row of code units: the bytes of an 8-bit file, or the
// UTF-16LE units after the byte order mark. The syntax characters are ASCII
// and one unit in either encoding, so parsing works on units and every
// position maps back to an exact byte offset. A lone trailing byte of an
// odd-sized UTF-16 file lies beyond the last unit and is kept as it is.
class Units {
 public:
  explicit Units(std::string_view bytes)
      : bytes_(bytes), unicode_(bytes.substr(0, 2) == text::kUtf16LeBom) {
    start_ = unicode_ ? text::kUtf16LeBom.size() : 0;
    count_ = unicode_ ? (bytes.size() - start_) / 2 : bytes.size();
  }

  size_t Count() const { return count_; }
  char16_t At(size_t i) const {
    if (!unicode_) return static_cast<unsigned char>(bytes_[i]);
    const size_t b = ByteOffset(i);
    return static_cast<char16_t>(static_cast<unsigned char>(bytes_[b]) |
                                 (static_cast<unsigned char>(bytes_[b + 1]) << 8));
  }
  size_t ByteOffset(size_t i) const { return start_ + (unicode_ ? 2 * i : i); }

  // Units [begin, end) as UTF-8.
  std::string Decode(size_t begin, size_t end) const {
    const std::string_view raw = bytes_.substr(ByteOffset(begin), ByteOffset(end) - ByteOffset(begin));
    return unicode_ ? text::Utf16ToUtf8(text::Utf16LeBytesToUtf16(raw)) : text::Cp1252ToUtf8(raw);
  }
  // UTF-8 text as bytes of this file's encoding; characters without a byte
  // in code page 1252 become "?", as WideCharToMultiByte writes them.
  std::string Encode(std::string_view utf8) const {
    return unicode_ ? text::Utf16ToUtf16LeBytes(text::Utf8ToUtf16(utf8)) : text::Utf8ToCp1252(utf8, '?');
  }

 private:
  std::string_view bytes_;
  bool unicode_;
  size_t start_ = 0;
  size_t count_ = 0;
};

enum class LineKind { kOther, kHeader, kKey };

// One line as unit positions: the text is [begin, textEnd), its line break
// [textEnd, end) (empty on a last line without one). For a key line the key
// ends at keyEnd and the value spans [valueBegin, trimmedEnd).
struct Line {
  size_t begin = 0, textEnd = 0, end = 0;
  LineKind kind = LineKind::kOther;
  std::string name;  // section name or key, trimmed
  size_t keyEnd = 0, valueBegin = 0, trimmedEnd = 0;
};

void Classify(const Units& units, Line& line) {
  size_t b = line.begin, e = line.textEnd;
  while (b < e && IsBlankUnit(units.At(b))) ++b;
  while (e > b && IsBlankUnit(units.At(e - 1))) --e;
  line.trimmedEnd = e;
  if (b == e || units.At(b) == ';') return;
  if (units.At(b) == '[') {
    size_t close = e;
    while (close > b + 1 && units.At(close - 1) != ']') --close;
    if (close > b + 1) {
      line.kind = LineKind::kHeader;
      line.name = TrimText(units.Decode(b + 1, close - 1));
      return;
    }
  }
  line.kind = LineKind::kKey;
  size_t equals = b;
  while (equals < e && units.At(equals) != '=') ++equals;
  size_t keyEnd = equals;
  while (keyEnd > b && IsBlankUnit(units.At(keyEnd - 1))) --keyEnd;
  size_t valueBegin = equals < e ? equals + 1 : e;
  while (valueBegin < e && IsBlankUnit(units.At(valueBegin))) ++valueBegin;
  line.keyEnd = keyEnd;
  line.valueBegin = valueBegin;
  line.name = units.Decode(b, keyEnd);
}

// Lines end at LF; a CR right before it belongs to the break.
std::vector<Line> SplitLines(const Units& units) {
  std::vector<Line> lines;
  size_t begin = 0;
  while (begin < units.Count()) {
    Line line;
    line.begin = begin;
    size_t lf = begin;
    while (lf < units.Count() && units.At(lf) != '\n') ++lf;
    line.end = lf < units.Count() ? lf + 1 : lf;
    line.textEnd = (lf < units.Count() && lf > begin && units.At(lf - 1) == '\r') ? lf - 1 : lf;
    Classify(units, line);
    begin = line.end;
    lines.push_back(std::move(line));
  }
  return lines;
}

// The break new lines get: the file's own (CR LF or LF, by its first line
// break), CR LF for a file that has none yet.
std::string_view LineBreakOf(const std::vector<Line>& lines) {
  for (const Line& line : lines) {
    if (line.end > line.textEnd) return line.end - line.textEnd == 2 ? "\r\n" : "\n";
  }
  return "\r\n";
}

// Where a key is found: the index of the section header and of the key
// line, or of the last key line of the section when the key is missing.
struct Lookup {
  std::optional<size_t> header;
  std::optional<size_t> key;
  size_t lastItem = 0;
};

Lookup Find(const std::vector<Line>& lines, std::string_view section, std::string_view key) {
  Lookup found;
  size_t i = 0;
  while (i < lines.size() && !(lines[i].kind == LineKind::kHeader && text::EqualsNoCase(lines[i].name, section))) ++i;
  if (i == lines.size()) return found;
  found.header = i;
  found.lastItem = i;
  for (++i; i < lines.size() && lines[i].kind != LineKind::kHeader; ++i) {
    if (lines[i].kind != LineKind::kKey) continue;
    if (text::EqualsNoCase(lines[i].name, key)) {
      found.key = i;
      return found;
    }
    found.lastItem = i;
  }
  return found;
}

// A key that the next read would not find again as the same key.
bool IsUsableKey(std::string_view key) {
  return !key.empty() && key.find('=') == std::string_view::npos && key.front() != '[' && key.front() != ';';
}

std::string Splice(std::string_view bytes, size_t from, size_t to, std::string_view insert) {
  std::string out;
  out.reserve(bytes.size() + insert.size());
  out.append(bytes.substr(0, from));
  out.append(insert);
  out.append(bytes.substr(to));
  return out;
}

}  // namespace

std::optional<std::string> WriteStringInBytes(std::string_view bytes, std::string_view section,
                                              std::string_view key, std::string_view value) {
  const std::string sectionName(TrimText(IniOneLine(section)));
  const std::string keyName(TrimText(IniOneLine(key)));
  if (!IsUsableKey(keyName)) return std::nullopt;
  const std::string valueText = IniOneLine(value);

  const Units units(bytes);
  const std::vector<Line> lines = SplitLines(units);
  const std::string_view br = LineBreakOf(lines);
  const Lookup found = Find(lines, sectionName, keyName);

  if (found.key) {
    // The key keeps its indentation and spelling; "=" and the value follow.
    const Line& line = lines[*found.key];
    return Splice(bytes, units.ByteOffset(line.keyEnd), units.ByteOffset(line.textEnd),
                  units.Encode("=" + valueText));
  }
  const std::string keyLine = keyName + "=" + valueText;
  if (found.header) {
    const Line& after = lines[found.lastItem];
    const bool hasBreak = after.end > after.textEnd;
    const std::string insert = std::string(hasBreak ? "" : br) + keyLine + std::string(br);
    const size_t at = units.ByteOffset(after.end);
    return Splice(bytes, at, at, units.Encode(insert));
  }
  const bool needsBreak = !lines.empty() && lines.back().end == lines.back().textEnd;
  const std::string insert =
      std::string(needsBreak ? br : "") + "[" + sectionName + "]" + std::string(br) + keyLine + std::string(br);
  const size_t at = units.ByteOffset(units.Count());
  return Splice(bytes, at, at, units.Encode(insert));
}

std::optional<std::string> ReadStringFromBytes(std::string_view bytes, std::string_view section,
                                               std::string_view key) {
  const Units units(bytes);
  const std::vector<Line> lines = SplitLines(units);
  const Lookup found = Find(lines, TrimText(section), TrimText(key));
  if (!found.key) return std::nullopt;
  const Line& line = lines[*found.key];
  std::string value = units.Decode(line.valueBegin, line.trimmedEnd);
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front()) {
    value = value.substr(1, value.size() - 2);
  }
  return value;
}

bool IsIniText(std::string_view bytes) {
  // A NUL never occurs in text someone wrote; other control characters may (a value pasted with one).
  const auto isText = [](char16_t u) { return u != 0; };
  const auto isHighSurrogate = [](char16_t u) { return u >= 0xD800 && u <= 0xDBFF; };
  const auto isLowSurrogate = [](char16_t u) { return u >= 0xDC00 && u <= 0xDFFF; };
  const bool unicode = bytes.substr(0, 2) == text::kUtf16LeBom;
  if (unicode && bytes.size() % 2 != 0) return false;  // half a code unit at the end
  const Units units(bytes);
  for (size_t i = 0; i < units.Count(); ++i) {
    const char16_t u = units.At(i);
    if (!isText(u)) return false;
    if (!unicode) continue;
    if (isLowSurrogate(u)) return false;
    if (isHighSurrogate(u)) {
      if (i + 1 == units.Count() || !isLowSurrogate(units.At(i + 1))) return false;
      ++i;  // the low half of the pair
    }
  }
  return true;
}

bool WritePrivateString(std::string_view section, std::string_view key, std::string_view value,
                        std::string_view path, uint32_t* error) {
  return WritePrivateStrings(section, {{std::string(key), std::string(value)}}, path, error);
}

bool WritePrivateStrings(std::string_view section, const KeyValues& keyValues, std::string_view path,
                         uint32_t* error) {
  const auto finish = [error](uint32_t code) {
    if (error) *error = code;
    return code == winerr::kSuccess;
  };
  plat::IFiles& files = plat::Current().Files();
  std::string bytes;
  const uint32_t readRc = plat::ReadWholeFile(files, path, &bytes);
  if (readRc == winerr::kFileNotFound) {
    bytes.clear();
  } else if (readRc != winerr::kSuccess) {
    return finish(readRc);
  }
  // A key line appended to a binary file would damage it and be read back
  // by nobody.
  if (!IsIniText(bytes)) return finish(winerr::kInvalidData);
  for (const auto& [key, value] : keyValues) {
    std::optional<std::string> updated = WriteStringInBytes(bytes, section, key, value);
    if (!updated) return finish(winerr::kInvalidParameter);
    bytes = std::move(*updated);
  }
  // Written even when nothing changes, so a read-only file always reports
  // its failure, as the profile API does.
  return finish(plat::WriteFileAtomically(files, path, bytes));
}

std::string GetPrivateString(std::string_view section, std::string_view key, std::string_view defaultValue,
                             std::string_view path) {
  std::string bytes;
  if (plat::ReadWholeFile(plat::Current().Files(), path, &bytes) != winerr::kSuccess) {
    return std::string(defaultValue);
  }
  return ReadStringFromBytes(bytes, section, key).value_or(std::string(defaultValue));
}

}  // namespace profile
