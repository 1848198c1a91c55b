#include "patcher/release_transfer.h"

#include "net/file_downloader.h"

bool Transfer(ReleaseRun& run, const std::u16string& serverPath, const std::u16string& localPath,
              uint64_t byteLimit, platform::FileDigest* digest) {
  (void)run;  // one server: the run has no say yet
  return FileDownloader::Instance().DownloadFile(serverPath, localPath, byteLimit, digest);
}
