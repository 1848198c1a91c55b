#pragma once

#include <cstdint>
#include <string>

#include "patcher/release_run.h"
#include "platform/crypto.h"

// One file of the release from the download server into `localPath`, at
// most `byteLimit` bytes (kUnboundedDownload: whatever its size); with a
// digest, its size and SHA-256 as it streamed in. The one place that
// chooses where a file is fetched from.
bool Transfer(ReleaseRun& run, const std::u16string& serverPath, const std::u16string& localPath,
              uint64_t byteLimit, platform::FileDigest* digest);
