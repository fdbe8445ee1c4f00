// The security descriptors of files and folders on the simulated host. An
// object that has one of its own keeps it in host.db (table file_sd, keyed by
// the case-folded normalised Windows path, with the inode of the Linux entry
// so that a file deleted and made anew does not take over the old one's
// descriptor); everything else is computed from the folders above it by the
// rules of ObjectSecurity.h, starting at the drive root.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/host/HostDb.h"
#include "platform/host/ObjectSecurity.h"
#include "platform/host/PathMap.h"
#include "platform/host/Profiles.h"
#include "platform/winsec/SecurityDescriptor.h"

namespace host {

// A file or folder located on the host, with the chain above it.
struct FileObject {
  std::string windowsPath;  // "C:\Windows", existing entries in their stored case
  std::string fold;         // the table key
  std::string hostPath;
  uint64_t inode = 0;
  bool isFolder = false;
  std::vector<SecurityLevel> chain;  // drive root first, the object last
};

class FileSecurityStore {
 public:
  FileSecurityStore(HostDb& db, const PathMap& paths, const Profile& profile);

  // Finds an existing object: ERROR_FILE_NOT_FOUND (2) when only the last
  // component is missing, ERROR_PATH_NOT_FOUND (3) when a folder on the way
  // is, and the parse errors of PathMap (53 UNC, 123 bad name).
  uint32_t Locate(std::string_view path, FileObject* object);
  winsec::SecurityDescriptor Effective(const FileObject& object) const;
  // Replaces the object's own descriptor; ERROR_INVALID_ACL when it cannot
  // be written (an ACL over 64 KB).
  uint32_t Store(const FileObject& object, const winsec::SecurityDescriptor& sd);
  // What a drive root reads when it stores nothing.
  winsec::SecurityDescriptor RootDefault() const;

 private:
  std::optional<winsec::SecurityDescriptor> StoredFor(const std::string& fold, uint64_t inode);

  HostDb& db_;
  const PathMap& paths_;
  const Profile& profile_;
};

// The table key of a Windows path ("c:\windows").
std::string FileSecurityKey(std::string_view windowsPath);

}  // namespace host
