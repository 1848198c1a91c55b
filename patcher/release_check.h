#pragma once

#include <string>
#include <string_view>

#include "patcher/release_manifest.h"
#include "platform/crypto.h"

// A launcher built with a release key takes nothing the operator did not
// sign: the server's record, list, patcher, listed files and launcher copy
// must match the signed manifest fetched with this run's record, and the
// patcher on disk must match the manifest kept from the last verified
// update before every start. Without a key none of this runs.

bool ReleaseSigned();

// The size and SHA-256 of the server's record just fetched; what was
// fetched or checked before it no longer counts.
void NoteServerRecord(const platform::FileDigest& record);
// Fetches the server's manifest and signature once for the noted record;
// true when the signature is the key's, the manifest reads and its record
// entry is the noted record. On false nothing is left on disk.
bool FetchRunManifest();
// The manifest FetchRunManifest accepted; null before.
const ReleaseManifest* RunManifest();

// A file fetched under `serverPath` as the run's manifest has it.
bool MatchesRunManifest(std::u16string_view serverPath, const platform::FileDigest& digest);

// The launcher copy just fetched as the server's signed manifest has it
// (fetched for this on its own: the copy comes before the record).
bool LauncherCopyMatchesRelease(const platform::FileDigest& digest);

// Moves the run's manifest and signature onto the kept names, once the
// files they describe, the patcher checked on its way in, are in place.
bool KeepRunManifest();

// The patcher on disk matches the run's manifest, else the kept one (true
// without reading it when this run put it in place); an
// install without a valid kept manifest fetches the server's first (false
// from FetchRunManifest ends the run as a failed record download does).
bool PatcherMatchesRelease();
