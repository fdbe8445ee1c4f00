// The versioned parser classes a caller may ask for by name, as the schema
// check does: documents and schema caches of versions 4.0 and 6.0. They are
// all this component, so creation succeeds, unless a test has switched a
// class off to exercise the caller's fallback and warning paths.
#pragma once

#include <cstdint>

#include "platform/xml/Dom.h"
#include "platform/xml/Schema.h"

namespace xml {

enum class ParserClass {
  kDocument40,     // document, version 4.0
  kDocument60,     // document, version 6.0
  kSchemaCache40,  // schema cache, version 4.0
  kSchemaCache60,  // schema cache, version 6.0
};

// A new document / empty schema cache of that class. kErrClassNotRegistered
// when the class is switched off, kErrInvalidArg for a class of the other kind.
uint32_t CreateDocument(ParserClass parserClass, Document* out);
uint32_t CreateSchemaCache(ParserClass parserClass, SchemaCache* out);

// Test seam (process-wide): make a class unavailable, and restore them all.
void SetParserClassAvailable(ParserClass parserClass, bool available);
bool IsParserClassAvailable(ParserClass parserClass);
void ResetParserClasses();

}  // namespace xml
