#include "app/launcher.h"

#include "app/install_folder.h"
#include "app/preflight.h"
#include "app/shortcut.h"
#include "log/support_log.h"
#include "patcher/patcher_fetch.h"
#include "patcher/patcher_launch.h"
#include "patcher/release_key.h"
#include "patcher/release_run.h"
#include "patcher/version_check.h"
#include "platform/shell.h"
#include "platform/system.h"
#include "ui/message_box.h"
#include "ui/messages.h"
#include "ui/outcome.h"
#include "ui/splash.h"

namespace {

constexpr uint32_t kSplashPollMilliseconds = 100;
constexpr uint32_t kLingerMilliseconds = 1000;

void WaitForSplash(platform::InstanceHandle instance) {
  // Without a splash thread the flag would never be set; the launcher then
  // goes on without a splash, and its message boxes have no owner.
  if (!platform::StartThread(SplashThreadProc, instance)) return;
  while (g_splashReady.load(std::memory_order_acquire) == 0) {
    platform::Sleep(kSplashPollMilliseconds);
  }
}

// A step of the run, and how it went in the support log.
bool Step(const char* step, bool done) {
  LogLine(step).Add("result", done ? "ok" : "failed").Write();
  return done;
}

void OfferShortcuts(const std::u16string& installFolder) {
  const int answer = ShowCatalogueMessage(g_messages.MsgConfirmDesktopShortcut, kLauncherCaption,
                                          platform::kMbYesNo);
  if (answer != platform::kIdYes) {
    LogLine("shortcuts").Add("result", "declined").Write();
    return;
  }
  if (!Step("shortcuts", CreateShortcuts(installFolder))) {
    ShowCatalogueMessage(g_messages.MsgDesktopShortcutFailed);
  }
}

// The run from the module folder to the patcher's start; the exit code.
int RunSteps(const char16_t* commandLine) {
  std::u16string moduleFolder;
  if (!Step("module-folder", EnterModuleFolder(&moduleFolder))) return platform::kExitFailed;
  const uint64_t startTime = platform::SystemTimeAsFileTime();
  if (!Step("launcher-drive", CheckLauncherDriveSpace())) return platform::kExitFailed;
  if (!Step("processes", CheckRunningProcesses())) return platform::kExitFailed;

  InstallFolder install;
  if (!Step("install-folder", ResolveInstallFolder(moduleFolder, &install))) {
    return platform::kExitFailed;
  }
  const bool defaultFolder = install.folder == kDefaultInstallFolder;
  if (!Step("folder-claim", ClaimInstallFolder(install.folder, defaultFolder))) {
    return platform::kExitFailed;
  }
  MoveSupportLog(install.folder);
  // What this run fetches and checks, from the launcher copy to the start.
  ReleaseRun run;
  if (!Step("launcher-copy", EnsureLauncherCopy(run, install.folder))) return platform::kExitFailed;
  if (install.changed) OfferShortcuts(install.folder);

  const bool patcherReady = Step("version-check", CheckPatcherVersion(run));
  // No copy of the server's record survives the run, whatever the check did.
  DropServerRecordCopy();
  if (!patcherReady) return platform::kExitFailed;

  g_launcherArgs = LauncherArguments(commandLine);
  if (!Step("patcher-start", RunPatcher(run, install.folder))) return platform::kExitFailed;

  platform::Sleep(LingerMilliseconds(startTime, platform::SystemTimeAsFileTime()));
  return kExitPatcherStarted;
}

}  // namespace

const char16_t* LauncherArguments(const char16_t* commandLine) {
  const char16_t* p = commandLine;
  bool quoted = false;
  while (*p > u' ' || (*p != u'\0' && quoted)) {
    if (*p == u'"') quoted = !quoted;
    ++p;
  }
  while (*p != u'\0' && *p <= u' ') ++p;
  return p;
}

uint32_t LingerMilliseconds(uint64_t startFileTime, uint64_t endFileTime) {
  const auto startSeconds = static_cast<int64_t>(startFileTime / platform::kFileTimeUnitsPerSecond);
  const auto endSeconds = static_cast<int64_t>(endFileTime / platform::kFileTimeUnitsPerSecond);
  return endSeconds - startSeconds >= 1 ? 0 : kLingerMilliseconds;
}

int RunLauncher(platform::InstanceHandle instance, const char16_t* commandLine, SupportLog log) {
  WaitForSplash(instance);
  if (log == SupportLog::kOn && StartSupportLog()) {
    LogLine("start").Add("release-key", ReleaseKey() != nullptr ? "yes" : "no").Write();
  }
  const int exitCode = RunSteps(commandLine);
  EndRunLog(exitCode);
  return exitCode;
}
