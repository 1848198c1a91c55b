#include "patcher/release_record.h"

#include <optional>

#include "fs/file_services.h"
#include "log/support_log.h"
#include "patcher/release_key.h"
#include "patcher/release_transfer.h"
#include "platform/files.h"
#include "platform/system.h"
#include "release/release_files.h"
#include "release/version_files.h"
#include "ui/outcome.h"

namespace {

// A publish writes the record last, up to a few minutes after the files
// (edge caches hold copies meanwhile): a run waits for a switching release
// this long in all, the polls counted, asking for the record again at this
// interval, before its mismatch counts as a failure.
constexpr uint64_t kSwitchWaitBudgetMilliseconds = 120000;
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

// A record the run may take: none older than the kept release, or an old
// signed release replayed would take players back to its patcher.
bool AboveFloor(std::string_view record, const KeptRelease& kept) {
  return kept.record.empty() || FirstNumber(record) >= FirstNumber(kept.record);
}

void RefuseOlderRecord() {
  LogCheck(kVersionRecordName, Check::kOlder);
  NoteFailure(Outcome::kReleaseRefused);
}

// The server's record into *text. With a kept release, a host that serves
// one below its floor is passed over for the next. The copy that a record
// was read from is gone once it has been read; one that cannot be read back
// stays, as the manager's note about it says.
FetchResult FetchRecord(ReleaseRun& run, const KeptRelease* kept, std::string* text) {
  bool readable = true;
  TransferRequest request(kVersionRecordName, kVersionRecordCopyName, kMaxRecordBytes,
                          kSmallFileDeadlineMilliseconds);
  request.accept = [&](const platform::FileDigest&) {
    readable = ReadWholeFile(kVersionRecordCopyName, kMaxRecordBytes, text);
    return !readable || kept == nullptr || AboveFloor(*text, *kept);
  };
  const Transferred transferred = Transfer(run, request);
  // Every host served a record below the floor.
  if (transferred == Transferred::kRefused) RefuseOlderRecord();
  if (transferred != Transferred::kYes) return FetchResult::kFailed;
  if (!readable) return FetchResult::kUnreadable;
  platform::RemoveFile(kVersionRecordCopyName);
  return FetchResult::kFetched;
}

// With a key no copy of the server's record outlives its fetch.
bool FetchRecordCopy(ReleaseRun& run, const KeptRelease* kept, std::string* record) {
  const FetchResult fetched = FetchRecord(run, kept, record);
  if (fetched != FetchResult::kFetched) platform::RemoveFile(kVersionRecordCopyName);
  return fetched == FetchResult::kFetched;
}

// A bounded download read back whole; the copy does not outlive the call.
bool DownloadToMemory(ReleaseRun& run, const std::u16string& serverPath,
                      const std::u16string& copyName, size_t limit, uint64_t deadline,
                      std::string* bytes, std::string* servedBy) {
  const bool read =
      Transfer(run, TransferRequest(serverPath, copyName, limit, deadline), nullptr, servedBy) ==
          Transferred::kYes &&
      ReadWholeFile(copyName, limit, bytes);
  platform::RemoveFile(copyName);
  return read;
}

// The server's manifest with its signature. A pair that does not verify
// blames the hosts that served it and is asked again from the others, as
// many times as there are hosts.
bool FetchServerManifest(ReleaseRun& run, VerifiedManifest* server) {
  for (size_t asked = 0; asked <= run.mirrors.size(); ++asked) {
    std::string manifestHost;
    std::string signatureHost;
    if (!DownloadToMemory(run, kReleaseManifestName, kReleaseManifestCopyName,
                          kMaxReleaseManifestBytes, kManifestDeadlineMilliseconds, &server->text,
                          &manifestHost) ||
        !DownloadToMemory(run, kReleaseSignatureName, kReleaseSignatureCopyName,
                          platform::kP256SignatureBytes, kSmallFileDeadlineMilliseconds,
                          &server->signature, &signatureHost)) {
      return false;
    }
    const ReleaseManifestRead read = VerifyManifest(server);
    if (read == ReleaseManifestRead::kRead) return true;
    // Signed for players whose Windows reads the list in another code
    // page: no host and no wait can give this player a release.
    if (read == ReleaseManifestRead::kOtherCodePage) {
      LogCheck(kReleaseManifestName, Check::kCodePage);
      NoteFailure(Outcome::kReleaseCodePage);
      return false;
    }
    BlameHost(run, manifestHost);
    BlameHost(run, signatureHost);
  }
  LogCheck(kReleaseManifestName, Check::kUnsigned);
  NoteFailure(Outcome::kReleaseRefused);
  return false;
}

enum class Poll { kMovedOn, kStale, kFailed };

// Asks for the record every few seconds while it is *record, within what is
// left of the run's switching wait and of its budget: kMovedOn with the new
// record in *record, kStale once the wait is over, kFailed when a poll
// failed. What the polls take counts as waiting too.
Poll PollWhileSwitching(ReleaseRun& run, const KeptRelease* kept, std::string* record) {
  const std::string stale = *record;
  const uint64_t began = platform::MonotonicMilliseconds();
  Poll poll = Poll::kMovedOn;
  while (*record == stale) {
    const uint64_t now = platform::MonotonicMilliseconds();
    if (run.switchWaitedMilliseconds + (now - began) >= kSwitchWaitBudgetMilliseconds ||
        RunTimeLeft(run) <= kSwitchPollMilliseconds) {
      poll = Poll::kStale;
      break;
    }
    platform::Sleep(kSwitchPollMilliseconds);
    SpendRunTime(run, now);
    if (!FetchRecordCopy(run, kept, record)) {
      poll = Poll::kFailed;
      break;
    }
  }
  run.switchWaitedMilliseconds += platform::MonotonicMilliseconds() - began;
  return poll;
}

enum class Pairing { kVouched, kOtherRecord, kRefused };

// The manifest that vouches for `record` becomes the run's: the kept one
// when it does, else the server's, fetched unless *fetched (the server's as
// last fetched) vouches already. kOtherRecord: a good signature over a
// manifest of another record, as while a publish is under way.
Pairing PairWithManifest(ReleaseRun& run, const std::string& record, const KeptRelease& kept,
                         std::optional<VerifiedManifest>* fetched) {
  if (kept.verified && Vouches(kept.verified->manifest, record)) {
    run.release = kept.verified;
    run.keepPending = kept.record != record;
    return Pairing::kVouched;
  }
  if (!*fetched || !Vouches((*fetched)->manifest, record)) {
    VerifiedManifest server;
    if (!FetchServerManifest(run, &server)) return Pairing::kRefused;
    *fetched = std::move(server);
  }
  if (!Vouches((*fetched)->manifest, record)) return Pairing::kOtherRecord;
  run.release = std::move(*fetched);
  run.keepPending = true;
  return Pairing::kVouched;
}

// The record (the one had last, or a fresh one), then the manifest that
// vouches for it. Every record the run takes is held to the floor, the ones
// polled while a release switches too.
FetchResult FetchSignedRecord(ReleaseRun& run) {
  const KeptRelease kept = ReadKeptRelease();
  // Until the run has a release of its own, the kept one names the hosts.
  if (kept.verified) run.mirrors = kept.verified->manifest.mirrors;
  std::string record;
  if (run.record) {
    record = *run.record;
    run.record.reset();
  } else {
    const FetchResult fetched = FetchRecord(run, &kept, &record);
    if (fetched != FetchResult::kFetched) {
      platform::RemoveFile(kVersionRecordCopyName);
      return fetched;
    }
  }
  std::optional<VerifiedManifest> fetched;
  for (;;) {
    if (!AboveFloor(record, kept)) {
      RefuseOlderRecord();
      return FetchResult::kFailed;
    }
    const Pairing pairing = PairWithManifest(run, record, kept, &fetched);
    if (pairing == Pairing::kVouched) break;
    if (pairing == Pairing::kRefused) return FetchResult::kFailed;
    // Record and manifest of two releases: the record follows once the
    // publish ends. Only the record is asked until it changes.
    if (PollWhileSwitching(run, &kept, &record) != Poll::kMovedOn) return FetchResult::kFailed;
  }
  run.record = std::move(record);
  run.mirrors = run.release->manifest.mirrors;
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
  if (!WithReleaseKey()) return FetchRecord(run, nullptr, text);
  const FetchResult fetched = FetchRunRecord(run);
  if (fetched == FetchResult::kFetched) *text = *run.record;
  return fetched;
}

const ReleaseManifest* RunManifest(ReleaseRun& run) {
  return FetchRunRecord(run) == FetchResult::kFetched ? &run.release->manifest : nullptr;
}

void StartOver(ReleaseRun& run) {
  const std::string stale = run.record.value_or(std::string());
  ReleaseRun next;
  next.startedOver = true;
  next.budgetMilliseconds = run.budgetMilliseconds;
  next.spentMilliseconds = run.spentMilliseconds;
  next.switchWaitedMilliseconds = run.switchWaitedMilliseconds;
  next.mirrors = std::move(run.mirrors);
  next.failedHosts = std::move(run.failedHosts);
  run = std::move(next);
  // The next release's files come before its record: the update starts
  // over once the record has moved on, or, when it never does within the
  // switching wait, fails as it would have. Each record is held to the floor
  // once the check takes it up again.
  std::string record;
  if (!FetchRecordCopy(run, nullptr, &record) ||
      (record == stale && PollWhileSwitching(run, nullptr, &record) == Poll::kFailed)) {
    run.record.reset();
    return;
  }
  run.record = std::move(record);
}

void KeepRunRelease(ReleaseRun& run) {
  if (!run.keepPending) return;
  run.keepPending = !KeepRelease(*run.release, *run.record);
}
