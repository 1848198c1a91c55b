#include "patcher/release_fetch.h"

#include <algorithm>
#include <string_view>

#include "fs/file_services.h"
#include "log/support_log.h"
#include "net/file_downloader.h"
#include "patcher/release_install.h"
#include "patcher/release_key.h"
#include "patcher/release_record.h"
#include "patcher/release_transfer.h"
#include "platform/code_page.h"
#include "platform/crypto.h"
#include "platform/system.h"
#include "release/release_files.h"
#include "release/release_manifest.h"
#include "ui/outcome.h"

namespace {

// A file that is not the one the run's manifest names: the next release
// may be on its way, unless the update started over for it once already.
FetchResult Mismatch(const ReleaseRun& run) {
  if (run.startedOver) NoteFailure(Outcome::kReleaseRefused);
  return run.startedOver ? FetchResult::kFailed : FetchResult::kSwitched;
}

// With a key the list is held to its entry in the manifest: its size, and
// bytes that hash to it (else the next host is asked), into its held copy.
FetchResult FetchPlainList(ReleaseRun& run, const platform::FileDigest* entry,
                           std::FILE* staging, FileVersionMap* list, std::string* text) {
  TransferRequest request(kFileListName, kFileListCopyName, kMaxListBytes,
                          kListDeadlineMilliseconds);
  request.staging = staging;
  if (entry != nullptr) {
    request.byteLimit = entry->size;
    request.accept = [entry](const platform::FileDigest& served) { return served == *entry; };
  }
  const Transferred transferred = Transfer(run, request);
  if (transferred == Transferred::kRefused) return Mismatch(run);
  if (transferred != Transferred::kYes) return FetchResult::kFailed;
  if (!ReadWholeFile(kFileListCopyName, kMaxListBytes, text)) return FetchResult::kUnreadable;
  return ParseFileVersions(*text, list, platform::DecodeAnsi) ? FetchResult::kFetched
                                                             : FetchResult::kFailed;
}

// A listed name that is another's staging name (the staged update of the
// other would take its place) or a name of the launcher's own files.
bool NamesALauncherFile(const FileVersionMap& list) {
  for (const auto& entry : list) {
    if (EndsWithFolded(entry.first, kFetchSuffix) ||
        IsLauncherOwnName(entry.first, platform::UpperCaseAsFileSystem)) {
      return true;
    }
  }
  return false;
}

FetchResult FetchSignedList(ReleaseRun& run, StagedFiles& staged, FileVersionMap* list) {
  std::FILE* const held = staged.Hold(kFileListCopyName, platform::StagingStart::kEmpty);
  const ReleaseManifest* manifest = RunManifest(run);
  if (held == nullptr || manifest == nullptr) return FetchResult::kFailed;
  const platform::FileDigest* entry = FindEntry(*manifest, kFileListName);
  if (entry == nullptr) return Mismatch(run);
  std::string text;
  const FetchResult fetched = FetchPlainList(run, entry, held, list, &text);
  if (fetched != FetchResult::kFetched) return fetched;
  if (NamesALauncherFile(*list)) return FetchResult::kFailed;
  // The bytes read back must still be the ones that hashed to the entry.
  if (*entry != DigestOfBytes(text) ||
      !ListMatchesManifest(*list, *manifest, platform::EncodeAnsi)) {
    return Mismatch(run);
  }
  // What the rename puts in place is what was checked, written from memory
  // into the held copy, not the disk copy that was read.
  const bool rewritten = platform::TruncateStream(held) &&
                         std::fwrite(text.data(), 1, text.size(), held) == text.size() &&
                         std::fflush(held) == 0;
  return rewritten ? FetchResult::kFetched : FetchResult::kFailed;
}

// The entry a staging copy was begun for, a line each as the manifest
// writes it; the last line of a path counts.
constexpr char kNoteEnd = '\n';

// The notes of a killed run, by server path: only those of an entry of the
// run's release whose name a list may give, so that the copies they name,
// which go with the update that reads them, lie below the install folder.
void ReadStagingNotes(ReleaseRun& run, StagedFiles& staged, const ReleaseManifest& manifest) {
  run.stagingNotes.emplace();
  std::string notes;
  if (!ReadWholeFile(kStagingNotesName, kMaxListBytes, &notes)) return;
  for (size_t start = 0; start < notes.size();) {
    const size_t end = std::min(notes.find(kNoteEnd, start), notes.size());
    std::string path;
    platform::FileDigest entry;
    if (ParseManifestEntry(std::string_view(notes).substr(start, end - start), &path, &entry) &&
        manifest.entries.count(path) != 0 &&
        IsSafeListName(LocalNameOf(path), platform::EncodeAnsi)) {
      (*run.stagingNotes)[path] = entry;
      staged.Add(LocalNameOf(path) + kFetchSuffix);
    }
    start = end + 1;
  }
}

// The staging copy, held: one that a killed run left behind is continued
// only when it was begun for this same entry; any other starts empty. The
// entry is noted before a byte of it is fetched; the notes go with
// whichever update wrote them.
std::FILE* HoldStagingCopy(ReleaseRun& run, StagedFiles& staged, const ReleaseManifest& manifest,
                           const std::string& serverPath, const platform::FileDigest& entry,
                           const std::u16string& stagingName) {
  if (!run.stagingNotes) ReadStagingNotes(run, staged, manifest);
  staged.Add(kStagingNotesName);
  const auto beganFor = run.stagingNotes->find(serverPath);
  const bool continued = beganFor != run.stagingNotes->end() && beganFor->second == entry;
  std::FILE* const held = staged.Hold(
      stagingName, continued ? platform::StagingStart::kKeepBytes : platform::StagingStart::kEmpty);
  (*run.stagingNotes)[serverPath] = entry;
  if (platform::UniqueFile notes = platform::OpenAppendFile(kStagingNotesName)) {
    const std::string line = FormatManifestEntry(serverPath, entry) + kNoteEnd;
    std::fwrite(line.data(), 1, line.size(), notes.get());
  }
  return held;
}

// Held to its manifest size and checked as it streams in; a transfer cut
// short is continued, from the next host if need be. A download that fails
// leaves nothing behind.
FetchResult FetchSignedFile(ReleaseRun& run, StagedFiles& staged, const std::u16string& serverPath,
                            const std::u16string& localName) {
  staged.Add(localName);
  const ReleaseManifest* manifest = RunManifest(run);
  if (manifest == nullptr) return FetchResult::kFailed;
  const platform::FileDigest* entry = FindEntry(*manifest, serverPath, platform::EncodeAnsi);
  std::string path;
  if (entry == nullptr || !ServerPathOfListName(serverPath, &path, platform::EncodeAnsi)) {
    return Mismatch(run);
  }
  TransferRequest request(serverPath, localName, entry->size, DeadlineForSize(entry->size));
  request.staging = HoldStagingCopy(run, staged, *manifest, path, *entry, localName);
  if (request.staging == nullptr) return FetchResult::kFailed;
  request.resumable = true;
  request.accept = [entry](const platform::FileDigest& served) { return served == *entry; };
  const Transferred transferred = Transfer(run, request);
  if (transferred != Transferred::kNo) {
    LogCheck(serverPath, transferred == Transferred::kYes ? Check::kMatched : Check::kMismatch);
  }
  if (transferred == Transferred::kYes) return FetchResult::kFetched;
  platform::TruncateStream(request.staging);
  return transferred == Transferred::kRefused ? Mismatch(run) : FetchResult::kFailed;
}

// A matched file now at `name`, for the check of the installed files.
void NotePlaced(ReleaseRun& run, const std::u16string& serverPath, const std::u16string& name) {
  const ReleaseManifest* manifest = RunManifest(run);
  if (manifest == nullptr) return;
  const platform::FileDigest* entry = FindEntry(*manifest, serverPath, platform::EncodeAnsi);
  std::string path;
  CheckedFile placed;
  if (entry == nullptr || !ServerPathOfListName(serverPath, &path, platform::EncodeAnsi) ||
      !platform::QueryFileStamp(name, &placed.stamp)) {
    return;
  }
  placed.sha256 = entry->sha256;
  run.placedFiles.insert_or_assign(path, placed);
}

}  // namespace

FetchResult FetchFileList(ReleaseRun& run, StagedFiles& staged, FileVersionMap* list) {
  std::string text;
  if (!WithReleaseKey()) return FetchPlainList(run, nullptr, nullptr, list, &text);
  return FetchSignedList(run, staged, list);
}

FetchResult FetchReleaseFile(ReleaseRun& run, StagedFiles& staged, const std::u16string& serverPath,
                             const std::u16string& localName) {
  if (!WithReleaseKey()) {
    return Transfer(run, TransferRequest(serverPath, localName)) == Transferred::kYes
               ? FetchResult::kFetched
               : FetchResult::kFailed;
  }
  return FetchSignedFile(run, staged, serverPath, localName);
}

FetchResult FetchListedFile(ReleaseRun& run, StagedFiles& staged, const std::u16string& serverPath,
                            const std::u16string& name) {
  if (!WithReleaseKey()) return FetchReleaseFile(run, staged, serverPath, name);
  const std::u16string staging = name + kFetchSuffix;
  const FetchResult fetched = FetchSignedFile(run, staged, serverPath, staging);
  if (fetched != FetchResult::kFetched) return fetched;
  if (!MoveIntoPlace(staging, name, true)) return FetchResult::kFailed;
  NotePlaced(run, serverPath, name);
  return FetchResult::kFetched;
}
