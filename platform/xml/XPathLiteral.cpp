#include "platform/xml/XPathLiteral.h"

#include "platform/xml/Dom.h"

namespace xml {

std::string XPathLiteral(std::string_view rawValue) {
  const std::string stored = ToDocumentText(rawValue);
  const std::string_view value = stored;
  if (value.find('\'') == std::string_view::npos) return "'" + std::string(value) + "'";
  if (value.find('"') == std::string_view::npos) return "\"" + std::string(value) + "\"";
  // Both quote characters: apostrophe-quoted pieces joined by "'" literals.
  // Such a value has at least one of each, so concat gets two or more
  // arguments, as XPath requires.
  std::string out = "concat(";
  bool first = true;
  auto add = [&](std::string_view argument) {
    if (!first) out += ", ";
    out += argument;
    first = false;
  };
  size_t start = 0;
  for (;;) {
    const size_t apostrophe = value.find('\'', start);
    const std::string_view piece = value.substr(start, apostrophe == std::string_view::npos ? std::string_view::npos
                                                                                              : apostrophe - start);
    if (!piece.empty()) add("'" + std::string(piece) + "'");
    if (apostrophe == std::string_view::npos) break;
    add("\"'\"");
    start = apostrophe + 1;
  }
  out += ")";
  return out;
}

}  // namespace xml
