// The security file as the program reads it: the namespace URIs of the
// documents the program handles, the paths of the security file's elements,
// the six feature kinds in the order discovery visits them, the attributes
// every feature element shares and how their texts are understood.
// Everything here is data or a pure function: nothing touches a DOM. Callers
// run the XPath strings through the XML services and pass the texts in.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace secfile {

// ---------------------------------------------------------------------------
// Namespaces. This is the only place the URIs are written.

// Security files (bound to the prefix t; the schema's target namespace).
inline constexpr const char* kSecurityFileNamespace =
    "http://schemas.tarvo.example/automation/2005/VantrixSecurityControl";
// The feature document that ReturnFeatures writes.
inline constexpr const char* kFeatureDocumentNamespace = "http://schemas.tarvo.example/2005/Kelmar";
// The program's own documents: the repository files and the history file.
inline constexpr const char* kProgramNamespace = "http://schemas.tarvo.example/2009/Kelmar";
// The W3C schema-instance namespace, declared by the security files the program writes.
inline constexpr const char* kSchemaInstanceNamespace = "http://www.w3.org/2001/XMLSchema-instance";

// The attribute that binds the prefix every query uses.
inline constexpr const char* kPrefixAttribute = "xmlns:t";

// ---------------------------------------------------------------------------
// Schema.

// The schema file the security files are checked against.
inline constexpr const char* kSchemaFileName = "Tarvo2.xsd";
// The schema file named in the xsi:schemaLocation of security files the
// program writes itself (firewall snapshots).
inline constexpr const char* kWrittenSchemaFileName = "vsc_schema_x.xsd";
// Their xsi:schemaLocation text: the namespace, one blank, the file name.
std::string WrittenSchemaLocation();

// ---------------------------------------------------------------------------
// Element paths. Queries are relative to the document unless they begin with
// "/"; both forms select the same nodes from the document node.

inline constexpr const char* kRootElement = "t:vscSetup";
inline constexpr const char* kHostElement = "t:host";
inline constexpr const char* kProductsElement = "t:products";
inline constexpr const char* kProductElement = "t:product";
inline constexpr const char* kChecksumElement = "t:checksum";
inline constexpr const char* kClientXmlElement = "t:clientxml";
inline constexpr const char* kBodyElement = "t:body";

inline constexpr const char* kProductsPath = "t:vscSetup/t:host/t:products";
// The product's name: the first t:product counts.
inline constexpr const char* kProductValuePath = "t:vscSetup/t:host/t:products/t:product/@value";
inline constexpr const char* kChecksumValuePath = "t:vscSetup/t:host/t:products/t:checksum/@value";
// "yes" or a product name: that product's repository copies are loaded as well.
inline constexpr const char* kClientXmlValuePath = "t:vscSetup/t:host/t:products/t:clientxml/@value";
inline constexpr const char* kClientXmlOwnProduct = "yes";  // compared exactly
inline constexpr const char* kBodyPath = "/t:vscSetup/t:host/t:body";

// ---------------------------------------------------------------------------
// Feature kinds.

enum class FeatureKind { kGroupUser, kFilePermission, kRegistryPermission, kDcom, kFirewall, kWua };

struct FeatureKindInfo {
  FeatureKind kind;
  const char* kindName;   // in log lines and in the OPFile's feature filter
  const char* localName;  // local name of the feature element
  const char* query;      // selects every feature element of the kind in a security file
};

// In the fixed order in which discovery reads the kinds; the list of
// features is ordered by kind in this order, then by document order.
inline constexpr std::array<FeatureKindInfo, 6> kFeatureKinds = {{
    {FeatureKind::kGroupUser, "GroupUser", "groupuser", "/t:vscSetup/t:host/t:body/t:groupuser"},
    {FeatureKind::kFilePermission, "FilePermission", "fileSystemPath",
     "/t:vscSetup/t:host/t:body/t:fileSystemPermissions/t:fileSystemPath"},
    {FeatureKind::kRegistryPermission, "RegistryPermission", "path", "/t:vscSetup/t:host/t:body/t:registry/t:path"},
    {FeatureKind::kDcom, "DCOM", "componentService", "/t:vscSetup/t:host/t:body/t:componentService"},
    {FeatureKind::kFirewall, "Firewall", "lan", "/t:vscSetup/t:host/t:body/t:network/t:lan"},
    {FeatureKind::kWua, "WUA", "wua", "/t:vscSetup/t:host/t:body/t:wua"},
}};

const FeatureKindInfo& KindInfo(FeatureKind kind);
// The kind of a feature element by its local name (exact, case-sensitive);
// null for any other name.
const FeatureKindInfo* FindKindByLocalName(std::string_view localName);
// The kind name for a feature element's local name; "" for any other name.
std::string KindNameFromLocalName(std::string_view localName);

// ---------------------------------------------------------------------------
// Common attributes of every feature element, and their values.

inline constexpr const char* kOsVersionAttribute = "osversion";
inline constexpr const char* kOs64BitAttribute = "os64bit";
inline constexpr const char* kRebootAttribute = "reboot";
inline constexpr const char* kCriticalAttribute = "critical";
inline constexpr const char* kAdaptionMomentAttribute = "adaptionmoment";
inline constexpr const char* kOsWowAttribute = "oswow";

// What an absent attribute reads as (the default given to the XPath read).
inline constexpr const char* kOsVersionNotSet = "_NotSet_";
inline constexpr const char* kRebootDefault = "no";
inline constexpr const char* kCriticalDefault = "false";
inline constexpr const char* kAdaptionMomentDefault = "afterinstallation";

// os64bit requirement.
inline constexpr int kOs64BitAny = -1;
inline constexpr int kOs64BitOnly32 = 1;  // "NO"
inline constexpr int kOs64BitOnly64 = 2;  // "YES"

// Reboot requirement; -1 also stands for a text that is not understood.
inline constexpr int kRebootUnset = -1;
inline constexpr int kRebootNone = 1;
inline constexpr int kRebootAfterInstallation = 2;
inline constexpr int kRebootBeforeInstallation = 4;

// Adaption moment; -1 also stands for a text that is not understood.
inline constexpr int kMomentUnset = -1;
inline constexpr int kMomentBeforeInstallation = 1;
inline constexpr int kMomentAfterInstallation = 2;

// Each function takes the attribute's text as read with its default. An empty
// text stands for an absent attribute, because the XPath read replaces an
// empty value by the default.
int Os64BitRequirementFromText(std::string_view text);  // "YES"/"NO" in any case; else -1
int RebootRequirementFromText(std::string_view text);   // "no"/"false" 1, before 4, after 2, else -1
bool CriticalFromText(std::string_view text);           // "true" or "yes" in any case
int AdaptionMomentFromText(std::string_view text);      // before 1, after 2, else -1
// "whileinstallation" (any case) is not merely unknown: the feature base
// rejects it with a critical error, so the caller must tell it apart.
bool IsRejectedAdaptionMoment(std::string_view text);
// The oswow request ("YES" in any case); it takes effect only on 64-bit Windows.
bool OsWowRequested(std::string_view text);

// ---------------------------------------------------------------------------
// The osversion condition.

// Relations, as the feature keeps them.
inline constexpr int kOsRelationNone = -1;
inline constexpr int kOsEqual = 1;
inline constexpr int kOsLower = 2;
inline constexpr int kOsHigher = 3;
inline constexpr int kOsHigherOrEqual = 4;
inline constexpr int kOsLowerOrEqual = 5;

struct OsVersion {
  uint32_t major = 0;
  uint32_t minor = 0;
  uint32_t servicePackMajor = 0;
  bool operator==(const OsVersion&) const = default;
};

struct OsVersionName {
  const char* name;
  uint32_t major;
  uint32_t minor;
};

// In the order they are tried at the start of the text: a longer name that
// shares its beginning with a shorter one comes first (win2008r2, win81).
inline constexpr std::array<OsVersionName, 11> kOsVersionNames = {{
    {"win2000", 5, 0},
    {"winxp", 5, 1},
    {"win2003", 5, 2},
    {"winvista", 6, 0},
    {"win2008r2", 6, 1},
    {"win2008", 6, 0},
    {"win7", 6, 1},
    {"win81", 6, 3},
    {"win8", 6, 2},
    {"win2012r2", 6, 3},
    {"win2012", 6, 2},
}};

// First step: the relational operator at the start of the text.
struct OsRelationSplit {
  int relation = kOsRelationNone;
  bool recognised = false;  // false: an error for the caller; the relation stays -1
  std::string rest;         // the text after the operator characters
};
OsRelationSplit SplitOsRelation(std::string_view text);

// Second step: the version in the text after the operator (case-insensitive):
// a version name at the start, else the number before the first "." (not at
// the start) and the single digit after it; then the digit after the first
// "sp" anywhere. found is false when the major version is 0 (a warning for
// the caller); minor and service pack keep what was read.
struct OsVersionExtract {
  OsVersion version;
  bool found = false;
};
OsVersionExtract ExtractOsVersion(std::string_view text);

// What an osversion text asks for. A required major version of 0 means no
// condition: the attribute was absent, its operator was not recognised, or no
// version was found.
struct OsCondition {
  enum class Issue { kNone, kUnknownRelation, kNoVersion };
  int relation = kOsRelationNone;
  OsVersion required;
  Issue issue = Issue::kNone;
  bool HasCondition() const { return required.major != 0; }
};

// Both steps on the attribute text (as read with the default kOsVersionNotSet).
// A feature base whose run already holds an error skips the second step; it
// calls SplitOsRelation and ExtractOsVersion itself to do so.
OsCondition ParseOsCondition(std::string_view text);

// Whether a machine running `running` fulfils the condition. Equal compares
// major and minor and asks for at least the required service pack; lower and
// higher compare (major, minor, service pack) in that order.
bool OsConditionHolds(const OsCondition& condition, const OsVersion& running);

// ---------------------------------------------------------------------------
// The product a feature element belongs to.

// Relative to the feature element's parent, tried in this order; the first
// non-empty answer names the product. In a security file one of the first two
// answers (features directly below t:body, or one level deeper); the last two
// serve the history file and the feature document, where an enclosing element
// names the product in its attribute "name".
inline constexpr std::array<const char*, 4> kProductNameQueries = {{
    "../t:products/t:product/@value",
    "../../t:products/t:product/@value",
    "@name",
    "../@name",
}};

// The first non-empty answer of `valueOf` to the queries above, or "".
// `valueOf` runs one query relative to the feature element's parent.
std::string FindProductName(const std::function<std::string(const char* query)>& valueOf);

}  // namespace secfile
