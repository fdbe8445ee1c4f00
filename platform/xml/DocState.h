// Internal to the XML component: the pugixml tree behind the handles, the
// conventions that turn pugixml's tree into the DOM the program expects,
// and the door through which the component's modules reach a handle's
// inside. Not for use outside platform/xml/.
#pragma once

#include <pugixml.hpp>

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <tuple>
#include <unordered_map>
#include <vector>

#include "platform/xml/Dom.h"
#include "platform/xml/Schema.h"
#include "platform/xml/Serializer.h"

namespace xml::detail {

// One parsed or built tree. Two conventions live in it:
// - A whitespace-only text run that is hidden from the DOM is kept as a text
//   node with an empty value (the "whitespace marker"): parsing never makes
//   empty text, so the marker cannot be confused with content, and its
//   characters do not matter because the serializer writes its own.
// - Nodes outside the tree (created and not yet appended, or removed) live
//   under the "orphanage": an element with an empty name, kept as the last
//   top-level node. pugixml frees a removed subtree recursively, so parking
//   it also keeps deep subtrees safe and handles to them valid.
// The child elements of one parent with one name, by the value of one
// attribute (Node::FindChild). Entries are candidates: an element removed,
// moved away or given another value since stays listed and is checked at
// each lookup. Every way an element can come to match adds it: appending
// it to the parent, and setting the attribute.
struct ChildIndex {
  std::unordered_map<std::string, std::vector<pugi::xml_node_struct*>> byValue;
};
// (parent, element name, attribute name)
using ChildIndexKey = std::tuple<pugi::xml_node_struct*, std::string, std::string>;

// A number no state of any tree had before: every new tree and every
// change of one takes the next (Document::Version).
uint64_t NextTreeVersion();

struct Tree {
  pugi::xml_document doc;
  uint64_t version = NextTreeVersion();
  std::map<ChildIndexKey, ChildIndex> childIndexes;
  // Byte offsets at which each line of the parsed text starts (for the
  // positions Validate reports); empty for a tree built in memory.
  std::vector<size_t> lineStarts;
  // The tree's Xml text parses back into nodes that give that text again:
  // true after a parse, kept by the changes ReadBack.cpp lets through (see
  // Document::ReadsBackAsItIs).
  bool readsBack = false;
  // What the last Save wrote; every change is noted in it (NoteChange).
  SaveMemo saved;
};

struct DocState {
  std::shared_ptr<Tree> current = std::make_shared<Tree>();
  ParseError parseError;
  SchemaCache schemas;
};

// Keep the child indexes of `tree` complete after `element` was appended to
// its parent, or its attribute `attribute` was set.
void IndexAppendedChild(Tree& tree, pugi::xml_node element);
void IndexSetAttribute(Tree& tree, pugi::xml_node element, std::string_view attribute);

// Notes a change of `tree`'s content: it has a new version, and its text
// still reads back only when `keepsReadBack` says the change allows it.
void MarkChanged(Tree& tree, bool keepsReadBack = false);

// Whether a change keeps `tree`'s text reading back (ReadBack.cpp): setting
// or removing the attribute `name` of `element`, appending `subtree` (new to
// the document) below `parent`, removing `child` from its parent. False at
// once for a tree that does not read back, so built documents pay nothing.
bool AttributeChangeKeepsReadBack(const Tree& tree, pugi::xml_node element, std::string_view name);
bool AppendKeepsReadBack(const Tree& tree, pugi::xml_node parent, pugi::xml_node subtree);
bool RemovalKeepsReadBack(const Tree& tree, pugi::xml_node child);

bool IsWhitespaceMarker(pugi::xml_node node);
bool IsOrphanage(pugi::xml_node node);
// What the DOM shows: neither markers nor the orphanage.
bool IsVisible(pugi::xml_node node);
// The orphanage of `tree`, made on first use.
pugi::xml_node Orphanage(Tree& tree);
// Number of element ancestors (the document element is at level 0).
int NestingLevel(pugi::xml_node node);
// The top-level node (a child of the document node) that holds `node`, or
// null for the document node itself.
pugi::xml_node TopLevelAncestor(pugi::xml_node node);
bool IsXmlWhitespace(char c);
bool IsAllXmlWhitespace(std::string_view s);

// Reaches into handles for the component's own modules.
struct Access {
  static Node MakeNode(const std::shared_ptr<DocState>& state, const std::shared_ptr<Tree>& tree,
                       pugi::xml_node node, pugi::xml_attribute attribute = {});
  static Document MakeDocument(const std::shared_ptr<DocState>& state);
  static NodeList MakeList(const std::shared_ptr<DocState>& state, const std::shared_ptr<Tree>& tree);
  static void Push(NodeList& list, pugi::xml_node node, pugi::xml_attribute attribute = {});
  static pugi::xml_node NativeNode(const Node& node);  // an attribute's element for an attribute
  static pugi::xml_attribute NativeAttribute(const Node& node);
  static std::shared_ptr<Tree> TreeOf(const Node& node) { return node.TreeRef(); }
  static const std::shared_ptr<DocState>& StateOf(const Node& node) { return node.state_; }
  static const std::shared_ptr<SchemaSet>& SetOf(const SchemaCache& cache) { return cache.set_; }
};

}  // namespace xml::detail
