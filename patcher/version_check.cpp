#include "patcher/version_check.h"

#include <string>

#include "patcher/patcher_fetch.h"
#include "patcher/release_fetch.h"
#include "patcher/version_manager.h"
#include "platform/files.h"
#include "release/release_files.h"
#include "ui/message_box.h"
#include "ui/messages.h"

namespace {

constexpr char16_t kRestoreStep[] = u" - restore";
constexpr char16_t kRefreshStep[] = u" - refresh";
constexpr char16_t kModifyStep[] = u" - modify";

bool FailStep(const char16_t* step) {
  ShowCatalogueMessage(std::u16string(g_messages.MsgVersionUpdateFailed) + step);
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
  if (!UpdatePatcher()) return CheckAgainAfterSwitch();
  if (!manager.ModifyVersion()) return FailStep(kModifyStep);
  return true;
}

// A publish under way switches a release's files one by one; an honest one
// then costs a player one more round of requests, not an error.
bool CheckAgainAfterSwitch() { return StartOver() && CheckPatcherVersion(); }

void DropServerRecordCopy() { platform::RemoveFile(kVersionRecordCopyName); }
