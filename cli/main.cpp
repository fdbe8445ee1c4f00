// tarvo: the console program. Installs the simulated Windows host as the
// platform, turns POSIX paths on the command line into paths of the host's
// Z: drive and runs the entry.
#include <iostream>

#include "cli/Entry.h"
#include "cli/Tarvo.h"
#include "platform/host/Host.h"
#include "platform/text/Text.h"

namespace {

// An absolute POSIX path ("/tmp/op.ini") names the host's Z: drive; every
// other argument (method names, Windows paths, relative paths) is kept.
std::string HostArgument(const host::Host& h, const std::string& arg) {
  if (arg.size() >= 2 && arg[0] == '/' && arg[1] != '/') return h.Paths().WindowsPathOf(arg);
  if (arg == "/") return "Z:\\";
  return arg;
}

}  // namespace

int main(int argc, char** argv) {
  std::string error;
  auto h = host::Host::Open(host::Host::DefaultFolder(), host::OpenOptions{}, &error);
  if (!h) {
    std::cerr << "tarvo: cannot open the simulated host: " << error << "\n";
    return kTarvoInternalError;
  }
  plat::Install(h.get());
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) args.push_back(HostArgument(*h, text::ArgumentToUtf8(argv[i])));
  EntryEnvironment environment;
  environment.console = &std::cout;
  const int result = RunEntry(args, environment);
  plat::Install(nullptr);
  return result;
}
