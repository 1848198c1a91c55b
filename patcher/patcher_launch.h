#pragma once

#include <cstdint>
#include <string>

#include "patcher/release_run.h"

// The launcher's own command-line arguments, handed on to the patcher. Points
// to an empty text until the main flow stores the arguments.
extern const char16_t* g_launcherArgs;

// Starts "VelkarisPatcher32.vke" from the install folder. True when the
// process was created.
bool RunPatcher(ReleaseRun& run, std::u16string installFolder);

// The system's text for an error code, in the ANSI code page, or
// "Unknown Error".
std::string GetSystemErrorText(uint32_t code);
