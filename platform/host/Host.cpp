#include "platform/host/Host.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "platform/host/HostSeed.h"
#include "platform/host/SecuritySeed.h"
#include "platform/text/Text.h"

namespace host {
namespace fs = std::filesystem;

namespace {

std::string DbPath(const std::string& folder) { return folder + "/host.db"; }

// Windows user names may not hold these characters.
std::string SanitizedUserName(std::string name) {
  for (char& c : name) {
    if (std::string_view("\"/\\[]:|<>+=;?*,@").find(c) != std::string_view::npos) c = '_';
  }
  if (name.size() > 20) name.resize(20);
  return name.empty() ? "User" : name;
}

std::string LinuxUserName() {
  if (const char* user = std::getenv("USER"); user && *user) return user;
  if (const passwd* pw = getpwuid(getuid()); pw && pw->pw_name) return pw->pw_name;
  return "User";
}

}  // namespace

std::string Host::DefaultFolder() {
  if (const char* env = std::getenv("TARVO_HOST"); env && *env) return env;
  std::string base;
  if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg && *xdg) {
    base = xdg;
  } else {
    const char* home = std::getenv("HOME");
    base = std::string(home && *home ? home : "/tmp") + "/.local/share";
  }
  return base + "/tarvo/host";
}

bool Host::Exists(const std::string& folder) { return fs::exists(DbPath(folder)); }

std::unique_ptr<Host> Host::Open(const std::string& folder, const OpenOptions& options, std::string* error) {
  if (!Exists(folder)) return Create(folder, CreateOptions{}, false, options, error);
  std::unique_ptr<Host> h(new Host());
  *error = h->Load(folder, options);
  if (!error->empty()) return nullptr;
  return h;
}

std::unique_ptr<Host> Host::Create(const std::string& folder, const CreateOptions& create, bool force,
                                   const OpenOptions& options, std::string* error) {
  const Profile* profile = FindProfile(create.profile);
  if (!profile) {
    *error = "unknown profile '" + create.profile + "'";
    return nullptr;
  }
  if (!IsKnownLanguage(create.language)) {
    *error = "unknown language '" + create.language + "' (use en-US or de-DE)";
    return nullptr;
  }
  if (create.clock != "real" && create.clock != "virtual") {
    *error = "unknown clock '" + create.clock + "' (use real or virtual)";
    return nullptr;
  }
  if (!IsAutomaticUpdatesMode(create.automaticUpdates)) {
    *error = "unknown automatic-updates mode '" + create.automaticUpdates + "' (use present, absent or failing)";
    return nullptr;
  }
  std::error_code ec;
  if (Exists(folder)) {
    if (!force) {
      *error = "a host already exists in " + folder + " (use --force to replace it)";
      return nullptr;
    }
    for (const char* name : {"host.db", "host.db-wal", "host.db-shm"}) fs::remove(folder + "/" + name, ec);
    fs::remove_all(folder + "/drive_c", ec);
  }
  fs::create_directories(folder + "/drive_c", ec);
  if (ec) {
    *error = "cannot create " + folder + ": " + ec.message();
    return nullptr;
  }
  {
    HostDb db;
    if (std::string message = db.Open(DbPath(folder), true); !message.empty()) {
      *error = message;
      return nullptr;
    }
    Transaction tx(db);
    db.SetMeta("profile", profile->name);
    db.SetMeta("language", create.language);
    db.SetMeta("clock", create.clock);
    // Virtual clocks start at a fixed, recognisable moment.
    db.SetMeta("virtual_time_ms", "1449482400000");  // 2015-12-07 10:00:00
    db.SetMeta("user_name", SanitizedUserName(create.userName.empty() ? LinuxUserName() : create.userName));
    db.SetMeta("user_admin", create.userIsAdmin ? "1" : "0");
    db.SetMeta("computer_name", ComputerNameOf(*profile));
    db.SetMeta("domain_sid", DomainSidOf(*profile));
    db.SetMeta("user_sid", DomainSidOf(*profile) + "-1000");
    HostRegistry::CreateRoots(db);
    tx.Commit();
  }
  std::unique_ptr<Host> h(new Host());
  *error = h->Load(folder, options);
  if (!error->empty()) return nullptr;
  try {
    Transaction tx(h->db_);
    h->Seed(create);
    tx.Commit();
  } catch (const DbError& e) {
    *error = "cannot initialise the host: " + e.message;
    return nullptr;
  }
  return h;
}

std::string Host::Load(const std::string& folder, const OpenOptions& options) {
  folder_ = fs::absolute(folder).lexically_normal().string();
  while (folder_.size() > 1 && folder_.back() == '/') folder_.pop_back();
  if (std::string message = db_.Open(DbPath(folder_), false); !message.empty()) return message;
  try {
    profile_ = FindProfile(db_.Meta("profile"));
    if (!profile_) return DbPath(folder_) + " names an unknown profile '" + db_.Meta("profile") + "'";
    identity_.computerName = db_.Meta("computer_name");
    identity_.userName = db_.Meta("user_name");
    identity_.userIsAdmin = db_.Meta("user_admin") == "1";
    identity_.language = db_.Meta("language", std::string(kDefaultLanguage));
  } catch (const DbError& e) {
    return DbPath(folder_) + " is not a usable host database: " + e.message;
  }
  paths_ = std::make_unique<PathMap>(folder_ + "/drive_c");
  system_ = std::make_unique<HostSystem>(db_, *profile_, identity_, *paths_, options.process32Bit);
  files_ = std::make_unique<HostFiles>(*paths_, [this] { db_.Invalidate(); });
  registry_ = std::make_unique<HostRegistry>(db_, *profile_, db_.Meta("user_sid"), options.process32Bit);
  security_ = std::make_unique<HostSecurity>(*this);
  accounts_ = std::make_unique<HostAccounts>(*this);
  automaticUpdates_ = std::make_unique<HostAutomaticUpdates>(db_, *system_);
  services_ = std::make_unique<HostServices>(db_, *system_, *profile_, db_.Meta("user_sid"));
  firewall_ = std::make_unique<HostFirewall>(db_, *system_, *services_, *profile_, db_.Meta("user_sid"));
  InstallKeyAccessCheck();
  try {
    services_->SeedIfMissing();
    firewall_->SeedIfMissing();
  } catch (const DbError&) {
    // A host that cannot be written (a read-only copy) opens without the
    // services it would gain; everything else of it still reads.
  }
  return {};
}

// Opening a key checks the process token against the key's DACL, as
// RegOpenKeyEx does.
void Host::InstallKeyAccessCheck() {
  registry_->SetAccessCheck(
      [security = security_.get()](int64_t keyId, uint32_t access) { return security->CheckKeyAccess(keyId, access); });
}

void Host::Seed(const CreateOptions& create) {
  // Setup writes as the system does, whoever the user will be.
  registry_->SetAccessCheck({});
  SeedFolders(*paths_, system_->Folders());
  SeedRegistry(*registry_, *profile_, system_->Folders(), identity_, UserSid());
  SeedAccounts(*this);
  automaticUpdates_->Seed(create.automaticUpdates);
  SeedSecurity(*this);  // last: it gives everything seeded above its owner
  InstallKeyAccessCheck();
}

}  // namespace host
