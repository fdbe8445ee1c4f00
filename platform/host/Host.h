// The simulated Windows host: one folder holding host.db (the machine's
// state) and drive_c/ (its C: drive). Opening a host that does not exist yet
// creates it from the default profile; a database that is corrupt or of an
// unknown schema version is refused, never replaced.
#pragma once

#include <memory>
#include <string>

#include "platform/Platform.h"
#include "platform/host/FileSecurity.h"
#include "platform/host/HostAccounts.h"
#include "platform/host/HostAutomaticUpdates.h"
#include "platform/host/HostDb.h"
#include "platform/host/HostFiles.h"
#include "platform/host/HostFirewall.h"
#include "platform/host/HostRegistry.h"
#include "platform/host/HostSecurity.h"
#include "platform/host/HostServices.h"
#include "platform/host/HostSystem.h"
#include "platform/host/PathMap.h"
#include "platform/host/Profiles.h"

namespace host {

// How a new host is made.
struct CreateOptions {
  std::string profile{kDefaultProfile};
  std::string language{kDefaultLanguage};
  std::string clock = "real";  // "real" or "virtual"
  std::string userName;        // empty: named after the Linux user
  bool userIsAdmin = true;
  std::string automaticUpdates{kWuaPresent};  // the update agent: "present", "absent" or "failing"
};

// How this process sees the host.
struct OpenOptions {
#ifdef TARVO_BUILD_X86
  bool process32Bit = true;
#else
  bool process32Bit = false;
#endif
};

class Host : public plat::IPlatform {
 public:
  // $TARVO_HOST, else ${XDG_DATA_HOME:-$HOME/.local/share}/tarvo/host.
  static std::string DefaultFolder();

  // Opens the host in `folder`, creating it from the default profile when the
  // folder holds no host yet. On failure returns null and a one-line message.
  static std::unique_ptr<Host> Open(const std::string& folder, const OpenOptions& options, std::string* error);
  // Makes a new host; an existing one is replaced only with `force`.
  static std::unique_ptr<Host> Create(const std::string& folder, const CreateOptions& create, bool force,
                                      const OpenOptions& options, std::string* error);
  static bool Exists(const std::string& folder);

  plat::ISystem& System() override { return *system_; }
  plat::IFiles& Files() override { return *files_; }
  plat::IRegistry& Registry() override { return *registry_; }
  plat::ISecurity& Security() override { return *security_; }
  plat::IAccounts& Accounts() override { return *accounts_; }
  HostAutomaticUpdates& AutomaticUpdates() override { return *automaticUpdates_; }
  HostServices& Services() override { return *services_; }
  HostFirewall& Firewall() override { return *firewall_; }

  HostDb& Db() { return db_; }
  FileSecurityCache& FileCache() { return fileCache_; }
  const PathMap& Paths() const { return *paths_; }
  const Profile& ProfileDef() const { return *profile_; }
  const MachineIdentity& Identity() const { return identity_; }
  HostRegistry& RegistryImpl() { return *registry_; }
  HostSecurity& SecurityImpl() { return *security_; }
  HostSystem& SystemImpl() { return *system_; }
  const std::string& Folder() const { return folder_; }
  std::string UserSid() const { return db_.Meta("user_sid"); }
  std::string DomainSid() const { return db_.Meta("domain_sid"); }
  std::string Language() const { return identity_.language; }

 private:
  Host() = default;
  std::string Load(const std::string& folder, const OpenOptions& options);
  void Seed(const CreateOptions& create);
  void InstallKeyAccessCheck();

  std::string folder_;
  mutable HostDb db_;
  FileSecurityCache fileCache_;
  const Profile* profile_ = nullptr;
  MachineIdentity identity_;
  std::unique_ptr<PathMap> paths_;
  std::unique_ptr<HostSystem> system_;
  std::unique_ptr<HostFiles> files_;
  std::unique_ptr<HostRegistry> registry_;
  std::unique_ptr<HostSecurity> security_;
  std::unique_ptr<HostAccounts> accounts_;
  std::unique_ptr<HostAutomaticUpdates> automaticUpdates_;
  std::unique_ptr<HostServices> services_;
  std::unique_ptr<HostFirewall> firewall_;
};

}  // namespace host
