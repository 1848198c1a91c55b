#include "patcher/release_fetch.h"

#include <array>

#include "fs/file_services.h"
#include "log/support_log.h"
#include "patcher/checked_files.h"
#include "net/file_downloader.h"
#include "patcher/release_key.h"
#include "patcher/release_record.h"
#include "patcher/release_transfer.h"
#include "platform/crypto.h"
#include "release/release_files.h"
#include "release/release_manifest.h"
#include "ui/outcome.h"

namespace {

constexpr size_t kHashChunkBytes = 64 * 1024;

bool Signed() { return ReleaseKey() != nullptr; }

// A file that is not the one the run's manifest names: the next release
// may be on its way, unless the update started over for it once already.
FetchResult Mismatch(const ReleaseRun& run) {
  if (run.startedOver) NoteFailure(Outcome::kReleaseRefused);
  return run.startedOver ? FetchResult::kFailed : FetchResult::kSwitched;
}

FetchResult FetchPlainList(ReleaseRun& run, FileVersionMap* list, std::string* text) {
  if (!Transfer(run, kFileListName, kFileListCopyName, kMaxListBytes, nullptr)) {
    return FetchResult::kFailed;
  }
  if (!ReadWholeFile(kFileListCopyName, kMaxListBytes, text)) return FetchResult::kUnreadable;
  return ParseFileVersions(*text, list) ? FetchResult::kFetched : FetchResult::kFailed;
}

// A listed name that is another's staging name: the staged update of the
// other would take its place.
bool NamesAStagingCopy(const FileVersionMap& list) {
  const std::u16string suffix = FoldAscii(std::u16string(kFetchSuffix));
  for (const auto& entry : list) {
    const std::u16string name = FoldAscii(entry.first);
    if (name.size() > suffix.size() && name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0) {
      return true;
    }
  }
  return false;
}

FetchResult FetchSignedList(ReleaseRun& run, StagedFiles& staged, FileVersionMap* list) {
  staged.Add(kFileListCopyName);
  const ReleaseManifest* manifest = RunManifest(run);
  if (manifest == nullptr) return FetchResult::kFailed;
  std::string text;
  const FetchResult fetched = FetchPlainList(run, list, &text);
  if (fetched != FetchResult::kFetched) return fetched;
  if (NamesAStagingCopy(*list)) return FetchResult::kFailed;
  const platform::FileDigest* entry = FindEntry(*manifest, kFileListName);
  if (entry == nullptr || *entry != DigestOfBytes(text) || !ListMatchesManifest(*list, *manifest)) {
    return Mismatch(run);
  }
  return FetchResult::kFetched;
}

// Held to its manifest size and checked as it streams in; a download that
// fails either leaves nothing behind.
FetchResult FetchSignedFile(ReleaseRun& run, StagedFiles& staged, const std::u16string& serverPath,
                            const std::u16string& localName) {
  staged.Add(localName);
  const ReleaseManifest* manifest = RunManifest(run);
  if (manifest == nullptr) return FetchResult::kFailed;
  const platform::FileDigest* entry = FindEntry(*manifest, serverPath);
  platform::FileDigest digest;
  const bool fetched =
      entry != nullptr && Transfer(run, serverPath, localName, entry->size, &digest);
  if (fetched) LogCheck(serverPath, digest == *entry ? Check::kMatched : Check::kMismatch);
  if (fetched && digest == *entry) return FetchResult::kFetched;
  platform::RemoveFile(localName);
  return entry == nullptr || fetched ? Mismatch(run) : FetchResult::kFailed;
}

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
  platform::HeldFile patcher = platform::HoldFile(kPatcherFileName);
  platform::FileDigest digest;
  if (entry == nullptr || !patcher || !HashHeldFile(patcher, entry->size, &digest) ||
      digest != *entry) {
    return false;
  }
  KeepRunRelease(run);
  *held = std::move(patcher);
  return true;
}

}  // namespace

FetchResult FetchFileList(ReleaseRun& run, StagedFiles& staged, FileVersionMap* list) {
  std::string text;
  if (!Signed()) return FetchPlainList(run, list, &text);
  return FetchSignedList(run, staged, list);
}

FetchResult FetchReleaseFile(ReleaseRun& run, StagedFiles& staged, const std::u16string& serverPath,
                             const std::u16string& localName) {
  if (!Signed()) {
    return Transfer(run, serverPath, localName, kUnboundedDownload, nullptr)
               ? FetchResult::kFetched
               : FetchResult::kFailed;
  }
  return FetchSignedFile(run, staged, serverPath, localName);
}

FetchResult FetchListedFile(ReleaseRun& run, StagedFiles& staged, const std::u16string& serverPath,
                            const std::u16string& name) {
  if (!Signed()) return FetchReleaseFile(run, staged, serverPath, name);
  const std::u16string staging = name + kFetchSuffix;
  const FetchResult fetched = FetchSignedFile(run, staged, serverPath, staging);
  if (fetched != FetchResult::kFetched) return fetched;
  return MoveIntoPlace(staging, name, true) ? FetchResult::kFetched : FetchResult::kFailed;
}

FetchResult FindDamagedFiles(ReleaseRun& run, std::vector<std::u16string>* damaged) {
  if (!Signed()) return FetchResult::kFetched;
  const ReleaseManifest* manifest = RunManifest(run);
  if (manifest == nullptr) return FetchResult::kFailed;
  const CheckedFiles checked = ReadCheckedFiles();
  CheckedFiles found;
  for (const auto& [path, digest] : manifest->entries) {
    if (!IsInstalledFile(path)) continue;
    const auto last = checked.find(path);
    CheckedFile file;
    if (IsReleaseFile(ListNameOfServerPath(path), digest,
                      last == checked.end() ? nullptr : &last->second, &file)) {
      found.emplace(path, file);
    } else {
      damaged->push_back(ListNameOfServerPath(path));
    }
  }
  // Not written again while nothing changed: a start with nothing damaged
  // only reads.
  if (found != checked) WriteCheckedFiles(found);
  return FetchResult::kFetched;
}

bool HoldPatcher(ReleaseRun& run, platform::HeldFile* held) {
  if (!Signed()) return static_cast<bool>(platform::OpenFile(kPatcherFileName, "rb"));
  return HoldSignedPatcher(run, held);
}

bool HoldUpdatedPatcher(ReleaseRun& run, platform::HeldFile* held) {
  return !Signed() || HoldSignedPatcher(run, held);
}
