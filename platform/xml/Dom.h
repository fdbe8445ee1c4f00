// The XML DOM every part of the program works with: documents, nodes,
// attributes and XPath queries, shaped after the DOM interface the program
// was written for and built on pugixml. Handles are cheap to copy, may be
// null, and keep the document they belong to alive; failures come back as
// codes and null handles, never as exceptions.
//
// A document holds only text it can be written with and read back from.
// Text the program puts in (attribute values, processing-instruction data)
// goes through ToDocumentText: a character XML 1.0 cannot carry (a control
// character other than tab, line feed and carriage return; U+FFFE, U+FFFF)
// and a byte that is not well-formed UTF-8 (a lone surrogate among them)
// become U+FFFD. Names are refused instead. What the parser reads is held to
// the same rules, and Save refuses a document whose text would not load.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/xml/XmlError.h"

namespace pugi {
struct xml_node_struct;
struct xml_attribute_struct;
}  // namespace pugi

namespace xml {

namespace detail {
struct DocState;
struct Tree;
struct Access;
}  // namespace detail

class Document;
class NodeList;
class SchemaCache;

// The text as a document stores it: characters XML cannot carry and
// malformed UTF-8 replaced by U+FFFD, everything else as it is. The one rule
// for every value entering a document, and for values put into queries
// (XPathLiteral), so that a query finds a value as it was stored.
std::string ToDocumentText(std::string_view text);

enum class NodeType {
  kNull,
  kElement,
  kAttribute,
  kText,
  kCData,
  kProcessingInstruction,  // the XML declaration is one too, named "xml"
  kComment,
  kDocument,
  kDocumentType,
};

// One attribute value a child must have (Node::FindChild).
struct AttributeMatch {
  std::string_view name;
  std::string_view value;
};

// A node of a document, or null. Whitespace-only text between elements is
// kept for the serializer only: child walks, counts and queries never see it
// (except inside xml:space="preserve"). A node removed from its parent stays
// usable and can be appended again.
class Node {
 public:
  Node() = default;

  bool IsNull() const;
  explicit operator bool() const { return !IsNull(); }
  NodeType Type() const;

  // Qualified name of an element or attribute, the target of a processing
  // instruction, "#text", "#cdata-section", "#comment", "#document".
  std::string NodeName() const;
  // The local name (without prefix) of an element or attribute; a processing
  // instruction's target; empty for the rest.
  std::string BaseName() const;
  // The text of an attribute, text, CDATA, comment or processing instruction;
  // empty for elements and documents.
  std::string NodeValue() const;
  // The text of the node and its descendants, leading and trailing
  // whitespace trimmed (kept inside xml:space="preserve").
  std::string Text() const;
  // The node's serialisation (see Serializer.h for the rules).
  std::string Xml() const;

  // Null for a document, an attribute, and a node outside the tree.
  Node ParentNode() const;
  // Null for the document itself.
  Document OwnerDocument() const;
  Node FirstChild() const;
  Node LastChild() const;
  Node NextSibling() const;
  Node PreviousSibling() const;
  bool HasChildNodes() const;
  NodeList ChildNodes() const;

  // Appends `child` as the last child of this element or document and
  // returns it. A node of the same document moves (from its old place, or
  // from where CreateElement put it); a node of another document is copied
  // and the copy is returned. Null (and *hr) on failure: a node that cannot
  // go here, a second document element, text at the top level, a cycle.
  Node AppendChild(const Node& child, uint32_t* hr = nullptr) const;
  // Takes `child` out of this node's children and returns it; null (and
  // kErrInvalidArg) when it is not a child of this node.
  Node RemoveChild(const Node& child, uint32_t* hr = nullptr) const;

  // Attributes of an element (and the pseudo-attributes of the XML
  // declaration), by qualified name; lookups are exact.
  NodeList Attributes() const;
  Node GetAttributeNode(std::string_view qualifiedName) const;
  bool HasAttribute(std::string_view qualifiedName) const;
  std::string GetAttribute(std::string_view qualifiedName) const;  // "" when absent
  // Sets or replaces an attribute of an element; the value is stored as
  // ToDocumentText makes it. kErrInvalidArg for a name that is not a
  // qualified XML name, kErrFail when this is not an element.
  uint32_t SetAttribute(std::string_view qualifiedName, std::string_view value) const;
  // Removes the attribute of that name from this element; kOk also when
  // there was none. Nodes that referred to the attribute become stale.
  uint32_t RemoveAttribute(std::string_view qualifiedName) const;

  // XPath 1.0 relative to this node. Names with a prefix match the
  // qualified name literally ("t:product" matches every element written
  // t:product, whatever URI the document binds to t). Put values into a
  // predicate with XPathLiteral (XPathLiteral.h). SelectSingleNode gives the
  // first match in document order or null; SelectNodes all matches in
  // document order. A malformed expression, or one that is not a node set,
  // gives null / an empty list and *hr = kErrXPath.
  Node SelectSingleNode(std::string_view xpath, uint32_t* hr = nullptr) const;
  // The first child element named `name` (qualified, literally) whose
  // attributes have the given values (compared as ToDocumentText stores
  // them): what SelectSingleNode("name[@a='..' and @b='..']") finds. An index
  // kept with the document answers it, so that a container of thousands of
  // entries is not scanned for every lookup; put the attribute that tells
  // the entries apart best first. Null without attributes.
  Node FindChild(std::string_view name, std::initializer_list<AttributeMatch> attributes) const;
  NodeList SelectNodes(std::string_view xpath, uint32_t* hr = nullptr) const;

  friend bool operator==(const Node& a, const Node& b);
  friend bool operator!=(const Node& a, const Node& b) { return !(a == b); }

 protected:
  friend struct detail::Access;
  pugi::xml_node_struct* Native() const;
  std::shared_ptr<detail::Tree> TreeRef() const;

  std::shared_ptr<detail::DocState> state_;
  std::shared_ptr<detail::Tree> tree_;            // unused for a Document: it follows its loads
  pugi::xml_node_struct* node_ = nullptr;         // the node, or an attribute's element
  pugi::xml_attribute_struct* attribute_ = nullptr;
  bool isDocument_ = false;
};

// Nodes in order: query results, children, attributes. Item past the end is
// null; NextNode walks the list once and then yields null.
class NodeList {
 public:
  NodeList() = default;
  size_t Length() const { return refs_.size(); }
  bool Empty() const { return refs_.empty(); }
  Node Item(size_t index) const;
  Node NextNode();
  void Reset() { cursor_ = 0; }

  class Iterator {
   public:
    Iterator(const NodeList* list, size_t index) : list_(list), index_(index) {}
    Node operator*() const { return list_->Item(index_); }
    Iterator& operator++() {
      ++index_;
      return *this;
    }
    bool operator!=(const Iterator& other) const { return index_ != other.index_; }

   private:
    const NodeList* list_;
    size_t index_;
  };
  Iterator begin() const { return Iterator(this, 0); }
  Iterator end() const { return Iterator(this, refs_.size()); }

 private:
  friend struct detail::Access;
  struct Ref {
    pugi::xml_node_struct* node;
    pugi::xml_attribute_struct* attribute;
  };
  std::shared_ptr<detail::DocState> state_;
  std::shared_ptr<detail::Tree> tree_;
  std::vector<Ref> refs_;
  size_t cursor_ = 0;
};

// A document. Copies share one document, as references to it do.
class Document : public Node {
 public:
  Document() = default;  // null
  // A new empty document.
  static Document Create();

  // Replace the content with a file (a Windows path, read through the
  // platform's file service) or with text. UTF-8 and UTF-16 (with or without
  // byte-order mark) are recognised, and the 8-bit encodings
  // windows-1252, ISO-8859-1 and US-ASCII when the declaration names them.
  // On failure the document is left empty and GetParseError tells why.
  bool Load(std::string_view windowsPath) const;
  bool LoadXml(std::string_view text) const;
  // What the last Load or LoadXml found (errorCode 0 after a success).
  ParseError GetParseError() const;

  // Writes the document to a Windows path in the encoding its declaration
  // names (UTF-8 without byte-order mark when there is none), replacing the
  // file atomically. 0, HResultFromWin32(file error), kXmlErrBadEncoding
  // for a character the encoding cannot hold, kXmlErrUnsupportedEncoding,
  // or the parser's code when the text would not load again (no document
  // element, a prefix nothing declares); the file is then left as it was.
  uint32_t Save(std::string_view windowsPath) const;

  Node DocumentElement() const;
  // A new element of that qualified name ("t:Product"; no namespace is bound
  // by this), not yet in the tree. kErrInvalidArg for an invalid name.
  Node CreateElement(std::string_view qualifiedName, uint32_t* hr = nullptr) const;
  // A new processing instruction, its data stored as ToDocumentText makes
  // it. Target "xml" gives the XML declaration: the data holds version, then
  // optionally encoding and standalone; anything else is
  // kXmlErrUnexpectedAttribute. kErrInvalidArg for a target that is not a
  // name and for data holding "?>".
  Node CreateProcessingInstruction(std::string_view target, std::string_view data,
                                   uint32_t* hr = nullptr) const;

  // True when the document's Xml text is known to parse back into content
  // that gives the same text: after Load or LoadXml, and after changes
  // that keep it (ordinary attributes, new elements whose prefixes are
  // bound, removals that join no text; see ReadBack.cpp). Work that would go
  // through the text can then use the document as it is.
  bool ReadsBackAsItIs() const;
  // Changes with the content: every load and every change gives a number
  // no content of any document had before (0 for a null document). Equal
  // versions mean the content was not touched in between.
  uint64_t Version() const;
  // The Xml text the document would have with `omitted` (one of its nodes)
  // removed; the document itself is not changed.
  std::string XmlWithout(const Node& omitted) const;

  // The schemas Validate checks against (see Schema.h).
  void SetSchemas(const SchemaCache& schemas) const;
  // Checks the document element against the schema added for its namespace.
  // errorCode 0 when valid; otherwise the first violation with the line and
  // position of the element where the document was loaded from text.
  ParseError Validate() const;
  // The same against `schemas`, leaving the document's own schemas as they are.
  ParseError Validate(const SchemaCache& schemas) const;

 private:
  friend struct detail::Access;
};

}  // namespace xml
