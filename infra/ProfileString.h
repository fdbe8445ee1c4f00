// Single-key reads and writes straight into an INI file on disk, in the
// manner of the Windows profile API (GetPrivateProfileStringW,
// WritePrivateProfileStringW). The program reports its results to the setup
// this way: one key at a time into the OPFile, while the in-memory model
// (CIniFile) stays untouched.
//
// A write changes only the bytes of the one key line it writes or inserts;
// everything else in the file, its encoding (UTF-16LE with byte order mark,
// or 8-bit code page 1252) and its line-break style stay as they were. The
// file is replaced atomically, so a crash leaves the old or the new file.
//
// The lines are read as the profile API reads them: leading and trailing
// blanks do not count; "[name]" (up to the last "]") starts a section, the
// name trimmed; ";" starts a comment; any other line in a section is a key
// line, the key being the text before the first "=" (or the whole line),
// trimmed. Section and key names compare without regard to ASCII case; when
// a name occurs twice, the first one counts.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace profile {

// Sets `key` to `value` in `section` of the file at `path` (a Windows path):
// an existing key gets the new value in place (the line becomes
// "<key as spelled in the file>=<value>"), a missing key is appended after
// the last key line of its section, a missing section is appended at the
// end of the file. A missing file is created as 8-bit text.
// Line breaks inside `value` become blanks and a NUL ends it, so one write
// is always one line. Returns false, with the Win32 code in `error`, when
// the file cannot be read or replaced (5 for a read-only file, 32 for a
// file held open elsewhere, 3 for a missing folder), when the file is not
// INI text (13, see IsIniText; the file is left as it is) or when the key is
// unusable as one (empty, holding "=", or beginning with "[" or ";": 87).
bool WritePrivateString(std::string_view section, std::string_view key, std::string_view value,
                        std::string_view path, uint32_t* error = nullptr);

// Several keys of one section in one replacement of the file: the same bytes
// as writing them one after the other with WritePrivateString. Nothing is
// written when one key is unusable (87).
using KeyValues = std::vector<std::pair<std::string, std::string>>;
bool WritePrivateStrings(std::string_view section, const KeyValues& keyValues, std::string_view path,
                         uint32_t* error = nullptr);

// The value of `key` in `section` of the file at `path`, with surrounding
// blanks and one pair of enclosing quotation marks removed; `defaultValue`
// when the file, the section or the key does not exist.
std::string GetPrivateString(std::string_view section, std::string_view key, std::string_view defaultValue,
                             std::string_view path);

// The same on the bytes of a whole file, whatever they hold (the file-level
// writes above refuse what IsIniText refuses). WriteStringInBytes gives the new
// file content, or nothing when the key is unusable; ReadStringFromBytes
// gives nothing when the section or key is missing.
std::optional<std::string> WriteStringInBytes(std::string_view bytes, std::string_view section,
                                              std::string_view key, std::string_view value);
std::optional<std::string> ReadStringFromBytes(std::string_view bytes, std::string_view section,
                                               std::string_view key);

// Whether the bytes of a whole file are text a key line may be added to:
// after a UTF-16LE byte order mark, whole UTF-16 code units with every
// surrogate paired; otherwise 8-bit text. In both, no NUL: it marks a binary
// file, or UTF-16 text without its byte order mark. Other control characters
// pass: a value may hold one, and the file stays the setup's to read.
bool IsIniText(std::string_view bytes);

}  // namespace profile
