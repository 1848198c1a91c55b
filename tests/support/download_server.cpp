#include "tests/support/download_server.h"

#include <cstdlib>
#include <string>

#include "net/file_downloader.h"

testhttp::TestHttpServer& DownloadServer() {
  static testhttp::TestHttpServer* server = [] {
    auto* started = new testhttp::TestHttpServer();
    if (!started->Start()) std::abort();
    return started;
  }();
  return *server;
}

FileDownloader& FileDownloader::Instance() {
  static FileDownloader* downloader = new FileDownloader(DownloadServer().BaseUrl() + "/UploadData/");
  return *downloader;
}
