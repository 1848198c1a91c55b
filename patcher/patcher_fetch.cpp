#include "patcher/patcher_fetch.h"

#include <algorithm>
#include <vector>

#include "fs/file_services.h"
#include "net/file_downloader.h"
#include "patcher/version_files.h"
#include "patcher/version_manager.h"
#include "platform/files.h"
#include "platform/shell.h"
#include "platform/system.h"
#include "ui/messages.h"
#include "ui/splash.h"

namespace {

constexpr char16_t kLauncherName[] = u"VelkarisLauncher.exe";
constexpr char16_t kLauncherTemporary[] = u"VelkarisLauncher.exe.temp";
constexpr char16_t kPatcherTemporary[] = u"VelkarisPatcher32.vke.temp";

constexpr char16_t kListEntryCaption[] = u"Launcher-ad";
constexpr char16_t kLauncherCopyCaption[] = u"Launcher-ex";

constexpr int kRenameRetries = 5;
constexpr uint32_t kRenameRetryWaitMilliseconds = 1000;

void ShowDownloadFailed(const char16_t* caption) {
  platform::ShowMessageBox(g_splashWindow, g_messages.MsgUpdateDownloadFailed, caption,
                           platform::kMbOk);
}

// One entry of the server's list. The name is written relative to the
// install folder by a process with administrator rights, so a name that
// could reach outside it is refused like a download that failed.
bool DownloadListEntry(const std::u16string& name) {
  if (!IsSafeListName(name)) return false;
  std::u16string serverPath = name;
  std::replace(serverPath.begin(), serverPath.end(), u'\\', u'/');
  return FileDownloader::Instance().DownloadFile(serverPath, name);
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
  platform::ShowMessageBox(g_splashWindow, g_messages.MsgUpdateVersionChangeFailed,
                           kLauncherCaption, platform::kMbOk);
  return false;
}

bool EnsureLauncherCopy(std::u16string installFolder) {
  if (platform::OpenFile(installFolder + u"/" + kLauncherName, "rb")) return true;
  if (!FileDownloader::Instance().DownloadFile(kLauncherName, kLauncherTemporary)) {
    ShowDownloadFailed(kLauncherCopyCaption);
    return false;
  }
  return ReplaceWithRetry(kLauncherTemporary, kLauncherName, true);
}

bool UpdatePatcher() {
  std::vector<std::u16string> changed;
  CVPatcherVersionManager manager;
  if (!manager.CollectChangedFiles(&changed)) return false;
  if (!FileDownloader::Instance().DownloadFile(kPatcherFileName, kPatcherTemporary)) {
    ShowDownloadFailed(kLauncherCaption);
    return false;
  }
  for (const std::u16string& name : changed) {
    if (!DownloadListEntry(name)) {
      ShowDownloadFailed(kListEntryCaption);
      return false;
    }
  }
  if (!ReplaceWithRetry(kPatcherTemporary, kPatcherFileName, true)) return false;
  return ReplaceWithRetry(kFileListCopyName, kFileListName, false);
}
