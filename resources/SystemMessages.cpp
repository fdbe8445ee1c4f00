#include "resources/SystemMessages.h"

#include <array>
#include <string_view>

#include "platform/WinError.h"
#include "platform/text/Text.h"

namespace {

struct SystemMessage {
  uint32_t code;
  std::string_view text;
};

constexpr std::array<SystemMessage, 10> kMessages = {{
    {winerr::kFileNotFound, "The system cannot find the file specified."},
    {winerr::kPathNotFound, "The system cannot find the path specified."},
    {winerr::kAccessDenied, "Access is denied."},
    {winerr::kSharingViolation, "The process cannot access the file because it is being used by another process."},
    {winerr::kLockViolation,
     "The process cannot access the file because another process has locked a portion of the file."},
    {winerr::kBadNetPath, "The network path was not found."},
    {winerr::kInvalidParameter, "The parameter is incorrect."},
    {winerr::kInvalidName, "The filename, directory name, or volume label syntax is incorrect."},
    {winerr::kBadPathName, "The specified path is invalid."},
    {winerr::kAlreadyExists, "Cannot create a file when that file already exists."},
}};

}  // namespace

std::string SystemMessageText(uint32_t code) {
  for (const SystemMessage& message : kMessages) {
    if (message.code == code) return std::string(message.text);
  }
  // Signed, as the "errorcode=%d" of the same log line prints it.
  return text::Format("Unknown error %d", static_cast<int>(code));
}
