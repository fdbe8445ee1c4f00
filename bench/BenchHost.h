// The platform an in-process benchmark runs on: the host $TARVO_HOST names
// (bench/run sets it), else a throw-away virtual-clock host removed at the
// end. CErrorMgr reads the clock and documents load and save through the
// platform's files, so every benchmark needs one in place.
#pragma once

#include <stdlib.h>

#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <memory>
#include <string>

#include "platform/host/Host.h"

namespace bench {

class BenchHost {
 public:
  explicit BenchHost(const char* programName) {
    std::string error;
    if (std::getenv("TARVO_HOST")) {
      host_ = host::Host::Open(host::Host::DefaultFolder(), host::OpenOptions{}, &error);
    } else {
      std::string pattern = (std::filesystem::temp_directory_path() / "tarvo-bench-XXXXXX").string();
      if (mkdtemp(pattern.data())) temporary_ = pattern;
      host::CreateOptions create;
      create.clock = "virtual";
      host_ = host::Host::Create(temporary_, create, false, host::OpenOptions{}, &error);
    }
    if (!host_) {
      std::cerr << programName << ": no host: " << error << "\n";
      std::exit(1);
    }
    plat::Install(host_.get());
  }
  ~BenchHost() {
    plat::Install(nullptr);
    host_.reset();
    std::error_code ec;
    if (!temporary_.empty()) std::filesystem::remove_all(temporary_, ec);
    if (!scratch_.empty()) std::filesystem::remove_all(scratch_, ec);
  }
  BenchHost(const BenchHost&) = delete;
  BenchHost& operator=(const BenchHost&) = delete;

  host::Host& Host() { return *host_; }
  // The Windows path (Z: drive) of a file in a scratch folder of ours.
  std::string ScratchFile(const std::string& name) {
    if (scratch_.empty()) {
      std::string pattern = (std::filesystem::temp_directory_path() / "tarvo-bench-files-XXXXXX").string();
      if (!mkdtemp(pattern.data())) std::exit(1);
      scratch_ = pattern;
    }
    return host_->Paths().WindowsPathOf(scratch_ + "/" + name);
  }

 private:
  std::string temporary_;
  std::string scratch_;
  std::unique_ptr<host::Host> host_;
};

}  // namespace bench
