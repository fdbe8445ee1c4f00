#include "cli/Entry.h"

#include <ostream>

#include "cli/Tarvo.h"
#include "infra/BuildInfo.h"
#include "infra/UnicodeMasking.h"
#include "platform/Platform.h"
#include "platform/text/Text.h"

namespace {

// The exit trace is written into the key that holds the switch.
constexpr const char* kExitTraceKey = kGlobalSettingsKey;

const char* const kMethodNames[] = {
    "returnfeatures",         "dummy",
    "applyfeatures",          "exportfirewallfeatures",
    "importandapplyfirewallfeatures", "uninstallfeatures",
    "cancelsetfeatures",      "maskunicodecharacters",
};

// A debugger clears this to let a run in debug mode continue.
volatile bool g_waitForDebugger = true;

void WaitForDebuggerLoop() {
  while (g_waitForDebugger) plat::Current().System().Sleep(100);
}

void WriteExitTrace(int result) {
  plat::IRegistry& registry = plat::Current().Registry();
  plat::HKey key = plat::kNullKey;
  if (registry.OpenKey(plat::kHkeyLocalMachine, kExitTraceKey, plat::kKeySetValue, &key) != 0) return;
  const plat::SystemTime t = plat::Current().System().LocalTime();
  const std::string name =
      text::Format("%02u.%02u_%02u:%02u:%02u_E", t.month, t.day, t.hour, t.minute, t.second);
  registry.SetValue(key, name, plat::kRegSz, plat::MakeRegSz(text::Format("ReturnValue= %d", result)));
  registry.FlushKey(key);
  registry.CloseKey(key);
}

}  // namespace

bool IsValidMethodName(const std::string& argument) {
  const std::string lower = text::AsciiLower(argument);
  for (const char* name : kMethodNames) {
    if (lower == name) return true;
  }
  return false;
}

int RunMethod(const std::string& methodName, const std::string& argument) {
  const std::string method = text::AsciiLower(methodName);
  CTarvo tarvo;
  if (method == "returnfeatures") return tarvo.ReturnFeatures(argument);
  if (method == "dummy") return 0;
  if (method == "applyfeatures") return tarvo.ApplyFeatures(argument);
  if (method == "exportfirewallfeatures") return tarvo.ExportFirewallFeatures(argument);
  if (method == "importandapplyfirewallfeatures") return tarvo.ImportAndApplyFirewallFeatures(argument);
  if (method == "uninstallfeatures") return tarvo.UninstallFeatures(argument);
  if (method == "cancelsetfeatures") return tarvo.CancelSetFeatures(argument);
  return kInvalidAccessMethod;
}

std::string UsageText() {
  return "Use only with two or 3 paramters in this way:\n\n"
         "Tarvo_[Platform].exe [[Method] [path]\\[Opfile]] | [MaskUnicodeCharacters [path]\\[XMLInput.xml] "
         "[path]\\[XMLOutput.xml]]\n"
         "Valid method names:\n"
         "  ReturnFeatures\n"
         "  ApplyFeatures\n"
         "  MaskUnicodeCharacters\n"
         "  ExportFirewallFeatures\n"
         "  ImportAndApplyFirewallFeatures\n"
         "  CancelSetFeatures\n\n"
         "Example:  Tarvo_Win32.exe ReturnFeatures \"c:\\this path\\Opfile.ini\"\n"
         "Example:  Tarvo_Win32.exe MaskUnicodeCharacters \"c:\\path\\ReturnFeatures_Input.xml\" \"c:\\out "
         "path\\ReturnFeatures_Output.xml\"\n\n"
         "Example:  Tarvo_Win32.exe ExportFirewallFeatures \"2014_11_10__11_01_37\"\n"
         "Outputvalues are:\n"
         " 0 = no error occured\n"
         " 1 = internal communication file was not found (OPFile.ini)\n"
         " 2 = cannot read internal communication file (OPFile.ini)\n"
         " 3 = invalid internal communication file for OPFile.ini)\n"
         " 4 = cannot write internal communication file (OPFile.ini)\n"
         " 5 = the primary and also the backup language could be loaded\n"
         " 6 = feature xml with language resources could not be Create\n"
         " 8 = Invalid access method\n"
         " 9 = internal error\n"
         "10 = general error\n";
}

int RunEntry(const std::vector<std::string>& args, const EntryEnvironment& env) {
  std::ostream& console = *env.console;
  const auto wait = env.waitForDebugger ? env.waitForDebugger : WaitForDebuggerLoop;
  const bool exitTrace = ReadLoggingLevel() > kDebugLoggingAbove;
  int result = kInvalidAccessMethod;
  if (args.size() < 2) {
    console << UsageText();
  } else {
    const std::string arg1 = args[0];
    const std::string arg2 = args[1];
    const std::string arg3 = args.size() >= 3 ? args[2] : std::string();
    const bool debug = args.size() >= 3 && text::AsciiLower(args.back()) == "-d";
    if (IsValidMethodName(arg1)) {
      if (debug) {
        console << "Started in Debug-Mode. Please attach a debugger in order to proceed" << std::flush;
        wait();
      }
      if (text::AsciiLower(arg1) == "maskunicodecharacters") {
        [[maybe_unused]] CTarvo controller;  // made as for every method; the worker does not use it
        result = MaskUnicodeCharacters(arg2, arg3);
      } else {
        result = RunMethod(arg1, arg2);
      }
    } else if (IsValidMethodName(arg2)) {
      if (debug) wait();
      result = RunMethod(arg2, arg1);
    } else {
      console << UsageText();
    }
    console << text::Format("Tarvo returned: %d   <-- %s", result, result == 0 ? "OK" : "Error occured");
    console.flush();
  }
  if (exitTrace) WriteExitTrace(result);
  return result;
}
