// CTarvo: the controller of one run. The entry point constructs one per
// process and calls exactly one method on it; each method returns the
// process exit code.
#pragma once

#include <string>

class CTarvo {
 public:
  CTarvo() = default;
  CTarvo(const CTarvo&) = delete;
  CTarvo& operator=(const CTarvo&) = delete;

  int ReturnFeatures(const std::string& opFilePath);
  int ApplyFeatures(const std::string& opFilePath);
  int ExportFirewallFeatures(const std::string& snapshotName);
  int ImportAndApplyFirewallFeatures(const std::string& snapshotName);
  int UninstallFeatures(const std::string& opFilePath);
  int CancelSetFeatures(const std::string& opFilePath);
};

// The result of a method that is not available in this build yet.
constexpr int kTarvoInternalError = 9;
