#pragma once

#include <cstdint>
#include <string>

#include "patcher/release_run.h"

// With a release key the install folder is made the launcher's before
// anything in it is written or believed, in two steps: the folder itself as
// soon as it is settled, then, once the run has its release, what the
// release names below it. From then on only administrators can change what
// the patcher loads. Without a key none of this runs.

// Whether the launcher may make `folder` its own: not a drive's or a
// share's root, not one of the system's folders or the user's own (the
// profile, the desktop, documents, downloads, AppData, Program Files,
// Windows...), nor a folder that holds one. Always true without a key.
bool MayClaimFolder(const std::u16string& folder);

// Before anything in the install folder, the current directory, is written
// or believed: no folder from the drive root down to it may be a link (a
// junction or a symbolic link could swap what lies below); the folder, with
// its parent when `withParent`, is made the launcher's: owned by
// Administrators, changed by administrators only. When it was not the
// launcher's already (a first claim: a folder from an unsigned launcher,
// or one made or chosen before), the notes the launcher keeps there are
// deleted unread, so that every file is checked again. From then on every
// file the launcher opens must lie in the folder (platform::ConfineFilesTo).
// kErrorSuccess, or the system's error code of the refusal.
uint32_t ClaimFolder(const std::u16string& installFolder, bool withParent);

// Once the run has its release (again after a start-over), before any file
// below the install folder is written or read: no folder the release names
// below it may be a link, and the release's files there (the launcher copy
// among them) and the folders that hold them are made the launcher's. A
// link at a file's name is left to the check of the installed files, which
// fetches the file again. Other folders below keep theirs (the game may
// write its settings there). kErrorSuccess or the error code.
uint32_t ClaimReleasePaths(ReleaseRun& run);
