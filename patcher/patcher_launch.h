#pragma once

#include <cstdint>
#include <string>

#include "patcher/release_run.h"

// The launcher's own command-line arguments, handed on to the patcher. Points
// to an empty text until the main flow stores the arguments.
extern const char16_t* g_launcherArgs;

// With a release key, makes the install folder the launcher's before the
// patcher starts there (`defaultFolder`: the launcher's own default, whose
// parent it made too); false, after the start's box, when it cannot, or
// when a link lies on the way to it.
bool ClaimInstallFolder(ReleaseRun& run, const std::u16string& installFolder, bool defaultFolder);

// Starts "VelkarisPatcher32.vke" from the install folder. True when the
// process was created.
bool RunPatcher(ReleaseRun& run, std::u16string installFolder);

// The system's text for an error code, in the ANSI code page, or
// "Unknown Error".
std::string GetSystemErrorText(uint32_t code);
