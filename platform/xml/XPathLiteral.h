// Quoting of values placed into XPath expressions. XPath 1.0 literals have
// no escape character, so a value holding an apostrophe cannot be written
// between apostrophes; this is the one helper callers use for every value
// they put into a predicate.
#pragma once

#include <string>
#include <string_view>

namespace xml {

// The value as an XPath expression that evaluates to exactly the string a
// document stores for it (ToDocumentText, Dom.h), so that a value holding a
// character XML cannot carry still finds its node: 'value' when it holds no
// apostrophe, "value" when it holds no double quote, else
// concat('a', "'", 'b', ...). Use it without surrounding quotes:
//   text::Format("t:product[@value=%s]", xml::XPathLiteral(name).c_str())
std::string XPathLiteral(std::string_view value);

}  // namespace xml
