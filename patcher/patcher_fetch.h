#pragma once

#include <string>

#include "patcher/release_run.h"

// Fetching executables into the install folder by way of a temporary file
// that a rename puts in place.

// The install folder holds "VelkarisLauncher.exe", fetched if it was missing.
bool EnsureLauncherCopy(ReleaseRun& run, std::u16string installFolder);
// Fetches the patcher and every accompanying file whose version rose, then
// puts the patcher and the new file list in place. kSwitched, without a
// box, when it met another release than the run's.
FetchResult UpdatePatcher(ReleaseRun& run);
// The files of the run's release that are missing or damaged on disk,
// fetched again from that release, and nothing else.
FetchResult RepairInstall(ReleaseRun& run);
// Renames temporaryName onto finalName, retrying five times a second apart.
bool ReplaceWithRetry(const std::u16string& temporaryName, const std::u16string& finalName,
                      bool deleteFirst);
