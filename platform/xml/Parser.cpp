#include "platform/xml/Parser.h"

#include <cstdint>
#include <unordered_map>
#include <unordered_set>

#include "platform/text/Text.h"
#include "platform/xml/Encoding.h"

namespace xml::detail {

namespace {

// Escapes are decoded here, not by pugixml, because pugixml keeps an unknown
// reference as literal text, which would quietly change the document.
// Whitespace-only text is kept (parse_ws_pcdata) so the serializer knows
// where the source had line breaks; the fragment mode keeps top-level text
// so that it can be refused instead of dropped.
constexpr unsigned kParseOptions = pugi::parse_cdata | pugi::parse_wconv_attribute | pugi::parse_eol |
                                   pugi::parse_declaration | pugi::parse_pi | pugi::parse_comments |
                                   pugi::parse_doctype | pugi::parse_ws_pcdata | pugi::parse_fragment;

bool IsNameStart(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || c >= 0x80;
}
bool IsNameChar(unsigned char c) { return IsNameStart(c) || (c >= '0' && c <= '9') || c == '-' || c == '.'; }

// Where an XML declaration written after leading whitespace starts, or npos.
// Such a document is refused (the declaration must be the very first
// thing); pugixml alone would take it.
size_t FindLateDeclaration(std::string_view text) {
  size_t i = 0;
  while (i < text.size() && IsXmlWhitespace(text[i])) ++i;
  if (i == 0 || text.substr(i, 5) != "<?xml" || i + 5 >= text.size()) return std::string_view::npos;
  const char next = text[i + 5];
  return IsXmlWhitespace(next) || next == '?' ? i : std::string_view::npos;
}

struct Failure {
  uint32_t code = kOk;
  std::string reason;
  size_t index = 0;  // in the decoded text
};

// Decodes character references and the five predefined entities. There is
// no other entity: the document may not declare any.
bool DecodeReferences(std::string_view raw, std::string* out, Failure* failure) {
  out->clear();
  out->reserve(raw.size());
  size_t i = 0;
  while (i < raw.size()) {
    const size_t amp = raw.find('&', i);
    if (amp == std::string_view::npos) {
      out->append(raw.substr(i));
      break;
    }
    out->append(raw.substr(i, amp - i));
    const size_t semicolon = raw.find(';', amp);
    size_t nameEnd = amp + 1;
    if (nameEnd < raw.size() && raw[nameEnd] == '#') ++nameEnd;
    while (nameEnd < raw.size() && IsNameChar(static_cast<unsigned char>(raw[nameEnd]))) ++nameEnd;
    if (semicolon == std::string_view::npos || semicolon != nameEnd || nameEnd == amp + 1) {
      *failure = {kXmlErrMissingSemicolon, "A semicolon character was expected.", amp};
      return false;
    }
    const std::string_view name = raw.substr(amp + 1, semicolon - amp - 1);
    if (name[0] == '#') {
      const bool hex = name.size() > 1 && name[1] == 'x';
      const std::string_view digits = name.substr(hex ? 2 : 1);
      char32_t cp = 0;
      bool ok = !digits.empty();
      for (char d : digits) {
        int value = -1;
        if (d >= '0' && d <= '9') value = d - '0';
        if (hex && d >= 'a' && d <= 'f') value = d - 'a' + 10;
        if (hex && d >= 'A' && d <= 'F') value = d - 'A' + 10;
        if (value < 0 || cp > 0x10FFFF) {
          ok = false;
          break;
        }
        cp = cp * (hex ? 16 : 10) + static_cast<char32_t>(value);
      }
      if (!ok || !IsXmlChar(cp)) {
        *failure = {kXmlErrInvalidCharRef, "Invalid character reference.", amp};
        return false;
      }
      text::AppendUtf8(*out, cp);
    } else if (name == "amp") {
      out->push_back('&');
    } else if (name == "lt") {
      out->push_back('<');
    } else if (name == "gt") {
      out->push_back('>');
    } else if (name == "quot") {
      out->push_back('"');
    } else if (name == "apos") {
      out->push_back('\'');
    } else {
      *failure = {kXmlErrUndefinedEntity, "Reference to undefined entity '" + std::string(name) + "'.", amp};
      return false;
    }
    i = semicolon + 1;
  }
  return true;
}

// The pseudo-attributes of an XML declaration in their only order, each at
// most once; version is required.
constexpr std::string_view kPseudoAttributeOrder[] = {"version", "encoding", "standalone"};

bool CheckPseudoAttributes(const std::vector<PseudoAttribute>& attributes, Failure* failure) {
  auto bad = [&](uint32_t code, std::string reason) {
    *failure = {code, std::move(reason), 0};
    return false;
  };
  size_t next = 0;
  for (const PseudoAttribute& a : attributes) {
    size_t k = next;
    while (k < std::size(kPseudoAttributeOrder) && a.name != kPseudoAttributeOrder[k]) ++k;
    if (k == std::size(kPseudoAttributeOrder)) {
      return bad(kXmlErrUnexpectedAttribute, "Unexpected attribute '" + a.name + "' in the xml declaration.");
    }
    next = k + 1;
  }
  if (attributes.empty() || attributes[0].name != "version") {
    return bad(kXmlErrBadXmlDeclaration, "The xml declaration must start with its version.");
  }
  const std::string& version = attributes[0].value;
  if (version.size() < 3 || version.compare(0, 2, "1.") != 0 ||
      version.find_first_not_of("0123456789", 2) != std::string::npos) {
    return bad(kXmlErrBadXmlDeclaration, "Invalid version number in the xml declaration.");
  }
  for (const PseudoAttribute& a : attributes) {
    if (a.name == "standalone" && a.value != "yes" && a.value != "no") {
      return bad(kXmlErrBadXmlDeclaration, "The standalone value of the xml declaration must be 'yes' or 'no'.");
    }
    if (a.name == "encoding" && (a.value.empty() || !IsNameStart(static_cast<unsigned char>(a.value[0])))) {
      return bad(kXmlErrBadXmlDeclaration, "Invalid encoding name in the xml declaration.");
    }
  }
  return true;
}

// The checks and conversions after pugixml has built the tree. Offsets of
// nodes are taken from their names and values, which still point into the
// parse buffer (a copy of `text` with the same layout).
class TreeChecker {
 public:
  TreeChecker(std::string_view text, const std::vector<size_t>& lineStarts, ParseError* error)
      : text_(text), lineStarts_(lineStarts), error_(error) {}

  bool Run(pugi::xml_document& doc) {
    pugi::xml_node root;
    if (!CheckTopLevel(doc, &root)) return false;
    return WalkDocumentElement(root);
  }

 private:
  struct Frame {
    size_t firstBinding;
    bool preserve;
  };

  bool Fail(uint32_t code, std::string_view reason, size_t offset) {
    const TextPosition at = PositionAt(lineStarts_, text_, offset);
    *error_ = MakeParseError(code, reason, at.line, at.column);
    return false;
  }

  size_t OffsetOf(const char* p) const {
    if (base_ && p >= base_ && p <= base_ + text_.size()) return static_cast<size_t>(p - base_);
    return text_.size();
  }
  size_t OffsetOf(pugi::xml_node node) const {
    const ptrdiff_t offset = node.offset_debug();
    return offset >= 0 ? static_cast<size_t>(offset) : text_.size();
  }

  void FindBase(pugi::xml_document& doc) {
    for (pugi::xml_node node = doc.first_child(); node; node = node.next_sibling()) {
      const ptrdiff_t offset = node.offset_debug();
      if (offset < 0) continue;
      const bool named = node.type() == pugi::node_element || node.type() == pugi::node_declaration ||
                         node.type() == pugi::node_pi;
      base_ = (named ? node.name() : node.value()) - offset;
      return;
    }
  }

  bool CheckTopLevel(pugi::xml_document& doc, pugi::xml_node* root) {
    FindBase(doc);
    std::vector<pugi::xml_node> blanks;
    bool seenDoctype = false;
    bool first = true;
    for (pugi::xml_node node = doc.first_child(); node; node = node.next_sibling(), first = false) {
      switch (node.type()) {
        case pugi::node_declaration:
          // A declaration anywhere but at the very start (offset 2 is its
          // name after "<?") is not a declaration the parser accepts.
          if (!first || OffsetOf(node) != 2) {
            return Fail(kXmlErrBadXmlDeclaration, "Invalid xml declaration.", OffsetOf(node) - 2);
          }
          if (!CheckDeclaration(node)) return false;
          break;
        case pugi::node_doctype:
          if (*root || seenDoctype) {
            return Fail(kXmlErrInvalidAtTopLevel, "Invalid at the top level of the document.", OffsetOf(node));
          }
          if (std::string_view(node.value()).find("<!ENTITY") != std::string_view::npos) {
            return Fail(kXmlErrDtdNotAllowed,
                        "The document type definition declares entities; entity declarations are not supported.",
                        OffsetOf(node));
          }
          seenDoctype = true;
          break;
        case pugi::node_pcdata:
          if (!IsAllXmlWhitespace(node.value())) {
            return Fail(kXmlErrInvalidAtTopLevel, "Invalid at the top level of the document.", OffsetOf(node));
          }
          blanks.push_back(node);
          break;
        case pugi::node_cdata:
          return Fail(kXmlErrInvalidAtTopLevel, "Invalid at the top level of the document.", OffsetOf(node));
        case pugi::node_element:
          if (*root) {
            return Fail(kXmlErrMultipleRoots, "Only one top level element is allowed in an XML document.",
                        OffsetOf(node) - 1);
          }
          *root = node;
          break;
        default:
          break;
      }
    }
    if (!*root) return Fail(kXmlErrMissingRoot, "XML document must have a top level element.", text_.size());
    // Top-level whitespace is not kept: the serializer ends every top-level
    // node with a line break of its own. These are leaves, so removing them
    // is cheap.
    for (pugi::xml_node blank : blanks) doc.remove_child(blank);
    return true;
  }

  bool CheckDeclaration(pugi::xml_node declaration) {
    std::vector<PseudoAttribute> attributes;
    for (pugi::xml_attribute a : declaration.attributes()) attributes.push_back({a.name(), a.value()});
    Failure failure;
    if (CheckPseudoAttributes(attributes, &failure)) return true;
    return Fail(failure.code, failure.reason, OffsetOf(declaration) - 2);
  }

  bool WalkDocumentElement(pugi::xml_node root) {
    if (!EnterElement(root)) return false;
    pugi::xml_node node = root.first_child();
    while (node) {
      if (node.type() == pugi::node_element) {
        if (!EnterElement(node)) return false;
        if (node.first_child()) {
          node = node.first_child();
          continue;
        }
        LeaveElement();
      } else if (node.type() == pugi::node_pcdata) {
        if (!CheckText(node)) return false;
      }
      while (!node.next_sibling()) {
        node = node.parent();
        LeaveElement();
        if (node == root) return true;
      }
      node = node.next_sibling();
    }
    LeaveElement();
    return true;
  }

  bool Declared(std::string_view prefix) const {
    if (prefix.empty() || prefix == "xml") return true;
    const auto it = declared_.find(prefix);
    return it != declared_.end() && it->second > 0;
  }

  bool EnterElement(pugi::xml_node element) {
    const std::string_view name = element.name();
    if (!IsQualifiedName(name)) {
      return Fail(kXmlErrBadNameChar, "A name contained an invalid character.", OffsetOf(element));
    }
    frames_.push_back({bindings_.size(), frames_.empty() ? false : frames_.back().preserve});
    attributes_.clear();
    for (pugi::xml_attribute a : element.attributes()) {
      const std::string_view attributeName = a.name();
      attributes_.push_back({a, attributeName});
      if (attributeName == "xmlns" || attributeName.substr(0, 6) == "xmlns:") {
        const std::string_view prefix = attributeName == "xmlns" ? std::string_view() : attributeName.substr(6);
        bindings_.push_back(prefix);
        ++declared_[prefix];
      } else if (attributeName == "xml:space") {
        const std::string_view value = a.value();
        if (value == "preserve") frames_.back().preserve = true;
        if (value == "default") frames_.back().preserve = false;
      }
    }
    if (!CheckDuplicates()) return false;
    for (const NamedAttribute& a : attributes_) {
      if (!CheckAttribute(a.attribute, a.name)) return false;
    }
    const std::string_view prefix = PrefixOf(name);
    if (!Declared(prefix)) {
      return Fail(kXmlErrUndeclaredPrefix,
                  "Reference to undeclared namespace prefix: '" + std::string(prefix) + "'.", OffsetOf(element));
    }
    return true;
  }

  void LeaveElement() {
    const size_t first = frames_.back().firstBinding;
    for (size_t i = first; i < bindings_.size(); ++i) --declared_[bindings_[i]];
    bindings_.resize(first);
    frames_.pop_back();
  }

  // The attributes of the element being entered.
  bool CheckDuplicates() {
    // Few attributes are compared pairwise; many go through a set, so an
    // element with thousands of attributes stays linear.
    constexpr size_t kPairwiseLimit = 16;
    if (attributes_.size() <= kPairwiseLimit) {
      for (size_t i = 0; i < attributes_.size(); ++i) {
        for (size_t j = i + 1; j < attributes_.size(); ++j) {
          if (attributes_[i].name == attributes_[j].name) return FailDuplicate(attributes_[j].attribute);
        }
      }
      return true;
    }
    std::unordered_set<std::string_view> seen;
    for (const NamedAttribute& a : attributes_) {
      if (!seen.insert(a.name).second) return FailDuplicate(a.attribute);
    }
    return true;
  }

  bool FailDuplicate(pugi::xml_attribute a) {
    return Fail(kXmlErrDuplicateAttribute, "Duplicate attribute.", OffsetOf(a.name()));
  }

  bool CheckAttribute(pugi::xml_attribute a, std::string_view name) {
    if (!IsQualifiedName(name)) {
      return Fail(kXmlErrBadNameChar, "A name contained an invalid character.", OffsetOf(a.name()));
    }
    const std::string_view prefix = PrefixOf(name);
    if (prefix != "xmlns" && !Declared(prefix)) {
      return Fail(kXmlErrUndeclaredPrefix,
                  "Reference to undeclared namespace prefix: '" + std::string(prefix) + "'.", OffsetOf(a.name()));
    }
    const std::string_view raw = a.value();
    const size_t lt = raw.find('<');
    if (lt != std::string_view::npos) {
      return Fail(kXmlErrBadCharInString, "A '<' character cannot be used in an attribute value.",
                  OffsetOf(a.value()) + lt);
    }
    if (raw.find('&') == std::string_view::npos) return true;
    std::string decoded;
    Failure failure;
    if (!DecodeReferences(raw, &decoded, &failure)) {
      return Fail(failure.code, failure.reason, OffsetOf(a.value()) + failure.index);
    }
    a.set_value(decoded.c_str());
    return true;
  }

  // Text is whitespace-only when it is so after its references are decoded
  // ("&#32;" too), so that the serializer's line break for it reads back as
  // the same hidden run.
  bool CheckText(pugi::xml_node node) {
    const std::string_view raw = node.value();
    std::string decoded;
    const bool hasReferences = raw.find('&') != std::string_view::npos;
    if (hasReferences) {
      Failure failure;
      if (!DecodeReferences(raw, &decoded, &failure)) {
        return Fail(failure.code, failure.reason, OffsetOf(node) + failure.index);
      }
    }
    if (IsAllXmlWhitespace(hasReferences ? std::string_view(decoded) : raw) && !frames_.back().preserve) {
      node.set_value("");  // becomes the whitespace marker
    } else if (hasReferences) {
      node.set_value(decoded.c_str());
    }
    return true;
  }

  std::string_view text_;
  const std::vector<size_t>& lineStarts_;
  ParseError* error_;
  const char* base_ = nullptr;
  std::vector<Frame> frames_;
  struct NamedAttribute {
    pugi::xml_attribute attribute;
    std::string_view name;
  };
  std::vector<NamedAttribute> attributes_;  // of the element being entered, kept for its capacity
  std::vector<std::string_view> bindings_;
  // Prefix -> number of declarations in scope; a map, not a walk up the
  // scopes, so deep documents with many declarations stay linear.
  std::unordered_map<std::string_view, int> declared_;
};

ParseError MapPugiError(const pugi::xml_parse_result& result, std::string_view text,
                        const std::vector<size_t>& lineStarts) {
  const size_t offset = result.offset >= 0 ? static_cast<size_t>(result.offset) : text.size();
  uint32_t code = kErrFail;
  std::string_view reason = "The document could not be parsed.";
  switch (result.status) {
    case pugi::status_out_of_memory:
      return MakeParseError(kErrOutOfMemory, "Not enough memory to load the document.");
    case pugi::status_unrecognized_tag:
      code = kXmlErrBadStartNameChar;
      reason = "A name was started with an invalid character.";
      break;
    case pugi::status_bad_pi:
      code = kXmlErrUnclosedPi;
      reason = "A processing instruction is malformed or not closed.";
      break;
    case pugi::status_bad_comment:
      code = kXmlErrUnclosedComment;
      reason = "A comment is malformed or not closed.";
      break;
    case pugi::status_bad_cdata:
      code = kXmlErrUnclosedCData;
      reason = "A CDATA section was not closed.";
      break;
    case pugi::status_bad_doctype:
      code = kXmlErrUnclosedDeclaration;
      reason = "The document type declaration is malformed or not closed.";
      break;
    case pugi::status_bad_pcdata:
      code = kXmlErrBadCharData;
      reason = "An invalid character was found in text content.";
      break;
    case pugi::status_bad_start_element:
      code = kXmlErrUnclosedStartTag;
      reason = "A start tag is malformed or not closed.";
      break;
    case pugi::status_bad_attribute:
      code = kXmlErrMissingQuote;
      reason = "An attribute is malformed: its value must follow '=' and be quoted.";
      break;
    case pugi::status_bad_end_element:
      code = kXmlErrUnclosedEndTag;
      reason = "An end tag is malformed or not closed.";
      break;
    case pugi::status_end_element_mismatch:
      if (offset >= 2 && text.substr(offset - 2, 2) == "</") {
        code = kXmlErrEndTagMismatch;
        reason = "End tag does not match the start tag.";
      } else {
        code = kXmlErrUnclosedTags;
        reason = "The document ends before all its elements are closed.";
      }
      break;
    case pugi::status_no_document_element:
      code = kXmlErrMissingRoot;
      reason = "XML document must have a top level element.";
      break;
    default:
      break;
  }
  const TextPosition at = PositionAt(lineStarts, text, offset);
  return MakeParseError(code, reason, at.line, at.column);
}

}  // namespace

std::string_view PrefixOf(std::string_view qualifiedName) {
  const size_t colon = qualifiedName.find(':');
  return colon == std::string_view::npos ? std::string_view() : qualifiedName.substr(0, colon);
}

bool IsQualifiedName(std::string_view name) {
  if (name.empty() || !IsNameStart(static_cast<unsigned char>(name[0]))) return false;
  bool colonSeen = false;
  bool nonAscii = static_cast<unsigned char>(name[0]) >= 0x80;
  for (size_t i = 1; i < name.size(); ++i) {
    const auto c = static_cast<unsigned char>(name[i]);
    if (c == ':') {
      if (colonSeen || i + 1 == name.size() || !IsNameStart(static_cast<unsigned char>(name[i + 1]))) return false;
      colonSeen = true;
    } else if (!IsNameChar(c)) {
      return false;
    }
    nonAscii = nonAscii || c >= 0x80;
  }
  // Any non-ASCII character is a name character here, but malformed UTF-8
  // and U+FFFE / U+FFFF would make the document's text unreadable.
  return !nonAscii || IsXmlText(name);
}

bool ParseDeclarationData(std::string_view data, std::vector<PseudoAttribute>* attributes, ParseError* error) {
  attributes->clear();
  auto bad = [&](uint32_t code, std::string_view reason) {
    *error = MakeParseError(code, reason);
    return false;
  };
  size_t i = 0;
  auto skipBlanks = [&]() {
    while (i < data.size() && IsXmlWhitespace(data[i])) ++i;
  };
  for (skipBlanks(); i < data.size(); skipBlanks()) {
    const size_t nameStart = i;
    while (i < data.size() && IsNameChar(static_cast<unsigned char>(data[i]))) ++i;
    const std::string_view name = data.substr(nameStart, i - nameStart);
    skipBlanks();
    if (name.empty() || i >= data.size() || data[i] != '=') return bad(kXmlErrBadXmlDeclaration, "Invalid xml declaration.");
    ++i;
    skipBlanks();
    if (i >= data.size() || (data[i] != '\'' && data[i] != '"')) {
      return bad(kXmlErrBadXmlDeclaration, "Invalid xml declaration.");
    }
    const char quote = data[i++];
    const size_t close = data.find(quote, i);
    if (close == std::string_view::npos) return bad(kXmlErrBadXmlDeclaration, "Invalid xml declaration.");
    attributes->push_back({std::string(name), std::string(data.substr(i, close - i))});
    i = close + 1;
  }
  Failure failure;
  if (!CheckPseudoAttributes(*attributes, &failure)) return bad(failure.code, failure.reason);
  return true;
}

bool ParseText(std::string_view utf8, Tree* tree, ParseError* error) {
  const size_t invalid = FindInvalidUtf8(utf8);
  const size_t forbidden = invalid != std::string_view::npos ? invalid : FindForbiddenCharacter(utf8);
  if (forbidden != std::string_view::npos) {
    const TextPosition at = PositionAt(utf8, forbidden);
    *error = MakeParseError(kXmlErrBadCharData, "An invalid character was found in text content.", at.line, at.column);
    return false;
  }
  const size_t late = FindLateDeclaration(utf8);
  if (late != std::string_view::npos) {
    const TextPosition at = PositionAt(utf8, late);
    *error = MakeParseError(kXmlErrBadXmlDeclaration, "Invalid xml declaration.", at.line, at.column);
    return false;
  }
  std::vector<size_t> lineStarts = LineStarts(utf8);
  const pugi::xml_parse_result result = tree->doc.load_buffer(utf8.data(), utf8.size(), kParseOptions, pugi::encoding_utf8);
  if (!result) {
    *error = MapPugiError(result, utf8, lineStarts);
    return false;
  }
  TreeChecker checker(utf8, lineStarts, error);
  if (!checker.Run(tree->doc)) return false;
  tree->lineStarts = std::move(lineStarts);
  tree->readsBack = true;
  *error = ParseError();
  return true;
}

}  // namespace xml::detail
