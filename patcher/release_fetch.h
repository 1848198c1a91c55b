#pragma once

#include <string>

#include "fs/file_services.h"
#include "platform/files.h"
#include "release/version_files.h"

// How the update flow fetches a release and readies the patcher. The flow
// says what it fetches; this layer decides how. Every transfer has a bound:
// the record, the list, the manifest and its signature their formats' limits.
// Without a release key each fetch is a plain download. With one, nothing is
// used that the operator did not sign: this run's record must be vouched for
// by a signed manifest and be no older than the release kept from the last
// verified start; every other file is held to its manifest size, checked,
// and only then put where the launcher or the patcher uses it; a failure
// leaves no staging copy behind.

enum class RecordFetch {
  kFetched,
  kFailed,      // not had, beyond its bound, or (with a key) not signed or older
  kUnreadable,  // downloaded, but the copy cannot be read back
};
// The server's record, read into *text. With a key it is fetched once a
// run, with the manifest that vouches for it.
RecordFetch FetchServerRecord(std::string* text);

// The server's list into kFileListCopyName, for the flow to rename into
// place, and its pairs. False also for a list beyond the reader's limits.
bool FetchFileList(FileVersionMap* list);

// An executable of the release (the patcher, the launcher copy) into
// `localName`, a name of its own that the flow renames into place.
bool FetchReleaseFile(const std::u16string& serverPath, const std::u16string& localName);

// A listed file into place under `name`, relative to the install folder.
bool FetchListedFile(const std::u16string& serverPath, const std::u16string& name);

// After an update that failed: with a key, no copy it downloaded stays on
// disk, checked or not.
void AbandonUpdate();

// True when the patcher in place may start. With a key, only when its bytes,
// read through *held, are the signed ones; the handle then keeps anyone from
// changing them until the patcher has started. The first such start of a
// release keeps its manifest, so that later starts need not fetch it.
bool HoldPatcher(platform::HeldFile* held);

// Who may change the folders the launcher creates for the install.
FolderSecurity NewInstallFolderSecurity();

// A publish under way on the server switches files, list and record one by
// one, so an update can meet a file of the next release: with a key, that
// file fails its check. True, once a run, after such a failure: the update
// may then start again from the record, and the failure needs no box.
bool UpdateMayStartOver();
// Takes that chance: false when there is none; else this run's record and
// manifest are forgotten, and the next fetch starts from the server's record.
bool StartOver();

// Forgets everything this run fetched and checked; for tests, which run
// many launches in one process.
void ResetReleaseRun();
