#include "net/file_downloader.h"

#include <curl/curl.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "platform/sim/sim_machine.h"
#include "tests/common/net/downloader_fixture.h"

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

}  // namespace
