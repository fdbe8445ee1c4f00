// Internal to the XML component: the one serializer of documents and nodes.
// Its output is both a node's Xml text (which the checksum hashes) and what
// Document::Save writes, so every rule below is fixed by golden tests.
//
// Rules:
// - A whitespace-only text run that the DOM hides is not written as it was:
//   it becomes CR LF followed by one tab per nesting level of the node that
//   follows it (the document element is level 0, its children level 1; when
//   the run is the last child, the node that follows is its parent's end
//   tag). Adjacent runs (left beside each other by a removal) count as one.
//   Indentation stops growing at kMaxIndentTabs tabs, so that a small but
//   deeply nested document cannot turn into gigabytes of tabs.
//   Where the source had no whitespace, and around nodes the program
//   created, nothing is added. Whitespace kept by xml:space="preserve" is
//   ordinary text and written as it is.
// - A document writes each top-level node followed by CR LF, the last one
//   included; whitespace between top-level nodes is not kept.
// - An element without children is written "<a b="c"/>": no space before
//   "/>", whatever the source had.
// - Attribute values are written in double quotes with & < " escaped as
//   &amp; &lt; &quot;, and tab, line feed and carriage return as &#x9;
//   &#xA; &#xD; (written as they are they would read back as spaces).
//   '>' and the apostrophe are written as they are.
// - Text escapes & < > as &amp; &lt; &gt;, and a carriage return as &#xD;
//   (a raw one would read back as a line feed); every other character,
//   non-ASCII included, is written as it is. CDATA sections, comments and
//   processing instructions are written verbatim.
// - The XML declaration is written with double quotes, its pseudo-attributes
//   in their order. In Xml text the encoding pseudo-attribute is left out
//   unless it names UTF-16 (any letter case); standalone is kept. Save
//   (kSave) keeps the encoding too.
// - The serialisation never recurses per nesting level.
#pragma once

#include <pugixml.hpp>

#include <string>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

namespace xml::detail {

constexpr int kMaxIndentTabs = 128;

enum class XmlMode {
  kXmlText,  // the Xml text of a node or document
  kSave,     // what Save writes, before encoding
};

struct SaveMemo;

// The document node, or any other node (an attribute is written name="value").
// `omitted`, a node inside it, is left out as if it had been removed (its
// neighbouring whitespace runs then count as one). The text of a document
// node copies what `memo`, when given, holds of its unchanged elements.
std::string Serialize(pugi::xml_node node, XmlMode mode, pugi::xml_node omitted = {},
                      const SaveMemo* memo = nullptr);
std::string SerializeAttribute(pugi::xml_attribute attribute);

// What the last Save of a tree wrote, so that the next Save writes anew only
// what changed since: a document kept between saves (the history, the
// repository) grows by a few elements each time. Text is reused per
// element on the first two levels below the document element (a "branch"
// and its children: the history's setups and their products), whose text
// depends on its own subtree and level alone. A changed element is on the
// way from a change up to the document element.
//
// A branch's place counts from the start of the text, a place on the
// second level from the start of its branch, so that a branch copied whole
// keeps its children's places as they are.
using Place = std::pair<size_t, size_t>;  // offset, length
struct SaveMemo {
  std::string text;  // the last Save text; it parses
  std::unordered_map<const pugi::xml_node_struct*, Place> places;
  std::unordered_set<const pugi::xml_node_struct*> changed;  // elements on both levels changed since
  bool valid = false;  // false: nothing may be reused, and `text` is no verified baseline
};

// Records a change to `node`: its attributes or its children, or `node`
// itself newly placed there. A change at the top level or to the document
// element itself makes the memo invalid.
void NoteChange(SaveMemo& memo, pugi::xml_node node);

// The Save text of the document node `document`, the same as Serialize
// gives, copying from `memo` what it holds of elements unchanged since.
struct SaveText {
  std::string text;
  // The places that differ from the memo's, for CommitSave.
  std::vector<std::pair<const pugi::xml_node_struct*, Place>> newPlaces;
  // The branches serialised again, and where they are in `text`.
  std::vector<Place> writtenAnew;
  // The document element's start and end tags as written; empty when it has no children.
  std::string rootStartTag, rootEndTag;
};
SaveText SerializeForSave(pugi::xml_node document, const SaveMemo& memo);

// Makes `memo` describe `save`, once its text was written: the next Save
// of the tree then copies from it.
void CommitSave(SaveMemo& memo, SaveText&& save);

}  // namespace xml::detail
