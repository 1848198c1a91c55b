#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "patcher/release_run.h"
#include "platform/crypto.h"
#include "platform/files.h"

// The install at a start, against the run's release: with a key, the files
// the release put there are checked, and the patcher is held and checked
// until it has started. Without a key the patcher need only be there.

// Where a file of the manifest lies in the install folder: its server
// path's bytes read in the players' code page, "/" turned back into "\\".
std::u16string LocalNameOf(const std::string& serverPath);

// With a key: the files of the run's release that lie in the install folder
// (the patcher and every listed file) and are missing or not its bytes, by
// list name. A file unchanged since it was last found good is not read
// again. Without a key there are none: nothing states what they should be.
FetchResult FindDamagedFiles(ReleaseRun& run, std::vector<std::u16string>* damaged);

// True when the file's bytes, read through *held, are `entry`'s; the hold
// keeps anyone from changing them until it is let go.
bool HoldReleaseFile(const std::u16string& name, const platform::FileDigest& entry,
                     platform::HeldFile* held);

// The program to start: without a key the patcher named in the install
// folder; with one, the path of the very file held and checked.
bool PatcherProgramPath(const platform::HeldFile& held, const std::u16string& installFolder,
                        std::u16string* path);

// True when the patcher in place may start. Without a key, when it is
// there. With one, only when its bytes, read through *held, are the
// signed ones; the handle then keeps anyone from changing them until the
// patcher has started. The first such start of a release keeps it, so that
// later starts need not fetch its manifest.
bool HoldPatcher(ReleaseRun& run, platform::HeldFile* held);
// The same for a patcher that an update has just put in place: without a
// key it is taken as it is, and its start tells whether it is there.
bool HoldUpdatedPatcher(ReleaseRun& run, platform::HeldFile* held);
