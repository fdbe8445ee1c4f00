// One firewall rule as Windows keeps it in the registry: a rule string
// "v2.10|Action=Allow|Active=FALSE|Dir=In|Protocol=6|LPort=80|Name=Web|",
// a version followed by KEY=VALUE fields, each ended by "|". Keys repeat for
// lists (Profile=, LPort=, RA4= ...). Fields keep their order, and fields this
// program does not know are kept as they are.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace host {

class FirewallRuleString {
 public:
  explicit FirewallRuleString(std::string version) : version_(std::move(version)) {}
  // Null when `text` is not of that form.
  static std::optional<FirewallRuleString> Parse(std::string_view text);
  std::string Text() const;

  // The first value of `key`, or `fallback` when the rule has none.
  std::string First(std::string_view key, std::string_view fallback = "") const;
  std::vector<std::string> All(std::string_view key) const;
  bool Has(std::string_view key) const;
  // Replaces every field of `key` by one field per value, where the first of
  // them stood (at the end for a new key); no values removes the key.
  void Set(std::string_view key, const std::vector<std::string>& values);
  void Set(std::string_view key, std::string_view value) { Set(key, std::vector<std::string>{std::string(value)}); }
  void Remove(std::string_view key) { Set(key, std::vector<std::string>{}); }

 private:
  std::string version_;
  std::vector<std::pair<std::string, std::string>> fields_;
};

}  // namespace host
