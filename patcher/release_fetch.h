#pragma once

#include <string>

#include "patcher/release_run.h"
#include "patcher/staged_files.h"
#include "release/version_files.h"

// How the update flow fetches the files of a release. The flow says what it fetches; this layer decides how. Without a
// release key each fetch is a plain download, the list held to its
// format's bound and the executables and listed files to the downloader's
// bound for a size nothing states. With one, nothing is used that the operator did not
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
