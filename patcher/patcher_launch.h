#pragma once

#include <cstdint>
#include <string>

#include "patcher/release_run.h"

// The launcher's own command-line arguments, handed on to the patcher. Points
// to an empty text until the main flow stores the arguments.
extern const char16_t* g_launcherArgs;

// With a release key, makes the install folder the launcher's before
// anything in it is written or believed (`defaultFolder`: the launcher's
// own default, whose parent it made too); false, after the start's box,
// when it cannot, or when a link lies on the way to it. The patcher starts
// from no other folder.
bool ClaimInstallFolder(const std::u16string& installFolder, bool defaultFolder);
// With a release key, once the run has its release: the same for the paths
// it names below the install folder (ClaimReleasePaths).
bool ClaimRunRelease(ReleaseRun& run);

// Starts "VelkarisPatcher32.vke" from the install folder. True when the
// process was created.
bool RunPatcher(ReleaseRun& run, std::u16string installFolder);

// The system's text for an error code, in the ANSI code page, or
// "Unknown Error".
std::string GetSystemErrorText(uint32_t code);
