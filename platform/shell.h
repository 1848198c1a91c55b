#pragma once

#include <cstdint>
#include <string>

#include "platform/types.h"
#include "platform/unique_owner.h"

// Message boxes, the folder browse dialog, special folders and shell links.
namespace platform {

// MessageBoxW flags and results.
inline constexpr uint32_t kMbOk = 0x0;
inline constexpr uint32_t kMbYesNo = 0x4;
inline constexpr int kIdOk = 1;
inline constexpr int kIdYes = 6;
inline constexpr int kIdNo = 7;

int ShowMessageBox(WindowHandle owner, const std::u16string& text, const std::u16string& caption,
                   uint32_t type);

// SHBrowseForFolderW flags (BIF_...).
inline constexpr uint32_t kBifReturnOnlyFsDirs = 0x0001;
inline constexpr uint32_t kBifStatusText = 0x0004;
inline constexpr uint32_t kBifValidate = 0x0020;
inline constexpr uint32_t kBifNewDialogStyle = 0x0040;

// SHBrowseForFolderW messages, and BFFM_SETSELECTIONW's wParam saying that
// the data is a path text, not an item list.
inline constexpr uint32_t kBffmInitialized = 1;
inline constexpr uint32_t kBffmSetSelectionW = 0x400 + 103;
inline constexpr uintptr_t kBffmSelectionIsPath = 1;

using BrowseCallbackProc = int (*)(WindowHandle dialog, uint32_t message, intptr_t lParam,
                                   intptr_t data);

// SHBrowseForFolderW (no root, display-name buffer of kMaxPath) followed by
// SHGetPathFromIDListW. False when the dialog was closed without a choice or
// the choice has no file-system path.
bool BrowseForFolder(WindowHandle owner, const std::u16string& title, uint32_t flags,
                     BrowseCallbackProc callback, intptr_t data, std::u16string* path);

intptr_t SendWindowMessage(WindowHandle window, uint32_t message, uintptr_t wParam, intptr_t lParam);

// SHGetSpecialFolderPathW with no owner, not creating the folder.
inline constexpr int kCsidlDesktop = 0x0000;
inline constexpr int kCsidlCommonPrograms = 0x0017;
bool GetSpecialFolderPath(int csidl, std::u16string* path);

// The system's folders and the user's own, which a signed launcher never
// makes its own: their paths as SHGetKnownFolderPath gives them (whether
// they exist or not; Program Files of a 64-bit Windows as its 32-bit
// programs are told, %ProgramW6432%). False for a folder this Windows has
// none of.
enum class KnownFolder {
  kProfile,
  kDesktop,
  kCommonDesktop,
  kDocuments,
  kCommonDocuments,
  kDownloads,
  kMusic,
  kPictures,
  kVideos,
  kRoamingAppData,
  kLocalAppData,
  kProgramData,
  kProgramFiles,
  kProgramFilesX86,
  kProgramFilesNative,
  kWindows,
  kSystem,
  kSystemX86,
  kPublic,
};
inline constexpr KnownFolder kKnownFolders[] = {
    KnownFolder::kProfile,          KnownFolder::kDesktop,         KnownFolder::kCommonDesktop,
    KnownFolder::kDocuments,        KnownFolder::kCommonDocuments, KnownFolder::kDownloads,
    KnownFolder::kMusic,            KnownFolder::kPictures,        KnownFolder::kVideos,
    KnownFolder::kRoamingAppData,   KnownFolder::kLocalAppData,    KnownFolder::kProgramData,
    KnownFolder::kProgramFiles,     KnownFolder::kProgramFilesX86, KnownFolder::kProgramFilesNative,
    KnownFolder::kWindows,          KnownFolder::kSystem,          KnownFolder::kSystemX86,
    KnownFolder::kPublic};
bool GetKnownFolderPath(KnownFolder folder, std::u16string* path);

// CoInitialize for the calling thread; the result is of no interest.
void InitializeComponentLibrary();

// The object behind a ShellLink, released by each backend its own way.
struct ShellLinkTraits : PointerTraits<void> {
  static void Close(void* link);
};

// An IShellLinkW object; released on destruction. HRESULT-style results:
// negative on failure.
class ShellLink {
 public:

  // CoCreateInstance(CLSID_ShellLink, in-process server, IID_IShellLinkW).
  int32_t Create();
  void SetPath(const std::u16string& target);
  void SetIconLocation(const std::u16string& file, int index);
  void SetDescription(const std::u16string& description);
  // QueryInterface(IID_IPersistFile), then Save(linkPath, TRUE); the
  // persist-file interface is released before returning.
  int32_t Save(const std::u16string& linkPath);

 private:
  UniqueOwner<ShellLinkTraits> m_link;
};

}  // namespace platform
