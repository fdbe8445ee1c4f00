// The repository of applied security files: a folder below the Windows
// folder (Security\Kelmar) holding TarvoRepository.xml, the stored copies of
// the security files, the history file and the repository log. It also
// keeps the checksums that security files and repository documents carry
// over their own text, so that a file changed by hand is noticed.
#pragma once

#include <string>
#include <string_view>

class CErrorMgr;

namespace xml {
class Document;
}

class CRepositoryMgr {
 public:
  // The repository folder; with `create`, made (one level) when missing.
  // "" after a failed creation, with a critical entry.
  static std::string ReturnRepositoryDir(CErrorMgr& errorMgr, bool create);

  // Checksum text of a document's XML text: the 32-bit rolling sum (rotate
  // left by 8, add) over every UTF-16 unit but the last, as a signed decimal
  // padded with "0" to 32 characters; "-1" padded for an empty text.
  static std::string HashText(std::u16string_view text);
  static std::string HashTextUtf8(std::string_view utf8);

  // A document's checksums live in the element t:checksum (attribute
  // "value") of its container: the root of a repository document
  // (t:TarvoRepository), t:vscSetup/t:host/t:products of any other.

  // The checksum of the document's text without its first t:checksum, so
  // the stored value never feeds into itself. The document is not changed.
  // "" after a level-5 entry when the text does not load again or the
  // container is missing.
  static std::string ComputeCheckSum(CErrorMgr& errorMgr, const xml::Document& document);
  // The stored checksum; "" when there is none.
  static std::string GetStoredCheckSum(const xml::Document& document);
  // Whether the stored checksum equals the computed one. A mismatch, and a
  // checksum that cannot be computed, is reported with `fileName` at level
  // 5 when `lenient`, else 6, and gives false.
  static bool CheckCheckSum(CErrorMgr& errorMgr, const xml::Document& document, std::string_view fileName,
                            bool lenient);
  // Writes the computed checksum into the container (creating t:checksum
  // as its last child when missing). The error flag is cleared before the
  // computation, so only a failure of this one stops the write (a caller
  // that cares about earlier errors reads the flag first). Writes nothing
  // and gives false when the container is missing or the checksum cannot be
  // computed.
  static bool SetCheckSum(CErrorMgr& errorMgr, const xml::Document& document);
  // SetCheckSum, then saves the document to the Windows path in the
  // encoding its declaration names; false (and nothing saved) when the
  // checksum cannot be set, false after a level-5 entry when the save fails.
  static bool SaveXMLWithHash(CErrorMgr& errorMgr, const xml::Document& document, std::string_view path);
};
