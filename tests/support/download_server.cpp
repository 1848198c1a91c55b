#include "tests/support/download_server.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "net/file_downloader.h"

testhttp::TestHttpServer& DownloadServer() {
  static testhttp::TestHttpServer* server = [] {
    auto* started = new testhttp::TestHttpServer();
    if (!started->Start()) std::abort();
    FileDownloader::AimInstanceForTesting(started->BaseUrl() + "/UploadData/");
    return started;
  }();
  return *server;
}

namespace {

// Aims the downloader before the first test runs, so that no test of an
// executable built with this file can reach the configured server.
class AimAtDownloadServer : public ::testing::Environment {
 public:
  void SetUp() override { DownloadServer(); }
};

const ::testing::Environment* const g_aimAtDownloadServer =
    ::testing::AddGlobalTestEnvironment(new AimAtDownloadServer);

}  // namespace
