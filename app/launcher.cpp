#include "app/launcher.h"

#include "app/install_folder.h"
#include "app/preflight.h"
#include "app/shortcut.h"
#include "patcher/patcher_fetch.h"
#include "patcher/patcher_launch.h"
#include "patcher/release_run.h"
#include "patcher/version_check.h"
#include "platform/shell.h"
#include "platform/system.h"
#include "ui/message_box.h"
#include "ui/messages.h"
#include "ui/splash.h"

namespace {

constexpr uint32_t kSplashPollMilliseconds = 100;
constexpr uint32_t kLingerMilliseconds = 1000;
constexpr uint64_t kFileTimeUnitsPerSecond = 10000000;

void WaitForSplash(platform::InstanceHandle instance) {
  // Without a splash thread the flag would never be set; the launcher then
  // goes on without a splash, and its message boxes have no owner.
  if (!platform::StartThread(SplashThreadProc, instance)) return;
  while (g_splashReady.load(std::memory_order_acquire) == 0) {
    platform::Sleep(kSplashPollMilliseconds);
  }
}

void OfferShortcuts(const std::u16string& installFolder) {
  const int answer = ShowCatalogueMessage(g_messages.MsgConfirmDesktopShortcut, kLauncherCaption,
                                          platform::kMbYesNo);
  if (answer != platform::kIdYes) return;
  if (!CreateShortcuts(installFolder)) ShowCatalogueMessage(g_messages.MsgDesktopShortcutFailed);
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
  const auto startSeconds = static_cast<int64_t>(startFileTime / kFileTimeUnitsPerSecond);
  const auto endSeconds = static_cast<int64_t>(endFileTime / kFileTimeUnitsPerSecond);
  return endSeconds - startSeconds >= 1 ? 0 : kLingerMilliseconds;
}

int RunLauncher(platform::InstanceHandle instance, const char16_t* commandLine) {
  WaitForSplash(instance);

  std::u16string moduleFolder;
  if (!EnterModuleFolder(&moduleFolder)) return platform::kExitFailed;
  const uint64_t startTime = platform::SystemTimeAsFileTime();
  if (!CheckLauncherDriveSpace()) return platform::kExitFailed;
  if (!CheckRunningProcesses()) return platform::kExitFailed;

  InstallFolder install;
  if (!ResolveInstallFolder(moduleFolder, &install)) return platform::kExitFailed;
  // What this run fetches and checks, from the launcher copy to the start.
  ReleaseRun run;
  if (!EnsureLauncherCopy(run, install.folder)) return platform::kExitFailed;
  if (install.changed) OfferShortcuts(install.folder);

  const bool patcherReady = CheckPatcherVersion(run);
  // No copy of the server's record survives the run, whatever the check did.
  DropServerRecordCopy();
  if (!patcherReady) return platform::kExitFailed;

  g_launcherArgs = LauncherArguments(commandLine);
  if (!ClaimInstallFolder(run, install.folder, install.folder == kDefaultInstallFolder)) {
    return platform::kExitFailed;
  }
  if (!RunPatcher(run, install.folder)) return platform::kExitFailed;

  platform::Sleep(LingerMilliseconds(startTime, platform::SystemTimeAsFileTime()));
  return kExitPatcherStarted;
}
