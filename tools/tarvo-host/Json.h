// A small JSON writer for the --json output of tarvo-host: objects, arrays,
// strings (escaped), numbers and booleans, written in order as they come.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace hosttool {

class JsonWriter {
 public:
  JsonWriter& BeginObject();
  JsonWriter& EndObject();
  JsonWriter& BeginArray();
  JsonWriter& EndArray();
  JsonWriter& Key(std::string_view key);
  JsonWriter& String(std::string_view value);
  JsonWriter& Number(int64_t value);
  JsonWriter& Bool(bool value);
  JsonWriter& Null();
  // Key and value in one call.
  JsonWriter& Field(std::string_view key, std::string_view value) { return Key(key).String(value); }
  JsonWriter& Field(std::string_view key, const char* value) { return Key(key).String(value); }
  JsonWriter& Field(std::string_view key, int64_t value) { return Key(key).Number(value); }
  JsonWriter& Field(std::string_view key, bool value) { return Key(key).Bool(value); }

  const std::string& Text() const { return out_; }

 private:
  void Separate();
  std::string out_;
  std::vector<bool> first_;  // per open container: no element written yet
  bool afterKey_ = false;
};

std::string JsonEscape(std::string_view value);

}  // namespace hosttool
