#include "platform/shell.h"

#include "platform/win32.h"

namespace platform {

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

// Frees an item id list returned by the shell.
struct ItemIdList {
  PIDLIST_ABSOLUTE pidl = nullptr;
  ~ItemIdList() { ::CoTaskMemFree(pidl); }
};
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
  ItemIdList item;
  item.pidl = ::SHBrowseForFolderW(&info);
  if (!item.pidl) return false;
  wchar_t chosen[kMaxPath] = {};
  if (!::SHGetPathFromIDListW(item.pidl, chosen)) return false;
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

void InitializeComponentLibrary() { (void)::CoInitialize(nullptr); }

namespace {
IShellLinkW* AsLink(void* link) { return static_cast<IShellLinkW*>(link); }
}  // namespace

ShellLink::~ShellLink() {
  if (m_link) AsLink(m_link)->Release();
}

int32_t ShellLink::Create() {
  return ::CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                            &m_link);
}

void ShellLink::SetPath(const std::u16string& target) { AsLink(m_link)->SetPath(W(target)); }

void ShellLink::SetIconLocation(const std::u16string& file, int index) {
  AsLink(m_link)->SetIconLocation(W(file), index);
}

void ShellLink::SetDescription(const std::u16string& description) {
  AsLink(m_link)->SetDescription(W(description));
}

int32_t ShellLink::Save(const std::u16string& linkPath) {
  ComPtr<IPersistFile> file;
  const HRESULT queried = AsLink(m_link)->QueryInterface(IID_IPersistFile, file.Out());
  if (FAILED(queried)) return queried;
  return file->Save(W(linkPath), TRUE);
}

}  // namespace platform
