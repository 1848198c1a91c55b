#include "app/install_folder.h"

#include <string>
#include <thread>
#include <vector>

#include "app/preflight.h"
#include "tests/win/app/win_app_test_support.h"
#include "ui/messages.h"

namespace {

constexpr wchar_t kRegionalKeyW[] = L"Software\\Velkaris_TW";
constexpr wchar_t kLegacyKeyW[] = L"Software\\Velkaris";
constexpr wchar_t kPathValueW[] = L"Path";

void DeleteKey(const wchar_t* key) { ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, key); }

bool KeyOpens(const wchar_t* key) {
  HKEY handle = nullptr;
  if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, key, 0, KEY_READ, &handle) != ERROR_SUCCESS) return false;
  ::RegCloseKey(handle);
  return true;
}

void SetRawValue(const wchar_t* key, DWORD type, const void* data, DWORD bytes) {
  HKEY handle = nullptr;
  ASSERT_EQ(::RegCreateKeyExW(HKEY_LOCAL_MACHINE, key, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                              &handle, nullptr),
            ERROR_SUCCESS);
  EXPECT_EQ(::RegSetValueExW(handle, kPathValueW, 0, type, static_cast<const BYTE*>(data), bytes),
            ERROR_SUCCESS);
  ::RegCloseKey(handle);
}

void SetText(const wchar_t* key, const std::wstring& text) {
  SetRawValue(key, REG_SZ, text.c_str(), static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
}

// The regional key and its records are real HKEY_LOCAL_MACHINE state of the
// Wine prefix; every test starts and ends without them.
class InstallFolderWinTest : public ::testing::Test {
 protected:
  void SetUp() override {
    DeleteKey(kRegionalKeyW);
    DeleteKey(kLegacyKeyW);
    ASSERT_FALSE(KeyOpens(kRegionalKeyW));
    ASSERT_FALSE(KeyOpens(kLegacyKeyW));
    m_folder.AddFile(L"Game\\Tov\\pad00000.meta");
    m_module = U16(m_folder.Path() + L"\\Game");
  }
  void TearDown() override {
    DeleteKey(kRegionalKeyW);
    DeleteKey(kLegacyKeyW);
  }

  TempFolder m_folder;
  std::u16string m_module;
};

TEST_F(InstallFolderWinTest, RecordRoundTripsThroughTheMachineRegistry) {
  InstallFolder result;
  ASSERT_TRUE(ResolveInstallFolder(m_module, &result));
  EXPECT_TRUE(result.changed);
  EXPECT_EQ(result.folder, m_module);
  EXPECT_EQ(CurrentDirectoryW(), Wide(m_module));

  HKEY key = nullptr;
  ASSERT_EQ(::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kRegionalKeyW, 0, KEY_READ, &key), ERROR_SUCCESS);
  wchar_t className[16] = {};
  DWORD classUnits = 16;
  EXPECT_EQ(::RegQueryInfoKeyW(key, className, &classUnits, nullptr, nullptr, nullptr, nullptr,
                               nullptr, nullptr, nullptr, nullptr, nullptr),
            ERROR_SUCCESS);
  EXPECT_EQ(std::wstring(className), L"REG_");
  wchar_t value[MAX_PATH + 8] = {};
  DWORD type = 0;
  DWORD bytes = sizeof(value);
  ASSERT_EQ(::RegQueryValueExW(key, kPathValueW, nullptr, &type, reinterpret_cast<BYTE*>(value),
                               &bytes),
            ERROR_SUCCESS);
  ::RegCloseKey(key);
  EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
  EXPECT_EQ(bytes, 2 * m_module.size() + 2);
  EXPECT_EQ(std::wstring(value), Wide(m_module));

  // Read back on the next launch: the same folder, so nothing changed.
  ASSERT_TRUE(ResolveInstallFolder(m_module, &result));
  EXPECT_FALSE(result.changed);

  // A record that differs only in letter case is a change.
  std::wstring upper = Wide(m_module);
  ::CharUpperW(upper.data());
  SetText(kRegionalKeyW, upper);
  ASSERT_TRUE(ResolveInstallFolder(m_module, &result));
  EXPECT_TRUE(result.changed);
}

TEST(ChooseInstallFolderWinTest, DialogPreselectsTheInitialFolderAndTheChoiceIsConfirmed) {
  TempFolder initial;
  DWORD sectorsPerCluster = 0;
  DWORD bytesPerSector = 0;
  DWORD freeClusters = 0;
  if (!::GetDiskFreeSpaceW(initial.Path().c_str(), &sectorsPerCluster, &bytesPerSector,
                           &freeClusters, nullptr) ||
      FreeSpaceFigure({sectorsPerCluster, bytesPerSector, freeClusters}) < 28672) {
    GTEST_SKIP() << "the host drive is too full for the install-drive check";
  }
  constexpr int kAttempts = 3;
  std::u16string chosen;
  bool result = false;
  std::vector<DialogAnswerer::Seen> dialogs;
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    DialogAnswerer answerer(std::filesystem::path(initial.Path()).filename().wstring());
    // A thread of its own, as fresh as the launcher's main thread is when it
    // asks for the folder.
    std::thread chooser([&] { result = ChooseInstallFolder(U16(initial.Path()), &chosen); });
    chooser.join();
    dialogs = answerer.Dialogs();
    // Wine dropped the selection it was handed (seen only on a fresh
    // prefix's first dialog): that says nothing of the launcher; ask again.
    if (!answerer.SelectionMissed()) break;
  }

  ASSERT_TRUE(result);
  // OK in the dialog returns the folder the callback preselected.
  EXPECT_EQ(Wide(chosen), initial.Path());
  ASSERT_GE(dialogs.size(), 2u);
  EXPECT_NE(dialogs.front().text.find(Wide(g_messages.MsgChooseInstallFolder)), std::wstring::npos)
      << ::testing::PrintToString(dialogs.front());
  const DialogAnswerer::Seen confirmation{
      L"Launcher", initial.Path() + Wide(g_messages.MsgConfirmInstallPathSuffix)};
  EXPECT_EQ(dialogs.back(), confirmation);
}

}  // namespace
