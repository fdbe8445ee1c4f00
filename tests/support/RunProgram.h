// Runs a built program as a child process and collects what a caller sees:
// exit code, standard output and standard error. Used by end-to-end tests.
#pragma once

#include <map>
#include <string>
#include <vector>

struct ProgramResult {
  int exitCode = -1;      // the low 8 bits, as a shell sees them; -1 when killed
  bool timedOut = false;  // killed after the time limit
  std::string out;
  std::string err;
};

// `program` is a path; `env` entries are added to (or replace in) the environment.
ProgramResult RunProgram(const std::string& program, const std::vector<std::string>& args,
                         const std::map<std::string, std::string>& env = {}, const std::string& cwd = "",
                         int timeoutMs = 60000);

// The path of a built executable of this project.
std::string BinaryPath(const std::string& name);
