#include <atomic>

#include "platform/Files.h"
#include "platform/Platform.h"
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

namespace {

// Creates a new file beside `target` under a name no other writer can be
// using: this process's id and counter, and an exclusive creation that
// skips any name left behind by a process that died.
uint32_t CreateTemporaryBeside(IFiles& files, const std::string& target, std::string* temporary,
                               std::unique_ptr<IFileStream>* stream) {
  static std::atomic<unsigned> counter{0};
  const uint32_t processId = HasCurrent() ? Current().System().CurrentProcessId() : 0;
  constexpr int kAttempts = 100;
  uint32_t rc = winerr::kFileExists;
  for (int attempt = 0; attempt < kAttempts && rc == winerr::kFileExists; ++attempt) {
    *temporary = text::Format("%s.tmp%u-%u", target.c_str(), processId, counter.fetch_add(1));
    rc = files.OpenStream(*temporary, OpenMode::kCreateNew, stream);
  }
  return rc;
}

uint32_t WriteAndFlush(IFileStream& stream, std::string_view bytes) {
  if (uint32_t rc = stream.Write(bytes.data(), bytes.size())) return rc;
  return stream.Flush();
}

}  // namespace

uint32_t WriteFileAtomically(IFiles& files, std::string_view path, std::string_view bytes) {
  // The rename would replace a symbolic link itself; the file it points to
  // is the one meant.
  const std::string target = files.FinalPath(path);
  // A read-only target refuses the replace, as MoveFileEx does on Windows;
  // check first so no temporary file is left behind.
  uint32_t attributes = 0;
  if (files.GetAttributes(target, &attributes) == winerr::kSuccess &&
      (attributes & kFileAttributeReadOnly)) {
    return winerr::kAccessDenied;
  }
  std::string temporary;
  std::unique_ptr<IFileStream> stream;
  if (uint32_t rc = CreateTemporaryBeside(files, target, &temporary, &stream)) return rc;
  uint32_t rc = WriteAndFlush(*stream, bytes);
  stream.reset();
  if (rc == winerr::kSuccess) rc = files.MoveReplace(temporary, target);
  if (rc != winerr::kSuccess) files.RemoveFile(temporary);
  return rc;
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
