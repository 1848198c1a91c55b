#pragma once

#include <string>

#include "patcher/release_run.h"
#include "release/release_manifest.h"

// The server's version record, and with a release key the signed manifest
// that vouches for it: the run's release, against which every other file
// is checked.

// The server's record, read into *text. Without a key, downloaded on every
// call. With one, fetched once a run with the manifest that vouches for it
// (the kept one when it does), and refused (kFailed) without such a
// manifest or when it is older than the kept release.
FetchResult FetchServerRecord(ReleaseRun& run, std::string* text);

// With a key: the manifest of the run's record, the record fetched first
// when need be; null when there is none.
const ReleaseManifest* RunManifest(ReleaseRun& run);

// After a fetch that met another release (kSwitched): the run forgets its
// record and manifest, and asks the server's record again until it moves
// on, for up to 2 minutes in the run, its polls counted, since a publish
// writes the record last. The next fetch starts from the record had last.
// Once a run.
void StartOver(ReleaseRun& run);

// Keeps the run's release in the install folder once its patcher matched,
// unless it is kept already.
void KeepRunRelease(ReleaseRun& run);
