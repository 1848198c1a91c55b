#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "platform/crypto.h"
#include "platform/files.h"

// The only code that talks to the network: plain HTTP GETs below one base
// URL, each body streamed into a local file.
//
// Rate rule: an attempt whose last full window (60 s) brought fewer body
// bytes than kMinimumBytesPerSecond on average ends like a stall, not tried
// again, keeping what arrived. The wait for the first byte counts, so a silent
// server, a trickle and a burst now and then are all given up. A time limit,
// where the caller sets one, ends the download, every attempt together, on
// the monotonic clock however fast it goes.

// Result of one attempt: 0, a libcurl result code, DownloadRefused or
// kDownloadRangeRefused.
inline constexpr int kDownloadOk = 0;
inline constexpr int kDownloadPartialFile = 18;  // CURLE_PARTIAL_FILE: tried again
inline constexpr int DownloadRefused = 90;       // no handle, or a status other than 2xx
// A resumed attempt answered with a 416 or a 206 that cannot continue the
// file; tried again (see DownloadFile). libcurl's 91 needs TLS, never used here.
inline constexpr int kDownloadRangeRefused = 91;

// A download of a file whose size nothing states: held to the downloader's
// bound for such bodies (FileDownloader::SetUnstatedSizeLimit).
inline constexpr uint64_t kNoStatedSize = UINT64_MAX;

// Whether a download continues the bytes already at its local path.
enum class Resume { kNo, kYes };

// What ended a download, for a caller choosing whether another host might
// do better.
enum class DownloadFailure {
  kNone,
  kConnect,    // no connection: the name not found, refused, or not made in time
  kStatus,     // an answer other than 2xx; DownloadReport::status says which
  kTooSlow,    // under the minimum rate, a silent server included
  kDeadline,   // past the download's time limit
  kOverBound,  // a body past its bound; nothing of it stays on disk
  kLocal,      // a path that does not fit, a file that cannot be written
  kTransfer,   // cut short on every attempt, a broken or unusable answer
};

struct DownloadReport {
  DownloadFailure failure = DownloadFailure::kNone;
  long status = 0;            // of the last answer; 0 when none came
  uint64_t networkBytes = 0;  // body bytes received, every attempt counted
  // The bytes in place continue others, by a 206 to a range: bytes another
  // attempt, another host or an earlier run left, which the answer may not
  // fit.
  bool continued = false;
};

struct WriteContext {
  const char* localFileName = nullptr;  // ANSI; not owned
  // A staging file the caller holds open, written through; null: the file
  // is opened by name for each attempt, into `opened`.
  std::FILE* held = nullptr;
  platform::UniqueFile opened;
  std::FILE* stream = nullptr;  // what this attempt writes, from its first body data
  // The file's bound; a body that would take it past is refused at once.
  uint64_t byteLimit = kNoStatedSize;
  bool overLimit = false;
  // Set while a download is asked for its digest: the file is hashed as it
  // is written, the kept bytes of a continued one read back from disk first.
  bool hashing = false;
  std::unique_ptr<platform::Sha256> hash;
  uint64_t bytes = 0;          // in the file from its start, kept bytes included
  uint64_t overlapBytes = 0;   // of a 206 that starts before the kept bytes end
  uint64_t receivedBytes = 0;  // body bytes of this attempt, overlap included
};

// The base URL of a download host ("host" or "host:port"): every host
// serves the same tree below the same path.
std::string BaseUrlOfHost(std::string_view host);

class FileDownloader {
 public:
  // The rate rule's window, and the average it asks for.
  static constexpr long kDefaultStallSeconds = 60;
  static constexpr long kMinimumBytesPerSecond = 1024;
  // A resumed attempt that takes the file this much further than any before,
  // with no more repeated bytes than new ones, is not counted as a retry.
  static constexpr uint64_t kResumeProgressBytes = 64 * 1024;
  // A 206 may start this far before the bytes it continues, no further.
  static constexpr uint64_t kMaxRangeOverlapBytes = 1024 * 1024;
  // Generous for the patcher, the launcher copy and a listed file, which
  // nothing states the size of without a release key: a server cannot fill
  // the player's disk.
  static constexpr uint64_t kDefaultUnstatedSizeLimit = uint64_t{256} << 20;

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
  // unescaped) into localPath, of a size nothing states. Both paths go as their
  // exact form in the system's ANSI code page (platform::EncodeAnsi); one
  // that has none fails with nothing sent. libcurl percent-encodes the
  // server path's bytes above 0x7F, which a server reads as those bytes.
  // True when the body is in place.
  bool DownloadFile(const std::u16string& serverPath, const std::u16string& localPath);
  // The same for a body of at most byteLimit bytes: a larger one fails at
  // once, without a second attempt, and leaves no file at localPath. With a
  // digest, the size and SHA-256 of the bytes in place, taken while they
  // stream to disk so the file is never read twice.
  bool DownloadFile(const std::u16string& serverPath, const std::u16string& localPath,
                    uint64_t byteLimit, platform::FileDigest* digest);
  // The same, with a report (may be null) of what ended it.
  // With Resume::kYes, byteLimit is the file's exact size, and the N bytes
  // already at localPath (0 < N < byteLimit) are continued: hashed from
  // disk, then "Range: bytes=N-" asks for the rest. A 206 continues the file
  // only if its Content-Range starts at N or before (the overlap is skipped)
  // and runs to the end of exactly byteLimit bytes; any other 2xx is the
  // whole file, written anew from byte 0. A 206 that starts more than
  // kMaxRangeOverlapBytes before N cannot continue it. After a 416, or a
  // second unusable 206 in a row, the rest of the download fetches the whole
  // file. A cut attempt is continued from what is on disk, and one that takes
  // the file kResumeProgressBytes further than any before, having sent no
  // more bytes already held than new ones, does not count against the ten
  // further attempts; a complete answer that leaves the file short counts as
  // cut. An answer other than 2xx leaves the bytes in place, for
  // another host; a body past the size, the kept bytes counted, deletes them.
  bool DownloadFile(const std::u16string& serverPath, const std::u16string& localPath,
                    uint64_t byteLimit, Resume resume, platform::FileDigest* digest,
                    DownloadReport* report);
  // The same into a staging file that the caller holds open
  // (platform::OpenStagingFile), so that no other writer can change it from
  // its first byte to its rename; a file to be deleted is emptied instead.
  bool DownloadFile(const std::u16string& serverPath, std::FILE* staging, uint64_t byteLimit,
                    Resume resume, platform::FileDigest* digest, DownloadReport* report);

  // One download, and one attempt of it, in the system's ANSI code page;
  // subPath goes between the base URL and the server path.
  bool DownloadWithRetry(const char* subPath, const char* serverPath, const char* localPath);
  int DownloadOnce(const char* subPath, const char* serverPath, const char* localPath);

  const std::string& BaseUrl() const { return baseUrl; }
  // Tests shorten the rate rule's window (whole seconds, at least one).
  void SetStallSeconds(long seconds) { m_stallSeconds = seconds; }
  long StallSeconds() const { return m_stallSeconds; }
  // The bound of a body whose size nothing states; tests lower it.
  void SetUnstatedSizeLimit(uint64_t bytes) { m_unstatedSizeLimit = bytes; }
  // Each download from then on ends, every attempt together, once this many
  // milliseconds have passed since it began (kDeadline); 0: no such limit.
  void SetTimeLimit(uint64_t milliseconds) { m_timeLimitMilliseconds = milliseconds; }
  // Where another host can serve the file, an attempt that goes this long
  // without a byte (connecting and waiting for the answer included) ends
  // like a stall, so the next host is asked at once; 0: no such limit.
  void SetSilenceLimit(long milliseconds) { m_silenceMilliseconds = milliseconds; }

 private:
  // *stopped: what the downloader's own checks ended it for (kTooSlow,
  // kDeadline), else kNone.
  int Attempt(const char* subPath, const char* serverPath, const char* localPath,
              DownloadFailure* stopped);
  uint64_t ContinueFrom();

  WriteContext m_writeContext;
  std::string baseUrl;
  platform::FileDigest m_digest;  // of the last attempt that succeeded
  long m_stallSeconds = kDefaultStallSeconds;
  long m_silenceMilliseconds = 0;
  uint64_t m_unstatedSizeLimit = kDefaultUnstatedSizeLimit;
  uint64_t m_timeLimitMilliseconds = 0;
  uint64_t m_deadline = 0;  // of the download in progress, monotonic; 0: none
  DownloadReport m_report;  // of the download in progress
  // The attempt in progress, as the retry rule and the support log see it.
  struct {
    int number = 0;           // of the download, from 1
    uint64_t rangeStart = 0;  // the N of its "Range: bytes=N-"; 0: none asked
    int curlCode = 0;         // curl_easy_perform's result; 0 when it did not run
    std::string ip;           // of the server that answered; empty when none did
  } m_attempt;
  // A resumed download in progress.
  struct {
    bool exactSize = false;       // byteLimit is the size; bytes on disk are continued
    bool askRanges = false;       // off after a 416 or too many unusable 206s
    int unusableInRow = 0;        // 206 answers that could not continue the file
    bool keptBytesKnown = false;  // the write context's count and hash match the disk
  } m_resume;
};

// libcurl write callback; userData is the WriteContext.
size_t WriteToFile(char* data, size_t itemSize, size_t itemCount, void* userData);
