#include "patcher/patcher_fetch.h"

#include <vector>

#include "fs/file_services.h"
#include "patcher/patcher_launch.h"
#include "patcher/release_fetch.h"
#include "patcher/release_install.h"
#include "patcher/release_key.h"
#include "patcher/release_record.h"
#include "patcher/version_manager.h"
#include "platform/files.h"
#include "platform/system.h"
#include "release/release_files.h"
#include "release/release_manifest.h"
#include "release/version_files.h"
#include "ui/outcome.h"

namespace {

// One entry of the server's list. The name is written relative to the
// install folder by a process with administrator rights, so a name that
// could reach outside it is refused like a download that failed, as is one
// that is no text in the ANSI code page. The download requests the server
// path's exact form in that code page: the list's bytes.
FetchResult DownloadListEntry(ReleaseRun& run, StagedFiles& staged, const std::u16string& name) {
  if (!IsSafeListName(name, platform::EncodeAnsi)) return FetchResult::kFailed;
  return FetchListedFile(run, staged, WideServerPathOfListName(name), name);
}

// With a key: the run's release is had and its paths are the launcher's;
// false, after its box, when not. *matches: the copy in place is the
// release's launcher, and need not be fetched.
bool CheckLauncherCopy(ReleaseRun& run, bool* matches) {
  // A copy set aside at an earlier start, no longer running.
  platform::RemoveFile(kSetAsideLauncherName);
  const ReleaseManifest* manifest = RunManifest(run);
  if (manifest == nullptr) FailServerRecordDownload();
  if (!ClaimRunRelease(run)) return false;
  // The publishing tool signs no release without the launcher: a manifest
  // that lacks it vouches for no copy, and none is started from here.
  const platform::FileDigest* entry = FindEntry(*manifest, kLauncherFileName);
  if (entry == nullptr) {
    ShowFailure(Outcome::kLauncherCopy);
    return false;
  }
  platform::HeldFile copy;
  *matches = HoldReleaseFile(kLauncherFileName, *entry, &copy);
  return true;
}

// The box of a fetch that failed; one that met another release has none,
// since the update may start over.
FetchResult Report(FetchResult fetched, Outcome failure) {
  if (fetched == FetchResult::kFailed) ShowFailure(failure);
  return fetched;
}

// The patcher into its staging name, then into place.
FetchResult FetchPatcher(ReleaseRun& run, StagedFiles& staged) {
  const std::u16string temporary = std::u16string(kPatcherFileName) + kFetchSuffix;
  const FetchResult fetched = FetchReleaseFile(run, staged, kPatcherFileName, temporary);
  if (fetched != FetchResult::kFetched) return Report(fetched, Outcome::kPatcherDownload);
  return ReplaceWithRetry(temporary, kPatcherFileName, true) ? FetchResult::kFetched
                                                             : FetchResult::kFailed;
}

FetchResult FetchUpdate(ReleaseRun& run, StagedFiles& staged) {
  std::vector<std::u16string> changed;
  CVPatcherVersionManager manager(run);
  const FetchResult list = manager.CollectChangedFiles(staged, &changed);
  if (list != FetchResult::kFetched) return list;
  const std::u16string temporary = std::u16string(kPatcherFileName) + kFetchSuffix;
  const FetchResult patcher = FetchReleaseFile(run, staged, kPatcherFileName, temporary);
  if (patcher != FetchResult::kFetched) return Report(patcher, Outcome::kPatcherDownload);
  for (const std::u16string& name : changed) {
    const FetchResult entry = DownloadListEntry(run, staged, name);
    if (entry != FetchResult::kFetched) return Report(entry, Outcome::kListedFile);
  }
  const bool placed = ReplaceWithRetry(temporary, kPatcherFileName, true) &&
                      ReplaceWithRetry(kFileListCopyName, kFileListName, false);
  return placed ? FetchResult::kFetched : FetchResult::kFailed;
}

}  // namespace

bool ReplaceWithRetry(const std::u16string& temporaryName, const std::u16string& finalName,
                      bool deleteFirst) {
  if (MoveIntoPlace(temporaryName, finalName, deleteFirst)) return true;
  ShowFailure(Outcome::kRename);
  return false;
}

bool EnsureLauncherCopy(ReleaseRun& run, std::u16string installFolder) {
  // With a key the copy must be the release's at every start: the
  // shortcuts start it, with administrator rights. One that differs
  // (planted, damaged, an older launcher) is fetched again. Without one it
  // need only be there.
  if (WithReleaseKey()) {
    bool matches = false;
    if (!CheckLauncherCopy(run, &matches)) return false;
    if (matches) return true;
  } else if (platform::OpenFile(installFolder + u"/" + kLauncherFileName, "rb")) {
    return true;
  }
  const std::u16string temporary = std::u16string(kLauncherFileName) + kFetchSuffix;
  StagedFiles staged;
  if (FetchReleaseFile(run, staged, kLauncherFileName, temporary) != FetchResult::kFetched) {
    ShowFailure(Outcome::kLauncherCopy);
    return false;
  }
  // Windows renames a program that runs but deletes none: the copy in
  // place, which may be this launcher, goes aside first, and goes for good
  // once nothing runs it (here, or at a later start).
  RenamePath(kLauncherFileName, kSetAsideLauncherName);
  if (!ReplaceWithRetry(temporary, kLauncherFileName, true)) return false;
  platform::RemoveFile(kSetAsideLauncherName);
  return true;
}

FetchResult RepairInstall(ReleaseRun& run) {
  std::vector<std::u16string> damaged;
  const FetchResult found = FindDamagedFiles(run, &damaged);
  if (found != FetchResult::kFetched) return found;
  StagedFiles staged;
  for (const std::u16string& name : damaged) {
    const FetchResult fetched =
        name == kPatcherFileName
            ? FetchPatcher(run, staged)
            : Report(DownloadListEntry(run, staged, name), Outcome::kListedFile);
    if (fetched != FetchResult::kFetched) return fetched;
  }
  return FetchResult::kFetched;
}

FetchResult UpdatePatcher(ReleaseRun& run) {
  StagedFiles staged;
  return FetchUpdate(run, staged);
}
