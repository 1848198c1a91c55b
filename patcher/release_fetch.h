#pragma once

#include <string>
#include <vector>

#include "patcher/release_run.h"
#include "patcher/staged_files.h"
#include "platform/files.h"
#include "release/version_files.h"

// How the update flow fetches the files of a release and readies the
// patcher. The flow says what it fetches; this layer decides how. Without a
// release key each fetch is a plain download, the list held to its
// format's bound and the executables and listed files to none (nothing
// states their size). With one, nothing is used that the operator did not
// sign: every file is checked against the run's release (release_record.h),
// held to its size there, and renamed into place only once it matched; the
// staging copies of an update that fails go with its StagedFiles.

// The server's list into kFileListCopyName, for the flow to rename into
// place, and its pairs. kFailed also for a list beyond the reader's limits;
// kUnreadable when the copy cannot be read back.
FetchResult FetchFileList(ReleaseRun& run, StagedFiles& staged, FileVersionMap* list);

// An executable of the release (the patcher, the launcher copy) into
// `localName`, a name of its own that the flow renames into place.
FetchResult FetchReleaseFile(ReleaseRun& run, StagedFiles& staged, const std::u16string& serverPath,
                             const std::u16string& localName);

// A listed file into place under `name`, relative to the install folder.
FetchResult FetchListedFile(ReleaseRun& run, StagedFiles& staged, const std::u16string& serverPath,
                            const std::u16string& name);

// With a key: the files of the run's release that lie in the install folder
// (the patcher and every listed file) and are missing or not its bytes, by
// list name. A file unchanged since it was last found good is not read
// again. Without a key there are none: nothing states what they should be.
FetchResult FindDamagedFiles(ReleaseRun& run, std::vector<std::u16string>* damaged);

// With a key, before the patcher starts in the install folder: no folder
// from the drive root down to it may be a link (a junction or a symbolic
// link could swap what lies below), and the folder itself (with its parent
// too when `withParent`), every installed file of the run's release and the
// folders below it that hold them are made the launcher's: owned by
// Administrators, changed by administrators only (a file not there yet
// will be made in a folder that is). Other folders below keep theirs (the
// game may write its settings there). kErrorSuccess, or the
// system's error code of the refusal; without a key, kErrorSuccess at once.
uint32_t ClaimInstall(ReleaseRun& run, const std::u16string& installFolder, bool withParent);

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
