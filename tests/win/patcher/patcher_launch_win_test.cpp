#include "patcher/patcher_launch.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "fs/file_services.h"
#include "platform/files.h"
#include "platform/system.h"
#include "tests/support/win_test_helpers.h"
#include "tests/support/work_folder.h"
#include "ui/messages.h"
#include "ui/splash.h"

namespace {

constexpr wchar_t kStandIn[] = L"stand_in_patcher.exe";
constexpr wchar_t kRecord[] = L"stand_in_record.bin";
constexpr wchar_t kPatcher[] = L"VelkarisPatcher32.vke";
constexpr DWORD kPathUnits = 1024;
constexpr size_t kMessageTextUnits = 4096;
constexpr auto kPollInterval = std::chrono::milliseconds(50);
constexpr auto kWaitLimit = std::chrono::seconds(30);

static_assert(sizeof(STARTUPINFOW) == 68, "the start-up record handed to CreateProcessW");


// Polls until done() holds or the wait limit passes.
bool WaitUntil(const std::function<bool()>& done) {
  const auto deadline = std::chrono::steady_clock::now() + kWaitLimit;
  while (!done()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(kPollInterval);
  }
  return true;
}

std::wstring CurrentDirectory() {
  wchar_t path[kPathUnits] = {};
  ::GetCurrentDirectoryW(kPathUnits, path);
  return path;
}

// The fields the stand-in recorded: command line, current directory, then
// its arguments.
std::vector<std::wstring> ReadRecord(const std::wstring& path) {
  std::vector<std::wstring> fields(1);
  const platform::UniqueFile file = platform::OpenFile(U16(path), "rb");
  if (!file) return {};
  for (wchar_t unit = 0; std::fread(&unit, sizeof(unit), 1, file.get()) == 1;) {
    if (unit == L'\0') {
      fields.emplace_back();
    } else {
      fields.back().push_back(unit);
    }
  }
  fields.pop_back();  // begun after the last field's NUL
  return fields;
}

struct ShownBox {
  bool found = false;
  std::wstring text;
  HWND owner = nullptr;
};

// A message box of this process with this caption. Other test programs in
// the same Wine prefix share the desktop and show boxes of the same name.
HWND FindOwnMessageBox(const std::wstring& caption) {
  HWND window = nullptr;
  while ((window = ::FindWindowExW(nullptr, window, L"#32770", caption.c_str())) != nullptr) {
    DWORD process = 0;
    ::GetWindowThreadProcessId(window, &process);
    if (process == ::GetCurrentProcessId()) return window;
  }
  return nullptr;
}

// A message box needs a desktop that can show windows; without one it fails
// at once and nothing would ever appear to be closed.
bool CanCreateWindows() {
  HWND probe = ::CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr,
                                 nullptr, nullptr);
  if (probe == nullptr) return false;
  ::DestroyWindow(probe);
  return true;
}

// Waits for a message box with this caption, reads it and presses OK, as
// the player would.
ShownBox CloseNextMessageBox(const std::wstring& caption) {
  ShownBox shown;
  HWND box = nullptr;
  if (!WaitUntil([&] { return (box = FindOwnMessageBox(caption)) != nullptr; })) return shown;
  std::vector<wchar_t> text(kMessageTextUnits);
  ::GetDlgItemTextW(box, kMessageTextId, text.data(), static_cast<int>(text.size()));
  shown.found = true;
  shown.text = text.data();
  shown.owner = ::GetWindow(box, GW_OWNER);
  ::PostMessageW(box, WM_COMMAND, IDOK, 0);
  return shown;
}

// An install folder with blanks, made the current directory as the main
// flow does.
class PatcherStart : public WorkFolderTest {
 protected:
  void SetUp() override {
    WorkFolderTest::SetUp();
    m_work = CurrentDirectory();
    m_install = m_work + L"\\Program Files\\Velkaris";
    ASSERT_TRUE(::CreateDirectoryW((m_work + L"\\Program Files").c_str(), nullptr));
    ASSERT_TRUE(::CreateDirectoryW(m_install.c_str(), nullptr));
    ASSERT_TRUE(::SetCurrentDirectoryW(m_install.c_str()));
    g_splashWindow = nullptr;
    g_launcherArgs = u"";
  }
  void TearDown() override {
    // A stand-in still ending holds its file; the folder goes once it is free.
    for (const std::wstring& program : m_started) {
      WaitUntil([&] {
        return ::DeleteFileW(program.c_str()) || ::GetLastError() == ERROR_FILE_NOT_FOUND;
      });
    }
    WorkFolderTest::TearDown();
  }

  void InstallStandIn(const std::wstring& path) {
    ASSERT_TRUE(::CopyFileW((TestProgramFolder() + kStandIn).c_str(), path.c_str(), FALSE))
        << "stand_in_patcher.exe must lie beside the test program";
    m_started.push_back(path);
  }

  // The stand-in's record from the install folder, once it or one in
  // `elsewhere` exists.
  std::vector<std::wstring> WaitForRecord(const std::wstring& elsewhere = {}) {
    const std::wstring path = m_install + L"\\" + kRecord;
    const std::wstring other = elsewhere + L"\\" + kRecord;
    WaitUntil([&] { return FileExists(path) || (!elsewhere.empty() && FileExists(other)); });
    return ReadRecord(path);
  }

  std::u16string InstallFolder() const { return U16(m_install); }

  std::wstring m_work;
  std::wstring m_install;
  std::vector<std::wstring> m_started;
};

TEST_F(PatcherStart, StartsThePatcherInTheInstallFolderWithTheArgumentsItWasGiven) {
  InstallStandIn(m_install + L"\\" + kPatcher);
  // Where an unquoted path with blanks would look first.
  InstallStandIn(m_work + L"\\Program.exe");
  g_launcherArgs = u"-x 1 \"two words\" C:\\a\\b";

  ReleaseRun run;
  ASSERT_TRUE(RunPatcher(run, InstallFolder()));
  const std::vector<std::wstring> record = WaitForRecord(m_work);
  ASSERT_FALSE(FileExists(m_work + L"\\" + kRecord))
      << "the program named after the folder's first word was started";
  const std::wstring program = m_install + L"/" + kPatcher;
  ASSERT_EQ(record.size(), 7u);
  EXPECT_EQ(record[0], L"\"" + program + L"\" -x 1 \"two words\" C:\\a\\b");
  EXPECT_EQ(record[1], m_install);
  EXPECT_EQ(std::vector<std::wstring>(record.begin() + 2, record.end()),
            (std::vector<std::wstring>{program, L"-x", L"1", L"two words", L"C:\\a\\b"}));
}

// The launcher checks the patcher through a held handle and starts it while
// holding it: meanwhile no other process may change or replace the bytes
// checked, and the start itself is not refused.
TEST_F(PatcherStart, AHeldPatcherRefusesEveryChangeAndStillStarts) {
  const std::wstring patcher = m_install + L"\\" + kPatcher;
  const std::wstring other = m_install + L"\\other.vke";
  InstallStandIn(patcher);
  InstallStandIn(other);
  ASSERT_EQ(OtherProcessOpensForWriting(patcher), static_cast<DWORD>(ERROR_SUCCESS))
      << "writable before it is held";

  // Reading through the hold and deleting the held file: the platform
  // contract's rows.
  const platform::HeldFile held = platform::HoldFile(U16(patcher));
  ASSERT_TRUE(held);
  EXPECT_EQ(OtherProcessOpensForWriting(patcher), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  EXPECT_FALSE(::MoveFileExW(other.c_str(), patcher.c_str(), MOVEFILE_REPLACE_EXISTING));

  const std::u16string commandLine = U16(L"\"" + patcher + L"\"");
  uint32_t error = 0;
  ASSERT_TRUE(platform::StartProcess(commandLine, &error)) << error;
  EXPECT_EQ(WaitForRecord().size(), 3u);  // command line, directory, argument 0
}

TEST_F(PatcherStart, AFileThatIsNotAProgramShowsTheSystemsTextForTheError) {
  {
    const platform::UniqueFile file = platform::OpenFile(U16(kPatcher), "wb");
    ASSERT_TRUE(file);
    std::fputs("not a program", file.get());
  }

  ASSERT_TRUE(CanCreateWindows()) << "this Wine session has a desktop without a display";
  auto box = std::async(std::launch::async, CloseNextMessageBox, L"Launcher");
  ReleaseRun run;
  EXPECT_FALSE(RunPatcher(run, InstallFolder()));
  const ShownBox shown = box.get();

  // The system's own text, with its line end.
  const std::string systemText = GetSystemErrorText(ERROR_BAD_EXE_FORMAT);
  ASSERT_GE(systemText.size(), 2u);
  EXPECT_EQ(systemText.substr(systemText.size() - 2), "\r\n");
  ASSERT_TRUE(shown.found);
  EXPECT_EQ(shown.text, Wide(std::u16string(g_messages.MsgUpdateVersionDownloadFailed) +
                             u"\r\n errCode : " + AnsiToWide(systemText)));
  EXPECT_EQ(shown.owner, nullptr);
}

TEST(SystemErrorText, IsUnknownErrorWhenTheSystemHasNone) {
  EXPECT_EQ(GetSystemErrorText(0x2000ABCD), "Unknown Error");  // an application's own code
}

}  // namespace
