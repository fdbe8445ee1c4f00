// Forwarding wrappers of the platform services. Each forwards every call to
// another implementation; a test derives from one and overrides a single
// call to fail (access denied, a locked file, ...) without writing a whole
// fake. ForwardingPlatform bundles them around a base platform.
#pragma once

#include "platform/Platform.h"

namespace plat {

class ForwardingFiles : public IFiles {
 public:
  explicit ForwardingFiles(IFiles& base) : base_(base) {}
  std::string FullPath(std::string_view path) override { return base_.FullPath(path); }
  std::string CurrentDirectory() override { return base_.CurrentDirectory(); }
  uint32_t GetAttributes(std::string_view path, uint32_t* attributes) override {
    return base_.GetAttributes(path, attributes);
  }
  uint32_t SetReadOnly(std::string_view path, bool readOnly) override { return base_.SetReadOnly(path, readOnly); }
  uint32_t Find(std::string_view pattern, std::vector<FileEntry>* found) override {
    return base_.Find(pattern, found);
  }
  uint32_t OpenStream(std::string_view path, OpenMode mode, std::unique_ptr<IFileStream>* stream) override {
    return base_.OpenStream(path, mode, stream);
  }
  uint32_t MakeDirectory(std::string_view path) override { return base_.MakeDirectory(path); }
  uint32_t RemoveFile(std::string_view path) override { return base_.RemoveFile(path); }
  uint32_t RemoveFolder(std::string_view path) override { return base_.RemoveFolder(path); }
  uint32_t MoveReplace(std::string_view from, std::string_view to) override { return base_.MoveReplace(from, to); }
  std::string FinalPath(std::string_view path) override { return base_.FinalPath(path); }
  uint32_t LockExclusive(std::string_view path, uint32_t timeoutMs, std::unique_ptr<IFileLock>* lock) override {
    return base_.LockExclusive(path, timeoutMs, lock);
  }
  uint32_t GetFileId(std::string_view path, FileId* id) override { return base_.GetFileId(path, id); }

 protected:
  IFiles& base_;
};

class ForwardingRegistry : public IRegistry {
 public:
  explicit ForwardingRegistry(IRegistry& base) : base_(base) {}
  uint32_t OpenKey(HKey parent, std::string_view subKey, uint32_t sam, HKey* result) override {
    return base_.OpenKey(parent, subKey, sam, result);
  }
  uint32_t CreateKey(HKey parent, std::string_view subKey, uint32_t sam, HKey* result, bool* created) override {
    return base_.CreateKey(parent, subKey, sam, result, created);
  }
  uint32_t CloseKey(HKey key) override { return base_.CloseKey(key); }
  uint32_t QueryValue(HKey key, std::string_view name, RegValue* value, uint32_t* requiredSize,
                      uint32_t bufferSize) override {
    return base_.QueryValue(key, name, value, requiredSize, bufferSize);
  }
  uint32_t SetValue(HKey key, std::string_view name, uint32_t type, std::string_view data) override {
    return base_.SetValue(key, name, type, data);
  }
  uint32_t DeleteValue(HKey key, std::string_view name) override { return base_.DeleteValue(key, name); }
  uint32_t EnumKey(HKey key, uint32_t index, std::string* name) override { return base_.EnumKey(key, index, name); }
  uint32_t EnumValue(HKey key, uint32_t index, std::string* name, RegValue* value) override {
    return base_.EnumValue(key, index, name, value);
  }
  uint32_t QueryInfoKey(HKey key, RegKeyInfo* info) override { return base_.QueryInfoKey(key, info); }
  uint32_t DeleteKey(HKey parent, std::string_view subKey, uint32_t sam) override {
    return base_.DeleteKey(parent, subKey, sam);
  }
  uint32_t DeleteTree(HKey parent, std::string_view subKey, uint32_t sam) override {
    return base_.DeleteTree(parent, subKey, sam);
  }
  uint32_t FlushKey(HKey key) override { return base_.FlushKey(key); }
  uint32_t GetKeySecurity(HKey key, uint32_t securityInformation, std::string* descriptor) override {
    return base_.GetKeySecurity(key, securityInformation, descriptor);
  }
  uint32_t SetKeySecurity(HKey key, uint32_t securityInformation, std::string_view descriptor) override {
    return base_.SetKeySecurity(key, securityInformation, descriptor);
  }

 protected:
  IRegistry& base_;
};

class ForwardingSecurity : public ISecurity {
 public:
  explicit ForwardingSecurity(ISecurity& base) : base_(base) {}
  uint32_t LookupAccountName(std::string_view systemName, std::string_view accountName, winsec::Sid* sid,
                             std::string* referencedDomain, SidNameUse* use) override {
    return base_.LookupAccountName(systemName, accountName, sid, referencedDomain, use);
  }
  uint32_t LookupAccountSid(std::string_view systemName, const winsec::Sid& sid, AccountName* account) override {
    return base_.LookupAccountSid(systemName, sid, account);
  }
  uint32_t GetTokenUser(winsec::Sid* user) override { return base_.GetTokenUser(user); }
  uint32_t GetTokenGroups(std::vector<winsec::Sid>* groups) override { return base_.GetTokenGroups(groups); }
  uint32_t LookupPrivilegeValue(std::string_view name, uint64_t* luid) override {
    return base_.LookupPrivilegeValue(name, luid);
  }
  uint32_t AdjustTokenPrivilege(uint64_t luid, uint32_t attributes) override {
    return base_.AdjustTokenPrivilege(luid, attributes);
  }
  bool IsPrivilegeEnabled(uint64_t luid) override { return base_.IsPrivilegeEnabled(luid); }
  uint32_t GetNamedSecurityInfo(std::string_view objectName, SeObjectType type, uint32_t securityInformation,
                                winsec::SecurityDescriptor* descriptor) override {
    return base_.GetNamedSecurityInfo(objectName, type, securityInformation, descriptor);
  }
  uint32_t SetNamedSecurityInfo(std::string_view objectName, SeObjectType type, uint32_t securityInformation,
                                const winsec::Sid* owner, const winsec::Sid* group, const winsec::Acl* dacl,
                                const winsec::Acl* sacl) override {
    return base_.SetNamedSecurityInfo(objectName, type, securityInformation, owner, group, dacl, sacl);
  }
  uint32_t SetFileSecurity(std::string_view path, uint32_t securityInformation,
                           const winsec::SecurityDescriptor& descriptor) override {
    return base_.SetFileSecurity(path, securityInformation, descriptor);
  }

 protected:
  ISecurity& base_;
};

class ForwardingAccounts : public IAccounts {
 public:
  explicit ForwardingAccounts(IAccounts& base) : base_(base) {}
  uint32_t LocalGroupAdd(std::string_view name, std::string_view comment) override {
    return base_.LocalGroupAdd(name, comment);
  }
  uint32_t LocalGroupDelete(std::string_view name) override { return base_.LocalGroupDelete(name); }
  uint32_t LocalGroupGetInfo(std::string_view name, LocalGroupInfo* info) override {
    return base_.LocalGroupGetInfo(name, info);
  }
  uint32_t LocalGroupEnum(std::vector<LocalGroupInfo>* groups) override { return base_.LocalGroupEnum(groups); }
  uint32_t LocalGroupAddMembers(std::string_view group, const std::vector<winsec::Sid>& members) override {
    return base_.LocalGroupAddMembers(group, members);
  }
  uint32_t LocalGroupAddMembersByName(std::string_view group, const std::vector<std::string>& members) override {
    return base_.LocalGroupAddMembersByName(group, members);
  }
  uint32_t LocalGroupDelMembers(std::string_view group, const std::vector<winsec::Sid>& members) override {
    return base_.LocalGroupDelMembers(group, members);
  }
  uint32_t LocalGroupDelMembersByName(std::string_view group, const std::vector<std::string>& members) override {
    return base_.LocalGroupDelMembersByName(group, members);
  }
  uint32_t LocalGroupGetMembers(std::string_view group, std::vector<LocalGroupMember>* members) override {
    return base_.LocalGroupGetMembers(group, members);
  }
  uint32_t UserGetLocalGroups(std::string_view userName, bool includeIndirect,
                              std::vector<std::string>* groups) override {
    return base_.UserGetLocalGroups(userName, includeIndirect, groups);
  }
  uint32_t UserModalsGetDomain(std::string* domainName, winsec::Sid* domainSid) override {
    return base_.UserModalsGetDomain(domainName, domainSid);
  }

 protected:
  IAccounts& base_;
};

class ForwardingAutomaticUpdates : public IAutomaticUpdates {
 public:
  explicit ForwardingAutomaticUpdates(IAutomaticUpdates& base) : base_(base) {}
  uint32_t CreateInstance() override { return base_.CreateInstance(); }
  uint32_t Pause() override { return base_.Pause(); }
  uint32_t Resume() override { return base_.Resume(); }

 protected:
  IAutomaticUpdates& base_;
};

class ForwardingServices : public IServices {
 public:
  explicit ForwardingServices(IServices& base) : base_(base) {}
  uint32_t OpenManager(uint32_t desiredAccess, ScHandle* manager) override {
    return base_.OpenManager(desiredAccess, manager);
  }
  uint32_t OpenServiceHandle(ScHandle manager, std::string_view serviceName, uint32_t desiredAccess,
                             ScHandle* service) override {
    return base_.OpenServiceHandle(manager, serviceName, desiredAccess, service);
  }
  uint32_t QueryStatusProcess(ScHandle service, ServiceStatusProcess* status) override {
    return base_.QueryStatusProcess(service, status);
  }
  uint32_t QueryConfig(ScHandle service, ServiceConfig* config) override { return base_.QueryConfig(service, config); }
  uint32_t ChangeConfig(ScHandle service, uint32_t serviceType, uint32_t startType, uint32_t errorControl) override {
    return base_.ChangeConfig(service, serviceType, startType, errorControl);
  }
  uint32_t Start(ScHandle service) override { return base_.Start(service); }
  uint32_t Control(ScHandle service, uint32_t control, ServiceStatusProcess* status) override {
    return base_.Control(service, control, status);
  }
  uint32_t Close(ScHandle handle) override { return base_.Close(handle); }

 protected:
  IServices& base_;
};

class ForwardingFirewall : public IFirewall {
 public:
  explicit ForwardingFirewall(IFirewall& base) : base_(base) {}
  uint32_t CreateManager(std::shared_ptr<IFwMgr>* manager) override { return base_.CreateManager(manager); }
  uint32_t CreatePolicy2(std::shared_ptr<IFwPolicy2>* policy) override { return base_.CreatePolicy2(policy); }
  uint32_t CreateAuthorizedApplication(std::shared_ptr<IFwAuthorizedApplication>* application) override {
    return base_.CreateAuthorizedApplication(application);
  }
  uint32_t CreateOpenPort(std::shared_ptr<IFwOpenPort>* openPort) override { return base_.CreateOpenPort(openPort); }
  uint32_t CreateRule(std::shared_ptr<IFwRule>* rule) override { return base_.CreateRule(rule); }

 protected:
  IFirewall& base_;
};

// A platform whose services are the base platform's, except those a test
// replaces with SetFiles / SetRegistry / ... (the object must outlive this).
class ForwardingPlatform : public IPlatform {
 public:
  explicit ForwardingPlatform(IPlatform& base) : base_(base) {}
  ISystem& System() override { return system_ ? *system_ : base_.System(); }
  IFiles& Files() override { return files_ ? *files_ : base_.Files(); }
  IRegistry& Registry() override { return registry_ ? *registry_ : base_.Registry(); }
  ISecurity& Security() override { return security_ ? *security_ : base_.Security(); }
  IAccounts& Accounts() override { return accounts_ ? *accounts_ : base_.Accounts(); }
  IAutomaticUpdates& AutomaticUpdates() override {
    return automaticUpdates_ ? *automaticUpdates_ : base_.AutomaticUpdates();
  }
  IServices& Services() override { return services_ ? *services_ : base_.Services(); }
  IFirewall& Firewall() override { return firewall_ ? *firewall_ : base_.Firewall(); }

  void SetSystem(ISystem* system) { system_ = system; }
  void SetFiles(IFiles* files) { files_ = files; }
  void SetRegistry(IRegistry* registry) { registry_ = registry; }
  void SetSecurity(ISecurity* security) { security_ = security; }
  void SetAccounts(IAccounts* accounts) { accounts_ = accounts; }
  void SetAutomaticUpdates(IAutomaticUpdates* automaticUpdates) { automaticUpdates_ = automaticUpdates; }
  void SetServices(IServices* services) { services_ = services; }
  void SetFirewall(IFirewall* firewall) { firewall_ = firewall; }
  IPlatform& Base() { return base_; }

 private:
  IPlatform& base_;
  ISystem* system_ = nullptr;
  IFiles* files_ = nullptr;
  IRegistry* registry_ = nullptr;
  ISecurity* security_ = nullptr;
  IAccounts* accounts_ = nullptr;
  IAutomaticUpdates* automaticUpdates_ = nullptr;
  IServices* services_ = nullptr;
  IFirewall* firewall_ = nullptr;
};

}  // namespace plat
