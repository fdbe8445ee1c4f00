// The Files service: the file system as Windows presents it. Paths are
// Windows paths ("C:\dir\file", relative paths against the current
// directory); results are Win32 error codes (0 success, 2 file not found,
// 3 path not found, 5 access denied, 53 bad network path, 183 exists ...).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace plat {

constexpr uint32_t kFileAttributeReadOnly = 0x01;
constexpr uint32_t kFileAttributeHidden = 0x02;
constexpr uint32_t kFileAttributeDirectory = 0x10;
constexpr uint32_t kFileAttributeArchive = 0x20;
constexpr uint32_t kFileAttributeNormal = 0x80;
constexpr uint32_t kFileAttributeReparsePoint = 0x400;
constexpr uint32_t kInvalidFileAttributes = 0xFFFFFFFF;

struct FileEntry {
  std::string name;  // the name as stored, without folder
  uint32_t attributes = 0;
  uint64_t size = 0;
  // FILETIME of the last write: 100-nanosecond intervals since 1601-01-01 UTC.
  uint64_t lastWriteTime = 0;
  bool IsDirectory() const { return (attributes & kFileAttributeDirectory) != 0; }
  // A symbolic link or junction: its own entry, whatever it points to.
  bool IsReparsePoint() const { return (attributes & kFileAttributeReparsePoint) != 0; }
};

// What GetFileInformationByHandle tells a file apart by: the volume's serial
// number and the file index. Paths that reach one file (hard links, a
// symbolic link and its target) have equal ids.
struct FileId {
  uint64_t volume = 0;
  uint64_t index = 0;
  bool operator==(const FileId&) const = default;
};

enum class OpenMode {
  kRead,       // existing file, read only
  kWrite,      // create or truncate, write only
  kAppend,     // open or create, positioned at the end
  kReadWrite,  // existing file, read and write
  kCreateNew,  // a new file, write only; 80 when the name exists (CREATE_NEW)
};

// An open file. Errors are Win32 codes.
class IFileStream {
 public:
  virtual ~IFileStream() = default;
  virtual uint32_t Read(void* buffer, size_t size, size_t* bytesRead) = 0;
  virtual uint32_t Write(const void* data, size_t size) = 0;
  virtual uint32_t Seek(uint64_t offset) = 0;
  virtual uint32_t SeekToEnd() = 0;
  virtual uint64_t Size() = 0;
  virtual uint32_t Flush() = 0;
};

// An exclusive lock on a file, held until the object is destroyed.
class IFileLock {
 public:
  virtual ~IFileLock() = default;
};

class IFiles {
 public:
  virtual ~IFiles() = default;

  // GetFullPathNameW: an absolute Windows path, "." and ".." resolved.
  virtual std::string FullPath(std::string_view path) = 0;
  virtual std::string CurrentDirectory() = 0;
  // GetFileAttributesW. A symbolic link in the last component is not
  // followed: it is FILE_ATTRIBUTE_REPARSE_POINT, with
  // FILE_ATTRIBUTE_DIRECTORY when it leads to a folder.
  virtual uint32_t GetAttributes(std::string_view path, uint32_t* attributes) = 0;
  // Sets or clears FILE_ATTRIBUTE_READONLY.
  virtual uint32_t SetReadOnly(std::string_view path, bool readOnly) = 0;
  // FindFirstFile/FindNextFile: '*' and '?' in the last component; "." and
  // ".." are not listed. 2 when nothing matches, 3 when the folder is missing.
  // Entries that are symbolic links carry the attributes GetAttributes gives
  // them (a dangling one is listed too); links in the folder part of the
  // pattern are followed, so "link\*" lists what the link leads to.
  virtual uint32_t Find(std::string_view pattern, std::vector<FileEntry>* found) = 0;
  virtual uint32_t OpenStream(std::string_view path, OpenMode mode,
                              std::unique_ptr<IFileStream>* stream) = 0;
  // CreateDirectoryW: one level; 183 when it exists, 3 when the parent is missing.
  virtual uint32_t MakeDirectory(std::string_view path) = 0;
  virtual uint32_t RemoveFile(std::string_view path) = 0;
  // RemoveDirectoryW: the folder must be empty (145 otherwise).
  virtual uint32_t RemoveFolder(std::string_view path) = 0;
  // MoveFileExW with MOVEFILE_REPLACE_EXISTING: the atomic replace of a file.
  virtual uint32_t MoveReplace(std::string_view from, std::string_view to) = 0;
  // GetFinalPathNameByHandleW: the full path of the file itself, symbolic
  // links on the way followed; the full path as given when nothing exists there.
  virtual std::string FinalPath(std::string_view path) = 0;
  // LockFileEx on the file at `path` (created when missing), exclusive,
  // waiting at most `timeoutMs` for another holder, this process's other
  // locks included; 33 when it stayed locked. Between processes, so the
  // wait is real time whatever the clock of the machine.
  virtual uint32_t LockExclusive(std::string_view path, uint32_t timeoutMs, std::unique_ptr<IFileLock>* lock) = 0;
  // The id of the file or folder `path` leads to, symbolic links followed;
  // 2 or 3 when it does not exist.
  virtual uint32_t GetFileId(std::string_view path, FileId* id) = 0;
};

// Helpers on top of the service.
uint32_t ReadWholeFile(IFiles& files, std::string_view path, std::string* bytes);
uint32_t WriteWholeFile(IFiles& files, std::string_view path, std::string_view bytes);
uint32_t AppendToFile(IFiles& files, std::string_view path, std::string_view bytes);
// Writes a sibling temporary file, flushes it and renames it over `path`, so
// a crash leaves either the old or the new content. The temporary's name is
// the target's with ".tmp<process id>-<counter>", created exclusively, so
// concurrent writers never share one. When `path` is a symbolic link, the
// file it points to is replaced and the link stays.
uint32_t WriteFileAtomically(IFiles& files, std::string_view path, std::string_view bytes);
bool IsDirectory(IFiles& files, std::string_view path);
bool PathExists(IFiles& files, std::string_view path);

}  // namespace plat
