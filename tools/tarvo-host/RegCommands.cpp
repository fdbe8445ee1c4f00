// tarvo-host reg: query, add, delete, export and import registry keys of the
// host with the arguments and output shape of the Windows reg command. The
// tool never prompts, so where reg asks for a confirmation (deleting, an
// existing value or file) it wants /f or /y instead.
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>

#include "platform/Registry.h"
#include "platform/WinError.h"
#include "platform/text/Text.h"
#include "tools/tarvo-host/HostCommands.h"
#include "tools/tarvo-host/Json.h"
#include "tools/tarvo-host/RegFile.h"

namespace hosttool {
namespace {

namespace fs = std::filesystem;

constexpr const char* kDone = "The operation completed successfully.";

// ---- Arguments ------------------------------------------------------------

enum Option : unsigned {
  kOptValue = 1u << 0,         // /v NAME
  kOptDefault = 1u << 1,       // /ve
  kOptAllValues = 1u << 2,     // /va
  kOptRecurse = 1u << 3,       // /s (query)
  kOptSeparator = 1u << 4,     // /s CHAR (add)
  kOptForce = 1u << 5,         // /f
  kOptType = 1u << 6,          // /t TYPE
  kOptData = 1u << 7,          // /d DATA
  kOptView = 1u << 8,          // /reg:32, /reg:64
  kOptOverwriteFile = 1u << 9  // /y
};

struct RegArgs {
  std::vector<std::string> positional;
  unsigned given = 0;
  std::string valueName, type, data, separator;
  uint32_t viewSam = 0;

  bool Has(Option option) const { return (given & option) != 0; }
};

struct OptionSpelling {
  const char* name;  // without the leading / or -
  Option option;
  bool takesValue;
};

// `recurseIsSeparator`: /s is the REG_MULTI_SZ separator of add, a flag elsewhere.
std::optional<OptionSpelling> FindOption(const std::string& arg, bool recurseIsSeparator) {
  if (arg.size() < 2 || (arg[0] != '/' && arg[0] != '-')) return std::nullopt;
  static const OptionSpelling kOptions[] = {
      {"v", kOptValue, true},          {"ve", kOptDefault, false},   {"va", kOptAllValues, false},
      {"f", kOptForce, false},         {"t", kOptType, true},        {"d", kOptData, true},
      {"reg:32", kOptView, false},     {"reg:64", kOptView, false},  {"y", kOptOverwriteFile, false},
  };
  const std::string name = text::AsciiLower(std::string_view(arg).substr(1));
  if (name == "s") {
    return recurseIsSeparator ? OptionSpelling{"s", kOptSeparator, true} : OptionSpelling{"s", kOptRecurse, false};
  }
  for (const OptionSpelling& spelling : kOptions) {
    if (name == spelling.name) return spelling;
  }
  return std::nullopt;
}

void StoreOption(const OptionSpelling& spelling, const std::string& value, RegArgs* args) {
  switch (spelling.option) {
    case kOptValue: args->valueName = value; break;
    case kOptType: args->type = value; break;
    case kOptData: args->data = value; break;
    case kOptSeparator: args->separator = value; break;
    case kOptView:
      args->viewSam = std::string_view(spelling.name) == "reg:32" ? plat::kKeyWow64_32Key : plat::kKeyWow64_64Key;
      break;
    default: break;
  }
}

// Splits the arguments of one operation into positional ones and the
// options in `allowed`. Anything that is not an option is positional, so
// Linux paths such as /tmp/x.reg pass through.
bool ParseArgs(const std::string& operation, const std::vector<std::string>& raw, unsigned allowed, RegArgs* args,
               std::string* error) {
  for (size_t i = 0; i < raw.size(); ++i) {
    const auto spelling = FindOption(raw[i], operation == "add");
    if (!spelling) {
      args->positional.push_back(raw[i]);
      continue;
    }
    if (!(allowed & spelling->option)) {
      *error = "reg " + operation + ": " + raw[i] + " is not an option of " + operation;
      return false;
    }
    if (args->Has(spelling->option)) {
      *error = "reg " + operation + ": " +
               (spelling->option == kOptView ? "use only one of /reg:32 and /reg:64" : raw[i] + " given twice");
      return false;
    }
    std::string value;
    if (spelling->takesValue) {
      if (i + 1 >= raw.size()) {
        *error = "reg " + operation + ": " + raw[i] + " needs a value";
        return false;
      }
      value = raw[++i];
    }
    args->given |= spelling->option;
    StoreOption(*spelling, value, args);
  }
  if ((args->Has(kOptValue) + args->Has(kOptDefault) + args->Has(kOptAllValues)) > 1) {
    *error = "reg " + operation + ": use only one of /v, /ve and /va";
    return false;
  }
  return true;
}

bool ExpectPositional(const std::string& operation, const RegArgs& args, size_t count, const char* what,
                      std::string* error) {
  if (args.positional.size() == count) return true;
  if (args.positional.size() < count) {
    *error = "reg " + operation + ": missing " + what;
  } else {
    *error = "reg " + operation + ": unexpected argument '" + args.positional[count] + "' (expected " + what + ")";
  }
  return false;
}

struct KeyArg {
  plat::HKey root = plat::kNullKey;
  std::string subKey;
  std::string display;  // full root name and the sub key as typed
};

bool ParseKeyArg(const std::string& spelling, KeyArg* key, std::string* error) {
  if (spelling.starts_with("\\\\")) {
    *error = "reg: remote registries are not supported";
    return false;
  }
  std::string why;
  if (!SplitRootedPath(spelling, true, &key->root, &key->subKey, &why)) {
    *error = "reg: " + why + " (use HKLM, HKCU, HKCR, HKU or HKCC)";
    return false;
  }
  key->display = std::string(RootKeyName(key->root)) + (key->subKey.empty() ? "" : "\\" + key->subKey);
  return true;
}

// The message of a failed registry call, empty for success.
std::string RcMessage(uint32_t rc) { return rc ? "reg: " + RegistryErrorText(rc) : std::string(); }

// ---- Value types and data -------------------------------------------------

struct TypeName {
  uint32_t type;
  const char* name;
};

constexpr TypeName kTypeNames[] = {
    {plat::kRegNone, "REG_NONE"},
    {plat::kRegSz, "REG_SZ"},
    {plat::kRegExpandSz, "REG_EXPAND_SZ"},
    {plat::kRegBinary, "REG_BINARY"},
    {plat::kRegDword, "REG_DWORD"},
    {plat::kRegDwordBigEndian, "REG_DWORD_BIG_ENDIAN"},
    {plat::kRegLink, "REG_LINK"},
    {plat::kRegMultiSz, "REG_MULTI_SZ"},
    {8, "REG_RESOURCE_LIST"},
    {9, "REG_FULL_RESOURCE_DESCRIPTOR"},
    {10, "REG_RESOURCE_REQUIREMENTS_LIST"},
    {plat::kRegQword, "REG_QWORD"},
};

std::string TypeNameOf(uint32_t type) {
  for (const TypeName& t : kTypeNames) {
    if (t.type == type) return t.name;
  }
  return text::Format("REG_UNKNOWN(0x%x)", type);
}

std::string HexUpper(std::string_view bytes) {
  std::string out;
  for (unsigned char b : bytes) out += text::Format("%02X", b);
  return out;
}

std::string HexLower(std::string_view bytes) {
  std::string out;
  for (unsigned char b : bytes) out += text::Format("%02x", b);
  return out;
}

// The data as reg query shows it.
std::string DisplayData(const plat::RegValue& value) {
  switch (value.type) {
    case plat::kRegSz:
    case plat::kRegExpandSz: return plat::RegSzText(value.data);
    case plat::kRegMultiSz: {
      std::string joined;
      for (const std::string& item : plat::RegMultiSzItems(value.data)) joined += (joined.empty() ? "" : "\\0") + item;
      return joined;
    }
    case plat::kRegDword:
      if (value.data.size() == 4) return text::Format("0x%x", plat::RegDwordValue(value.data));
      break;
    case plat::kRegQword:
      if (value.data.size() == 8) {
        return text::Format("0x%llx", static_cast<unsigned long long>(plat::RegQwordValue(value.data)));
      }
      break;
    default: break;
  }
  return HexUpper(value.data);
}

// Decimal, or hexadecimal after 0x, up to `max`.
bool ParseNumber(std::string_view s, uint64_t max, uint64_t* number) {
  unsigned base = 10;
  if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
    base = 16;
    s.remove_prefix(2);
  }
  if (s.empty()) return false;
  uint64_t n = 0;
  for (char c : s) {
    unsigned digit = 0;
    if (c >= '0' && c <= '9') {
      digit = static_cast<unsigned>(c - '0');
    } else if (base == 16 && c >= 'a' && c <= 'f') {
      digit = static_cast<unsigned>(c - 'a' + 10);
    } else if (base == 16 && c >= 'A' && c <= 'F') {
      digit = static_cast<unsigned>(c - 'A' + 10);
    } else {
      return false;
    }
    if (n > (max - digit) / base) return false;
    n = n * base + digit;
  }
  *number = n;
  return true;
}

bool ParseHexData(std::string_view s, std::string* bytes) {
  if (s.size() % 2 != 0) return false;
  for (size_t i = 0; i < s.size(); i += 2) {
    uint64_t byte = 0;
    if (!ParseNumber("0x" + std::string(s.substr(i, 2)), 0xFF, &byte)) return false;
    bytes->push_back(static_cast<char>(byte));
  }
  return true;
}

// reg's REG_MULTI_SZ data: items split at the separator, "\0" unless /s
// names one character. A separator at the very end is allowed; an empty
// item elsewhere is not, as a multi-string cannot hold one.
bool ParseMultiSz(const std::string& data, const std::string& separator, std::vector<std::string>* items) {
  if (data.empty()) return true;
  size_t start = 0;
  while (true) {
    const size_t end = data.find(separator, start);
    const std::string item = data.substr(start, end == std::string::npos ? std::string::npos : end - start);
    if (end == std::string::npos) {
      if (item.empty()) return true;  // after a trailing separator
      items->push_back(item);
      return true;
    }
    if (item.empty()) return false;
    items->push_back(item);
    start = end + separator.size();
  }
}

// The stored form of /t TYPE /d DATA.
bool EncodeData(const RegArgs& args, plat::RegValue* value, std::string* error) {
  const std::string typeName = args.Has(kOptType) ? text::AsciiUpper(args.type) : "REG_SZ";
  const std::string& data = args.data;
  const bool noData = !args.Has(kOptData);
  auto bad = [&](const char* what) {
    *error = "reg add: invalid " + typeName + " data '" + data + "' (" + what + ")";
    return false;
  };
  if (args.Has(kOptSeparator) && typeName != "REG_MULTI_SZ") {
    *error = "reg add: /s is only for REG_MULTI_SZ";
    return false;
  }
  uint64_t number = 0;
  if (typeName == "REG_SZ" || typeName == "REG_EXPAND_SZ") {
    *value = {typeName == "REG_SZ" ? plat::kRegSz : plat::kRegExpandSz, plat::MakeRegSz(data)};
  } else if (typeName == "REG_MULTI_SZ") {
    const std::string separator = args.Has(kOptSeparator) ? args.separator : "\\0";
    if (separator.empty() || (args.Has(kOptSeparator) && text::Utf8ToUtf16(separator).size() != 1)) {
      *error = "reg add: /s needs one character";
      return false;
    }
    std::vector<std::string> items;
    if (!ParseMultiSz(data, separator, &items)) return bad("an empty string inside the list");
    *value = {plat::kRegMultiSz, plat::MakeRegMultiSz(items)};
  } else if (typeName == "REG_DWORD" || typeName == "REG_DWORD_LITTLE_ENDIAN" ||
             typeName == "REG_DWORD_BIG_ENDIAN") {
    if (!noData && !ParseNumber(data, 0xFFFFFFFFu, &number)) return bad("0 to 4294967295, or 0x0 to 0xffffffff");
    std::string bytes = plat::MakeRegDword(static_cast<uint32_t>(number));
    if (typeName == "REG_DWORD_BIG_ENDIAN") {
      *value = {plat::kRegDwordBigEndian, std::string(bytes.rbegin(), bytes.rend())};
    } else {
      *value = {plat::kRegDword, bytes};
    }
  } else if (typeName == "REG_QWORD") {
    if (!noData && !ParseNumber(data, UINT64_MAX, &number)) return bad("a 64-bit number, decimal or 0x hex");
    *value = {plat::kRegQword, plat::MakeRegQword(number)};
  } else if (typeName == "REG_BINARY" || typeName == "REG_NONE") {
    std::string bytes;
    if (!ParseHexData(data, &bytes)) return bad("an even number of hex digits");
    *value = {typeName == "REG_BINARY" ? plat::kRegBinary : plat::kRegNone, bytes};
  } else {
    *error = "reg add: unknown type '" + args.type +
             "' (use REG_SZ, REG_EXPAND_SZ, REG_MULTI_SZ, REG_DWORD, REG_QWORD, REG_BINARY or REG_NONE)";
    return false;
  }
  return true;
}

// ---- Query ----------------------------------------------------------------

struct NamedValue {
  std::string name;
  plat::RegValue value;
};

struct KeyListing {
  std::string path;
  std::vector<NamedValue> values;
  std::vector<std::string> subKeys;
};

uint32_t ReadListing(plat::IRegistry& registry, plat::HKey key, const std::string& path, KeyListing* listing) {
  listing->path = path;
  for (uint32_t index = 0;; ++index) {
    NamedValue entry;
    const uint32_t rc = registry.EnumValue(key, index, &entry.name, &entry.value);
    if (rc == winerr::kNoMoreItems) break;
    if (rc) return rc;
    listing->values.push_back(std::move(entry));
  }
  for (uint32_t index = 0;; ++index) {
    std::string name;
    const uint32_t rc = registry.EnumKey(key, index, &name);
    if (rc == winerr::kNoMoreItems) break;
    if (rc) return rc;
    listing->subKeys.push_back(std::move(name));
  }
  return winerr::kSuccess;
}

// A key's listing and, with `recurse`, its subtree in the order reg /s
// prints it; `leftOut` names the first key too deep to be listed.
uint32_t CollectListings(plat::IRegistry& registry, plat::HKey key, const std::string& path, size_t depth,
                         uint32_t viewSam, bool recurse, std::vector<KeyListing>* listings, std::string* leftOut) {
  return WalkKeyTree(
      registry, key, path, depth, viewSam,
      [&](plat::HKey visited, const std::string& visitedPath, std::vector<std::string>* children) {
        listings->emplace_back();
        if (uint32_t rc = ReadListing(registry, visited, visitedPath, &listings->back())) return rc;
        if (recurse) *children = listings->back().subKeys;
        return winerr::kSuccess;
      },
      leftOut);
}

void NoteLeftOut(CommandContext& c, const std::string& operation, const std::string& leftOut) {
  if (leftOut.empty()) return;
  c.Note(text::Format("reg %s: keys more than %zu levels below the root are left out, the first: ",
                      operation.c_str(), plat::kMaxKeyDepth) +
         leftOut);
}

// Keeps only the value asked for; returns how many keys still hold it.
size_t FilterValues(std::vector<KeyListing>* listings, const std::string& name) {
  size_t matches = 0;
  for (KeyListing& listing : *listings) {
    std::erase_if(listing.values, [&](const NamedValue& v) { return !text::EqualsNoCase(v.name, name); });
    matches += listing.values.size();
  }
  return matches;
}

std::string ValueText(const NamedValue& v) {
  return "    " + (v.name.empty() ? std::string("(Default)") : v.name) + "    " + TypeNameOf(v.value.type) + "    " +
         DisplayData(v.value) + "\n";
}

void WriteValueJson(JsonWriter& j, const NamedValue& v) {
  j.BeginObject()
      .Field("name", v.name)
      .Field("type", TypeNameOf(v.value.type))
      .Field("typeNumber", static_cast<int64_t>(v.value.type))
      .Field("data", DisplayData(v.value))
      .Field("bytes", HexLower(v.value.data));
  if (v.value.type == plat::kRegMultiSz) {
    j.Key("items").BeginArray();
    for (const std::string& item : plat::RegMultiSzItems(v.value.data)) j.String(item);
    j.EndArray();
  }
  j.EndObject();
}

void WriteListingJson(JsonWriter& j, const KeyListing& listing) {
  j.BeginObject().Field("key", listing.path).Key("values").BeginArray();
  for (const NamedValue& v : listing.values) WriteValueJson(j, v);
  j.EndArray().Key("subKeys").BeginArray();
  for (const std::string& name : listing.subKeys) j.String(name);
  j.EndArray().EndObject();
}

struct QueryShape {
  bool recurse = false;
  bool filtered = false;      // /v or /ve
  bool defaultValue = false;  // /ve
};

void PrintQueryText(std::ostream& out, const std::vector<KeyListing>& listings, const QueryShape& shape,
                    size_t matches) {
  for (const KeyListing& listing : listings) {
    out << "\n" << listing.path << "\n";
    for (const NamedValue& v : listing.values) out << ValueText(v);
    if (shape.defaultValue && !shape.recurse && listing.values.empty()) {
      out << "    (Default)    REG_SZ    (value not set)\n";
    }
    if (shape.recurse) continue;
    if (!shape.filtered) {
      out << "\n";
      for (const std::string& name : listing.subKeys) out << listing.path << "\\" << name << "\n";
    }
  }
  if (shape.recurse) out << "\n";
  if (shape.filtered && shape.recurse) out << "End of search: " << matches << " match(es) found.\n";
}

int RunQuery(CommandContext& c, const std::vector<std::string>& raw) {
  RegArgs args;
  std::string error;
  KeyArg key;
  if (!ParseArgs("query", raw, kOptValue | kOptDefault | kOptRecurse | kOptView, &args, &error) ||
      !ExpectPositional("query", args, 1, "KEY", &error) || !ParseKeyArg(args.positional[0], &key, &error)) {
    return c.Fail(error);
  }
  host::Host* h = c.OpenHost();
  if (!h) return kExitNoHost;
  plat::IRegistry& registry = h->Registry();
  plat::HKey handle = plat::kNullKey;
  if (uint32_t rc = registry.OpenKey(key.root, key.subKey, plat::kKeyRead | args.viewSam, &handle)) {
    return c.Fail(RcMessage(rc));
  }
  QueryShape shape{args.Has(kOptRecurse), args.Has(kOptValue) || args.Has(kOptDefault), args.Has(kOptDefault)};
  std::vector<KeyListing> listings;
  std::string leftOut;
  const uint32_t rc =
      CollectListings(registry, handle, key.display, KeyDepth(key.subKey), args.viewSam, shape.recurse, &listings, &leftOut);
  registry.CloseKey(handle);
  if (rc) return c.Fail(RcMessage(rc));
  NoteLeftOut(c, "query", leftOut);
  size_t matches = 0;
  if (shape.filtered) {
    matches = FilterValues(&listings, args.Has(kOptDefault) ? std::string() : args.valueName);
    // A missing default value is shown as "not set"; anything else missing is an error.
    if (matches == 0 && (shape.recurse || !shape.defaultValue)) return c.Fail(RcMessage(winerr::kFileNotFound));
    if (shape.recurse) std::erase_if(listings, [](const KeyListing& l) { return l.values.empty(); });
  }
  if (c.json) {
    JsonWriter j;
    if (shape.recurse) j.BeginArray();
    for (const KeyListing& listing : listings) WriteListingJson(j, listing);
    if (shape.recurse) j.EndArray();
    *c.out << j.Text() << "\n";
  } else {
    PrintQueryText(*c.out, listings, shape, matches);
  }
  return kExitOk;
}

// ---- Changes --------------------------------------------------------------

void PrintDone(CommandContext& c) {
  if (c.json) {
    *c.out << JsonWriter().BeginObject().Field("ok", true).EndObject().Text() << "\n";
  } else {
    *c.out << kDone << "\n";
  }
}

// Runs `change` in one host transaction, committed only when it returns
// no message; a message is printed as the command's error.
template <typename F>
int InTransaction(CommandContext& c, host::Host& h, F&& change) {
  try {
    host::Transaction tx(h.Db());
    if (const std::string message = change(); !message.empty()) return c.Fail(message);
    tx.Commit();
  } catch (const host::DbError& e) {
    return c.Fail("reg: the host database failed: " + e.message);
  }
  PrintDone(c);
  return kExitOk;
}

std::string ValueLabel(const std::string& name) {
  return name.empty() ? "the default value" : "the value '" + name + "'";
}

int RunAdd(CommandContext& c, const std::vector<std::string>& raw) {
  RegArgs args;
  std::string error;
  KeyArg key;
  if (!ParseArgs("add", raw, kOptValue | kOptDefault | kOptType | kOptData | kOptSeparator | kOptForce | kOptView,
                 &args, &error) ||
      !ExpectPositional("add", args, 1, "KEY", &error) || !ParseKeyArg(args.positional[0], &key, &error)) {
    return c.Fail(error);
  }
  const bool setsValue = args.Has(kOptValue) || args.Has(kOptDefault);
  if (!setsValue && (args.Has(kOptType) || args.Has(kOptData) || args.Has(kOptSeparator))) {
    return c.Fail("reg add: /t, /d and /s need /v NAME or /ve");
  }
  plat::RegValue value;
  if (setsValue && !EncodeData(args, &value, &error)) return c.Fail(error);
  const std::string name = args.Has(kOptValue) ? args.valueName : std::string();
  host::Host* h = c.OpenHost();
  if (!h) return kExitNoHost;
  plat::IRegistry& registry = h->Registry();
  return InTransaction(c, *h, [&]() -> std::string {
    plat::HKey handle = plat::kNullKey;
    if (uint32_t rc = registry.CreateKey(key.root, key.subKey, plat::kKeyAllAccess | args.viewSam, &handle, nullptr)) {
      return RcMessage(rc);
    }
    std::string message;
    plat::RegValue old;
    if (!setsValue) {
      // Only the key was asked for.
    } else if (!args.Has(kOptForce) && registry.QueryValue(handle, name, &old) == winerr::kSuccess) {
      message = "reg add: " + ValueLabel(name) + " of " + key.display + " exists (add /f to overwrite it)";
    } else {
      message = RcMessage(registry.SetValue(handle, name, value.type, value.data));
    }
    registry.CloseKey(handle);
    return message;
  });
}

// Every value of the key, sub keys untouched (/va).
uint32_t DeleteAllValues(plat::IRegistry& registry, plat::HKey key) {
  std::vector<std::string> names;
  for (uint32_t index = 0;; ++index) {
    std::string name;
    const uint32_t rc = registry.EnumValue(key, index, &name, nullptr);
    if (rc == winerr::kNoMoreItems) break;
    if (rc) return rc;
    names.push_back(std::move(name));
  }
  for (const std::string& name : names) {
    if (uint32_t rc = registry.DeleteValue(key, name)) return rc;
  }
  return winerr::kSuccess;
}

int RunDelete(CommandContext& c, const std::vector<std::string>& raw) {
  RegArgs args;
  std::string error;
  KeyArg key;
  if (!ParseArgs("delete", raw, kOptValue | kOptDefault | kOptAllValues | kOptForce | kOptView, &args, &error) ||
      !ExpectPositional("delete", args, 1, "KEY", &error) || !ParseKeyArg(args.positional[0], &key, &error)) {
    return c.Fail(error);
  }
  const bool deletesKey = !args.Has(kOptValue) && !args.Has(kOptDefault) && !args.Has(kOptAllValues);
  if (deletesKey && key.subKey.empty()) return c.Fail("reg delete: a root key cannot be deleted");
  if (!args.Has(kOptForce)) {
    return c.Fail("reg delete: this tool does not ask for confirmation; add /f to delete " +
                  (deletesKey ? key.display : "the value"));
  }
  host::Host* h = c.OpenHost();
  if (!h) return kExitNoHost;
  plat::IRegistry& registry = h->Registry();
  return InTransaction(c, *h, [&]() -> std::string {
    if (deletesKey) return RcMessage(registry.DeleteTree(key.root, key.subKey, args.viewSam));
    plat::HKey handle = plat::kNullKey;
    if (uint32_t rc = registry.OpenKey(key.root, key.subKey, plat::kKeyAllAccess | args.viewSam, &handle)) {
      return RcMessage(rc);
    }
    uint32_t rc = winerr::kSuccess;
    if (args.Has(kOptAllValues)) {
      rc = DeleteAllValues(registry, handle);
    } else {
      rc = registry.DeleteValue(handle, args.Has(kOptValue) ? args.valueName : std::string());
    }
    registry.CloseKey(handle);
    return RcMessage(rc);
  });
}

// ---- Files ----------------------------------------------------------------

bool ReadWholeFile(const std::string& path, std::string* bytes, std::string* error) {
  std::error_code ec;
  if (!fs::is_regular_file(path, ec)) {
    *error = "reg: cannot read " + path + ": " + (fs::exists(path, ec) ? "not a regular file" : "no such file");
    return false;
  }
  std::ifstream in(path, std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  if (!in && !in.eof()) {
    *error = "reg: cannot read " + path;
    return false;
  }
  *bytes = content.str();
  return true;
}

// Written beside the target and renamed over it, so a failed export never
// leaves half a file where an old one was.
bool WriteFileAtomically(const std::string& path, std::string_view bytes, std::string* error) {
  const std::string temporary = path + text::Format(".tmp%ld", static_cast<long>(getpid()));
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.flush();
    if (!out) {
      std::error_code ignored;
      fs::remove(temporary, ignored);
      *error = "reg: cannot write " + path;
      return false;
    }
  }
  std::error_code ec;
  fs::rename(temporary, path, ec);
  if (ec) {
    fs::remove(temporary, ec);
    *error = "reg: cannot write " + path + ": " + ec.message();
    return false;
  }
  return true;
}

int RunExport(CommandContext& c, const std::vector<std::string>& raw) {
  RegArgs args;
  std::string error;
  KeyArg key;
  if (!ParseArgs("export", raw, kOptView | kOptOverwriteFile, &args, &error) ||
      !ExpectPositional("export", args, 2, "KEY FILE", &error) || !ParseKeyArg(args.positional[0], &key, &error)) {
    return c.Fail(error);
  }
  const std::string& file = args.positional[1];
  std::error_code ec;
  if (fs::exists(file, ec) && !args.Has(kOptOverwriteFile)) {
    return c.Fail("reg export: " + file + " exists (add /y to overwrite it)");
  }
  host::Host* h = c.OpenHost();
  if (!h) return kExitNoHost;
  std::string bytes, leftOut;
  if (uint32_t rc = ExportRegFile(h->Registry(), key.root, key.subKey, args.viewSam, &bytes, &leftOut)) {
    return c.Fail(RcMessage(rc));
  }
  if (!WriteFileAtomically(file, bytes, &error)) return c.Fail(error);
  NoteLeftOut(c, "export", leftOut);
  PrintDone(c);
  return kExitOk;
}

int RunImport(CommandContext& c, const std::vector<std::string>& raw) {
  RegArgs args;
  std::string error;
  if (!ParseArgs("import", raw, kOptView, &args, &error) || !ExpectPositional("import", args, 1, "FILE", &error)) {
    return c.Fail(error);
  }
  const std::string& file = args.positional[0];
  std::string bytes;
  if (!ReadWholeFile(file, &bytes, &error)) return c.Fail(error);
  RegFileDocument document;
  if (!ParseRegFile(bytes, &document, &error)) return c.Fail("reg import: " + file + ": " + error);
  host::Host* h = c.OpenHost();
  if (!h) return kExitNoHost;
  return InTransaction(c, *h, [&]() -> std::string {
    std::string why;
    if (!ApplyRegFile(h->Registry(), document, args.viewSam, &why)) return "reg import: " + file + ": " + why;
    return {};
  });
}

}  // namespace

int RunRegCommand(CommandContext& context) {
  if (context.args.empty()) return context.Fail("reg: missing operation (query, add, delete, export or import)");
  const std::string operation = text::AsciiLower(context.args[0]);
  const std::vector<std::string> rest(context.args.begin() + 1, context.args.end());
  if (operation == "query") return RunQuery(context, rest);
  if (operation == "add") return RunAdd(context, rest);
  if (operation == "delete") return RunDelete(context, rest);
  if (operation == "export") return RunExport(context, rest);
  if (operation == "import") return RunImport(context, rest);
  return context.Fail("reg: unknown operation '" + context.args[0] + "' (use query, add, delete, export or import)");
}

}  // namespace hosttool
