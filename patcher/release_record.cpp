#include "patcher/release_record.h"

#include "fs/file_services.h"
#include "patcher/release_key.h"
#include "patcher/release_transfer.h"
#include "platform/files.h"
#include "platform/system.h"
#include "release/release_files.h"
#include "release/version_files.h"

namespace {

// A publish writes the record last, up to a few minutes after the files
// (edge caches hold copies meanwhile): a switching release is waited for this
// many times, this long apart, before its mismatch counts as a failure.
constexpr int kSwitchPolls = 24;
constexpr uint32_t kSwitchPollMilliseconds = 5000;

bool Vouches(const ReleaseManifest& manifest, std::string_view record) {
  const platform::FileDigest* entry = FindEntry(manifest, kVersionRecordName);
  return entry != nullptr && *entry == DigestOfBytes(record);
}

int32_t FirstNumber(std::string_view record) {
  int32_t first = 0;
  int32_t second = 0;
  ParseVersionRecord(record, &first, &second);
  return first;
}

// The copy that a record was read from is gone once it has been read; one
// that cannot be read back stays, as the manager's note about it says.
FetchResult FetchPlainRecord(ReleaseRun& run, std::string* text) {
  if (!Transfer(run, kVersionRecordName, kVersionRecordCopyName, kMaxRecordBytes, nullptr)) {
    return FetchResult::kFailed;
  }
  if (!ReadWholeFile(kVersionRecordCopyName, kMaxRecordBytes, text)) {
    return FetchResult::kUnreadable;
  }
  platform::RemoveFile(kVersionRecordCopyName);
  return FetchResult::kFetched;
}

// With a key no copy of the server's record outlives its fetch.
bool FetchRecordCopy(ReleaseRun& run, std::string* record) {
  const FetchResult fetched = FetchPlainRecord(run, record);
  if (fetched != FetchResult::kFetched) platform::RemoveFile(kVersionRecordCopyName);
  return fetched == FetchResult::kFetched;
}

// A bounded download read back whole; the copy does not outlive the call.
bool DownloadToMemory(ReleaseRun& run, const std::u16string& serverPath,
                      const std::u16string& copyName, size_t limit, std::string* bytes) {
  const bool read = Transfer(run, serverPath, copyName, limit, nullptr) &&
                    ReadWholeFile(copyName, limit, bytes);
  platform::RemoveFile(copyName);
  return read;
}

enum class Pairing { kVouched, kOtherRecord, kRefused };

// The manifest that vouches for `record` becomes the run's: the kept one
// when it does, else the server's. kOtherRecord: a good signature over a
// manifest of another record, as while a publish is under way.
Pairing PairWithManifest(ReleaseRun& run, const std::string& record, const KeptRelease& kept) {
  if (kept.verified && Vouches(kept.verified->manifest, record)) {
    run.release = kept.verified;
    run.keepPending = kept.record != record;
    return Pairing::kVouched;
  }
  VerifiedManifest fetched;
  if (!DownloadToMemory(run, kReleaseManifestName, kReleaseManifestCopyName,
                        kMaxReleaseManifestBytes, &fetched.text) ||
      !DownloadToMemory(run, kReleaseSignatureName, kReleaseSignatureCopyName,
                        platform::kP256SignatureBytes, &fetched.signature) ||
      !VerifyManifest(&fetched)) {
    return Pairing::kRefused;
  }
  if (!Vouches(fetched.manifest, record)) return Pairing::kOtherRecord;
  run.release = std::move(fetched);
  run.keepPending = true;
  return Pairing::kVouched;
}

// The record (the one had last, or a fresh one), then the manifest that
// vouches for it. A record older than the kept release is refused: an old
// signed release replayed would take players back to its patcher.
FetchResult FetchSignedRecord(ReleaseRun& run) {
  std::string record;
  if (run.record) {
    record = *run.record;
  } else {
    const FetchResult fetched = FetchPlainRecord(run, &record);
    if (fetched != FetchResult::kFetched) {
      platform::RemoveFile(kVersionRecordCopyName);
      return fetched;
    }
  }
  run.record.reset();
  const KeptRelease kept = ReadKeptRelease();
  if (!kept.record.empty() && FirstNumber(record) < FirstNumber(kept.record)) {
    return FetchResult::kFailed;
  }
  Pairing pairing = PairWithManifest(run, record, kept);
  // Record and manifest of two releases: one of them is about to switch.
  for (int poll = 0; pairing == Pairing::kOtherRecord && poll < kSwitchPolls; ++poll) {
    platform::Sleep(kSwitchPollMilliseconds);
    if (!FetchRecordCopy(run, &record)) return FetchResult::kFailed;
    pairing = PairWithManifest(run, record, kept);
  }
  if (pairing != Pairing::kVouched) return FetchResult::kFailed;
  run.record = std::move(record);
  return FetchResult::kFetched;
}

// One record a run: everything the run fetches is checked against the
// manifest that vouches for it.
FetchResult FetchRunRecord(ReleaseRun& run) {
  if (run.release) return FetchResult::kFetched;
  return FetchSignedRecord(run);
}

}  // namespace

FetchResult FetchServerRecord(ReleaseRun& run, std::string* text) {
  if (ReleaseKey() == nullptr) return FetchPlainRecord(run, text);
  const FetchResult fetched = FetchRunRecord(run);
  if (fetched == FetchResult::kFetched) *text = *run.record;
  return fetched;
}

const ReleaseManifest* RunManifest(ReleaseRun& run) {
  return FetchRunRecord(run) == FetchResult::kFetched ? &run.release->manifest : nullptr;
}

void StartOver(ReleaseRun& run) {
  const std::string stale = run.record.value_or(std::string());
  run = ReleaseRun{};
  run.startedOver = true;
  // The next release's files come before its record: the update starts
  // over once the record has moved on, or, when it never does, fails as
  // it would have.
  for (int poll = 0; poll <= kSwitchPolls; ++poll) {
    if (poll > 0) platform::Sleep(kSwitchPollMilliseconds);
    std::string record;
    if (!FetchRecordCopy(run, &record)) {
      run.record.reset();
      return;
    }
    run.record = record;
    if (record != stale) return;
  }
}

void KeepRunRelease(ReleaseRun& run) {
  if (!run.keepPending) return;
  run.keepPending = !KeepRelease(*run.release, *run.record);
}
