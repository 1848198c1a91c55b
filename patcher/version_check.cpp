#include "patcher/version_check.h"

#include <string>

#include "patcher/patcher_fetch.h"
#include "patcher/version_manager.h"
#include "platform/shell.h"
#include "ui/messages.h"
#include "ui/splash.h"

namespace {

constexpr char16_t kRestoreStep[] = u" - restore";
constexpr char16_t kRefreshStep[] = u" - refresh";
constexpr char16_t kModifyStep[] = u" - modify";

bool FailStep(const char16_t* step) {
  platform::ShowMessageBox(g_splashWindow, std::u16string(g_messages.MsgVersionUpdateFailed) + step,
                           kLauncherCaption, platform::kMbOk);
  return false;
}

}  // namespace

bool CheckPatcherVersion() {
  CVPatcherVersionManager manager;
  if (!CVPatcherVersionManager::InitVersionFiles()) return false;
  int32_t state = manager.GetVersionState();
  if (state == VersionStateFailed) {
    // An unreadable local record is reset once; the state is then asked
    // anew, server record included.
    if (!manager.RestoreVersion()) return FailStep(kRestoreStep);
    state = manager.GetVersionState();
    if (state == VersionStateFailed) return FailStep(kRefreshStep);
  }
  if (state == VersionStateSame) return true;
  // Recorded only once the update is on disk, so the record never runs ahead
  // of the files.
  if (!UpdatePatcher()) return false;
  if (!manager.ModifyVersion()) return FailStep(kModifyStep);
  return true;
}
