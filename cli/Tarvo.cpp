#include "cli/Tarvo.h"

// The firewall snapshot methods are not built yet; they answer "internal error"
// without touching any file, so that no caller mistakes them for done work.
int CTarvo::ExportFirewallFeatures(const std::string&) { return kTarvoInternalError; }
int CTarvo::ImportAndApplyFirewallFeatures(const std::string&) { return kTarvoInternalError; }
