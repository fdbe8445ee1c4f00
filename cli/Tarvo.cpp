#include "cli/Tarvo.h"

// The feature methods below are not built yet; they answer "internal error"
// without touching any file, so that no caller mistakes them for done work.
int CTarvo::ReturnFeatures(const std::string&) { return kTarvoInternalError; }
int CTarvo::ApplyFeatures(const std::string&) { return kTarvoInternalError; }
int CTarvo::ExportFirewallFeatures(const std::string&) { return kTarvoInternalError; }
int CTarvo::ImportAndApplyFirewallFeatures(const std::string&) { return kTarvoInternalError; }
