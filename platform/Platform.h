// The seam between the core and the operating system. The core reaches every
// platform service through plat::Current(); the program installs the
// simulated host (or, later, the native Windows platform) at start-up and a
// test installs its own.
#pragma once

#include "platform/Accounts.h"
#include "platform/AutomaticUpdates.h"
#include "platform/Files.h"
#include "platform/Firewall.h"
#include "platform/Registry.h"
#include "platform/Security.h"
#include "platform/Services.h"
#include "platform/System.h"

namespace plat {

class IPlatform {
 public:
  virtual ~IPlatform() = default;
  virtual ISystem& System() = 0;
  virtual IFiles& Files() = 0;
  virtual IRegistry& Registry() = 0;
  virtual ISecurity& Security() = 0;
  virtual IAccounts& Accounts() = 0;
  virtual IAutomaticUpdates& AutomaticUpdates() = 0;
  virtual IServices& Services() = 0;
  virtual IFirewall& Firewall() = 0;
};

// The active platform. Calling it before one is installed is a programming
// error and aborts with a message.
IPlatform& Current();
bool HasCurrent();
void Install(IPlatform* platform);

// Installs a platform for the lifetime of the object and restores the
// previous one afterwards (tests).
class ScopedPlatform {
 public:
  explicit ScopedPlatform(IPlatform& platform);
  ~ScopedPlatform();
  ScopedPlatform(const ScopedPlatform&) = delete;
  ScopedPlatform& operator=(const ScopedPlatform&) = delete;

 private:
  IPlatform* previous_;
};

}  // namespace plat
