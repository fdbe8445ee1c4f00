#include "platform/host/FirewallRuleString.h"

#include <algorithm>

namespace host {

std::optional<FirewallRuleString> FirewallRuleString::Parse(std::string_view text) {
  if (text.size() < 2 || text[0] != 'v' || text.back() != '|') return std::nullopt;
  size_t bar = text.find('|');
  FirewallRuleString rule{std::string(text.substr(1, bar - 1))};
  for (size_t start = bar + 1; start < text.size(); start = bar + 1) {
    bar = text.find('|', start);
    const std::string_view field = text.substr(start, bar - start);
    const size_t equals = field.find('=');
    if (equals == std::string_view::npos || equals == 0) return std::nullopt;
    rule.fields_.emplace_back(field.substr(0, equals), field.substr(equals + 1));
  }
  return rule;
}

std::string FirewallRuleString::Text() const {
  std::string text = "v" + version_ + "|";
  for (const auto& [key, value] : fields_) text += key + "=" + value + "|";
  return text;
}

std::string FirewallRuleString::First(std::string_view key, std::string_view fallback) const {
  for (const auto& [k, value] : fields_) {
    if (k == key) return value;
  }
  return std::string(fallback);
}

std::vector<std::string> FirewallRuleString::All(std::string_view key) const {
  std::vector<std::string> values;
  for (const auto& [k, value] : fields_) {
    if (k == key) values.push_back(value);
  }
  return values;
}

bool FirewallRuleString::Has(std::string_view key) const {
  return std::any_of(fields_.begin(), fields_.end(), [key](const auto& field) { return field.first == key; });
}

void FirewallRuleString::Set(std::string_view key, const std::vector<std::string>& values) {
  auto at = std::find_if(fields_.begin(), fields_.end(), [key](const auto& field) { return field.first == key; });
  size_t position = at - fields_.begin();
  std::erase_if(fields_, [key](const auto& field) { return field.first == key; });
  for (const std::string& value : values) {
    fields_.emplace(fields_.begin() + static_cast<std::ptrdiff_t>(position++), std::string(key), value);
  }
}

}  // namespace host
