// The text values the firewall's objects take, checked as Windows checks
// them before storing: port lists, address lists, ICMP types and codes,
// interface types and profile masks. Each check answers whether the whole
// value is acceptable.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace host {

// The comma-separated items of a list value, blanks around them dropped;
// empty for an empty list or one with an empty item.
std::vector<std::string> FirewallListItems(std::string_view list);

// "*" alone, or ports 1..65535, ranges "a-b" (a <= b) and the keywords
// RPC, RPC-EPMap, IPHTTPS, Teredo.
bool IsFirewallPortList(std::string_view ports);
// "*" alone, or addresses, subnets (with a prefix length or a mask), ranges
// "a-b" of either family and the keywords LocalSubnet, DefaultGateway, DHCP,
// DNS, WINS (any case).
bool IsFirewallAddressList(std::string_view addresses);
// True for an IPv6 item of an address list (it goes to the IPv6 field).
bool IsIpv6AddressItem(std::string_view item);
// True for a keyword item, which stands for both families.
bool IsAddressKeyword(std::string_view item);
// An address list as the firewall stores it: keywords in their own spelling
// ("localsubnet" becomes "LocalSubnet"), everything else as given.
std::string CanonicalAddressList(std::string_view addresses);
// "*" alone, or "type:code" pairs with type 0..255 and code 0..255 or "*".
bool IsIcmpTypesAndCodes(std::string_view icmp);
// RemoteAccess, Wireless, Lan, All.
bool IsInterfaceTypeList(std::string_view types);
// The decimal number `text` holds, when it is one of 0..max; `fallback` for
// anything else (a stored value someone else wrote need not be well formed).
int32_t FirewallNumber(std::string_view text, int32_t max, int32_t fallback);
// NET_FW_PROFILE2_ALL, or a non-empty mask of domain, private and public.
bool IsProfileMask(int32_t profiles);

}  // namespace host
