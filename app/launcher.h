#pragma once

#include <cstdint>
#include <string>

#include "platform/types.h"

inline constexpr int kExitPatcherStarted = 0;

// Whether a run writes the support log: only builds made with
// LAUNCHER_SUPPORT_LOG do.
enum class SupportLog { kOff, kOn };

// One whole run of the launcher on the main thread, from the splash to the
// patcher's start; returns the process exit code. commandLine is the full
// command line of the process, program name included.
int RunLauncher(platform::InstanceHandle instance, const char16_t* commandLine, SupportLog log);

// What follows the program name: the name is skipped (double quotes switch a
// quoted stretch on and off), then every code unit up to 32 (blanks and
// control characters); the rest, unchanged.
const char16_t* LauncherArguments(const char16_t* commandLine);

// How long to keep the splash up after the patcher started: a full second
// unless a second boundary of the system clock passed since the start.
uint32_t LingerMilliseconds(uint64_t startFileTime, uint64_t endFileTime);
