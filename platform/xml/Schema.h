// XSD validation for the XML component: a schema cache keyed by target
// namespace, filled from schema files read through the platform's file
// service and compiled once by libxml2. Nothing but the schema file itself
// is ever read: includes, imports, DTDs and network resources are refused.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/xml/Dom.h"

namespace xml {

namespace detail {
struct SchemaSet;
}

// A collection of compiled schemas. Copies share one collection, so a
// schema added after Document::SetSchemas is seen by that document.
class SchemaCache {
 public:
  SchemaCache();

  // Compiles the schema at `schemaPath` (a Windows path) and files it under
  // `namespaceUri`, replacing an earlier one. The schema's targetNamespace
  // must be `namespaceUri`. 0, HResultFromWin32(file error),
  // kXmlErrSchemaLoad (not a schema, or it needs another file) or
  // kXmlErrSchemaNamespace; `reason` (if given) says what went wrong.
  uint32_t Add(std::string_view namespaceUri, std::string_view schemaPath, std::string* reason = nullptr) const;
  size_t Length() const;
  std::vector<std::string> NamespaceUris() const;

 private:
  friend struct detail::Access;
  std::shared_ptr<detail::SchemaSet> set_;
};

}  // namespace xml
