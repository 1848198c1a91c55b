#pragma once

#include "tests/http_server/test_http_server.h"

// The test HTTP server that the launcher's single downloader talks to in a
// test process. Started on first use on a port the system picks; tests set
// its routes and document root and clear them between tests.
//
// Executables that use it compile download_server.cpp directly (not from an
// archive), so its FileDownloader::Instance takes the place of the one that
// aims at the configured server.
testhttp::TestHttpServer& DownloadServer();
