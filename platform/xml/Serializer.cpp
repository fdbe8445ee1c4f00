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

// The document element, its unchanged branches copied from `memo`.
void AppendDocumentElement(SaveText& out, const Walk& walk, pugi::xml_node root, const SaveMemo& memo) {
  const size_t open = out.text.size();
  if (!AppendStart(out.text, walk, root, 0, XmlMode::kSave)) return;
  out.rootStartTag = out.text.substr(open);
  for (pugi::xml_node child = walk.FirstChild(root); child; child = walk.Next(child)) {
    const size_t start = out.text.size();
    const bool element = child.type() == pugi::node_element;
    const auto kept = memo.valid && element && !memo.changed.count(child.internal_object())
                          ? memo.branches.find(child.internal_object())
                          : memo.branches.end();
    if (kept != memo.branches.end()) {
      out.text.append(memo.text, kept->second.first, kept->second.second);
    } else {
      AppendSubtree(out.text, walk, child, 1, XmlMode::kSave);
      if (element) out.writtenAnew.push_back(child);
    }
    if (element) out.next.branches.emplace(child.internal_object(), std::make_pair(start, out.text.size() - start));
  }
  const size_t close = out.text.size();
  AppendEnd(out.text, root);
  out.rootEndTag = out.text.substr(close);
}

}  // namespace

void NoteChange(SaveMemo& memo, pugi::xml_node node) {
  if (!memo.valid) return;
  pugi::xml_node branch;  // the node below the top-level one on the way up
  for (pugi::xml_node n = node; n; branch = n, n = n.parent()) {
    if (n.parent().type() != pugi::node_document) continue;
    if (IsOrphanage(n)) return;  // not part of the document (yet)
    if (!branch) break;          // a top-level node itself
    memo.changed.insert(branch.internal_object());
    return;
  }
  memo.valid = false;
}

SaveText SerializeForSave(pugi::xml_node document, const SaveMemo& memo) {
  SaveText out;
  out.text.reserve(memo.text.size() + memo.text.size() / 16);
  out.next.branches.reserve(memo.branches.size() + 1);
  const Walk walk{};
  for (pugi::xml_node child = walk.FirstChild(document); child; child = walk.Next(child)) {
    if (!IsVisible(child)) continue;
    if (child.type() == pugi::node_element) {
      AppendDocumentElement(out, walk, child, memo);
    } else {
      AppendSubtree(out.text, walk, child, 0, XmlMode::kSave);
    }
    out.text += kLineEnd;
  }
  return out;
}

std::string Serialize(pugi::xml_node node, XmlMode mode, pugi::xml_node omitted) {
  std::string out;
  if (node == omitted) return out;
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
