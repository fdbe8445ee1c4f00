#include "infra/LogFile.h"

#include <memory>

#include "platform/Platform.h"
#include "platform/text/Text.h"

namespace {

const char* const kLabels[12] = {
    "CRIT_ERROR ", "ADS_ERROR  ", "ADS_WARNING", "ADS_WARNING", "ADS_WARNING", "ADS_WARNING",
    "ADS_WARNING", "           ", "           ", "           ", "           ", "           ",
};

// Enough of a file to tell a log from a binary or UTF-16 file, without
// reading a log that has grown over years.
constexpr size_t kInspectedBytes = 64 * 1024;

bool IsLineBreak(char c) { return c == '\r' || c == '\n'; }
bool IsControl(char c) { return static_cast<unsigned char>(c) < 0x20 && c != '\t'; }

}  // namespace

void CLogFile::Init(std::string_view path, int level) {
  Close();
  path_ = std::string(path);
  level_ = level;
}

bool CLogFile::IsStillAtPath() const {
  plat::FileId id;
  return stream_ && plat::Current().Files().GetFileId(openedPath_, &id) == 0 && id == openedId_;
}

bool CLogFile::Reopen() {
  stream_.reset();
  plat::IFiles& files = plat::Current().Files();
  std::unique_ptr<plat::IFileStream> stream;
  if (files.OpenStream(path_, plat::OpenMode::kAppend, &stream) != 0) return false;
  // The spelling on disk answers the look before each line without a
  // search for the letter case of every folder on the way.
  openedPath_ = files.FinalPath(path_);
  if (files.GetFileId(openedPath_, &openedId_) != 0) return false;
  stream_ = std::move(stream);
  return true;
}

bool CLogFile::AppendLine(std::string_view text) {
  if (path_.empty()) return false;
  std::string bytes = ToLogBytes(OneLine(text));
  bytes += "\r\n";
  if (!IsStillAtPath() && !Reopen()) return false;
  if (stream_->Write(bytes.data(), bytes.size()) != 0) {
    stream_.reset();
    return false;
  }
  return true;
}

bool CLogFile::DeleteLogFile() {
  Close();
  return plat::Current().Files().RemoveFile(path_) == 0;
}

std::string CLogFile::OneLine(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (!IsControl(text[i])) {
      out += text[i];
      continue;
    }
    out += ' ';
    if (IsLineBreak(text[i])) {
      while (i + 1 < text.size() && IsLineBreak(text[i + 1])) ++i;
    }
  }
  return out;
}

bool CLogFile::IsLogText(std::string_view bytes) {
  for (const char c : bytes) {
    if (IsControl(c) && !IsLineBreak(c)) return false;
  }
  return true;
}

bool CLogFile::HoldsLogText(std::string_view path) {
  std::unique_ptr<plat::IFileStream> stream;
  if (plat::Current().Files().OpenStream(path, plat::OpenMode::kRead, &stream) != 0) return true;
  std::string head(kInspectedBytes, '\0');
  size_t got = 0;
  if (stream->Read(head.data(), head.size(), &got) != 0) return true;
  head.resize(got);
  return IsLogText(head);
}

const char* CLogFile::LabelOfRow(int row) { return row >= 0 && row < 12 ? kLabels[row] : ""; }

int CLogFile::RowOfLevel(int level) {
  switch (level) {
    case 6: return 0;
    case 5: return 1;
    case 4: return 2;
    case 2: return 8;
    case 1: return 10;
    default: return 11;
  }
}

std::string CLogFile::ToLogBytes(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size());
  size_t pos = 0;
  while (pos < utf8.size()) {
    const char32_t cp = text::NextCodePoint(utf8, pos);
    if (cp <= 0xFF) {
      out += static_cast<char>(cp);
      continue;
    }
    const int byte = text::Cp1252ByteOf(cp);
    out += byte >= 0 ? static_cast<char>(byte) : '?';
  }
  return out;
}
