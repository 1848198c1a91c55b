#pragma once

#include <cstdint>
#include <string>

#include "platform/files.h"

// Checks that guard the start of a launch. Each shows its own message,
// owned by the splash window, and returns false when the launch must end.

// Free space in units of 1 MiB as the launcher measures it: the free cluster
// count is divided by 1,048,576 first, so the figure moves in steps of one
// cluster's size in bytes.
uint64_t FreeSpaceFigure(const platform::DiskFreeSpace& space);

// Makes the executable's own folder the current directory and returns it.
bool EnterModuleFolder(std::u16string* moduleFolder);
// The drive of the current directory has a figure of at least 10.
bool CheckLauncherDriveSpace();
// The folder's drive is large enough, or the player agreed to go on.
bool CheckInstallDriveSpace(const std::u16string& folder);
// No second launcher, no patcher and no game is running.
bool CheckRunningProcesses();
