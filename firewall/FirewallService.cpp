#include "firewall/FirewallService.h"

#include <algorithm>

#include "infra/ErrorMgr.h"
#include "infra/ProcessState.h"
#include "platform/Platform.h"

namespace {

constexpr const char* kCheckLabel = " CheckFirewallService";
constexpr const char* kStartLabel = " StartFirewallService";
constexpr const char* kStopLabel = " StopFirewallService";

// Each wait between two status queries is a tenth of the wait hint, kept
// within these bounds.
constexpr uint32_t kShortestWaitMs = 1000;
constexpr uint32_t kLongestWaitMs = 10000;
// A stop may take this many wait hints without progress before it counts as stuck.
constexpr uint32_t kStopLimitFactor = 6;
// Short pauses that give the manager time before a request and its first query.
constexpr uint32_t kStartPauseMs = 200;
constexpr uint32_t kStopPauseMs = 100;

const char* StartTypeText(uint32_t startType) {
  switch (startType) {
    case plat::kServiceAutoStart: return "= Automatic";
    case plat::kServiceDemandStart: return "= Manual";
    case plat::kServiceDisabled: return "= Disabled";
    default: return "";
  }
}

const char* StateText(uint32_t state) {
  switch (state) {
    case plat::kServiceStopped: return "The service has stopped";
    case plat::kServiceStartPending: return "The service is starting";
    case plat::kServiceStopPending: return "The service is stopping";
    case plat::kServiceRunning: return "The service is running";
    case plat::kServiceContinuePending: return "The service is about to continue";
    case plat::kServicePausePending: return "The service is pausing";
    case plat::kServicePaused: return "The service is paused";
    default: return "";
  }
}

// The manager and one service, opened with all access; both handles are
// closed when the session ends, whichever way the caller leaves.
class ServiceSession {
 public:
  explicit ServiceSession(plat::IServices& services) : services_(services) {}
  ~ServiceSession() {
    if (service_ != plat::kNullScHandle) services_.Close(service_);
    if (manager_ != plat::kNullScHandle) services_.Close(manager_);
  }
  ServiceSession(const ServiceSession&) = delete;
  ServiceSession& operator=(const ServiceSession&) = delete;

  // Records a failure under `label`.
  bool Open(CErrorMgr& errorMgr, const char* label, std::string_view serviceName) {
    if (uint32_t rc = services_.OpenManager(plat::kScManagerAllAccess, &manager_)) {
      errorMgr.AddMessageF(kLevelError, label, "OpenSCManager() failed: 0x%08x", rc);
      return false;
    }
    if (uint32_t rc = services_.OpenServiceHandle(manager_, serviceName, plat::kServiceAllAccess, &service_)) {
      errorMgr.AddMessageF(kLevelError, label, "OpenService() failed: 0x%08x", rc);
      return false;
    }
    return true;
  }

  bool QueryStatus(CErrorMgr& errorMgr, const char* label, plat::ServiceStatusProcess* status) {
    if (uint32_t rc = services_.QueryStatusProcess(service_, status)) {
      errorMgr.AddMessageF(kLevelError, label, "QueryServiceStatusEx() failed: 0x%08x", rc);
      return false;
    }
    return true;
  }

  bool QueryConfig(CErrorMgr& errorMgr, const char* label, plat::ServiceConfig* config) {
    if (uint32_t rc = services_.QueryConfig(service_, config)) {
      errorMgr.AddMessageF(kLevelError, label, "QueryServiceConfig() failed: 0x%08x", rc);
      return false;
    }
    return true;
  }

  // A new start type; type and error control as `config` read them.
  uint32_t ChangeStartType(const plat::ServiceConfig& config, uint32_t startType) {
    return services_.ChangeConfig(service_, config.serviceType, startType, config.errorControl);
  }

  plat::IServices& Services() { return services_; }
  plat::ScHandle Service() const { return service_; }

 private:
  plat::IServices& services_;
  plat::ScHandle manager_ = plat::kNullScHandle;
  plat::ScHandle service_ = plat::kNullScHandle;
};

// What the waiting loop reports as it goes.
enum class WaitEvent { kProgress, kNoProgress };
using WaitNote = void (*)(CErrorMgr& errorMgr, WaitEvent event);

void NoNote(CErrorMgr&, WaitEvent) {}

void StartNote(CErrorMgr& errorMgr, WaitEvent event) {
  errorMgr.AddMessage(kLevelDetail, kStartLabel,
                      event == WaitEvent::kProgress ? "    The service is making progress"
                                                    : "    No progress made within the wait hint");
}

uint32_t WaitOf(uint32_t waitHint) { return std::clamp(waitHint / 10, kShortestWaitMs, kLongestWaitMs); }

// Queries the status again and again while `pending` holds for its state,
// as long as the check point keeps growing: the wait ends once the service
// has made no progress for longer than `limitFactor` wait hints, or when a
// query fails (the status then stays the last one read). Only a service
// still pending is judged on its progress, so a service that has just
// started is never logged as one that made none.
void WaitWhilePending(ServiceSession& session, plat::ServiceStatusProcess* status, bool (*pending)(uint32_t),
                      uint32_t limitFactor, CErrorMgr& errorMgr, WaitNote note) {
  plat::ISystem& system = plat::Current().System();
  uint32_t startTick = system.TickCount();
  uint32_t oldCheckPoint = status->checkPoint;
  while (pending(status->currentState)) {
    system.Sleep(WaitOf(status->waitHint));
    plat::ServiceStatusProcess next;
    if (session.Services().QueryStatusProcess(session.Service(), &next) != 0) break;
    *status = next;
    if (!pending(status->currentState)) break;
    if (status->checkPoint > oldCheckPoint) {
      startTick = system.TickCount();
      oldCheckPoint = status->checkPoint;
      note(errorMgr, WaitEvent::kProgress);
    } else if (static_cast<uint32_t>(system.TickCount() - startTick) >
               static_cast<uint64_t>(status->waitHint) * limitFactor) {
      note(errorMgr, WaitEvent::kNoProgress);
      break;
    }
  }
}

// Every state but running has one of its two lowest bits set.
bool NotRunning(uint32_t state) { return (state & 3) != 0; }
bool StartPending(uint32_t state) { return state == plat::kServiceStartPending; }
bool StopPending(uint32_t state) { return state == plat::kServiceStopPending; }

void LogStatusDetails(CErrorMgr& errorMgr, const char* label, const plat::ServiceStatusProcess& status) {
  errorMgr.AddMessageF(kLevelDetail, label, "    Current State: %d", static_cast<int>(status.currentState));
  errorMgr.AddMessageF(kLevelDetail, label, "    Exit Code: %d", static_cast<int>(status.win32ExitCode));
  errorMgr.AddMessageF(kLevelDetail, label, "    Service Specific Exit Code: %d",
                       static_cast<int>(status.serviceSpecificExitCode));
  errorMgr.AddMessageF(kLevelDetail, label, "    Check Point: %d", static_cast<int>(status.checkPoint));
  errorMgr.AddMessageF(kLevelDetail, label, "    Wait Hint: %d", static_cast<int>(status.waitHint));
}

// Sets the service back to disabled after it was switched to automatic.
// A failure of the change itself is only a warning: the firewall work does
// not depend on it.
void RestoreDisabled(CErrorMgr& errorMgr, const char* label, ServiceSession& session) {
  plat::ServiceConfig config;
  if (!session.QueryConfig(errorMgr, label, &config)) return;
  errorMgr.AddMessageF(kLevelDetail, label, "    Service Startup Type: %d %s", static_cast<int>(config.startType),
                       config.startType == plat::kServiceAutoStart ? "= Automatic" : "");
  if (uint32_t rc = session.ChangeStartType(config, plat::kServiceDisabled)) {
    errorMgr.AddMessageF(kLevelWarning, label, "  ChangeServiceConfig() failed: 0x%08x", rc);
    return;
  }
  errorMgr.AddMessage(kLevelDetail, label, "    Set Startup Type: Disabled");
}

bool IsWindows60() {
  const plat::OsVersionInfoEx& version = ProcessVersionRecord();
  return version.majorVersion == 6 && version.minorVersion == 0;
}

// Starts the service opened in `session` and waits for it; false after
// recording why it is not running.
bool StartAndWait(CErrorMgr& errorMgr, ServiceSession& session, std::string_view serviceName) {
  plat::ISystem& system = plat::Current().System();
  system.Sleep(kStartPauseMs);
  if (uint32_t rc = session.Services().Start(session.Service())) {
    errorMgr.AddMessageF(kLevelError, kStartLabel, "StartService() failed: 0x%08x", rc);
    return false;
  }
  errorMgr.AddMessage(kLevelDetail, kStartLabel, "    Service start pending...");
  system.Sleep(kStartPauseMs);
  plat::ServiceStatusProcess status;
  if (!session.QueryStatus(errorMgr, kStartLabel, &status)) return false;
  errorMgr.AddMessageF(kLevelInfo, kStartLabel, "    current state of the service: %d = %s",
                       static_cast<int>(status.currentState), StateText(status.currentState));
  WaitWhilePending(session, &status, StartPending, 1, errorMgr, StartNote);
  if (status.currentState == plat::kServiceRunning) {
    errorMgr.AddMessageF(kLevelInfo, kStartLabel, "  FirewallService successful started  (%.*s).",
                         static_cast<int>(serviceName.size()), serviceName.data());
    return true;
  }
  errorMgr.AddMessageF(kLevelError, kStartLabel, "FirewallService not started  (%.*s).",
                       static_cast<int>(serviceName.size()), serviceName.data());
  LogStatusDetails(errorMgr, kStartLabel, status);
  return false;
}

// Sends the stop control and waits for the service to stop; false after
// recording a failed request. `status` holds the last state read.
bool StopAndWait(CErrorMgr& errorMgr, ServiceSession& session, plat::ServiceStatusProcess* status) {
  plat::ISystem& system = plat::Current().System();
  system.Sleep(kStopPauseMs);
  if (uint32_t rc = session.Services().Control(session.Service(), plat::kServiceControlStop, status)) {
    errorMgr.AddMessageF(kLevelError, kStopLabel, "ControlService() failed: 0x%08x", rc);
    return false;
  }
  errorMgr.AddMessage(kLevelDetail, kStopLabel, "    Service stop pending...");
  system.Sleep(kStopPauseMs);
  if (!session.QueryStatus(errorMgr, kStopLabel, status)) return false;
  WaitWhilePending(session, status, StopPending, kStopLimitFactor, errorMgr, NoNote);
  return true;
}

}  // namespace

bool CheckFirewallService(CErrorMgr& errorMgr, std::string_view serviceName, uint32_t* state) {
  *state = 0;
  // The firewall of Windows 6.0 is taken to run; the service is left alone there.
  if (IsWindows60()) {
    *state = plat::kServiceRunning;
    return true;
  }
  ServiceSession session(plat::Current().Services());
  if (!session.Open(errorMgr, kCheckLabel, serviceName)) return false;
  plat::ServiceStatusProcess status;
  if (!session.QueryStatus(errorMgr, kCheckLabel, &status)) return false;
  WaitWhilePending(session, &status, NotRunning, 1, errorMgr, NoNote);
  *state = status.currentState;
  const int nameLength = static_cast<int>(serviceName.size());
  if (status.currentState == plat::kServiceRunning) {
    errorMgr.AddMessageF(kLevelInfo, kCheckLabel, "  FirewallService running (%.*s).", nameLength,
                         serviceName.data());
  } else {
    errorMgr.AddMessageF(kLevelInfo, kCheckLabel, "  FirewallService not running (%.*s).", nameLength,
                         serviceName.data());
    errorMgr.AddMessageF(kLevelDetail, kCheckLabel, "    Current State: %d", static_cast<int>(status.currentState));
  }
  return true;
}

bool StartFirewallService(CErrorMgr& errorMgr, std::string_view serviceName, uint32_t* startType) {
  ServiceSession session(plat::Current().Services());
  if (!session.Open(errorMgr, kStartLabel, serviceName)) return false;
  plat::ServiceConfig config;
  if (!session.QueryConfig(errorMgr, kStartLabel, &config)) return false;
  errorMgr.AddMessageF(kLevelDetail, kStartLabel, "    Service Startup Type: %d %s",
                       static_cast<int>(config.startType), StartTypeText(config.startType));
  *startType = config.startType;
  const bool wasDisabled = config.startType == plat::kServiceDisabled;
  if (wasDisabled) {
    if (uint32_t rc = session.ChangeStartType(config, plat::kServiceAutoStart)) {
      errorMgr.AddMessageF(kLevelError, kStartLabel, "ChangeServiceConfig() failed: 0x%08x", rc);
      return false;
    }
  }
  if (StartAndWait(errorMgr, session, serviceName)) return true;
  // A service that does not run is left as disabled as it was found: no
  // stop will follow to restore it.
  if (wasDisabled) RestoreDisabled(errorMgr, kStartLabel, session);
  return false;
}

bool StopFirewallService(CErrorMgr& errorMgr, std::string_view serviceName, uint32_t startTypeToRestore) {
  ServiceSession session(plat::Current().Services());
  if (!session.Open(errorMgr, kStopLabel, serviceName)) return false;
  plat::ServiceStatusProcess status;
  const bool requested = StopAndWait(errorMgr, session, &status);
  // Restored whether or not the stop went through: the user's "disabled"
  // must not stay "automatic" because a stop request failed.
  if (startTypeToRestore == plat::kServiceDisabled) RestoreDisabled(errorMgr, kStopLabel, session);
  if (!requested) return false;
  const int nameLength = static_cast<int>(serviceName.size());
  if (status.currentState == plat::kServiceStopped) {
    errorMgr.AddMessageF(kLevelInfo, kStopLabel, "  FirewallService successful stopped  (%.*s).", nameLength,
                         serviceName.data());
    return true;
  }
  errorMgr.AddMessageF(kLevelError, kStopLabel, "FirewallService not stopped  (%.*s).", nameLength,
                       serviceName.data());
  LogStatusDetails(errorMgr, kStopLabel, status);
  return false;
}
