#include "app/shortcut.h"

#include <string>

#include "tests/win/app/win_app_test_support.h"

namespace {

struct LinkContents {
  std::wstring target;
  std::wstring description;
  std::wstring iconFile;
  int iconIndex = -1;
};

// Loads a saved link through the shell's own IShellLinkW.
bool ReadLink(const std::wstring& linkPath, LinkContents* contents) {
  (void)::CoInitialize(nullptr);
  platform::ComPtr<IShellLinkW> link;
  if (FAILED(::CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                reinterpret_cast<void**>(link.Receive())))) {
    return false;
  }
  platform::ComPtr<IPersistFile> file;
  if (FAILED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(file.Receive()))) ||
      FAILED(file->Load(linkPath.c_str(), STGM_READ))) {
    return false;
  }
  wchar_t text[INFOTIPSIZE] = {};
  if (FAILED(link->GetPath(text, MAX_PATH, nullptr, SLGP_RAWPATH))) return false;
  contents->target = text;
  if (FAILED(link->GetDescription(text, INFOTIPSIZE))) return false;
  contents->description = text;
  if (FAILED(link->GetIconLocation(text, MAX_PATH, &contents->iconIndex))) return false;
  contents->iconFile = text;
  return true;
}

std::wstring SpecialFolder(int csidl) {
  wchar_t folder[MAX_PATH] = {};
  if (!::SHGetSpecialFolderPathW(nullptr, folder, csidl, FALSE)) return {};
  return folder;
}

std::wstring Backslashed(std::wstring path) {
  for (auto& c : path) {
    if (c == L'/') c = L'\\';
  }
  return path;
}

TEST(ShortcutWinTest, SavedLinkReadsBackWithTargetDescriptionAndIcon) {
  TempFolder folder;
  const std::wstring target = folder.AddFile(L"VelkarisLauncher.exe");
  const std::wstring linkPath = folder.Path() + L"\\Velkaris.lnk";
  ASSERT_GE(CreateShellLink(U16(target), U16(linkPath), u"Velkaris"), 0);
  LinkContents link;
  ASSERT_TRUE(ReadLink(linkPath, &link));
  EXPECT_EQ(link.target, target);
  EXPECT_EQ(link.description, L"Velkaris");
  EXPECT_EQ(link.iconFile, target);
  EXPECT_EQ(link.iconIndex, 0);
}

TEST(ShortcutWinTest, SavingIntoAMissingFolderFails) {
  TempFolder folder;
  const std::wstring target = folder.AddFile(L"VelkarisLauncher.exe");
  EXPECT_LT(CreateShellLink(U16(target), U16(folder.Path() + L"\\missing\\Velkaris.lnk"), u"x"), 0);
}

TEST(ShortcutWinTest, LinksOnTheDesktopAndInTheProgramsMenuPointAtTheLauncher) {
  const std::wstring desktop = SpecialFolder(CSIDL_DESKTOP);
  const std::wstring programs = SpecialFolder(CSIDL_COMMON_PROGRAMS);
  ASSERT_FALSE(desktop.empty());
  ASSERT_FALSE(programs.empty());
  TempFolder install;
  install.AddFile(L"VelkarisLauncher.exe");

  ASSERT_TRUE(CreateShortcuts(U16(install.Path())));
  for (const std::wstring& linkPath : {desktop + L"/Velkaris.lnk", programs + L"/Velkaris.lnk"}) {
    SCOPED_TRACE(std::string(linkPath.begin(), linkPath.end()));
    LinkContents link;
    ASSERT_TRUE(ReadLink(linkPath, &link));
    // The target was joined with "/"; the shell keeps it as one file path.
    const std::wstring target = install.Path() + L"\\VelkarisLauncher.exe";
    EXPECT_EQ(Backslashed(link.target), target);
    EXPECT_EQ(Backslashed(link.iconFile), target);
    EXPECT_EQ(link.iconIndex, 0);
    EXPECT_EQ(link.description, L"Velkaris");
    ::DeleteFileW(linkPath.c_str());
  }
}

}  // namespace
