#include "support/OpFile.h"

#include <regex>

#include "platform/text/Text.h"
#include "support/RunProgram.h"

std::string MakeOpFileText(const std::vector<std::pair<std::string, std::vector<std::string>>>& sections) {
  std::string text;
  for (const auto& [name, lines] : sections) {
    text += "[" + name + "]\r\n";
    for (const std::string& line : lines) text += line + "\r\n";
  }
  return text;
}

std::string Utf16FileBytes(std::string_view utf8) {
  return std::string(text::kUtf16LeBom) + text::Utf16ToUtf16LeBytes(text::Utf8ToUtf16(utf8));
}

std::string FileText(std::string_view bytes) {
  if (bytes.substr(0, 2) == text::kUtf16LeBom) return text::Utf16ToUtf8(text::Utf16LeBytesToUtf16(bytes.substr(2)));
  return std::string(bytes);
}

std::vector<std::string> SectionLines(std::string_view iniText, std::string_view section) {
  std::vector<std::string> lines;
  bool inside = false;
  size_t start = 0;
  while (start < iniText.size()) {
    size_t end = iniText.find('\n', start);
    if (end == std::string_view::npos) end = iniText.size();
    std::string line(iniText.substr(start, end - start));
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty() && line[0] == '[') {
      inside = text::EqualsNoCase(line, "[" + std::string(section) + "]");
    } else if (inside && !line.empty()) {
      lines.push_back(line);
    }
    start = end + 1;
  }
  return lines;
}

std::string MaskTimes(std::string_view log) {
  static const std::regex time(R"((^|\n)\d\d:\d\d:\d\d\|)");
  static const std::regex date(R"(\d{4}\.\d\d\.\d\d \d\d:\d\d:\d\d)");
  std::string masked = std::regex_replace(std::string(log), time, "$1hh:mm:ss|");
  return std::regex_replace(masked, date, "yyyy.mm.dd hh:mm:ss");
}

std::string BinFolderWindowsPath() {
  std::string path = "Z:" + std::string(TARVO_BIN_DIR);
  for (char& c : path) {
    if (c == '/') c = '\\';
  }
  return path;
}
