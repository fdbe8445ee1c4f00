#include "platform/host/HostAutomaticUpdates.h"

#include "platform/text/Text.h"

namespace host {
namespace {

constexpr std::string_view kStateKey = "wua_state";
constexpr std::string_view kChangedKey = "wua_changed";
constexpr std::string_view kModeKey = "wua_mode";
constexpr std::string_view kPaused = "paused";
constexpr std::string_view kResumed = "resumed";

}  // namespace

bool IsAutomaticUpdatesMode(std::string_view mode) {
  return mode == kWuaPresent || mode == kWuaAbsent || mode == kWuaFailing;
}

std::string HostTimeText(const plat::SystemTime& t) {
  return text::Format("%04u-%02u-%02u %02u:%02u:%02u", t.year, t.month, t.day, t.hour, t.minute, t.second);
}

uint32_t HostAutomaticUpdates::CreateInstance() {
  try {
    return db_.Meta(kModeKey, kWuaPresent) == kWuaAbsent ? plat::kRegdbEClassNotReg : plat::kSOk;
  } catch (const DbError&) {
    return plat::kEFail;
  }
}

uint32_t HostAutomaticUpdates::Pause() { return SetPaused(true); }
uint32_t HostAutomaticUpdates::Resume() { return SetPaused(false); }

uint32_t HostAutomaticUpdates::SetPaused(bool paused) {
  try {
    Transaction tx(db_);
    const uint32_t result = RefusalOf(db_.Meta(kModeKey, kWuaPresent));
    const std::string_view wanted = paused ? kPaused : kResumed;
    // Pausing what is paused keeps the time of the pause: the time tells
    // when the state last changed, not when it was last asked for.
    if (result == plat::kSOk && db_.Meta(kStateKey, kResumed) != wanted) {
      db_.SetMeta(kStateKey, wanted);
      db_.SetMeta(kChangedKey, HostTimeText(system_.LocalTime()));
    }
    // Committed on refusal too: a rollback would doom a caller's enclosing
    // transaction.
    tx.Commit();
    return result;
  } catch (const DbError&) {
    return plat::kEFail;
  }
}

uint32_t HostAutomaticUpdates::RefusalOf(std::string_view mode) {
  if (mode == kWuaAbsent) return plat::kRegdbEClassNotReg;
  if (mode == kWuaFailing) return plat::kWuENoService;
  // Both calls are documented to need administrator rights.
  if (!system_.IsUserAnAdmin()) return kEAccessDenied;
  return plat::kSOk;
}

AutomaticUpdatesState HostAutomaticUpdates::State() {
  AutomaticUpdatesState state;
  state.paused = db_.Meta(kStateKey, kResumed) == kPaused;
  state.changed = db_.Meta(kChangedKey);
  state.mode = db_.Meta(kModeKey, kWuaPresent);
  return state;
}

bool HostAutomaticUpdates::SetMode(std::string_view mode) {
  if (!IsAutomaticUpdatesMode(mode)) return false;
  Transaction tx(db_);
  db_.SetMeta(kModeKey, mode);
  tx.Commit();
  return true;
}

void HostAutomaticUpdates::Seed(std::string_view mode) {
  db_.SetMeta(kModeKey, mode);
  db_.SetMeta(kStateKey, kResumed);
  db_.SetMeta(kChangedKey, HostTimeText(system_.LocalTime()));
}

}  // namespace host
