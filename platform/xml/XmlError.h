// Result codes and the parse-error record of the XML component. Operations
// answer with HRESULT-style codes (0 success, high bit set for a failure), so
// a log line "0x%08lx" reads like every other COM-style result of the
// program; loading and validation describe a failure with a ParseError.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace xml {

// General results.
constexpr uint32_t kOk = 0;
constexpr uint32_t kErrFail = 0x80004005;               // E_FAIL
constexpr uint32_t kErrInvalidArg = 0x80070057;         // E_INVALIDARG
constexpr uint32_t kErrOutOfMemory = 0x8007000E;        // E_OUTOFMEMORY
constexpr uint32_t kErrClassNotRegistered = 0x80040154; // REGDB_E_CLASSNOTREG
constexpr uint32_t kErrObjectNotFound = 0x800C0006;     // INET_E_OBJECT_NOT_FOUND: a file to load is missing

// A Win32 error code as an HRESULT (HRESULT_FROM_WIN32).
constexpr uint32_t HResultFromWin32(uint32_t win32) {
  return win32 == 0 ? 0 : (win32 & 0x0000FFFF) | 0x80070000;
}

// Parser and validation codes, in one numbering (0xC00CExxx). Only the
// unexpected-attribute code is documented for us; the other numbers are
// this component's choice and are kept here only.
constexpr uint32_t kXmlErrMissingQuote = 0xC00CE502;
constexpr uint32_t kXmlErrBadStartNameChar = 0xC00CE504;
constexpr uint32_t kXmlErrBadNameChar = 0xC00CE505;
constexpr uint32_t kXmlErrBadCharInString = 0xC00CE506;
constexpr uint32_t kXmlErrBadCharData = 0xC00CE508;
constexpr uint32_t kXmlErrMissingSemicolon = 0xC00CE50D;
constexpr uint32_t kXmlErrInvalidCharRef = 0xC00CE51E;
constexpr uint32_t kXmlErrUnclosedTags = 0xC00CE553;
constexpr uint32_t kXmlErrDuplicateAttribute = 0xC00CE554;
constexpr uint32_t kXmlErrMultipleRoots = 0xC00CE555;
constexpr uint32_t kXmlErrInvalidAtTopLevel = 0xC00CE556;
constexpr uint32_t kXmlErrBadXmlDeclaration = 0xC00CE557;
constexpr uint32_t kXmlErrMissingRoot = 0xC00CE558;
constexpr uint32_t kXmlErrUnclosedPi = 0xC00CE55D;
constexpr uint32_t kXmlErrUnclosedStartTag = 0xC00CE55E;
constexpr uint32_t kXmlErrUnclosedEndTag = 0xC00CE55F;
constexpr uint32_t kXmlErrUnclosedComment = 0xC00CE561;
constexpr uint32_t kXmlErrUnclosedDeclaration = 0xC00CE562;
constexpr uint32_t kXmlErrUnclosedCData = 0xC00CE564;
constexpr uint32_t kXmlErrUnexpectedAttribute = 0xC00CE56C;  // documented value
constexpr uint32_t kXmlErrEndTagMismatch = 0xC00CE56D;
constexpr uint32_t kXmlErrUnsupportedEncoding = 0xC00CE56E;
constexpr uint32_t kXmlErrEncodingSwitch = 0xC00CE56F;
constexpr uint32_t kXmlErrDtdNotAllowed = 0xC00CE5A0;
constexpr uint32_t kXmlErrUndefinedEntity = 0xC00CE002;
constexpr uint32_t kXmlErrUndeclaredPrefix = 0xC00CE01D;
constexpr uint32_t kXmlErrBadEncoding = 0xC00CE50E;  // save: a character the encoding cannot hold
constexpr uint32_t kXmlErrFileTooLarge = HResultFromWin32(223);  // ERROR_FILE_TOO_LARGE
constexpr uint32_t kXmlErrSchemaViolation = 0xC00CE014;
constexpr uint32_t kXmlErrValidateNoRoot = 0xC00CE225;
constexpr uint32_t kXmlErrNoSchema = 0xC00CE226;
constexpr uint32_t kXmlErrSchemaLoad = 0xC00CE227;
constexpr uint32_t kXmlErrSchemaNamespace = 0xC00CE228;
constexpr uint32_t kErrXPath = kErrFail;  // a malformed XPath expression, or not a node set

// What a failed load or validation reports. A reason ends with CR LF, as the
// callers expect (they strip line breaks before logging it).
struct ParseError {
  uint32_t errorCode = kOk;  // 0: no error
  std::string reason;
  int32_t line = 0;          // 1-based; 0 when not known
  int32_t linePosition = 0;  // 1-based, in UTF-16 units; 0 when not known

  bool Failed() const { return errorCode != kOk; }
};

// A ParseError whose reason gets the trailing line break.
ParseError MakeParseError(uint32_t code, std::string_view reason, int32_t line = 0, int32_t linePosition = 0);

}  // namespace xml
