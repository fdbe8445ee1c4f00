// A fresh simulated host in a temporary folder, installed as the current
// platform for the lifetime of the object. Tests use it to run real code
// against a real (throw-away) machine state.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "platform/host/Host.h"

class TestHost {
 public:
  // A virtual-clock host of `profile` and `language`, seen by a process of
  // the build's own bitness unless `process32Bit` says otherwise, with the
  // update agent in `automaticUpdates` mode (present, absent or failing).
  explicit TestHost(std::string_view profile = "win7-sp1-x64", std::string_view language = "en-US",
                    bool process32Bit = host::OpenOptions{}.process32Bit,
                    std::string_view automaticUpdates = host::kWuaPresent);
  // A virtual-clock host of the default profile whose user is no administrator.
  struct StandardUser {};
  explicit TestHost(StandardUser);
  ~TestHost();
  TestHost(const TestHost&) = delete;
  TestHost& operator=(const TestHost&) = delete;

  host::Host& Host() { return *host_; }
  plat::IPlatform& Platform() { return *host_; }
  const std::string& Folder() const { return folder_; }
  // The Linux path behind a Windows path (the host's C: or Z: drive).
  std::string HostPath(std::string_view windowsPath) const;
  std::string WindowsPathOf(std::string_view linuxPath) const;
  // Writes a file through Linux, creating its folders; returns its Linux path.
  std::string WriteHostFile(std::string_view windowsPath, std::string_view bytes) const;
  std::string ReadHostFile(std::string_view windowsPath) const;

 private:
  void Make(host::CreateOptions create, bool process32Bit);

  std::string folder_;
  std::unique_ptr<host::Host> host_;
  std::unique_ptr<plat::ScopedPlatform> installed_;
};

// A new empty temporary folder, removed by the caller.
std::string MakeTempFolder(std::string_view prefix = "tarvo-test");
