#pragma once

#include <optional>
#include <string>

#include "release/release_manifest.h"

// A release manifest whose signature the release key vouches for, with the
// bytes it was read from.
struct VerifiedManifest {
  ReleaseManifest manifest;
  std::string text;
  std::string signature;
};
// Reads verified->manifest from its text and signature, its paths as this
// Windows reads list names (its ANSI code page): kRead only when the
// signature is the release key's and the text reads.
ReleaseManifestRead VerifyManifest(VerifiedManifest* verified);

// The release kept in the install folder from the last start whose patcher
// matched it: the next start needs fetch no manifest while the server's
// record is the same, and no older release is taken.
struct KeptRelease {
  std::optional<VerifiedManifest> verified;
  std::string record;  // empty unless its bytes are the manifest's record
};
// What the install folder keeps; empty parts when nothing good is kept.
KeptRelease ReadKeptRelease();
// Keeps `verified` and the server's `record` it vouches for. False when a
// file could not be written; what is kept then no longer verifies.
bool KeepRelease(const VerifiedManifest& verified, const std::string& record);
