#include "fuzz/FuzzHost.h"

#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>

namespace fs = std::filesystem;

namespace fuzzing {
namespace {

constexpr std::string_view kInputFolder = "C:\\Fuzz";

// Owns the folder and the host, and undoes both at exit so a long fuzz
// session leaves no host folders behind.
class ProcessHost {
 public:
  ProcessHost() {
    std::string pattern = (fs::temp_directory_path() / "tarvo-fuzz-XXXXXX").string();
    if (!mkdtemp(pattern.data())) Fail("mkdtemp failed");
    folder_ = pattern;
    host::CreateOptions create;
    create.clock = "virtual";  // Sleep advances time: retry loops cost nothing and stay deterministic
    create.userName = "fuzzer";
    std::string error;
    host_ = host::Host::Create(folder_, create, false, host::OpenOptions{}, &error);
    if (!host_) Fail("cannot create the fuzz host: " + error);
    installed_ = std::make_unique<plat::ScopedPlatform>(*host_);
    fs::create_directories(LinuxPathOf(kInputFolder));
  }
  ~ProcessHost() {
    installed_.reset();
    host_.reset();
    std::error_code ec;
    fs::remove_all(folder_, ec);
  }

  host::Host& Host() { return *host_; }

  std::string LinuxPathOf(std::string_view windowsPath) const {
    host::MappedPath mapped;
    if (host_->Paths().Resolve(windowsPath, &mapped) != 0) Fail("cannot map " + std::string(windowsPath));
    return mapped.hostPath;
  }

 private:
  [[noreturn]] static void Fail(const std::string& why) {
    std::fprintf(stderr, "fuzz host: %s\n", why.c_str());
    std::abort();
  }

  std::string folder_;
  std::unique_ptr<host::Host> host_;
  std::unique_ptr<plat::ScopedPlatform> installed_;
};

std::unique_ptr<ProcessHost> theHost;

ProcessHost& Instance() {
  if (!theHost) theHost = std::make_unique<ProcessHost>();
  return *theHost;
}

}  // namespace

host::Host& TheHost() { return Instance().Host(); }

std::string WriteHostFile(std::string_view name, std::string_view bytes) {
  const std::string windowsPath = std::string(kInputFolder) + "\\" + std::string(name);
  std::ofstream out(Instance().LinuxPathOf(windowsPath), std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return windowsPath;
}

std::string WindowsPathOf(std::string_view linuxPath) { return TheHost().Paths().WindowsPathOf(linuxPath); }

void CheckReadsBack(const xml::Document& document) {
  if (!document.ReadsBackAsItIs()) return;
  const std::string text = document.Xml();
  const xml::Document readBack = xml::Document::Create();
  if (!readBack.LoadXml(text) || readBack.Xml() != text) std::abort();
}

}  // namespace fuzzing
