// The Registry service: keys and values of both registry views, with the
// Win32 result codes (2 missing key or value, 5 access denied, 234 more data,
// 259 no more items, 87 bad parameter). Keys are handles as on Windows; the
// predefined roots need no opening and are never closed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/winsec/AccessMask.h"

namespace plat {

using HKey = uint64_t;
constexpr HKey kNullKey = 0;
constexpr HKey kHkeyClassesRoot = 0x80000000;
constexpr HKey kHkeyCurrentUser = 0x80000001;
constexpr HKey kHkeyLocalMachine = 0x80000002;
constexpr HKey kHkeyUsers = 0x80000003;
constexpr HKey kHkeyCurrentConfig = 0x80000005;
bool IsPredefinedKey(HKey key);

// Keys nest at most this many levels below a root key; the registry refuses
// to create a deeper one.
constexpr size_t kMaxKeyDepth = 512;

// Value types (winnt.h numbers).
constexpr uint32_t kRegNone = 0;
constexpr uint32_t kRegSz = 1;
constexpr uint32_t kRegExpandSz = 2;
constexpr uint32_t kRegBinary = 3;
constexpr uint32_t kRegDword = 4;
constexpr uint32_t kRegDwordBigEndian = 5;
constexpr uint32_t kRegLink = 6;
constexpr uint32_t kRegMultiSz = 7;
constexpr uint32_t kRegQword = 11;

// Access rights (REGSAM): the registry rights of the security data, under
// the names the registry calls use.
using winsec::kKeyAllAccess;
using winsec::kKeyCreateLink;
using winsec::kKeyCreateSubKey;
using winsec::kKeyEnumerateSubKeys;
using winsec::kKeyNotify;
using winsec::kKeyQueryValue;
using winsec::kKeyRead;
using winsec::kKeySetValue;
using winsec::kKeyWow64_32Key;
using winsec::kKeyWow64_64Key;
using winsec::kKeyWow64Res;
using winsec::kKeyWrite;
using winsec::kMaximumAllowed;
using winsec::kReadControl;
using winsec::kWriteDac;
using winsec::kWriteOwner;
constexpr uint32_t kRegDelete = winsec::kDelete;

// A value as stored: its type and raw bytes (strings are UTF-16LE with their
// terminating NUL, as RegSetValueExW stores them).
struct RegValue {
  uint32_t type = kRegNone;
  std::string data;
};

struct RegKeyInfo {
  uint32_t subKeys = 0;
  uint32_t values = 0;
};

class IRegistry {
 public:
  virtual ~IRegistry() = default;

  // RegOpenKeyExW. `sam` may carry KEY_WOW64_32KEY / KEY_WOW64_64KEY.
  virtual uint32_t OpenKey(HKey parent, std::string_view subKey, uint32_t sam, HKey* result) = 0;
  // RegCreateKeyExW: opens or creates every missing level; `created` tells which.
  virtual uint32_t CreateKey(HKey parent, std::string_view subKey, uint32_t sam, HKey* result,
                             bool* created) = 0;
  virtual uint32_t CloseKey(HKey key) = 0;
  // RegQueryValueExW. With a `bufferSize` smaller than the data: 234 and the
  // size needed in `requiredSize`, `value->data` left empty.
  virtual uint32_t QueryValue(HKey key, std::string_view name, RegValue* value,
                              uint32_t* requiredSize = nullptr,
                              uint32_t bufferSize = UINT32_MAX) = 0;
  virtual uint32_t SetValue(HKey key, std::string_view name, uint32_t type, std::string_view data) = 0;
  virtual uint32_t DeleteValue(HKey key, std::string_view name) = 0;
  // RegEnumKeyExW / RegEnumValueW: 259 past the last item. Sub keys come in
  // alphabetical order (ASCII case ignored), values in the order they were made.
  virtual uint32_t EnumKey(HKey key, uint32_t index, std::string* name) = 0;
  virtual uint32_t EnumValue(HKey key, uint32_t index, std::string* name, RegValue* value) = 0;
  virtual uint32_t QueryInfoKey(HKey key, RegKeyInfo* info) = 0;
  // RegDeleteKeyExW: the key must have no sub keys (5 otherwise, as Windows).
  virtual uint32_t DeleteKey(HKey parent, std::string_view subKey, uint32_t sam) = 0;
  // RegDeleteTreeW: the key and everything below it.
  virtual uint32_t DeleteTree(HKey parent, std::string_view subKey, uint32_t sam) = 0;
  virtual uint32_t FlushKey(HKey key) = 0;
  // RegGetKeySecurity / RegSetKeySecurity with a self-relative descriptor.
  virtual uint32_t GetKeySecurity(HKey key, uint32_t securityInformation, std::string* descriptor) = 0;
  virtual uint32_t SetKeySecurity(HKey key, uint32_t securityInformation, std::string_view descriptor) = 0;
};

// Helpers for the common value types.
std::string MakeRegSz(std::string_view utf8);
std::string MakeRegMultiSz(const std::vector<std::string>& items);
std::string MakeRegDword(uint32_t value);
std::string MakeRegQword(uint64_t value);
// Text of a REG_SZ/REG_EXPAND_SZ value up to its first NUL.
std::string RegSzText(std::string_view data);
std::vector<std::string> RegMultiSzItems(std::string_view data);
uint32_t RegDwordValue(std::string_view data);
uint64_t RegQwordValue(std::string_view data);

}  // namespace plat
