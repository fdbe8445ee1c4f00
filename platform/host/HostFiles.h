// The file service of the simulated host: Windows paths mapped onto Linux
// folders (see PathMap). A file without any write permission bit is
// read-only for every process, root included, as FILE_ATTRIBUTE_READONLY is
// on Windows.
#pragma once

#include <functional>

#include "platform/Files.h"
#include "platform/host/PathMap.h"

namespace host {

class HostFiles : public plat::IFiles {
 public:
  // `entriesReplaced` is told whenever an entry goes or moves, which
  // makes what was known about the entries at a path out of date.
  HostFiles(const PathMap& paths, std::function<void()> entriesReplaced)
      : paths_(paths), entriesReplaced_(std::move(entriesReplaced)) {}

  std::string FullPath(std::string_view path) override;
  std::string CurrentDirectory() override;
  uint32_t GetAttributes(std::string_view path, uint32_t* attributes) override;
  uint32_t SetReadOnly(std::string_view path, bool readOnly) override;
  uint32_t Find(std::string_view pattern, std::vector<plat::FileEntry>* found) override;
  uint32_t OpenStream(std::string_view path, plat::OpenMode mode,
                      std::unique_ptr<plat::IFileStream>* stream) override;
  uint32_t MakeDirectory(std::string_view path) override;
  uint32_t RemoveFile(std::string_view path) override;
  uint32_t RemoveFolder(std::string_view path) override;
  uint32_t MoveReplace(std::string_view from, std::string_view to) override;
  std::string FinalPath(std::string_view path) override;
  uint32_t LockExclusive(std::string_view path, uint32_t timeoutMs,
                         std::unique_ptr<plat::IFileLock>* lock) override;
  uint32_t GetFileId(std::string_view path, plat::FileId* id) override;

 private:
  // Resolves a path that must exist: 2 when only its last component is
  // missing, 3 when a folder on the way is.
  uint32_t ResolveExisting(std::string_view path, MappedPath* mapped);
  // Find for a name without wildcards in an existing folder.
  uint32_t FindOne(WinPath folder, const std::string& name, std::vector<plat::FileEntry>* found);
  const PathMap& paths_;
  std::function<void()> entriesReplaced_;
};

// The Win32 code for a failed Linux call.
uint32_t Win32CodeOfErrno(int error);

}  // namespace host
