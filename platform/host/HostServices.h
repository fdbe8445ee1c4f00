// The service control manager of the simulated host. A service's
// configuration lives where Windows keeps it, under
// HKLM\SYSTEM\CurrentControlSet\Services\<name> (Type, Start, ErrorControl,
// DisplayName, ImagePath, ObjectName ...); its running state lives in
// host.db (table service). Starting and stopping pass through the pending
// states on the host clock, so on a virtual clock they are instant and
// repeatable. A behaviour per service stands for a service that misbehaves,
// so that callers' waiting and error paths can be tried on a host.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Services.h"
#include "platform/host/HostDb.h"
#include "platform/host/HostRegistry.h"
#include "platform/host/HostSystem.h"
#include "platform/host/Profiles.h"

namespace host {

// How a service of the host behaves when it is started or stopped:
// normal (each takes 1.5 s, a check point every 0.5 s), stuck-start (stays
// start pending without progress), fail-start (stops after 1 s with exit
// code 1067), stuck-stop (stays stop pending without progress).
inline constexpr std::string_view kBehaviourNormal = "normal";
inline constexpr std::string_view kBehaviourStuckStart = "stuck-start";
inline constexpr std::string_view kBehaviourFailStart = "fail-start";
inline constexpr std::string_view kBehaviourStuckStop = "stuck-stop";
bool IsServiceBehaviour(std::string_view behaviour);

// A service's running state as host.db keeps it (defined in the source).
struct ServiceRow;

// "stopped", "start pending", ... "paused"; "auto", "manual", "disabled" ...
// and the number for anything else.
std::string ServiceStateName(uint32_t state);
std::string StartTypeName(uint32_t startType);

// The registry key of a service's configuration, below HKLM.
std::string ServiceKeyPath(std::string_view serviceName);

// What the host shows of one service.
struct ServiceRecord {
  std::string name;  // as the service was installed
  plat::ServiceStatusProcess status;
  plat::ServiceConfig config;
  std::string behaviour;
};

class HostServices : public plat::IServices {
 public:
  HostServices(HostDb& db, HostSystem& system, const Profile& profile, const std::string& userSid);

  // Opening with more than reading rights takes an administrator (5 otherwise).
  uint32_t OpenManager(uint32_t desiredAccess, plat::ScHandle* manager) override;
  uint32_t OpenServiceHandle(plat::ScHandle manager, std::string_view serviceName, uint32_t desiredAccess,
                             plat::ScHandle* service) override;
  uint32_t QueryStatusProcess(plat::ScHandle service, plat::ServiceStatusProcess* status) override;
  uint32_t QueryConfig(plat::ScHandle service, plat::ServiceConfig* config) override;
  uint32_t ChangeConfig(plat::ScHandle service, uint32_t serviceType, uint32_t startType,
                        uint32_t errorControl) override;
  uint32_t Start(plat::ScHandle service) override;
  uint32_t Control(plat::ScHandle service, uint32_t control, plat::ServiceStatusProcess* status) override;
  uint32_t Close(plat::ScHandle handle) override;

  // The host's own view, for tools and tests: no rights are checked. All of
  // these throw DbError when host.db fails.
  std::vector<ServiceRecord> List();
  std::optional<ServiceRecord> Find(std::string_view name);
  // 1060 for an unknown service, 87 for a start type out of 2..4.
  uint32_t SetStartType(std::string_view name, uint32_t startType);
  // Puts a service at once into stopped, running or paused (87 for any
  // other state), as if it had been there since now.
  uint32_t SetState(std::string_view name, uint32_t state);
  uint32_t SetBehaviour(std::string_view name, std::string_view behaviour);
  // The profile's services, unless the host has them already (a host made
  // before services were kept gains them on its next opening).
  void SeedIfMissing();

 private:
  struct Handle {
    bool manager = false;
    std::string name;  // of a service handle
    uint32_t granted = 0;
  };

  uint32_t ServiceOf(plat::ScHandle service, uint32_t rights, ServiceRow* row);
  uint32_t ControlLocked(ServiceRow& row, uint32_t control, plat::ServiceStatusProcess* status);
  plat::ServiceStatusProcess StatusOf(const ServiceRow& row);
  plat::ServiceConfig ConfigOf(std::string_view name);
  uint32_t WriteConfig(std::string_view name, uint32_t serviceType, uint32_t startType, uint32_t errorControl);
  bool Load(std::string_view name, ServiceRow* row);
  void Store(const ServiceRow& row);
  void Enter(ServiceRow& row, uint32_t state);
  void Seed(const ServiceDef& def);
  template <typename Change>
  uint32_t Update(std::string_view name, Change change);
  plat::ScHandle NewHandle(Handle handle);

  HostDb& db_;
  HostSystem& system_;
  const Profile& profile_;
  // The manager's own view of the registry: it runs as the system, whose
  // writes no key descriptor refuses.
  HostRegistry registry_;
  std::map<plat::ScHandle, Handle> handles_;
  plat::ScHandle nextHandle_ = 0x5C000;
};

}  // namespace host
