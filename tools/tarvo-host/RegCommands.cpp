#include "tools/tarvo-host/HostCommands.h"

namespace hosttool {

int RunRegCommand(CommandContext& context) { return context.Fail("reg: not built yet"); }

}  // namespace hosttool
