#include "infra/BuildInfo.h"

#include <cstdlib>

#include "platform/Platform.h"

long LoggingLevelOf(const std::string& value) { return std::atol(value.c_str()); }

long ReadLoggingLevel() {
  plat::IRegistry& registry = plat::Current().Registry();
  plat::HKey key = plat::kNullKey;
  if (registry.OpenKey(plat::kHkeyLocalMachine, kGlobalSettingsKey, plat::kKeyRead, &key) != 0) return 0;
  plat::RegValue value;
  // The value is read into a buffer of 1024 bytes; a longer one counts as missing.
  const uint32_t rc = registry.QueryValue(key, kLoggingLevelValue, &value, nullptr, 1024);
  registry.CloseKey(key);
  return rc == 0 ? LoggingLevelOf(plat::RegSzText(value.data)) : 0;
}
