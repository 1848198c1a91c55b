#include "patcher/release_install.h"

#include <array>

#include "patcher/checked_files.h"
#include "patcher/release_key.h"
#include "patcher/release_record.h"
#include "platform/crypto.h"
#include "platform/system.h"
#include "release/release_files.h"
#include "release/release_manifest.h"

namespace {

constexpr size_t kHashChunkBytes = 64 * 1024;

// The file's size and SHA-256, read through the handle; false past `limit`
// bytes, which cannot be the signed file.
bool HashHeldFile(const platform::HeldFile& file, uint64_t limit, platform::FileDigest* digest) {
  platform::Sha256 hash;
  std::array<char, kHashChunkBytes> chunk;
  digest->size = 0;
  for (;;) {
    size_t read = 0;
    if (!platform::ReadHeldFile(file, chunk.data(), chunk.size(), &read)) return false;
    if (read == 0) break;
    digest->size += read;
    if (digest->size > limit || !hash.Update(chunk.data(), read)) return false;
  }
  return hash.Finish(&digest->sha256);
}

// The files the release puts beside the patcher for it: all but the
// launcher's own (the record, the list, the launcher copy).
bool IsInstalledFile(const std::string& path) {
  for (const char16_t* own : {kVersionRecordName, kFileListName, kLauncherFileName}) {
    std::string ownPath;
    if (ServerPathOfListName(own, &ownPath) && FoldAscii(path) == FoldAscii(ownPath)) return false;
  }
  return true;
}

// The file is the release's: unchanged since it was last found so with this
// digest, or its bytes hash to it now (read while held, so that the stamp
// kept is that of the bytes read).
bool IsReleaseFile(const std::u16string& name, const platform::FileDigest& digest,
                   const CheckedFile* last, CheckedFile* found) {
  found->sha256 = digest.sha256;
  if (!platform::QueryFileStamp(name, &found->stamp) || found->stamp.size != digest.size) {
    return false;
  }
  if (last != nullptr && *last == *found) return true;
  const platform::HeldFile held = platform::HoldFile(name);
  platform::FileDigest actual;
  return held && platform::QueryFileStamp(name, &found->stamp) &&
         HashHeldFile(held, digest.size, &actual) && actual == digest;
}

bool HoldSignedPatcher(ReleaseRun& run, platform::HeldFile* held) {
  const ReleaseManifest* manifest = RunManifest(run);
  if (manifest == nullptr) return false;
  const platform::FileDigest* entry = FindEntry(*manifest, kPatcherFileName);
  if (entry == nullptr || !HoldReleaseFile(kPatcherFileName, *entry, held)) return false;
  KeepRunRelease(run);
  return true;
}

}  // namespace

bool HoldReleaseFile(const std::u16string& name, const platform::FileDigest& entry,
                     platform::HeldFile* held) {
  platform::HeldFile file = platform::HoldFile(name);
  platform::FileDigest digest;
  if (!file || !HashHeldFile(file, entry.size, &digest) || digest != entry) return false;
  *held = std::move(file);
  return true;
}

std::u16string LocalNameOf(const std::string& serverPath) {
  return ListNameOfServerPath(serverPath, platform::DecodeAnsi);
}

FetchResult FindDamagedFiles(ReleaseRun& run, std::vector<std::u16string>* damaged) {
  if (!WithReleaseKey()) return FetchResult::kFetched;
  const ReleaseManifest* manifest = RunManifest(run);
  if (manifest == nullptr) return FetchResult::kFailed;
  const CheckedFiles checked = ReadCheckedFiles();
  CheckedFiles known = checked;
  for (const auto& [path, placed] : run.placedFiles) known.insert_or_assign(path, placed);
  CheckedFiles found;
  for (const auto& [path, digest] : manifest->entries) {
    if (!IsInstalledFile(path)) continue;
    const auto last = known.find(path);
    const std::u16string name = LocalNameOf(path);
    CheckedFile file;
    if (IsReleaseFile(name, digest, last == known.end() ? nullptr : &last->second, &file)) {
      found.emplace(path, file);
    } else {
      damaged->push_back(name);
    }
  }
  // Not written again while nothing changed: a start with nothing damaged
  // only reads.
  if (found != checked) WriteCheckedFiles(found);
  return FetchResult::kFetched;
}

bool PatcherProgramPath(const platform::HeldFile& held, const std::u16string& installFolder,
                        std::u16string* path) {
  if (!WithReleaseKey()) {
    *path = installFolder + u"/" + kPatcherFileName;
    return true;
  }
  return platform::HeldFilePath(held, path);
}

bool HoldPatcher(ReleaseRun& run, platform::HeldFile* held) {
  if (!WithReleaseKey()) return static_cast<bool>(platform::OpenFile(kPatcherFileName, "rb"));
  return HoldSignedPatcher(run, held);
}

bool HoldUpdatedPatcher(ReleaseRun& run, platform::HeldFile* held) {
  return !WithReleaseKey() || HoldSignedPatcher(run, held);
}
