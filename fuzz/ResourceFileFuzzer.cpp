// Fuzzes the language-file reader: the input is a Tarvo_<LCID>.ulf file,
// loaded through the resource manager and then asked for texts.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "fuzz/FuzzHost.h"
#include "infra/ErrorMgr.h"
#include "resources/ResourceMgr.h"

namespace {

constexpr std::string_view kDirectory = "C:\\Fuzz";
constexpr int kLanguage = 1031;

// Numbers the shipped files hold, one they do not, and the edges of the key text.
constexpr int kProbedNumbers[] = {104, 105, 1, 0, -1, 2147483647};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  fuzzing::WriteHostFile("Tarvo_" + std::to_string(kLanguage) + ".ulf", bytes);

  CResourceMgr::Reset();
  CErrorMgr errorMgr;
  const bool loaded = CResourceMgr::LoadResourceP(errorMgr, kDirectory, kLanguage, true);
  // Loading reports success for a file it could open; the table decides the language.
  if (!loaded) std::abort();
  const int language = CResourceMgr::LoadedLanguage();
  if (language != 0 && language != kLanguage) std::abort();
  for (int number : kProbedNumbers) {
    const std::string text = CResourceMgr::GetResourceText(number);
    if (text.empty()) std::abort();  // a lookup always answers, with a marker at worst
  }
  // The English re-lookup puts the loaded table back.
  if (CResourceMgr::LoadedLanguage() != language) std::abort();
  CResourceMgr::Reset();
  return 0;
}
