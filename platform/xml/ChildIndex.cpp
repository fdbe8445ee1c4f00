// Node::FindChild: a child element found by attribute values through an
// index kept per parent, instead of an XPath scan of every child per call.
// The feature document and the history grow by one element per feature
// below a handful of containers; with a scan per lookup a run of thousands
// of features costs the square of their number.
#include <algorithm>

#include "platform/xml/DocState.h"

namespace xml {
namespace detail {
namespace {

bool HasName(pugi::xml_node node, std::string_view name) {
  return node.type() == pugi::node_element && name == node.name();
}

bool Matches(pugi::xml_node node, pugi::xml_node parent, std::string_view name,
             std::initializer_list<AttributeMatch> attributes, const std::vector<std::string>& values) {
  if (node.parent() != parent || !HasName(node, name)) return false;
  size_t i = 0;
  for (const AttributeMatch& match : attributes) {
    const pugi::xml_attribute a = node.attribute(std::string(match.name).c_str());
    if (!a || values[i++] != a.value()) return false;
  }
  return true;
}

void Add(ChildIndex& index, pugi::xml_node element, const char* attribute) {
  const pugi::xml_attribute a = element.attribute(attribute);
  if (!a) return;
  std::vector<pugi::xml_node_struct*>& list = index.byValue[a.value()];
  if (std::find(list.begin(), list.end(), element.internal_object()) == list.end()) {
    list.push_back(element.internal_object());
  }
}

ChildIndex& IndexOf(Tree& tree, pugi::xml_node parent, std::string_view name, std::string_view attribute) {
  const ChildIndexKey key{parent.internal_object(), std::string(name), std::string(attribute)};
  auto found = tree.childIndexes.find(key);
  if (found != tree.childIndexes.end()) return found->second;
  ChildIndex& index = tree.childIndexes[key];
  const std::string attributeName(attribute);
  for (pugi::xml_node child = parent.first_child(); child; child = child.next_sibling()) {
    if (HasName(child, name)) Add(index, child, attributeName.c_str());
  }
  return index;
}

// Whether `a` comes before `b` among the children of one parent.
bool Precedes(pugi::xml_node a, pugi::xml_node b) {
  for (pugi::xml_node n = a.next_sibling(); n; n = n.next_sibling()) {
    if (n == b) return true;
  }
  return false;
}

}  // namespace

void IndexAppendedChild(Tree& tree, pugi::xml_node element) {
  if (tree.childIndexes.empty() || element.type() != pugi::node_element) return;
  // The indexes of this parent and name lie side by side in the map (one
  // per attribute): a document may hold thousands of indexed containers.
  const ChildIndexKey first{element.parent().internal_object(), element.name(), std::string()};
  for (auto it = tree.childIndexes.lower_bound(first);
       it != tree.childIndexes.end() && std::get<0>(it->first) == std::get<0>(first) &&
       std::get<1>(it->first) == std::get<1>(first);
       ++it) {
    Add(it->second, element, std::get<2>(it->first).c_str());
  }
}

void IndexSetAttribute(Tree& tree, pugi::xml_node element, std::string_view attribute) {
  if (tree.childIndexes.empty()) return;
  const auto found = tree.childIndexes.find(
      ChildIndexKey{element.parent().internal_object(), element.name(), std::string(attribute)});
  if (found != tree.childIndexes.end()) Add(found->second, element, std::get<2>(found->first).c_str());
}

Node FindIndexedChild(const Node& parentHandle, std::string_view name, std::initializer_list<AttributeMatch> attributes) {
  const pugi::xml_node parent = Access::NativeNode(parentHandle);
  if (!parent || attributes.size() == 0 || !Access::NativeAttribute(parentHandle).empty()) return {};
  std::vector<std::string> values;
  for (const AttributeMatch& match : attributes) values.push_back(ToDocumentText(match.value));
  const std::shared_ptr<Tree> tree = Access::TreeOf(parentHandle);
  ChildIndex& index = IndexOf(*tree, parent, name, attributes.begin()->name);
  const auto candidates = index.byValue.find(values.front());
  if (candidates == index.byValue.end()) return {};
  pugi::xml_node first;
  for (pugi::xml_node_struct* candidate : candidates->second) {
    const pugi::xml_node node(candidate);
    if (!Matches(node, parent, name, attributes, values)) continue;
    if (!first || Precedes(node, first)) first = node;
  }
  if (!first) return {};
  return Access::MakeNode(Access::StateOf(parentHandle), tree, first);
}

}  // namespace detail

Node Node::FindChild(std::string_view name, std::initializer_list<AttributeMatch> attributes) const {
  return detail::FindIndexedChild(*this, name, attributes);
}

}  // namespace xml
