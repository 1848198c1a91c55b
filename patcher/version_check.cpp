#include "patcher/version_check.h"

#include <string>

#include "patcher/patcher_fetch.h"
#include "patcher/release_record.h"
#include "patcher/version_manager.h"
#include "platform/files.h"
#include "release/release_files.h"
#include "ui/message_box.h"
#include "ui/messages.h"

namespace {

constexpr char16_t kRestoreStep[] = u" - restore";
constexpr char16_t kRefreshStep[] = u" - refresh";
constexpr char16_t kModifyStep[] = u" - modify";

FetchResult FailStep(const char16_t* step) {
  ShowCatalogueMessage(std::u16string(g_messages.MsgVersionUpdateFailed) + step);
  return FetchResult::kFailed;
}

// One pass of the check: kFetched when the patcher may be started.
FetchResult CheckOnce(ReleaseRun& run) {
  CVPatcherVersionManager manager(run);
  if (!CVPatcherVersionManager::InitVersionFiles()) return FetchResult::kFailed;
  int32_t state = manager.GetVersionState();
  if (state == VersionStateFailed) {
    // An unreadable local record is reset once; the state is then asked
    // anew, server record included.
    if (!manager.RestoreVersion()) return FailStep(kRestoreStep);
    state = manager.GetVersionState();
    if (state == VersionStateFailed) return FailStep(kRefreshStep);
  }
  // With a key the files beside the patcher must be the release's, whether
  // or not this run updated it.
  if (state == VersionStateSame) return RepairInstall(run);
  // Recorded only once the update is on disk, so the record never runs ahead
  // of the files.
  const FetchResult updated = UpdatePatcher(run);
  if (updated != FetchResult::kFetched) return updated;
  if (!manager.ModifyVersion()) return FailStep(kModifyStep);
  return RepairInstall(run);
}

// The one place where meeting another release is handled. A publish under
// way switches a release's files one by one; an honest one then costs a
// player one more round of requests, not an error: the check starts over
// from the server's record, once a run.
bool Settle(ReleaseRun& run, FetchResult fetched) {
  while (fetched == FetchResult::kSwitched) {
    StartOver(run);
    fetched = CheckOnce(run);
  }
  return fetched == FetchResult::kFetched;
}

}  // namespace

bool CheckPatcherVersion(ReleaseRun& run) { return Settle(run, CheckOnce(run)); }

bool FetchPatcherAgain(ReleaseRun& run) { return Settle(run, UpdatePatcher(run)); }

void DropServerRecordCopy() { platform::RemoveFile(kVersionRecordCopyName); }
