// The commands of tarvo-host, the companion tool for people who work with a
// simulated host. Each command gets the arguments after its name and writes
// plain text, or JSON with --json. Exit codes: 0 done, 1 bad call or failed
// operation, 2 the host cannot be opened.
#pragma once

#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

#include "platform/host/Host.h"

namespace hosttool {

constexpr int kExitOk = 0;
constexpr int kExitBadCall = 1;
constexpr int kExitNoHost = 2;

struct CommandContext {
  std::vector<std::string> args;  // after the command name, without --json
  bool json = false;
  std::string hostFolder;
  std::ostream* out = nullptr;
  std::ostream* err = nullptr;

  // Opens the host (creating the default one when missing); null after
  // printing the reason.
  host::Host* OpenHost();
  // Prints "tarvo-host: <message>" to the error stream and returns `code`.
  int Fail(const std::string& message, int code = kExitBadCall);
  // Prints "tarvo-host: <message>" to the error stream, for what a person
  // should know about output that is still good.
  void Note(const std::string& message);

 private:
  std::unique_ptr<host::Host> host_;
};

using CommandFunction = int (*)(CommandContext&);

struct Command {
  const char* name;
  const char* synopsis;
  CommandFunction run;
};

// Runs tarvo-host with its arguments (argv without the program name).
int RunHostTool(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

// Commands provided by other files.
int RunRegCommand(CommandContext& context);

// How --json names what a SID stands for: "user", "alias", "wellKnownGroup" ...
const char* SidUseName(plat::SidNameUse use);

}  // namespace hosttool
