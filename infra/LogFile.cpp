#include "infra/LogFile.h"

#include "platform/Platform.h"
#include "platform/text/Text.h"

namespace {

const char* const kLabels[12] = {
    "CRIT_ERROR ", "ADS_ERROR  ", "ADS_WARNING", "ADS_WARNING", "ADS_WARNING", "ADS_WARNING",
    "ADS_WARNING", "           ", "           ", "           ", "           ", "           ",
};

}  // namespace

void CLogFile::Init(std::string_view path, int level) {
  path_ = std::string(path);
  level_ = level;
}

bool CLogFile::AppendLine(std::string_view text) {
  if (path_.empty()) return false;
  std::string bytes = ToLogBytes(text);
  bytes += "\r\n";
  return plat::AppendToFile(plat::Current().Files(), path_, bytes) == 0;
}

bool CLogFile::DeleteLogFile() { return plat::Current().Files().RemoveFile(path_) == 0; }

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
