#include "net/file_downloader.h"

#include <arpa/inet.h>
#include <curl/curl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>

#include "platform/sim/sim_machine.h"
#include "tests/common/net/downloader_fixture.h"

// Host conditions that only a POSIX host can stage: a full disk, a host
// that never completes a connection.
namespace {

// /dev/full takes buffered writes and fails the final flush with ENOSPC, as
// a full disk does.
constexpr char kFullDevice[] = "/dev/full";

TEST_F(DownloaderTest, AFailedFinalFlushIsAWriteError) {
  if (!std::filesystem::exists(kFullDevice)) GTEST_SKIP() << "no " << kFullDevice;
  std::filesystem::create_symlink(kFullDevice, sim::Current().HostPath(u"full.bin"));
  Serve("small.bin", testhttp::Response::Ok("fits in the stream's buffer"));
  Serve("empty.bin", testhttp::Response::Status(200));
  EXPECT_EQ(downloader().DownloadOnce("", "small.bin", "full.bin"), CURLE_WRITE_ERROR);
  EXPECT_TRUE(downloader().DownloadFile(u"empty.bin", u"full.bin"))
      << "an empty body writes nothing, so nothing can fail";
  EXPECT_FALSE(downloader().DownloadFile(u"small.bin", u"full.bin"));
  EXPECT_EQ(RequestsFor("small.bin"), 2u);
}

// A loopback listener whose one-place accept queue is taken: Linux drops
// every further SYN, as a black-holed edge does.
class SilentListener {
 public:
  SilentListener() {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    auto* any = reinterpret_cast<sockaddr*>(&address);
    m_ready = ::bind(m_listener, any, length) == 0 && ::listen(m_listener, 0) == 0 &&
              ::getsockname(m_listener, any, &length) == 0 &&
              ::connect(m_filler, any, length) == 0;
    m_port = ntohs(address.sin_port);
  }
  ~SilentListener() {
    ::close(m_filler);
    ::close(m_listener);
  }
  SilentListener(const SilentListener&) = delete;
  SilentListener& operator=(const SilentListener&) = delete;

  bool Ready() const { return m_ready; }
  std::string Origin() const { return "http://127.0.0.1:" + std::to_string(m_port); }

 private:
  int m_listener = ::socket(AF_INET, SOCK_STREAM, 0);
  int m_filler = ::socket(AF_INET, SOCK_STREAM, 0);
  bool m_ready = false;
  uint16_t m_port = 0;
};

// A connection that never completes ends after the connect time-out (10 s)
// as a failed connection, for the next host; not after the rate rule's
// window (60 s) as a slow one.
TEST_F(DownloaderTest, AConnectionThatNeverCompletesEndsAfterTheConnectTimeOut) {
  const SilentListener silent;
  ASSERT_TRUE(silent.Ready());
  FileDownloader host(silent.Origin() + kServerFolder);
  DownloadReport report;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(host.DownloadFile(u"never.bin", u"never.bin", kNoStatedSize, Resume::kNo,
                                 nullptr, &report));
  const auto elapsed = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(report.failure, DownloadFailure::kConnect);
  EXPECT_GE(elapsed, std::chrono::seconds(9));
  EXPECT_LT(elapsed, std::chrono::seconds(30));
}

}  // namespace
