#include "patcher/release_fetch.h"

#include <array>
#include <optional>
#include <set>

#include "net/file_downloader.h"
#include "patcher/release_key.h"
#include "platform/crypto.h"
#include "platform/system.h"
#include "release/release_files.h"
#include "release/release_manifest.h"

namespace {

constexpr size_t kHashChunkBytes = 64 * 1024;
// A publish writes the record last, up to a few minutes after the files
// (edge caches hold copies meanwhile): a switching release is waited for this
// many times, this long apart, before its mismatch counts as a failure.
constexpr int kSwitchPolls = 24;
constexpr uint32_t kSwitchPollMilliseconds = 5000;

// A manifest whose signature was checked, with the bytes it was read from.
struct VerifiedManifest {
  ReleaseManifest manifest;
  std::string text;
  std::string signature;
};

// What this run fetched and checked, with a release key.
struct ReleaseRun {
  // The server's record, and the manifest that vouches for it; set together.
  std::optional<std::string> record;
  std::optional<VerifiedManifest> verified;
  // The kept files are not yet this release's.
  bool keepPending = false;
  // Names this run downloaded to and has not yet seen renamed into place.
  std::set<std::u16string> staged;
  // A file of this update was not the one the manifest names.
  bool mismatch = false;
  // The record the next fetch of it checks instead of fetching it again.
  std::string polledRecord;
};
ReleaseRun g_run;
// The update started again once already in this run.
bool g_startedOver = false;

// The release kept from the last verified start.
struct KeptRelease {
  std::optional<VerifiedManifest> verified;
  std::string record;  // empty unless its bytes are the manifest's record
};

bool Signed() { return ReleaseKey() != nullptr; }

FileDownloader& Downloader() { return FileDownloader::Instance(); }

const platform::FileDigest* Entry(const ReleaseManifest& manifest, std::u16string_view name) {
  std::string path;
  if (!ServerPathOfListName(name, &path)) return nullptr;
  const auto entry = manifest.entries.find(path);
  return entry == manifest.entries.end() ? nullptr : &entry->second;
}

bool Matches(const ReleaseManifest& manifest, std::u16string_view name,
             const platform::FileDigest& digest) {
  const platform::FileDigest* entry = Entry(manifest, name);
  return entry != nullptr && *entry == digest;
}

int32_t FirstNumber(std::string_view record) {
  int32_t first = 0;
  int32_t second = 0;
  ParseVersionRecord(record, &first, &second);
  return first;
}

// A bounded download read back whole; the copy does not outlive the call.
bool DownloadToMemory(const std::u16string& serverPath, const std::u16string& copyName,
                      size_t limit, std::string* bytes) {
  const bool read = Downloader().DownloadFile(serverPath, copyName, limit, nullptr) &&
                    ReadWholeFile(copyName, limit, bytes);
  platform::RemoveFile(copyName);
  return read;
}

bool Verify(VerifiedManifest* verified) {
  return ReadSignedManifest(verified->text, verified->signature, *ReleaseKey(),
                            &verified->manifest);
}

KeptRelease ReadKeptRelease() {
  KeptRelease kept;
  VerifiedManifest verified;
  if (!ReadWholeFile(kReleaseManifestName, kMaxReleaseManifestBytes, &verified.text) ||
      !ReadWholeFile(kReleaseSignatureName, platform::kP256SignatureBytes, &verified.signature) ||
      !Verify(&verified)) {
    return {};
  }
  // The local record holds the player's own second number; only the kept
  // copy of the signed one tells which release this install was on.
  if (!ReadWholeFile(kReleaseRecordName, kMaxRecordBytes, &kept.record) ||
      !Matches(verified.manifest, kVersionRecordName, DigestOfBytes(kept.record))) {
    kept.record.clear();
  }
  kept.verified = std::move(verified);
  return kept;
}

RecordFetch FetchPlainRecord(std::string* text) {
  if (!Downloader().DownloadFile(kVersionRecordName, kVersionRecordCopyName, kMaxRecordBytes,
                                 nullptr)) {
    return RecordFetch::kFailed;
  }
  const bool read = ReadWholeFile(kVersionRecordCopyName, kMaxRecordBytes, text);
  platform::RemoveFile(kVersionRecordCopyName);
  return read ? RecordFetch::kFetched : RecordFetch::kUnreadable;
}

enum class Pairing { kVouched, kOtherRecord, kRefused };

// The manifest that vouches for `record`: the kept one when it does, else
// the server's. kOtherRecord: a good signature over a manifest of another
// record, as while a publish is under way.
Pairing PairWithManifest(const std::string& record, KeptRelease kept, ReleaseRun* run) {
  const platform::FileDigest digest = DigestOfBytes(record);
  if (kept.verified && Matches(kept.verified->manifest, kVersionRecordName, digest)) {
    run->verified = std::move(kept.verified);
    run->keepPending = kept.record != record;
    return Pairing::kVouched;
  }
  VerifiedManifest fetched;
  if (!DownloadToMemory(kReleaseManifestName, kReleaseManifestCopyName, kMaxReleaseManifestBytes,
                        &fetched.text) ||
      !DownloadToMemory(kReleaseSignatureName, kReleaseSignatureCopyName,
                        platform::kP256SignatureBytes, &fetched.signature) ||
      !Verify(&fetched)) {
    return Pairing::kRefused;
  }
  if (!Matches(fetched.manifest, kVersionRecordName, digest)) return Pairing::kOtherRecord;
  run->verified = std::move(fetched);
  run->keepPending = true;
  return Pairing::kVouched;
}

bool FetchRecordCopy(std::string* record) {
  if (FetchPlainRecord(record) == RecordFetch::kFetched) return true;
  platform::RemoveFile(kVersionRecordCopyName);
  return false;
}

// The record, then the manifest that vouches for it. A record older than
// the kept release is refused: an old signed release replayed would take
// players back to its patcher. `record` may hold a record fetched already.
RecordFetch FetchSignedRecord(std::string record = {}) {
  if (record.empty()) {
    const RecordFetch fetched = FetchPlainRecord(&record);
    if (fetched != RecordFetch::kFetched) {
      platform::RemoveFile(kVersionRecordCopyName);
      return fetched;
    }
  }
  const KeptRelease kept = ReadKeptRelease();
  if (!kept.record.empty() && FirstNumber(record) < FirstNumber(kept.record)) {
    return RecordFetch::kFailed;
  }
  ReleaseRun run;
  Pairing pairing = PairWithManifest(record, kept, &run);
  // Record and manifest of two releases: one of them is about to switch.
  for (int poll = 0; pairing == Pairing::kOtherRecord && poll < kSwitchPolls; ++poll) {
    platform::Sleep(kSwitchPollMilliseconds);
    if (!FetchRecordCopy(&record)) return RecordFetch::kFailed;
    run = ReleaseRun{};
    pairing = PairWithManifest(record, kept, &run);
  }
  if (pairing != Pairing::kVouched) return RecordFetch::kFailed;
  run.record = std::move(record);
  run.staged = std::move(g_run.staged);
  g_run = std::move(run);
  return RecordFetch::kFetched;
}

// One record a run: everything this run fetches is checked against the
// manifest that vouches for it.
RecordFetch FetchRunRecord() {
  if (g_run.record) return RecordFetch::kFetched;
  return FetchSignedRecord(std::move(g_run.polledRecord));
}

// The manifest of this run's record, fetched first when need be.
const ReleaseManifest* RunManifest() {
  return FetchRunRecord() == RecordFetch::kFetched ? &g_run.verified->manifest : nullptr;
}

bool FetchPlainList(FileVersionMap* list, std::string* text) {
  return Downloader().DownloadFile(kFileListName, kFileListCopyName, kMaxListBytes, nullptr) &&
         ReadWholeFile(kFileListCopyName, kMaxListBytes, text) && ParseFileVersions(*text, list);
}

bool FetchSignedList(FileVersionMap* list) {
  std::string text;
  g_run.staged.insert(kFileListCopyName);
  const ReleaseManifest* manifest = RunManifest();
  if (manifest == nullptr || !FetchPlainList(list, &text)) return false;
  g_run.mismatch = !Matches(*manifest, kFileListName, DigestOfBytes(text)) ||
                   !ListMatchesManifest(*list, *manifest);
  return !g_run.mismatch;
}

// Held to its manifest size and checked as it streams in; a download that
// fails either leaves nothing behind.
bool FetchSignedFile(const std::u16string& serverPath, const std::u16string& localName) {
  g_run.staged.insert(localName);
  const ReleaseManifest* manifest = RunManifest();
  if (manifest == nullptr) return false;
  const platform::FileDigest* entry = Entry(*manifest, serverPath);
  platform::FileDigest digest;
  const bool fetched = entry != nullptr &&
                       Downloader().DownloadFile(serverPath, localName, entry->size, &digest);
  g_run.mismatch = entry == nullptr || (fetched && digest != *entry);
  if (fetched && !g_run.mismatch) return true;
  platform::RemoveFile(localName);
  return false;
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

bool Keep(const std::u16string& copyName, const std::u16string& name, std::string_view bytes) {
  if (WriteWholeFile(copyName, bytes) && MoveIntoPlace(copyName, name, true)) return true;
  platform::RemoveFile(copyName);
  return false;
}

// The release whose patcher was just found good, kept for the next starts:
// they need fetch no manifest, and no older release will be taken.
void KeepRunRelease() {
  if (!g_run.keepPending) return;
  const VerifiedManifest& verified = *g_run.verified;
  g_run.keepPending = !(Keep(kReleaseManifestCopyName, kReleaseManifestName, verified.text) &&
                        Keep(kReleaseSignatureCopyName, kReleaseSignatureName, verified.signature) &&
                        Keep(kReleaseRecordCopyName, kReleaseRecordName, *g_run.record));
}

}  // namespace

RecordFetch FetchServerRecord(std::string* text) {
  if (!Signed()) return FetchPlainRecord(text);
  const RecordFetch fetched = FetchRunRecord();
  if (fetched == RecordFetch::kFetched) *text = *g_run.record;
  return fetched;
}

bool FetchFileList(FileVersionMap* list) {
  std::string text;
  if (!Signed()) return FetchPlainList(list, &text);
  return FetchSignedList(list);
}

bool FetchReleaseFile(const std::u16string& serverPath, const std::u16string& localName) {
  if (!Signed()) return Downloader().DownloadFile(serverPath, localName);
  return FetchSignedFile(serverPath, localName);
}

bool FetchListedFile(const std::u16string& serverPath, const std::u16string& name) {
  if (!Signed()) return Downloader().DownloadFile(serverPath, name);
  const std::u16string staging = name + kFetchSuffix;
  return FetchSignedFile(serverPath, staging) && MoveIntoPlace(staging, name, true);
}

void AbandonUpdate() {
  for (const std::u16string& name : g_run.staged) platform::RemoveFile(name);
  g_run.staged.clear();
}

bool HoldPatcher(platform::HeldFile* held) {
  if (!Signed()) return static_cast<bool>(platform::OpenFile(kPatcherFileName, "rb"));
  const ReleaseManifest* manifest = RunManifest();
  if (manifest == nullptr) return false;
  const platform::FileDigest* entry = Entry(*manifest, kPatcherFileName);
  platform::HeldFile patcher = platform::HoldFile(kPatcherFileName);
  platform::FileDigest digest;
  if (entry == nullptr || !patcher || !HashHeldFile(patcher, entry->size, &digest) ||
      digest != *entry) {
    return false;
  }
  KeepRunRelease();
  *held = std::move(patcher);
  return true;
}

FolderSecurity NewInstallFolderSecurity() {
  return Signed() ? FolderSecurity::kAdministratorsOnly : FolderSecurity::kInherited;
}

bool UpdateMayStartOver() { return g_run.mismatch && !g_startedOver; }

bool StartOver() {
  if (!UpdateMayStartOver()) return false;
  g_startedOver = true;
  const std::string stale = *g_run.record;
  g_run = ReleaseRun{};
  // The next release's files come before its record: the update starts
  // over once the record has moved on, or, when it never does, fails as
  // it would have.
  for (int poll = 0; poll <= kSwitchPolls; ++poll) {
    if (poll > 0) platform::Sleep(kSwitchPollMilliseconds);
    if (!FetchRecordCopy(&g_run.polledRecord)) {
      g_run.polledRecord.clear();
      break;
    }
    if (g_run.polledRecord != stale) break;
  }
  return true;
}

void ResetReleaseRun() {
  g_run = ReleaseRun{};
  g_startedOver = false;
}
