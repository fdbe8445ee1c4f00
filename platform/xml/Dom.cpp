#include "platform/xml/Dom.h"

#include <atomic>
#include <memory>
#include <new>
#include <string>
#include <unordered_map>

#include "platform/Platform.h"
#include "platform/WinError.h"
#include "platform/text/Text.h"
#include "platform/xml/DocState.h"
#include "platform/xml/Encoding.h"
#include "platform/xml/Parser.h"
#include "platform/xml/Serializer.h"

namespace xml {

namespace detail {

bool IsXmlWhitespace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

bool IsAllXmlWhitespace(std::string_view s) {
  for (char c : s) {
    if (!IsXmlWhitespace(c)) return false;
  }
  return true;
}

bool IsWhitespaceMarker(pugi::xml_node node) { return node.type() == pugi::node_pcdata && *node.value() == 0; }

uint64_t NextTreeVersion() {
  static std::atomic<uint64_t> last{0};
  return ++last;
}

void MarkChanged(Tree& tree, bool keepsReadBack) {
  tree.readsBack = tree.readsBack && keepsReadBack;
  tree.version = NextTreeVersion();
}

bool IsOrphanage(pugi::xml_node node) {
  return node.type() == pugi::node_element && *node.name() == 0 && node.parent().type() == pugi::node_document;
}

bool IsVisible(pugi::xml_node node) { return node && !IsWhitespaceMarker(node) && !IsOrphanage(node); }

pugi::xml_node Orphanage(Tree& tree) {
  pugi::xml_node last = tree.doc.last_child();
  if (IsOrphanage(last)) return last;
  return tree.doc.append_child(pugi::node_element);
}

int NestingLevel(pugi::xml_node node) {
  int level = 0;
  for (pugi::xml_node p = node.parent(); p; p = p.parent()) {
    if (p.type() == pugi::node_element && *p.name()) ++level;
  }
  return level;
}

pugi::xml_node TopLevelAncestor(pugi::xml_node node) {
  if (!node || node.type() == pugi::node_document) return {};
  while (node.parent() && node.parent().type() != pugi::node_document) node = node.parent();
  return node;
}

Node Access::MakeNode(const std::shared_ptr<DocState>& state, const std::shared_ptr<Tree>& tree,
                      pugi::xml_node node, pugi::xml_attribute attribute) {
  Node made;
  if (!node) return made;
  made.state_ = state;
  made.tree_ = tree;
  made.node_ = node.internal_object();
  made.attribute_ = attribute.internal_object();
  return made;
}

Document Access::MakeDocument(const std::shared_ptr<DocState>& state) {
  Document made;
  made.state_ = state;
  made.isDocument_ = true;
  return made;
}

NodeList Access::MakeList(const std::shared_ptr<DocState>& state, const std::shared_ptr<Tree>& tree) {
  NodeList list;
  list.state_ = state;
  list.tree_ = tree;
  return list;
}

void Access::Push(NodeList& list, pugi::xml_node node, pugi::xml_attribute attribute) {
  list.refs_.push_back({node.internal_object(), attribute.internal_object()});
}

pugi::xml_node Access::NativeNode(const Node& node) { return pugi::xml_node(node.Native()); }

pugi::xml_attribute Access::NativeAttribute(const Node& node) { return pugi::xml_attribute(node.attribute_); }

}  // namespace detail

using detail::Access;

std::string ToDocumentText(std::string_view text) {
  if (detail::IsXmlText(text)) return std::string(text);
  constexpr char32_t kReplacement = 0xFFFD;
  std::string out;
  out.reserve(text.size() + 8);
  for (size_t pos = 0; pos < text.size();) {
    const char32_t cp = text::NextCodePoint(text, pos);  // U+FFFD for each malformed byte
    text::AppendUtf8(out, detail::IsXmlChar(cp) ? cp : kReplacement);
  }
  return out;
}

namespace {

constexpr size_t kMaxDocumentBytes = size_t{1} << 30;

void SetResult(uint32_t* hr, uint32_t code) {
  if (hr) *hr = code;
}

std::string_view LocalPart(std::string_view qualifiedName) {
  const size_t colon = qualifiedName.find(':');
  return colon == std::string_view::npos ? qualifiedName : qualifiedName.substr(colon + 1);
}

std::string Trim(std::string_view s) {
  size_t begin = 0, end = s.size();
  while (begin < end && detail::IsXmlWhitespace(s[begin])) ++begin;
  while (end > begin && detail::IsXmlWhitespace(s[end - 1])) --end;
  return std::string(s.substr(begin, end - begin));
}

// Whether the nearest xml:space on the node or its ancestors says "preserve".
bool InPreserveScope(pugi::xml_node node) {
  for (pugi::xml_node e = node; e; e = e.parent()) {
    if (e.type() != pugi::node_element) continue;
    if (pugi::xml_attribute space = e.attribute("xml:space")) return std::string_view(space.value()) == "preserve";
  }
  return false;
}

// The data of a declaration as its pseudo-attributes read.
std::string DeclarationData(pugi::xml_node declaration) {
  std::string data;
  for (pugi::xml_attribute a : declaration.attributes()) {
    if (!data.empty()) data += ' ';
    data += detail::SerializeAttribute(a);
  }
  return data;
}

// Text and CDATA of a subtree in document order, walking by links; nodes
// outside the tree do not count.
std::string DescendantText(pugi::xml_node top) {
  std::string out;
  pugi::xml_node node = top.first_child();
  while (node) {
    if (node.type() == pugi::node_pcdata || node.type() == pugi::node_cdata) out += node.value();
    if (node.first_child() && !detail::IsOrphanage(node)) {
      node = node.first_child();
      continue;
    }
    while (node != top && !node.next_sibling()) node = node.parent();
    if (node == top) break;
    node = node.next_sibling();
  }
  return out;
}

pugi::xml_node NextVisible(pugi::xml_node node) {
  while (node && !detail::IsVisible(node)) node = node.next_sibling();
  return node;
}

pugi::xml_node PreviousVisible(pugi::xml_node node) {
  while (node && !detail::IsVisible(node)) node = node.previous_sibling();
  return node;
}

bool IsContainer(pugi::xml_node node) {
  return node.type() == pugi::node_element || node.type() == pugi::node_document;
}

// The document allows one element, no text, the declaration only first and
// one DOCTYPE before the element, so that its text always loads again.
uint32_t CheckTopLevelInsert(pugi::xml_node document, pugi::xml_node child) {
  const pugi::xml_node_type type = child.type();
  if (type == pugi::node_pcdata || type == pugi::node_cdata) return kErrFail;
  for (pugi::xml_node n = NextVisible(document.first_child()); n; n = NextVisible(n.next_sibling())) {
    if (n == child) continue;
    if (type == pugi::node_declaration) return kErrFail;
    if (type == pugi::node_element && n.type() == pugi::node_element) return kErrFail;
    if (type == pugi::node_doctype && (n.type() == pugi::node_element || n.type() == pugi::node_doctype)) {
      return kErrFail;
    }
  }
  return kOk;
}

ParseError FileError(uint32_t win32) {
  if (win32 == winerr::kFileNotFound || win32 == winerr::kPathNotFound) {
    return MakeParseError(kErrObjectNotFound, "The system cannot locate the object specified.");
  }
  return MakeParseError(HResultFromWin32(win32), text::Format("The file could not be read (error %u).", win32));
}

bool ReadDocumentFile(std::string_view path, std::string* bytes, ParseError* error) {
  std::unique_ptr<plat::IFileStream> stream;
  if (uint32_t rc = plat::Current().Files().OpenStream(path, plat::OpenMode::kRead, &stream)) {
    *error = FileError(rc);
    return false;
  }
  // Refuse before reading: a huge file would only exhaust memory.
  const uint64_t size = stream->Size();
  if (size > kMaxDocumentBytes) {
    *error = MakeParseError(kXmlErrFileTooLarge, "The file is too large to be loaded.");
    return false;
  }
  bytes->clear();
  bytes->reserve(static_cast<size_t>(size));
  char buffer[65536];
  for (;;) {
    size_t got = 0;
    if (uint32_t rc = stream->Read(buffer, sizeof buffer, &got)) {
      *error = FileError(rc);
      return false;
    }
    if (got == 0) return true;
    if (bytes->size() + got > kMaxDocumentBytes) {
      *error = MakeParseError(kXmlErrFileTooLarge, "The file is too large to be loaded.");
      return false;
    }
    bytes->append(buffer, got);
  }
}

bool LoadFileInto(std::string_view path, detail::Tree* tree, ParseError* error) {
  std::string utf8;
  {
    std::string bytes;
    if (!ReadDocumentFile(path, &bytes, error)) return false;
    if (!detail::DecodeDocumentBytes(bytes, &utf8, error)) return false;
  }
  return detail::ParseText(utf8, tree, error);
}

// Which results a query may give. From a node in the tree: everything but
// the orphanage, whose subtrees come last in document order. From a node
// outside the tree: its own detached subtree only.
class ResultFilter {
 public:
  explicit ResultFilter(pugi::xml_node context) {
    pugi::xml_node top = detail::TopLevelAncestor(context);
    if (top && detail::IsOrphanage(top)) {
      detached_ = context;
      while (detached_.parent() != top) detached_ = detached_.parent();
    } else {
      pugi::xml_node last = context.root().last_child();
      if (detail::IsOrphanage(last) && last.first_child()) orphanage_ = last;
    }
  }

  void Fill(const pugi::xpath_node_set& found, NodeList& list) const {
    size_t end = found.size();
    if (orphanage_) end = FirstInOrphanage(found);
    for (size_t i = 0; i < end; ++i) {
      const pugi::xpath_node& x = found[i];
      if (x.node() && detail::IsWhitespaceMarker(x.node())) continue;
      if (detached_ && !InDetached(NodeOf(x))) continue;
      Access::Push(list, x.node() ? x.node() : x.parent(), x.attribute());
    }
  }

 private:
  static pugi::xml_node NodeOf(const pugi::xpath_node& x) { return x.node() ? x.node() : x.parent(); }

  bool InOrphanage(const pugi::xpath_node& x) const { return detail::TopLevelAncestor(NodeOf(x)) == orphanage_; }

  // Results are in document order, so the orphanage's ones form a suffix.
  size_t FirstInOrphanage(const pugi::xpath_node_set& found) const {
    size_t low = 0, high = found.size();
    while (low < high) {
      const size_t mid = low + (high - low) / 2;
      if (InOrphanage(found[mid])) {
        high = mid;
      } else {
        low = mid + 1;
      }
    }
    return low;
  }

  bool InDetached(pugi::xml_node node) const {
    for (; node; node = node.parent()) {
      if (node == detached_) return true;
    }
    return false;
  }

  pugi::xml_node orphanage_;
  pugi::xml_node detached_;
};

}  // namespace

// ---- Node ------------------------------------------------------------------

pugi::xml_node_struct* Node::Native() const {
  if (isDocument_) return state_ ? state_->current->doc.internal_object() : nullptr;
  return node_;
}

std::shared_ptr<detail::Tree> Node::TreeRef() const {
  if (isDocument_) return state_ ? state_->current : nullptr;
  return tree_;
}

bool Node::IsNull() const { return Native() == nullptr; }

bool operator==(const Node& a, const Node& b) {
  return a.Native() == b.Native() && a.attribute_ == b.attribute_;
}

NodeType Node::Type() const {
  const pugi::xml_node n(Native());
  if (!n) return NodeType::kNull;
  if (attribute_) return NodeType::kAttribute;
  switch (n.type()) {
    case pugi::node_element: return NodeType::kElement;
    case pugi::node_pcdata: return NodeType::kText;
    case pugi::node_cdata: return NodeType::kCData;
    case pugi::node_pi:
    case pugi::node_declaration: return NodeType::kProcessingInstruction;
    case pugi::node_comment: return NodeType::kComment;
    case pugi::node_document: return NodeType::kDocument;
    case pugi::node_doctype: return NodeType::kDocumentType;
    default: return NodeType::kNull;
  }
}

std::string Node::NodeName() const {
  const pugi::xml_node n(Native());
  if (attribute_) return pugi::xml_attribute(attribute_).name();
  switch (n.type()) {
    case pugi::node_element:
    case pugi::node_pi: return n.name();
    case pugi::node_declaration: return "xml";
    case pugi::node_pcdata: return "#text";
    case pugi::node_cdata: return "#cdata-section";
    case pugi::node_comment: return "#comment";
    case pugi::node_document: return "#document";
    case pugi::node_doctype: {
      const std::string_view value = n.value();
      size_t end = 0;
      while (end < value.size() && !detail::IsXmlWhitespace(value[end]) && value[end] != '[') ++end;
      return std::string(value.substr(0, end));
    }
    default: return {};
  }
}

std::string Node::BaseName() const {
  const pugi::xml_node n(Native());
  if (attribute_) return std::string(LocalPart(pugi::xml_attribute(attribute_).name()));
  switch (n.type()) {
    case pugi::node_element: return std::string(LocalPart(n.name()));
    case pugi::node_pi: return n.name();
    case pugi::node_declaration: return "xml";
    default: return {};
  }
}

std::string Node::NodeValue() const {
  const pugi::xml_node n(Native());
  if (attribute_) return pugi::xml_attribute(attribute_).value();
  switch (n.type()) {
    case pugi::node_pcdata:
    case pugi::node_cdata:
    case pugi::node_comment:
    case pugi::node_pi: return n.value();
    case pugi::node_declaration: return DeclarationData(n);
    default: return {};
  }
}

std::string Node::Text() const {
  const pugi::xml_node n(Native());
  if (attribute_) return pugi::xml_attribute(attribute_).value();
  switch (n.type()) {
    case pugi::node_pcdata: return InPreserveScope(n.parent()) ? n.value() : Trim(n.value());
    case pugi::node_cdata:
    case pugi::node_comment:
    case pugi::node_pi: return n.value();
    case pugi::node_declaration: return DeclarationData(n);
    case pugi::node_element: {
      std::string all = DescendantText(n);
      return InPreserveScope(n) ? all : Trim(all);
    }
    case pugi::node_document: return Trim(DescendantText(n));
    default: return {};
  }
}

std::string Node::Xml() const {
  const pugi::xml_node n(Native());
  if (!n) return {};
  if (attribute_) return detail::SerializeAttribute(pugi::xml_attribute(attribute_));
  return detail::Serialize(n, detail::XmlMode::kXmlText);
}

Node Node::ParentNode() const {
  const pugi::xml_node n(Native());
  if (!n || attribute_) return {};
  const pugi::xml_node parent = n.parent();
  if (!parent || detail::IsOrphanage(parent)) return {};
  // Above the top level of a replaced content, or of a declaration not yet
  // in a document, there is no document to name.
  if (parent.type() == pugi::node_document && parent.internal_object() != state_->current->doc.internal_object()) {
    return {};
  }
  return Access::MakeNode(state_, TreeRef(), parent);
}

Document Node::OwnerDocument() const {
  if (IsNull() || Type() == NodeType::kDocument) return {};
  return Access::MakeDocument(state_);
}

Node Node::FirstChild() const {
  const pugi::xml_node n(Native());
  if (!n || attribute_) return {};
  return Access::MakeNode(state_, TreeRef(), NextVisible(n.first_child()));
}

Node Node::LastChild() const {
  const pugi::xml_node n(Native());
  if (!n || attribute_) return {};
  return Access::MakeNode(state_, TreeRef(), PreviousVisible(n.last_child()));
}

Node Node::NextSibling() const {
  const pugi::xml_node n(Native());
  if (!n || attribute_ || detail::IsOrphanage(n.parent())) return {};
  return Access::MakeNode(state_, TreeRef(), NextVisible(n.next_sibling()));
}

Node Node::PreviousSibling() const {
  const pugi::xml_node n(Native());
  if (!n || attribute_ || detail::IsOrphanage(n.parent())) return {};
  return Access::MakeNode(state_, TreeRef(), PreviousVisible(n.previous_sibling()));
}

bool Node::HasChildNodes() const { return !FirstChild().IsNull(); }

NodeList Node::ChildNodes() const {
  NodeList list = Access::MakeList(state_, TreeRef());
  const pugi::xml_node n(Native());
  if (!n || attribute_) return list;
  for (pugi::xml_node c = NextVisible(n.first_child()); c; c = NextVisible(c.next_sibling())) Access::Push(list, c);
  return list;
}

Node Node::AppendChild(const Node& child, uint32_t* hr) const {
  SetResult(hr, kOk);
  pugi::xml_node parent(Native());
  const pugi::xml_node moved(child.Native());
  if (!parent || !moved) {
    SetResult(hr, kErrInvalidArg);
    return {};
  }
  if (attribute_ || child.attribute_ || !IsContainer(parent) || moved.type() == pugi::node_document) {
    SetResult(hr, kErrFail);
    return {};
  }
  if (parent.type() == pugi::node_document) {
    if (uint32_t rc = CheckTopLevelInsert(parent, moved)) {
      SetResult(hr, rc);
      return {};
    }
  }
  // At the top level the orphanage stays last.
  pugi::xml_node before;
  if (parent.type() == pugi::node_document && detail::IsOrphanage(parent.last_child())) before = parent.last_child();
  pugi::xml_node result;
  detail::Tree& tree = *TreeRef();
  const bool keepsReadBack = detail::AppendKeepsReadBack(tree, parent, moved);
  if (parent.root() == moved.root()) {
    detail::NoteChange(tree.saved, moved.parent());
    result = before ? parent.insert_move_before(moved, before) : parent.append_move(moved);
  } else {
    result = before ? parent.insert_copy_before(moved, before) : parent.append_copy(moved);
  }
  if (!result) {
    SetResult(hr, kErrFail);  // a cycle, or a node pugixml does not allow there
    return {};
  }
  detail::MarkChanged(tree, keepsReadBack);
  detail::NoteChange(tree.saved, parent);
  detail::NoteChange(tree.saved, result);  // its text may be kept from another place
  detail::IndexAppendedChild(tree, result);
  return Access::MakeNode(state_, TreeRef(), result);
}

Node Node::RemoveChild(const Node& child, uint32_t* hr) const {
  SetResult(hr, kOk);
  const pugi::xml_node parent(Native());
  const pugi::xml_node removed(child.Native());
  if (!parent || !removed || attribute_ || child.attribute_ || removed.parent() != parent ||
      !detail::IsVisible(removed)) {
    SetResult(hr, kErrInvalidArg);
    return {};
  }
  detail::NoteChange(TreeRef()->saved, parent);
  const bool keepsReadBack = detail::RemovalKeepsReadBack(*TreeRef(), removed);
  const pugi::xml_node parked = detail::Orphanage(*TreeRef()).append_move(removed);
  if (!parked) {
    SetResult(hr, kErrFail);
    return {};
  }
  detail::MarkChanged(*TreeRef(), keepsReadBack);
  return Access::MakeNode(state_, TreeRef(), parked);
}

NodeList Node::Attributes() const {
  NodeList list = Access::MakeList(state_, TreeRef());
  const pugi::xml_node n(Native());
  if (!n || attribute_) return list;
  for (pugi::xml_attribute a : n.attributes()) Access::Push(list, n, a);
  return list;
}

Node Node::GetAttributeNode(std::string_view qualifiedName) const {
  const pugi::xml_node n(Native());
  if (!n || attribute_) return {};
  const pugi::xml_attribute a = n.attribute(std::string(qualifiedName).c_str());
  if (!a) return {};
  return Access::MakeNode(state_, TreeRef(), n, a);
}

bool Node::HasAttribute(std::string_view qualifiedName) const { return !GetAttributeNode(qualifiedName).IsNull(); }

std::string Node::GetAttribute(std::string_view qualifiedName) const {
  const pugi::xml_node n(Native());
  if (!n || attribute_) return {};
  return n.attribute(std::string(qualifiedName).c_str()).value();
}

uint32_t Node::SetAttribute(std::string_view qualifiedName, std::string_view value) const {
  pugi::xml_node n(Native());
  if (!n || attribute_ || n.type() != pugi::node_element) return kErrFail;
  if (!detail::IsQualifiedName(qualifiedName)) return kErrInvalidArg;
  const std::string name(qualifiedName);
  const std::string stored = ToDocumentText(value);
  pugi::xml_attribute a = n.attribute(name.c_str());
  detail::MarkChanged(*TreeRef(), detail::AttributeChangeKeepsReadBack(*TreeRef(), n, name));
  detail::NoteChange(TreeRef()->saved, n);
  if (!a) a = n.append_attribute(name.c_str());
  if (!a || !a.set_value(stored.data(), stored.size())) return kErrOutOfMemory;
  detail::IndexSetAttribute(*TreeRef(), n, name);
  return kOk;
}

uint32_t Node::RemoveAttribute(std::string_view qualifiedName) const {
  pugi::xml_node n(Native());
  if (!n || attribute_ || n.type() != pugi::node_element) return kErrFail;
  const std::string name(qualifiedName);
  if (n.attribute(name.c_str())) {
    detail::MarkChanged(*TreeRef(), detail::AttributeChangeKeepsReadBack(*TreeRef(), n, name));
    detail::NoteChange(TreeRef()->saved, n);
    n.remove_attribute(name.c_str());
  }
  return kOk;
}

Node Node::SelectSingleNode(std::string_view xpath, uint32_t* hr) const {
  return SelectNodes(xpath, hr).Item(0);
}

namespace {

// The same few expressions are evaluated for every feature of every file:
// each is compiled once. Expressions that embed values vary without end,
// so the table starts afresh when it is full.
const pugi::xpath_query& CompiledQuery(std::string_view xpath) {
  constexpr size_t kMaxKept = 512;
  thread_local std::unordered_map<std::string, std::unique_ptr<pugi::xpath_query>> compiled;
  const std::string key(xpath);
  if (const auto found = compiled.find(key); found != compiled.end()) return *found->second;
  auto query = std::make_unique<pugi::xpath_query>(key.c_str());  // throws for a bad expression
  if (compiled.size() >= kMaxKept) compiled.clear();
  return *compiled.emplace(key, std::move(query)).first->second;
}

}  // namespace

NodeList Node::SelectNodes(std::string_view xpath, uint32_t* hr) const {
  SetResult(hr, kOk);
  NodeList list = Access::MakeList(state_, TreeRef());
  const pugi::xml_node n(Native());
  if (!n) {
    SetResult(hr, kErrInvalidArg);
    return list;
  }
  const pugi::xpath_node context =
      attribute_ ? pugi::xpath_node(pugi::xml_attribute(attribute_), n) : pugi::xpath_node(n);
  try {
    const pugi::xpath_query& query = CompiledQuery(xpath);
    if (query.return_type() != pugi::xpath_type_node_set) {
      SetResult(hr, kErrXPath);
      return list;
    }
    pugi::xpath_node_set found = query.evaluate_node_set(context);
    found.sort();
    ResultFilter(n).Fill(found, list);
  } catch (const pugi::xpath_exception&) {
    SetResult(hr, kErrXPath);
  } catch (const std::bad_alloc&) {
    SetResult(hr, kErrOutOfMemory);
  }
  return list;
}

// ---- NodeList --------------------------------------------------------------

Node NodeList::Item(size_t index) const {
  if (index >= refs_.size()) return {};
  const Ref& ref = refs_[index];
  return Access::MakeNode(state_, tree_, pugi::xml_node(ref.node), pugi::xml_attribute(ref.attribute));
}

Node NodeList::NextNode() {
  if (cursor_ >= refs_.size()) return {};
  return Item(cursor_++);
}

// ---- Document --------------------------------------------------------------

Document Document::Create() { return Access::MakeDocument(std::make_shared<detail::DocState>()); }

namespace {

// Replaces the content of `state` with what `parse` builds; an empty
// document and the error when it fails. Handles to the old content keep it.
template <typename ParseFunction>
bool ReplaceContent(detail::DocState& state, ParseFunction parse) {
  ParseError error;
  bool ok = false;
  auto tree = std::make_shared<detail::Tree>();
  try {
    ok = parse(tree.get(), &error);
  } catch (const std::bad_alloc&) {
    error = MakeParseError(kErrOutOfMemory, "Not enough memory to load the document.");
    ok = false;
  }
  state.current = ok ? tree : std::make_shared<detail::Tree>();
  state.parseError = ok ? ParseError() : error;
  return ok;
}

// Whether the serialised text of `tree` parses again: 0, or the parser's
// code. A tree that reads back is known to. For another one the text is
// read back: what enters a document is kept XML-safe, but the structure can
// still be one the parser refuses (no document element, a prefix nothing
// declares), and a saved file must always load.
uint32_t CheckLoadsAgain(const detail::Tree& tree, std::string_view text) {
  if (tree.readsBack) return kOk;
  detail::Tree readBack;
  ParseError error;
  return detail::ParseText(text, &readBack, &error) ? kOk : error.errorCode;
}

// Whether the text parses, known from the parts of it written anew alone:
// the rest was part of the last saved text, which parsed, and the top level
// and the document element's start tag have not changed since. Each branch
// written anew is read back inside that start tag, where its namespace
// prefixes are declared. False when this cannot tell.
bool BranchesLoadAgain(const detail::Tree& tree, const detail::SaveText& save) {
  if (!tree.saved.valid || save.rootStartTag.empty()) return false;
  for (const auto& [offset, length] : save.writtenAnew) {
    const std::string wrapped = save.rootStartTag + save.text.substr(offset, length) + save.rootEndTag;
    detail::Tree readBack;
    ParseError error;
    if (!detail::ParseText(wrapped, &readBack, &error)) return false;
  }
  return true;
}

}  // namespace

bool Document::Load(std::string_view windowsPath) const {
  if (!state_) return false;
  return ReplaceContent(*state_, [&](detail::Tree* tree, ParseError* error) {
    return LoadFileInto(windowsPath, tree, error);
  });
}

bool Document::LoadXml(std::string_view text) const {
  if (!state_) return false;
  if (text.substr(0, 3) == text::kUtf8Bom) text.remove_prefix(3);
  return ReplaceContent(*state_, [&](detail::Tree* tree, ParseError* error) {
    return detail::ParseText(text, tree, error);
  });
}

ParseError Document::GetParseError() const { return state_ ? state_->parseError : ParseError(); }

uint32_t Document::Save(std::string_view windowsPath) const {
  if (!state_) return kErrFail;
  try {
    const pugi::xml_node document(Native());
    detail::Tree& tree = *state_->current;
    detail::SaveText save = detail::SerializeForSave(document, tree.saved);
    if (!tree.readsBack && !BranchesLoadAgain(tree, save)) {
      if (uint32_t rc = CheckLoadsAgain(tree, save.text)) return rc;
    }
    std::string encoding;
    const pugi::xml_node first = NextVisible(document.first_child());
    if (first.type() == pugi::node_declaration) encoding = first.attribute("encoding").value();
    std::string bytes, reason;
    if (uint32_t rc = detail::EncodeForSave(save.text, encoding, &bytes, &reason)) return rc;
    // The text parses: the next Save may reuse it.
    detail::CommitSave(tree.saved, std::move(save));
    return HResultFromWin32(plat::WriteFileAtomically(plat::Current().Files(), windowsPath, bytes));
  } catch (const std::bad_alloc&) {
    return kErrOutOfMemory;
  }
}

Node Document::DocumentElement() const {
  const pugi::xml_node document(Native());
  for (pugi::xml_node n = NextVisible(document.first_child()); n; n = NextVisible(n.next_sibling())) {
    if (n.type() == pugi::node_element) return Access::MakeNode(state_, TreeRef(), n);
  }
  return {};
}

Node Document::CreateElement(std::string_view qualifiedName, uint32_t* hr) const {
  SetResult(hr, kOk);
  if (!state_ || !detail::IsQualifiedName(qualifiedName)) {
    SetResult(hr, kErrInvalidArg);
    return {};
  }
  const std::shared_ptr<detail::Tree> tree = TreeRef();
  pugi::xml_node element = detail::Orphanage(*tree).append_child(pugi::node_element);
  if (!element || !element.set_name(std::string(qualifiedName).c_str())) {
    SetResult(hr, kErrOutOfMemory);
    return {};
  }
  return Access::MakeNode(state_, tree, element);
}

Node Document::CreateProcessingInstruction(std::string_view target, std::string_view rawData, uint32_t* hr) const {
  SetResult(hr, kOk);
  const bool declaration = target == "xml";
  const std::string data = ToDocumentText(rawData);
  // Other spellings of "xml" are reserved; "?>" would end the instruction early.
  if (!state_ || !detail::IsQualifiedName(target) || (!declaration && text::EqualsNoCase(target, "xml")) ||
      data.find("?>") != std::string::npos) {
    SetResult(hr, kErrInvalidArg);
    return {};
  }
  if (declaration) {
    std::vector<detail::PseudoAttribute> attributes;
    ParseError error;
    if (!detail::ParseDeclarationData(data, &attributes, &error)) {
      SetResult(hr, error.errorCode);
      return {};
    }
    // pugixml keeps declarations at the top level only, so one that is not
    // yet in the document waits in a tree of its own; appending copies it.
    auto holder = std::make_shared<detail::Tree>();
    pugi::xml_node node = holder->doc.append_child(pugi::node_declaration);
    for (const detail::PseudoAttribute& a : attributes) {
      node.append_attribute(a.name.c_str()).set_value(a.value.c_str());
    }
    return Access::MakeNode(state_, holder, node);
  }
  const std::shared_ptr<detail::Tree> tree = TreeRef();
  pugi::xml_node node = detail::Orphanage(*tree).append_child(pugi::node_pi);
  node.set_name(std::string(target).c_str());
  node.set_value(data.c_str());
  return Access::MakeNode(state_, tree, node);
}

bool Document::ReadsBackAsItIs() const { return state_ && state_->current->readsBack; }

uint64_t Document::Version() const { return state_ ? state_->current->version : 0; }

std::string Document::XmlWithout(const Node& omitted) const {
  if (!state_) return {};
  const pugi::xml_node skipped = Access::NativeAttribute(omitted) ? pugi::xml_node() : Access::NativeNode(omitted);
  return detail::Serialize(pugi::xml_node(Native()), detail::XmlMode::kXmlText, skipped, &state_->current->saved);
}

void Document::SetSchemas(const SchemaCache& schemas) const {
  if (state_) state_->schemas = schemas;
}

}  // namespace xml
