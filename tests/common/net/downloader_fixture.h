#pragma once

#include <memory>
#include <string>

#include "net/file_downloader.h"
#include "tests/http_server/test_http_server.h"
#include "tests/support/work_folder.h"

// A downloader aimed at a test server of its own on 127.0.0.1, writing into
// the test's work folder.
class DownloaderTest : public WorkFolderTest {
 protected:
  static constexpr char kServerFolder[] = "/UploadData/";

  void SetUp() override {
    WorkFolderTest::SetUp();
    if (HasFatalFailure()) return;
    ClearProxyEnvironment();
    ASSERT_TRUE(m_server.Start());
    m_downloader = std::make_unique<FileDownloader>(m_server.BaseUrl() + kServerFolder);
  }
  void TearDown() override {
    m_server.Stop();
    WorkFolderTest::TearDown();
  }

  testhttp::TestHttpServer& server() { return m_server; }
  FileDownloader& downloader() { return *m_downloader; }

  // Scripts the answer to serverPath (relative to the base URL).
  void Serve(const std::string& serverPath, const testhttp::Response& response) {
    m_server.SetRoute(kServerFolder + serverPath, response);
  }
  size_t RequestsFor(const std::string& serverPath) const {
    return m_server.CountRequests(kServerFolder + serverPath);
  }

 private:
  testhttp::TestHttpServer m_server;
  std::unique_ptr<FileDownloader> m_downloader;
};
