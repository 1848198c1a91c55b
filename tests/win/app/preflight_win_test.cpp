#include "app/preflight.h"

#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "tests/win/app/win_app_test_support.h"
#include "ui/messages.h"

namespace {

// Started with this switch, the test program stands in for a watched
// process: it only waits, a bounded time, to be ended by the test.
constexpr wchar_t kStandInSwitch[] = L"--stand-in-for-a-watched-process";
constexpr DWORD kStandInLifetimeMs = 60000;
[[maybe_unused]] const bool g_isStandIn = [] {
  if (std::wstring(::GetCommandLineW()).find(kStandInSwitch) != std::wstring::npos) {
    ::Sleep(kStandInLifetimeMs);
    ::ExitProcess(0);
  }
  return false;
}();

constexpr auto kPollInterval = std::chrono::milliseconds(20);
constexpr auto kProcessStartLimit = std::chrono::seconds(20);
constexpr auto kMessageBoxLimit = std::chrono::seconds(20);
constexpr DWORD kProcessEndLimitMs = 10000;

std::wstring OwnPath() {
  wchar_t path[MAX_PATH] = {};
  ::GetModuleFileNameW(nullptr, path, MAX_PATH);
  return path;
}

int CountListed(const std::wstring& name) {
  platform::UniqueHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  PROCESSENTRY32W entry = {};
  entry.dwSize = sizeof(entry);
  int count = 0;
  if (!snapshot.IsValid() || !::Process32FirstW(snapshot.Get(), &entry)) return 0;
  do {
    if (name == entry.szExeFile) ++count;
  } while (::Process32NextW(snapshot.Get(), &entry));
  return count;
}

// A copy of the test program running under a watched name, ended when the
// object goes.
class StandIn {
 public:
  StandIn(const std::wstring& folder, const std::wstring& name) {
    ::CreateDirectoryW(folder.c_str(), nullptr);
    const std::wstring path = folder + L"\\" + name;
    if (!::CopyFileW(OwnPath().c_str(), path.c_str(), FALSE)) {
      ADD_FAILURE() << "cannot copy the test program";
      return;
    }
    std::wstring commandLine = L"\"" + path + L"\" " + kStandInSwitch;
    // No console and no standard handles: nothing may hold the test's output
    // open after the stand-in ends.
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    PROCESS_INFORMATION info = {};
    if (!::CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, DETACHED_PROCESS,
                          nullptr, nullptr, &startup, &info)) {
      ADD_FAILURE() << "cannot start the stand-in, error " << ::GetLastError();
      return;
    }
    m_process.Reset(info.hProcess);
    platform::UniqueHandle thread(info.hThread);
  }
  StandIn(const StandIn&) = delete;
  StandIn& operator=(const StandIn&) = delete;
  ~StandIn() {
    if (!m_process.IsValid()) return;
    ::TerminateProcess(m_process.Get(), 0);
    ::WaitForSingleObject(m_process.Get(), kProcessEndLimitMs);
  }

 private:
  platform::UniqueHandle m_process;
};

// Presses OK on every message box of this process with the given caption
// while it lives, and keeps their texts.
class MessageBoxAnswerer {
 public:
  explicit MessageBoxAnswerer(const wchar_t* caption)
      : m_caption(caption), m_thread([this] { Run(); }) {}
  MessageBoxAnswerer(const MessageBoxAnswerer&) = delete;
  MessageBoxAnswerer& operator=(const MessageBoxAnswerer&) = delete;
  ~MessageBoxAnswerer() { Stop(); }

  // The texts seen; the answerer is stopped first.
  const std::vector<std::wstring>& Texts() {
    Stop();
    return m_texts;
  }

 private:
  void Stop() {
    m_stop = true;
    if (m_thread.joinable()) m_thread.join();
  }
  void Run() {
    const auto deadline = std::chrono::steady_clock::now() + kMessageBoxLimit;
    while (!m_stop && std::chrono::steady_clock::now() < deadline) {
      HWND box = ::FindWindowW(L"#32770", m_caption);
      DWORD owner = 0;
      if (box) ::GetWindowThreadProcessId(box, &owner);
      if (box && owner == ::GetCurrentProcessId()) {
        wchar_t text[512] = {};
        ::GetDlgItemTextW(box, 0xFFFF, text, 512);
        m_texts.push_back(text);
        ::PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                       reinterpret_cast<LPARAM>(::GetDlgItem(box, IDOK)));
        while (::IsWindow(box) && std::chrono::steady_clock::now() < deadline) {
          std::this_thread::sleep_for(kPollInterval);
        }
      }
      std::this_thread::sleep_for(kPollInterval);
    }
  }

  const wchar_t* m_caption;
  std::vector<std::wstring> m_texts;
  std::atomic<bool> m_stop{false};
  std::thread m_thread;
};

bool WaitUntilListed(const std::wstring& name, int count) {
  const auto deadline = std::chrono::steady_clock::now() + kProcessStartLimit;
  while (CountListed(name) < count) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(kPollInterval);
  }
  return true;
}

TEST(PreflightWinTest, EnterModuleFolderEntersTheProgramsOwnFolder) {
  TempFolder restoresDirectory;
  std::wstring expected = OwnPath();
  expected.erase(expected.find_last_of(L'\\'));
  std::u16string folder;
  ASSERT_TRUE(EnterModuleFolder(&folder));
  EXPECT_EQ(Wide(folder), expected);
  EXPECT_EQ(CurrentDirectoryW(), expected);
}

TEST(PreflightWinTest, InstallDriveThatCannotBeMeasuredIsRefused) {
  MessageBoxAnswerer answerer(L"Launcher");
  EXPECT_FALSE(CheckInstallDriveSpace(u"Q:\\Nowhere"));
  EXPECT_EQ(answerer.Texts(),
            std::vector<std::wstring>{Wide(g_messages.MsgDiskSpaceInsufficient)});
}

TEST(PreflightWinTest, RunningProcessesAreFoundByTheirExactNames) {
  struct Case {
    const char* what;
    std::vector<std::wstring> running;
    const char16_t* message;  // the warning shown, or null when the check passes
  };
  const Case cases[] = {
      {"one launcher", {L"VelkarisLauncher.exe"}, nullptr},
      {"two launchers", {L"VelkarisLauncher.exe", L"VelkarisLauncher.exe"},
       g_messages.MsgLauncherAlreadyRunning},
      {"other letter case", {L"velkaris32.exe", L"VELKARIS64.EXE", L"velkarisPatcher32.vke"},
       nullptr},
      {"patcher", {L"VelkarisPatcher32.vke"}, g_messages.MsgAlreadyUpdating},
      {"game 32", {L"Velkaris32.exe"}, g_messages.MsgGameAlreadyRunning},
      {"game 64", {L"Velkaris64.exe"}, g_messages.MsgGameAlreadyRunning},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempFolder folder;
    std::vector<std::unique_ptr<StandIn>> standIns;
    for (size_t i = 0; i < c.running.size(); ++i) {
      // Same names need folders of their own.
      const std::wstring home = folder.Path() + L"\\" + std::to_wstring(i);
      standIns.push_back(std::make_unique<StandIn>(home, c.running[i]));
    }
    for (const std::wstring& name : c.running) {
      int expected = 0;
      for (const std::wstring& other : c.running) expected += other == name ? 1 : 0;
      ASSERT_TRUE(WaitUntilListed(name, expected));
    }
    MessageBoxAnswerer answerer(L"warning");
    EXPECT_EQ(CheckRunningProcesses(), c.message == nullptr);
    const std::vector<std::wstring> expectedTexts =
        c.message ? std::vector<std::wstring>{Wide(c.message)} : std::vector<std::wstring>{};
    EXPECT_EQ(answerer.Texts(), expectedTexts);
  }
}

}  // namespace
