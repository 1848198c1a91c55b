#pragma once

#include "fs/file_services.h"
#include "platform/crypto.h"

// The operator's release key, built in from LAUNCHER_RELEASE_KEY; null in a
// launcher built without one, which then checks no signature at all.
const platform::P256PublicKey* ReleaseKey();
// Makes `key` (null: none) the release key; nothing but tests calls it.
void UseReleaseKeyForTesting(const platform::P256PublicKey* key);
// Whether this launcher checks what it fetches against a signed release.
inline bool WithReleaseKey() { return ReleaseKey() != nullptr; }

// Who may change the folders the launcher creates for the install: with a
// key, administrators only, since the elevated patcher starts there and
// loads what lies beside it; without one, whoever the parent lets.
inline FolderSecurity NewInstallFolderSecurity() {
  return WithReleaseKey() ? FolderSecurity::kAdministratorsOnly : FolderSecurity::kInherited;
}
