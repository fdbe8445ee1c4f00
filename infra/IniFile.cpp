#include "infra/IniFile.h"

#include <utility>

#include "platform/Files.h"
#include "platform/Platform.h"
#include "platform/SystemMessages.h"
#include "platform/WinError.h"
#include "platform/text/Text.h"

namespace {

// Keys written with their value alone: the snapshot files use such keys to
// hold bare lines that still need a unique key in the model.
constexpr std::string_view kValueOnlyKeyPrefix = "LogValueNameDummy";

constexpr std::string_view kResultsHeader = "[RESULTS]";

bool HasUtf16Bom(std::string_view bytes) { return bytes.substr(0, 2) == text::kUtf16LeBom; }

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

// Removes trailing, then leading white space (ASCII only: names and the
// syntax characters are ASCII, and other spaces are content).
std::string_view Trim(std::string_view s) {
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  return s;
}

// A line break removed as the text-file reader removes it: CR LF as a pair,
// otherwise one final CR or LF.
template <typename String>
void StripLineEnd(String& line) {
  const size_t n = line.size();
  if (n >= 2 && line[n - 2] == '\r' && line[n - 1] == '\n') {
    line.resize(n - 2);
  } else if (n >= 1 && (line[n - 1] == '\r' || line[n - 1] == '\n')) {
    line.resize(n - 1);
  }
}

// The line ends at its first NUL: the converted text is a C string there.
template <typename String>
void CutAtNul(String& line) {
  const size_t nul = line.find(typename String::value_type{0});
  if (nul != String::npos) line.resize(nul);
}

// Reads a whole file line by line the way the program's text-file reader
// does: UTF-16LE after the byte order mark, or 8-bit text in code page 1252
// with CR LF read as LF. A line is one line whatever its length.
// Position() is the byte offset after the last line handed out.
class LineReader {
 public:
  LineReader(std::string_view bytes, bool unicode)
      : bytes_(bytes), unicode_(unicode), pos_(unicode ? text::kUtf16LeBom.size() : 0) {}

  bool Next(std::string& line) { return unicode_ ? NextUnicode(line) : NextAnsi(line); }
  size_t Position() const { return pos_; }

 private:
  bool NextAnsi(std::string& line) {
    if (pos_ >= bytes_.size()) return false;
    std::string lineBytes;
    while (pos_ < bytes_.size()) {
      const char c = bytes_[pos_];
      if (c == '\r' && pos_ + 1 < bytes_.size() && bytes_[pos_ + 1] == '\n') {
        lineBytes += '\n';  // text mode reads the pair as one LF
        pos_ += 2;
        break;
      }
      lineBytes += c;
      ++pos_;
      if (c == '\n') break;
    }
    CutAtNul(lineBytes);
    StripLineEnd(lineBytes);
    line = text::Cp1252ToUtf8(lineBytes);
    return true;
  }

  bool NextUnicode(std::string& line) {
    // A lone trailing byte of an odd-sized file never forms a character.
    if (pos_ + 1 >= bytes_.size()) return false;
    std::u16string units;
    while (pos_ + 1 < bytes_.size()) {
      const auto unit = static_cast<char16_t>(static_cast<unsigned char>(bytes_[pos_]) |
                                              (static_cast<unsigned char>(bytes_[pos_ + 1]) << 8));
      units += unit;
      pos_ += 2;
      if (unit == u'\n') break;
    }
    CutAtNul(units);
    StripLineEnd(units);
    line = text::Utf16ToUtf8(units);
    return true;
  }

  std::string_view bytes_;
  bool unicode_;
  size_t pos_;
};

void AppendUtf16Line(std::string& out, std::string_view line) {
  out += text::Utf16ToUtf16LeBytes(text::Utf8ToUtf16(IniOneLine(line)));
  out += std::string_view("\r\0\n\0", 4);
}

std::string ReadErrorText(std::string_view path, uint32_t code) {
  std::string message = text::Format("Can not read %.*s, errorcode=%d", static_cast<int>(path.size()),
                                     path.data(), static_cast<int>(code));
  const std::string_view system = KnownSystemMessageText(code);
  if (!system.empty()) {
    message += " ->";
    message += system;
  }
  return message;
}

// A line starting with one of these is a section header or a key; anything
// else (";", "#", a digit, "=" ...) is a comment.
bool StartsItem(char c) { return c == '[' || c == '_' || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

bool IsItemLine(std::string_view trimmed) { return !trimmed.empty() && StartsItem(trimmed.front()); }

bool IsSectionHeader(std::string_view trimmed) {
  return trimmed.size() >= 2 && trimmed.front() == '[' && trimmed.back() == ']';
}

}  // namespace

// ---------------------------------------------------------------------------
// CIniValue, CIniSection

CIniValue::CIniValue(std::string key, std::string value) : key_(std::move(key)), value_(std::move(value)) {}

void CIniValue::TakeComments(std::vector<std::string>& lines) {
  comments_.insert(comments_.end(), std::make_move_iterator(lines.begin()), std::make_move_iterator(lines.end()));
  lines.clear();
}

CIniSection::CIniSection(std::string name) : name_(std::move(name)) {}

void CIniSection::TakeComments(std::vector<std::string>& lines) {
  comments_.insert(comments_.end(), std::make_move_iterator(lines.begin()), std::make_move_iterator(lines.end()));
  lines.clear();
}

const CIniValue* CIniSection::FindValue(std::string_view key) const {
  const auto it = index_.find(text::AsciiUpper(key));
  return it == index_.end() ? nullptr : it->second;
}

std::string CIniSection::GetValue(std::string_view key) const {
  const CIniValue* value = FindValue(key);
  return value ? value->GetValue() : std::string();
}

CIniValue& CIniSection::SetValue(std::string_view key, std::string_view value) {
  auto [it, inserted] = index_.try_emplace(text::AsciiUpper(key), nullptr);
  if (!inserted) {
    it->second->SetValue(std::string(value));
    return *it->second;
  }
  values_.push_back(std::make_unique<CIniValue>(std::string(key), std::string(value)));
  it->second = values_.back().get();
  return *it->second;
}

// ---------------------------------------------------------------------------
// CIniFile: model

const CIniSection* CIniFile::FindSection(std::string_view name) const {
  const auto it = index_.find(text::AsciiUpper(name));
  return it == index_.end() ? nullptr : it->second;
}

CIniSection& CIniFile::GetSection(std::string_view name) {
  auto [it, inserted] = index_.try_emplace(text::AsciiUpper(name), nullptr);
  if (inserted) {
    sections_.push_back(std::make_unique<CIniSection>(std::string(name)));
    it->second = sections_.back().get();
  }
  return *it->second;
}

std::string CIniFile::GetValue(std::string_view section, std::string_view key) const {
  const CIniSection* found = FindSection(section);
  return found ? found->GetValue(key) : std::string();
}

CIniValue& CIniFile::SetValue(std::string_view section, std::string_view key, std::string_view value) {
  return GetSection(section).SetValue(key, value);
}

void CIniFile::Clear() {
  index_.clear();
  sections_.clear();
  pending_.clear();
}

// ---------------------------------------------------------------------------
// CIniFile: reading

std::string CIniFile::Load(std::string_view path) {
  path_ = path;
  std::string bytes;
  if (const uint32_t rc = plat::ReadWholeFile(plat::Current().Files(), path, &bytes)) {
    unicode_ = false;
    return ReadErrorText(path, rc);
  }
  LoadFromBytes(bytes);
  return std::string();
}

void CIniFile::LoadFromBytes(std::string_view bytes) {
  unicode_ = HasUtf16Bom(bytes);
  // Also a model without sections is cleared: its pending comment lines
  // would otherwise pile up over repeated loads.
  Clear();
  LineReader reader(bytes, unicode_);
  CIniSection* current = nullptr;
  std::string line;
  while (reader.Next(line)) AddLine(line, current);
}

void CIniFile::AddLine(std::string_view line, CIniSection*& current) {
  line = Trim(line);
  if (!IsItemLine(line)) {
    pending_.emplace_back(line);
    return;
  }
  if (IsSectionHeader(line)) {
    // Blanks inside the brackets belong to the name: "[ Sec ]" is not [Sec].
    const std::string_view name = line.substr(1, line.size() - 2);
    CIniSection& section = GetSection(name);
    section.TakeComments(pending_);
    // A section without a name counts as no section: its keys are dropped
    // like those before the first header.
    current = name.empty() ? nullptr : &section;
    return;
  }
  if (!current) return;  // a key before the first section; its comments stay pending
  const size_t equals = line.find('=');
  const std::string_view key = equals == std::string_view::npos ? line : Trim(line.substr(0, equals));
  const std::string_view value = equals == std::string_view::npos ? std::string_view() : Trim(line.substr(equals + 1));
  current->SetValue(key, value).TakeComments(pending_);
}

// ---------------------------------------------------------------------------
// CIniFile: writing

std::string CIniFile::ToBytes() const {
  std::string out(text::kUtf16LeBom);
  for (const auto& section : sections_) {
    for (const std::string& comment : section->GetComments()) AppendUtf16Line(out, comment);
    AppendUtf16Line(out, "[" + section->GetName() + "]");
    for (const auto& value : section->Values()) {
      for (const std::string& comment : value->GetComments()) AppendUtf16Line(out, comment);
      const std::string& key = value->GetKey();
      AppendUtf16Line(out, key.starts_with(kValueOnlyKeyPrefix) ? value->GetValue() : key + "=" + value->GetValue());
    }
  }
  for (const std::string& comment : pending_) AppendUtf16Line(out, comment);
  return out;
}

int CIniFile::Save() {
  // An empty path names no file (CreateFileW answers "path not found").
  if (path_.empty()) return static_cast<int>(winerr::kPathNotFound);
  const uint32_t rc = plat::WriteFileAtomically(plat::Current().Files(), path_, ToBytes());
  if (rc == winerr::kSuccess) unicode_ = true;
  return static_cast<int>(rc);
}

// ---------------------------------------------------------------------------
// CIniFile: the old results

// Walks the lines after the first "[RESULTS]" header and copies those that
// do not belong to a results section. Comment lines there are held back
// until it is clear whose they are: above a header of another section they
// are that section's and stay, otherwise they go with the results.
std::optional<std::string> CIniFile::CutResults(std::string_view bytes) {
  LineReader reader(bytes, HasUtf16Bom(bytes));
  std::string line;
  size_t lineStart = 0;
  bool found = false;
  while (!found && reader.Next(line)) {
    // Exact match only: " [RESULTS]" or "[Results]" does not start the cut.
    found = line == kResultsHeader;
    lineStart = reader.Position();
  }
  if (!found) return std::nullopt;
  std::string kept(bytes.substr(0, lineStart));
  bool inResults = true;
  size_t heldFrom = lineStart;  // the comment lines held back start here
  while (reader.Next(line)) {
    const size_t lineEnd = reader.Position();
    const std::string_view trimmed = Trim(line);
    if (IsSectionHeader(trimmed)) {
      // Any later header the model would merge into [RESULTS] is old results too.
      const bool results = text::EqualsNoCase(trimmed, kResultsHeader);
      if (!results) {
        if (inResults) kept.append(bytes.substr(heldFrom, lineStart - heldFrom));
        kept.append(bytes.substr(lineStart, lineEnd - lineStart));
      }
      inResults = results;
      heldFrom = lineEnd;
    } else if (!inResults) {
      kept.append(bytes.substr(lineStart, lineEnd - lineStart));
    } else if (IsItemLine(trimmed)) {
      heldFrom = lineEnd;  // a results key: the comments above it go with it
    }
    lineStart = lineEnd;
  }
  // Whatever the reader left (the odd last byte of a UTF-16 file) belongs to
  // the last section. When that is the results, the file ends with the
  // results header's line, as the setup expects.
  if (!inResults) kept.append(bytes.substr(lineStart));
  return kept;
}

void CIniFile::CutResultsSection(std::string_view path) {
  plat::IFiles& files = plat::Current().Files();
  std::string bytes;
  const uint32_t rc = plat::ReadWholeFile(files, path, &bytes);
  unicode_ = rc == winerr::kSuccess && HasUtf16Bom(bytes);
  if (rc != winerr::kSuccess) return;
  const std::optional<std::string> cut = CutResults(bytes);
  if (!cut || *cut == bytes) return;
  // Rewritten whole and atomically rather than truncated in place: a crash
  // leaves the old file, never a torn one. A read-only file refuses the
  // replace and stays as it is.
  plat::WriteFileAtomically(files, path, *cut);
}

// Keys, values and names go out one per line: a line break inside one would
// start a line of its own on the next read (a stray value could pose as a
// key), so each run of CR and LF becomes one blank. The text ends at a NUL,
// as the wide strings it stands for do.
std::string IniOneLine(std::string_view s) {
  s = s.substr(0, s.find('\0'));
  std::string out;
  out.reserve(s.size());
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] != '\r' && s[i] != '\n') {
      out += s[i];
    } else if (out.empty() || (s[i - 1] != '\r' && s[i - 1] != '\n')) {
      out += ' ';
    }
  }
  return out;
}
