// Helpers shared by the firewall entries (applications, ports, system
// services): the scope of an entry, that is from which remote addresses it
// may be reached (any, the local subnet, or a custom address list), read
// from and written to the entry's element and turned into log text; and the
// firewall's type codes of the predefined system services.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/xml/Dom.h"

class CErrorMgr;

class CFirewallTool {
 public:
  // Scope types; they equal the firewall's own scope codes.
  static constexpr int kScopeNone = -1;  // no scope element
  static constexpr int kScopeAny = 0;
  static constexpr int kScopeSubnet = 1;
  static constexpr int kScopeCustom = 2;

  // The scope of an entry element: the first of t:scopeAny, t:scopeSubnet,
  // t:scopeCustom present, and that element's "value" as the custom
  // addresses (whichever element carries it). kScopeNone and no addresses
  // when there is none, or no node.
  static void GetScopeTypeFromXml(const xml::Node& entry, int* scopeType, std::string* customAddresses);
  // Writes the scope element under `entry` (the existing one of that name,
  // else a new one), with the language text of the scope as its message
  // when asked, and "value" when there are custom addresses. An unknown
  // scope type writes nothing and is an error (level 5).
  static void SetScopeTypeToXML(CErrorMgr& errorMgr, const xml::Node& entry, int scopeType,
                                std::string_view customAddresses, bool withMessage);
  // "t:scopeAny", "t:scopeSubnet", "t:scopeCustom", else "".
  static std::string GetScopeElementName(int scopeType);
  // The log text of a scope: "complete network", "only subnet",
  // "custom network access to <addresses>", else "".
  static std::string GetScopeText(int scopeType, std::string_view customAddresses);
  // The profile mask of an entry's firewallProfile text (exact comparison):
  // "all" every profile, "public", "private", "domain"; anything else
  // 0xFFFFFFFF, which the firewall refuses.
  static int32_t GetProfileMask(std::string_view firewallProfile);
  // `addresses` followed by the items of `previous` that it does not hold
  // yet (compared without regard to ASCII case), comma separated: the
  // remote addresses an exception keeps when it is set anew, so that a
  // second run of the same file does not grow the list.
  static std::string AppendPreviousAddresses(std::string_view addresses, std::string_view previous);
  // How a legacy exception (application, port, service) that is set anew
  // reaches its remote addresses: an address list to put, or a scope code.
  // One that allowed every address ("*") keeps it; a custom scope takes the
  // custom addresses and the previous ones; the local subnet takes
  // "localsubnet" and the previous ones when they add any, else the scope
  // code, as every other scope type does. `failureFormat` is the log text
  // of a refusal (one 0x%08lx).
  struct LegacyRemoteAccess {
    bool byAddresses = false;
    std::string addresses;
    int32_t scope = kScopeNone;
    const char* failureFormat = "";
  };
  static LegacyRemoteAccess GetLegacyRemoteAccess(int scopeType, std::string_view customAddresses,
                                                  std::string_view previous);
  // The remote addresses of a new rule for an entry: "*" when the rule it
  // replaces allowed every address; the custom addresses or "LocalSubnet",
  // each followed by the previous ones; "" (the rule's default, any
  // address) for scope any or none.
  static std::string GetRuleRemoteAddresses(int scopeType, std::string_view customAddresses,
                                            std::string_view previous);
  // The firewall's service type of a predefined system service name
  // (0 file and printer sharing, 1 UPnP, 2 remote desktop), else -1.
  static int GetSystemServiceType(std::string_view serviceName);
};
