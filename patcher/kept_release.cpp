#include "patcher/kept_release.h"

#include "fs/file_services.h"
#include "patcher/release_key.h"
#include "platform/files.h"
#include "release/release_files.h"
#include "release/version_files.h"

namespace {

bool Keep(const std::u16string& copyName, const std::u16string& name, std::string_view bytes) {
  if (WriteWholeFile(copyName, bytes) && MoveIntoPlace(copyName, name, true)) return true;
  platform::RemoveFile(copyName);
  return false;
}

}  // namespace

bool VerifyManifest(VerifiedManifest* verified) {
  return ReadSignedManifest(verified->text, verified->signature, *ReleaseKey(),
                            &verified->manifest);
}

KeptRelease ReadKeptRelease() {
  KeptRelease kept;
  VerifiedManifest verified;
  if (!ReadWholeFile(kReleaseManifestName, kMaxReleaseManifestBytes, &verified.text) ||
      !ReadWholeFile(kReleaseSignatureName, platform::kP256SignatureBytes, &verified.signature) ||
      !VerifyManifest(&verified)) {
    return {};
  }
  // The local record holds the player's own second number; only the kept
  // copy of the signed one tells which release this install was on.
  const platform::FileDigest* entry = FindEntry(verified.manifest, kVersionRecordName);
  if (!ReadWholeFile(kReleaseRecordName, kMaxRecordBytes, &kept.record) || entry == nullptr ||
      *entry != DigestOfBytes(kept.record)) {
    kept.record.clear();
  }
  kept.verified = std::move(verified);
  return kept;
}

bool KeepRelease(const VerifiedManifest& verified, const std::string& record) {
  return Keep(kReleaseManifestCopyName, kReleaseManifestName, verified.text) &&
         Keep(kReleaseSignatureCopyName, kReleaseSignatureName, verified.signature) &&
         Keep(kReleaseRecordCopyName, kReleaseRecordName, record);
}
