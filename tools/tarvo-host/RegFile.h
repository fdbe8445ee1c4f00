// The registry editor's .reg text format, read and written through
// plat::IRegistry only, so it works against any platform. Export writes the
// "Windows Registry Editor Version 5.00" form (UTF-16LE with BOM, CR LF);
// import also reads the older 8-bit "REGEDIT4" form, and checks a whole file
// before anything of it is applied.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Registry.h"

namespace hosttool {

// ---- Root keys -----------------------------------------------------------

// The predefined root named `name` (HKEY_LOCAL_MACHINE ...; with
// `allowShort` also HKLM, HKCU, HKCR, HKU, HKCC), ASCII case ignored.
// Returns kNullKey for any other name.
plat::HKey FindRootKey(std::string_view name, bool allowShort);
// "HKEY_LOCAL_MACHINE" and so on; empty for a key that is not a root.
std::string_view RootKeyName(plat::HKey root);

// Splits "HKLM\SOFTWARE\X" into its root and "SOFTWARE\X". A trailing
// backslash is dropped; an unknown root, an empty component, a NUL or a
// component longer than 255 characters fails with a message.
bool SplitRootedPath(std::string_view path, bool allowShort, plat::HKey* root, std::string* subKey,
                     std::string* error);

// The levels `subKey` ("SOFTWARE\X") lies below its root: 0 for the root.
size_t KeyDepth(std::string_view subKey);

// Visits `key` (named `path`, `depth` levels below its root) and then its
// subtree, depth first in the order reg /s and exports list keys. The
// visitor reads one key and gives back its subkey names. Keys deeper than
// Windows allows are not visited (only a host made before the registry
// refused them holds any) and `leftOut` gets the first; stopping there also
// ends a redirection that leads back to an ancestor. Returns the first
// failure of the visitor or of opening a subkey.
using KeyVisitor = std::function<uint32_t(plat::HKey key, const std::string& path, std::vector<std::string>* subKeys)>;
uint32_t WalkKeyTree(plat::IRegistry& registry, plat::HKey key, const std::string& path, size_t depth,
                     uint32_t viewSam, const KeyVisitor& visit, std::string* leftOut);

// ---- Export --------------------------------------------------------------

// The file text of `subKey` below `root` and its whole subtree, in the
// registry view `viewSam` selects (0, KEY_WOW64_32KEY or KEY_WOW64_64KEY).
// Returns a Win32 code: 2 when the key does not exist, or what opening or
// enumerating a key returned; `fileBytes` is complete only on success.
// Keys more than plat::kMaxKeyDepth levels below the root are left out;
// `leftOut` gets the first of them (empty when there is none).
uint32_t ExportRegFile(plat::IRegistry& registry, plat::HKey root, std::string_view subKey, uint32_t viewSam,
                       std::string* fileBytes, std::string* leftOut = nullptr);

// ---- Import --------------------------------------------------------------

enum class RegFileFormat { kVersion5, kRegedit4 };

struct RegFileValue {
  int line = 0;
  std::string name;  // empty: the default value (@)
  bool remove = false;  // "name"=-
  plat::RegValue value;  // as it will be stored (strings in UTF-16LE)
};

struct RegFileKey {
  int line = 0;
  plat::HKey root = plat::kNullKey;
  std::string subKey;  // below root; empty for the root itself
  bool remove = false;  // [-KEY]: the key and its subtree
  std::vector<RegFileValue> values;
};

struct RegFileDocument {
  RegFileFormat format = RegFileFormat::kVersion5;
  std::vector<RegFileKey> keys;  // in file order; a key may appear more than once
};

// Reads a complete .reg file: UTF-16LE with BOM, UTF-8 (with or without BOM),
// or 8-bit code page 1252 for REGEDIT4 and for a version 5 file that is not
// valid UTF-8. Any byte sequence is safe to pass. On the first bad line (a
// key deeper than plat::kMaxKeyDepth levels is one) returns false with
// "line N: reason" in `error`.
bool ParseRegFile(std::string_view fileBytes, RegFileDocument* document, std::string* error);

struct RegImportCounts {
  int keys = 0;    // sections applied
  int values = 0;  // values set or deleted
};

// Writes a parsed file into the registry view `viewSam`, creating missing
// parent keys. Deleting a key or value that does not exist is not an error.
// Stops at the first failing call with "line N: reason"; what was written
// before it stays, so callers that need all-or-nothing run this inside a
// transaction of their own and roll it back on failure.
bool ApplyRegFile(plat::IRegistry& registry, const RegFileDocument& document, uint32_t viewSam,
                  std::string* error, RegImportCounts* counts = nullptr);

// A short text for a Win32 code from the registry, for messages.
std::string RegistryErrorText(uint32_t code);

}  // namespace hosttool
