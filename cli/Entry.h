// The process entry of tarvo: reads the debug-logging switch, checks the
// command line, runs one method on a new CTarvo, prints the result and
// leaves the exit trace in the registry when asked to.
#pragma once

#include <functional>
#include <iosfwd>
#include <string>
#include <vector>

// Exit code for a bad call.
constexpr int kInvalidAccessMethod = 8;

bool IsValidMethodName(const std::string& argument);
int RunMethod(const std::string& methodName, const std::string& argument);
// The usage text, exactly as printed.
std::string UsageText();

// What the entry needs from outside: the console and the debug wait.
struct EntryEnvironment {
  std::ostream* console = nullptr;
  // Waits until a debugger lets the run continue; the default loops on a
  // flag that a debugger clears.
  std::function<void()> waitForDebugger;
};

// Runs the entry with the arguments after the program name (UTF-8); returns
// the exit code.
int RunEntry(const std::vector<std::string>& args, const EntryEnvironment& environment);

