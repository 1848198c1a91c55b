// Kept apart from the rest of the downloader so that a test executable can
// define its own Instance, aimed at a test server, and still link the real
// download code.
#include "net/file_downloader.h"

#include "net/server_config.h"

FileDownloader& FileDownloader::Instance() {
  static FileDownloader instance{kDownloadBaseUrl};
  return instance;
}
