#include "patcher/patcher_fetch.h"

#include <algorithm>
#include <vector>

#include "fs/file_services.h"
#include "patcher/release_fetch.h"
#include "patcher/version_manager.h"
#include "platform/files.h"
#include "release/release_files.h"
#include "release/version_files.h"
#include "ui/message_box.h"
#include "ui/messages.h"

namespace {

constexpr char16_t kListEntryCaption[] = u"Launcher-ad";
constexpr char16_t kLauncherCopyCaption[] = u"Launcher-ex";

// One entry of the server's list. The name is written relative to the
// install folder by a process with administrator rights, so a name that
// could reach outside it is refused like a download that failed.
bool DownloadListEntry(const std::u16string& name) {
  if (!IsSafeListName(name)) return false;
  std::u16string serverPath = name;
  std::replace(serverPath.begin(), serverPath.end(), u'\\', u'/');
  return FetchListedFile(serverPath, name);
}

// The box of a fetch that failed, unless the update is to start over.
bool FailFetch(const char16_t* caption) {
  if (!UpdateMayStartOver()) ShowCatalogueMessage(g_messages.MsgUpdateDownloadFailed, caption);
  return false;
}

bool FetchUpdate() {
  std::vector<std::u16string> changed;
  CVPatcherVersionManager manager;
  if (!manager.CollectChangedFiles(&changed)) return false;
  const std::u16string temporary = std::u16string(kPatcherFileName) + kFetchSuffix;
  if (!FetchReleaseFile(kPatcherFileName, temporary)) return FailFetch(kLauncherCaption);
  for (const std::u16string& name : changed) {
    if (!DownloadListEntry(name)) return FailFetch(kListEntryCaption);
  }
  return ReplaceWithRetry(temporary, kPatcherFileName, true) &&
         ReplaceWithRetry(kFileListCopyName, kFileListName, false);
}

}  // namespace

bool ReplaceWithRetry(const std::u16string& temporaryName, const std::u16string& finalName,
                      bool deleteFirst) {
  if (MoveIntoPlace(temporaryName, finalName, deleteFirst)) return true;
  ShowCatalogueMessage(g_messages.MsgUpdateVersionChangeFailed);
  return false;
}

bool EnsureLauncherCopy(std::u16string installFolder) {
  if (platform::OpenFile(installFolder + u"/" + kLauncherFileName, "rb")) return true;
  const std::u16string temporary = std::u16string(kLauncherFileName) + kFetchSuffix;
  if (!FetchReleaseFile(kLauncherFileName, temporary)) {
    ShowCatalogueMessage(g_messages.MsgUpdateDownloadFailed, kLauncherCopyCaption);
    return false;
  }
  return ReplaceWithRetry(temporary, kLauncherFileName, true);
}

bool UpdatePatcher() {
  if (FetchUpdate()) return true;
  AbandonUpdate();
  return false;
}
