// The automatic-updates service of the simulated host: whether automatic
// updates are paused or running, and the host-clock time of the last change,
// kept in host.db (meta keys wua_state, wua_changed). A mode kept beside them
// (wua_mode) stands for the machine's Windows Update Agent: present, absent
// (the class is not registered) or failing (every pause or resume fails), so
// that callers' error paths can be tried on a host.
#pragma once

#include <string>
#include <string_view>

#include "platform/AutomaticUpdates.h"
#include "platform/System.h"
#include "platform/host/HostDb.h"

namespace host {

// The agent modes a host can be made with or switched to.
inline constexpr std::string_view kWuaPresent = "present";
inline constexpr std::string_view kWuaAbsent = "absent";
inline constexpr std::string_view kWuaFailing = "failing";
bool IsAutomaticUpdatesMode(std::string_view mode);

// E_ACCESSDENIED: pausing and resuming take an administrator.
constexpr uint32_t kEAccessDenied = 0x80070005;

struct AutomaticUpdatesState {
  bool paused = false;
  std::string changed;  // "2015-12-07 10:00:05", host local time; empty when never set
  std::string mode;     // present, absent or failing
};

class HostAutomaticUpdates : public plat::IAutomaticUpdates {
 public:
  HostAutomaticUpdates(HostDb& db, plat::ISystem& system) : db_(db), system_(system) {}

  // REGDB_E_CLASSNOTREG when the agent is absent.
  uint32_t CreateInstance() override;
  // REGDB_E_CLASSNOTREG when absent, WU_E_NO_SERVICE when failing,
  // E_ACCESSDENIED for a user who is no administrator, E_FAIL when host.db
  // cannot be written. A call that changes the state records the time.
  uint32_t Pause() override;
  uint32_t Resume() override;

  // What the host holds; a host made before automatic updates were kept
  // reads as resumed, never changed, agent present. Throws DbError.
  AutomaticUpdatesState State();
  // Switches the agent's mode; false for an unknown mode. Throws DbError.
  bool SetMode(std::string_view mode);
  // The state of a new host: resumed since the host clock's now, agent in
  // `mode`. Runs in the creating transaction; throws DbError.
  void Seed(std::string_view mode);

 private:
  uint32_t SetPaused(bool paused);
  // S_OK when the agent takes a pause or resume, else its answer.
  uint32_t RefusalOf(std::string_view mode);

  HostDb& db_;
  plat::ISystem& system_;
};

// "YYYY-MM-DD hh:mm:ss", how the host shows a time of its clock.
std::string HostTimeText(const plat::SystemTime& time);

}  // namespace host
