// Internal to the XML component: turning text into a Tree. pugixml does the
// parsing; this module adds the checks it leaves out (duplicate attributes,
// undeclared prefixes, entity references, the single document element, the
// declaration's place and pseudo-attributes, no entity declarations) and
// applies the DOM's whitespace convention (DocState.h).
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/xml/DocState.h"

namespace xml::detail {

// Parses UTF-8 text without byte-order mark into `tree`, which must be
// empty. On failure `tree` may hold a partial tree and must be dropped.
bool ParseText(std::string_view utf8, Tree* tree, ParseError* error);

struct PseudoAttribute {
  std::string name;
  std::string value;
};
// The pseudo-attributes of the data of an XML declaration, checked.
bool ParseDeclarationData(std::string_view data, std::vector<PseudoAttribute>* attributes, ParseError* error);

// An XML name with at most one colon, neither first nor last, in
// well-formed UTF-8 of characters XML allows.
bool IsQualifiedName(std::string_view name);
// The prefix of a qualified name ("t" of "t:Product"), empty for none.
std::string_view PrefixOf(std::string_view qualifiedName);

}  // namespace xml::detail
