#include "platform/Platform.h"

#include <cstdio>
#include <cstdlib>

namespace plat {
namespace {
IPlatform* g_current = nullptr;
}

IPlatform& Current() {
  if (!g_current) {
    std::fputs("internal error: no platform installed\n", stderr);
    std::abort();
  }
  return *g_current;
}

bool HasCurrent() { return g_current != nullptr; }
void Install(IPlatform* platform) { g_current = platform; }

ScopedPlatform::ScopedPlatform(IPlatform& platform) : previous_(g_current) { g_current = &platform; }
ScopedPlatform::~ScopedPlatform() { g_current = previous_; }

}  // namespace plat
