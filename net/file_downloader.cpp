#include "net/file_downloader.h"

#include <curl/curl.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <utility>

#include "net/server_config.h"
#include "platform/system.h"
#include "platform/unique_owner.h"

static_assert(kDownloadPartialFile == CURLE_PARTIAL_FILE);

namespace {

using Clock = std::chrono::steady_clock;

// Each converted path gets a buffer of its own; longer paths are refused.
constexpr int kAnsiPathBytes = 1024;
// Only a transfer cut short is tried again, this many more times at most.
constexpr int kMaxFurtherAttempts = 10;
// A dropped connection would otherwise hold the splash for libcurl's 300 s;
// a name with several addresses is tried address by address.
constexpr long kConnectSeconds = 10;
// libcurl's default receive buffer of 16 KiB costs six times the system
// calls of the curl tool's 100 KiB on a large patcher file.
constexpr long kReceiveBufferBytes = 100 * 1024;
constexpr long kFirstSuccessStatus = 200;
constexpr long kLastSuccessStatus = 299;
// The rate window is counted in this many slots. The last window is summed
// over one slot more, so the check errs towards letting a transfer go on.
constexpr int kRateSlots = 60;

// Files are fetched straight from below the base URL.
constexpr char kNoSubPath[] = "";

struct TransferTraits : platform::PointerTraits<CURL> {
  static void Close(CURL* transfer) { curl_easy_cleanup(transfer); }
};
using UniqueTransfer = platform::UniqueOwner<TransferTraits>;

using AnsiPath = std::array<char, kAnsiPathBytes>;

bool ToAnsi(const std::u16string& text, AnsiPath* ansi) {
  return platform::WideToAnsi(text.c_str(), ansi->data(), kAnsiPathBytes) != 0;
}

// A redirect or an error page is never the file asked for.
bool IsSuccessStatus(long status) {
  return status >= kFirstSuccessStatus && status <= kLastSuccessStatus;
}

// Body bytes of one attempt by slot of its rate window; the ring holds the
// newest slot and the kRateSlots before it.
struct RateWindow {
  Clock::time_point start;
  Clock::duration slot{};
  uint64_t minimumBytes = 0;  // in a window
  std::array<uint64_t, kRateSlots + 1> slotBytes{};
  int64_t newestSlot = 0;
  uint64_t countedBytes = 0;  // what libcurl had received at the last look
  bool tooSlow = false;
};

RateWindow StartRateWindow(long seconds) {
  RateWindow rate;
  const long windowSeconds = std::max(seconds, 1L);
  rate.start = Clock::now();
  rate.slot = Clock::duration(std::chrono::seconds(windowSeconds)) / kRateSlots;
  rate.minimumBytes = uint64_t(FileDownloader::kMinimumBytesPerSecond) * uint64_t(windowSeconds);
  return rate;
}

// libcurl progress callback, at least once a second: counts what arrived and
// gives the attempt up once a full window brought too little.
int CheckRate(void* userData, curl_off_t, curl_off_t received, curl_off_t, curl_off_t) {
  RateWindow& rate = *static_cast<RateWindow*>(userData);
  const Clock::duration elapsed = Clock::now() - rate.start;
  const int64_t slot = std::max<int64_t>(elapsed / rate.slot, rate.newestSlot);
  for (int64_t passed = std::max(rate.newestSlot + 1, slot - kRateSlots); passed <= slot; ++passed) {
    rate.slotBytes[passed % rate.slotBytes.size()] = 0;
  }
  rate.newestSlot = slot;
  const uint64_t total = static_cast<uint64_t>(std::max<curl_off_t>(received, 0));
  if (total > rate.countedBytes) {
    rate.slotBytes[slot % rate.slotBytes.size()] += total - rate.countedBytes;
    rate.countedBytes = total;
  }
  if (elapsed < rate.slot * kRateSlots) return 0;
  uint64_t windowBytes = 0;
  for (uint64_t bytes : rate.slotBytes) windowBytes += bytes;
  rate.tooSlow = windowBytes < rate.minimumBytes;
  return rate.tooSlow ? 1 : 0;
}

}  // namespace

FileDownloader::FileDownloader(std::string url) : baseUrl(std::move(url)) {}

FileDownloader& FileDownloader::Instance() {
  static FileDownloader instance{kDownloadBaseUrl};
  return instance;
}

void FileDownloader::AimInstanceForTesting(std::string url) { Instance().baseUrl = std::move(url); }

bool FileDownloader::DownloadFile(const std::u16string& serverPath,
                                  const std::u16string& localPath) {
  return DownloadFile(serverPath, localPath, kUnboundedDownload, nullptr);
}

bool FileDownloader::DownloadFile(const std::u16string& serverPath,
                                  const std::u16string& localPath, uint64_t byteLimit,
                                  platform::FileDigest* digest) {
  AnsiPath serverPathAnsi;
  AnsiPath localPathAnsi;
  if (!ToAnsi(serverPath, &serverPathAnsi) || !ToAnsi(localPath, &localPathAnsi)) return false;
  m_writeContext.hashing = digest != nullptr;
  m_writeContext.byteLimit = byteLimit;
  const bool downloaded =
      DownloadWithRetry(kNoSubPath, serverPathAnsi.data(), localPathAnsi.data());
  m_writeContext.hashing = false;
  m_writeContext.byteLimit = kUnboundedDownload;
  if (downloaded && digest != nullptr) *digest = m_digest;
  return downloaded;
}

bool FileDownloader::DownloadWithRetry(const char* subPath, const char* serverPath,
                                       const char* localPath) {
  int result = DownloadOnce(subPath, serverPath, localPath);
  for (int attempt = 0; result == kDownloadPartialFile && attempt < kMaxFurtherAttempts;
       ++attempt) {
    result = DownloadOnce(subPath, serverPath, localPath);
  }
  return result == kDownloadOk;
}

int FileDownloader::DownloadOnce(const char* subPath, const char* serverPath,
                                 const char* localPath) {
  m_writeContext.localFileName = localPath;
  m_writeContext.stream.reset();
  m_writeContext.hash.reset();
  if (m_writeContext.hashing) m_writeContext.hash = std::make_unique<platform::Sha256>();
  m_writeContext.bytes = 0;
  m_writeContext.overLimit = false;
  const std::string url = baseUrl + subPath + serverPath;

  // A fresh handle per attempt: nothing, not even the connection, carries over.
  const UniqueTransfer transfer(curl_easy_init());
  if (!transfer) return DownloadRefused;
  curl_easy_setopt(transfer.get(), CURLOPT_URL, url.c_str());
  curl_easy_setopt(transfer.get(), CURLOPT_WRITEDATA, &m_writeContext);
  curl_easy_setopt(transfer.get(), CURLOPT_WRITEFUNCTION, &WriteToFile);
  curl_easy_setopt(transfer.get(), CURLOPT_BUFFERSIZE, kReceiveBufferBytes);
  curl_easy_setopt(transfer.get(), CURLOPT_CONNECTTIMEOUT, kConnectSeconds);
  // A server that stays silent, trickles or sends a burst now and then must
  // not hold the splash, which has no close button, and with it every later
  // start. libcurl's own low-speed check looks at the last 5 s alone.
  RateWindow rate = StartRateWindow(m_stallSeconds);
  curl_easy_setopt(transfer.get(), CURLOPT_NOPROGRESS, 0L);
  curl_easy_setopt(transfer.get(), CURLOPT_XFERINFODATA, &rate);
  curl_easy_setopt(transfer.get(), CURLOPT_XFERINFOFUNCTION, &CheckRate);
  // A body announced beyond its bound is refused before it starts; one that
  // runs past it unannounced is refused by WriteToFile.
  if (m_writeContext.byteLimit != kUnboundedDownload) {
    curl_easy_setopt(transfer.get(), CURLOPT_MAXFILESIZE_LARGE,
                     static_cast<curl_off_t>(m_writeContext.byteLimit));
  }
  // The player's environment must not steer an elevated launcher to another
  // server: an empty proxy makes libcurl ignore http_proxy and the like.
  curl_easy_setopt(transfer.get(), CURLOPT_PROXY, "");

  const CURLcode result = curl_easy_perform(transfer.get());
  if (result != CURLE_OK) {
    m_writeContext.stream.reset();
    // Nothing of a body beyond its bound stays on disk, whichever check
    // caught it: an endless one would otherwise fill the drive on the next
    // attempt or the next start.
    if (m_writeContext.overLimit || result == CURLE_FILESIZE_EXCEEDED) {
      platform::RemoveFileAnsi(localPath);  // an absent file is just as good
      return CURLE_FILESIZE_EXCEEDED;
    }
    return rate.tooSlow ? CURLE_OPERATION_TIMEDOUT : result;
  }
  long status = 0;
  curl_easy_getinfo(transfer.get(), CURLINFO_RESPONSE_CODE, &status);
  if (!IsSuccessStatus(status)) {
    m_writeContext.stream.reset();
    platform::RemoveFileAnsi(localPath);  // an absent file is just as good
    return DownloadRefused;
  }
  // An empty body still replaces what an older download left at that path.
  if (!m_writeContext.stream) {
    m_writeContext.stream = platform::OpenFileAnsi(localPath, "wb");
    if (!m_writeContext.stream) return CURLE_WRITE_ERROR;
  }
  // The last buffered bytes reach the file only now; a failure here means
  // the file is incomplete.
  if (std::fclose(m_writeContext.stream.release()) != 0) return CURLE_WRITE_ERROR;
  if (m_writeContext.hash) {
    m_digest.size = m_writeContext.bytes;
    if (!m_writeContext.hash->Finish(&m_digest.sha256)) return CURLE_WRITE_ERROR;
  }
  return kDownloadOk;
}

size_t WriteToFile(char* data, size_t itemSize, size_t itemCount, void* userData) {
  auto* context = static_cast<WriteContext*>(userData);
  const uint64_t incoming = uint64_t{itemSize} * itemCount;
  if (incoming > context->byteLimit - context->bytes) {
    context->overLimit = true;
    return 0;
  }
  if (!context->stream) {
    if (!context->localFileName) return 0;
    context->stream = platform::OpenFileAnsi(context->localFileName, "wb");
    if (!context->stream) return 0;
  }
  const size_t written = std::fwrite(data, itemSize, itemCount, context->stream.get()) * itemSize;
  context->bytes += written;
  // A hash that cannot be fed fails the transfer rather than vouch for it.
  if (context->hash && !context->hash->Update(data, written)) return 0;
  return written;
}
