#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/crypto.h"
#include "platform/files.h"

// The only code that talks to the network: plain HTTP GETs below one base
// URL, each body streamed into a local file.
//
// Rate rule: an attempt whose last full window (60 s) brought fewer body
// bytes than kMinimumBytesPerSecond on average ends like a stall, not tried
// again, keeping what arrived. The wait for the first byte counts, so a silent
// server, a trickle and a burst now and then are all given up.

// Result of one attempt: 0, a libcurl result code, or DownloadRefused.
inline constexpr int kDownloadOk = 0;
inline constexpr int kDownloadPartialFile = 18;  // CURLE_PARTIAL_FILE: tried again
inline constexpr int DownloadRefused = 90;       // no handle, or a status other than 2xx

// A download with no bound on its size: a file whose size nothing states.
inline constexpr uint64_t kUnboundedDownload = UINT64_MAX;

struct WriteContext {
  const char* localFileName = nullptr;  // ANSI; not owned
  platform::UniqueFile stream;          // opened on the first body data
  // The body's bound; a body that grows past it is refused at once.
  uint64_t byteLimit = kUnboundedDownload;
  bool overLimit = false;
  // Set while a download is asked for its digest: the body is hashed as
  // it is written, anew on every attempt.
  bool hashing = false;
  std::unique_ptr<platform::Sha256> hash;
  uint64_t bytes = 0;
};

class FileDownloader {
 public:
  // The rate rule's window, and the average it asks for.
  static constexpr long kDefaultStallSeconds = 60;
  static constexpr long kMinimumBytesPerSecond = 1024;

  // The one downloader of the process, aimed at the configured server.
  static FileDownloader& Instance();
  // Aims the one downloader at a test server instead; baseUrl ends in a
  // slash. Nothing but the test support calls it.
  static void AimInstanceForTesting(std::string baseUrl);

  // Aimed at another server; for tests and tools. baseUrl ends in a slash.
  explicit FileDownloader(std::string baseUrl);
  FileDownloader(const FileDownloader&) = delete;
  FileDownloader& operator=(const FileDownloader&) = delete;

  // Fetches serverPath (relative to the base URL, "/" between folders, sent
  // unescaped) into localPath, whatever its size. True when the body is in
  // place.
  bool DownloadFile(const std::u16string& serverPath, const std::u16string& localPath);
  // The same for a body of at most byteLimit bytes: a larger one fails at
  // once, without a second attempt, and leaves no file at localPath. With a
  // digest, the size and SHA-256 of the bytes in place, taken while they
  // stream to disk so the file is never read twice.
  bool DownloadFile(const std::u16string& serverPath, const std::u16string& localPath,
                    uint64_t byteLimit, platform::FileDigest* digest);

  // One download, and one attempt of it, in the system's ANSI code page;
  // subPath goes between the base URL and the server path.
  bool DownloadWithRetry(const char* subPath, const char* serverPath, const char* localPath);
  int DownloadOnce(const char* subPath, const char* serverPath, const char* localPath);

  const std::string& BaseUrl() const { return baseUrl; }
  // Tests shorten the rate rule's window (whole seconds, at least one).
  void SetStallSeconds(long seconds) { m_stallSeconds = seconds; }

 private:
  WriteContext m_writeContext;
  std::string baseUrl;
  platform::FileDigest m_digest;  // of the last attempt that succeeded
  long m_stallSeconds = kDefaultStallSeconds;
};

// libcurl write callback; userData is the WriteContext.
size_t WriteToFile(char* data, size_t itemSize, size_t itemCount, void* userData);
