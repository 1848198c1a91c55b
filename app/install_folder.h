#pragma once

#include <cstdint>
#include <string>

#include "platform/types.h"

// The game's install folder, recorded machine-wide as "Path" under
// HKEY_LOCAL_MACHINE\Software\Velkaris_TW.

inline constexpr char16_t kRegionalKey[] = u"Software\\Velkaris_TW";
inline constexpr char16_t kLegacyKey[] = u"Software\\Velkaris";
inline constexpr char16_t kPathValueName[] = u"Path";
inline constexpr char16_t kDefaultInstallFolder[] = u"C:\\Corvane\\Velkaris";

struct InstallFolder {
  std::u16string folder;
  // The folder was recorded for the first time or differs from the record.
  bool changed = false;
};

// Settles the install folder and makes it the current directory. False when
// the player cancelled (or the launch cannot go on); the reason has been
// shown where there is one.
bool ResolveInstallFolder(const std::u16string& moduleFolder, InstallFolder* result);

// The folder holds the game's data ("Tov/pad00000.meta").
bool IsInstallFolder(const std::u16string& folder);

// The folder browse dialog with its space check and confirmation. False
// when nothing was chosen or the drive failed its check.
bool ChooseInstallFolder(const std::u16string& initialFolder, std::u16string* chosen);

// Callback of the browse dialog: preselects the initial folder.
int BrowseCallback(platform::WindowHandle dialog, uint32_t message, intptr_t lParam,
                   intptr_t data);
