#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "patcher/checked_files.h"
#include "patcher/kept_release.h"

// What a fetch of the update flow did.
enum class FetchResult {
  kFetched,
  // Not had: refused, cut, stalled, beyond its bound, or (with a key) not
  // vouched for or older than the kept release. Its box is due.
  kFailed,
  // The record or the list arrived, but its copy cannot be read back.
  kUnreadable,
  // With a key: a list or file of another release than the record's, as
  // while a publish switches files. The update may start over from the
  // record, once a run; after that such a file is kFailed.
  kSwitched,
};

// A run's time for fetching and waiting beyond its requests' shares
// (release_transfer.h): slow answers, failover, the wait for a switching
// release.
inline constexpr uint64_t kRunAllowanceMilliseconds = 10 * 60 * 1000;

// What one run of the launcher has had from the server and checked. The
// main flow makes one and hands it to every step that fetches; tests make
// their own. Without a release key nothing is kept here: every fetch is a
// plain download.
struct ReleaseRun {
  // The server's record as last had, and, once checked, the manifest that
  // vouches for it. With a key the record is fetched once a run, and again
  // only when the update starts over.
  std::optional<std::string> record;
  std::optional<VerifiedManifest> release;
  // `release` is not yet the one kept in the install folder.
  bool keepPending = false;
  // The update started over once; a second mismatch is a failure.
  bool startedOver = false;
  // The run's time for fetching and waiting, on the monotonic clock: its
  // allowance and each request's share, and what transfers and waits took
  // of it. Once it is spent nothing more is asked.
  uint64_t budgetMilliseconds = kRunAllowanceMilliseconds;
  uint64_t spentMilliseconds = 0;
  // Time spent waiting for a switching release, polls included.
  uint64_t switchWaitedMilliseconds = 0;
  // With a key, the hosts that serve the release besides the built-in one,
  // in order of preference: the kept release's mirrors until the run has a
  // release of its own, then that release's.
  std::vector<std::string> mirrors;
  // Base URLs of the hosts that failed a transfer in this run: asked last
  // from then on.
  std::set<std::string> failedHosts;
  // With a key, what the install folder's notes said, at the run's first
  // staged fetch, each staging copy was begun for (by server path).
  std::optional<std::map<std::string, platform::FileDigest>> stagingNotes;
  // With a key, the paths of `release` below the install folder are the
  // launcher's (ClaimReleasePaths).
  bool releaseClaimed = false;
  // With a key, the listed files this run put in place once they matched
  // the release, as the check of the installed files would find them: that
  // check does not read them again unless they changed since.
  CheckedFiles placedFiles;
};
