// tarvo-host: create, inspect and change a simulated Windows host.
#include <iostream>

#include "platform/text/Text.h"
#include "tools/tarvo-host/HostCommands.h"

int main(int argc, char** argv) {
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) args.push_back(text::ArgumentToUtf8(argv[i]));
  return hosttool::RunHostTool(args, std::cout, std::cerr);
}
