#pragma once

#include "patcher/release_manifest.h"
#include "platform/crypto.h"

// The tool hashes with the launcher's implementation (OpenSSL's libcrypto
// natively, Windows CNG in the Windows build) and writes digests as the
// release manifest does.
namespace publish {

using platform::kSha256Bytes;
using platform::Sha256;
using platform::Sha256Digest;
using ::FromHex;
using ::ToHex;

}  // namespace publish
