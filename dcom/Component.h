// One DCOM application (t:component), registered under
// HKEY_CLASSES_ROOT\APPID\{application id}: its name, how it runs (service,
// service parameters, run-as account), its authentication level, and its
// launch and access permissions, each left to the machine-wide default
// ("use default") or customised by account entries. Applying creates or
// updates the AppID key and its values, or deletes the key when the
// application must not exist.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "dcom/DCOMPerm.h"
#include "platform/Registry.h"
#include "platform/winsec/SecurityDescriptor.h"
#include "platform/xml/Dom.h"

class CErrorMgr;

class CComponent {
 public:
  CComponent();
  ~CComponent();

  void Read(const xml::Node& element);
  // Each value is written on its own, so that one that fails does not keep
  // the others from being written. True unless the error flag is set.
  bool ApplyFeature(CErrorMgr& errorMgr);
  // Creates or opens the AppID key; an empty id or one holding a backslash
  // (which would name another key) is refused.
  bool CreateApplicationKeyInReg(CErrorMgr& errorMgr, plat::HKey* key);
  // "use default" deletes the value; "customize" with entries changes the
  // stored descriptor (or the standard one) in one read-modify-write and
  // writes it only when no error was recorded on the way.
  void SetAccessLaunchPermissions(CErrorMgr& errorMgr, plat::HKey key, bool launch);
  // The RPC authentication level of a level text (any letter case); an
  // unknown text is a warning and 0.
  static uint32_t GetAuthenticationLevel(CErrorMgr& errorMgr, std::string_view text);
  // The display text of a level number; an unknown number is a warning and "Default".
  static std::string GetAuthenticationLevel(CErrorMgr& errorMgr, uint32_t number);
  // A new component with the application's values as the machine has them.
  std::unique_ptr<CComponent> GetCurrentComponent(CErrorMgr& errorMgr) const;
  void AddLogEntriesFromFeature(CErrorMgr& errorMgr) const;
  xml::Node SetFeatureToXml(const xml::Node& parent, std::string_view productName, bool withMessage) const;

  // A copy that asks for the application to be removed.
  std::unique_ptr<CComponent> RemovalCopy() const;

  bool Exists() const { return exists_; }
  const std::string& ApplicationId() const { return applicationId_; }
  const std::string& Name() const { return name_; }
  const std::string& AuthenticationLevel() const { return authenticationLevel_; }
  const std::string& LaunchPermissionsValue() const { return launchValue_; }
  const std::string& AccessPermissionsValue() const { return accessValue_; }
  const std::vector<std::unique_ptr<CLaunchPerm>>& LaunchEntries() const { return launch_; }
  const std::vector<std::unique_ptr<CAccessPerm>>& AccessEntries() const { return access_; }

 private:
  std::string KeyPath() const;
  void DeleteApplicationKey(CErrorMgr& errorMgr);
  bool WriteString(CErrorMgr& errorMgr, plat::HKey key, std::string_view valueName, const std::string& value,
                   const char* failureFormat);
  void WriteAuthenticationLevel(CErrorMgr& errorMgr, plat::HKey key);
  // The stored descriptor of the value, or the standard one when it is
  // missing; false (after a level-5 entry) when it cannot be read.
  bool ReadOrCreateDescriptor(CErrorMgr& errorMgr, plat::HKey key, bool launch, winsec::SecurityDescriptor* sd);
  void ReadCurrentPermissions(CErrorMgr& errorMgr, plat::HKey key, bool launch);

  bool exists_ = true;
  std::string name_;
  std::string applicationId_;
  std::string localService_;
  std::string serviceParameters_;
  std::string runAs_;
  std::string authenticationLevel_;
  std::string accessValue_;
  std::vector<std::unique_ptr<CAccessPerm>> access_;
  std::string launchValue_;
  std::vector<std::unique_ptr<CLaunchPerm>> launch_;
  std::string configurationValue_;
  std::vector<std::unique_ptr<CConfigurationPerm>> configuration_;
};
