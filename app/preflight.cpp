#include "app/preflight.h"

#include <limits>
#include <vector>

#include "platform/shell.h"
#include "platform/system.h"
#include "release/release_files.h"
#include "ui/message_box.h"
#include "ui/messages.h"
#include "ui/outcome.h"

namespace {

constexpr uint64_t kClustersPerFigureStep = 1048576;
constexpr uint64_t kLauncherDriveMinimum = 10;
constexpr uint64_t kInstallDriveMinimum = 28672;
constexpr uint64_t kInstallDriveComfortable = 35840;

// One process of this name is the launcher itself.
constexpr const char16_t* kLauncherProcessName = kLauncherFileName;

// Processes that stop a launch, in the order they are compared.
struct Conflict {
  const char16_t* name;
  Outcome outcome;
};
constexpr Conflict kConflicts[] = {
    {kPatcherFileName, Outcome::kPatcherRunning},
    {u"Velkaris32.exe", Outcome::kGameRunning},
    {u"Velkaris64.exe", Outcome::kGameRunning},
};

// The figure of a folder's drive; false when the platform cannot tell.
bool QueryFigure(const std::u16string& folder, uint64_t* figure) {
  platform::DiskFreeSpace space;
  if (!platform::QueryDiskFreeSpace(folder, &space)) return false;
  *figure = FreeSpaceFigure(space);
  return true;
}

}  // namespace

uint64_t FreeSpaceFigure(const platform::DiskFreeSpace& space) {
  const uint64_t steps = space.freeClusters / kClustersPerFigureStep;
  const uint64_t clusterBytes = uint64_t{space.sectorsPerCluster} * space.bytesPerSector;
  // Absurd geometry from the platform saturates instead of wrapping round
  // to a small figure.
  if (clusterBytes != 0 && steps > std::numeric_limits<uint64_t>::max() / clusterBytes) {
    return std::numeric_limits<uint64_t>::max();
  }
  return steps * clusterBytes;
}

bool EnterModuleFolder(std::u16string* moduleFolder) {
  const std::u16string folder = platform::RemoveFileSpec(platform::GetModuleFilePath());
  if (!platform::SetWorkingDirectory(folder)) {
    ShowFailure(Outcome::kModuleFolder);
    return false;
  }
  *moduleFolder = folder;
  return true;
}

bool CheckLauncherDriveSpace() {
  uint64_t figure = 0;
  if (QueryFigure(platform::GetWorkingDirectory(), &figure) && figure >= kLauncherDriveMinimum) {
    return true;
  }
  ShowFailure(Outcome::kLauncherDriveSpace);
  return false;
}

bool CheckInstallDriveSpace(const std::u16string& folder) {
  uint64_t figure = 0;
  if (!QueryFigure(folder, &figure) || figure < kInstallDriveMinimum) {
    ShowFailure(Outcome::kInstallDriveSpace);
    return false;
  }
  if (figure >= kInstallDriveComfortable) return true;
  if (ShowCatalogueMessage(g_messages.MsgDiskSpaceMayBeLow, kLauncherCaption,
                           platform::kMbYesNo) == platform::kIdYes) {
    return true;
  }
  NoteFailure(Outcome::kInstallDriveDeclined);
  return false;
}

bool CheckRunningProcesses() {
  std::vector<std::u16string> names;
  // A process list that cannot be taken does not stop the launch.
  if (!platform::ListProcessNames(&names)) return true;
  bool launcherSeen = false;
  for (const std::u16string& name : names) {
    if (name == kLauncherProcessName) {
      if (launcherSeen) {
        ShowFailure(Outcome::kLauncherRunning);
        return false;
      }
      launcherSeen = true;
    }
    for (const Conflict& conflict : kConflicts) {
      if (name == conflict.name) {
        ShowFailure(conflict.outcome);
        return false;
      }
    }
  }
  return true;
}
