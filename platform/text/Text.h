// Text conversions at the edges of the program. In memory all text is UTF-8
// std::string; this module converts to and from UTF-16 (files with a BOM, the
// checksum, masking), code page 1252 (INI files, log files, masking) and
// formats messages printf-style with compiler-checked arguments.
#pragma once

#include <cstdarg>
#include <string>
#include <string_view>
#include <vector>

namespace text {

// Code pages by their Windows numbers.
constexpr unsigned kCodePage1252 = 1252;
constexpr unsigned kCodePageUtf8 = 65001;

// UTF-8 <-> UTF-16. Invalid input never throws: a malformed UTF-8 sequence or
// a lone surrogate becomes U+FFFD, as MultiByteToWideChar does.
std::u16string Utf8ToUtf16(std::string_view utf8);
std::string Utf16ToUtf8(std::u16string_view utf16);
bool IsValidUtf8(std::string_view bytes);

// Code page 1252 <-> UTF-8. Every byte maps to a character (the five bytes the
// code page leaves undefined map to the C1 control of the same value, as on
// Windows). Characters without a 1252 byte become `replacement`; `lossy` (if
// given) tells whether that happened.
std::string Cp1252ToUtf8(std::string_view bytes);
std::string Utf8ToCp1252(std::string_view utf8, char replacement = '?', bool* lossy = nullptr);
// The 1252 byte for one code point, or -1 when the code page has none.
int Cp1252ByteOf(char32_t codePoint);

// Bytes of a command-line argument: UTF-8 when valid, else taken byte for
// byte in code page 1252.
std::string ArgumentToUtf8(std::string_view bytes);

// UTF-16LE byte strings (no BOM handling here; an odd trailing byte is dropped).
std::u16string Utf16LeBytesToUtf16(std::string_view bytes);
std::string Utf16ToUtf16LeBytes(std::u16string_view utf16);
// Appends Utf16ToUtf16LeBytes(Utf8ToUtf16(utf8)) in one pass, without the
// intermediate copies (large documents are saved so).
void AppendUtf16LeBytes(std::string& out, std::string_view utf8);
inline constexpr std::string_view kUtf16LeBom = "\xFF\xFE";
inline constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";

// Decodes one code point from UTF-8 at `pos`, advancing it; malformed input
// yields U+FFFD and advances by one byte.
char32_t NextCodePoint(std::string_view utf8, size_t& pos);
void AppendUtf8(std::string& out, char32_t codePoint);
// The UTF-16 units of a code point: one, or a surrogate pair above the
// basic plane. Returns the number written to `out` (room for two).
size_t EncodeUtf16(char32_t codePoint, char16_t* out);

// ASCII-only case folding, as the program compares names.
std::string AsciiLower(std::string_view s);
std::string AsciiUpper(std::string_view s);
bool EqualsNoCase(std::string_view a, std::string_view b);
// The pieces of `s` between any of the `separators` characters; empty
// pieces (doubled, leading or trailing separators) are dropped.
std::vector<std::string> SplitNonEmpty(std::string_view s, std::string_view separators);
bool StartsWithNoCase(std::string_view s, std::string_view prefix);

// printf-style formatting into a std::string; arguments are checked by the compiler.
std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string FormatV(const char* format, va_list args);

}  // namespace text
