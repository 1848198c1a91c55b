#pragma once

#include <string>

// How a run of the launcher ends, each failure with the box the player sees
// for it. The codes are stable: the support log's closing line names one,
// and docs/support.md says what each means and what support tells the
// player.
enum class Outcome {
  kPatcherStarted,
  kModuleFolder,
  kLauncherDriveSpace,
  kLauncherRunning,
  kPatcherRunning,
  kGameRunning,
  kFolderCancelled,
  kInstallDriveSpace,
  kInstallDriveDeclined,
  kInstallFolder,
  kLauncherCopy,
  kRename,
  kVersionFiles,
  kRecordDownload,
  kVersionRestore,
  kVersionRefresh,
  kVersionModify,
  kListDownload,
  kListUnreadable,
  kPatcherDownload,
  kListedFile,
  kPatcherStart,
  kReleaseRefused,
  kReleaseCodePage,
  kInstallFolderRefused,
};
inline constexpr int kOutcomeCount = static_cast<int>(Outcome::kInstallFolderRefused) + 1;

// "patcher-started", "list-download"...
const char* OutcomeCode(Outcome outcome);

// Shows the failure's box, with `detail` after its text, and makes it the
// run's outcome unless an earlier failure is.
void ShowFailure(Outcome outcome, const std::u16string& detail = {});
// The same for a failure whose box, if any, is not this one's to show: a
// cancelled dialog, a question answered No, a release refused (the box of
// the fetch that failed follows).
void NoteFailure(Outcome outcome);
// Closes the support log with the run's outcome and the box shown for it:
// the first failure noted when the run ends with platform::kExitFailed,
// else the patcher's start. Forgets the failures noted, for the next run.
void EndRunLog(int exitCode);
