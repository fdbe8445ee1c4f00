// The repository of applied security files: a folder below the Windows
// folder (Security\Kelmar) holding TarvoRepository.xml, the stored copies of
// the security files, the history file and the repository log.
#pragma once

#include <string>
#include <string_view>

class CErrorMgr;

class CRepositoryMgr {
 public:
  // The repository folder; with `create`, made (one level) when missing.
  // "" after a failed creation, with a critical entry.
  static std::string ReturnRepositoryDir(CErrorMgr& errorMgr, bool create);

  // Checksum text of a document's XML text: the 32-bit rolling sum (rotate
  // left by 8, add) over every UTF-16 unit but the last, as a signed decimal
  // padded with "0" to 32 characters; "-1" padded for an empty text.
  static std::string HashText(std::u16string_view text);
  static std::string HashTextUtf8(std::string_view utf8);
};
