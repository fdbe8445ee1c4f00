#include "platform/xml/Schema.h"

#include <libxml/parser.h>
#include <libxml/schemasInternals.h>
#include <libxml/tree.h>
#include <libxml/xmlIO.h>
#include <libxml/xmlerror.h>
#include <libxml/xmlschemas.h>

#include <climits>
#include <mutex>
#include <new>
#include <unordered_map>

#include "platform/Platform.h"
#include "platform/text/Text.h"
#include "platform/xml/DocState.h"
#include "platform/xml/Encoding.h"

namespace xml {

namespace detail {

// One compiled schema. The schema document stays with the schema: libxml2
// may refer to it for as long as the schema lives.
struct CompiledSchema {
  std::string namespaceUri;
  xmlDocPtr document = nullptr;
  xmlSchemaPtr schema = nullptr;

  CompiledSchema() = default;
  CompiledSchema(const CompiledSchema&) = delete;
  CompiledSchema& operator=(const CompiledSchema&) = delete;
  ~CompiledSchema() {
    if (schema) xmlSchemaFree(schema);
    if (document) xmlFreeDoc(document);
  }
};

struct SchemaSet {
  std::vector<std::shared_ptr<CompiledSchema>> entries;
};

}  // namespace detail

namespace {

// While we work, libxml2 reads external resources through our loader,
// which refuses every one of them: the schema itself is handed over in
// memory, so an include, an import, a DTD or a schemaLocation hint would be
// the only things it could fetch, from disk or network.
xmlParserInputPtr RefuseExternalEntity(const char*, const char*, xmlParserCtxtPtr) { return nullptr; }

std::once_flag g_libxmlReady;

void EnsureLibxmlReady() {
  std::call_once(g_libxmlReady, [] { xmlInitParser(); });
}

void IgnoreGenericError(void*, const char*, ...) {}

// For the duration of one operation: refuses external resources, collects
// the first error libxml2 reports and keeps it from writing to stderr. The
// loader and the error handlers are process-wide in libxml2, so they are
// put back afterwards for any other user of the library.
class LibxmlScope {
 public:
  LibxmlScope()
      : savedLoader_(xmlGetExternalEntityLoader()),
        savedStructured_(xmlStructuredError),
        savedStructuredContext_(xmlStructuredErrorContext),
        savedGeneric_(xmlGenericError),
        savedGenericContext_(xmlGenericErrorContext) {
    EnsureLibxmlReady();
    xmlSetExternalEntityLoader(&RefuseExternalEntity);
    xmlSetStructuredErrorFunc(this, &LibxmlScope::Collect);
    xmlSetGenericErrorFunc(nullptr, &IgnoreGenericError);
  }
  ~LibxmlScope() {
    xmlSetExternalEntityLoader(savedLoader_);
    xmlSetStructuredErrorFunc(savedStructuredContext_, savedStructured_);
    xmlSetGenericErrorFunc(savedGenericContext_, savedGeneric_);
  }
  LibxmlScope(const LibxmlScope&) = delete;
  LibxmlScope& operator=(const LibxmlScope&) = delete;

  static void Collect(void* self, xmlErrorPtr error) {
    auto* errors = static_cast<LibxmlScope*>(self);
    if (!error || error->level < XML_ERR_ERROR || errors->any_) return;
    errors->any_ = true;
    errors->message_ = error->message ? error->message : "";
    while (!errors->message_.empty() && detail::IsXmlWhitespace(errors->message_.back())) errors->message_.pop_back();
    errors->node_ = static_cast<xmlNodePtr>(error->node);
  }

  bool Any() const { return any_; }
  const std::string& Message() const { return message_; }
  xmlNodePtr Node() const { return node_; }

 private:
  xmlExternalEntityLoader savedLoader_;
  xmlStructuredErrorFunc savedStructured_;
  void* savedStructuredContext_;
  xmlGenericErrorFunc savedGeneric_;
  void* savedGenericContext_;
  bool any_ = false;
  std::string message_;
  xmlNodePtr node_ = nullptr;
};

const xmlChar* X(const char* s) { return reinterpret_cast<const xmlChar*>(s); }

std::string_view PrefixOf(std::string_view qualifiedName) {
  const size_t colon = qualifiedName.find(':');
  return colon == std::string_view::npos ? std::string_view() : qualifiedName.substr(0, colon);
}

std::string_view LocalPart(std::string_view qualifiedName) {
  const size_t colon = qualifiedName.find(':');
  return colon == std::string_view::npos ? qualifiedName : qualifiedName.substr(colon + 1);
}

bool IsNamespaceDeclaration(std::string_view name) { return name == "xmlns" || name.substr(0, 6) == "xmlns:"; }

// Builds a libxml2 tree from the document element, walking by links with
// explicit scope stacks (no recursion per level). Each element's _private
// points back at its pugixml node so errors can be placed in the source.
class TreeConverter {
 public:
  TreeConverter() : doc_(xmlNewDoc(X("1.0"))) {}
  ~TreeConverter() {
    if (doc_) xmlFreeDoc(doc_);
  }
  TreeConverter(const TreeConverter&) = delete;
  TreeConverter& operator=(const TreeConverter&) = delete;

  xmlDocPtr Convert(pugi::xml_node root) {
    if (!doc_) throw std::bad_alloc();
    pugi::xml_node node = root;
    for (;;) {
      if (node.type() == pugi::node_element) {
        Enter(node);
        if (node.first_child()) {
          node = node.first_child();
          continue;
        }
        Leave();
      } else {
        AddContent(node);
      }
      while (node != root && !node.next_sibling()) {
        node = node.parent();
        Leave();
      }
      if (node == root) return doc_;
      node = node.next_sibling();
    }
  }

 private:
  struct Frame {
    xmlNodePtr element;
    size_t firstPushed;
  };

  // The namespace bound to `prefix` in scope; `bound` tells whether there is
  // a binding at all (the default namespace may be bound to none).
  xmlNsPtr Lookup(const std::string& prefix, xmlNodePtr element, bool* bound) {
    if (prefix == "xml") {
      *bound = true;
      return xmlSearchNs(doc_, element, X("xml"));
    }
    const auto it = scopes_.find(prefix);
    *bound = it != scopes_.end() && !it->second.empty();
    return *bound ? it->second.back() : nullptr;
  }

  void Enter(pugi::xml_node source) {
    const std::string_view name = source.name();
    const std::string prefix(PrefixOf(name));
    bool declaresOwnPrefix = false;
    for (pugi::xml_attribute a : source.attributes()) {
      const std::string_view attributeName = a.name();
      if (IsNamespaceDeclaration(attributeName) &&
          (attributeName.size() == 5 ? prefix.empty() : attributeName.substr(6) == prefix)) {
        declaresOwnPrefix = true;
      }
    }
    const auto scope = scopes_.find(prefix);
    const bool bound = prefix == "xml" || declaresOwnPrefix || (scope != scopes_.end() && !scope->second.empty());
    // An unbound prefix stays part of the name, so a message shows it.
    const std::string localName(prefix.empty() || bound ? LocalPart(name) : name);
    xmlNodePtr element = xmlNewDocNode(doc_, nullptr, X(localName.c_str()), nullptr);
    if (!element) throw std::bad_alloc();
    if (frames_.empty()) {
      xmlDocSetRootElement(doc_, element);
    } else {
      xmlAddChild(frames_.back().element, element);
    }
    element->_private = source.internal_object();
    frames_.push_back({element, pushed_.size()});

    for (pugi::xml_attribute a : source.attributes()) {
      const std::string_view attributeName = a.name();
      if (!IsNamespaceDeclaration(attributeName)) continue;
      const std::string declared(attributeName.size() == 5 ? std::string_view() : attributeName.substr(6));
      if (declared == "xml" || declared == "xmlns") continue;
      // xmlns="" takes the default namespace away: a binding to none.
      xmlNsPtr ns = *a.value() ? xmlNewNs(element, X(a.value()), declared.empty() ? nullptr : X(declared.c_str()))
                               : nullptr;
      scopes_[declared].push_back(ns);
      pushed_.push_back(declared);
    }
    bool elementBound = false;
    xmlSetNs(element, Lookup(prefix, element, &elementBound));

    for (pugi::xml_attribute a : source.attributes()) {
      const std::string_view attributeName = a.name();
      if (IsNamespaceDeclaration(attributeName)) continue;
      const std::string attributePrefix(PrefixOf(attributeName));
      xmlNsPtr ns = nullptr;
      bool attributeBound = false;
      if (!attributePrefix.empty()) ns = Lookup(attributePrefix, element, &attributeBound);
      const std::string attributeLocal(ns ? LocalPart(attributeName) : attributeName);
      xmlNewNsProp(element, ns, X(attributeLocal.c_str()), X(a.value()));
    }
  }

  void Leave() {
    const size_t first = frames_.back().firstPushed;
    for (size_t i = first; i < pushed_.size(); ++i) scopes_[pushed_[i]].pop_back();
    pushed_.resize(first);
    frames_.pop_back();
  }

  // Text and CDATA; hidden whitespace, comments and processing instructions
  // do not take part in validation.
  void AddContent(pugi::xml_node node) {
    const std::string_view value = node.value();
    if (value.size() > INT_MAX) throw std::bad_alloc();
    xmlNodePtr content = nullptr;
    if (node.type() == pugi::node_pcdata && !value.empty()) {
      content = xmlNewDocTextLen(doc_, X(value.data()), static_cast<int>(value.size()));
    } else if (node.type() == pugi::node_cdata) {
      content = xmlNewCDataBlock(doc_, X(value.data()), static_cast<int>(value.size()));
    }
    if (content) xmlAddChild(frames_.back().element, content);
  }

  xmlDocPtr doc_;
  std::vector<Frame> frames_;
  std::vector<std::string> pushed_;
  std::unordered_map<std::string, std::vector<xmlNsPtr>> scopes_;
};

pugi::xml_node DocumentElementOf(detail::Tree& tree) {
  for (pugi::xml_node n = tree.doc.first_child(); n; n = n.next_sibling()) {
    if (n.type() == pugi::node_element && detail::IsVisible(n)) return n;
  }
  return {};
}

std::string NamespaceOf(pugi::xml_node root) {
  const std::string_view prefix = PrefixOf(root.name());
  const std::string declaration = prefix.empty() ? "xmlns" : "xmlns:" + std::string(prefix);
  return root.attribute(declaration.c_str()).value();
}

// Where the element an error names starts in the text the document was
// loaded from; nothing for nodes that were not loaded.
detail::TextPosition SourcePosition(const detail::Tree& tree, pugi::xml_node node) {
  if (!node || tree.lineStarts.empty()) return {};
  const ptrdiff_t offset = node.offset_debug();
  if (offset <= 0) return {};
  // Names still point into the parse buffer; it has the loaded text's layout.
  const std::string_view buffer(node.name() - offset, static_cast<size_t>(offset));
  return detail::PositionAt(tree.lineStarts, buffer, static_cast<size_t>(offset - 1));
}

pugi::xml_node SourceNodeOf(xmlNodePtr node) {
  if (node && (node->type == XML_ATTRIBUTE_NODE || node->type == XML_TEXT_NODE || node->type == XML_CDATA_SECTION_NODE)) {
    node = node->parent;
  }
  if (!node || node->type != XML_ELEMENT_NODE) return {};
  return pugi::xml_node(static_cast<pugi::xml_node_struct*>(node->_private));
}

// libxml2 names elements "{uri}local"; the reader knows them as written.
std::string WithQualifiedName(std::string message, pugi::xml_node element) {
  constexpr std::string_view kLead = "Element '";
  if (!element || message.compare(0, kLead.size(), kLead) != 0) return message;
  const size_t close = message.find('\'', kLead.size());
  if (close == std::string::npos) return message;
  return message.replace(kLead.size(), close - kLead.size(), element.name());
}

ParseError ValidateTree(detail::Tree& tree, const detail::SchemaSet& schemas) {
  const pugi::xml_node root = DocumentElementOf(tree);
  if (!root) {
    return MakeParseError(kXmlErrValidateNoRoot,
                          "Validate failed because the document does not contain exactly one root node.");
  }
  const std::string ns = NamespaceOf(root);
  const detail::CompiledSchema* schema = nullptr;
  for (const auto& entry : schemas.entries) {
    if (entry->namespaceUri == ns) schema = entry.get();
  }
  if (!schema) {
    return MakeParseError(kXmlErrNoSchema,
                          text::Format("No schema is available for the namespace '%s' of the document element.",
                                       ns.c_str()));
  }
  LibxmlScope errors;
  TreeConverter converter;
  xmlDocPtr converted = converter.Convert(root);
  xmlSchemaValidCtxtPtr context = xmlSchemaNewValidCtxt(schema->schema);
  if (!context) throw std::bad_alloc();
  xmlSchemaSetValidStructuredErrors(context, &LibxmlScope::Collect, &errors);
  const int rc = xmlSchemaValidateDoc(context, converted);
  xmlSchemaFreeValidCtxt(context);
  if (rc == 0 && !errors.Any()) return ParseError();
  const pugi::xml_node source = SourceNodeOf(errors.Node());
  const std::string reason =
      errors.Any() ? WithQualifiedName(errors.Message(), source) : "The document is not valid against the schema.";
  const detail::TextPosition at = SourcePosition(tree, source);
  return MakeParseError(kXmlErrSchemaViolation, reason, at.line, at.column);
}

uint32_t SchemaFailure(uint32_t code, std::string text, std::string* reason) {
  if (reason) *reason = std::move(text);
  return code;
}

}  // namespace

SchemaCache::SchemaCache() : set_(std::make_shared<detail::SchemaSet>()) {}

namespace {

// Files the schema under its namespace, replacing an earlier one.
void FileSchema(detail::SchemaSet& set, std::shared_ptr<detail::CompiledSchema> compiled) {
  for (auto& entry : set.entries) {
    if (entry->namespaceUri == compiled->namespaceUri) {
      entry = std::move(compiled);
      return;
    }
  }
  set.entries.push_back(std::move(compiled));
}

}  // namespace

uint32_t SchemaCache::Add(std::string_view namespaceUri, std::string_view schemaPath, std::string* reason) const {
  if (reason) reason->clear();
  std::string bytes;
  if (uint32_t rc = plat::ReadWholeFile(plat::Current().Files(), schemaPath, &bytes)) {
    return SchemaFailure(HResultFromWin32(rc), text::Format("The schema file could not be read (error %u).", rc),
                         reason);
  }
  if (bytes.size() > INT_MAX) return SchemaFailure(kXmlErrSchemaLoad, "The schema file is too large.", reason);
  // A run checks every security file against the same schema file: the
  // schema compiled last is reused while the file's path and text are the
  // same (a compiled schema is only read by validation).
  static struct {
    std::string path, bytes;
    std::shared_ptr<detail::CompiledSchema> compiled;
  } lastCompiled;
  if (lastCompiled.compiled && lastCompiled.path == schemaPath && lastCompiled.bytes == bytes &&
      lastCompiled.compiled->namespaceUri == namespaceUri) {
    FileSchema(*set_, lastCompiled.compiled);
    return kOk;
  }
  try {
    LibxmlScope errors;
    auto compiled = std::make_shared<detail::CompiledSchema>();
    const std::string url(schemaPath);
    // No entity substitution, no DTD loading, no network.
    compiled->document = xmlReadMemory(bytes.data(), static_cast<int>(bytes.size()), url.c_str(), nullptr,
                                       XML_PARSE_NONET);
    if (!compiled->document) {
      return SchemaFailure(kXmlErrSchemaLoad,
                           errors.Any() ? errors.Message() : "The schema file is not well-formed XML.", reason);
    }
    xmlSchemaParserCtxtPtr parser = xmlSchemaNewDocParserCtxt(compiled->document);
    if (!parser) throw std::bad_alloc();
    xmlSchemaSetParserStructuredErrors(parser, &LibxmlScope::Collect, &errors);
    compiled->schema = xmlSchemaParse(parser);
    xmlSchemaFreeParserCtxt(parser);
    if (!compiled->schema || errors.Any()) {
      return SchemaFailure(kXmlErrSchemaLoad, errors.Any() ? errors.Message() : "The schema could not be compiled.",
                           reason);
    }
    const char* target = reinterpret_cast<const char*>(compiled->schema->targetNamespace);
    const std::string targetNamespace = target ? target : "";
    if (targetNamespace != namespaceUri) {
      return SchemaFailure(kXmlErrSchemaNamespace,
                           text::Format("The target namespace '%s' of the schema does not match the namespace '%.*s'.",
                                        targetNamespace.c_str(), static_cast<int>(namespaceUri.size()),
                                        namespaceUri.data()),
                           reason);
    }
    compiled->namespaceUri = targetNamespace;
    lastCompiled = {std::string(schemaPath), std::move(bytes), compiled};
    FileSchema(*set_, std::move(compiled));
    return kOk;
  } catch (const std::bad_alloc&) {
    return SchemaFailure(kErrOutOfMemory, "Not enough memory to compile the schema.", reason);
  }
}

size_t SchemaCache::Length() const { return set_->entries.size(); }

std::vector<std::string> SchemaCache::NamespaceUris() const {
  std::vector<std::string> uris;
  for (const auto& entry : set_->entries) uris.push_back(entry->namespaceUri);
  return uris;
}

ParseError Document::Validate() const { return state_ ? Validate(state_->schemas) : Validate(SchemaCache()); }

ParseError Document::Validate(const SchemaCache& schemas) const {
  if (!state_) return MakeParseError(kErrFail, "There is no document to validate.");
  try {
    return ValidateTree(*state_->current, *detail::Access::SetOf(schemas));
  } catch (const std::bad_alloc&) {
    return MakeParseError(kErrOutOfMemory, "Not enough memory to validate the document.");
  }
}

}  // namespace xml
