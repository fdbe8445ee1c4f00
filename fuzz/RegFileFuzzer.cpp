// Fuzzes the .reg importer of tarvo-host: the input is a .reg file, parsed
// and, when it parses, applied to the host's registry inside a transaction
// that is rolled back, so every input starts from the same registry. A key
// the file wrote must export to a file that parses again.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "fuzz/FuzzHost.h"
#include "platform/host/HostDb.h"
#include "tools/tarvo-host/RegFile.h"

namespace {

// Keys big parts of the machine hang on are not exported: their subtrees
// would make every input slow without testing anything new.
bool IsSmallEnoughToExport(const hosttool::RegFileKey& key) {
  return !key.remove && key.subKey.find('\\') != std::string::npos;
}

void CheckExportParses(plat::IRegistry& registry, const hosttool::RegFileDocument& document) {
  for (const hosttool::RegFileKey& key : document.keys) {
    if (!IsSmallEnoughToExport(key)) continue;
    std::string exported;
    if (hosttool::ExportRegFile(registry, key.root, key.subKey, 0, &exported) != 0) continue;
    hosttool::RegFileDocument reread;
    std::string error;
    if (!hosttool::ParseRegFile(exported, &reread, &error)) std::abort();
    return;  // one export per input keeps the target fast
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  hosttool::RegFileDocument document;
  std::string error;
  if (!hosttool::ParseRegFile(bytes, &document, &error)) {
    if (error.empty()) std::abort();  // a rejected file always says why
    return 0;
  }
  host::Host& machine = fuzzing::TheHost();
  host::Transaction transaction(machine.Db());  // never committed: rolled back at the end of the input
  if (hosttool::ApplyRegFile(machine.Registry(), document, 0, &error)) {
    CheckExportParses(machine.Registry(), document);
  }
  return 0;
}
