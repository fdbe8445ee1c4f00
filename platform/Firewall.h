// The Firewall service: the host firewall's objects of both families, shaped
// after the COM objects they stand for. The legacy family (manager, local
// policy, current profile with its ICMP settings, authorized applications,
// globally open ports and services) is what Windows before 6.0 offers; the
// rules family (policy, rules collection, rule) is what 6.0 and later use.
// Every call answers an HRESULT (winerr::kSOk, kEInvalidArg, ...). Objects
// taken from a collection are live: a change through them changes the
// firewall at once. No COM initialisation is needed on the seam.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace plat {

// NET_FW_PROFILE_TYPE2 (a mask).
constexpr int32_t kFwProfile2Domain = 0x1;
constexpr int32_t kFwProfile2Private = 0x2;
constexpr int32_t kFwProfile2Public = 0x4;
constexpr int32_t kFwProfile2All = 0x7FFFFFFF;
// NET_FW_RULE_DIRECTION, NET_FW_ACTION.
constexpr int32_t kFwRuleDirIn = 1;
constexpr int32_t kFwRuleDirOut = 2;
constexpr int32_t kFwActionBlock = 0;
constexpr int32_t kFwActionAllow = 1;
// NET_FW_IP_PROTOCOL, and the IANA numbers of ICMP the rules take.
constexpr int32_t kFwIpProtocolIcmp4 = 1;
constexpr int32_t kFwIpProtocolTcp = 6;
constexpr int32_t kFwIpProtocolUdp = 17;
constexpr int32_t kFwIpProtocolIcmp6 = 58;
constexpr int32_t kFwIpProtocolAny = 256;
// NET_FW_IP_VERSION, NET_FW_SCOPE, NET_FW_SERVICE_TYPE.
constexpr int32_t kFwIpVersionV4 = 0;
constexpr int32_t kFwIpVersionV6 = 1;
constexpr int32_t kFwIpVersionAny = 2;
constexpr int32_t kFwScopeAll = 0;
constexpr int32_t kFwScopeLocalSubnet = 1;
constexpr int32_t kFwScopeCustom = 2;
constexpr int32_t kFwServiceFileAndPrint = 0;
constexpr int32_t kFwServiceUpnp = 1;
constexpr int32_t kFwServiceRemoteDesktop = 2;

// ---- Legacy family.

class IFwIcmpSettings {
 public:
  virtual ~IFwIcmpSettings() = default;
  virtual uint32_t GetAllowInboundEchoRequest(bool* allow) = 0;
  virtual uint32_t PutAllowInboundEchoRequest(bool allow) = 0;
};

// INetFwAuthorizedApplication.
class IFwAuthorizedApplication {
 public:
  virtual ~IFwAuthorizedApplication() = default;
  virtual uint32_t GetName(std::string* name) = 0;
  virtual uint32_t PutName(std::string_view name) = 0;
  virtual uint32_t GetProcessImageFileName(std::string* path) = 0;
  virtual uint32_t PutProcessImageFileName(std::string_view path) = 0;
  virtual uint32_t GetEnabled(bool* enabled) = 0;
  virtual uint32_t PutEnabled(bool enabled) = 0;
  virtual uint32_t GetScope(int32_t* scope) = 0;
  virtual uint32_t PutScope(int32_t scope) = 0;
  virtual uint32_t GetRemoteAddresses(std::string* addresses) = 0;
  virtual uint32_t PutRemoteAddresses(std::string_view addresses) = 0;
};

// INetFwOpenPort.
class IFwOpenPort {
 public:
  virtual ~IFwOpenPort() = default;
  virtual uint32_t GetName(std::string* name) = 0;
  virtual uint32_t PutName(std::string_view name) = 0;
  virtual uint32_t GetPort(int32_t* port) = 0;
  virtual uint32_t PutPort(int32_t port) = 0;
  virtual uint32_t GetProtocol(int32_t* protocol) = 0;
  virtual uint32_t PutProtocol(int32_t protocol) = 0;
  virtual uint32_t GetIpVersion(int32_t* version) = 0;
  virtual uint32_t PutIpVersion(int32_t version) = 0;
  virtual uint32_t GetEnabled(bool* enabled) = 0;
  virtual uint32_t PutEnabled(bool enabled) = 0;
  virtual uint32_t GetScope(int32_t* scope) = 0;
  virtual uint32_t PutScope(int32_t scope) = 0;
  virtual uint32_t GetRemoteAddresses(std::string* addresses) = 0;
  virtual uint32_t PutRemoteAddresses(std::string_view addresses) = 0;
};

// INetFwService: one of the three predefined exceptions.
class IFwService {
 public:
  virtual ~IFwService() = default;
  virtual uint32_t GetType(int32_t* type) = 0;
  virtual uint32_t GetEnabled(bool* enabled) = 0;
  virtual uint32_t PutEnabled(bool enabled) = 0;
  virtual uint32_t GetScope(int32_t* scope) = 0;
  virtual uint32_t PutScope(int32_t scope) = 0;
  virtual uint32_t GetRemoteAddresses(std::string* addresses) = 0;
  virtual uint32_t PutRemoteAddresses(std::string_view addresses) = 0;
};

class IFwAuthorizedApplications {
 public:
  virtual ~IFwAuthorizedApplications() = default;
  virtual uint32_t Count(int32_t* count) = 0;
  virtual uint32_t Enumerate(std::vector<std::shared_ptr<IFwAuthorizedApplication>>* applications) = 0;
  // HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND) when no application has that path.
  virtual uint32_t Item(std::string_view imagePath, std::shared_ptr<IFwAuthorizedApplication>* application) = 0;
  virtual uint32_t Add(const std::shared_ptr<IFwAuthorizedApplication>& application) = 0;
  virtual uint32_t Remove(std::string_view imagePath) = 0;
};

class IFwOpenPorts {
 public:
  virtual ~IFwOpenPorts() = default;
  virtual uint32_t Count(int32_t* count) = 0;
  virtual uint32_t Enumerate(std::vector<std::shared_ptr<IFwOpenPort>>* ports) = 0;
  // HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND) when the port is not open.
  virtual uint32_t Item(int32_t port, int32_t protocol, std::shared_ptr<IFwOpenPort>* openPort) = 0;
  virtual uint32_t Add(const std::shared_ptr<IFwOpenPort>& openPort) = 0;
  virtual uint32_t Remove(int32_t port, int32_t protocol) = 0;
};

class IFwServices {
 public:
  virtual ~IFwServices() = default;
  virtual uint32_t Count(int32_t* count) = 0;
  // E_INVALIDARG for a type other than the three predefined ones.
  virtual uint32_t Item(int32_t type, std::shared_ptr<IFwService>* service) = 0;
};

// INetFwProfile.
class IFwProfile {
 public:
  virtual ~IFwProfile() = default;
  virtual uint32_t GetIcmpSettings(std::shared_ptr<IFwIcmpSettings>* settings) = 0;
  virtual uint32_t GetAuthorizedApplications(std::shared_ptr<IFwAuthorizedApplications>* applications) = 0;
  virtual uint32_t GetGloballyOpenPorts(std::shared_ptr<IFwOpenPorts>* ports) = 0;
  virtual uint32_t GetServices(std::shared_ptr<IFwServices>* services) = 0;
};

// INetFwPolicy.
class IFwPolicy {
 public:
  virtual ~IFwPolicy() = default;
  virtual uint32_t GetCurrentProfile(std::shared_ptr<IFwProfile>* profile) = 0;
};

// INetFwMgr.
class IFwMgr {
 public:
  virtual ~IFwMgr() = default;
  virtual uint32_t GetLocalPolicy(std::shared_ptr<IFwPolicy>* policy) = 0;
};

// ---- Rules family.

// INetFwRule. Text lists (ports, addresses, ICMP types, interface types)
// are comma separated; "*" stands for any.
class IFwRule {
 public:
  virtual ~IFwRule() = default;
  virtual uint32_t GetName(std::string* name) = 0;
  virtual uint32_t PutName(std::string_view name) = 0;
  virtual uint32_t GetDescription(std::string* description) = 0;
  virtual uint32_t PutDescription(std::string_view description) = 0;
  virtual uint32_t GetApplicationName(std::string* path) = 0;
  virtual uint32_t PutApplicationName(std::string_view path) = 0;
  virtual uint32_t GetServiceName(std::string* name) = 0;
  virtual uint32_t PutServiceName(std::string_view name) = 0;
  virtual uint32_t GetProtocol(int32_t* protocol) = 0;
  virtual uint32_t PutProtocol(int32_t protocol) = 0;
  virtual uint32_t GetLocalPorts(std::string* ports) = 0;
  virtual uint32_t PutLocalPorts(std::string_view ports) = 0;
  virtual uint32_t GetRemotePorts(std::string* ports) = 0;
  virtual uint32_t PutRemotePorts(std::string_view ports) = 0;
  virtual uint32_t GetLocalAddresses(std::string* addresses) = 0;
  virtual uint32_t PutLocalAddresses(std::string_view addresses) = 0;
  virtual uint32_t GetRemoteAddresses(std::string* addresses) = 0;
  virtual uint32_t PutRemoteAddresses(std::string_view addresses) = 0;
  virtual uint32_t GetIcmpTypesAndCodes(std::string* icmp) = 0;
  virtual uint32_t PutIcmpTypesAndCodes(std::string_view icmp) = 0;
  virtual uint32_t GetDirection(int32_t* direction) = 0;
  virtual uint32_t PutDirection(int32_t direction) = 0;
  virtual uint32_t GetInterfaceTypes(std::string* types) = 0;
  virtual uint32_t PutInterfaceTypes(std::string_view types) = 0;
  virtual uint32_t GetEnabled(bool* enabled) = 0;
  virtual uint32_t PutEnabled(bool enabled) = 0;
  virtual uint32_t GetGrouping(std::string* group) = 0;
  virtual uint32_t PutGrouping(std::string_view group) = 0;
  virtual uint32_t GetProfiles(int32_t* profiles) = 0;
  virtual uint32_t PutProfiles(int32_t profiles) = 0;
  virtual uint32_t GetEdgeTraversal(bool* allowed) = 0;
  virtual uint32_t PutEdgeTraversal(bool allowed) = 0;
  virtual uint32_t GetAction(int32_t* action) = 0;
  virtual uint32_t PutAction(int32_t action) = 0;
};

// INetFwRules.
class IFwRules {
 public:
  virtual ~IFwRules() = default;
  virtual uint32_t Count(int32_t* count) = 0;
  virtual uint32_t Enumerate(std::vector<std::shared_ptr<IFwRule>>* rules) = 0;
  // The first rule of that name; HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND) when none.
  virtual uint32_t Item(std::string_view name, std::shared_ptr<IFwRule>* rule) = 0;
  // Names need not be unique: each added object becomes a rule of its own.
  virtual uint32_t Add(const std::shared_ptr<IFwRule>& rule) = 0;
  // Removes one rule of that name; S_OK when there is none.
  virtual uint32_t Remove(std::string_view name) = 0;
};

// INetFwPolicy2.
class IFwPolicy2 {
 public:
  virtual ~IFwPolicy2() = default;
  virtual uint32_t GetRules(std::shared_ptr<IFwRules>* rules) = 0;
  // Switches every rule of `group` (its indirect string or its name) whose
  // profiles meet `profileMask`; S_FALSE when no rule has that group.
  virtual uint32_t EnableRuleGroup(int32_t profileMask, std::string_view group, bool enable) = 0;
};

// The factory: CoCreateInstance of the manager, the policy of the rules
// family (REGDB_E_CLASSNOTREG before Windows 6.0) and of new, detached
// application, port and rule objects.
class IFirewall {
 public:
  virtual ~IFirewall() = default;
  virtual uint32_t CreateManager(std::shared_ptr<IFwMgr>* manager) = 0;
  virtual uint32_t CreatePolicy2(std::shared_ptr<IFwPolicy2>* policy) = 0;
  virtual uint32_t CreateAuthorizedApplication(std::shared_ptr<IFwAuthorizedApplication>* application) = 0;
  virtual uint32_t CreateOpenPort(std::shared_ptr<IFwOpenPort>* openPort) = 0;
  virtual uint32_t CreateRule(std::shared_ptr<IFwRule>* rule) = 0;
};

}  // namespace plat
