#include "infra/ProcessState.h"

namespace {
ProcessState g_state;
}

ProcessState& CurrentProcessState() { return g_state; }
void ResetProcessState() { g_state = ProcessState(); }
