#include <atomic>

#include "platform/Files.h"
#include "platform/text/Text.h"
#include "platform/WinError.h"

namespace plat {

uint32_t ReadWholeFile(IFiles& files, std::string_view path, std::string* bytes) {
  std::unique_ptr<IFileStream> stream;
  if (uint32_t rc = files.OpenStream(path, OpenMode::kRead, &stream)) return rc;
  bytes->clear();
  char buffer[65536];
  for (;;) {
    size_t got = 0;
    if (uint32_t rc = stream->Read(buffer, sizeof buffer, &got)) return rc;
    if (got == 0) break;
    bytes->append(buffer, got);
  }
  return winerr::kSuccess;
}

namespace {
uint32_t WriteWith(IFiles& files, std::string_view path, OpenMode mode, std::string_view bytes, bool flush) {
  std::unique_ptr<IFileStream> stream;
  if (uint32_t rc = files.OpenStream(path, mode, &stream)) return rc;
  if (uint32_t rc = stream->Write(bytes.data(), bytes.size())) return rc;
  return flush ? stream->Flush() : winerr::kSuccess;
}
}  // namespace

uint32_t WriteWholeFile(IFiles& files, std::string_view path, std::string_view bytes) {
  return WriteWith(files, path, OpenMode::kWrite, bytes, true);
}

uint32_t AppendToFile(IFiles& files, std::string_view path, std::string_view bytes) {
  // Closed without a flush to the disk, as a text file is: the bytes are
  // the system's once written, and a log line each costs no disk wait.
  return WriteWith(files, path, OpenMode::kAppend, bytes, false);
}

uint32_t WriteFileAtomically(IFiles& files, std::string_view path, std::string_view bytes) {
  // A read-only target refuses the replace, as MoveFileEx does on Windows;
  // check first so no temporary file is left behind.
  uint32_t attributes = 0;
  if (files.GetAttributes(path, &attributes) == winerr::kSuccess &&
      (attributes & kFileAttributeReadOnly)) {
    return winerr::kAccessDenied;
  }
  static std::atomic<unsigned> counter{0};
  const std::string temporary = text::Format("%.*s.tmp%u", static_cast<int>(path.size()), path.data(),
                                             counter.fetch_add(1));
  if (uint32_t rc = WriteWholeFile(files, temporary, bytes)) {
    files.RemoveFile(temporary);
    return rc;
  }
  if (uint32_t rc = files.MoveReplace(temporary, path)) {
    files.RemoveFile(temporary);
    return rc;
  }
  return winerr::kSuccess;
}

bool IsDirectory(IFiles& files, std::string_view path) {
  uint32_t attributes = 0;
  return files.GetAttributes(path, &attributes) == winerr::kSuccess &&
         (attributes & kFileAttributeDirectory);
}

bool PathExists(IFiles& files, std::string_view path) {
  uint32_t attributes = 0;
  return files.GetAttributes(path, &attributes) == winerr::kSuccess;
}

}  // namespace plat
