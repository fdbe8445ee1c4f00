// Helpers for end-to-end tests that drive tarvo with an OPFile: writing an
// OPFile as a setup does (UTF-16LE with BOM, CR LF), reading its [RESULTS]
// back, and masking the times in a log so it can be compared.
#pragma once

#include <map>
#include <string>
#include <string_view>
#include <vector>

// "[GENERAL]\r\nKey=Value\r\n..." from sections given as name -> lines.
std::string MakeOpFileText(const std::vector<std::pair<std::string, std::vector<std::string>>>& sections);
// UTF-16LE bytes with BOM of a UTF-8 text.
std::string Utf16FileBytes(std::string_view utf8);
// The text of a UTF-16LE file with BOM (or an 8-bit file as it is).
std::string FileText(std::string_view bytes);
// The keys of a section of an INI text, in file order, as "key=value".
std::vector<std::string> SectionLines(std::string_view iniText, std::string_view section);
// Replaces every "HH:MM:SS" at the start of a line by "hh:mm:ss" and dates by "yyyy.mm.dd".
std::string MaskTimes(std::string_view log);
// The Windows path of this build's bin folder (language files and schema live there).
std::string BinFolderWindowsPath();
