#include "platform/host/HostFiles.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <cstdio>
#include <thread>
#include <utility>

#include "platform/WinError.h"

namespace host {
namespace {

bool IsReadOnlyMode(mode_t mode) { return (mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0; }

uint32_t AttributesOf(const struct stat& st) {
  uint32_t attributes = S_ISDIR(st.st_mode) ? plat::kFileAttributeDirectory : plat::kFileAttributeArchive;
  if (IsReadOnlyMode(st.st_mode)) attributes |= plat::kFileAttributeReadOnly;
  return attributes;
}

// Seconds between 1601-01-01 (FILETIME's epoch) and 1970-01-01.
constexpr uint64_t kFileTimeEpochSeconds = 11'644'473'600;

uint64_t FileTimeOf(const timespec& time) {
  return (static_cast<uint64_t>(time.tv_sec) + kFileTimeEpochSeconds) * 10'000'000 +
         static_cast<uint64_t>(time.tv_nsec) / 100;
}

// The entry at `hostPath` itself, as FindFirstFile and GetFileAttributes
// see it: a symbolic link is a reparse point, never its target, so a walk
// over folders can tell it and stay out. Its target only tells a folder
// link from a file link; Linux keeps no such kind for a dangling link,
// which therefore counts as a file link. A link's own size is 0.
uint32_t EntryAt(const std::string& hostPath, plat::FileEntry* entry) {
  struct stat st;
  if (lstat(hostPath.c_str(), &st) != 0) return Win32CodeOfErrno(errno);
  entry->lastWriteTime = FileTimeOf(st.st_mtim);
  if (!S_ISLNK(st.st_mode)) {
    entry->attributes = AttributesOf(st);
    entry->size = static_cast<uint64_t>(st.st_size);
    return winerr::kSuccess;
  }
  struct stat target;
  const uint32_t targetAttributes =
      stat(hostPath.c_str(), &target) == 0 ? AttributesOf(target) : plat::kFileAttributeArchive;
  entry->attributes = targetAttributes | plat::kFileAttributeReparsePoint;
  entry->size = 0;
  return winerr::kSuccess;
}

class HostFileStream : public plat::IFileStream {
 public:
  explicit HostFileStream(int fd) : fd_(fd) {}
  ~HostFileStream() override { close(fd_); }

  uint32_t Read(void* buffer, size_t size, size_t* bytesRead) override {
    ssize_t n;
    do {
      n = ::read(fd_, buffer, size);
    } while (n < 0 && errno == EINTR);
    if (n < 0) return Win32CodeOfErrno(errno);
    *bytesRead = static_cast<size_t>(n);
    return winerr::kSuccess;
  }

  uint32_t Write(const void* data, size_t size) override {
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
      const ssize_t n = ::write(fd_, p, size);
      if (n < 0) {
        if (errno == EINTR) continue;
        return Win32CodeOfErrno(errno);
      }
      p += n;
      size -= static_cast<size_t>(n);
    }
    return winerr::kSuccess;
  }

  uint32_t Seek(uint64_t offset) override {
    return lseek(fd_, static_cast<off_t>(offset), SEEK_SET) < 0 ? Win32CodeOfErrno(errno) : winerr::kSuccess;
  }

  uint32_t SeekToEnd() override {
    return lseek(fd_, 0, SEEK_END) < 0 ? Win32CodeOfErrno(errno) : winerr::kSuccess;
  }

  uint64_t Size() override {
    struct stat st;
    return fstat(fd_, &st) == 0 ? static_cast<uint64_t>(st.st_size) : 0;
  }

  uint32_t Flush() override { return fsync(fd_) == 0 ? winerr::kSuccess : Win32CodeOfErrno(errno); }

 private:
  int fd_;
};

// flock locks belong to an open file description: two opens of one file,
// in one process or two, exclude each other, and a process that dies
// releases its lock with its descriptors.
class HostFileLock : public plat::IFileLock {
 public:
  explicit HostFileLock(int fd) : fd_(fd) {}
  ~HostFileLock() override { close(fd_); }

 private:
  int fd_;
};

int OpenFlags(plat::OpenMode mode) {
  switch (mode) {
    case plat::OpenMode::kRead: return O_RDONLY;
    case plat::OpenMode::kWrite: return O_WRONLY | O_CREAT | O_TRUNC;
    case plat::OpenMode::kAppend: return O_WRONLY | O_CREAT | O_APPEND;
    case plat::OpenMode::kReadWrite: return O_RDWR;
    case plat::OpenMode::kCreateNew: return O_WRONLY | O_CREAT | O_EXCL;
  }
  return O_RDONLY;
}

bool WantsWrite(plat::OpenMode mode) { return mode != plat::OpenMode::kRead; }
bool MayCreate(plat::OpenMode mode) { return mode != plat::OpenMode::kRead && mode != plat::OpenMode::kReadWrite; }

bool HasWildcard(std::string_view s) { return s.find_first_of("*?") != std::string_view::npos; }

}  // namespace

uint32_t Win32CodeOfErrno(int error) {
  switch (error) {
    case ENOENT: return winerr::kFileNotFound;
    case ENOTDIR: return winerr::kPathNotFound;
    case EACCES:
    case EPERM:
    case EISDIR:
    case EROFS: return winerr::kAccessDenied;
    case EEXIST: return winerr::kAlreadyExists;
    case ENOTEMPTY: return winerr::kDirNotEmpty;
    case ENAMETOOLONG: return winerr::kInvalidName;
    case ENOSPC: return 112;  // ERROR_DISK_FULL
    case ENOMEM: return winerr::kNotEnoughMemory;
    default: return winerr::kAccessDenied;
  }
}

namespace {

// Tells the path map about an entry added, removed or renamed here (see
// PathMap::BeforeChange); an empty path is no change.
class EntryChange {
 public:
  EntryChange(const PathMap& paths, std::string hostPath)
      : paths_(paths), hostPath_(std::move(hostPath)), wasCurrent_(!hostPath_.empty() && paths_.BeforeChange(hostPath_)) {}
  ~EntryChange() {
    if (!hostPath_.empty()) paths_.AfterChange(hostPath_, wasCurrent_);
  }
  EntryChange(const EntryChange&) = delete;
  EntryChange& operator=(const EntryChange&) = delete;

 private:
  const PathMap& paths_;
  std::string hostPath_;
  bool wasCurrent_;
};

}  // namespace

std::string HostFiles::FullPath(std::string_view path) {
  WinPath parsed;
  if (paths_.Parse(path, &parsed, true) != winerr::kSuccess) return std::string(path);
  return parsed.ToString();
}

std::string HostFiles::CurrentDirectory() { return paths_.CurrentDirectory(); }

uint32_t HostFiles::ResolveExisting(std::string_view path, MappedPath* mapped) {
  if (uint32_t rc = paths_.Resolve(path, mapped)) return rc;
  if (mapped->exists) return winerr::kSuccess;
  return mapped->parentExists ? winerr::kFileNotFound : winerr::kPathNotFound;
}

uint32_t HostFiles::GetAttributes(std::string_view path, uint32_t* attributes) {
  MappedPath mapped;
  if (uint32_t rc = ResolveExisting(path, &mapped)) return rc;
  plat::FileEntry entry;
  if (uint32_t rc = EntryAt(mapped.hostPath, &entry)) return rc;
  *attributes = entry.attributes;
  return winerr::kSuccess;
}

uint32_t HostFiles::SetReadOnly(std::string_view path, bool readOnly) {
  MappedPath mapped;
  if (uint32_t rc = ResolveExisting(path, &mapped)) return rc;
  struct stat st;
  if (stat(mapped.hostPath.c_str(), &st) != 0) return Win32CodeOfErrno(errno);
  const mode_t writeBits = S_IWUSR | S_IWGRP | S_IWOTH;
  const mode_t mode = readOnly ? (st.st_mode & ~writeBits) : (st.st_mode | S_IWUSR);
  return chmod(mapped.hostPath.c_str(), mode & 07777) == 0 ? winerr::kSuccess : Win32CodeOfErrno(errno);
}

// A name without wildcards is looked up directly instead of matched against
// every entry of its folder (existence checks ask so for each file).
uint32_t HostFiles::FindOne(WinPath folder, const std::string& name, std::vector<plat::FileEntry>* found) {
  folder.components.push_back(name);
  const MappedPath mapped = paths_.Map(folder);
  plat::FileEntry entry;
  if (!mapped.exists || EntryAt(mapped.hostPath, &entry) != winerr::kSuccess) return winerr::kFileNotFound;
  entry.name = mapped.hostPath.substr(mapped.hostPath.find_last_of('/') + 1);
  found->push_back(std::move(entry));
  return winerr::kSuccess;
}

uint32_t HostFiles::Find(std::string_view pattern, std::vector<plat::FileEntry>* found) {
  found->clear();
  WinPath parsed;
  if (uint32_t rc = paths_.Parse(pattern, &parsed, true)) return rc;
  if (parsed.components.empty()) return winerr::kFileNotFound;  // a drive root has no entry of its own
  const std::string namePattern = parsed.components.back();
  parsed.components.pop_back();
  for (const std::string& c : parsed.components) {
    if (HasWildcard(c)) return winerr::kInvalidName;
  }
  const MappedPath folder = paths_.Map(parsed);
  if (!folder.exists) return winerr::kPathNotFound;
  if (!HasWildcard(namePattern)) return FindOne(parsed, namePattern, found);
  DIR* dir = opendir(folder.hostPath.c_str());
  if (!dir) return errno == ENOTDIR ? winerr::kPathNotFound : Win32CodeOfErrno(errno);
  while (dirent* entry = readdir(dir)) {
    const std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    if (!WildcardMatch(namePattern, name)) continue;
    plat::FileEntry listed;
    if (EntryAt(folder.hostPath + "/" + name, &listed) != winerr::kSuccess) continue;  // gone meanwhile
    listed.name = name;
    found->push_back(std::move(listed));
  }
  closedir(dir);
  std::sort(found->begin(), found->end(),
            [](const plat::FileEntry& a, const plat::FileEntry& b) { return a.name < b.name; });
  return found->empty() ? winerr::kFileNotFound : winerr::kSuccess;
}

uint32_t HostFiles::OpenStream(std::string_view path, plat::OpenMode mode,
                               std::unique_ptr<plat::IFileStream>* stream) {
  MappedPath mapped;
  if (uint32_t rc = paths_.Resolve(path, &mapped)) return rc;
  if (!mapped.exists) {
    if (!mapped.parentExists) return winerr::kPathNotFound;
    if (!MayCreate(mode)) return winerr::kFileNotFound;
  }
  if (mapped.exists && mode == plat::OpenMode::kCreateNew) return winerr::kFileExists;
  if (mapped.exists) {
    mode_t entryMode = mapped.mode;  // known when the mapping looked at the entry
    struct stat st;
    if (!entryMode && stat(mapped.hostPath.c_str(), &st) == 0) entryMode = st.st_mode;
    if (S_ISDIR(entryMode)) return winerr::kAccessDenied;
    if (entryMode && WantsWrite(mode) && IsReadOnlyMode(entryMode)) return winerr::kAccessDenied;
  }
  const EntryChange change(paths_, mapped.exists ? std::string() : mapped.hostPath);
  const int fd = open(mapped.hostPath.c_str(), OpenFlags(mode) | O_CLOEXEC, 0644);
  if (fd < 0 && errno == EEXIST) return winerr::kFileExists;  // created by someone else meanwhile
  if (fd < 0) return errno == ENOENT ? winerr::kPathNotFound : Win32CodeOfErrno(errno);
  *stream = std::make_unique<HostFileStream>(fd);
  return winerr::kSuccess;
}

uint32_t HostFiles::MakeDirectory(std::string_view path) {
  MappedPath mapped;
  if (uint32_t rc = paths_.Resolve(path, &mapped)) return rc;
  if (mapped.exists) return winerr::kAlreadyExists;
  if (!mapped.parentExists) return winerr::kPathNotFound;
  const EntryChange change(paths_, mapped.hostPath);
  if (mkdir(mapped.hostPath.c_str(), 0755) != 0) {
    return errno == ENOENT ? winerr::kPathNotFound : Win32CodeOfErrno(errno);
  }
  return winerr::kSuccess;
}

uint32_t HostFiles::RemoveFile(std::string_view path) {
  MappedPath mapped;
  if (uint32_t rc = ResolveExisting(path, &mapped)) return rc;
  struct stat st;
  if (stat(mapped.hostPath.c_str(), &st) != 0) return Win32CodeOfErrno(errno);
  if (S_ISDIR(st.st_mode) || IsReadOnlyMode(st.st_mode)) return winerr::kAccessDenied;
  entriesReplaced_();
  const EntryChange change(paths_, mapped.hostPath);
  return unlink(mapped.hostPath.c_str()) == 0 ? winerr::kSuccess : Win32CodeOfErrno(errno);
}

uint32_t HostFiles::RemoveFolder(std::string_view path) {
  MappedPath mapped;
  if (uint32_t rc = ResolveExisting(path, &mapped)) return rc;
  entriesReplaced_();
  const EntryChange change(paths_, mapped.hostPath);
  if (rmdir(mapped.hostPath.c_str()) != 0) {
    return errno == ENOTDIR ? winerr::kDirectory : Win32CodeOfErrno(errno);
  }
  return winerr::kSuccess;
}

uint32_t HostFiles::MoveReplace(std::string_view from, std::string_view to) {
  MappedPath source;
  if (uint32_t rc = ResolveExisting(from, &source)) return rc;
  MappedPath target;
  if (uint32_t rc = paths_.Resolve(to, &target)) return rc;
  if (!target.exists && !target.parentExists) return winerr::kPathNotFound;
  struct stat st;
  if (target.exists && stat(target.hostPath.c_str(), &st) == 0) {
    if (S_ISDIR(st.st_mode) || IsReadOnlyMode(st.st_mode)) return winerr::kAccessDenied;
  }
  entriesReplaced_();
  const EntryChange removed(paths_, source.hostPath);
  const EntryChange added(paths_, target.hostPath);
  return rename(source.hostPath.c_str(), target.hostPath.c_str()) == 0 ? winerr::kSuccess
                                                                        : Win32CodeOfErrno(errno);
}

std::string HostFiles::FinalPath(std::string_view path) {
  MappedPath mapped;
  if (paths_.Resolve(path, &mapped) != winerr::kSuccess || !mapped.exists) return FullPath(path);
  char resolved[PATH_MAX];
  if (!realpath(mapped.hostPath.c_str(), resolved)) return FullPath(path);
  return paths_.WindowsPathOf(resolved);
}

uint32_t HostFiles::LockExclusive(std::string_view path, uint32_t timeoutMs,
                                  std::unique_ptr<plat::IFileLock>* lock) {
  MappedPath mapped;
  if (uint32_t rc = paths_.Resolve(path, &mapped)) return rc;
  if (!mapped.exists && !mapped.parentExists) return winerr::kPathNotFound;
  const EntryChange change(paths_, mapped.exists ? std::string() : mapped.hostPath);
  const int fd = open(mapped.hostPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) return Win32CodeOfErrno(errno);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    if ((errno != EWOULDBLOCK && errno != EINTR) || std::chrono::steady_clock::now() >= deadline) {
      const int error = errno;
      close(fd);
      return error == EWOULDBLOCK ? winerr::kLockViolation : Win32CodeOfErrno(error);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  *lock = std::make_unique<HostFileLock>(fd);
  return winerr::kSuccess;
}

// The device and inode number stand for the volume and the file index.
uint32_t HostFiles::GetFileId(std::string_view path, plat::FileId* id) {
  MappedPath mapped;
  if (uint32_t rc = ResolveExisting(path, &mapped)) return rc;
  if (mapped.mode != 0) {
    *id = {mapped.device, mapped.inode};
    return winerr::kSuccess;
  }
  // A link: the file it leads to.
  struct stat st;
  if (stat(mapped.hostPath.c_str(), &st) != 0) return Win32CodeOfErrno(errno);
  *id = {static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)};
  return winerr::kSuccess;
}

}  // namespace host
