// The AutomaticUpdates service: the Windows Update Agent's automatic-updates
// object, which the program pauses while a product installs and resumes
// afterwards. Shaped after the COM object it stands for: creating the
// instance, then Pause or Resume, each answering an HRESULT as Windows does.
#pragma once

#include <cstdint>

namespace plat {

// HRESULTs of the automatic-updates object.
// REGDB_E_CLASSNOTREG: CoCreateInstance finds no registered class, as on a
// machine without the Windows Update Agent.
constexpr uint32_t kRegdbEClassNotReg = 0x80040154;
// WU_E_NO_SERVICE: the agent could not provide the service (stopped,
// disabled, or refusing the call).
constexpr uint32_t kWuENoService = 0x80240001;
// E_FAIL: an unspecified failure.
constexpr uint32_t kEFail = 0x80004005;

class IAutomaticUpdates {
 public:
  virtual ~IAutomaticUpdates() = default;

  // CoCreateInstance of the AutomaticUpdates class for IAutomaticUpdates
  // (in-process server or handler): S_OK, or REGDB_E_CLASSNOTREG when the
  // agent is not installed.
  virtual uint32_t CreateInstance() = 0;
  // IAutomaticUpdates::Pause and ::Resume: S_OK, or the agent's failure code
  // (e.g. WU_E_NO_SERVICE). Pausing what is paused, or resuming what runs,
  // succeeds and changes nothing. Callers create the instance first, as COM
  // requires; without an agent these calls answer REGDB_E_CLASSNOTREG too.
  virtual uint32_t Pause() = 0;
  virtual uint32_t Resume() = 0;
};

}  // namespace plat
