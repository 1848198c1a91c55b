#include "patcher/release_transfer.h"

#include <algorithm>
#include <vector>

#include "platform/files.h"
#include "platform/system.h"

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
  const uint64_t bound = request.byteLimit == kNoStatedSize
                             ? FileDownloader::kDefaultUnstatedSizeLimit
                             : request.byteLimit;
  run.budgetMilliseconds += kRunSharePerRequestMilliseconds + MillisecondsAtFloorRate(bound);
  struct Ask {
    std::string baseUrl;
    bool patient = false;  // held to the rate rule alone, never to the silence rule
    bool whole = false;    // asked again for the whole file after continued bytes were refused
  };
  std::vector<Ask> asks;
  for (const std::string& baseUrl : HostOrder(run)) asks.push_back({baseUrl});
  std::vector<std::string> refusedBy;
  for (size_t i = 0; i < asks.size(); ++i) {
    // The run's time is spent: the file's failure, not a release switching.
    const uint64_t left = RunTimeLeft(run);
    if (left == 0) return Transferred::kNo;
    const Ask ask = asks[i];  // asks grows below
    FileDownloader mirror(ask.baseUrl);
    mirror.SetStallSeconds(builtIn.StallSeconds());
    FileDownloader& host = ask.baseUrl == builtIn.BaseUrl() ? builtIn : mirror;
    const bool passable = !ask.patient && i + 1 < asks.size();
    host.SetSilenceLimit(passable ? kSilenceBeforeNextHostMilliseconds : 0);
    host.SetTimeLimit(std::min(request.deadlineMilliseconds, left));
    platform::FileDigest served;
    DownloadReport report;
    const uint64_t began = platform::MonotonicMilliseconds();
    const bool downloaded =
        request.staging != nullptr
            ? host.DownloadFile(request.serverPath, request.staging, request.byteLimit, resume,
                                &served, &report)
            : host.DownloadFile(request.serverPath, request.localPath, request.byteLimit, resume,
                                &served, &report);
    SpendRunTime(run, began);
    host.SetSilenceLimit(0);
    host.SetTimeLimit(0);
    if (downloaded && (!request.accept || request.accept(served))) {
      if (digest != nullptr) *digest = served;
      if (servedBy != nullptr) *servedBy = ask.baseUrl;
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
      // The bad bytes may be where a range joined them: the host's own whole
      // copy decides, asked at once.
      if (report.continued && !ask.whole) {
        asks.insert(asks.begin() + static_cast<std::ptrdiff_t>(i) + 1,
                    Ask{ask.baseUrl, ask.patient, true});
        continue;
      }
      if (run.failedHosts.count(ask.baseUrl) == 0) refusedBy.push_back(ask.baseUrl);
    } else if (passable && report.failure == DownloadFailure::kTooSlow) {
      // Passed over for a pause, which a sound host on a slow line may make
      // too: asked again, patiently, should every other host fail.
      asks.push_back(Ask{ask.baseUrl, true, ask.whole});
    }
    run.failedHosts.insert(ask.baseUrl);
  }
  if (refusedBy.empty()) return Transferred::kNo;
  for (const std::string& baseUrl : refusedBy) run.failedHosts.erase(baseUrl);
  return Transferred::kRefused;
}

void BlameHost(ReleaseRun& run, const std::string& baseUrl) { run.failedHosts.insert(baseUrl); }

uint64_t RunTimeLeft(const ReleaseRun& run) {
  return run.budgetMilliseconds > run.spentMilliseconds
             ? run.budgetMilliseconds - run.spentMilliseconds
             : 0;
}

void SpendRunTime(ReleaseRun& run, uint64_t since) {
  const uint64_t now = platform::MonotonicMilliseconds();
  run.spentMilliseconds += now > since ? now - since : 0;
}
