#include "platform/host/FirewallValues.h"

#include <arpa/inet.h>

#include <algorithm>

#include "platform/Firewall.h"
#include "platform/text/Text.h"
#include "platform/winsec/Number.h"

namespace host {

namespace {

bool IsNumberUpTo(std::string_view digits, uint64_t max, uint64_t* value) {
  if (digits.empty() || digits.size() > 5 || digits.find_first_not_of("0123456789") != std::string_view::npos) {
    return false;
  }
  return winsec::ParseNumber(digits, max, value);
}

bool IsOneOfNoCase(std::string_view item, std::initializer_list<std::string_view> words) {
  return std::any_of(words.begin(), words.end(), [item](std::string_view word) { return text::EqualsNoCase(item, word); });
}

bool IsPortItem(std::string_view item) {
  if (IsOneOfNoCase(item, {"RPC", "RPC-EPMap", "IPHTTPS", "Teredo"})) return true;
  const size_t dash = item.find('-');
  uint64_t low = 0, high = 0;
  if (dash == std::string_view::npos) return IsNumberUpTo(item, 65535, &low) && low > 0;
  return IsNumberUpTo(item.substr(0, dash), 65535, &low) && IsNumberUpTo(item.substr(dash + 1), 65535, &high) &&
         low > 0 && low <= high;
}

bool IsIpv4(std::string_view text) {
  in_addr address{};
  return inet_pton(AF_INET, std::string(text).c_str(), &address) == 1;
}

bool IsIpv6(std::string_view text) {
  in6_addr address{};
  return inet_pton(AF_INET6, std::string(text).c_str(), &address) == 1;
}

bool IsAddress(std::string_view text) { return IsIpv4(text) || IsIpv6(text); }

bool IsSubnet(std::string_view address, std::string_view suffix) {
  uint64_t prefix = 0;
  if (IsIpv4(address)) return IsNumberUpTo(suffix, 32, &prefix) || IsIpv4(suffix);
  return IsIpv6(address) && IsNumberUpTo(suffix, 128, &prefix);
}

bool IsAddressItem(std::string_view item) {
  if (IsAddressKeyword(item)) return true;
  if (const size_t slash = item.find('/'); slash != std::string_view::npos) {
    return IsSubnet(item.substr(0, slash), item.substr(slash + 1));
  }
  if (const size_t dash = item.find('-'); dash != std::string_view::npos) {
    const std::string_view low = item.substr(0, dash), high = item.substr(dash + 1);
    return (IsIpv4(low) && IsIpv4(high)) || (IsIpv6(low) && IsIpv6(high));
  }
  return IsAddress(item);
}

bool IsIcmpItem(std::string_view item) {
  const size_t colon = item.find(':');
  if (colon == std::string_view::npos) return false;
  uint64_t value = 0;
  const std::string_view code = item.substr(colon + 1);
  return IsNumberUpTo(item.substr(0, colon), 255, &value) && (code == "*" || IsNumberUpTo(code, 255, &value));
}

// A list of items each accepted by `isItem`, or "*" alone when `star` allows it.
template <typename IsItem>
bool IsList(std::string_view list, bool star, IsItem isItem) {
  const std::vector<std::string> items = FirewallListItems(list);
  if (items.empty()) return false;
  if (star && items.size() == 1 && items[0] == "*") return true;
  return std::all_of(items.begin(), items.end(), [&](const std::string& item) { return isItem(item); });
}

}  // namespace

std::vector<std::string> FirewallListItems(std::string_view list) {
  std::vector<std::string> items;
  size_t start = 0;
  while (start <= list.size()) {
    size_t comma = list.find(',', start);
    if (comma == std::string_view::npos) comma = list.size();
    std::string_view item = list.substr(start, comma - start);
    while (!item.empty() && item.front() == ' ') item.remove_prefix(1);
    while (!item.empty() && item.back() == ' ') item.remove_suffix(1);
    if (item.empty()) return {};
    items.emplace_back(item);
    start = comma + 1;
  }
  return items;
}

bool IsFirewallPortList(std::string_view ports) { return IsList(ports, true, IsPortItem); }

bool IsFirewallAddressList(std::string_view addresses) { return IsList(addresses, true, IsAddressItem); }

bool IsIpv6AddressItem(std::string_view item) { return item.find(':') != std::string_view::npos; }

constexpr std::string_view kAddressKeywords[] = {"LocalSubnet", "DefaultGateway", "DHCP", "DNS", "WINS"};

bool IsAddressKeyword(std::string_view item) {
  return std::any_of(std::begin(kAddressKeywords), std::end(kAddressKeywords),
                     [item](std::string_view word) { return text::EqualsNoCase(item, word); });
}

std::string CanonicalAddressList(std::string_view addresses) {
  if (addresses == "*") return "*";
  std::string list;
  for (const std::string& item : FirewallListItems(addresses)) {
    std::string_view spelled = item;
    for (std::string_view word : kAddressKeywords) {
      if (text::EqualsNoCase(item, word)) spelled = word;
    }
    list += (list.empty() ? "" : ",") + std::string(spelled);
  }
  return list;
}

bool IsIcmpTypesAndCodes(std::string_view icmp) { return IsList(icmp, true, IsIcmpItem); }

bool IsInterfaceTypeList(std::string_view types) {
  return IsList(types, false, [](std::string_view item) {
    return IsOneOfNoCase(item, {"RemoteAccess", "Wireless", "Lan", "All"});
  });
}

int32_t FirewallNumber(std::string_view text, int32_t max, int32_t fallback) {
  uint64_t value = 0;
  return IsNumberUpTo(text, static_cast<uint64_t>(max), &value) ? static_cast<int32_t>(value) : fallback;
}

bool IsProfileMask(int32_t profiles) {
  constexpr int32_t kAllThree = plat::kFwProfile2Domain | plat::kFwProfile2Private | plat::kFwProfile2Public;
  return profiles == plat::kFwProfile2All || (profiles > 0 && (profiles & ~kAllThree) == 0);
}

}  // namespace host
