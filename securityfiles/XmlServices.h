// The thin layer every part of the program uses on top of the XML DOM
// component: creating the program's own documents, loading a file,
// validating a security file against the schema, reading values by XPath
// with a default (texts, booleans, three-valued settings), writing
// attributes, getting or creating child elements, finding a node by an
// attribute value and reading a security file's client-XML setting.
//
// Every reader accepts a null node and answers with its default or a code,
// never a crash. Reports go to the error manager the caller passes.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/xml/Dom.h"

class CErrorMgr;

// ---------------------------------------------------------------------------
// Documents.

// Result codes of LoadXmlFile.
constexpr int kLoadXmlOk = 0;
constexpr int kLoadXmlFileNotFound = 2;     // the file (or its folder) does not exist
constexpr int kLoadXmlCheckFailed = 110;    // the existence check failed for another reason
constexpr int kLoadXmlParserFailed = 1006;  // the parser itself failed (out of memory)
constexpr int kLoadXmlRejected = 1392;      // the file exists but could not be read or parsed

// A new program document: the declaration "version='1.0' encoding='UTF-16'
// standalone='no'" and an empty root element of that prefixed name
// ("t:TarvoRepository") whose "xmlns:t" names the program's own namespace.
// Null when the root name is not a qualified XML name (no report).
xml::Document CreateXMLDoc(CErrorMgr& errorMgr, std::string_view rootName);

// Whether the file a Save of the document writes holds its Xml text as it
// is (it differs where a declaration names an encoding other than UTF-16),
// so that a parse of that text is what a load of the file gives.
bool SavesItsXmlText(const xml::Document& document);

// A document for what a load of the file `document` was just saved to
// gives, which reads back as it is: the document itself when it does, else
// a parse of its text (null when the file does not hold that text).
xml::Document AsItsSavedFileLoads(const xml::Document& document);

// Loads the file at a Windows path into a new document. One of the codes
// above; *document is null unless the result is kLoadXmlOk. When given,
// *parseError receives why the parser rejected the file.
int LoadXmlFile(std::string_view path, xml::Document* document, xml::ParseError* parseError = nullptr);

// Why a load failed, to be appended to a log line: " (Line: 3 Position: 7)
// reason", the position only when known and the reason without line
// breaks; "" when the parser gave no reason (the file was not read).
std::string ParseErrorSuffix(const xml::ParseError& parseError);

// ---------------------------------------------------------------------------
// Reading values.

// Code of the readers when neither the query nor the default gave a value.
constexpr uint32_t kXmlNoValue = 13;
// Code of the readers and of SetXmlAttribute for a null node.
constexpr uint32_t kXmlNullNode = 1;

// The value of the first node the XPath selects relative to `node`, when it
// has one (attributes and text do, elements do not), else `defaultValue`.
// 0 when the query ran (whether or not it matched), kXmlNullNode for a null
// node, the component's code for a malformed query.
uint32_t GetXmlValue(const xml::Node& node, std::string_view xpath, std::string* value,
                     std::string_view defaultValue = "");

// Default for GetXmlBool: -1 none, 1 "true", any other "false".
constexpr int kXmlBoolNoDefault = -1;
// True when the (default-filled) value is "true" in any letter case.
// kXmlNoValue (and false) when there is neither a value nor a default.
uint32_t GetXmlBool(const xml::Node& node, std::string_view xpath, bool* value, int defaultValue = kXmlBoolNoDefault);

// Three-valued settings.
constexpr int kTriStateTrue = 1;
constexpr int kTriStateFalse = 0;
constexpr int kTriStateNoMatter = -1;
// "true" and "yes" read as true, "nomatter" as no-matter, any other text as
// false, all in any letter case. An absent value reads as "nomatter" here,
// as "yes" in the DefaultYes variant.
uint32_t GetXmlTriState(const xml::Node& node, std::string_view xpath, int* value);
uint32_t GetXmlTriStateDefaultYes(const xml::Node& node, std::string_view xpath, int* value);

// ---------------------------------------------------------------------------
// Writing and finding.

// Sets an attribute; leading "@" characters of the name are dropped, so an
// XPath attribute step can be passed as it is. kXmlNullNode for a null
// element, else the component's code.
uint32_t SetXmlAttribute(const xml::Node& element, std::string_view attributeName, std::string_view value);
bool HasXmlAttribute(const xml::Node& node, std::string_view attributeName);

// The first child element of that qualified name, else a new one appended
// as the last child. A non-empty message is written into its attribute
// "message" (also on an element that existed). Null for a null parent, a
// name that is not a qualified XML name, and a document without that root
// (a document only finds its root element).
xml::Node GetOrCreateChildElement(const xml::Node& parent, std::string_view elementName,
                                  std::string_view message = "");

// The first node in document order of those the XPath selects whose
// attribute `attributeName` equals `value` exactly (as a document stores it,
// see xml::ToDocumentText); null when none. The value is compared in code,
// never put into the query, so any text matches.
xml::Node FindNodeByAttribute(const xml::Node& node, std::string_view xpath, std::string_view attributeName,
                              std::string_view value);

// ---------------------------------------------------------------------------
// Security files.

class CXmlTool {
 public:
  // Validates the document's text against the schema at `schemaPath`, filed
  // under the security-file namespace. A violation is only noted (level 2)
  // with `fileName`; a parser class or text that cannot be had is a warning
  // (level 4); a missing or unusable schema file is critical (level 6).
  // True unless the error flag is set or this check recorded an error.
  static bool MakeSchemaCheck(CErrorMgr& errorMgr, const xml::Document& document, std::string_view schemaPath,
                              std::string_view fileName);

  // The product whose repository files are to be repeated: the clientxml
  // value, where exactly "yes" stands for the file's own product; "" for
  // none. A non-empty answer is noted (level 2).
  static std::string CheckClientXML(CErrorMgr& errorMgr, const xml::Document& document, std::string_view fileName);
};
