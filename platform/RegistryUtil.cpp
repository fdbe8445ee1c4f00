#include "platform/Registry.h"
#include "platform/text/Text.h"

namespace plat {

bool IsPredefinedKey(HKey key) {
  return key == kHkeyClassesRoot || key == kHkeyCurrentUser || key == kHkeyLocalMachine ||
         key == kHkeyUsers || key == kHkeyCurrentConfig;
}

std::string MakeRegSz(std::string_view utf8) {
  std::u16string wide = text::Utf8ToUtf16(utf8);
  wide.push_back(u'\0');
  return text::Utf16ToUtf16LeBytes(wide);
}

std::string MakeRegMultiSz(const std::vector<std::string>& items) {
  std::u16string wide;
  for (const std::string& item : items) {
    wide += text::Utf8ToUtf16(item);
    wide.push_back(u'\0');
  }
  wide.push_back(u'\0');
  return text::Utf16ToUtf16LeBytes(wide);
}

std::string MakeRegDword(uint32_t value) {
  std::string out(4, '\0');
  for (int i = 0; i < 4; ++i) out[i] = static_cast<char>((value >> (8 * i)) & 0xFF);
  return out;
}

std::string MakeRegQword(uint64_t value) {
  std::string out(8, '\0');
  for (int i = 0; i < 8; ++i) out[i] = static_cast<char>((value >> (8 * i)) & 0xFF);
  return out;
}

std::string RegSzText(std::string_view data) {
  std::u16string wide = text::Utf16LeBytesToUtf16(data);
  const size_t nul = wide.find(u'\0');
  if (nul != std::u16string::npos) wide.resize(nul);
  return text::Utf16ToUtf8(wide);
}

std::vector<std::string> RegMultiSzItems(std::string_view data) {
  std::vector<std::string> items;
  const std::u16string wide = text::Utf16LeBytesToUtf16(data);
  size_t start = 0;
  while (start < wide.size()) {
    size_t end = wide.find(u'\0', start);
    if (end == std::u16string::npos) end = wide.size();
    if (end == start) break;  // the empty string that ends the list
    items.push_back(text::Utf16ToUtf8(wide.substr(start, end - start)));
    start = end + 1;
  }
  return items;
}

uint32_t RegDwordValue(std::string_view data) {
  uint32_t value = 0;
  for (size_t i = 0; i < 4 && i < data.size(); ++i) {
    value |= static_cast<uint32_t>(static_cast<unsigned char>(data[i])) << (8 * i);
  }
  return value;
}

uint64_t RegQwordValue(std::string_view data) {
  uint64_t value = 0;
  for (size_t i = 0; i < 8 && i < data.size(); ++i) {
    value |= static_cast<uint64_t>(static_cast<unsigned char>(data[i])) << (8 * i);
  }
  return value;
}

}  // namespace plat
