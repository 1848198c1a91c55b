#pragma once

// Brings the patcher up to the server's version. True when it may be started.
bool CheckPatcherVersion();

// Deletes the copy of the server's version record that a check, whatever
// its outcome, may have left in the install folder.
void DropServerRecordCopy();
