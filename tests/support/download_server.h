#pragma once

#include "tests/http_server/test_http_server.h"

// The test HTTP server that the launcher's single downloader talks to in a
// test process. Started on first use on a port the system picks; tests set
// its routes and document root and clear them between tests.
// The downloader is aimed at it before the first test of an executable that
// compiles download_server.cpp runs.
testhttp::TestHttpServer& DownloadServer();
