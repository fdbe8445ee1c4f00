// Which changes keep a tree's Xml text reading back as it is (Tree::readsBack).
//
// A parsed tree reads back: its text parses into nodes that give the same
// text again. The changes let through here keep that, so that work which
// would otherwise read the text back (a checksum, the check that a saved
// file loads) can use the tree itself. Everything else loses it: changes at
// the top level, moves within the document, namespace declarations,
// xml:space, text.
//
// Values need no check: what enters the DOM is XML-safe (ToDocumentText) and
// the serializer escapes what the parser would normalise. Structure does: a
// prefix nothing binds does not parse, and a hidden whitespace run that
// comes to stand next to text reads back as part of one text node.
#include "platform/xml/DocState.h"
#include "platform/xml/Parser.h"

namespace xml::detail {

namespace {

// Attributes that change how the names or the whitespace below them parse.
bool ChangesParsing(std::string_view name) {
  return name == "xmlns" || name.substr(0, 6) == "xmlns:" || name == "xml:space";
}

// Whether the parser finds `prefix` declared at `element` (as it does, by
// the attribute's presence on the element or an ancestor).
bool IsBound(pugi::xml_node element, std::string_view prefix) {
  if (prefix.empty() || prefix == "xml") return true;
  const std::string declaration = "xmlns:" + std::string(prefix);
  for (pugi::xml_node n = element; n.type() == pugi::node_element; n = n.parent()) {
    if (n.attribute(declaration.c_str())) return true;
  }
  return false;
}

// A node being built in the orphanage is no part of the document's text.
bool OutsideDocument(pugi::xml_node node) { return IsOrphanage(TopLevelAncestor(node)); }

// Elements and ordinary attributes only, every prefix bound at `parent`.
bool IsPlainElementTree(pugi::xml_node parent, pugi::xml_node top) {
  pugi::xml_node node = top;
  for (;;) {
    if (node.type() != pugi::node_element || !IsBound(parent, PrefixOf(node.name()))) return false;
    for (pugi::xml_attribute a : node.attributes()) {
      if (ChangesParsing(a.name()) || !IsBound(parent, PrefixOf(a.name()))) return false;
    }
    if (node.first_child()) {
      node = node.first_child();
      continue;
    }
    while (node != top && !node.next_sibling()) node = node.parent();
    if (node == top) return true;
    node = node.next_sibling();
  }
}

}  // namespace

bool AttributeChangeKeepsReadBack(const Tree& tree, pugi::xml_node element, std::string_view name) {
  if (!tree.readsBack) return false;
  if (OutsideDocument(element)) return true;
  return !ChangesParsing(name) && IsBound(element, PrefixOf(name));
}

// `subtree` is where it is before the append: in this tree's orphanage,
// or in another tree (then a copy is appended).
bool AppendKeepsReadBack(const Tree& tree, pugi::xml_node parent, pugi::xml_node subtree) {
  if (!tree.readsBack) return false;
  const bool movedWithinDocument = parent.root() == subtree.root() && !OutsideDocument(subtree);
  if (movedWithinDocument) return false;
  if (OutsideDocument(parent)) return true;
  return parent.type() == pugi::node_element && IsPlainElementTree(parent, subtree);
}

bool RemovalKeepsReadBack(const Tree& tree, pugi::xml_node child) {
  if (!tree.readsBack) return false;
  if (OutsideDocument(child)) return true;
  if (child.parent().type() != pugi::node_element) return false;
  const pugi::xml_node before = child.previous_sibling();
  const pugi::xml_node after = child.next_sibling();
  const bool joinsText = before.type() == pugi::node_pcdata && after.type() == pugi::node_pcdata &&
                         IsWhitespaceMarker(before) != IsWhitespaceMarker(after);
  return !joinsText;
}

}  // namespace xml::detail
