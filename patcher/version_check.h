#pragma once

#include "patcher/release_run.h"

// Brings the patcher up to the server's version. True when it may be started.
bool CheckPatcherVersion(ReleaseRun& run);

// Fetches the patcher (with the list and the changed files) again, as when
// it is missing or not the release's. True when it is in place.
bool FetchPatcherAgain(ReleaseRun& run);

// Deletes the copy of the server's version record that a check, whatever
// its outcome, may have left in the install folder.
void DropServerRecordCopy();
