// Fuzzes the INI reader with whole OPFiles: the results cut and the load
// through the file service, as a method reads its OPFile, and the in-memory
// readers of both encodings. Checks that cutting is stable and that a saved
// model loads back to the same bytes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

#include "fuzz/FuzzHost.h"
#include "infra/IniFile.h"
#include "platform/text/Text.h"

namespace {

// Reads every key back by name, as callers look values up: names are
// unique without regard to case, so each lookup finds its own entry.
void QueryEveryKey(const CIniFile& file) {
  for (const auto& section : file.Sections()) {
    for (const auto& value : section->Values()) {
      if (file.GetValue(section->GetName(), value->GetKey()) != value->GetValue()) std::abort();
    }
  }
  (void)file.GetValue("GENERAL", "ResourcePath");
  (void)file.FindSection("RESULTS");
}

// A file already cut has nothing left to cut.
void CheckCutIsStable(std::string_view bytes) {
  const std::optional<std::string> once = CIniFile::CutResults(bytes);
  if (!once) return;
  const std::optional<std::string> twice = CIniFile::CutResults(*once);
  if (!twice || *twice != *once) std::abort();
}

// Keys of this prefix are the snapshot files' bare lines: they are saved as
// their value alone and so, by design, do not read back as keys.
bool HasValueOnlyKeys(const CIniFile& file) {
  for (const auto& section : file.Sections()) {
    for (const auto& value : section->Values()) {
      if (value->GetKey().starts_with("LogValueNameDummy")) return true;
    }
  }
  return false;
}

// What Save writes must read back as the same model.
void CheckSavedModelReloads(const CIniFile& file) {
  if (HasValueOnlyKeys(file)) return;
  const std::string saved = file.ToBytes();
  CIniFile reloaded;
  reloaded.LoadFromBytes(saved);
  if (reloaded.ToBytes() != saved) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);

  const std::string path = fuzzing::WriteHostFile("OPFile.ini", bytes);
  CIniFile opFile;
  opFile.CutResultsSection(path);
  if (!opFile.Load(path).empty()) std::abort();  // the file was just written
  QueryEveryKey(opFile);
  CheckSavedModelReloads(opFile);
  CheckCutIsStable(bytes);

  // The same bytes once more behind a byte-order mark, so every input also
  // reaches the UTF-16 reader.
  CIniFile unicode;
  unicode.LoadFromBytes(std::string(text::kUtf16LeBom) + std::string(bytes));
  QueryEveryKey(unicode);
  CheckSavedModelReloads(unicode);
  return 0;
}
