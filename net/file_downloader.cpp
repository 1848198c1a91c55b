#include "net/file_downloader.h"

#include <curl/curl.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <string_view>
#include <utility>
#include <vector>

#include "log/support_log.h"
#include "net/server_config.h"
#include "platform/system.h"
#include "platform/unique_owner.h"

static_assert(kDownloadPartialFile == CURLE_PARTIAL_FILE);

namespace {

using Clock = std::chrono::steady_clock;

// Plain HTTP, the tree below one path: what a host serves is checked by
// what asks for it, not trusted for the way it came.
constexpr char kUrlScheme[] = "http://";
constexpr char kUploadPath[] = "/UploadData/";

// Only a transfer cut short, or a resumed one whose range was refused, is
// tried again, this many more times at most.
constexpr int kMaxFurtherAttempts = 10;
// A dropped connection would otherwise hold the splash for libcurl's 300 s;
// a name with several addresses is tried address by address.
constexpr long kConnectSeconds = 10;
// libcurl's default receive buffer of 16 KiB costs six times the system
// calls of the curl tool's 100 KiB on a large patcher file.
constexpr long kReceiveBufferBytes = 100 * 1024;
constexpr long kFirstSuccessStatus = 200;
constexpr long kLastSuccessStatus = 299;
constexpr long kPartialContentStatus = 206;
constexpr long kRangeNotSatisfiableStatus = 416;
// The rate window is counted in this many slots. The last window is summed
// over one slot more, so the check errs towards letting a transfer go on.
constexpr int kRateSlots = 60;
// Unusable 206 answers in a row before the rest is fetched whole.
constexpr int kUnusableRangesBeforeWholeFetch = 2;
// Kept bytes are hashed from disk in pieces of this size.
constexpr size_t kKeptReadBytes = 64 * 1024;

// Files are fetched straight from below the base URL.
constexpr char kNoSubPath[] = "";

// Sent with every request of a run that keeps a support log, so that the
// servers' logs join the player's; its value is our own hex id.
constexpr char kRunHeaderPrefix[] = "X-Velkaris-Run: ";
constexpr char kUrlSchemeEnd[] = "://";

struct TransferTraits : platform::PointerTraits<CURL> {
  static void Close(CURL* transfer) { curl_easy_cleanup(transfer); }
};
using UniqueTransfer = platform::UniqueOwner<TransferTraits>;
struct HeaderListTraits : platform::PointerTraits<curl_slist> {
  static void Close(curl_slist* list) { curl_slist_free_all(list); }
};
using UniqueHeaderList = platform::UniqueOwner<HeaderListTraits>;

using AnsiPath = std::array<char, platform::kMaxAnsiPathBytes>;

// Exact forms only, up to the first NUL as for any C string: a best fit or
// a default character would ask for, or write, another file than the one
// named.
bool ToAnsi(const std::u16string& text, AnsiPath* ansi) {
  std::string bytes;
  if (!platform::EncodeAnsi(text.c_str(), &bytes) || bytes.size() >= ansi->size()) return false;
  std::copy(bytes.begin(), bytes.end(), ansi->begin());
  (*ansi)[bytes.size()] = '\0';
  return true;
}

// A redirect or an error page is never the file asked for.
bool IsSuccessStatus(long status) {
  return status >= kFirstSuccessStatus && status <= kLastSuccessStatus;
}

// The file and its hash start again from byte 0.
void StartAnew(WriteContext* context) {
  context->hash.reset();
  if (context->hashing) context->hash = std::make_unique<platform::Sha256>();
  context->bytes = 0;
}

// Feeds the file's first bytes, up to limit, to hash (when there is one);
// how many, or 0 when the file cannot be read.
uint64_t HashFileStart(std::FILE* file, uint64_t limit, platform::Sha256* hash) {
  if (file == nullptr || std::fseek(file, 0, SEEK_SET) != 0) return 0;
  std::vector<char> buffer(kKeptReadBytes);
  uint64_t total = 0;
  while (total < limit) {
    const size_t wanted = static_cast<size_t>(std::min<uint64_t>(buffer.size(), limit - total));
    const size_t read = std::fread(buffer.data(), 1, wanted, file);
    if (read == 0) break;
    if (hash && !hash->Update(buffer.data(), read)) return 0;
    total += read;
  }
  return std::ferror(file) ? 0 : total;
}

uint64_t HashFileStart(const WriteContext& context, platform::Sha256* hash) {
  if (context.held != nullptr) return HashFileStart(context.held, context.byteLimit, hash);
  const platform::UniqueFile file = platform::OpenFileAnsi(context.localFileName, "rb");
  return HashFileStart(file.get(), context.byteLimit, hash);
}

// The body's stream for this attempt: the file from its start (emptied
// first) or from its end.
bool OpenBody(WriteContext* context, bool append) {
  if (context->held != nullptr) {
    const bool ready = append ? std::fseek(context->held, 0, SEEK_END) == 0
                              : platform::TruncateStream(context->held);
    context->stream = ready ? context->held : nullptr;
  } else if (context->localFileName != nullptr) {
    context->opened = platform::OpenFileAnsi(context->localFileName, append ? "ab" : "wb");
    context->stream = context->opened.get();
  }
  return context->stream != nullptr;
}

// The attempt's end: its last buffered bytes reach the file.
bool CloseBody(WriteContext* context) {
  std::FILE* const stream = std::exchange(context->stream, nullptr);
  if (stream == nullptr) return true;
  if (stream == context->held) return std::fflush(stream) == 0;
  return std::fclose(context->opened.release()) == 0;
}

// Nothing of the file stays: one held open is emptied, for its holder to
// delete once it lets go.
void DropBody(WriteContext* context) {
  if (context->held != nullptr) {
    platform::TruncateStream(context->held);
  } else {
    platform::RemoveFileAnsi(context->localFileName);  // an absent file is just as good
  }
}

// Body bytes of one attempt by slot of its rate window; the ring holds the
// newest slot and the kRateSlots before it.
struct RateWindow {
  static constexpr int64_t kRingSlots = kRateSlots + 1;
  Clock::time_point start;
  Clock::duration slot{};
  uint64_t minimumBytes = 0;  // in a window
  std::array<uint64_t, kRingSlots> slotBytes{};
  int64_t newestSlot = 0;
  uint64_t countedBytes = 0;  // what libcurl had received at the last look
  // With another host to ask: how long the attempt may go without a byte.
  Clock::duration silenceLimit{};
  Clock::time_point lastByte;
  uint64_t deadline = 0;  // the download's, on the monotonic clock; 0: none
  DownloadFailure stopped = DownloadFailure::kNone;  // kTooSlow or kDeadline once given up
};

uint64_t& SlotBytes(RateWindow* rate, int64_t slot) {
  return rate->slotBytes[static_cast<size_t>(slot % RateWindow::kRingSlots)];
}

RateWindow StartRateWindow(long seconds, long silenceMilliseconds, uint64_t deadline) {
  RateWindow rate;
  rate.deadline = deadline;
  const long windowSeconds = std::max(seconds, 1L);
  rate.start = Clock::now();
  rate.lastByte = rate.start;
  rate.silenceLimit = std::chrono::milliseconds(silenceMilliseconds);
  rate.slot = Clock::duration(std::chrono::seconds(windowSeconds)) / kRateSlots;
  rate.minimumBytes = static_cast<uint64_t>(FileDownloader::kMinimumBytesPerSecond * windowSeconds);
  return rate;
}

// libcurl progress callback, at least once a second: gives the attempt up
// once its download's deadline passed, and counts what arrived and gives it
// up once a full window brought too little.
int CheckRate(void* userData, curl_off_t, curl_off_t received, curl_off_t, curl_off_t) {
  RateWindow& rate = *static_cast<RateWindow*>(userData);
  if (rate.deadline != 0 && platform::MonotonicMilliseconds() >= rate.deadline) {
    rate.stopped = DownloadFailure::kDeadline;
    return 1;
  }
  const Clock::duration elapsed = Clock::now() - rate.start;
  const int64_t slot = std::max<int64_t>(elapsed / rate.slot, rate.newestSlot);
  // Slots the clock passed since the last look are empty, or out of the ring.
  const int64_t firstPassed = std::max(rate.newestSlot + 1, slot - kRateSlots);
  for (int64_t passed = firstPassed; passed <= slot; ++passed) SlotBytes(&rate, passed) = 0;
  rate.newestSlot = slot;
  const uint64_t total = static_cast<uint64_t>(std::max<curl_off_t>(received, 0));
  if (total > rate.countedBytes) {
    SlotBytes(&rate, slot) += total - rate.countedBytes;
    rate.countedBytes = total;
    rate.lastByte = rate.start + elapsed;
  }
  if (rate.silenceLimit != Clock::duration::zero() &&
      rate.start + elapsed - rate.lastByte > rate.silenceLimit) {
    rate.stopped = DownloadFailure::kTooSlow;
    return 1;
  }
  if (elapsed < rate.slot * kRateSlots) return 0;
  uint64_t windowBytes = 0;
  for (uint64_t bytes : rate.slotBytes) windowBytes += bytes;
  if (windowBytes >= rate.minimumBytes) return 0;
  rate.stopped = DownloadFailure::kTooSlow;
  return 1;
}

struct ContentRange {
  uint64_t first = 0;
  uint64_t last = 0;
  uint64_t total = 0;
};

bool TakeText(std::string_view* text, std::string_view expected) {
  if (text->substr(0, expected.size()) != expected) return false;
  text->remove_prefix(expected.size());
  return true;
}

bool TakeNumber(std::string_view* text, uint64_t* number) {
  const auto [end, error] = std::from_chars(text->data(), text->data() + text->size(), *number);
  if (error != std::errc()) return false;
  text->remove_prefix(static_cast<size_t>(end - text->data()));
  return true;
}

// "bytes FIRST-LAST/TOTAL", the one form a 206 to "bytes=N-" has.
bool ParseContentRange(std::string_view text, ContentRange* range) {
  return TakeText(&text, "bytes ") && TakeNumber(&text, &range->first) && TakeText(&text, "-") &&
         TakeNumber(&text, &range->last) && TakeText(&text, "/") &&
         TakeNumber(&text, &range->total) && text.empty();
}

// How one attempt's answer was taken, judged once its head is complete.
struct Answer {
  CURL* transfer = nullptr;
  WriteContext* context = nullptr;
  uint64_t rangeStart = 0;     // asked for with Range; 0: the whole body
  bool judged = false;
  bool refused = false;        // not 2xx: nothing of it is written
  bool unusableRange = false;  // a 206 that cannot continue the file
  bool usable = false;         // a ranged request answered with a file to write
  bool continues = false;      // a 206 taken: appended to the bytes kept
};

bool Judge(Answer* answer, long status) {
  WriteContext& context = *answer->context;
  if (!IsSuccessStatus(status)) {
    answer->refused = true;
    return false;
  }
  if (answer->rangeStart == 0) return true;  // opened on its first data
  if (status != kPartialContentStatus) {
    // The whole file after all: written anew from byte 0, never appended.
    StartAnew(&context);
    answer->usable = true;
    return OpenBody(&context, false);
  }
  curl_header* header = nullptr;
  ContentRange range;
  if (curl_easy_header(answer->transfer, "Content-Range", 0, CURLH_HEADER, -1, &header) !=
          CURLHE_OK ||
      header->amount != 1 || !ParseContentRange(header->value, &range) ||
      range.total != context.byteLimit || range.last + 1 != range.total ||
      range.first > answer->rangeStart ||
      answer->rangeStart - range.first > FileDownloader::kMaxRangeOverlapBytes) {
    answer->unusableRange = true;
    return false;
  }
  // A body announced past the file's end, the kept bytes counted, is refused
  // before it starts; one that runs past unannounced is refused by WriteToFile.
  curl_off_t length = -1;
  curl_easy_getinfo(answer->transfer, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length);
  if (length >= 0 && static_cast<uint64_t>(length) > context.byteLimit - range.first) {
    context.overLimit = true;
    return false;
  }
  context.overlapBytes = answer->rangeStart - range.first;
  answer->usable = answer->continues = true;
  return OpenBody(&context, true);
}

// libcurl header callback: the answer is judged at the end of its head,
// before any of its body arrives.
size_t JudgeAnswer(char* data, size_t itemSize, size_t itemCount, void* userData) {
  const size_t length = itemSize * itemCount;
  auto* answer = static_cast<Answer*>(userData);
  const std::string_view line(data, length);
  if (answer->judged || (line != "\r\n" && line != "\n")) return length;
  long status = 0;
  curl_easy_getinfo(answer->transfer, CURLINFO_RESPONSE_CODE, &status);
  if (status < kFirstSuccessStatus) return length;  // an interim answer; the real one follows
  answer->judged = true;
  return Judge(answer, status) ? length : 0;
}

// "host:port" of an "http://host:port/path" URL.
std::string_view HostOf(std::string_view url) {
  const size_t schemeEnd = url.find(kUrlSchemeEnd);
  if (schemeEnd != std::string_view::npos) url.remove_prefix(schemeEnd + sizeof kUrlSchemeEnd - 1);
  return url.substr(0, url.find('/'));
}

// An attempt's result as the support log names it.
const char* ResultName(int result, DownloadFailure failure) {
  switch (result) {
    case kDownloadOk:
      return "ok";
    case kDownloadPartialFile:
      return "cut";
    case kDownloadRangeRefused:
      return "range-refused";
  }
  switch (failure) {
    case DownloadFailure::kConnect:
      return "connect";
    case DownloadFailure::kStatus:
      return "status";
    case DownloadFailure::kTooSlow:
      return "too-slow";
    case DownloadFailure::kDeadline:
      return "deadline";
    case DownloadFailure::kOverBound:
      return "over-bound";
    case DownloadFailure::kLocal:
      return "local";
    case DownloadFailure::kNone:
    case DownloadFailure::kTransfer:
      break;
  }
  return "transfer";
}

DownloadFailure FailureOf(int result, long status, DownloadFailure stopped) {
  switch (result) {
    case kDownloadOk:
      return DownloadFailure::kNone;
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_CONNECT:
      return DownloadFailure::kConnect;
    case CURLE_OPERATION_TIMEDOUT:  // libcurl times the connection alone
      return stopped != DownloadFailure::kNone ? stopped : DownloadFailure::kConnect;
    case CURLE_FILESIZE_EXCEEDED:
      return DownloadFailure::kOverBound;
    case CURLE_WRITE_ERROR:
      return DownloadFailure::kLocal;
    case DownloadRefused:
      return status != 0 ? DownloadFailure::kStatus : DownloadFailure::kLocal;
    default:
      return DownloadFailure::kTransfer;
  }
}

}  // namespace

FileDownloader::FileDownloader(std::string url) : baseUrl(std::move(url)) {}

std::string BaseUrlOfHost(std::string_view host) {
  return std::string(kUrlScheme) + std::string(host) + kUploadPath;
}

FileDownloader& FileDownloader::Instance() {
  static FileDownloader instance{BaseUrlOfHost(kDownloadHost)};
  return instance;
}

void FileDownloader::AimInstanceForTesting(std::string url) { Instance().baseUrl = std::move(url); }

bool FileDownloader::DownloadFile(const std::u16string& serverPath,
                                  const std::u16string& localPath) {
  return DownloadFile(serverPath, localPath, kNoStatedSize, nullptr);
}

bool FileDownloader::DownloadFile(const std::u16string& serverPath,
                                  const std::u16string& localPath, uint64_t byteLimit,
                                  platform::FileDigest* digest) {
  return DownloadFile(serverPath, localPath, byteLimit, Resume::kNo, digest, nullptr);
}

bool FileDownloader::DownloadFile(const std::u16string& serverPath,
                                  const std::u16string& localPath, uint64_t byteLimit,
                                  Resume resume, platform::FileDigest* digest,
                                  DownloadReport* report) {
  m_report = {};
  AnsiPath serverPathAnsi;
  AnsiPath localPathAnsi;
  bool downloaded = false;
  if (!ToAnsi(serverPath, &serverPathAnsi) || !ToAnsi(localPath, &localPathAnsi)) {
    m_report.failure = DownloadFailure::kLocal;
  } else {
    m_writeContext.hashing = digest != nullptr;
    m_writeContext.byteLimit = byteLimit == kNoStatedSize ? m_unstatedSizeLimit : byteLimit;
    m_resume.exactSize = m_resume.askRanges = resume == Resume::kYes;
    m_resume.unusableInRow = 0;
    m_resume.keptBytesKnown = false;
    m_deadline = m_timeLimitMilliseconds == 0
                     ? 0
                     : platform::MonotonicMilliseconds() + m_timeLimitMilliseconds;
    downloaded = DownloadWithRetry(kNoSubPath, serverPathAnsi.data(), localPathAnsi.data());
    m_writeContext.hashing = false;
    m_writeContext.byteLimit = kNoStatedSize;
    m_resume.exactSize = m_resume.askRanges = false;
    m_deadline = 0;
  }
  if (report != nullptr) *report = m_report;
  if (downloaded && digest != nullptr) *digest = m_digest;
  return downloaded;
}

bool FileDownloader::DownloadFile(const std::u16string& serverPath, std::FILE* staging,
                                  uint64_t byteLimit, Resume resume, platform::FileDigest* digest,
                                  DownloadReport* report) {
  m_writeContext.held = staging;
  const bool downloaded = DownloadFile(serverPath, u"", byteLimit, resume, digest, report);
  m_writeContext.held = nullptr;
  return downloaded;
}

bool FileDownloader::DownloadWithRetry(const char* subPath, const char* serverPath,
                                       const char* localPath) {
  uint64_t furthest = 0;  // the most bytes of a resumed file it had, kept ones included
  m_attempt.number = 0;
  int result = DownloadOnce(subPath, serverPath, localPath);
  for (int counted = 0;
       (result == kDownloadPartialFile || result == kDownloadRangeRefused) &&
       counted < kMaxFurtherAttempts;) {
    // A resumed file that grew well past its furthest, by more bytes than the
    // attempt repeated, is not counted: a server that cuts every transfer
    // still delivers, and the size bounds how often. One that sends the
    // file's start again and again brings nothing new, however far it gets.
    furthest = std::max(furthest, m_attempt.rangeStart);
    const uint64_t fresh = m_writeContext.bytes > furthest ? m_writeContext.bytes - furthest : 0;
    const uint64_t received = m_writeContext.receivedBytes;
    const uint64_t repeated = received > fresh ? received - fresh : 0;
    if (!m_resume.askRanges || fresh < kResumeProgressBytes || repeated > fresh) ++counted;
    furthest = std::max(furthest, m_writeContext.bytes);
    result = DownloadOnce(subPath, serverPath, localPath);
  }
  return result == kDownloadOk;
}

int FileDownloader::DownloadOnce(const char* subPath, const char* serverPath,
                                 const char* localPath) {
  DownloadFailure stopped = DownloadFailure::kNone;
  ++m_attempt.number;
  const Clock::time_point start = Clock::now();
  const int result = Attempt(subPath, serverPath, localPath, &stopped);
  m_report.failure = FailureOf(result, m_report.status, stopped);
  const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
  // What the server sent (its status, a resolved address) is escaped by the
  // log like any other value.
  LogLine("request")
      .Add("path", std::string_view(serverPath))
      .Add("host", HostOf(baseUrl))
      .Add("ip", m_attempt.ip.empty() ? "none" : m_attempt.ip)
      .Add("status", m_report.status)
      .Add("bytes", m_writeContext.receivedBytes)
      .Add("ms", elapsed.count())
      .Add("curl", m_attempt.curlCode)
      .Add("attempt", m_attempt.number)
      .Add("result", ResultName(result, m_report.failure))
      .Write();
  return result;
}

// Where a resumed attempt continues: the kept bytes that the write context
// counts and hashes, or 0 for the whole file.
uint64_t FileDownloader::ContinueFrom() {
  WriteContext& context = m_writeContext;
  if (!m_resume.askRanges) return 0;
  if (!m_resume.keptBytesKnown) {
    StartAnew(&context);
    context.bytes = HashFileStart(context, context.hash.get());
    m_resume.keptBytesKnown = true;
  }
  return context.bytes < context.byteLimit ? context.bytes : 0;
}

int FileDownloader::Attempt(const char* subPath, const char* serverPath, const char* localPath,
                            DownloadFailure* stopped) {
  WriteContext& context = m_writeContext;
  context.localFileName = localPath;
  context.stream = nullptr;
  context.opened.reset();
  context.overLimit = false;
  context.overlapBytes = 0;
  context.receivedBytes = 0;
  m_report.status = 0;
  m_report.continued = false;
  m_attempt.curlCode = 0;
  m_attempt.ip.clear();
  m_attempt.rangeStart = 0;
  if (m_deadline != 0 && platform::MonotonicMilliseconds() >= m_deadline) {
    *stopped = DownloadFailure::kDeadline;
    return CURLE_OPERATION_TIMEDOUT;
  }
  Answer answer;
  answer.context = &context;
  answer.rangeStart = m_attempt.rangeStart = ContinueFrom();
  if (answer.rangeStart == 0) StartAnew(&context);
  const std::string url = baseUrl + subPath + serverPath;

  // A fresh handle per attempt: nothing, not even the connection, carries over.
  const UniqueTransfer transfer(curl_easy_init());
  if (!transfer) return DownloadRefused;
  answer.transfer = transfer.get();
  curl_easy_setopt(transfer.get(), CURLOPT_URL, url.c_str());
  curl_easy_setopt(transfer.get(), CURLOPT_WRITEDATA, &context);
  curl_easy_setopt(transfer.get(), CURLOPT_WRITEFUNCTION, &WriteToFile);
  curl_easy_setopt(transfer.get(), CURLOPT_HEADERDATA, &answer);
  curl_easy_setopt(transfer.get(), CURLOPT_HEADERFUNCTION, &JudgeAnswer);
  curl_easy_setopt(transfer.get(), CURLOPT_BUFFERSIZE, kReceiveBufferBytes);
  curl_easy_setopt(transfer.get(), CURLOPT_CONNECTTIMEOUT, kConnectSeconds);
  // A server that stays silent, trickles or sends a burst now and then must
  // not hold the splash, which has no close button, and with it every later
  // start. libcurl's own low-speed check looks at the last 5 s alone.
  RateWindow rate = StartRateWindow(m_stallSeconds, m_silenceMilliseconds, m_deadline);
  curl_easy_setopt(transfer.get(), CURLOPT_NOPROGRESS, 0L);
  curl_easy_setopt(transfer.get(), CURLOPT_XFERINFODATA, &rate);
  curl_easy_setopt(transfer.get(), CURLOPT_XFERINFOFUNCTION, &CheckRate);
  // A body announced beyond its bound is refused before it starts; one that
  // runs past it unannounced is refused by WriteToFile.
  if (context.byteLimit != kNoStatedSize) {
    curl_easy_setopt(transfer.get(), CURLOPT_MAXFILESIZE_LARGE,
                     static_cast<curl_off_t>(context.byteLimit));
  }
  // CURLOPT_RANGE, not _RESUME_FROM: libcurl would refuse a 200 and an
  // earlier start itself, and both are answers that can still be used.
  if (answer.rangeStart != 0) {
    const std::string range = std::to_string(answer.rangeStart) + "-";
    curl_easy_setopt(transfer.get(), CURLOPT_RANGE, range.c_str());  // copied by libcurl
  }
  // The player's environment must not steer an elevated launcher to another
  // server: an empty proxy makes libcurl ignore http_proxy and the like.
  curl_easy_setopt(transfer.get(), CURLOPT_PROXY, "");
  UniqueHeaderList headers;
  if (!SupportRunId().empty()) {
    headers.reset(curl_slist_append(nullptr, (kRunHeaderPrefix + SupportRunId()).c_str()));
    curl_easy_setopt(transfer.get(), CURLOPT_HTTPHEADER, headers.get());
  }

  const CURLcode result = curl_easy_perform(transfer.get());
  curl_easy_getinfo(transfer.get(), CURLINFO_RESPONSE_CODE, &m_report.status);
  m_attempt.curlCode = result;
  char* ip = nullptr;
  if (curl_easy_getinfo(transfer.get(), CURLINFO_PRIMARY_IP, &ip) == CURLE_OK && ip != nullptr) {
    m_attempt.ip = ip;
  }
  m_report.networkBytes += context.receivedBytes;
  m_report.continued = answer.continues;
  *stopped = rate.stopped;
  const bool unsatisfiable =
      answer.rangeStart != 0 && m_report.status == kRangeNotSatisfiableStatus;
  if (answer.usable) m_resume.unusableInRow = 0;
  if (answer.unusableRange) ++m_resume.unusableInRow;
  // This server cannot continue the file: the rest of the download fetches it whole.
  if (unsatisfiable || m_resume.unusableInRow >= kUnusableRangesBeforeWholeFetch) {
    m_resume.askRanges = false;
  }
  // An empty body still replaces what an older download left at that path.
  if (result == CURLE_OK && !context.stream && !OpenBody(&context, false)) {
    return CURLE_WRITE_ERROR;
  }
  // The last buffered bytes reach the file only now: until they have, the
  // file and what was counted of it may differ.
  const bool closed = CloseBody(&context);
  m_resume.keptBytesKnown = closed;
  // Nothing of a body beyond its bound stays on disk, whichever check caught
  // it: an endless one would otherwise fill the drive on the next attempt or
  // the next start.
  if (context.overLimit || result == CURLE_FILESIZE_EXCEEDED) {
    DropBody(&context);
    return CURLE_FILESIZE_EXCEEDED;
  }
  if (rate.stopped != DownloadFailure::kNone) return CURLE_OPERATION_TIMEDOUT;
  if (answer.unusableRange || unsatisfiable) return kDownloadRangeRefused;
  if (answer.refused) {
    if (!m_resume.exactSize) DropBody(&context);
    return DownloadRefused;
  }
  if (result != CURLE_OK) return result;
  if (!closed) return CURLE_WRITE_ERROR;
  // A file left short by an answer of no announced length may have been cut.
  // One whose length was announced and came whole is a file of another size:
  // what was served, for the caller's check to refuse.
  curl_off_t announced = -1;
  curl_easy_getinfo(transfer.get(), CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &announced);
  if (m_resume.exactSize && context.bytes < context.byteLimit && announced < 0) {
    return kDownloadPartialFile;
  }
  if (context.hash) {
    m_digest.size = context.bytes;
    if (!context.hash->Finish(&m_digest.sha256)) return CURLE_WRITE_ERROR;
  }
  return kDownloadOk;
}

size_t WriteToFile(char* data, size_t itemSize, size_t itemCount, void* userData) {
  auto* context = static_cast<WriteContext*>(userData);
  const size_t incoming = itemSize * itemCount;
  context->receivedBytes += incoming;
  // The start of a 206 from before the kept bytes' end is in the file already.
  const size_t overlap = static_cast<size_t>(std::min<uint64_t>(incoming, context->overlapBytes));
  context->overlapBytes -= overlap;
  const size_t fresh = incoming - overlap;
  if (fresh > context->byteLimit - context->bytes) {
    context->overLimit = true;
    return 0;
  }
  if (fresh == 0) return incoming;
  if (!context->stream && !OpenBody(context, false)) return 0;
  const size_t written = std::fwrite(data + overlap, 1, fresh, context->stream);
  context->bytes += written;
  // A hash that cannot be fed fails the transfer rather than vouch for it.
  if (context->hash && !context->hash->Update(data + overlap, written)) return 0;
  return written == fresh ? incoming : 0;
}
