#pragma once

// Brings the patcher up to the server's version. True when it may be started.
bool CheckPatcherVersion();

// After an update that failed: checks the version again from the server's
// record when the failure came from a release switching on the server, once.
bool CheckAgainAfterSwitch();

// Deletes the copy of the server's version record that a check, whatever
// its outcome, may have left in the install folder.
void DropServerRecordCopy();
