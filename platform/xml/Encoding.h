// Internal to the XML component: the byte encodings of document files.
// Loading decodes a file to the UTF-8 text the parser works on, taking the
// encoding from the byte-order mark, the first bytes or the declaration;
// saving encodes the serialised text
// in the encoding the document's declaration names. Positions in texts are
// counted here too, so every error reports them the same way.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/xml/XmlError.h"

namespace xml::detail {

enum class ByteEncoding { kUtf8, kUtf16Le, kUtf16Be, kCp1252, kLatin1, kAscii };

// The encoding a declaration's encoding name stands for (ASCII case ignored);
// nullopt for a name we do not support.
std::optional<ByteEncoding> EncodingByName(std::string_view name);
bool IsUtf16Name(std::string_view name);

// Decodes the bytes of a file into UTF-8 without byte-order mark. The
// encoding comes from a byte-order mark, else from the pattern of the first
// two bytes (UTF-16 without mark), else from the declaration's encoding
// name (UTF-8 when there is none). Malformed bytes, a name we do not know,
// and an 8-bit file that claims UTF-16 fail with a positioned error.
bool DecodeDocumentBytes(std::string_view bytes, std::string* utf8, ParseError* error);

// Offset of the first byte that does not start a well-formed UTF-8 sequence
// (overlong forms and surrogates count as malformed), or npos.
size_t FindInvalidUtf8(std::string_view text);

// The characters XML 1.0 allows: tab, line feed, carriage return and
// U+0020 upwards, without surrogates, U+FFFE and U+FFFF. The parser refuses
// every other one and the DOM never stores one (ToDocumentText, Dom.h).
bool IsXmlChar(char32_t codePoint);
// Offset of the first character of well-formed UTF-8 text that XML does not
// allow, or npos.
size_t FindForbiddenCharacter(std::string_view utf8);
// Well-formed UTF-8 holding only characters XML allows.
bool IsXmlText(std::string_view text);

// Encodes UTF-8 text for a file in the encoding named by `encodingName`
// ("" = UTF-8): UTF-16 as UTF-16LE with byte-order mark, UTF-8 without.
// kXmlErrBadEncoding when a character has no byte in the encoding,
// kXmlErrUnsupportedEncoding for a name we do not know.
uint32_t EncodeForSave(std::string_view utf8, std::string_view encodingName, std::string* bytes,
                       std::string* reason);

// Line and position (both 1-based, the position in UTF-16 units) of a byte
// offset. LF, CR LF and a lone CR each end a line, as XML reads them.
struct TextPosition {
  int32_t line = 0;
  int32_t column = 0;
};
std::vector<size_t> LineStarts(std::string_view text);
// `text` is the text the line starts were taken from (or a buffer of the
// same layout); columns are counted in it from the line's start.
TextPosition PositionAt(const std::vector<size_t>& lineStarts, std::string_view text, size_t offset);
TextPosition PositionAt(std::string_view text, size_t offset);

}  // namespace xml::detail
