#include "patcher/kept_release.h"

#include <array>

#include "fs/file_services.h"
#include "patcher/release_key.h"
#include "platform/code_page.h"
#include "platform/files.h"
#include "platform/system.h"
#include "release/release_files.h"
#include "release/version_files.h"

// The kept release is three files. A kill at any moment of replacing them
// must leave the old or the new release whole, or an older one would be
// taken: the new bytes are first written whole under the copy names, and
// only then moved onto the kept names one by one. A reader takes each file
// from its copy while one lies there, else from its kept name; when that
// mix is not a whole release, it takes the kept names alone.

namespace {

struct KeptName {
  const char16_t* name;
  const char16_t* copy;
};
constexpr KeptName kManifest = {kReleaseManifestName, kReleaseManifestCopyName};
constexpr KeptName kSignature = {kReleaseSignatureName, kReleaseSignatureCopyName};
constexpr KeptName kRecord = {kReleaseRecordName, kReleaseRecordCopyName};
constexpr std::array<KeptName, 3> kKeptNames = {kManifest, kSignature, kRecord};

const char16_t* Source(const KeptName& kept, bool copiesFirst) {
  return copiesFirst && platform::PathExists(kept.copy) ? kept.copy : kept.name;
}

KeptRelease ReadKept(bool copiesFirst) {
  KeptRelease kept;
  VerifiedManifest verified;
  if (!ReadWholeFile(Source(kManifest, copiesFirst), kMaxReleaseManifestBytes, &verified.text) ||
      !ReadWholeFile(Source(kSignature, copiesFirst), platform::kP256SignatureBytes,
                     &verified.signature) ||
      VerifyManifest(&verified) != ReleaseManifestRead::kRead) {
    return {};
  }
  // The local record holds the player's own second number; only the kept
  // copy of the signed one tells which release this install was on.
  const platform::FileDigest* entry = FindEntry(verified.manifest, kVersionRecordName);
  if (!ReadWholeFile(Source(kRecord, copiesFirst), kMaxRecordBytes, &kept.record) ||
      entry == nullptr || *entry != DigestOfBytes(kept.record)) {
    kept.record.clear();
  }
  kept.verified = std::move(verified);
  return kept;
}

}  // namespace

ReleaseManifestRead VerifyManifest(VerifiedManifest* verified) {
  const PathReading players = {platform::AnsiCodePage(), platform::DecodeAnsi,
                               platform::UpperCaseAsFileSystem};
  return ReadSignedManifest(verified->text, verified->signature, *ReleaseKey(), players,
                            &verified->manifest);
}

KeptRelease ReadKeptRelease() {
  KeptRelease kept = ReadKept(true);
  if (kept.verified && !kept.record.empty()) return kept;
  return ReadKept(false);
}

bool KeepRelease(const VerifiedManifest& verified, const std::string& record) {
  const std::array<std::string_view, kKeptNames.size()> bytes = {verified.text,
                                                                 verified.signature, record};
  for (size_t i = 0; i < kKeptNames.size(); ++i) {
    if (!WriteWholeFile(kKeptNames[i].copy, bytes[i])) {
      for (const KeptName& kept : kKeptNames) platform::RemoveFile(kept.copy);
      return false;
    }
  }
  // A copy that cannot be moved stays: the reader takes it from there.
  for (const KeptName& kept : kKeptNames) {
    if (!MoveIntoPlace(kept.copy, kept.name, true)) return false;
  }
  return true;
}
