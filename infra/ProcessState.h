// Values that live for the whole process and are shared by several parts of
// the program: whether the security file loaded last names a client XML, and
// the name of the firewall snapshot of the run. Kept in one place, with a
// reset for tests.
#pragma once

#include <string>

struct ProcessState {
  // Set after each security file that passed its checks: the file names a client XML.
  bool clientXml = false;
  // The snapshot folder name of the run ("" until one is made).
  std::string snapshotName;
};

ProcessState& CurrentProcessState();
void ResetProcessState();
