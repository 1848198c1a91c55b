#include "patcher/release_transfer.h"

#include <algorithm>
#include <vector>

#include "platform/files.h"

namespace {

// A host silent this long, while another remains to be asked, is passed
// over: the next one continues the file where it stopped. The last host
// is held to the rate rule alone, as a single host always is.
constexpr long kSilenceBeforeNextHostMilliseconds = 1500;

// The built-in host, then the mirrors; those that failed in this run last,
// each group in its order of preference.
std::vector<std::string> HostOrder(const ReleaseRun& run) {
  std::vector<std::string> hosts = {FileDownloader::Instance().BaseUrl()};
  for (const std::string& mirror : run.mirrors) {
    const std::string baseUrl = BaseUrlOfHost(mirror);
    if (std::find(hosts.begin(), hosts.end(), baseUrl) == hosts.end()) hosts.push_back(baseUrl);
  }
  std::stable_partition(hosts.begin(), hosts.end(), [&](const std::string& baseUrl) {
    return run.failedHosts.count(baseUrl) == 0;
  });
  return hosts;
}

}  // namespace

Transferred Transfer(ReleaseRun& run, const TransferRequest& request, platform::FileDigest* digest,
                     std::string* servedBy) {
  FileDownloader& builtIn = FileDownloader::Instance();
  const Resume resume = request.resumable ? Resume::kYes : Resume::kNo;
  std::vector<std::string> refusedBy;
  const std::vector<std::string> hosts = HostOrder(run);
  for (const std::string& baseUrl : hosts) {
    FileDownloader mirror(baseUrl);
    mirror.SetStallSeconds(builtIn.StallSeconds());
    FileDownloader& host = baseUrl == builtIn.BaseUrl() ? builtIn : mirror;
    host.SetSilenceLimit(baseUrl != hosts.back() ? kSilenceBeforeNextHostMilliseconds : 0);
    platform::FileDigest served;
    DownloadReport report;
    const bool downloaded =
        request.staging != nullptr
            ? host.DownloadFile(request.serverPath, request.staging, request.byteLimit, resume,
                                &served, &report)
            : host.DownloadFile(request.serverPath, request.localPath, request.byteLimit, resume,
                                &served, &report);
    host.SetSilenceLimit(0);
    if (downloaded && (!request.accept || request.accept(served))) {
      if (digest != nullptr) *digest = served;
      if (servedBy != nullptr) *servedBy = baseUrl;
      return Transferred::kYes;
    }
    // The disk, not the host: another host would meet the same.
    if (!downloaded && report.failure == DownloadFailure::kLocal) return Transferred::kNo;
    if (downloaded) {
      // Nothing of bytes refused is continued from another host.
      if (request.staging != nullptr) {
        platform::TruncateStream(request.staging);
      } else {
        platform::RemoveFile(request.localPath);
      }
      if (run.failedHosts.count(baseUrl) == 0) refusedBy.push_back(baseUrl);
    }
    run.failedHosts.insert(baseUrl);
  }
  if (refusedBy.empty()) return Transferred::kNo;
  for (const std::string& baseUrl : refusedBy) run.failedHosts.erase(baseUrl);
  return Transferred::kRefused;
}

void BlameHost(ReleaseRun& run, const std::string& baseUrl) { run.failedHosts.insert(baseUrl); }
