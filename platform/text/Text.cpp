#include "platform/text/Text.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

namespace text {
namespace {

constexpr char32_t kReplacementChar = 0xFFFD;

// Code points of the bytes 0x80..0x9F in code page 1252.
constexpr std::array<char16_t, 32> kCp1252High = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

char32_t Cp1252CodePoint(unsigned char byte) {
  if (byte >= 0x80 && byte <= 0x9F) return kCp1252High[byte - 0x80];
  return byte;
}

char AsciiLowerChar(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }
char AsciiUpperChar(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

bool IsContinuation(unsigned char b) { return (b & 0xC0) == 0x80; }

// Spreads four bytes over eight, a zero after each: four ASCII characters
// as UTF-16LE (on a little-endian machine).
uint64_t SpreadToUnits(uint64_t fourBytes) {
  fourBytes = (fourBytes | (fourBytes << 16)) & 0x0000FFFF0000FFFFull;
  return (fourBytes | (fourBytes << 8)) & 0x00FF00FF00FF00FFull;
}

// Writes the ASCII characters at the start of `s` eight at a time as
// UTF-16LE to `out`; returns how many it took.
size_t AppendAsciiWordsAsUtf16Le(std::string_view s, char*& out) {
  if constexpr (std::endian::native != std::endian::little) return 0;
  size_t pos = 0;
  for (; pos + 8 <= s.size(); pos += 8) {
    uint64_t word;
    std::memcpy(&word, s.data() + pos, sizeof word);
    if (word & 0x8080808080808080ull) break;
    const uint64_t low = SpreadToUnits(word & 0xFFFFFFFFull), high = SpreadToUnits(word >> 32);
    std::memcpy(out, &low, sizeof low);
    std::memcpy(out + 8, &high, sizeof high);
    out += 16;
  }
  return pos;
}

}  // namespace

char32_t NextCodePoint(std::string_view s, size_t& pos) {
  const auto b0 = static_cast<unsigned char>(s[pos]);
  if (b0 < 0x80) {
    ++pos;
    return b0;
  }
  int length = 0;
  char32_t cp = 0;
  if (b0 >= 0xC2 && b0 <= 0xDF) {
    length = 2;
    cp = b0 & 0x1F;
  } else if (b0 >= 0xE0 && b0 <= 0xEF) {
    length = 3;
    cp = b0 & 0x0F;
  } else if (b0 >= 0xF0 && b0 <= 0xF4) {
    length = 4;
    cp = b0 & 0x07;
  } else {
    ++pos;
    return kReplacementChar;
  }
  if (pos + length > s.size()) {
    ++pos;
    return kReplacementChar;
  }
  for (int i = 1; i < length; ++i) {
    const auto b = static_cast<unsigned char>(s[pos + i]);
    if (!IsContinuation(b)) {
      ++pos;
      return kReplacementChar;
    }
    cp = (cp << 6) | (b & 0x3F);
  }
  const bool overlong = (length == 3 && cp < 0x800) || (length == 4 && cp < 0x10000);
  const bool surrogate = cp >= 0xD800 && cp <= 0xDFFF;
  if (overlong || surrogate || cp > 0x10FFFF) {
    ++pos;
    return kReplacementChar;
  }
  pos += length;
  return cp;
}

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) cp = kReplacementChar;
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

bool IsValidUtf8(std::string_view s) {
  size_t pos = 0;
  while (pos < s.size()) {
    const size_t start = pos;
    if (NextCodePoint(s, pos) == kReplacementChar) {
      // A literal U+FFFD in the input is valid; a decoding failure advances one byte.
      if (pos - start != 3 || s.substr(start, 3) != "\xEF\xBF\xBD") return false;
    }
  }
  return true;
}

size_t EncodeUtf16(char32_t cp, char16_t* out) {
  if (cp < 0x10000) {
    out[0] = static_cast<char16_t>(cp);
    return 1;
  }
  const char32_t v = cp - 0x10000;
  out[0] = static_cast<char16_t>(0xD800 + (v >> 10));
  out[1] = static_cast<char16_t>(0xDC00 + (v & 0x3FF));
  return 2;
}

// Documents and logs are mostly ASCII: those bytes are copied without
// decoding, and the result is written in place instead of appended, which
// keeps these conversions (checksum, every UTF-16 load and save) cheap.
std::u16string Utf8ToUtf16(std::string_view s) {
  std::u16string out(s.size(), u'\0');  // never more units than bytes
  char16_t* const begin = out.data();
  char16_t* p = begin;
  size_t pos = 0;
  while (pos < s.size()) {
    const auto byte = static_cast<unsigned char>(s[pos]);
    if (byte < 0x80) {
      *p++ = byte;
      ++pos;
    } else {
      p += EncodeUtf16(NextCodePoint(s, pos), p);
    }
  }
  out.resize(static_cast<size_t>(p - begin));
  return out;
}

void AppendUtf16LeBytes(std::string& out, std::string_view s) {
  const size_t start = out.size();
  out.resize(start + s.size() * 2);  // never more units than bytes
  char* const begin = out.data() + start;
  char* p = begin;
  size_t pos = 0;
  while (pos < s.size()) {
    // Documents are mostly ASCII.
    pos += AppendAsciiWordsAsUtf16Le(s.substr(pos), p);
    if (pos >= s.size()) break;
    const auto byte = static_cast<unsigned char>(s[pos]);
    if (byte < 0x80) {
      *p++ = static_cast<char>(byte);
      *p++ = '\0';
      ++pos;
      continue;
    }
    char16_t units[2];
    const size_t count = EncodeUtf16(NextCodePoint(s, pos), units);
    for (size_t i = 0; i < count; ++i) {
      *p++ = static_cast<char>(units[i] & 0xFF);
      *p++ = static_cast<char>(units[i] >> 8);
    }
  }
  out.resize(start + static_cast<size_t>(p - begin));
}

std::string Utf16ToUtf8(std::u16string_view s) {
  std::string out;
  out.reserve(s.size());
  for (size_t i = 0; i < s.size(); ++i) {
    const char16_t u = s[i];
    if (u < 0x80) {
      out.push_back(static_cast<char>(u));
    } else if (u >= 0xD800 && u <= 0xDBFF && i + 1 < s.size() && s[i + 1] >= 0xDC00 && s[i + 1] <= 0xDFFF) {
      AppendUtf8(out, 0x10000 + ((static_cast<char32_t>(u) - 0xD800) << 10) + (s[i + 1] - 0xDC00));
      ++i;
    } else {
      AppendUtf8(out, u);  // a lone surrogate becomes U+FFFD there
    }
  }
  return out;
}

int Cp1252ByteOf(char32_t cp) {
  if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF)) return static_cast<int>(cp);
  for (size_t i = 0; i < kCp1252High.size(); ++i) {
    if (kCp1252High[i] == cp) return static_cast<int>(0x80 + i);
  }
  return -1;
}

std::string Cp1252ToUtf8(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  for (char c : bytes) AppendUtf8(out, Cp1252CodePoint(static_cast<unsigned char>(c)));
  return out;
}

std::string Utf8ToCp1252(std::string_view utf8, char replacement, bool* lossy) {
  std::string out;
  out.reserve(utf8.size());
  bool replaced = false;
  size_t pos = 0;
  while (pos < utf8.size()) {
    const int byte = Cp1252ByteOf(NextCodePoint(utf8, pos));
    if (byte < 0) {
      out += replacement;
      replaced = true;
    } else {
      out += static_cast<char>(byte);
    }
  }
  if (lossy) *lossy = replaced;
  return out;
}

std::string ArgumentToUtf8(std::string_view bytes) {
  return IsValidUtf8(bytes) ? std::string(bytes) : Cp1252ToUtf8(bytes);
}

std::u16string Utf16LeBytesToUtf16(std::string_view bytes) {
  std::u16string out(bytes.size() / 2, u'\0');
  for (size_t i = 0; i < out.size(); ++i) {
    out[i] = static_cast<char16_t>(static_cast<unsigned char>(bytes[2 * i]) |
                                   (static_cast<unsigned char>(bytes[2 * i + 1]) << 8));
  }
  return out;
}

std::string Utf16ToUtf16LeBytes(std::u16string_view s) {
  std::string out(s.size() * 2, '\0');
  for (size_t i = 0; i < s.size(); ++i) {
    out[2 * i] = static_cast<char>(s[i] & 0xFF);
    out[2 * i + 1] = static_cast<char>(s[i] >> 8);
  }
  return out;
}

std::string AsciiLower(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = AsciiLowerChar(c);
  return out;
}

std::string AsciiUpper(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = AsciiUpperChar(c);
  return out;
}

std::vector<std::string> SplitNonEmpty(std::string_view s, std::string_view separators) {
  std::vector<std::string> parts;
  size_t start = 0;
  while (start <= s.size()) {
    const size_t end = std::min(s.find_first_of(separators, start), s.size());
    if (end > start) parts.emplace_back(s.substr(start, end - start));
    start = end + 1;
  }
  return parts;
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (AsciiLowerChar(a[i]) != AsciiLowerChar(b[i])) return false;
  }
  return true;
}

bool StartsWithNoCase(std::string_view s, std::string_view prefix) {
  return s.size() >= prefix.size() && EqualsNoCase(s.substr(0, prefix.size()), prefix);
}

std::string FormatV(const char* format, va_list args) {
  va_list copy;
  va_copy(copy, args);
  const int needed = std::vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  if (needed <= 0) return std::string();
  std::vector<char> buffer(static_cast<size_t>(needed) + 1);
  std::vsnprintf(buffer.data(), buffer.size(), format, args);
  return std::string(buffer.data(), static_cast<size_t>(needed));
}

std::string Format(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string out = FormatV(format, args);
  va_end(args);
  return out;
}

}  // namespace text
