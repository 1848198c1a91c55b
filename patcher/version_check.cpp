#include "patcher/version_check.h"

#include "patcher/patcher_fetch.h"
#include "patcher/patcher_launch.h"
#include "patcher/release_record.h"
#include "patcher/version_manager.h"
#include "platform/files.h"
#include "release/release_files.h"
#include "ui/outcome.h"

namespace {

FetchResult FailStep(Outcome step) {
  ShowFailure(step);
  return FetchResult::kFailed;
}

// One pass of the check: kFetched when the patcher may be started.
FetchResult CheckOnce(ReleaseRun& run) {
  CVPatcherVersionManager manager(run);
  if (!CVPatcherVersionManager::InitVersionFiles()) {
    NoteFailure(Outcome::kVersionFiles);
    return FetchResult::kFailed;
  }
  int32_t state = manager.GetVersionState();
  if (state == VersionStateFailed) {
    // An unreadable local record is reset once; the state is then asked
    // anew, server record included.
    if (!manager.RestoreVersion()) return FailStep(Outcome::kVersionRestore);
    state = manager.GetVersionState();
    if (state == VersionStateFailed) return FailStep(Outcome::kVersionRefresh);
  }
  // Nothing below the install folder is written or read before the paths
  // the release names there are the launcher's.
  if (!ClaimRunRelease(run)) return FetchResult::kFailed;
  if (state != VersionStateSame) {
    // Recorded only once the update is on disk, so the record never runs
    // ahead of the files.
    const FetchResult updated = UpdatePatcher(run);
    if (updated != FetchResult::kFetched) return updated;
    if (!manager.ModifyVersion()) return FailStep(Outcome::kVersionModify);
  }
  // With a key the files beside the patcher must be the release's, whether
  // or not this run updated it.
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
