// The COM-shaped objects of the host's firewall, made by HostFirewall.
#pragma once

#include <memory>

#include "platform/Firewall.h"
#include "platform/host/FirewallRuleString.h"

namespace host {

class HostFirewall;

// Rules family (FirewallRules.cpp).
std::shared_ptr<plat::IFwRule> MakeNewRule(HostFirewall& firewall);
// A detached rule object holding a copy of `rule`, to read its properties.
std::shared_ptr<plat::IFwRule> MakeRuleView(HostFirewall& firewall, FirewallRuleString rule);
std::shared_ptr<plat::IFwPolicy2> MakePolicy2(HostFirewall& firewall);

// Legacy family (FirewallLegacy.cpp).
std::shared_ptr<plat::IFwMgr> MakeManager(HostFirewall& firewall);
std::shared_ptr<plat::IFwAuthorizedApplication> MakeNewAuthorizedApplication(HostFirewall& firewall);
std::shared_ptr<plat::IFwOpenPort> MakeNewOpenPort(HostFirewall& firewall);

}  // namespace host
