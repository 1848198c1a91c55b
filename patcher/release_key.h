#pragma once

#include "platform/crypto.h"

// The operator's release key, built in from LAUNCHER_RELEASE_KEY; null in a
// launcher built without one, which then checks no signature at all.
const platform::P256PublicKey* ReleaseKey();
// Makes `key` (null: none) the release key; nothing but tests calls it.
void UseReleaseKeyForTesting(const platform::P256PublicKey* key);
