#include "platform/xml/Serializer.h"

#include <algorithm>
#include <array>
#include <string_view>

#include "platform/text/Text.h"
#include "platform/xml/DocState.h"

namespace xml::detail {

namespace {

constexpr std::string_view kLineEnd = "\r\n";

// What a character is written as, or null when it is written as it is.
using EscapeTable = std::array<const char*, 256>;

constexpr EscapeTable MakeTable(bool attribute) {
  EscapeTable table{};
  table['&'] = "&amp;";
  table['<'] = "&lt;";
  table['\r'] = "&#xD;";
  if (attribute) {
    table['"'] = "&quot;";
    table['\t'] = "&#x9;";
    table['\n'] = "&#xA;";
  } else {
    table['>'] = "&gt;";
  }
  return table;
}

constexpr EscapeTable kAttributeEscapes = MakeTable(true);
constexpr EscapeTable kTextEscapes = MakeTable(false);

// Appends runs of plain characters whole: documents are mostly plain text.
void AppendEscaped(std::string& out, std::string_view value, const EscapeTable& escapes) {
  size_t plain = 0;
  for (size_t i = 0; i < value.size(); ++i) {
    const char* escape = escapes[static_cast<unsigned char>(value[i])];
    if (!escape) continue;
    out.append(value.data() + plain, i - plain);
    out += escape;
    plain = i + 1;
  }
  out.append(value.data() + plain, value.size() - plain);
}

void AppendEscapedAttribute(std::string& out, std::string_view value) { AppendEscaped(out, value, kAttributeEscapes); }

void AppendEscapedText(std::string& out, std::string_view value) { AppendEscaped(out, value, kTextEscapes); }

void AppendAttribute(std::string& out, std::string_view name, std::string_view value) {
  out += name;
  out += "=\"";
  AppendEscapedAttribute(out, value);
  out += '"';
}

void AppendDeclaration(std::string& out, pugi::xml_node declaration, XmlMode mode) {
  out += "<?xml";
  for (pugi::xml_attribute a : declaration.attributes()) {
    // The Xml text is Unicode whatever the file was, so a byte encoding's
    // name would be wrong there; only UTF-16 (what the text is) stays.
    if (mode == XmlMode::kXmlText && std::string_view(a.name()) == "encoding" &&
        !text::EqualsNoCase(a.value(), "UTF-16")) {
      continue;
    }
    out += ' ';
    AppendAttribute(out, a.name(), a.value());
  }
  out += "?>";
}

// The tree as the serializer walks it: without the omitted node, if any,
// as if it had been removed.
struct Walk {
  pugi::xml_node omitted;

  pugi::xml_node Skip(pugi::xml_node n, pugi::xml_node (pugi::xml_node::*step)() const) const {
    return n && n == omitted ? (n.*step)() : n;
  }
  pugi::xml_node FirstChild(pugi::xml_node n) const { return Skip(n.first_child(), &pugi::xml_node::next_sibling); }
  pugi::xml_node Next(pugi::xml_node n) const { return Skip(n.next_sibling(), &pugi::xml_node::next_sibling); }
  pugi::xml_node Previous(pugi::xml_node n) const {
    return Skip(n.previous_sibling(), &pugi::xml_node::previous_sibling);
  }
};

// The line break and indentation that stand for a hidden whitespace run, or
// nothing when the run continues an earlier one. `level` is the run's own
// nesting level.
void AppendWhitespaceRun(std::string& out, const Walk& walk, pugi::xml_node marker, int level) {
  if (IsWhitespaceMarker(walk.Previous(marker))) return;
  pugi::xml_node following = walk.Next(marker);
  while (following && IsWhitespaceMarker(following)) following = walk.Next(following);
  const int tabs = std::min(following ? level : level - 1, kMaxIndentTabs);
  out += kLineEnd;
  if (tabs > 0) out.append(static_cast<size_t>(tabs), '\t');
}

// Writes what comes before a node's children (all of a node that has none).
// Returns whether the node has children to descend into.
bool AppendStart(std::string& out, const Walk& walk, pugi::xml_node node, int level, XmlMode mode) {
  switch (node.type()) {
    case pugi::node_element:
      out += '<';
      out += node.name();
      for (pugi::xml_attribute a : node.attributes()) {
        out += ' ';
        AppendAttribute(out, a.name(), a.value());
      }
      if (!walk.FirstChild(node)) {
        out += "/>";
        return false;
      }
      out += '>';
      return true;
    case pugi::node_pcdata:
      if (IsWhitespaceMarker(node)) {
        AppendWhitespaceRun(out, walk, node, level);
      } else {
        AppendEscapedText(out, node.value());
      }
      return false;
    case pugi::node_cdata:
      out += "<![CDATA[";
      out += node.value();
      out += "]]>";
      return false;
    case pugi::node_comment:
      out += "<!--";
      out += node.value();
      out += "-->";
      return false;
    case pugi::node_pi:
      out += "<?";
      out += node.name();
      if (*node.value()) {
        out += ' ';
        out += node.value();
      }
      out += "?>";
      return false;
    case pugi::node_declaration:
      AppendDeclaration(out, node, mode);
      return false;
    case pugi::node_doctype:
      out += "<!DOCTYPE ";
      out += node.value();
      out += '>';
      return false;
    default:
      return false;
  }
}

void AppendEnd(std::string& out, pugi::xml_node element) {
  out += "</";
  out += element.name();
  out += '>';
}

// Writes `top` and its subtree, walking by parent and sibling links.
void AppendSubtree(std::string& out, const Walk& walk, pugi::xml_node top, int level, XmlMode mode) {
  pugi::xml_node node = top;
  for (;;) {
    if (AppendStart(out, walk, node, level, mode)) {
      node = walk.FirstChild(node);
      ++level;
      continue;
    }
    while (node != top && !walk.Next(node)) {
      node = node.parent();
      --level;
      AppendEnd(out, node);
    }
    if (node == top) return;
    node = walk.Next(node);
  }
}

// Levels below the document element whose elements `SaveMemo` keeps.
constexpr int kMemoLevels = 2;

// A serialisation that copies what `memo` holds of elements unchanged since.
struct Reuse {
  const SaveMemo& memo;
  XmlMode mode;
  Walk walk;
  // The elements on the memo's levels that hold the omitted node: their
  // text in the memo has it.
  pugi::xml_node holdingOmitted[kMemoLevels];
  // Whether the places of the elements are recorded for the next save
  // (only a save's text is the next memo).
  bool recordsPlaces = false;

  Reuse(const SaveMemo& saved, XmlMode xmlMode, pugi::xml_node omitted) : memo(saved), mode(xmlMode), walk{omitted} {
    static_assert(kMemoLevels == 2, "the way up keeps the two levels below the document element");
    for (pugi::xml_node n = omitted; n && n.parent().type() != pugi::node_document; n = n.parent()) {
      holdingOmitted[1] = holdingOmitted[0];
      holdingOmitted[0] = n;
    }
  }
  bool IsReusable(pugi::xml_node element) const {
    return memo.valid && !memo.changed.count(element.internal_object()) &&
           std::find(std::begin(holdingOmitted), std::end(holdingOmitted), element) == std::end(holdingOmitted);
  }
};

void AppendChildren(SaveText& out, const Reuse& reuse, pugi::xml_node parent, int level, size_t oldParentStart,
                    size_t newParentStart);

constexpr size_t kNoPlace = std::string::npos;

// An element at `level` (1 or 2), copied from the memo when it and its
// subtree are unchanged since; a changed one has its unchanged children
// copied. The starts are those of its parent in the memo's text and in the
// new one (0 for a branch, whose places count from the text's start).
void AppendMemoized(SaveText& out, const Reuse& reuse, pugi::xml_node element, int level, size_t oldParentStart,
                    size_t newParentStart) {
  const SaveMemo& memo = reuse.memo;
  const size_t start = out.text.size();
  const auto old = oldParentStart == kNoPlace ? memo.places.end() : memo.places.find(element.internal_object());
  const size_t oldStart = old == memo.places.end() ? kNoPlace : oldParentStart + old->second.first;
  const bool copied = old != memo.places.end() && reuse.IsReusable(element);
  if (copied) {
    out.text.append(memo.text, oldStart, old->second.second);
  } else if (level < kMemoLevels) {
    if (AppendStart(out.text, reuse.walk, element, level, reuse.mode)) {
      AppendChildren(out, reuse, element, level + 1, oldStart, start);
      AppendEnd(out.text, element);
    }
  } else {
    AppendSubtree(out.text, reuse.walk, element, level, reuse.mode);
  }
  const Place place(start - newParentStart, out.text.size() - start);
  if (reuse.recordsPlaces && !(copied && old->second == place)) {
    out.newPlaces.emplace_back(element.internal_object(), place);
  }
  if (level == 1 && !copied) out.writtenAnew.push_back(place);
}

void AppendChildren(SaveText& out, const Reuse& reuse, pugi::xml_node parent, int level, size_t oldParentStart,
                    size_t newParentStart) {
  for (pugi::xml_node child = reuse.walk.FirstChild(parent); child; child = reuse.walk.Next(child)) {
    if (child.type() == pugi::node_element) {
      AppendMemoized(out, reuse, child, level, oldParentStart, newParentStart);
    } else {
      AppendSubtree(out.text, reuse.walk, child, level, reuse.mode);
    }
  }
}

// The document element, its unchanged parts copied from the memo.
void AppendDocumentElement(SaveText& out, const Reuse& reuse, pugi::xml_node root) {
  const size_t open = out.text.size();
  if (!AppendStart(out.text, reuse.walk, root, 0, reuse.mode)) return;
  out.rootStartTag = out.text.substr(open);
  // Branches count from the start of the text; with no memo, nothing is copied.
  AppendChildren(out, reuse, root, 1, reuse.memo.valid ? 0 : kNoPlace, 0);
  const size_t close = out.text.size();
  AppendEnd(out.text, root);
  out.rootEndTag = out.text.substr(close);
}

SaveText SerializeReusing(pugi::xml_node document, const Reuse& reuse) {
  SaveText out;
  out.text.reserve(reuse.memo.text.size() + reuse.memo.text.size() / 16);
  for (pugi::xml_node child = reuse.walk.FirstChild(document); child; child = reuse.walk.Next(child)) {
    if (!IsVisible(child)) continue;
    if (child.type() == pugi::node_element) {
      AppendDocumentElement(out, reuse, child);
    } else {
      AppendSubtree(out.text, reuse.walk, child, 0, reuse.mode);
    }
    out.text += kLineEnd;
  }
  return out;
}

}  // namespace

void NoteChange(SaveMemo& memo, pugi::xml_node node) {
  static_assert(kMemoLevels == 2, "the way up keeps the two levels below the document element");
  if (!memo.valid) return;
  pugi::xml_node top = node, branch, belowBranch;  // the last three nodes on the way up
  while (top && top.parent().type() != pugi::node_document) {
    belowBranch = branch;
    branch = top;
    top = top.parent();
  }
  if (IsOrphanage(top)) return;  // not part of the document (yet)
  if (!branch) {
    memo.valid = false;  // a top-level node itself, or a node of no tree
    return;
  }
  memo.changed.insert(branch.internal_object());
  if (belowBranch) memo.changed.insert(belowBranch.internal_object());
}

SaveText SerializeForSave(pugi::xml_node document, const SaveMemo& memo) {
  Reuse reuse(memo, XmlMode::kSave, {});
  reuse.recordsPlaces = true;
  return SerializeReusing(document, reuse);
}

void CommitSave(SaveMemo& memo, SaveText&& save) {
  // Without a valid memo every place is new; old ones may name nodes of an
  // earlier content.
  if (!memo.valid) memo.places.clear();
  for (const auto& [element, place] : save.newPlaces) memo.places[element] = place;
  memo.text = std::move(save.text);
  memo.changed.clear();
  memo.valid = true;
}

std::string Serialize(pugi::xml_node node, XmlMode mode, pugi::xml_node omitted, const SaveMemo* memo) {
  std::string out;
  if (node == omitted) return out;
  if (memo && memo->valid && node.type() == pugi::node_document) {
    return SerializeReusing(node, Reuse(*memo, mode, omitted)).text;
  }
  const Walk walk{omitted};
  if (node.type() != pugi::node_document) {
    AppendSubtree(out, walk, node, NestingLevel(node), mode);
    return out;
  }
  for (pugi::xml_node child = walk.FirstChild(node); child; child = walk.Next(child)) {
    if (!IsVisible(child)) continue;
    AppendSubtree(out, walk, child, 0, mode);
    out += kLineEnd;
  }
  return out;
}

std::string SerializeAttribute(pugi::xml_attribute attribute) {
  std::string out;
  AppendAttribute(out, attribute.name(), attribute.value());
  return out;
}

}  // namespace xml::detail
