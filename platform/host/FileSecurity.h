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
#include <unordered_map>
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

// What one connection knows of table file_sd and of the entries its rows
// belong to, so that walking a tree does not ask the database and the drive
// about every folder above every entry again. It is dropped whenever the
// database generation changes (another connection committed, a rollback,
// an entry removed or renamed through the host's files service). Entries
// changed on the drive by other programs while a process runs are outside
// the model, as an edited host.db would be.
struct FileSecurityCache {
  struct Level {
    std::optional<winsec::SecurityDescriptor> stored;  // the row's descriptor, when there is a row
    uint64_t storedInode = 0;                          // the inode the row was written for
    std::optional<uint64_t> inode;                     // the entry's inode, once looked at
  };
  uint64_t generation = 0;
  std::unordered_map<std::string, Level> levels;  // by table key
};

class FileSecurityStore {
 public:
  FileSecurityStore(HostDb& db, const PathMap& paths, const Profile& profile, FileSecurityCache& cache);

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
  FileSecurityCache::Level& CachedLevel(const std::string& fold);
  // The level's own descriptor: its row, unless the row belongs to an
  // entry that was deleted and made anew.
  std::optional<winsec::SecurityDescriptor> StoredFor(const std::string& fold, const std::string& hostPath);

  HostDb& db_;
  const PathMap& paths_;
  const Profile& profile_;
  FileSecurityCache& cache_;
};

// The table key of a Windows path ("c:\windows").
std::string FileSecurityKey(std::string_view windowsPath);

}  // namespace host
