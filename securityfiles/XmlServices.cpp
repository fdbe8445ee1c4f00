// XML document services on top of the DOM component.
#include "securityfiles/XmlServices.h"

#include <vector>

#include "infra/ErrorMgr.h"
#include "infra/Tool.h"
#include "platform/Platform.h"
#include "platform/WinError.h"
#include "platform/text/Text.h"
#include "platform/xml/ParserClasses.h"
#include "platform/xml/Schema.h"
#include "securityfiles/SecurityFileFormat.h"

namespace {

constexpr const char* kCreateLabel = "CTarvo::CreateXMLDoc";
constexpr const char* kSchemaLabel = "CXmlTool::MakeSchemaCheck";
constexpr const char* kClientLabel = "CXmlTool::CheckClientXML";

constexpr const char* kProgramDeclaration = "version='1.0' encoding='UTF-16' standalone='no'";

// ---- Documents ---------------------------------------------------------------

// A file-find on the path, as the existence check of a load: only "not
// there" counts as missing; any other failure of the search is its own code.
int CheckFileExists(std::string_view path) {
  std::vector<plat::FileEntry> found;
  const uint32_t rc = plat::Current().Files().Find(path, &found);
  if (rc == winerr::kSuccess) return kLoadXmlOk;
  if (rc == winerr::kFileNotFound || rc == winerr::kPathNotFound) return kLoadXmlFileNotFound;
  return kLoadXmlCheckFailed;
}

// ---- Values ------------------------------------------------------------------

// The tri-state of a value read with a non-empty default. The order of the
// comparisons does not matter: the texts are distinct.
int TriStateFromText(std::string_view text) {
  const std::string lower = text::AsciiLower(text);
  if (lower == "yes" || lower == "true") return kTriStateTrue;
  if (lower == "nomatter") return kTriStateNoMatter;
  return kTriStateFalse;
}

uint32_t ReadTriState(const xml::Node& node, std::string_view xpath, int* value, std::string_view defaultValue) {
  std::string text;
  const uint32_t rc = GetXmlValue(node, xpath, &text, defaultValue);
  if (text.empty()) {
    *value = kTriStateNoMatter;
    return kXmlNoValue;
  }
  *value = TriStateFromText(text);
  return rc;
}

// ---- Schema check ------------------------------------------------------------

// A document of parser class 4.0, else 6.0 (the check was written for 4.0
// and only falls back), and the schema-cache class of the same version.
// False after the warning when neither document class exists.
bool CreateSchemaCheckDocument(CErrorMgr& errorMgr, xml::Document* document, xml::ParserClass* cacheClass) {
  if (xml::CreateDocument(xml::ParserClass::kDocument40, document) == xml::kOk) {
    *cacheClass = xml::ParserClass::kSchemaCache40;
    return true;
  }
  if (xml::CreateDocument(xml::ParserClass::kDocument60, document) == xml::kOk) {
    *cacheClass = xml::ParserClass::kSchemaCache60;
    return true;
  }
  errorMgr.AddMessage(kLevelWarning, kSchemaLabel,
                      "XSD check was not possible - maybe XML parser version is to low - "
                      "pXMLDoc.CreateInstance(\"Msxml2.DOMDocument.4.0\") failed.");
  return false;
}

bool CreateSchemaCheckCache(CErrorMgr& errorMgr, xml::ParserClass cacheClass, xml::SchemaCache* cache) {
  if (xml::CreateSchemaCache(cacheClass, cache) == xml::kOk) return true;
  errorMgr.AddMessage(kLevelWarning, kSchemaLabel,
                      "XSD check was not possible - maybe XML parser version is to old - "
                      "pSchemaCache.CreateInstance(__uuidof(MSXML2::XMLSchemaCache40) failed.");
  return false;
}

// Files the schema under the security-file namespace. A schema file that is
// there but cannot be used leaves the file as unchecked as a missing one,
// so it is critical too.
bool AddSchema(CErrorMgr& errorMgr, const xml::SchemaCache& cache, std::string_view schemaPath) {
  const std::string path(schemaPath);
  if (!CStdTool::FileExists(path)) {
    errorMgr.AddMessageF(kLevelCritical, kSchemaLabel, "XSD schema file '%s' was not found at the given location!",
                         path.c_str());
    return false;
  }
  std::string reason;
  const uint32_t rc = cache.Add(secfile::kSecurityFileNamespace, path, &reason);
  if (rc != xml::kOk) {
    errorMgr.AddMessageF(kLevelCritical, kSchemaLabel, "XSD schema file '%s' could not be used (0x%08lx): %s",
                         path.c_str(), static_cast<unsigned long>(rc), reason.c_str());
    return false;
  }
  return true;
}

std::string WithoutLineBreaks(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    if (c != '\n' && c != '\r') out += c;
  }
  return out;
}

bool HasPosition(const xml::ParseError& error) { return error.line != 0 || error.linePosition != 0; }

void NoteViolation(CErrorMgr& errorMgr, const xml::ParseError& error, std::string_view fileName) {
  const std::string file(fileName);
  if (HasPosition(error)) {
    errorMgr.AddMessageF(kLevelInfo, kSchemaLabel, "Incorrect security file: %s  (Line: %d Position: %d) %s",
                         file.c_str(), error.line, error.linePosition, WithoutLineBreaks(error.reason).c_str());
  } else {
    errorMgr.AddMessageF(kLevelInfo, kSchemaLabel, "Incorrect security file: %s", file.c_str());
  }
}

// The steps of the schema check; false when one of them recorded an error.
// The check ends quietly after a warning: the file is then only unchecked.
bool CheckAgainstSchema(CErrorMgr& errorMgr, const xml::Document& document, std::string_view schemaPath,
                        std::string_view fileName) {
  if (document.IsNull()) {
    errorMgr.AddMessage(kLevelError, kSchemaLabel, "Internal error: Parameter pXMLDocToCheck may not be NULL");
    return false;
  }
  xml::Document checked;
  xml::ParserClass cacheClass{};
  if (!CreateSchemaCheckDocument(errorMgr, &checked, &cacheClass)) return true;
  xml::SchemaCache cache;
  if (!CreateSchemaCheckCache(errorMgr, cacheClass, &cache)) return true;
  if (!AddSchema(errorMgr, cache, schemaPath)) return false;
  // The document is checked as text, so that what is validated is what the
  // program would write, whatever was changed since it was loaded. A
  // document that reads back as it is is that text already; only a
  // violation is looked at again in the text, where its line and position
  // are counted.
  if (document.ReadsBackAsItIs() && !document.Validate(cache).Failed()) return true;
  checked.SetSchemas(cache);
  if (!checked.LoadXml(document.Xml())) {
    errorMgr.AddMessage(kLevelWarning, kSchemaLabel, "XSD check was not possible - XML could not be loaded");
    return true;
  }
  const xml::ParseError error = checked.Validate();
  if (error.Failed()) NoteViolation(errorMgr, error, fileName);
  return true;
}

}  // namespace

// ---- Documents ---------------------------------------------------------------

bool SavesItsXmlText(const xml::Document& document) {
  const xml::Node first = document.FirstChild();
  if (first.IsNull() || first.NodeName() != "xml") return true;
  const std::string declaration = text::AsciiLower(first.NodeValue());
  return declaration.find("encoding") == std::string::npos ||
         declaration.find("encoding=\"utf-16\"") != std::string::npos;
}

xml::Document AsItsSavedFileLoads(const xml::Document& document) {
  if (document.ReadsBackAsItIs()) return document;
  if (!SavesItsXmlText(document)) return {};
  const xml::Document readBack = xml::Document::Create();
  return readBack.LoadXml(document.Xml()) ? readBack : xml::Document();
}

xml::Document CreateXMLDoc(CErrorMgr& errorMgr, std::string_view rootName) {
  xml::Document document = xml::Document::Create();
  const xml::Node declaration = document.CreateProcessingInstruction("xml", kProgramDeclaration);
  document.AppendChild(declaration);
  const xml::Node root = document.AppendChild(document.CreateElement(rootName));
  if (root.IsNull()) {
    errorMgr.AddMessageF(kLevelError, kCreateLabel, "The root element '%s' could not be created",
                         std::string(rootName).c_str());
    return xml::Document();
  }
  root.SetAttribute(secfile::kPrefixAttribute, secfile::kProgramNamespace);
  return document;
}

int LoadXmlFile(std::string_view path, xml::Document* document, xml::ParseError* parseError) {
  *document = xml::Document();
  if (parseError) *parseError = xml::ParseError();
  if (const int exists = CheckFileExists(path); exists != kLoadXmlOk) return exists;
  xml::Document loaded = xml::Document::Create();
  if (loaded.Load(path)) {
    *document = loaded;
    return kLoadXmlOk;
  }
  const xml::ParseError error = loaded.GetParseError();
  if (parseError) *parseError = error;
  return error.errorCode == xml::kErrOutOfMemory ? kLoadXmlParserFailed : kLoadXmlRejected;
}

std::string ParseErrorSuffix(const xml::ParseError& parseError) {
  const std::string reason = WithoutLineBreaks(parseError.reason);
  if (reason.empty()) return "";
  if (!HasPosition(parseError)) return " " + reason;
  return text::Format(" (Line: %d Position: %d) %s", parseError.line, parseError.linePosition, reason.c_str());
}

// ---- Values ------------------------------------------------------------------

uint32_t GetXmlValue(const xml::Node& node, std::string_view xpath, std::string* value, std::string_view defaultValue) {
  value->clear();
  uint32_t rc = kXmlNullNode;
  if (!node.IsNull()) {
    const xml::NodeList found = node.SelectNodes(xpath, &rc);
    // Elements have no value of their own: a query must end at an attribute
    // or at text to read something.
    if (rc == xml::kOk && !found.Empty()) *value = found.Item(0).NodeValue();
  }
  if (value->empty() && !defaultValue.empty()) *value = std::string(defaultValue);
  return rc;
}

uint32_t GetXmlBool(const xml::Node& node, std::string_view xpath, bool* value, int defaultValue) {
  std::string_view fallback;
  if (defaultValue != kXmlBoolNoDefault) fallback = defaultValue == 1 ? "true" : "false";
  std::string text;
  const uint32_t rc = GetXmlValue(node, xpath, &text, fallback);
  if (text.empty()) {
    *value = false;
    return kXmlNoValue;
  }
  *value = text::AsciiLower(text) == "true";
  return rc;
}

uint32_t GetXmlTriState(const xml::Node& node, std::string_view xpath, int* value) {
  return ReadTriState(node, xpath, value, "nomatter");
}

uint32_t GetXmlTriStateDefaultYes(const xml::Node& node, std::string_view xpath, int* value) {
  return ReadTriState(node, xpath, value, "yes");
}

// ---- Writing and finding -----------------------------------------------------

uint32_t SetXmlAttribute(const xml::Node& element, std::string_view attributeName, std::string_view value) {
  if (element.IsNull()) return kXmlNullNode;
  while (attributeName.starts_with('@')) attributeName.remove_prefix(1);
  return element.SetAttribute(attributeName, value);
}

bool HasXmlAttribute(const xml::Node& node, std::string_view attributeName) {
  return node.HasAttribute(attributeName);
}

xml::Node GetOrCreateChildElement(const xml::Node& parent, std::string_view elementName, std::string_view message) {
  if (parent.IsNull()) return {};
  // The children are compared by name rather than queried with the name, so
  // a name can never be read as an expression.
  xml::Node element;
  for (const xml::Node child : parent.ChildNodes()) {
    if (child.Type() == xml::NodeType::kElement && child.NodeName() == elementName) {
      element = child;
      break;
    }
  }
  if (element.IsNull()) {
    // A document parent has no owner document: it can only find its root.
    const xml::Document owner = parent.OwnerDocument();
    if (owner.IsNull()) return {};
    element = parent.AppendChild(owner.CreateElement(elementName));
    if (element.IsNull()) return {};
  }
  if (!message.empty()) element.SetAttribute("message", message);
  return element;
}

xml::Node FindNodeByAttribute(const xml::Node& node, std::string_view xpath, std::string_view attributeName,
                              std::string_view value) {
  if (node.IsNull()) return {};
  const std::string stored = xml::ToDocumentText(value);  // as SetXmlAttribute would have stored it
  const xml::NodeList found = node.SelectNodes(xpath);
  for (const xml::Node candidate : found) {
    const xml::Node attribute = candidate.GetAttributeNode(attributeName);
    if (!attribute.IsNull() && attribute.NodeValue() == stored) return candidate;
  }
  return {};
}

// ---- Security files ----------------------------------------------------------

bool CXmlTool::MakeSchemaCheck(CErrorMgr& errorMgr, const xml::Document& document, std::string_view schemaPath,
                               std::string_view fileName) {
  const bool recordedNoError = CheckAgainstSchema(errorMgr, document, schemaPath, fileName);
  return recordedNoError && !errorMgr.IsError();
}

// The file name is part of the interface the callers share with the other
// checks; the note names the product instead.
std::string CXmlTool::CheckClientXML(CErrorMgr& errorMgr, const xml::Document& document,
                                     std::string_view /*fileName*/) {
  std::string value;
  if (GetXmlValue(document, secfile::kClientXmlValuePath, &value) != xml::kOk) value.clear();
  if (value.empty()) return "";
  // Only the exact spelling names the file's own product; "Yes" is a product name.
  if (value == secfile::kClientXmlOwnProduct &&
      GetXmlValue(document, secfile::kProductValuePath, &value) != xml::kOk) {
    value.clear();
  }
  errorMgr.AddMessageF(kLevelInfo, kClientLabel, "repeat Client XML from repository with product value: '%s'",
                       value.c_str());
  return value;
}
