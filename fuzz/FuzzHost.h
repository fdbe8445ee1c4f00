// The simulated machine every fuzz target runs against: one virtual-clock
// host in a temporary folder per fuzz process, installed as the current
// platform, plus helpers to hand the fuzz input to code that wants a file.
#pragma once

#include <string>
#include <string_view>

#include "platform/host/Host.h"
#include "platform/xml/Dom.h"

namespace fuzzing {

// Creates the host on the first call (aborting when that fails: nothing can
// be fuzzed without it) and removes its folder when the process exits.
host::Host& TheHost();

// Writes `bytes` to C:\Fuzz\<name> on the host, replacing the old file, and
// returns that Windows path.
std::string WriteHostFile(std::string_view name, std::string_view bytes);

// The Windows path under which the host sees a Linux path (the Z: drive).
std::string WindowsPathOf(std::string_view linuxPath);

// Aborts when `document` claims to read back as it is and its Xml text
// does not (ReadsBackAsItIs lets work skip reading the text back).
void CheckReadsBack(const xml::Document& document);

}  // namespace fuzzing
