#include "platform/xml/Encoding.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "platform/text/Text.h"

namespace xml::detail {

namespace {

constexpr std::string_view kBadCharacter = "An invalid character was found in text content.";

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

uint64_t LoadWord(const unsigned char* p) {
  uint64_t word;
  std::memcpy(&word, p, sizeof word);
  return word;
}

// Whether eight bytes are all printable ASCII (0x20 to 0x7F): none of them
// can be a forbidden character or start one.
bool IsPrintableAsciiWord(const char* p) {
  const uint64_t word = LoadWord(reinterpret_cast<const unsigned char*>(p));
  constexpr uint64_t kHighBits = 0x8080808080808080ull;
  constexpr uint64_t kSpaces = 0x2020202020202020ull;
  // A byte below 0x20 borrows into its high bit when 0x20 is taken away.
  return ((word | (word - kSpaces)) & kHighBits) == 0;
}

// Number of UTF-16 units the UTF-8 bytes stand for; stray continuation bytes
// count nothing, so a damaged buffer still gives a sane column.
int32_t Utf16Units(std::string_view utf8) {
  int32_t units = 0;
  for (unsigned char c : utf8) {
    if ((c & 0xC0) != 0x80) ++units;
    if (c >= 0xF0) ++units;  // a supplementary character is a surrogate pair
  }
  return units;
}

ParseError PositionedError(uint32_t code, std::string_view reason, std::string_view text, size_t offset) {
  const TextPosition at = PositionAt(text, offset);
  return MakeParseError(code, reason, at.line, at.column);
}

struct DeclaredName {
  std::string value;
  size_t offset = 0;  // of the value in the bytes
};

// The encoding name in a declaration at the very start of 8-bit bytes. The
// declaration is ASCII in every encoding we read, so it can be scanned as is.
DeclaredName FindDeclaredEncoding(std::string_view bytes) {
  if (bytes.size() < 6 || bytes.substr(0, 5) != "<?xml" || !IsBlank(bytes[5])) return {};
  const size_t end = bytes.find("?>");
  const std::string_view declaration = bytes.substr(0, end == std::string_view::npos ? bytes.size() : end);
  size_t pos = declaration.find("encoding");
  if (pos == std::string_view::npos) return {};
  pos += 8;
  while (pos < declaration.size() && IsBlank(declaration[pos])) ++pos;
  if (pos >= declaration.size() || declaration[pos] != '=') return {};
  ++pos;
  while (pos < declaration.size() && IsBlank(declaration[pos])) ++pos;
  if (pos >= declaration.size() || (declaration[pos] != '"' && declaration[pos] != '\'')) return {};
  const char quote = declaration[pos++];
  const size_t close = declaration.find(quote, pos);
  if (close == std::string_view::npos) return {};
  return {std::string(declaration.substr(pos, close - pos)), pos};
}

bool DecodeUtf8(std::string_view bytes, std::string* utf8, ParseError* error) {
  const size_t bad = FindInvalidUtf8(bytes);
  if (bad != std::string_view::npos) {
    *error = PositionedError(kXmlErrBadCharData, kBadCharacter, bytes, bad);
    return false;
  }
  utf8->assign(bytes);
  return true;
}

// Decoding is a good part of loading a large UTF-16 file such as the
// history. The text is written through a small buffer, not byte by byte and
// not into an output sized for the worst case (which would be cleared and
// paged in whole for text that is mostly ASCII).
bool DecodeUtf16(std::string_view bytes, bool bigEndian, std::string* utf8, ParseError* error) {
  utf8->clear();
  utf8->reserve(bytes.size() / 2);
  char buffer[16384];
  char* p = buffer;
  auto flush = [&] {
    utf8->append(buffer, static_cast<size_t>(p - buffer));
    p = buffer;
  };
  auto unitAt = [&](size_t i) -> char16_t {
    const auto b0 = static_cast<unsigned char>(bytes[i]);
    const auto b1 = static_cast<unsigned char>(bytes[i + 1]);
    return static_cast<char16_t>(bigEndian ? (b0 << 8) | b1 : (b1 << 8) | b0);
  };
  auto put = [&](char32_t cp) {  // three bytes below U+10000, four above (from a pair of units)
    if (cp >= 0x10000) {
      *p++ = static_cast<char>(0xF0 | (cp >> 18));
      *p++ = static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    } else {
      *p++ = static_cast<char>(0xE0 | (cp >> 12));
    }
    *p++ = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    *p++ = static_cast<char>(0x80 | (cp & 0x3F));
  };
  auto fail = [&]() {
    flush();
    *error = PositionedError(kXmlErrBadCharData, kBadCharacter, *utf8, utf8->size());
    return false;
  };
  size_t i = 0;
  for (; i + 1 < bytes.size(); i += 2) {
    if (p > buffer + sizeof buffer - 4) flush();  // room for the longest sequence
    const char16_t unit = unitAt(i);
    if (unit < 0x80) {
      *p++ = static_cast<char>(unit);
    } else if (unit < 0x800) {
      *p++ = static_cast<char>(0xC0 | (unit >> 6));
      *p++ = static_cast<char>(0x80 | (unit & 0x3F));
    } else if (unit >= 0xD800 && unit <= 0xDBFF) {
      if (i + 3 >= bytes.size()) return fail();
      const char16_t low = unitAt(i + 2);
      if (low < 0xDC00 || low > 0xDFFF) return fail();
      put(0x10000 + ((char32_t(unit) - 0xD800) << 10) + (char32_t(low) - 0xDC00));
      i += 2;
    } else if (unit >= 0xDC00 && unit <= 0xDFFF) {
      return fail();
    } else {
      put(unit);
    }
  }
  if (i != bytes.size()) return fail();  // an odd trailing byte
  flush();
  return true;
}

bool DecodeSingleByte(std::string_view bytes, ByteEncoding encoding, std::string* utf8, ParseError* error) {
  if (encoding == ByteEncoding::kCp1252) {
    *utf8 = text::Cp1252ToUtf8(bytes);
    return true;
  }
  utf8->clear();
  utf8->reserve(bytes.size());
  for (size_t i = 0; i < bytes.size(); ++i) {
    const auto byte = static_cast<unsigned char>(bytes[i]);
    if (encoding == ByteEncoding::kAscii && byte >= 0x80) {
      *error = PositionedError(kXmlErrBadCharData, kBadCharacter, bytes, i);
      return false;
    }
    text::AppendUtf8(*utf8, byte);  // ISO-8859-1: the byte is the code point
  }
  return true;
}

bool StartsWith(std::string_view bytes, std::string_view prefix) { return bytes.substr(0, prefix.size()) == prefix; }

}  // namespace

std::optional<ByteEncoding> EncodingByName(std::string_view name) {
  const std::string lower = text::AsciiLower(name);
  if (lower == "utf-8") return ByteEncoding::kUtf8;
  if (IsUtf16Name(lower)) return ByteEncoding::kUtf16Le;
  if (lower == "windows-1252" || lower == "cp1252") return ByteEncoding::kCp1252;
  if (lower == "iso-8859-1" || lower == "latin1" || lower == "iso_8859-1") return ByteEncoding::kLatin1;
  if (lower == "us-ascii" || lower == "ascii") return ByteEncoding::kAscii;
  return std::nullopt;
}

bool IsUtf16Name(std::string_view name) {
  return text::EqualsNoCase(name, "utf-16") || text::EqualsNoCase(name, "ucs-2") ||
         text::EqualsNoCase(name, "unicode");
}

bool DecodeDocumentBytes(std::string_view bytes, std::string* utf8, ParseError* error) {
  if (StartsWith(bytes, text::kUtf8Bom)) return DecodeUtf8(bytes.substr(3), utf8, error);
  if (StartsWith(bytes, "\xFF\xFE")) return DecodeUtf16(bytes.substr(2), false, utf8, error);
  if (StartsWith(bytes, "\xFE\xFF")) return DecodeUtf16(bytes.substr(2), true, utf8, error);
  // Without a mark, a document starts with an ASCII character ('<' or
  // whitespace); a zero byte beside it gives UTF-16 away and its order.
  if (bytes.size() >= 2 && bytes[0] != 0 && bytes[1] == 0) return DecodeUtf16(bytes, false, utf8, error);
  if (bytes.size() >= 2 && bytes[0] == 0 && bytes[1] != 0) return DecodeUtf16(bytes, true, utf8, error);

  const DeclaredName declared = FindDeclaredEncoding(bytes);
  if (declared.value.empty()) return DecodeUtf8(bytes, utf8, error);
  if (IsUtf16Name(declared.value)) {
    *error = PositionedError(kXmlErrEncodingSwitch,
                             "Switch from current encoding to specified encoding not supported.", bytes,
                             declared.offset);
    return false;
  }
  const std::optional<ByteEncoding> encoding = EncodingByName(declared.value);
  if (!encoding) {
    *error = PositionedError(kXmlErrUnsupportedEncoding, "System does not support the specified encoding.",
                             bytes, declared.offset);
    return false;
  }
  if (*encoding == ByteEncoding::kUtf8) return DecodeUtf8(bytes, utf8, error);
  return DecodeSingleByte(bytes, *encoding, utf8, error);
}

size_t FindInvalidUtf8(std::string_view text) {
  const auto* s = reinterpret_cast<const unsigned char*>(text.data());
  const size_t n = text.size();
  auto continuation = [&](size_t i) { return i < n && (s[i] & 0xC0) == 0x80; };
  size_t i = 0;
  while (i < n) {
    // Eight ASCII bytes at a time: most of a document is ASCII.
    while (i + 8 <= n && (LoadWord(s + i) & 0x8080808080808080ull) == 0) i += 8;
    if (i >= n) break;
    const unsigned char c = s[i];
    if (c < 0x80) {
      ++i;
      continue;
    }
    size_t length = 0;
    unsigned char low = 0x80, high = 0xBF;  // allowed range of the second byte
    if (c >= 0xC2 && c <= 0xDF) {
      length = 2;
    } else if (c >= 0xE0 && c <= 0xEF) {
      length = 3;
      if (c == 0xE0) low = 0xA0;   // overlong
      if (c == 0xED) high = 0x9F;  // surrogates
    } else if (c >= 0xF0 && c <= 0xF4) {
      length = 4;
      if (c == 0xF0) low = 0x90;   // overlong
      if (c == 0xF4) high = 0x8F;  // beyond U+10FFFF
    } else {
      return i;
    }
    if (i + 1 >= n || s[i + 1] < low || s[i + 1] > high) return i;
    for (size_t k = 2; k < length; ++k) {
      if (!continuation(i + k)) return i;
    }
    i += length;
  }
  return std::string_view::npos;
}

bool IsXmlChar(char32_t cp) {
  return cp == 0x9 || cp == 0xA || cp == 0xD || (cp >= 0x20 && cp <= 0xD7FF) || (cp >= 0xE000 && cp <= 0xFFFD) ||
         (cp >= 0x10000 && cp <= 0x10FFFF);
}

size_t FindForbiddenCharacter(std::string_view text) {
  for (size_t i = 0; i < text.size(); ++i) {
    while (i + 8 <= text.size() && IsPrintableAsciiWord(text.data() + i)) i += 8;
    if (i >= text.size()) break;
    const auto c = static_cast<unsigned char>(text[i]);
    if (c < 0x20 && c != '\t' && c != '\n' && c != '\r') return i;
    // U+FFFE and U+FFFF are EF BF BE and EF BF BF.
    if (c == 0xEF && i + 2 < text.size() && static_cast<unsigned char>(text[i + 1]) == 0xBF &&
        static_cast<unsigned char>(text[i + 2]) >= 0xBE) {
      return i;
    }
  }
  return std::string_view::npos;
}

bool IsXmlText(std::string_view text) {
  return FindInvalidUtf8(text) == std::string_view::npos && FindForbiddenCharacter(text) == std::string_view::npos;
}

uint32_t EncodeForSave(std::string_view utf8, std::string_view encodingName, std::string* bytes,
                       std::string* reason) {
  if (encodingName.empty()) {
    bytes->assign(utf8);
    return kOk;
  }
  const std::optional<ByteEncoding> encoding = EncodingByName(encodingName);
  if (!encoding) {
    *reason = "System does not support the specified encoding.";
    return kXmlErrUnsupportedEncoding;
  }
  switch (*encoding) {
    case ByteEncoding::kUtf8:
      bytes->assign(utf8);
      return kOk;
    case ByteEncoding::kUtf16Le:
    case ByteEncoding::kUtf16Be:
      bytes->assign(text::kUtf16LeBom);
      text::AppendUtf16LeBytes(*bytes, utf8);
      return kOk;
    case ByteEncoding::kCp1252:
    case ByteEncoding::kLatin1:
    case ByteEncoding::kAscii:
      break;
  }
  const char32_t limit = *encoding == ByteEncoding::kAscii ? 0x7F : 0xFF;
  bytes->clear();
  bytes->reserve(utf8.size());
  for (size_t pos = 0; pos < utf8.size();) {
    const char32_t cp = text::NextCodePoint(utf8, pos);
    const int byte = *encoding == ByteEncoding::kCp1252 ? text::Cp1252ByteOf(cp) : (cp <= limit ? int(cp) : -1);
    if (byte < 0) {
      *reason = text::Format("The character U+%04X cannot be represented in the encoding '%.*s'.",
                             static_cast<unsigned>(cp), static_cast<int>(encodingName.size()),
                             encodingName.data());
      return kXmlErrBadEncoding;
    }
    bytes->push_back(static_cast<char>(byte));
  }
  return kOk;
}

std::vector<size_t> LineStarts(std::string_view text) {
  std::vector<size_t> starts{0};
  const char* const begin = text.data();
  const char* const end = begin + text.size();
  for (const char* p = begin; p < end; ++p) {
    // Skip to the next line end; most bytes are neither.
    while (p < end && *p != '\n' && *p != '\r') ++p;
    if (p == end) break;
    if (*p == '\r' && p + 1 < end && p[1] == '\n') ++p;
    starts.push_back(static_cast<size_t>(p + 1 - begin));
  }
  return starts;
}

TextPosition PositionAt(const std::vector<size_t>& lineStarts, std::string_view text, size_t offset) {
  offset = std::min(offset, text.size());
  if (lineStarts.empty()) return {};
  const auto next = std::upper_bound(lineStarts.begin(), lineStarts.end(), offset);
  const size_t index = static_cast<size_t>(next - lineStarts.begin()) - 1;
  const size_t start = std::min(lineStarts[index], offset);
  return {static_cast<int32_t>(index + 1), 1 + Utf16Units(text.substr(start, offset - start))};
}

TextPosition PositionAt(std::string_view text, size_t offset) {
  offset = std::min(offset, text.size());
  int32_t line = 1;
  size_t lineStart = 0;
  for (size_t i = 0; i < offset; ++i) {
    if (text[i] == '\n' || (text[i] == '\r' && (i + 1 >= text.size() || text[i + 1] != '\n'))) {
      ++line;
      lineStart = i + 1;
    }
  }
  return {line, 1 + Utf16Units(text.substr(lineStart, offset - lineStart))};
}

}  // namespace xml::detail
