#include "support/TestHost.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <sstream>

namespace fs = std::filesystem;

std::string MakeTempFolder(std::string_view prefix) {
  std::string pattern = (fs::temp_directory_path() / (std::string(prefix) + "-XXXXXX")).string();
  if (!mkdtemp(pattern.data())) ADD_FAILURE() << "mkdtemp failed";
  return pattern;
}

TestHost::TestHost(std::string_view profile, std::string_view language, bool process32Bit,
                   std::string_view automaticUpdates)
    : folder_(MakeTempFolder("tarvo-host")) {
  host::CreateOptions create;
  create.profile = std::string(profile);
  create.language = std::string(language);
  create.automaticUpdates = std::string(automaticUpdates);
  Make(create, process32Bit);
}

TestHost::TestHost(StandardUser) : folder_(MakeTempFolder("tarvo-host")) {
  host::CreateOptions create;
  create.userIsAdmin = false;
  Make(create, host::OpenOptions{}.process32Bit);
}

void TestHost::Make(host::CreateOptions create, bool process32Bit) {
  create.clock = "virtual";
  create.userName = "tester";
  host::OpenOptions open;
  open.process32Bit = process32Bit;
  std::string error;
  host_ = host::Host::Create(folder_, create, false, open, &error);
  if (!host_) {
    ADD_FAILURE() << "cannot create test host: " << error;
    std::abort();
  }
  installed_ = std::make_unique<plat::ScopedPlatform>(*host_);
}

TestHost::~TestHost() {
  installed_.reset();
  host_.reset();
  std::error_code ec;
  fs::permissions(folder_, fs::perms::owner_all, fs::perm_options::add, ec);
  for (auto it = fs::recursive_directory_iterator(folder_, ec); it != fs::recursive_directory_iterator(); ++it) {
    fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
  }
  fs::remove_all(folder_, ec);
}

std::string TestHost::HostPath(std::string_view windowsPath) const {
  host::MappedPath mapped;
  if (host_->Paths().Resolve(windowsPath, &mapped) != 0) return {};
  return mapped.hostPath;
}

std::string TestHost::WindowsPathOf(std::string_view linuxPath) const {
  return host_->Paths().WindowsPathOf(linuxPath);
}

std::string TestHost::WriteHostFile(std::string_view windowsPath, std::string_view bytes) const {
  const std::string path = HostPath(windowsPath);
  fs::create_directories(fs::path(path).parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return path;
}

std::string TestHost::ReadHostFile(std::string_view windowsPath) const {
  std::ifstream in(HostPath(windowsPath), std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}
