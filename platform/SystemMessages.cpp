#include "platform/SystemMessages.h"

#include <array>
#include <string_view>

#include "platform/WinError.h"
#include "platform/text/Text.h"

namespace {

struct SystemMessage {
  uint32_t code;
  std::string_view text;
};

constexpr std::array<SystemMessage, 15> kMessages = {{
    {winerr::kFileNotFound, "The system cannot find the file specified."},
    {winerr::kPathNotFound, "The system cannot find the path specified."},
    {winerr::kAccessDenied, "Access is denied."},
    {winerr::kInvalidHandle, "The handle is invalid."},
    {winerr::kNotEnoughMemory, "Not enough memory resources are available to process this command."},
    {winerr::kOutOfMemory, "Not enough memory resources are available to complete this operation."},
    {winerr::kDirectory, "The directory name is invalid."},
    {winerr::kDirNotEmpty, "The directory is not empty."},
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

std::string_view KnownSystemMessageText(uint32_t code) {
  for (const SystemMessage& message : kMessages) {
    if (message.code == code) return message.text;
  }
  return {};
}

std::string SystemMessageText(uint32_t code) {
  if (std::string_view known = KnownSystemMessageText(code); !known.empty()) return std::string(known);
  // Signed, as the "errorcode=%d" of the same log line prints it.
  return text::Format("Unknown error %d", static_cast<int>(code));
}
