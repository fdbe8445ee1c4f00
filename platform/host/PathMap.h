// Windows paths on the simulated host. A Windows path is parsed and
// normalised ("/" and "\" both separate, "." and ".." resolved, relative
// paths against the current directory) and mapped to a Linux path: C: is the
// host's drive_c folder, Z: is the Linux root. Components match existing
// entries without regard to ASCII case, as on Windows; new ones keep their
// spelling. UNC paths are not reachable (ERROR_BAD_NETPATH).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace host {

struct WinPath {
  char drive = 0;                       // upper-case drive letter
  std::vector<std::string> components;  // below the drive root
  std::string ToString() const;         // "C:\a\b", "C:\" for the root
};

struct MappedPath {
  std::string hostPath;   // the Linux path (existing entries in their stored case)
  bool exists = false;    // the whole path exists
  bool parentExists = false;
  // The mode of the entry when the mapping already looked at it (not for
  // symbolic links, whose target decides); 0 when unknown.
  unsigned mode = 0;
  uint64_t device = 0;  // with the mode
  uint64_t inode = 0;
};

class PathMap {
 public:
  // `driveC`: the Linux folder of the C: drive.
  explicit PathMap(std::string driveC);

  // Parses `path` against the current directory. Returns a Win32 code: 53 for
  // UNC and device paths, 3 for an unknown drive or an empty path, 123 for
  // characters Windows does not allow in names ('*' and '?' only when
  // `allowWildcards`).
  uint32_t Parse(std::string_view path, WinPath* result, bool allowWildcards = false) const;
  // The Linux path behind a parsed path.
  MappedPath Map(const WinPath& path) const;
  uint32_t Resolve(std::string_view path, MappedPath* result) const;

  // The Windows path of a Linux path: below drive_c it is a C: path, else a Z: path.
  std::string WindowsPathOf(std::string_view linuxPath) const;
  std::string CurrentDirectory() const;

  const std::string& DriveC() const { return driveC_; }

  // The files service adds, removes and renames entries through these, so
  // that a kept listing of the folder stays right instead of being read
  // again: BeforeChange just before the change (whether the listing of the
  // entry's folder is current), AfterChange with that answer just after.
  bool BeforeChange(const std::string& hostPath) const;
  void AfterChange(const std::string& hostPath, bool listingWasCurrent) const;

 private:
  // A folder's entries by ASCII-lower-case name, with the folder's change
  // time and inode when they were read. A name not spelled as stored is
  // looked up here; the folder is read again only when its modification
  // time moved (since Linux 6.13 a change after the time was looked at gets
  // a time of its own, however soon it follows). Folders with thousands of
  // entries (a snapshot of many products) were otherwise read per lookup.
  struct Listing {
    int64_t changeTimeNs = 0;
    uint64_t inode = 0;
    std::unordered_map<std::string, std::string> byLowerName;  // the first in the folder's order
    bool hasCaseTwins = false;  // names that differ only in case
  };
  bool FindEntryNoCase(const std::string& folder, const std::string& name, std::string* stored) const;
  Listing* CurrentListing(const std::string& folder) const;
  WinPath WinPathOf(std::string_view linuxPath) const;
  WinPath CurrentWinPath() const;
  std::string driveC_;
  mutable std::unordered_map<std::string, Listing> listings_;
};

// Case-insensitive Windows wildcard match ('*' any run, '?' one character).
bool WildcardMatch(std::string_view pattern, std::string_view name);

}  // namespace host
