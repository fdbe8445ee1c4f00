// A test host for the language resources: the program appears to run from
// C:\Program\Tarvo\tarvo.exe on the host, so the English re-lookup reads only
// files a test puts there, and the process-wide table starts empty.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "infra/ErrorMgr.h"
#include "platform/Forwarding.h"
#include "platform/text/Text.h"
#include "resources/ResourceMgr.h"
#include "support/TestHost.h"

namespace resources_test {

// A System service that forwards everything but the executable's path.
class ProgramPathSystem : public plat::ISystem {
 public:
  ProgramPathSystem(plat::ISystem& base, std::string modulePath) : base_(base), modulePath_(std::move(modulePath)) {}
  bool GetVersionInfo(plat::OsVersionInfoEx* info) override { return base_.GetVersionInfo(info); }
  bool IsWow64Process() override { return base_.IsWow64Process(); }
  uint32_t GetFolderPath(int csidl, std::string* path) override { return base_.GetFolderPath(csidl, path); }
  std::string TempPath() override { return base_.TempPath(); }
  std::string ModuleFileName() override { return modulePath_; }
  std::string ComputerName() override { return base_.ComputerName(); }
  bool IsUserAnAdmin() override { return base_.IsUserAnAdmin(); }
  unsigned AnsiCodePage() override { return base_.AnsiCodePage(); }
  plat::SystemTime LocalTime() override { return base_.LocalTime(); }
  uint32_t TickCount() override { return base_.TickCount(); }
  void Sleep(uint32_t milliseconds) override { base_.Sleep(milliseconds); }
  uint32_t CurrentProcessId() override { return base_.CurrentProcessId(); }
  uint32_t LastError() override { return base_.LastError(); }
  void SetLastError(uint32_t code) override { base_.SetLastError(code); }

 private:
  plat::ISystem& base_;
  std::string modulePath_;
};

inline constexpr std::string_view kProgramFolder = "C:\\Program\\Tarvo";

// A UTF-16LE file with byte-order mark holding `text`.
inline std::string Utf16File(std::u16string_view text) { return "\xFF\xFE" + text::Utf16ToUtf16LeBytes(text); }

// Every entry as "level|function|message", which reads well in a failed comparison.
inline std::vector<std::string> Entries(const CErrorMgr& errorMgr) {
  std::vector<std::string> lines;
  for (const auto& entry : errorMgr.Entries()) {
    lines.push_back(std::to_string(entry->level) + "|" + entry->function + "|" + entry->message);
  }
  return lines;
}

class ResourceMgrTest : public ::testing::Test {
 protected:
  ResourceMgrTest() : system_(host_.Platform().System(), std::string(kProgramFolder) + "\\tarvo.exe"),
                      platform_(host_.Platform()) {
    platform_.SetSystem(&system_);
    installed_ = std::make_unique<plat::ScopedPlatform>(platform_);
  }
  void SetUp() override { CResourceMgr::Reset(); }
  void TearDown() override { CResourceMgr::Reset(); }

  // Writes `bytes` as the file of `lcid` in `directory`.
  void WriteLanguageFile(std::string_view directory, int lcid, std::string_view bytes) {
    host_.WriteHostFile(std::string(directory) + "\\Tarvo_" + std::to_string(lcid) + ".ulf", bytes);
  }
  void WriteProgramEnglish(std::string_view bytes) { WriteLanguageFile(kProgramFolder, 1033, bytes); }

  TestHost host_;
  ProgramPathSystem system_;
  plat::ForwardingPlatform platform_;
  std::unique_ptr<plat::ScopedPlatform> installed_;
};

}  // namespace resources_test
