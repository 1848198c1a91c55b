#include "net/file_downloader.h"

#include <curl/curl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "tests/common/net/downloader_fixture.h"

namespace {

using namespace std::string_literals;
using testhttp::Response;

// Binary content: a NUL, CR LF, a lone LF and Ctrl-Z must all survive.
const std::string kBody = "MZ\0\x01 patcher\r\nline\nend\x1a tail"s;
const std::string kOldContent = "older download";

// A body long enough to be cut in the middle.
std::string LongBody() {
  std::string body;
  for (int i = 0; body.size() < 4000; ++i) body += "chunk " + std::to_string(i) + "\r\n";
  return body;
}

// Bytes that differ from their neighbours' at any shift a test uses.
std::string PatternedBody(size_t size) {
  constexpr int kPeriod = 251;
  std::string body(size, '\0');
  for (size_t i = 0; i < size; ++i) body[i] = static_cast<char>(i % kPeriod);
  return body;
}

platform::FileDigest DigestOf(const std::string& body) {
  platform::FileDigest digest{body.size(), {}};
  platform::Sha256 hash;
  EXPECT_TRUE(hash.Update(body.data(), body.size()) && hash.Finish(&digest.sha256));
  return digest;
}

size_t RangedRequests(const testhttp::TestHttpServer& server) {
  const std::vector<testhttp::RecordedRequest> requests = server.Requests();
  return static_cast<size_t>(std::count_if(requests.begin(), requests.end(),
                                           [](const auto& r) { return r.HasHeader("Range"); }));
}

TEST(FileDownloaderInstance, IsOneDownloaderAimedAtTheServerFolder) {
  FileDownloader& first = FileDownloader::Instance();
  EXPECT_EQ(&first, &FileDownloader::Instance());
  EXPECT_EQ(first.BaseUrl().rfind("http://", 0), 0u) << first.BaseUrl();
  const std::string folder = "/UploadData/";
  ASSERT_GT(first.BaseUrl().size(), folder.size());
  EXPECT_EQ(first.BaseUrl().substr(first.BaseUrl().size() - folder.size()), folder);
}

struct StatusCase {
  const char* name;
  Response response;
  bool olderFile;  // a file of that name exists before the download
  bool result;
  bool fileAfter;
  std::string contentAfter;
};

TEST_F(DownloaderTest, OnlyA2xxAnswerLeavesTheBodyInPlace) {
  const std::vector<StatusCase> cases = {
      {"200 with a body replaces an older file", Response::Ok(kBody), true, true, true, kBody},
      {"200 without a body empties an older file", Response::Status(200), true, true, true, ""},
      {"204 creates an empty file", Response::Status(204), false, true, true, ""},
      {"299 is still success", Response::Status(299, "x"), false, true, true, "x"},
      {"300 is refused", Response::Status(300, "choices"), true, false, false, ""},
      {"302 with a body is refused", Response::Redirect("/UploadData/moved.bin"), true, false, false, ""},
      {"304 without a body deletes an older file", Response::Status(304), true, false, false, ""},
      {"404 page leaves no file", Response::HtmlPage(404), false, false, false, ""},
      {"404 without a body deletes an older file", Response::Status(404), true, false, false, ""},
      {"500 page deletes an older file", Response::HtmlPage(500), true, false, false, ""},
  };
  Serve("moved.bin", Response::Ok("the redirect's target"));
  for (size_t i = 0; i < cases.size(); ++i) {
    const StatusCase& c = cases[i];
    SCOPED_TRACE(c.name);
    const std::string serverPath = "file" + std::to_string(i);
    const std::u16string localPath = u"local" + std::u16string(1, char16_t(u'a' + i));
    Serve(serverPath, c.response);
    if (c.olderFile) WriteFile(localPath, kOldContent);

    EXPECT_EQ(downloader().DownloadFile(std::u16string(serverPath.begin(), serverPath.end()),
                                        localPath),
              c.result);
    EXPECT_EQ(RequestsFor(serverPath), 1u);
    EXPECT_EQ(Exists(localPath), c.fileAfter);
    if (c.fileAfter) {
      EXPECT_EQ(ReadFile(localPath), c.contentAfter);
    }
  }
  EXPECT_EQ(RequestsFor("moved.bin"), 0u) << "a redirect must not be followed";
}

TEST_F(DownloaderTest, AnAttemptReportsItsResult) {
  const struct {
    const char* serverPath;
    Response response;
    int result;
  } cases[] = {
      {"ok", Response::Ok(kBody), kDownloadOk},
      {"cut", Response::Ok(LongBody()).CutShort(Response::kEveryRequest), CURLE_PARTIAL_FILE},
      {"missing", Response::HtmlPage(404), DownloadRefused},
      {"moved", Response::Redirect("/UploadData/ok", 301), DownloadRefused},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.serverPath);
    Serve(c.serverPath, c.response);
    EXPECT_EQ(downloader().DownloadOnce("", c.serverPath, "attempt.bin"), c.result);
  }
}

struct CutCase {
  int cutTransfers;
  bool result;
  size_t attempts;
};

TEST_F(DownloaderTest, OnlyCutTransfersAreTriedAgainUpToTenMoreTimes) {
  const std::string body = LongBody();
  const size_t cutBytes = body.size() / 3;
  const platform::FileDigest whole = DigestOf(body);
  const std::vector<CutCase> cases = {{1, true, 2}, {10, true, 11}, {11, false, 11}};
  for (const CutCase& c : cases) {
    SCOPED_TRACE("cut transfers: " + std::to_string(c.cutTransfers));
    Serve("cut.bin", Response::Ok(body).CutShort(c.cutTransfers, cutBytes));
    server().ClearRequests();
    platform::FileDigest digest;
    EXPECT_EQ(downloader().DownloadFile(u"cut.bin", u"cut.bin", kNoStatedSize, &digest), c.result);
    EXPECT_EQ(RequestsFor("cut.bin"), c.attempts);
    // Each attempt starts the file and its hash afresh: the complete body
    // alone, or what the last cut attempt wrote.
    EXPECT_EQ(ReadFile(u"cut.bin"), c.result ? body : body.substr(0, cutBytes));
    if (c.result) {
      EXPECT_EQ(digest, whole);
    }
  }
}

TEST_F(DownloaderTest, AResetConnectionIsNotTriedAgainAndKeepsAnOlderFile) {
  Serve("reset.bin", Response::Ok(kBody).Reset());
  WriteFile(u"reset.bin", kOldContent);
  EXPECT_FALSE(downloader().DownloadFile(u"reset.bin", u"reset.bin"));
  EXPECT_EQ(RequestsFor("reset.bin"), 1u);
  EXPECT_EQ(ReadFile(u"reset.bin"), kOldContent);
}

TEST_F(DownloaderTest, AnUnreachableServerFailsAtOnceAndKeepsAnOlderFile) {
  testhttp::TestHttpServer gone;
  ASSERT_TRUE(gone.Start());
  FileDownloader unreachable(gone.BaseUrl() + kServerFolder);
  gone.Stop();  // the port is free now: the connection is refused
  WriteFile(u"kept.bin", kOldContent);

  EXPECT_EQ(unreachable.DownloadOnce("", "kept.bin", "kept.bin"), CURLE_COULDNT_CONNECT);
  DownloadReport report;
  EXPECT_FALSE(unreachable.DownloadFile(u"kept.bin", u"kept.bin", kNoStatedSize, Resume::kNo,
                                        nullptr, &report));
  EXPECT_EQ(report.failure, DownloadFailure::kConnect);
  EXPECT_EQ(report.status, 0);
  EXPECT_EQ(ReadFile(u"kept.bin"), kOldContent);
}

// The launcher runs elevated with the player's environment, which any
// program of the player's can set: a proxy named there is never used.
TEST_F(DownloaderTest, ProxyVariablesOfTheEnvironmentAreIgnored) {
  testhttp::TestHttpServer gone;
  ASSERT_TRUE(gone.Start());
  const std::string deadProxy = gone.BaseUrl();
  gone.Stop();
  Serve("direct.bin", Response::Ok(kBody));

  SetProxyEnvironment(deadProxy.c_str());
  const bool fetched = downloader().DownloadFile(u"direct.bin", u"direct.bin");
  ClearProxyEnvironment();
  EXPECT_TRUE(fetched);
  EXPECT_EQ(RequestsFor("direct.bin"), 1u);
  EXPECT_EQ(ReadFile(u"direct.bin"), kBody);
}

TEST_F(DownloaderTest, ALocalFileInAMissingFolderIsAWriteErrorAfterOneAttempt) {
  // With a body the first data cannot be stored; without one the empty file
  // cannot be created.
  Serve("body.bin", Response::Ok(kBody));
  Serve("empty.bin", Response::Status(200));
  for (const char* serverPath : {"body.bin", "empty.bin"}) {
    SCOPED_TRACE(serverPath);
    EXPECT_EQ(downloader().DownloadOnce("", serverPath, "missing\\file.bin"), CURLE_WRITE_ERROR);
  }
  server().ClearRequests();
  DownloadReport report;
  EXPECT_FALSE(downloader().DownloadFile(u"body.bin", u"missing\\file.bin", kNoStatedSize,
                                         Resume::kNo, nullptr, &report));
  EXPECT_EQ(report.failure, DownloadFailure::kLocal);
  EXPECT_EQ(RequestsFor("body.bin"), 1u);
  EXPECT_FALSE(Exists(u"missing"));
}

TEST_F(DownloaderTest, PathsMustFitTheirAnsiBufferWithTheTerminator) {
  const std::string longest(1023, 'p');  // 1,024 bytes with the terminator
  const std::u16string longestWide(longest.begin(), longest.end());
  const std::u16string tooLong(1024, u'p');

  EXPECT_FALSE(downloader().DownloadFile(tooLong, u"local.bin"));
  EXPECT_FALSE(downloader().DownloadFile(u"local.bin", tooLong));
  EXPECT_TRUE(server().Requests().empty()) << "nothing may be sent for a path that does not fit";

  Serve(longest, Response::Ok(kBody));
  EXPECT_TRUE(downloader().DownloadFile(longestWide, u"local.bin"));
  EXPECT_EQ(RequestsFor(longest), 1u);
  EXPECT_EQ(ReadFile(u"local.bin"), kBody);
}

TEST_F(DownloaderTest, TheServerPathReachesLibcurlUnescaped) {
  // The ANSI byte of a non-ASCII character is handed over as it is: libcurl
  // percent-encodes it on the wire in lower case ("%e9"), where an escaped
  // path would arrive as "%E9" and a UTF-8 one as "%C3%A9".
  Serve("dir/caf%e9.bin", Response::Ok(kBody));
  EXPECT_TRUE(downloader().DownloadFile(u"dir/caf\u00e9.bin", u"caf\u00e9.bin"));
  EXPECT_EQ(RequestsFor("dir/caf%e9.bin"), 1u);
  EXPECT_EQ(ReadFile(u"caf\u00e9.bin"), kBody);

  // A path without an exact ANSI form is neither requested nor written: a
  // best fit would name another file (code page 1252 fits "\u0100" as "A").
  EXPECT_FALSE(downloader().DownloadFile(u"dir/\u0100.bin", u"a.bin"));
  EXPECT_FALSE(downloader().DownloadFile(u"dir/caf\u00e9.bin", u"\u0100.bin"));

  // libcurl refuses a URL with a raw blank before connecting.
  EXPECT_EQ(downloader().DownloadOnce("", "dir/a b.bin", "blank.bin"), CURLE_URL_MALFORMAT);
  EXPECT_FALSE(downloader().DownloadFile(u"dir/a b.bin", u"blank.bin"));
  EXPECT_EQ(server().Requests().size(), 1u);
  EXPECT_FALSE(Exists(u"blank.bin"));
}

TEST_F(DownloaderTest, TheSubPathSitsBetweenTheBaseUrlAndTheServerPath) {
  Serve("sub/file.bin", Response::Ok(kBody));
  EXPECT_EQ(downloader().DownloadOnce("sub/", "file.bin", "file.bin"), kDownloadOk);
  EXPECT_EQ(ReadFile(u"file.bin"), kBody);
}

// Whichever check catches a body past its bound, libcurl's on the announced
// length or the write callback's on what arrives, nothing stays on disk.
TEST_F(DownloaderTest, ABodyPastItsBoundLeavesNoFileAfterOneRequest) {
  const struct {
    const char* name;
    Response response;
    uint64_t bound;
    bool result;
  } cases[] = {
      {"exactly its bound", Response::Ok(kBody), kBody.size(), true},
      {"announced past it", Response::Ok(kBody), kBody.size() - 1, false},
      {"past it with no declared length", Response::Ok(kBody).Unannounced(), kBody.size() - 1, false},
      {"no size stated, past the bound for such bodies", Response::Ok(kBody).Unannounced(),
       kNoStatedSize, false},
  };
  downloader().SetUnstatedSizeLimit(kBody.size() - 1);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Serve("bounded.bin", c.response);
    server().ClearRequests();
    WriteFile(u"bounded.bin", kOldContent);
    DownloadReport report;
    EXPECT_EQ(downloader().DownloadFile(u"bounded.bin", u"bounded.bin", c.bound, Resume::kNo,
                                        nullptr, &report),
              c.result);
    EXPECT_EQ(report.failure, c.result ? DownloadFailure::kNone : DownloadFailure::kOverBound);
    EXPECT_EQ(RequestsFor("bounded.bin"), 1u);
    EXPECT_EQ(Exists(u"bounded.bin"), c.result);
    if (c.result) {
      EXPECT_EQ(ReadFile(u"bounded.bin"), kBody);
    }
  }
}

// A file of known size continued from the bytes an earlier download kept:
// only what the server's answer confirms is appended, and the digest covers
// the whole file.
TEST_F(DownloaderTest, AResumedDownloadAppendsOnlyWhatTheAnswerConfirms) {
  constexpr size_t kSize = 4 * 1024 * 1024;
  constexpr size_t kHalf = kSize / 2;
  constexpr size_t kEarlier = 1000;
  constexpr size_t kNoFile = SIZE_MAX;
  constexpr size_t kStep = FileDownloader::kResumeProgressBytes;
  const std::string body = PatternedBody(kSize);
  using testhttp::RangeAnswer;
  const struct {
    const char* name;
    Response response;
    size_t keptBytes;
    bool result;
    size_t requests;
    size_t rangedRequests;
    uint64_t maxNetworkBytes;
    long status;  // of the last answer
    DownloadFailure failure;
    size_t bytesAfter;  // of the body, from its start
  } cases[] = {
      // As 1 MiB of 32 MiB: the further attempts continue, and are not used up.
      {"cut every 1/32 of the file", Response::Ok(body).CutEvery(kSize / 32), 0, true, 32, 31,
       kSize * 102 / 100, 206, DownloadFailure::kNone, kSize},
      {"range ignored: written anew", Response::Ok(body).Ranges(RangeAnswer::kIgnore), kHalf, true,
       1, 1, kSize, 200, DownloadFailure::kNone, kSize},
      {"206 from before the kept end", Response::Ok(body).Ranges(RangeAnswer::kEarlyStart, kEarlier),
       kHalf, true, 1, 1, kSize - kHalf + kEarlier, 206, DownloadFailure::kNone, kSize},
      {"wrong total twice, then whole", Response::Ok(body).Ranges(RangeAnswer::kWrongTotal), kHalf,
       true, 3, 2, kSize, 200, DownloadFailure::kNone, kSize},
      {"more than 1 MiB of overlap twice, then whole",
       Response::Ok(body).Ranges(RangeAnswer::kEarlyStart, FileDownloader::kMaxRangeOverlapBytes + 1),
       kHalf, true, 3, 2, kSize, 200, DownloadFailure::kNone, kSize},
      // Each answer from byte 0, 64 KiB past the last: the file grows, but
      // by fewer bytes than are sent again, so all but two attempts count.
      {"from byte 0 again and again", Response::Ok(body).Ranges(RangeAnswer::kEarlyStart, kSize).CutEvery(kStep),
       0, false, 13, 12, kStep * 13 * 14 / 2, 206, DownloadFailure::kTransfer, kStep * 13},
      {"past the size, the kept bytes counted", Response::Ok(body).Ranges(RangeAnswer::kPastTheEnd, 1),
       kHalf, false, 1, 1, 0, 206, DownloadFailure::kOverBound, kNoFile},
      {"416, then whole", Response::Ok(body).Ranges(RangeAnswer::kUnsatisfiable), kHalf, true, 2, 1,
       kSize, 200, DownloadFailure::kNone, kSize},
      {"kept bytes already whole", Response::Ok(body), kSize, true, 1, 0, kSize, 200,
       DownloadFailure::kNone, kSize},
      {"404 keeps them for another host", Response::HtmlPage(404), kHalf, false, 1, 1, 0, 404,
       DownloadFailure::kStatus, kHalf},
      // A whole answer of another size is the file served, for the caller
      // to refuse by its digest: not a cut to continue.
      {"a whole answer shorter than the size", Response::Ok(body.substr(0, kHalf)), 0, true, 1, 0,
       kHalf, 200, DownloadFailure::kNone, kHalf},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Serve("resumed.bin", c.response);
    server().ClearRequests();
    platform::RemoveFile(u"resumed.bin");
    if (c.keptBytes > 0) WriteFile(u"resumed.bin", body.substr(0, c.keptBytes));
    platform::FileDigest digest;
    DownloadReport report;
    EXPECT_EQ(downloader().DownloadFile(u"resumed.bin", u"resumed.bin", kSize, Resume::kYes,
                                        &digest, &report),
              c.result);
    EXPECT_EQ(RequestsFor("resumed.bin"), c.requests);
    EXPECT_EQ(RangedRequests(server()), c.rangedRequests);
    EXPECT_LE(report.networkBytes, c.maxNetworkBytes);
    EXPECT_EQ(report.status, c.status);
    EXPECT_EQ(report.failure, c.failure);
    EXPECT_EQ(Exists(u"resumed.bin"), c.bytesAfter != kNoFile);
    if (c.bytesAfter != kNoFile) {
      EXPECT_TRUE(ReadFile(u"resumed.bin") == body.substr(0, c.bytesAfter));
    }
    if (c.result) {
      EXPECT_EQ(digest, DigestOf(body.substr(0, c.bytesAfter)));
    }
  }
}

// The rate window is shortened to one second.
class StallTest : public DownloaderTest {
 protected:
  static constexpr long kStallSeconds = 1;
  static constexpr int kHoldMs = 30000;  // far beyond the window
  // Generous bound: the rate is checked about once a second.
  static constexpr std::chrono::seconds kGiveUpWithin{15};

  void SetUp() override {
    DownloaderTest::SetUp();
    if (HasFatalFailure()) return;
    downloader().SetStallSeconds(kStallSeconds);
  }

  // Result of one attempt and whether it ended well before the server let go.
  int TimedAttempt(const char* serverPath, const char* localPath) {
    const auto start = std::chrono::steady_clock::now();
    const int result = downloader().DownloadOnce("", serverPath, localPath);
    EXPECT_LT(std::chrono::steady_clock::now() - start, kGiveUpWithin);
    return result;
  }
};

TEST_F(StallTest, ASilentServerIsGivenUpWithoutRetry) {
  Serve("headers.bin", Response::Ok(kBody).HeadersThenSilence(Response::kEveryRequest, kHoldMs));
  Serve("nothing.bin", Response::Ok(kBody).NoResponse(Response::kEveryRequest, kHoldMs));
  for (const char* serverPath : {"headers.bin", "nothing.bin"}) {
    SCOPED_TRACE(serverPath);
    EXPECT_EQ(TimedAttempt(serverPath, "stalled.bin"), CURLE_OPERATION_TIMEDOUT);
    EXPECT_FALSE(Exists(u"stalled.bin"));
  }
  server().ClearRequests();
  EXPECT_FALSE(downloader().DownloadFile(u"headers.bin", u"stalled.bin"));
  EXPECT_EQ(RequestsFor("headers.bin"), 1u);
}

TEST_F(StallTest, DataThenSilenceIsGivenUpAndKeepsWhatArrived) {
  Serve("stops.bin", Response::Ok(kBody).Trickle(1, kHoldMs));
  EXPECT_EQ(TimedAttempt("stops.bin", "stops.bin"), CURLE_OPERATION_TIMEDOUT);
  EXPECT_EQ(ReadFile(u"stops.bin"), kBody.substr(0, 1));
}

// Above the minimum rate a transfer goes on until its time limit, if it
// has one. The rate is an average over a whole window, the wait for the
// first byte included: a burst now and then does not keep a transfer alive,
// and a pause before a healthy body does not end it.
TEST_F(StallTest, TheMinimumRateIsAnAverageOverTheWindow) {
  constexpr long kWindowSeconds = 2;  // margins for a loaded machine
  constexpr int kWindowMs = kWindowSeconds * 1000;
  constexpr size_t kWindowBytes = FileDownloader::kMinimumBytesPerSecond * kWindowSeconds;
  constexpr int kChunkDelayMs = 250;
  const struct {
    const char* name;
    Response response;
    uint64_t timeLimitMs;  // 0: none
    DownloadFailure failure;
  } cases[] = {
      {"a steady 500 B/s, about half the floor", Response::Ok(std::string(8 * 1024, 'a')).Trickle(50, 100),
       0, DownloadFailure::kTooSlow},
      {"bursts under a window's worth every 55/60 of it",
       Response::Ok(std::string(8 * kWindowBytes, 'b')).Trickle(kWindowBytes * 9 / 10, kWindowMs * 55 / 60),
       0, DownloadFailure::kTooSlow},
      {"a pause of 50/60 of the window, then a healthy body",
       Response::Ok(std::string(64 * 1024, 'c')).Trickle(8 * 1024, kChunkDelayMs).Delay(kWindowMs * 50 / 60),
       0, DownloadFailure::kNone},
      {"a steady 4 KiB/s", Response::Ok(std::string(12 * 1024, 'd')).Trickle(1024, kChunkDelayMs), 0,
       DownloadFailure::kNone},
      // Time limits scaled down: a manifest's, and a file's at half the line's speed.
      {"a manifest at twice the floor, past its time limit",
       Response::Ok(std::string(64 * 1024, 'e')).Trickle(512, kChunkDelayMs), 3000, DownloadFailure::kDeadline},
      {"a line of 64 KiB/s within twice its time",
       Response::Ok(std::string(128 * 1024, 'f')).Trickle(8 * 1024, 125), 4000, DownloadFailure::kNone},
  };
  downloader().SetStallSeconds(kWindowSeconds);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Serve("rate.bin", c.response);
    server().ClearRequests();
    downloader().SetTimeLimit(c.timeLimitMs);
    DownloadReport report;
    const auto start = std::chrono::steady_clock::now();
    const bool passes = c.failure == DownloadFailure::kNone;
    EXPECT_EQ(downloader().DownloadFile(u"rate.bin", u"rate.bin", kNoStatedSize, Resume::kNo,
                                        nullptr, &report),
              passes);
    EXPECT_LT(std::chrono::steady_clock::now() - start, kGiveUpWithin);
    EXPECT_EQ(report.failure, c.failure);
    EXPECT_EQ(RequestsFor("rate.bin"), 1u);
    if (passes) {
      EXPECT_EQ(ReadFile(u"rate.bin"), c.response.body);
    }
  }
}

}  // namespace
