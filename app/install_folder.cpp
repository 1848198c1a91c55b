#include "app/install_folder.h"

#include <algorithm>
#include <array>

#include "app/preflight.h"
#include "fs/file_services.h"
#include "patcher/folder_claim.h"
#include "patcher/release_key.h"
#include "platform/files.h"
#include "platform/registry.h"
#include "platform/shell.h"
#include "ui/message_box.h"
#include "ui/messages.h"
#include "ui/outcome.h"
#include "ui/splash.h"

namespace {

constexpr char16_t kRegionalKeyClass[] = u"REG_";
constexpr char16_t kDataFolderName[] = u"Tov";
constexpr char16_t kDataMarkerName[] = u"Tov/pad00000.meta";
// Appended to a drive root so the game never spreads over a whole drive.
constexpr char16_t kDriveRootSubfolder[] = u"Velkaris\\";

constexpr uint32_t kBrowseFlags = platform::kBifReturnOnlyFsDirs | platform::kBifStatusText |
                                   platform::kBifValidate | platform::kBifNewDialogStyle;

// The recorded folder is read into one path buffer and never beyond it.
constexpr uint32_t kPathValueBytes = platform::kMaxPath * sizeof(char16_t);

// The "Path" value as stored: a text (REG_SZ, or REG_EXPAND_SZ as some tools
// write it, taken as it stands), terminated within what was returned, and
// fitting the path buffer. False for anything else.
bool ReadPathValue(const platform::RegistryKey& key, std::u16string* text) {
  std::array<char16_t, platform::kMaxPath> buffer{};
  uint32_t type = 0;
  uint32_t bytes = kPathValueBytes;
  if (!platform::QueryValue(key, kPathValueName, &type, reinterpret_cast<uint8_t*>(buffer.data()),
                            &bytes)) {
    return false;
  }
  const bool isText = type == platform::kRegSz || type == platform::kRegExpandSz;
  if (!isText || bytes > kPathValueBytes) return false;
  const auto end = buffer.begin() + bytes / sizeof(char16_t);
  const auto terminator = std::find(buffer.begin(), end, u'\0');
  if (terminator == end) return false;
  text->assign(buffer.begin(), terminator);
  return true;
}

// The recorded folder, or the empty text when there is none to use.
std::u16string RecordedFolder(const platform::RegistryKey& key) {
  std::u16string text;
  ReadPathValue(key, &text);
  return text;
}

// A failed write is not reported: the run goes on with the folder it holds.
void WritePathValue(const platform::RegistryKey& key, const std::u16string& folder) {
  const auto bytes = static_cast<uint32_t>((folder.size() + 1) * sizeof(char16_t));
  platform::SetValue(key, kPathValueName, platform::kRegSz,
                     reinterpret_cast<const uint8_t*>(folder.c_str()), bytes);
}

void RecordFolder(const std::u16string& folder) {
  platform::RegistryKey key;
  if (platform::CreateMachineKey(kRegionalKey, kRegionalKeyClass, &key)) {
    WritePathValue(key, folder);
  }
}

// While an earlier edition's record exists beside ours, its folder wins.
void CarryOverLegacyRecord() {
  platform::RegistryKey legacy;
  if (!platform::OpenMachineKey(kLegacyKey, &legacy)) return;
  std::u16string legacyFolder;
  if (!ReadPathValue(legacy, &legacyFolder)) return;
  platform::RegistryKey regional;
  if (platform::OpenMachineKey(kRegionalKey, &regional)) WritePathValue(regional, legacyFolder);
}

bool IsDriveRoot(const std::u16string& path) {
  return path.size() >= 2 && path[path.size() - 2] == u':';
}

}  // namespace

bool IsInstallFolder(const std::u16string& folder) {
  if (!platform::PathExists(folder + u"/" + kDataFolderName)) return false;
  return static_cast<bool>(platform::OpenFile(folder + u"/" + kDataMarkerName, "rb"));
}

int BrowseCallback(platform::WindowHandle dialog, uint32_t message, intptr_t lParam,
                   intptr_t data) {
  (void)lParam;
  if (message == platform::kBffmInitialized) {
    platform::SendWindowMessage(dialog, platform::kBffmSetSelectionW, platform::kBffmSelectionIsPath, data);
  }
  return 0;
}

bool ChooseInstallFolder(const std::u16string& initialFolder, std::u16string* chosen) {
  // The new-style browse dialog is a COM client: the thread must be in an
  // apartment before it opens, or the dialog may fail on Windows.
  platform::InitializeComponentLibrary();
  for (;;) {
    std::u16string path;
    if (!platform::BrowseForFolder(g_splashWindow, g_messages.MsgChooseInstallFolder, kBrowseFlags,
                                   BrowseCallback,
                                   reinterpret_cast<intptr_t>(initialFolder.c_str()), &path)) {
      NoteFailure(Outcome::kFolderCancelled);
      return false;
    }
    if (!CheckInstallDriveSpace(path)) return false;
    const bool driveRoot = IsDriveRoot(path);
    if (driveRoot) path += kDriveRootSubfolder;
    const int answer = ShowCatalogueMessage(path + g_messages.MsgConfirmInstallPathSuffix,
                                            kLauncherCaption, platform::kMbYesNo);
    if (answer != platform::kIdYes) continue;
    if (driveRoot) CreateDirectoryTree(path, NewInstallFolderSecurity());
    *chosen = path;
    return true;
  }
}

bool ResolveInstallFolder(const std::u16string& moduleFolder, InstallFolder* result) {
  CarryOverLegacyRecord();

  std::u16string folder;
  bool changed = false;
  if (IsInstallFolder(moduleFolder)) {
    platform::RegistryKey key;
    if (platform::OpenMachineKey(kRegionalKey, &key)) {
      // Exact comparison: a difference in letter case counts as a change.
      changed = RecordedFolder(key) != moduleFolder;
      WritePathValue(key, moduleFolder);
    } else {
      RecordFolder(moduleFolder);
      changed = true;
    }
    folder = moduleFolder;
  } else {
    CreateDirectoryTree(kDefaultInstallFolder, NewInstallFolderSecurity());
    platform::RegistryKey key;
    if (platform::OpenMachineKey(kRegionalKey, &key)) {
      folder = RecordedFolder(key);
    } else {
      if (!ChooseInstallFolder(kDefaultInstallFolder, &folder)) return false;
      RecordFolder(folder);
      changed = true;
    }
  }

  // A folder that cannot be entered, or (with a release key) one the
  // launcher must not make its own, is told and another chosen.
  for (;;) {
    const bool entered = platform::SetWorkingDirectory(folder);
    if (entered && MayClaimFolder(folder)) break;
    ShowFailure(entered ? Outcome::kInstallFolderRefused : Outcome::kInstallFolder);
    // Without the regional key there is nothing to choose into, and asking
    // again would only repeat the same failure: the launch ends here.
    platform::RegistryKey key;
    if (!platform::OpenMachineKey(kRegionalKey, &key)) return false;
    if (!ChooseInstallFolder(kDefaultInstallFolder, &folder)) return false;
    RecordFolder(folder);
    changed = true;
  }
  result->folder = folder;
  result->changed = changed;
  return true;
}
