#include "platform/shell.h"

#include <iterator>

#include "platform/win32.h"

namespace platform {

static_assert(kMbOk == MB_OK && kMbYesNo == MB_YESNO);
static_assert(kIdOk == IDOK && kIdYes == IDYES && kIdNo == IDNO);
static_assert(kBifReturnOnlyFsDirs == BIF_RETURNONLYFSDIRS && kBifStatusText == BIF_STATUSTEXT &&
              kBifValidate == BIF_VALIDATE && kBifNewDialogStyle == BIF_NEWDIALOGSTYLE);
static_assert(kBffmInitialized == BFFM_INITIALIZED && kBffmSetSelectionW == BFFM_SETSELECTIONW);
static_assert(kBffmSelectionIsPath == TRUE);
static_assert(kCsidlDesktop == CSIDL_DESKTOP && kCsidlCommonPrograms == CSIDL_COMMON_PROGRAMS);

int ShowMessageBox(WindowHandle owner, const std::u16string& text, const std::u16string& caption,
                   uint32_t type) {
  return ::MessageBoxW(static_cast<HWND>(owner), W(text), W(caption), type);
}

namespace {
struct BrowseContext {
  BrowseCallbackProc callback;
  intptr_t data;
};

int CALLBACK BrowseTrampoline(HWND dialog, UINT message, LPARAM lParam, LPARAM data) {
  const auto* context = reinterpret_cast<const BrowseContext*>(data);
  return context->callback(dialog, message, lParam, context->data);
}

using UniqueItemIdList = UniqueOwner<CoTaskMemoryTraits<ITEMIDLIST>>;
}  // namespace

bool BrowseForFolder(WindowHandle owner, const std::u16string& title, uint32_t flags,
                     BrowseCallbackProc callback, intptr_t data, std::u16string* path) {
  wchar_t displayName[kMaxPath] = {};
  BrowseContext context{callback, data};
  BROWSEINFOW info = {};
  info.hwndOwner = static_cast<HWND>(owner);
  info.pidlRoot = nullptr;
  info.pszDisplayName = displayName;
  info.lpszTitle = W(title);
  info.ulFlags = flags;
  info.lpfn = BrowseTrampoline;
  info.lParam = reinterpret_cast<LPARAM>(&context);
  const UniqueItemIdList item(::SHBrowseForFolderW(&info));
  if (!item) return false;
  wchar_t chosen[kMaxPath] = {};
  if (!::SHGetPathFromIDListW(item.get(), chosen)) return false;
  *path = FromW(chosen);
  return true;
}

intptr_t SendWindowMessage(WindowHandle window, uint32_t message, uintptr_t wParam,
                           intptr_t lParam) {
  return ::SendMessageW(static_cast<HWND>(window), message, wParam, lParam);
}

bool GetSpecialFolderPath(int csidl, std::u16string* path) {
  wchar_t buffer[kMaxPath] = {};
  if (!::SHGetSpecialFolderPathW(nullptr, buffer, csidl, FALSE)) return false;
  *path = FromW(buffer);
  return true;
}

namespace {
constexpr wchar_t kNativeProgramFilesVariable[] = L"%ProgramW6432%";
constexpr DWORD kExpandedUnits = kMaxPath;

// In the order of KnownFolder; Program Files of a 64-bit Windows is none of
// a 32-bit program's known folders (FOLDERID_ProgramFilesX64 fails there).
const KNOWNFOLDERID* const kKnownFolderIds[] = {
    &FOLDERID_Profile,       &FOLDERID_Desktop,     &FOLDERID_PublicDesktop,
    &FOLDERID_Documents,     &FOLDERID_PublicDocuments, &FOLDERID_Downloads,
    &FOLDERID_Music,         &FOLDERID_Pictures,    &FOLDERID_Videos,
    &FOLDERID_RoamingAppData, &FOLDERID_LocalAppData, &FOLDERID_ProgramData,
    &FOLDERID_ProgramFiles,  &FOLDERID_ProgramFilesX86, nullptr,
    &FOLDERID_Windows,       &FOLDERID_System,      &FOLDERID_SystemX86,
    &FOLDERID_Public};
static_assert(std::size(kKnownFolderIds) == std::size(kKnownFolders));
}  // namespace

bool GetKnownFolderPath(KnownFolder folder, std::u16string* path) {
  const KNOWNFOLDERID* const id = kKnownFolderIds[static_cast<size_t>(folder)];
  if (id == nullptr) {
    wchar_t expanded[kExpandedUnits] = {};
    const DWORD length = ::ExpandEnvironmentStringsW(kNativeProgramFilesVariable, expanded,
                                                     kExpandedUnits);
    // Left as it was: a 32-bit Windows, with no such folder.
    if (length == 0 || length > kExpandedUnits || expanded[0] == L'%') return false;
    *path = FromW(expanded);
    return true;
  }
  UniqueOwner<CoTaskMemoryTraits<wchar_t>> found;
  if (FAILED(::SHGetKnownFolderPath(*id, KF_FLAG_DONT_VERIFY, nullptr, found.Receive()))) {
    return false;
  }
  *path = FromW(found.get());
  return true;
}

void InitializeComponentLibrary() { (void)::CoInitialize(nullptr); }

namespace {
IShellLinkW* AsLink(void* link) { return static_cast<IShellLinkW*>(link); }
}  // namespace

void ShellLinkTraits::Close(void* link) { AsLink(link)->Release(); }

int32_t ShellLink::Create() {
  return ::CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                            m_link.Receive());
}

void ShellLink::SetPath(const std::u16string& target) { AsLink(m_link.get())->SetPath(W(target)); }

void ShellLink::SetIconLocation(const std::u16string& file, int index) {
  AsLink(m_link.get())->SetIconLocation(W(file), index);
}

void ShellLink::SetDescription(const std::u16string& description) {
  AsLink(m_link.get())->SetDescription(W(description));
}

int32_t ShellLink::Save(const std::u16string& linkPath) {
  ComPtr<IPersistFile> file;
  const HRESULT queried = AsLink(m_link.get())->QueryInterface(
      IID_IPersistFile, reinterpret_cast<void**>(file.Receive()));
  if (FAILED(queried)) return queried;
  return file->Save(W(linkPath), TRUE);
}

}  // namespace platform
