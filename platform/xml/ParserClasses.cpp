#include "platform/xml/ParserClasses.h"

#include <array>

namespace xml {

namespace {

constexpr size_t kClassCount = 4;

// The one process-wide setting of the component: which versioned classes
// tests have switched off. Everything is available unless a test says so.
std::array<bool, kClassCount> g_unavailable{};

size_t IndexOf(ParserClass parserClass) { return static_cast<size_t>(parserClass); }

bool IsDocumentClass(ParserClass parserClass) {
  return parserClass == ParserClass::kDocument40 || parserClass == ParserClass::kDocument60;
}

}  // namespace

uint32_t CreateDocument(ParserClass parserClass, Document* out) {
  *out = Document();
  if (!IsDocumentClass(parserClass)) return kErrInvalidArg;
  if (!IsParserClassAvailable(parserClass)) return kErrClassNotRegistered;
  *out = Document::Create();
  return kOk;
}

uint32_t CreateSchemaCache(ParserClass parserClass, SchemaCache* out) {
  if (IsDocumentClass(parserClass)) return kErrInvalidArg;
  if (!IsParserClassAvailable(parserClass)) return kErrClassNotRegistered;
  *out = SchemaCache();
  return kOk;
}

void SetParserClassAvailable(ParserClass parserClass, bool available) {
  g_unavailable[IndexOf(parserClass)] = !available;
}

bool IsParserClassAvailable(ParserClass parserClass) { return !g_unavailable[IndexOf(parserClass)]; }

void ResetParserClasses() { g_unavailable.fill(false); }

}  // namespace xml
