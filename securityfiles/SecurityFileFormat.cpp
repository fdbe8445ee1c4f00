// The security file's namespaces, paths, feature kinds and common attributes.
#include "securityfiles/SecurityFileFormat.h"

#include <climits>
#include <cstddef>
#include <tuple>

#include "platform/text/Text.h"

namespace secfile {

namespace {

// KindInfo indexes the table by the enumerator, so the two orders must agree.
constexpr bool KindTableFollowsEnumOrder() {
  for (size_t i = 0; i < kFeatureKinds.size(); ++i) {
    if (static_cast<size_t>(kFeatureKinds[i].kind) != i) return false;
  }
  return true;
}
static_assert(KindTableFollowsEnumOrder(), "kFeatureKinds must list the kinds in enumerator order");

// An empty attribute text reads as the default, as the XPath read gives it.
std::string LowerOrDefault(std::string_view text, const char* fallback) {
  return text::AsciiLower(text.empty() ? std::string_view(fallback) : text);
}

std::string TrimLeftAnyOf(std::string_view text, std::string_view characters) {
  const size_t first = text.find_first_not_of(characters);
  return first == std::string_view::npos ? std::string() : std::string(text.substr(first));
}

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// The number at the start of a text as the C library's atoi reads it:
// leading blanks, an optional sign, then digits up to the first other
// character; 0 when there are none. Out-of-range values saturate.
int32_t LeadingNumber(std::string_view text) {
  size_t i = 0;
  while (i < text.size() && IsBlank(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  int64_t value = 0;
  for (; i < text.size() && IsDigit(text[i]); ++i) {
    value = value * 10 + (text[i] - '0');
    if (value > static_cast<int64_t>(INT_MAX) + 1) break;
  }
  if (negative) value = -value;
  if (value > INT_MAX) return INT_MAX;
  if (value < INT_MIN) return INT_MIN;
  return static_cast<int32_t>(value);
}

// The value of the single character at `index`; 0 past the end or for a non-digit.
uint32_t DigitAt(std::string_view text, size_t index) {
  return index < text.size() && IsDigit(text[index]) ? static_cast<uint32_t>(text[index] - '0') : 0;
}

// A version name at the start of the (lower-case) text sets major and minor.
bool MatchVersionName(std::string_view lower, OsVersion* version) {
  for (const OsVersionName& name : kOsVersionNames) {
    if (lower.starts_with(name.name)) {
      version->major = name.major;
      version->minor = name.minor;
      return true;
    }
  }
  return false;
}

// major.minor: a "." at the very start gives no version.
void MatchNumericVersion(std::string_view lower, OsVersion* version) {
  const size_t dot = lower.find('.');
  if (dot == std::string_view::npos || dot == 0) return;
  // The major member is unsigned, as in the Windows version record; a
  // negative number wraps as it does there.
  version->major = static_cast<uint32_t>(LeadingNumber(lower.substr(0, dot)));
  version->minor = DigitAt(lower, dot + 1);
}

}  // namespace

std::string WrittenSchemaLocation() {
  return std::string(kSecurityFileNamespace) + " " + kWrittenSchemaFileName;
}

const FeatureKindInfo& KindInfo(FeatureKind kind) { return kFeatureKinds[static_cast<size_t>(kind)]; }

const FeatureKindInfo* FindKindByLocalName(std::string_view localName) {
  for (const FeatureKindInfo& info : kFeatureKinds) {
    if (localName == info.localName) return &info;
  }
  return nullptr;
}

std::string KindNameFromLocalName(std::string_view localName) {
  const FeatureKindInfo* info = FindKindByLocalName(localName);
  return info ? info->kindName : "";
}

int Os64BitRequirementFromText(std::string_view text) {
  const std::string upper = text::AsciiUpper(text);
  if (upper == "YES") return kOs64BitOnly64;
  if (upper == "NO") return kOs64BitOnly32;
  return kOs64BitAny;
}

int RebootRequirementFromText(std::string_view text) {
  const std::string lower = LowerOrDefault(text, kRebootDefault);
  if (lower == "no" || lower == "false") return kRebootNone;
  if (lower == "beforeinstallation") return kRebootBeforeInstallation;
  if (lower == "afterinstallation") return kRebootAfterInstallation;
  return kRebootUnset;
}

bool CriticalFromText(std::string_view text) {
  const std::string lower = LowerOrDefault(text, kCriticalDefault);
  return lower == "true" || lower == "yes";
}

int AdaptionMomentFromText(std::string_view text) {
  const std::string lower = LowerOrDefault(text, kAdaptionMomentDefault);
  if (lower == "afterinstallation") return kMomentAfterInstallation;
  if (lower == "beforeinstallation") return kMomentBeforeInstallation;
  return kMomentUnset;
}

bool IsRejectedAdaptionMoment(std::string_view text) { return text::AsciiLower(text) == "whileinstallation"; }

bool OsWowRequested(std::string_view text) { return text::AsciiUpper(text) == "YES"; }

OsRelationSplit SplitOsRelation(std::string_view text) {
  // The first matching rule wins, so "=" is tested before "+=" and "-="
  // before "-". Each rule strips every leading operator character it names.
  OsRelationSplit split;
  split.recognised = true;
  if (text.starts_with('=')) {
    split.relation = kOsEqual;
    split.rest = TrimLeftAnyOf(text, "=");
  } else if (text.starts_with('w') || text.starts_with('W')) {
    split.relation = kOsEqual;  // a version name alone means "equal"
    split.rest = std::string(text);
  } else if (text.starts_with("+=")) {
    split.relation = kOsHigherOrEqual;
    split.rest = TrimLeftAnyOf(text, "+=");
  } else if (text.starts_with("-=")) {
    split.relation = kOsLowerOrEqual;
    split.rest = TrimLeftAnyOf(text, "-=");
  } else if (text.starts_with('-')) {
    split.relation = kOsLower;
    split.rest = TrimLeftAnyOf(text, "-");
  } else if (text.starts_with('+')) {
    split.relation = kOsHigher;
    split.rest = TrimLeftAnyOf(text, "+");
  } else {
    split.recognised = false;
    split.rest = std::string(text);
  }
  return split;
}

OsVersionExtract ExtractOsVersion(std::string_view text) {
  const std::string lower = text::AsciiLower(text);
  OsVersionExtract result;
  if (!MatchVersionName(lower, &result.version)) MatchNumericVersion(lower, &result.version);
  const size_t sp = lower.find("sp");
  if (sp != std::string::npos) result.version.servicePackMajor = DigitAt(lower, sp + 2);
  result.found = result.version.major != 0;
  return result;
}

OsCondition ParseOsCondition(std::string_view text) {
  OsCondition condition;
  if (text.empty() || text == kOsVersionNotSet) return condition;
  const OsRelationSplit split = SplitOsRelation(text);
  if (!split.recognised) {
    // The version after an unknown operator is not read: no condition at all.
    condition.issue = OsCondition::Issue::kUnknownRelation;
    return condition;
  }
  const OsVersionExtract extract = ExtractOsVersion(split.rest);
  condition.relation = split.relation;
  condition.required = extract.version;
  if (!extract.found) condition.issue = OsCondition::Issue::kNoVersion;
  return condition;
}

bool OsConditionHolds(const OsCondition& condition, const OsVersion& running) {
  const OsVersion& required = condition.required;
  if (required.major == 0) return true;
  const auto have = std::tie(running.major, running.minor, running.servicePackMajor);
  const auto want = std::tie(required.major, required.minor, required.servicePackMajor);
  switch (condition.relation) {
    case kOsEqual:
      // A later service pack still counts as the same version.
      return running.major == required.major && running.minor == required.minor &&
             running.servicePackMajor >= required.servicePackMajor;
    case kOsLower:
      return have < want;
    case kOsHigher:
      return have > want;
    case kOsHigherOrEqual:
      return !(have < want);
    case kOsLowerOrEqual:
      return !(have > want);
    default:
      return false;
  }
}

std::string FindProductName(const std::function<std::string(const char* query)>& valueOf) {
  for (const char* query : kProductNameQueries) {
    std::string value = valueOf(query);
    if (!value.empty()) return value;
  }
  return "";
}

}  // namespace secfile
