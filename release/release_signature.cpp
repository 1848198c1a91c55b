// The parts of the manifest code that need the platform's cryptography,
// kept apart so the reader alone can be fuzzed.
#include "release/release_manifest.h"

#include <algorithm>

platform::FileDigest DigestOfBytes(std::string_view bytes) {
  platform::FileDigest digest;
  digest.size = bytes.size();
  platform::Sha256 hash;
  hash.Update(bytes.data(), bytes.size());
  hash.Finish(&digest.sha256);
  return digest;
}

ReleaseManifestRead ReadSignedManifest(std::string_view text, std::string_view signature,
                                       const platform::P256PublicKey& key,
                                       const PathReading& reading, ReleaseManifest* manifest) {
  *manifest = ReleaseManifest();
  if (signature.size() != platform::kP256SignatureBytes || text.size() > kMaxReleaseManifestBytes) {
    return ReleaseManifestRead::kRefused;
  }
  platform::Sha256 hash;
  platform::Sha256Digest digest{};
  if (!hash.Update(text.data(), text.size()) || !hash.Finish(&digest)) {
    return ReleaseManifestRead::kRefused;
  }
  platform::P256Signature raw{};
  std::transform(signature.begin(), signature.end(), raw.begin(),
                 [](char c) { return static_cast<uint8_t>(c); });
  // Parsed only once it is known to be the operator's.
  if (!platform::VerifyP256Sha256(key, digest, raw)) return ReleaseManifestRead::kRefused;
  return ParseReleaseManifest(text, reading, manifest);
}
