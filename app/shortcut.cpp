#include "app/shortcut.h"

#include "platform/shell.h"
#include "platform/types.h"
#include "release/release_files.h"
#include "ui/messages.h"

namespace {

constexpr char16_t kLinkExtension[] = u".lnk";
constexpr int kTargetIconIndex = 0;

// The desktop link first; the programs-menu link only after it was saved.
constexpr int kLinkFolders[] = {platform::kCsidlDesktop, platform::kCsidlCommonPrograms};

}  // namespace

bool CreateShortcuts(const std::u16string& installFolder) {
  const std::u16string target = installFolder + u"/" + kLauncherFileName;
  const std::u16string linkName = std::u16string(g_messages.MsgShortcutName) + kLinkExtension;
  for (const int csidl : kLinkFolders) {
    std::u16string folder;
    if (!platform::GetSpecialFolderPath(csidl, &folder)) return false;
    const std::u16string linkPath = folder + u"/" + linkName;
    // The link path has to fit a path buffer; a longer one is a failed link.
    if (linkPath.size() >= platform::kMaxPath) return false;
    if (CreateShellLink(target, linkPath, g_messages.MsgShortcutDescription) < 0) return false;
  }
  return true;
}

int32_t CreateShellLink(const std::u16string& target, const std::u16string& linkPath,
                        const std::u16string& description) {
  platform::InitializeComponentLibrary();
  platform::ShellLink link;
  const int32_t created = link.Create();
  if (created < 0) return created;
  link.SetPath(target);
  link.SetIconLocation(target, kTargetIconIndex);
  link.SetDescription(description);
  return link.Save(linkPath);
}
