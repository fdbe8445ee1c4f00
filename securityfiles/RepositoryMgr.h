// The repository of applied security files: a folder below the Windows
// folder (Security\Kelmar) holding TarvoRepository.xml, the stored copies of
// the security files, the history file and the repository log. It also
// keeps the checksums that security files and repository documents carry
// over their own text, so that a file changed by hand is noticed.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/xml/Dom.h"
#include "securityfiles/SecurityXmlEntry.h"

class CErrorMgr;
class CFeature;

// The upgrade code that marks a record taken from the repository itself:
// such a record is never stored again.
inline constexpr const char* kDoNotSaveUpgradeCode = "DoNotSave";
inline constexpr const char* kRepositoryFileName = "TarvoRepository.xml";
inline constexpr const char* kFirewallRepositoryFileName = "TarvoRepositoryFirewall.xml";
inline constexpr const char* kHistoryFileName = "History.xml";
// The moment of the history entries ApplyFeatures writes before it applies.
inline constexpr const char* kHistoryTargetValue = "TargetValue";

// One product entry of a repository: the upgrade code (t:product value)
// and the full path of one stored file (secfilename).
struct CRepositoryProduct {
  std::string upgradeCode;
  std::string secFileName;
  bool operator==(const CRepositoryProduct&) const = default;
};

// Which platform's products GetRepositoryProducts returns.
constexpr int kRepositoryProductsX86 = 1;
constexpr int kRepositoryProductsX64 = 2;
constexpr int kRepositoryProductsAll = 3;

class CRepositoryMgr {
 public:
  // The repository folder; with `create`, made (one level) when missing.
  // "" after a failed creation, with a critical entry.
  static std::string ReturnRepositoryDir(CErrorMgr& errorMgr, bool create);

  // ---- The repository file (TarvoRepository.xml in the repository folder).
  // Documents are null on failure; every failure leaves its own entry.

  static bool RepositoryExists();
  // The loaded file; one whose checksum fails still comes back, after a
  // critical entry, so the caller decides. Null (critical) when it does
  // not load.
  static xml::Document LoadRepository(CErrorMgr& errorMgr);
  // Whether the file loads; a missing file is only noted. No checksum test.
  static bool CheckRepository(CErrorMgr& errorMgr);
  // The existing file, or a new empty repository saved on the spot.
  static xml::Document OpenRepository(CErrorMgr& errorMgr);
  // Sets the checksum and replaces the file atomically. True unless the
  // error flag is set afterwards (SetCheckSum clears it first).
  static bool SaveRepository(CErrorMgr& errorMgr, const xml::Document& document);

  // ---- The firewall repository (TarvoRepositoryFirewall.xml in `folder`,
  // the repository folder when `folder` is empty).

  // Null without an entry when the file does not exist; checksum as LoadRepository.
  static xml::Document LoadRepositoryOnlyFirewall(CErrorMgr& errorMgr, std::string_view folder);
  // The existing file or a new document, which is not saved here.
  static xml::Document OpenOnlyFirewallRepository(CErrorMgr& errorMgr, std::string_view folder);
  static bool SaveRepositoryOnlyFirewall(CErrorMgr& errorMgr, const xml::Document& document,
                                         std::string_view folder);
  // What AddToFirewallRepository does to the open document, without saving
  // it: a snapshot of many products saves its repository once.
  static void RegisterSnapshotFile(const xml::Document& repository, std::string_view snapshotPath,
                                   std::string_view upgradeCode, std::string_view language);
  // Registers a saved snapshot file under its upgrade code and the build
  // platform, in the firewall repository of the file's own folder.
  static void AddToFirewallRepository(CErrorMgr& errorMgr, std::string_view snapshotPath,
                                      std::string_view upgradeCode, std::string_view language,
                                      std::string_view snapshotFolder);

  // ---- Stored security files.

  // A file name made from a product value: the characters a Windows file
  // name cannot hold, and the folder separators that would let the name
  // leave its folder, become "_".
  static std::string FileNameFromProduct(std::string_view product);

  // Stores a copy of the record's document (with its own checksum) under a
  // unique name derived from its product value, and registers it below the
  // upgrade code and build platform; a path registered before is only
  // re-saved with the new language. Records marked DoNotSave are skipped.
  static bool SaveSecurityXMLToRepository(CErrorMgr& errorMgr, std::string_view language,
                                          const CSecurityXmlEntry& entry);
  // Appends, for every stored copy of the build platform whose product
  // value is exactly `productValue` and whose checksum holds, a DoNotSave
  // record. True when at least one was appended.
  static bool AddClientXML(CErrorMgr& errorMgr, std::vector<CSecurityXmlEntry>& entries,
                           std::string_view productValue);

  // ---- The history file (History.xml in the repository folder): one
  // t:Setup per session id, below it one t:Product per product and moment
  // holding the features' elements. Saved whole per feature; read again
  // only when another writer changed the file since our last save.

  // Writes the feature's element (without texts) below its session's and
  // product's entry for `moment` and saves the file. Nothing is written once
  // the run has an entry of level 5 or more.
  static void AddFeatureToHistory(CErrorMgr& errorMgr, CFeature& feature, std::string_view moment);
  // The file's document, or a new empty history when there is no file. A
  // file that does not load is first kept under a new name beside it (a
  // warning names both); null after an error when that fails.
  static xml::Document OpenHistoryDocument(CErrorMgr& errorMgr);
  // Replaces the file atomically; a failure is critical. True unless the
  // error flag is set.
  static bool SaveHistory(CErrorMgr& errorMgr, const xml::Document& document);
  // The file's document; null after a level-5 entry when it does not load.
  static xml::Document LoadHistoryXml(CErrorMgr& errorMgr);

  // ---- Queries.

  // Products in document order, one entry per stored file; `selection` is
  // one of kRepositoryProducts*. Empty when the repository does not load.
  static std::vector<CRepositoryProduct> GetRepositoryProducts(CErrorMgr& errorMgr, int selection);
  static std::vector<CRepositoryProduct> GetFirewallRepositoryProducts(CErrorMgr& errorMgr,
                                                                      std::string_view folder);
  // The setup language of the last save; "1033" when the repository cannot
  // be used, "" (critical) when it records none.
  static std::string GetRepositoryLanguage(CErrorMgr& errorMgr);

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
  // The same; `readBack` receives the document as its text reads back (the
  // document itself when it is as loaded), null after a failure.
  static std::string ComputeCheckSum(CErrorMgr& errorMgr, const xml::Document& document, xml::Document* readBack);
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
  // `readBack`, when given, receives the document as a load of its text with
  // the new checksum gives it, for a caller that keeps working on what it saved.
  static bool SetCheckSum(CErrorMgr& errorMgr, const xml::Document& document, xml::Document* readBack = nullptr);
  // SetCheckSum, then saves the document to the Windows path in the
  // encoding its declaration names; false (and nothing saved) when the
  // checksum cannot be set, false after a level-5 entry when the save fails.
  static bool SaveXMLWithHash(CErrorMgr& errorMgr, const xml::Document& document, std::string_view path);
};
