// A preload library for bench/run --profile: it turns fsync and fdatasync
// into no-ops, for the files whose name ends in ".log" only
// (TARVO_BENCH_NOSYNC=log, the default) or for every file
// (TARVO_BENCH_NOSYNC=all), so a run shows how much of its wall time the
// syncs of the log appends (or of everything) cost.
#include <dlfcn.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>

namespace {

bool IsLogFile(int fd) {
  char path[4096];
  const std::string link = "/proc/self/fd/" + std::to_string(fd);
  const ssize_t n = readlink(link.c_str(), path, sizeof path - 1);
  if (n <= 0) return false;
  path[n] = '\0';
  return n >= 4 && std::strcmp(path + n - 4, ".log") == 0;
}

bool SkipSync(int fd) {
  const char* mode = std::getenv("TARVO_BENCH_NOSYNC");
  if (mode && std::strcmp(mode, "all") == 0) return true;
  return IsLogFile(fd);
}

using SyncFunction = int (*)(int);

int CallReal(const char* name, int fd) {
  auto real = reinterpret_cast<SyncFunction>(dlsym(RTLD_NEXT, name));
  return real ? real(fd) : 0;
}

}  // namespace

extern "C" int fsync(int fd) { return SkipSync(fd) ? 0 : CallReal("fsync", fd); }
extern "C" int fdatasync(int fd) { return SkipSync(fd) ? 0 : CallReal("fdatasync", fd); }
