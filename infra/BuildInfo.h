// What the program says about itself: the build platform (a compile-time
// choice: the 64-bit "X64" build or the 32-bit "X86" build), its version and
// its date, as the log header and the feature documents show them.
#pragma once

#include <string>

#ifdef TARVO_BUILD_X86
inline constexpr bool kBuildIs64Bit = false;
inline constexpr const char* kBuildPlatform = "X86";
#else
inline constexpr bool kBuildIs64Bit = true;
inline constexpr const char* kBuildPlatform = "X64";
#endif

inline constexpr const char* kProductVersion = "204.0.101.5";
inline constexpr const char* kProductDate = "2015-12-07";

// The registry key of the debug-logging switch LOGGINGLEVEL (below
// HKEY_LOCAL_MACHINE), and the level above which debug logging is on.
inline constexpr const char* kGlobalSettingsKey = "SOFTWARE\\Norvale\\OXLAN\\Global";
inline constexpr const char* kLoggingLevelValue = "LOGGINGLEVEL";
inline constexpr long kDebugLoggingAbove = 10;

// LOGGINGLEVEL read as the C library's atol reads its text (0 when missing).
long ReadLoggingLevel();
long LoggingLevelOf(const std::string& text);
