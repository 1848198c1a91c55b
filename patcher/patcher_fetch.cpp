#include "patcher/patcher_fetch.h"

#include <algorithm>
#include <vector>

#include "fs/file_services.h"
#include "net/file_downloader.h"
#include "patcher/release_check.h"
#include "patcher/release_files.h"
#include "patcher/version_files.h"
#include "patcher/version_manager.h"
#include "platform/files.h"
#include "platform/system.h"
#include "ui/message_box.h"
#include "ui/messages.h"

namespace {

constexpr char16_t kListEntryCaption[] = u"Launcher-ad";
constexpr char16_t kLauncherCopyCaption[] = u"Launcher-ex";

constexpr int kRenameRetries = 5;
constexpr uint32_t kRenameRetryWaitMilliseconds = 1000;

// Whether bytes fetched from a server path are the signed ones.
using DigestCheck = bool (*)(std::u16string_view serverPath, const platform::FileDigest& digest);

bool MatchesLauncherRelease(std::u16string_view, const platform::FileDigest& digest) {
  return LauncherCopyMatchesRelease(digest);
}

// A download that, with a release key, must also pass `check`; bad bytes
// are deleted at once, before anything uses them.
bool DownloadChecked(const std::u16string& serverPath, const std::u16string& localPath,
                     DigestCheck check) {
  if (!ReleaseSigned()) return FileDownloader::Instance().DownloadFile(serverPath, localPath);
  platform::FileDigest digest;
  if (!FileDownloader::Instance().DownloadFile(serverPath, localPath, &digest)) return false;
  if (check(serverPath, digest)) return true;
  platform::RemoveFile(localPath);
  return false;
}

// One entry of the server's list. The name is written relative to the
// install folder by a process with administrator rights, so a name that
// could reach outside it is refused like a download that failed.
bool DownloadListEntry(const std::u16string& name) {
  if (!IsSafeListName(name)) return false;
  std::u16string serverPath = name;
  std::replace(serverPath.begin(), serverPath.end(), u'\\', u'/');
  return DownloadChecked(serverPath, name, MatchesRunManifest);
}

}  // namespace

bool ReplaceWithRetry(const std::u16string& temporaryName, const std::u16string& finalName,
                      bool deleteFirst) {
  if (deleteFirst) DeletePath(finalName);
  if (RenamePath(temporaryName, finalName)) return true;
  // A file still held open (an antivirus scan, the old patcher ending) is
  // usually released within a few seconds.
  for (int retry = 0; retry < kRenameRetries; ++retry) {
    platform::Sleep(kRenameRetryWaitMilliseconds);
    DeletePath(finalName);
    if (RenamePath(temporaryName, finalName)) return true;
  }
  ShowCatalogueMessage(g_messages.MsgUpdateVersionChangeFailed);
  return false;
}

bool EnsureLauncherCopy(std::u16string installFolder) {
  if (platform::OpenFile(installFolder + u"/" + kLauncherFileName, "rb")) return true;
  const std::u16string temporary = std::u16string(kLauncherFileName) + kFetchSuffix;
  if (!DownloadChecked(kLauncherFileName, temporary, MatchesLauncherRelease)) {
    ShowCatalogueMessage(g_messages.MsgUpdateDownloadFailed, kLauncherCopyCaption);
    return false;
  }
  return ReplaceWithRetry(temporary, kLauncherFileName, true);
}

bool UpdatePatcher() {
  if (ReleaseSigned() && !FetchRunManifest()) FailServerRecordDownload();
  std::vector<std::u16string> changed;
  CVPatcherVersionManager manager;
  if (!manager.CollectChangedFiles(&changed)) return false;
  const std::u16string temporary = std::u16string(kPatcherFileName) + kFetchSuffix;
  if (!DownloadChecked(kPatcherFileName, temporary, MatchesRunManifest)) {
    ShowCatalogueMessage(g_messages.MsgUpdateDownloadFailed, kLauncherCaption);
    return false;
  }
  for (const std::u16string& name : changed) {
    if (!DownloadListEntry(name)) {
      ShowCatalogueMessage(g_messages.MsgUpdateDownloadFailed, kListEntryCaption);
      return false;
    }
  }
  if (!ReplaceWithRetry(temporary, kPatcherFileName, true)) return false;
  if (!ReplaceWithRetry(kFileListCopyName, kFileListName, false)) return false;
  // Kept only now: it must describe the patcher in place.
  return !ReleaseSigned() || KeepRunManifest();
}
