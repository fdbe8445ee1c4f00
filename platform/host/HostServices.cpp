#include "platform/host/HostServices.h"

#include <algorithm>

#include "platform/Registry.h"
#include "platform/WinError.h"

namespace host {

struct ServiceRow {
  std::string name;
  uint32_t state = plat::kServiceStopped;
  int64_t since = 0;  // host time (ms) the state was entered
  std::string behaviour{kBehaviourNormal};
  uint32_t exitCode = 0;
  uint32_t processId = 0;
  // What the service reports at the time it was read.
  uint32_t checkPoint = 0;
  uint32_t waitHint = 0;
};

namespace {

using namespace plat;

// A normal start or stop: a check point every kStepMs, done after
// kTransitionMs; a failing start gives up after kFailAfterMs. Pause and
// continue take kPauseMs. The wait hint is what the manager announces on
// a start (2 s) and what the services keep announcing.
constexpr int64_t kStepMs = 500;
constexpr int64_t kTransitionMs = 1500;
constexpr int64_t kFailAfterMs = 1000;
constexpr int64_t kPauseMs = 500;
constexpr uint32_t kWaitHintMs = 2000;
constexpr uint32_t kPauseWaitHintMs = 1000;

// What a user who is no administrator may open (the default descriptors
// of the manager and of services grant no more to interactive users).
constexpr uint32_t kUserManagerRights =
    kScManagerConnect | kScManagerEnumerateService | kScManagerQueryLockStatus | kReadControl;
constexpr uint32_t kUserServiceRights = kServiceQueryConfig | kServiceQueryStatus | kServiceEnumerateDependents |
                                        kServiceInterrogate | kServiceUserDefinedControl | kReadControl;

// The row as the service reports it at `now`: a pending state that has run
// its course is settled into the state it led to.
ServiceRow Observe(ServiceRow row, int64_t now) {
  const int64_t elapsed = std::max<int64_t>(0, now - row.since);
  auto settle = [&](uint32_t state, uint32_t exitCode) {
    row.state = state;
    row.since = now;
    row.exitCode = exitCode;
    if (state == kServiceStopped) row.processId = 0;
  };
  auto progress = [&](uint32_t waitHint, bool stuck) {
    row.checkPoint = stuck ? 0 : static_cast<uint32_t>(elapsed / kStepMs);
    row.waitHint = waitHint;
  };
  switch (row.state) {
    case kServiceStartPending:
      if (row.behaviour == kBehaviourStuckStart) {
        progress(kWaitHintMs, true);
      } else if (row.behaviour == kBehaviourFailStart && elapsed >= kFailAfterMs) {
        settle(kServiceStopped, winerr::kProcessAborted);
      } else if (elapsed >= kTransitionMs) {
        settle(kServiceRunning, winerr::kSuccess);
      } else {
        progress(kWaitHintMs, false);
      }
      break;
    case kServiceStopPending:
      if (row.behaviour == kBehaviourStuckStop) {
        progress(kWaitHintMs, true);
      } else if (elapsed >= kTransitionMs) {
        settle(kServiceStopped, winerr::kSuccess);
      } else {
        progress(kWaitHintMs, false);
      }
      break;
    case kServicePausePending:
    case kServiceContinuePending:
      if (elapsed >= kPauseMs) {
        settle(row.state == kServicePausePending ? kServicePaused : kServiceRunning, winerr::kSuccess);
      } else {
        progress(kPauseWaitHintMs, false);
      }
      break;
    default: break;
  }
  return row;
}

uint32_t ControlsAccepted(uint32_t state) {
  return state == kServiceRunning || state == kServicePaused ? kServiceAcceptStop | kServiceAcceptPauseContinue : 0;
}

// The access right a control takes; 0 for a code no caller may send.
uint32_t RightOfControl(uint32_t control) {
  switch (control) {
    case kServiceControlStop: return kServiceStop;
    case kServiceControlPause:
    case kServiceControlContinue: return kServicePauseContinue;
    case kServiceControlInterrogate: return kServiceInterrogate;
    default: break;
  }
  if (control >= 6 && control <= 10) return kServicePauseContinue;  // parameter and binding changes
  if (control >= 128 && control <= 255) return kServiceUserDefinedControl;
  return 0;
}

// The flag a service shows in its accepted controls for `control`; 0 for
// controls the host's services never take.
uint32_t AcceptFlagOf(uint32_t control) {
  switch (control) {
    case kServiceControlStop: return kServiceAcceptStop;
    case kServiceControlPause:
    case kServiceControlContinue: return kServiceAcceptPauseContinue;
    default: return 0;
  }
}

bool IsValidServiceType(uint32_t type) {
  const uint32_t base = type & ~kServiceInteractiveProcess;
  const bool win32 = base == kServiceWin32OwnProcess || base == kServiceWin32ShareProcess;
  const bool driver = type == kServiceKernelDriver || type == kServiceFileSystemDriver;
  return win32 || driver;
}

uint32_t ReadDword(IRegistry& registry, HKey key, std::string_view name) {
  RegValue value;
  if (registry.QueryValue(key, name, &value) != 0 || value.type != kRegDword) return 0;
  return RegDwordValue(value.data);
}

std::string ReadText(IRegistry& registry, HKey key, std::string_view name) {
  RegValue value;
  if (registry.QueryValue(key, name, &value) != 0) return {};
  return RegSzText(value.data);
}

// The names of a REG_MULTI_SZ, each ended by '\0', as QUERY_SERVICE_CONFIG
// lists dependencies.
std::string ReadNameList(IRegistry& registry, HKey key, std::string_view name) {
  RegValue value;
  if (registry.QueryValue(key, name, &value) != 0 || value.type != kRegMultiSz) return {};
  std::string list;
  for (const std::string& item : RegMultiSzItems(value.data)) list += item + '\0';
  return list;
}

}  // namespace

bool IsServiceBehaviour(std::string_view behaviour) {
  return behaviour == kBehaviourNormal || behaviour == kBehaviourStuckStart || behaviour == kBehaviourFailStart ||
         behaviour == kBehaviourStuckStop;
}

std::string ServiceStateName(uint32_t state) {
  static constexpr const char* kNames[] = {"stopped",          "start pending", "stop pending", "running",
                                           "continue pending", "pause pending", "paused"};
  return state >= kServiceStopped && state <= kServicePaused ? kNames[state - 1] : std::to_string(state);
}

std::string StartTypeName(uint32_t startType) {
  static constexpr const char* kNames[] = {"boot", "system", "auto", "manual", "disabled"};
  return startType <= kServiceDisabled ? kNames[startType] : std::to_string(startType);
}

std::string ServiceKeyPath(std::string_view serviceName) {
  return "SYSTEM\\CurrentControlSet\\Services\\" + std::string(serviceName);
}

HostServices::HostServices(HostDb& db, HostSystem& system, const Profile& profile, const std::string& userSid)
    : db_(db), system_(system), profile_(profile), registry_(db, profile, userSid, false) {}

// ---- Handles ----------------------------------------------------------------

ScHandle HostServices::NewHandle(Handle handle) {
  const ScHandle id = nextHandle_;
  nextHandle_ += 4;
  handles_[id] = std::move(handle);
  return id;
}

uint32_t HostServices::OpenManager(uint32_t desiredAccess, ScHandle* manager) {
  *manager = kNullScHandle;
  const uint32_t allowed = system_.IsUserAnAdmin() ? kScManagerAllAccess | kReadControl : kUserManagerRights;
  const uint32_t wanted = (desiredAccess & kMaximumAllowed) ? allowed : desiredAccess;
  if (wanted & ~allowed) return winerr::kAccessDenied;
  *manager = NewHandle({true, "", wanted | kScManagerConnect});
  return winerr::kSuccess;
}

uint32_t HostServices::OpenServiceHandle(ScHandle manager, std::string_view serviceName, uint32_t desiredAccess,
                                         ScHandle* service) {
  *service = kNullScHandle;
  const auto found = handles_.find(manager);
  if (found == handles_.end() || !found->second.manager) return winerr::kInvalidHandle;
  return Guarded([&]() -> uint32_t {
    ServiceRow row;
    if (serviceName.empty() || !Load(serviceName, &row)) return winerr::kServiceDoesNotExist;
    const uint32_t allowed = system_.IsUserAnAdmin() ? kServiceAllAccess : kUserServiceRights;
    const uint32_t wanted = (desiredAccess & kMaximumAllowed) ? allowed : desiredAccess;
    if (wanted & ~allowed) return winerr::kAccessDenied;
    *service = NewHandle({false, row.name, wanted});
    return winerr::kSuccess;
  });
}

uint32_t HostServices::Close(ScHandle handle) {
  return handles_.erase(handle) == 1 ? winerr::kSuccess : winerr::kInvalidHandle;
}

// The service behind a handle that holds `rights`, read at the host's now.
uint32_t HostServices::ServiceOf(ScHandle service, uint32_t rights, ServiceRow* row) {
  const auto found = handles_.find(service);
  if (found == handles_.end() || found->second.manager) return winerr::kInvalidHandle;
  if ((found->second.granted & rights) != rights) return winerr::kAccessDenied;
  // A service is never removed while the host runs; a row gone means a damaged host.
  return Load(found->second.name, row) ? winerr::kSuccess : winerr::kServiceDoesNotExist;
}

// ---- Status and configuration -------------------------------------------------

ServiceStatusProcess HostServices::StatusOf(const ServiceRow& row) {
  ServiceStatusProcess status;
  status.serviceType = ConfigOf(row.name).serviceType;
  status.currentState = row.state;
  status.controlsAccepted = ControlsAccepted(row.state);
  status.win32ExitCode = row.exitCode;
  status.checkPoint = row.checkPoint;
  status.waitHint = row.waitHint;
  status.processId = row.processId;
  return status;
}

uint32_t HostServices::QueryStatusProcess(ScHandle service, ServiceStatusProcess* status) {
  return Guarded([&]() -> uint32_t {
    ServiceRow row;
    if (uint32_t rc = ServiceOf(service, kServiceQueryStatus, &row)) return rc;
    *status = StatusOf(row);
    return winerr::kSuccess;
  });
}

ServiceConfig HostServices::ConfigOf(std::string_view name) {
  ServiceConfig config;
  HKey key = kNullKey;
  if (registry_.OpenKey(kHkeyLocalMachine, ServiceKeyPath(name), kKeyRead, &key) != 0) return config;
  config.serviceType = ReadDword(registry_, key, "Type");
  config.startType = ReadDword(registry_, key, "Start");
  config.errorControl = ReadDword(registry_, key, "ErrorControl");
  config.binaryPathName = ReadText(registry_, key, "ImagePath");
  config.loadOrderGroup = ReadText(registry_, key, "Group");
  config.tagId = ReadDword(registry_, key, "Tag");
  config.dependencies = ReadNameList(registry_, key, "DependOnService");
  config.serviceStartName = ReadText(registry_, key, "ObjectName");
  config.displayName = ReadText(registry_, key, "DisplayName");
  registry_.CloseKey(key);
  return config;
}

uint32_t HostServices::QueryConfig(ScHandle service, ServiceConfig* config) {
  return Guarded([&]() -> uint32_t {
    ServiceRow row;
    if (uint32_t rc = ServiceOf(service, kServiceQueryConfig, &row)) return rc;
    *config = ConfigOf(row.name);
    return winerr::kSuccess;
  });
}

uint32_t HostServices::WriteConfig(std::string_view name, uint32_t serviceType, uint32_t startType,
                                   uint32_t errorControl) {
  const ServiceConfig current = ConfigOf(name);
  const uint32_t type = serviceType == kServiceNoChange ? current.serviceType : serviceType;
  if (!IsValidServiceType(type)) return winerr::kInvalidParameter;
  // Boot and system start are for drivers only.
  const bool driver = type == kServiceKernelDriver || type == kServiceFileSystemDriver;
  if (startType != kServiceNoChange && (startType > kServiceDisabled || (startType < kServiceAutoStart && !driver))) {
    return winerr::kInvalidParameter;
  }
  if (errorControl != kServiceNoChange && errorControl > kServiceErrorCritical) return winerr::kInvalidParameter;
  HKey key = kNullKey;
  bool created = false;
  if (uint32_t rc = registry_.CreateKey(kHkeyLocalMachine, ServiceKeyPath(name), kKeyAllAccess, &key, &created)) {
    return rc;
  }
  uint32_t rc = winerr::kSuccess;
  for (const auto& [valueName, value] : {std::pair{"Type", serviceType}, std::pair{"Start", startType},
                                         std::pair{"ErrorControl", errorControl}}) {
    if (value != kServiceNoChange && rc == winerr::kSuccess) {
      rc = registry_.SetValue(key, valueName, kRegDword, MakeRegDword(value));
    }
  }
  registry_.CloseKey(key);
  return rc;
}

uint32_t HostServices::ChangeConfig(ScHandle service, uint32_t serviceType, uint32_t startType,
                                    uint32_t errorControl) {
  return Guarded([&]() -> uint32_t {
    Transaction tx(db_);
    ServiceRow row;
    uint32_t rc = ServiceOf(service, kServiceChangeConfig, &row);
    if (rc == winerr::kSuccess) rc = WriteConfig(row.name, serviceType, startType, errorControl);
    tx.Commit();
    return rc;
  });
}

// ---- Start and controls -------------------------------------------------------

void HostServices::Enter(ServiceRow& row, uint32_t state) {
  row.state = state;
  row.since = system_.NowMs();
  row.checkPoint = 0;
  row.waitHint = 0;
  if (state == kServiceStartPending) row.exitCode = winerr::kSuccess;
  if (state == kServiceStopped) {
    row.processId = 0;
  } else if (row.processId == 0) {
    // Process ids are handed out in turn, so that they are repeatable on a host.
    const uint32_t next = static_cast<uint32_t>(std::stoul(db_.Meta("service_next_pid", "1200")));
    db_.SetMeta("service_next_pid", std::to_string(next + 4));
    row.processId = next;
  }
  row = Observe(row, row.since);
  Store(row);
}

uint32_t HostServices::Start(ScHandle service) {
  return Guarded([&]() -> uint32_t {
    Transaction tx(db_);
    ServiceRow row;
    uint32_t rc = ServiceOf(service, kServiceStart, &row);
    if (rc == winerr::kSuccess && row.state != kServiceStopped) rc = winerr::kServiceAlreadyRunning;
    if (rc == winerr::kSuccess && ConfigOf(row.name).startType == kServiceDisabled) rc = winerr::kServiceDisabled;
    if (rc == winerr::kSuccess) Enter(row, kServiceStartPending);
    tx.Commit();
    return rc;
  });
}

uint32_t HostServices::Control(ScHandle service, uint32_t control, ServiceStatusProcess* status) {
  const uint32_t right = RightOfControl(control);
  if (right == 0) return winerr::kInvalidParameter;
  return Guarded([&]() -> uint32_t {
    Transaction tx(db_);
    ServiceRow row;
    uint32_t rc = ServiceOf(service, right, &row);
    if (rc == winerr::kSuccess) rc = ControlLocked(row, control, status);
    tx.Commit();
    return rc;
  });
}

// Sends a control to a service read in the caller's transaction.
uint32_t HostServices::ControlLocked(ServiceRow& row, uint32_t control, ServiceStatusProcess* status) {
  uint32_t rc = winerr::kSuccess;
  if (row.state == kServiceStopped) {
    rc = winerr::kServiceNotActive;
  } else if (row.state == kServiceStopPending || row.state == kServiceStartPending) {
    rc = winerr::kServiceCannotAcceptCtrl;  // no service of the host takes a stop while starting
  } else if (control != kServiceControlInterrogate && !(ControlsAccepted(row.state) & AcceptFlagOf(control))) {
    rc = winerr::kInvalidServiceControl;
  } else if (control == kServiceControlStop) {
    Enter(row, kServiceStopPending);
  } else if (control == kServiceControlPause && row.state == kServiceRunning) {
    Enter(row, kServicePausePending);
  } else if (control == kServiceControlContinue && row.state == kServicePaused) {
    Enter(row, kServiceContinuePending);
  }
  *status = StatusOf(row);
  return rc;
}

// ---- Storage --------------------------------------------------------------------

bool HostServices::Load(std::string_view name, ServiceRow* row) {
  Statement st(db_, "SELECT name, state, since, behaviour, exit_code, process_id FROM service WHERE name=?");
  st.Bind(1, name);
  if (!st.Step()) return false;
  ServiceRow stored;
  stored.name = st.Text(0);
  stored.state = static_cast<uint32_t>(st.Int(1));
  stored.since = st.Int(2);
  stored.behaviour = st.Text(3);
  stored.exitCode = static_cast<uint32_t>(st.Int(4));
  stored.processId = static_cast<uint32_t>(st.Int(5));
  *row = Observe(stored, system_.NowMs());
  return true;
}

void HostServices::Store(const ServiceRow& row) {
  Statement st(db_,
               "INSERT INTO service(name, state, since, behaviour, exit_code, process_id) VALUES(?, ?, ?, ?, ?, ?) "
               "ON CONFLICT(name) DO UPDATE SET state=excluded.state, since=excluded.since, "
               "behaviour=excluded.behaviour, exit_code=excluded.exit_code, process_id=excluded.process_id");
  st.Bind(1, row.name).Bind(2, row.state).Bind(3, row.since).Bind(4, row.behaviour);
  st.Bind(5, row.exitCode).Bind(6, row.processId).Run();
}

// ---- The host's own view ------------------------------------------------------

std::vector<ServiceRecord> HostServices::List() {
  std::vector<std::string> names;
  Statement st(db_, "SELECT name FROM service ORDER BY name COLLATE NOCASE");
  while (st.Step()) names.push_back(st.Text(0));
  std::vector<ServiceRecord> records;
  for (const std::string& name : names) {
    if (auto record = Find(name)) records.push_back(std::move(*record));
  }
  return records;
}

std::optional<ServiceRecord> HostServices::Find(std::string_view name) {
  ServiceRow row;
  if (!Load(name, &row)) return std::nullopt;
  return ServiceRecord{row.name, StatusOf(row), ConfigOf(row.name), row.behaviour};
}

// Runs `change` on the service of that name in one transaction; 1060 when
// there is none.
template <typename Change>
uint32_t HostServices::Update(std::string_view name, Change change) {
  Transaction tx(db_);
  ServiceRow row;
  const uint32_t rc = Load(name, &row) ? change(row) : winerr::kServiceDoesNotExist;
  tx.Commit();
  return rc;
}

uint32_t HostServices::SetStartType(std::string_view name, uint32_t startType) {
  if (startType < kServiceAutoStart || startType > kServiceDisabled) return winerr::kInvalidParameter;
  return Update(name, [&](ServiceRow& row) {
    return WriteConfig(row.name, kServiceNoChange, startType, kServiceNoChange);
  });
}

uint32_t HostServices::SetState(std::string_view name, uint32_t state) {
  if (state != kServiceStopped && state != kServiceRunning && state != kServicePaused) {
    return winerr::kInvalidParameter;
  }
  return Update(name, [&](ServiceRow& row) {
    row.exitCode = winerr::kSuccess;
    Enter(row, state);
    return winerr::kSuccess;
  });
}

uint32_t HostServices::SetBehaviour(std::string_view name, std::string_view behaviour) {
  if (!IsServiceBehaviour(behaviour)) return winerr::kInvalidParameter;
  return Update(name, [&](ServiceRow& row) {
    row.behaviour = std::string(behaviour);
    Store(row);
    return winerr::kSuccess;
  });
}

// ---- Seeding ------------------------------------------------------------------------

void HostServices::Seed(const ServiceDef& def) {
  HKey key = kNullKey;
  bool created = false;
  if (registry_.CreateKey(kHkeyLocalMachine, ServiceKeyPath(def.name), kKeyAllAccess, &key, &created) == 0) {
    registry_.SetValue(key, "DisplayName", kRegSz, MakeRegSz(def.displayName));
    registry_.SetValue(key, "ErrorControl", kRegDword, MakeRegDword(kServiceErrorNormal));
    registry_.SetValue(key, "ImagePath", kRegExpandSz, MakeRegSz(def.imagePath));
    registry_.SetValue(key, "ObjectName", kRegSz, MakeRegSz(def.objectName));
    registry_.SetValue(key, "Start", kRegDword, MakeRegDword(def.startType));
    registry_.SetValue(key, "Type", kRegDword, MakeRegDword(def.type));
    if (!def.dependencies.empty()) {
      registry_.SetValue(key, "DependOnService", kRegMultiSz, MakeRegMultiSz(def.dependencies));
    }
    registry_.CloseKey(key);
  }
  ServiceRow row;
  row.name = def.name;
  Enter(row, def.running ? kServiceRunning : kServiceStopped);
}

void HostServices::SeedIfMissing() {
  Transaction tx(db_);
  if (db_.Meta("services_seeded").empty()) {
    for (const ServiceDef& def : ServicesOf(profile_)) Seed(def);
    db_.SetMeta("services_seeded", "1");
  }
  tx.Commit();
}

}  // namespace host
