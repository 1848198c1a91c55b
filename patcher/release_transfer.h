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
// than the bound, or serves bytes the request does not accept. A host
// passed over for a pause is asked again, held to the rate rule alone, once
// every other host has failed; bytes refused after continuing a file's
// prefix are asked of the same host again, whole, before it is judged.
struct TransferRequest {
  TransferRequest(std::u16string path, std::u16string local, uint64_t limit = kUnboundedDownload)
      : serverPath(std::move(path)), localPath(std::move(local)), byteLimit(limit) {}

  std::u16string serverPath;
  std::u16string localPath;
  // At most this many bytes (kUnboundedDownload: whatever the size).
  uint64_t byteLimit = kUnboundedDownload;
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
  // No host served it, or the local file could not be written.
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
