#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <utility>

#include "net/file_downloader.h"
#include "patcher/release_run.h"
#include "platform/crypto.h"

// One file of the release from the download hosts into a local file: the
// one place that chooses where a file is fetched from. Hosts are asked in
// order (the built-in one, then the run's mirrors), those that failed in
// this run last; a file goes to the next host when one refuses or drops
// the connection, answers anything but 2xx, stalls or trickles, sends more
// than the bound, or serves bytes the request does not accept, or does not
// finish by the request's deadline. A host passed over for a pause is asked
// again, held to the rate rule alone, once every other host has failed;
// bytes refused that a host assembled from a continued range are asked of
// the same host again at once, whole, before it is judged. Each request adds
// its share to the run's budget once, however many hosts are asked; no host
// is asked once the budget is spent.

// How long one host may take to serve one file, every attempt together, on
// the monotonic clock; none is met by an honest line of 64 KiB/s. The record
// and the signature, a few bytes each:
inline constexpr uint64_t kSmallFileDeadlineMilliseconds = 30 * 1000;
// The manifest (its bound takes that line 16 s) and the list (its bound,
// 4 min 16 s; a line per file, so far less as a rule):
inline constexpr uint64_t kManifestDeadlineMilliseconds = 2 * 60 * 1000;
inline constexpr uint64_t kListDeadlineMilliseconds = 5 * 60 * 1000;
// A file whose size the manifest states: that size at the floor rate, half
// the honest line's, and an allowance for connecting, the first byte and the
// continuation of cut transfers.
inline constexpr uint64_t kDeadlineFloorBytesPerSecond = 32 * 1024;
inline constexpr uint64_t kDeadlineAllowanceMilliseconds = 60 * 1000;
constexpr uint64_t MillisecondsAtFloorRate(uint64_t bytes) {
  constexpr uint64_t kMillisecondsPerSecond = 1000;
  return bytes / kDeadlineFloorBytesPerSecond * kMillisecondsPerSecond +
         bytes % kDeadlineFloorBytesPerSecond * kMillisecondsPerSecond /
             kDeadlineFloorBytesPerSecond;
}
constexpr uint64_t DeadlineForSize(uint64_t bytes) {
  return kDeadlineAllowanceMilliseconds + MillisecondsAtFloorRate(bytes);
}
// Without a key nothing states the size of the patcher, the launcher copy or
// a listed file: the deadline of the largest body taken then (2 h 17 min).
inline constexpr uint64_t kUnstatedFileDeadlineMilliseconds =
    DeadlineForSize(FileDownloader::kDefaultUnstatedSizeLimit);
// What a request adds to the run's budget (release_run.h): its byte bound
// at the floor rate, and this for the request itself.
inline constexpr uint64_t kRunSharePerRequestMilliseconds = 5 * 1000;

struct TransferRequest {
  TransferRequest(std::u16string path, std::u16string local, uint64_t limit = kNoStatedSize,
                  uint64_t deadline = kUnstatedFileDeadlineMilliseconds)
      : serverPath(std::move(path)),
        localPath(std::move(local)),
        byteLimit(limit),
        deadlineMilliseconds(deadline) {}

  std::u16string serverPath;
  std::u16string localPath;
  // At most this many bytes (kNoStatedSize: the downloader's bound for a
  // size nothing states).
  uint64_t byteLimit = kNoStatedSize;
  uint64_t deadlineMilliseconds = kUnstatedFileDeadlineMilliseconds;
  // The file's size is exactly byteLimit: a cut transfer continues from the
  // bytes already at localPath, on the same host or the next.
  bool resumable = false;
  // The staging file at localPath, held open by the update: written through,
  // and emptied rather than deleted. Null: written by name.
  std::FILE* staging = nullptr;
  // Judges the bytes a host served (their size and SHA-256); refused ones
  // are deleted, and the next host is asked. Null: any bytes will do.
  std::function<bool(const platform::FileDigest&)> accept;
};

enum class Transferred {
  kYes,
  // No host served it, the run's time is spent, or the local file could not
  // be written.
  kNo,
  // Every host that served it served bytes the request refused: the hosts
  // agree, and are not blamed for it (a release switching looks so).
  kRefused,
};

// *digest (may be null): the size and SHA-256 of what is in place;
// *servedBy (may be null): the base URL of the host that served it.
Transferred Transfer(ReleaseRun& run, const TransferRequest& request,
                     platform::FileDigest* digest = nullptr, std::string* servedBy = nullptr);

// A host whose file proved bad once taken together with another (a manifest
// with its signature): asked last for the rest of the run.
void BlameHost(ReleaseRun& run, const std::string& baseUrl);

// What is left of the run's budget, and the time since `since` (on the
// monotonic clock) spent from it.
uint64_t RunTimeLeft(const ReleaseRun& run);
void SpendRunTime(ReleaseRun& run, uint64_t since);
