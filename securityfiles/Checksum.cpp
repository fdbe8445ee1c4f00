// Checksums of security files and repository documents.
#include <cstdint>

#include "infra/ErrorMgr.h"
#include "platform/text/Text.h"
#include "platform/xml/Dom.h"
#include "securityfiles/RepositoryMgr.h"
#include "securityfiles/SecurityFileFormat.h"
#include "securityfiles/XmlServices.h"

namespace {

constexpr size_t kChecksumLength = 32;

constexpr const char* kRepositoryRoot = "t:TarvoRepository";
constexpr const char* kRepositoryChecksumValuePath = "t:TarvoRepository/t:checksum/@value";
constexpr const char* kValueAttribute = "value";

constexpr const char* kComputeLabel = "CRepositoryMgr::ComputeCheckSum";
constexpr const char* kCheckLabel = "CRepositoryMgr::CheckCheckSum";
constexpr const char* kSetLabel = "CRepositoryMgr::SetCheckSum";
constexpr const char* kSaveLabel = "CRepositoryMgr::SaveXMLWithHash";

std::string PadChecksum(std::string value) {
  if (value.size() < kChecksumLength) value.append(kChecksumLength - value.size(), '0');
  return value;
}

bool IsRepositoryDocument(const xml::Document& document) {
  return !document.SelectSingleNode(kRepositoryRoot).IsNull();
}

// The element that holds t:checksum, by the kind of the document.
const char* ContainerPath(const xml::Document& document) {
  return IsRepositoryDocument(document) ? kRepositoryRoot : secfile::kProductsPath;
}

const char* StoredValuePath(const xml::Document& document) {
  return IsRepositoryDocument(document) ? kRepositoryChecksumValuePath : secfile::kChecksumValuePath;
}

uint32_t RollingStep(uint32_t h, char16_t unit) { return ((h << 8) | (h >> 24)) + unit; }

std::string ChecksumText(uint32_t h) { return PadChecksum(std::to_string(static_cast<int32_t>(h))); }

bool WriteCheckSum(const xml::Node& container, const std::string& checksum) {
  const xml::Node element = GetOrCreateChildElement(container, secfile::kChecksumElement);
  return !element.IsNull() && element.SetAttribute(kValueAttribute, checksum) == xml::kOk;
}

}  // namespace

std::string CRepositoryMgr::HashText(std::u16string_view text) {
  if (text.empty()) return PadChecksum("-1");
  uint32_t h = 0;
  // The last unit is not part of the sum.
  for (size_t i = 0; i + 1 < text.size(); ++i) h = RollingStep(h, text[i]);
  return ChecksumText(h);
}

// HashText over the UTF-16 units of the text, decoded on the way instead of
// into a copy first (documents are hashed whole, at every load and save).
// Each unit is summed once the next one is known, so the last one never is.
std::string CRepositoryMgr::HashTextUtf8(std::string_view utf8) {
  if (utf8.empty()) return PadChecksum("-1");  // any other text has at least one unit
  uint32_t h = 0;
  char16_t pending = 0;
  bool hasPending = false;
  auto take = [&](char16_t unit) {
    if (hasPending) h = RollingStep(h, pending);
    pending = unit;
    hasPending = true;
  };
  size_t pos = 0;
  while (pos < utf8.size()) {
    const auto byte = static_cast<unsigned char>(utf8[pos]);
    if (byte < 0x80) {
      take(byte);
      ++pos;
      continue;
    }
    char16_t units[2];
    const size_t count = text::EncodeUtf16(text::NextCodePoint(utf8, pos), units);
    for (size_t i = 0; i < count; ++i) take(units[i]);
  }
  return ChecksumText(h);
}

std::string CRepositoryMgr::ComputeCheckSum(CErrorMgr& errorMgr, const xml::Document& document) {
  xml::Document readBack;
  return ComputeCheckSum(errorMgr, document, &readBack);
}

std::string CRepositoryMgr::ComputeCheckSum(CErrorMgr& errorMgr, const xml::Document& document,
                                            xml::Document* readBack) {
  // What is hashed is the text a load of the document reads, without the
  // checksum element. A document not known to read back as it is is read
  // back from its text first; one that does is that text already.
  *readBack = document;
  if (!document.ReadsBackAsItIs()) {
    *readBack = xml::Document::Create();
    if (!readBack->LoadXml(document.Xml())) {
      errorMgr.AddMessage(kLevelError, kComputeLabel,
                          "The duplicate XML document couldn't be created. Checksum could not be validated");
      *readBack = xml::Document();
      return "";
    }
  }
  const xml::Node container = readBack->SelectSingleNode(ContainerPath(document));
  if (container.IsNull()) {
    errorMgr.AddMessage(kLevelError, kComputeLabel, "The checksum node could not be found! What happend?");
    *readBack = xml::Document();
    return "";
  }
  return HashTextUtf8(readBack->XmlWithout(container.SelectSingleNode(secfile::kChecksumElement)));
}

std::string CRepositoryMgr::GetStoredCheckSum(const xml::Document& document) {
  std::string stored;
  GetXmlValue(document, StoredValuePath(document), &stored);
  return stored;
}

bool CRepositoryMgr::CheckCheckSum(CErrorMgr& errorMgr, const xml::Document& document, std::string_view fileName,
                                   bool lenient) {
  const std::string stored = GetStoredCheckSum(document);
  const std::string computed = ComputeCheckSum(errorMgr, document);
  // A checksum that cannot be computed verifies nothing, even against a
  // missing stored value.
  if (!computed.empty() && stored == computed) return true;
  errorMgr.AddMessage(lenient ? kLevelError : kLevelCritical, kCheckLabel,
                      "Hash Check failed:  " + std::string(fileName));
  return false;
}

bool CRepositoryMgr::SetCheckSum(CErrorMgr& errorMgr, const xml::Document& document, xml::Document* readBack) {
  const xml::Node container = document.SelectSingleNode(ContainerPath(document));
  if (container.IsNull()) {
    errorMgr.AddMessage(kLevelError, kSetLabel,
                        "The root node where the t:checksum node should be placed could not be found.");
    return false;
  }
  errorMgr.SetError(false);
  const bool readsAsItIs = document.ReadsBackAsItIs();  // then the read-back copy is the document itself
  xml::Document duplicate;
  const std::string checksum = ComputeCheckSum(errorMgr, document, &duplicate);
  // The error flag alone would not tell: an entry of a level already
  // reached does not set it again, so the empty result decides as well.
  if (checksum.empty() || errorMgr.IsError()) return false;
  if (!WriteCheckSum(container, checksum)) return false;
  // The read-back copy gets the same element in the same place, so it is
  // what a load of the saved text gives.
  if (readBack) {
    *readBack = readsAsItIs || WriteCheckSum(duplicate.SelectSingleNode(ContainerPath(document)), checksum)
                    ? duplicate
                    : xml::Document();
  }
  return !errorMgr.IsError();
}

bool CRepositoryMgr::SaveXMLWithHash(CErrorMgr& errorMgr, const xml::Document& document, std::string_view path) {
  if (!SetCheckSum(errorMgr, document)) return false;
  if (document.Save(path) != xml::kOk) {
    errorMgr.AddMessageF(kLevelError, kSaveLabel, "Could not save xml file '%s'", std::string(path).c_str());
    return false;
  }
  return !errorMgr.IsError();
}
