// The registry permission feature.
#include "access/RegistryPermission.h"

#include <array>
#include <cstring>

#include "infra/ErrorMgr.h"
#include "infra/Tool.h"
#include "platform/Platform.h"
#include "platform/WinError.h"
#include "platform/text/Text.h"
#include "platform/xml/XPathLiteral.h"
#include "resources/ResourceMgr.h"
#include "securityfiles/XmlServices.h"

namespace {

constexpr const char* kCurrentLabel = "CRegistryPermission::GetCurrentFeature";
constexpr const char* kAddLabel = "::AddRegistryEntriesToRegistry";
constexpr const char* kWalkLabel = "CRegistryPermission::ReplaceAllChildFileAccess";
constexpr const char* kSetLabel = "CRegistryPermission::SetFeatureToXml";
constexpr const char* kHistoryLabel = "::GetOriginalFeatureFromHistory";

constexpr std::array<PermissionRight, 11> kRegistryRights = {{
    {"t:fullControl", 0x000F003F, 111},
    {"t:queryValue", 0x00000001, 131},
    {"t:setValue", 0x00000002, 132},
    {"t:createSubKey", 0x00000004, 133},
    {"t:enumSubKey", 0x00000008, 134},
    {"t:notify", 0x00000010, 135},
    {"t:createLink", 0x00000020, 136},
    {"t:delete", 0x00010000, 121},
    {"t:writeDAC", 0x00040000, 137},
    {"t:writeOwner", 0x00080000, 138},
    {"t:readControl", 0x00020000, 139},
}};
// The masks take readControl before writeDAC and writeOwner.
constexpr std::array<size_t, 11> kRegistryRightOrder = {0, 1, 2, 3, 4, 5, 6, 7, 10, 8, 9};


constexpr std::array<ApplyOntoRow, 3> kApplyOntoReg = {{
    {"This key only", 0x0, 127},
    {"This key and subkeys", 0x2, 128},
    {"Subkeys only", 0xA, 129},
}};

constexpr int kContainerText = 130;
constexpr int kWithinContainerText = 173;
constexpr size_t kMaxValueNameChars = 255;  // of a 256-character buffer
constexpr size_t kMaxValueDataBytes = 256;

std::string ValueOf(const xml::Node& node, std::string_view xpath) {
  std::string value;
  GetXmlValue(node, xpath, &value);
  return value;
}

std::string ReplaceAll(std::string text, std::string_view from, std::string_view to) {
  for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
    text.replace(at, from.size(), to);
  }
  return text;
}

const char* TypeName(uint32_t type) {
  switch (type) {
    case plat::kRegSz: return "REG_SZ";
    case plat::kRegExpandSz: return "REG_EXPAND_SZ";
    case plat::kRegBinary: return "REG_BINARY";
    case plat::kRegDword: return "REG_DWORD";
    default: return nullptr;
  }
}

std::string StringData(std::string_view text) {
  return text::Utf16ToUtf16LeBytes(text::Utf8ToUtf16(text)) + std::string(2, '\0');
}

std::string DwordData(uint32_t value) {
  std::string data(4, '\0');
  for (int i = 0; i < 4; ++i) data[i] = static_cast<char>((value >> (8 * i)) & 0xFF);
  return data;
}

uint32_t DwordOf(std::string_view data) {
  uint32_t value = 0;
  for (size_t i = 0; i < 4 && i < data.size(); ++i) value |= static_cast<uint32_t>(static_cast<uint8_t>(data[i])) << (8 * i);
  return value;
}

// The text of a current value, as the feature reports it.
std::string ValueText(const plat::RegValue& value) {
  switch (value.type) {
    case plat::kRegDword: return std::to_string(static_cast<int32_t>(DwordOf(value.data)));
    case plat::kRegBinary: return value.data.empty() ? "0" : std::to_string(static_cast<uint8_t>(value.data[0]));
    default: {
      std::string text = text::Utf16ToUtf8(text::Utf16LeBytesToUtf16(value.data));
      return text.substr(0, text.find('\0'));
    }
  }
}

// Whether a value query says the value is there, whatever its size.
bool ValueExists(uint32_t rc) {
  return rc == winerr::kSuccess || rc == winerr::kMoreData || rc == winerr::kInsufficientBuffer;
}

}  // namespace

CRegistryPermission::CRegistryPermission() { ResetCurrentEntry(); }
CRegistryPermission::~CRegistryPermission() = default;

std::unique_ptr<CPermission> CRegistryPermission::CreateEmptyFeature() const {
  return std::make_unique<CRegistryPermission>();
}

size_t CRegistryPermission::RightCount() const { return kRegistryRights.size(); }

std::string CRegistryPermission::ObjectNameOf(std::string_view hive, std::string_view subkey) {
  std::string_view root = hive;
  if (root.starts_with("HKEY_LOCAL_")) {
    root.remove_prefix(11);
  } else if (root.starts_with("HKEY_")) {
    root.remove_prefix(5);
  }
  return std::string(root) + "\\" + std::string(subkey);
}

bool CRegistryPermission::ParseDword(std::string_view text, uint32_t* value) {
  size_t pos = 0;
  bool negative = false;
  if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) negative = text[pos++] == '-';
  unsigned base = 10;
  if (text.substr(pos, 2) == "0x" || text.substr(pos, 2) == "0X") {
    base = 16;
    pos += 2;
  } else if (pos < text.size() && text[pos] == '0') {
    base = 8;
  }
  uint64_t number = 0;
  for (; pos < text.size(); ++pos) {
    const char c = text[pos];
    unsigned digit;
    if (c >= '0' && c <= '9') {
      digit = static_cast<unsigned>(c - '0');
    } else if (c >= 'a' && c <= 'f') {
      digit = static_cast<unsigned>(c - 'a' + 10);
    } else if (c >= 'A' && c <= 'F') {
      digit = static_cast<unsigned>(c - 'A' + 10);
    } else {
      break;
    }
    if (digit >= base) break;
    number = number * base + digit;
    if (number > 0xFFFFFFFFull) return false;
  }
  if (negative) {
    if (number > 0x80000000ull) return false;
    number = (0x100000000ull - number) & 0xFFFFFFFFull;
  }
  *value = static_cast<uint32_t>(number);
  return true;
}

std::string CRegistryPermission::MessagePath() const {
  return IsOsWow() ? ReplaceAll(displayPath_, "SOFTWARE\\", "SOFTWARE\\Wow6432Node\\") : displayPath_;
}

uint32_t CRegistryPermission::ViewFlag() const { return IsOsWow() ? plat::kKeyWow64_32Key : 0; }

// ---- Reading -----------------------------------------------------------------------------

bool CRegistryPermission::GetFeatureFromXml(CErrorMgr& errorMgr, const xml::Node& node, std::string_view sessionId) {
  if (!InitFeatureFromNode(errorMgr, node, sessionId)) return false;
  GetInheritanceSettings(node);
  hive_ = ValueOf(node, "@hkey");
  subkey_ = ValueOf(node, "@value");
  displayPath_ = hive_ + "\\" + subkey_;
  path_ = ObjectNameOf(hive_, subkey_);
  for (const xml::Node key : node.SelectNodes("t:key")) {
    values_.push_back({ValueOf(key, "@name"), ValueOf(key, "@keytype"), ValueOf(key, "@value")});
  }
  for (const xml::Node entry : node.SelectNodes("t:registryPermissions")) {
    current_.user = ValueOf(entry, "@user");
    current_.domain = ValueOf(entry, "@domain");
    current_.applyOnto = ValueOf(entry, "@applyOntoReg");
    current_.applyWithinThisContainerOnly = text::AsciiLower(ValueOf(entry, "@applyWithinThisContainerOnly")) == "true";
    ReadRights(entry, kRegistryRights);
    AddCurrentEntry();
  }
  return true;
}

void CRegistryPermission::CopyObjectFrom(const CPermission& templateFeature) {
  CPermission::CopyObjectFrom(templateFeature);
  const auto& other = static_cast<const CRegistryPermission&>(templateFeature);
  hive_ = other.hive_;
  subkey_ = other.subkey_;
  displayPath_ = other.displayPath_;
}

// ---- Rights --------------------------------------------------------------------------------

bool CRegistryPermission::GetAccessMasks(CErrorMgr& errorMgr, uint32_t* allowMask, uint32_t* denyMask) {
  return AccessMasksOf(errorMgr, kRegistryRights, kRegistryRightOrder, allowMask, denyMask);
}

uint8_t CRegistryPermission::GetInheritanceFlags() const { return InheritanceFlagsOf(kApplyOntoReg); }

void CRegistryPermission::AddEntryFromAce(const CPermission& templateFeature, uint32_t mask, uint8_t aceFlags,
                                          const std::string& name, const std::string& domain, bool allowed) {
  SetEntryFromAce(kApplyOntoReg, kRegistryRights, mask, aceFlags, name, domain, allowed);
  current_.inheritFromParentToChild = templateFeature.CurrentEntry().inheritFromParentToChild;
  CopyObjectFrom(templateFeature);
  values_ = ReadCurrentValues();
  AddCurrentEntry();
}

// ---- The key and its values -------------------------------------------------------------------

bool CRegistryPermission::WriteValue(CErrorMgr& errorMgr, plat::HKey key, const RegistryValueEntry& entry) {
  errorMgr.AddMessageF(kLevelInfo, kAddLabel, "  Create  name=%s  with  type=%s", entry.name.c_str(),
                       entry.keytype.c_str());
  uint32_t type;
  std::string data;
  if (entry.keytype == "REG_SZ" || entry.keytype == "REG_EXPAND_SZ") {
    type = entry.keytype == "REG_SZ" ? plat::kRegSz : plat::kRegExpandSz;
    data = StringData(entry.value);
  } else if (entry.keytype == "REG_DWORD") {
    uint32_t number = 0;
    if (!ParseDword(entry.value, &number)) {
      errorMgr.AddMessageF(kLevelError, kAddLabel,
                           "  The value '%s' of Regname=%s does not fit a REG_DWORD (32 bits); it is not written",
                           entry.value.c_str(), entry.name.c_str());
      return false;
    }
    type = plat::kRegDword;
    data = DwordData(number);
  } else {
    errorMgr.AddMessageF(kLevelError, kAddLabel, "  unknown  KeyType=%s  for Regname=%s", entry.keytype.c_str(),
                         entry.name.c_str());
    return false;
  }
  if (const uint32_t rc = plat::Current().Registry().SetValue(key, entry.name, type, data)) {
    errorMgr.AddMessageF(kLevelError, kAddLabel,
                         "Creating key value with RegSetValueEx(name='%s', value='%s', type='%s') failed error=%d",
                         entry.name.c_str(), entry.value.c_str(), entry.keytype.c_str(), static_cast<int>(rc));
    return false;
  }
  errorMgr.AddMessage(kLevelInfo, kAddLabel, "  Key created successfully");
  return true;
}

void CRegistryPermission::AddRegistryEntriesToRegistry(CErrorMgr& errorMgr) {
  plat::IRegistry& registry = plat::Current().Registry();
  const plat::HKey root = CTool::GetRootKeyFromName(hive_);
  if (IsOsWow()) errorMgr.AddMessage(kLevelDebug, kAddLabel, "    RegOpenKeyEx for WOW Registry");
  const uint32_t access = plat::kKeyWrite | ViewFlag();
  const std::string shown = MessagePath();
  plat::HKey key = plat::kNullKey;
  uint32_t rc = registry.OpenKey(root, subkey_, access, &key);
  if (rc == winerr::kFileNotFound) {
    bool created = false;
    rc = registry.CreateKey(root, subkey_, access, &key, &created);
    if (rc != winerr::kSuccess) {
      errorMgr.AddMessageF(kLevelError, kAddLabel, "Creating Key '%s' failed! Error=%d", shown.c_str(),
                           static_cast<int>(rc));
      return;
    }
    errorMgr.AddMessageF(kLevelInfo, kAddLabel, "    Key created: '%s'", shown.c_str());
  } else if (rc != winerr::kSuccess) {
    errorMgr.AddMessageF(kLevelError, kAddLabel, "RegOpenKeyEx(%s) failed! Maybe no write permissions?? Error=%d",
                         shown.c_str(), static_cast<int>(rc));
    return;
  }
  for (const RegistryValueEntry& entry : values_) WriteValue(errorMgr, key, entry);
  registry.CloseKey(key);
}

void CRegistryPermission::EnsureKeyAndValues(CErrorMgr& errorMgr) {
  const std::string shown = MessagePath();
  if (!CTool::RegistryKeyExists(hive_, subkey_, IsOsWow())) {
    errorMgr.AddMessageF(kLevelWarning, kCurrentLabel,
                         "    Registry path='%s' does not exist. Tarvo will add the missing value.", shown.c_str());
    AddRegistryEntriesToRegistry(errorMgr);
    return;
  }
  errorMgr.AddMessageF(kLevelInfo, kCurrentLabel, "    Registry path='%s' exists", shown.c_str());
  if (IsOsWow()) errorMgr.AddMessage(kLevelInfo, kCurrentLabel, "    RegOpenKeyEx for WOW registry");
  plat::IRegistry& registry = plat::Current().Registry();
  plat::HKey key = plat::kNullKey;
  const uint32_t access = plat::kKeyQueryValue | plat::kKeySetValue | plat::kKeyCreateSubKey | ViewFlag();
  const bool opened = registry.OpenKey(CTool::GetRootKeyFromName(hive_), subkey_, access, &key) == winerr::kSuccess;
  bool missing = false;
  for (const RegistryValueEntry& entry : values_) {
    plat::RegValue value;
    uint32_t required = 0;
    // A zero-sized buffer asks for type and size only.
    const bool exists = opened && ValueExists(registry.QueryValue(key, entry.name, &value, &required, 0));
    if (exists) {
      errorMgr.AddMessageF(kLevelInfo, kCurrentLabel, "    Regname '%s' exist at Regkey '%s'", entry.name.c_str(),
                           shown.c_str());
    } else {
      errorMgr.AddMessageF(kLevelInfo, kCurrentLabel, "    Regname '%s' does NOT exist at Regkey '%s'",
                           entry.name.c_str(), shown.c_str());
      missing = true;
    }
  }
  if (opened) registry.CloseKey(key);
  if (missing) AddRegistryEntriesToRegistry(errorMgr);
}

std::vector<RegistryValueEntry> CRegistryPermission::ReadCurrentValues() const {
  std::vector<RegistryValueEntry> values;
  plat::IRegistry& registry = plat::Current().Registry();
  plat::HKey key = plat::kNullKey;
  if (registry.OpenKey(CTool::GetRootKeyFromName(hive_), subkey_, plat::kKeyAllAccess | ViewFlag(), &key) !=
      winerr::kSuccess) {
    return values;
  }
  for (uint32_t index = 0;; ++index) {
    std::string name;
    plat::RegValue value;
    const uint32_t rc = registry.EnumValue(key, index, &name, &value);
    if (rc == winerr::kNoMoreItems) break;
    // What does not fit the buffers of the read is skipped, as is a type
    // this feature cannot name.
    if (rc != winerr::kSuccess || text::Utf8ToUtf16(name).size() > kMaxValueNameChars ||
        value.data.size() > kMaxValueDataBytes) {
      continue;
    }
    const char* type = TypeName(value.type);
    if (type != nullptr) values.push_back({name, type, ValueText(value)});
  }
  registry.CloseKey(key);
  return values;
}

// ---- Applying and the current state ---------------------------------------------------------

std::unique_ptr<CFeature> CRegistryPermission::GetCurrentFeature(CErrorMgr& errorMgr) {
  EnsureKeyAndValues(errorMgr);
  return CPermission::GetCurrentFeature(errorMgr);
}

// The key and values are made here too: a run that logs no current values
// (OnlyTarget) would otherwise merge a DACL into a key that is not there.
bool CRegistryPermission::ApplyFeature(CErrorMgr& errorMgr) {
  EnsureKeyAndValues(errorMgr);
  GrantDenyAccessToUser(errorMgr, plat::SeObjectType::kRegistryKey, current_.replaceAllChild == 1);
  return !errorMgr.IsError();
}

// Walks the keys below with a list of keys still to visit. Each key is
// opened only to enumerate it, so a DACL just written without write rights
// for the caller does not stop the walk; a key whose DACL cannot be written
// is reported by its own name and not entered.
uint32_t CRegistryPermission::ReplaceAllChildFileAccess(CErrorMgr& errorMgr, const std::string& objectName,
                                                        plat::SeObjectType objectType,
                                                        const std::vector<winsec::ExplicitAccess>& records,
                                                        bool parentToChild) {
  plat::IRegistry& registry = plat::Current().Registry();
  const plat::HKey root = CTool::GetRootKeyFromName(hive_);
  if (IsOsWow()) errorMgr.AddMessage(kLevelDebug, kWalkLabel, "  RegOpenKeyEx for 32bit registry");
  const uint32_t access = plat::kKeyQueryValue | plat::kKeyEnumerateSubKeys | ViewFlag();
  struct Pending {
    std::string subkey;
    std::string objectName;
  };
  std::vector<Pending> keys = {{subkey_, objectName}};
  while (!keys.empty()) {
    const Pending parent = keys.back();
    keys.pop_back();
    plat::HKey key = plat::kNullKey;
    if (registry.OpenKey(root, parent.subkey, access, &key) != winerr::kSuccess) {
      errorMgr.AddMessageF(kLevelError, kWalkLabel,
                           "Error: RegOpenKeyEx(%s) failed. Node could not be opened: Lack of permissions?",
                           parent.objectName.c_str());
      continue;
    }
    std::vector<std::string> children;
    std::string name;
    for (uint32_t index = 0; registry.EnumKey(key, index, &name) == winerr::kSuccess; ++index) children.push_back(name);
    registry.CloseKey(key);
    for (const std::string& child : children) {
      const Pending next{parent.subkey + "\\" + child, parent.objectName + "\\" + child};
      const uint32_t rc =
          AddAceToObjectsSecurityDescriptor(errorMgr, next.objectName, objectType, records, true, parentToChild);
      if (rc != winerr::kSuccess) {
        errorMgr.AddMessageF(kLevelError, kWalkLabel, "AceToObjectsSecurityDescriptor(%s) failed %d",
                             next.objectName.c_str(), static_cast<int>(rc));
        continue;
      }
      keys.push_back(next);
    }
  }
  return winerr::kSuccess;
}

// ---- Writing -----------------------------------------------------------------------------------

bool CRegistryPermission::WriteCurrentEntry(CErrorMgr& errorMgr, const xml::Node& root, bool withMessage,
                                            xml::Node* pathElement) {
  const auto text = [withMessage](int number) { return ResourceTextIf(withMessage, number); };
  const xml::Node container = GetOrCreateChildElement(root, "t:registry", text(kContainerText));
  if (container.IsNull()) return false;
  xml::Node element = container.FindChild("t:path", {{"value", subkey_}, {"hkey", hive_}});
  if (element.IsNull()) element = container.AppendChild(container.OwnerDocument().CreateElement("t:path"));
  SetXmlAttribute(element, "hkey", hive_);
  SetXmlAttribute(element, "value", subkey_);
  SetCommonAttributesToXml(element);
  *pathElement = element;
  for (const RegistryValueEntry& value : values_) {
    xml::Node key = element.FindChild("t:key", {{"name", value.name}});
    if (key.IsNull()) key = element.AppendChild(element.OwnerDocument().CreateElement("t:key"));
    SetXmlAttribute(key, "name", value.name);
    SetXmlAttribute(key, "keytype", value.keytype);
    SetXmlAttribute(key, "value", value.value);
  }
  if (withMessage) AddRequestingProgram(element, GetProductName());
  if (current_.applyOnto.empty()) return true;

  xml::Node entry = element.FindChild("t:registryPermissions", {{"user", current_.user},
                                                                {"domain", current_.domain},
                                                                {"applyOntoReg", current_.applyOnto}});
  if (entry.IsNull()) entry = element.AppendChild(element.OwnerDocument().CreateElement("t:registryPermissions"));
  if (withMessage) {
    const ApplyOntoRow* row = FindApplyOnto(kApplyOntoReg, current_.applyOnto);
    if (row == nullptr) {
      errorMgr.AddMessageF(kLevelError, kSetLabel,
                           "Internal error applyOntoReg value '%s' is not known. Happend in product %s",
                           current_.applyOnto.c_str(), GetProductName().c_str());
      return false;
    }
    SetXmlAttribute(entry, "message", text(row->message));
  }
  SetXmlAttribute(entry, "user", current_.user);
  SetXmlAttribute(entry, "domain", current_.domain);
  SetXmlAttribute(entry, "applyOntoReg", current_.applyOnto);
  SetXmlAttribute(entry, "applyWithinThisContainerOnly", current_.applyWithinThisContainerOnly ? "true" : "false");
  if (withMessage) SetXmlAttribute(entry, "message2", text(kWithinContainerText));
  SetRightsToXml(entry, kRegistryRights, withMessage);
  SetInheritanceSettingsToXml(element, withMessage);
  return true;
}

xml::Node CRegistryPermission::SetFeatureToXml(CErrorMgr& errorMgr, const xml::Node& pRootNode, bool withMessage) {
  return SetEntriesToXml(errorMgr, pRootNode, withMessage, kSetLabel, "Tarvo");
}

std::unique_ptr<CFeature> CRegistryPermission::GetOriginalFeatureFromHistory(CErrorMgr& errorMgr, bool /*undo*/) {
  if (errorMgr.IsError()) return nullptr;
  const xml::Node element = SelectFromHistory(errorMgr, "t:registry/t:path[@hkey=" + xml::XPathLiteral(hive_) +
                                                          " and @value=" + xml::XPathLiteral(subkey_) + "]");
  if (element.IsNull()) {
    errorMgr.AddMessageF(kLevelError, kHistoryLabel,
                         "There is no feature for path '%s' in the history file, so it's impossible to get original "
                         "RegistryPermission value for this features",
                         path_.c_str());
    return nullptr;
  }
  auto original = std::make_unique<CRegistryPermission>();
  original->GetFeatureFromXml(errorMgr, element, GetSessionId());
  return original;
}
