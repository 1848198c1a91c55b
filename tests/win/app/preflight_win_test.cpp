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
  if (!snapshot || !::Process32FirstW(snapshot.get(), &entry)) return 0;
  do {
    if (name == entry.szExeFile) ++count;
  } while (::Process32NextW(snapshot.get(), &entry));
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
    m_process.reset(info.hProcess);
    platform::UniqueHandle thread(info.hThread);
  }
  StandIn(const StandIn&) = delete;
  StandIn& operator=(const StandIn&) = delete;
  ~StandIn() {
    if (!m_process) return;
    ::TerminateProcess(m_process.get(), 0);
    ::WaitForSingleObject(m_process.get(), kProcessEndLimitMs);
  }

 private:
  platform::UniqueHandle m_process;
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
  DialogAnswerer answerer;
  EXPECT_FALSE(CheckInstallDriveSpace(u"Q:\\Nowhere"));
  const std::vector<DialogAnswerer::Seen> expected{
      {L"Launcher", Wide(g_messages.MsgDiskSpaceInsufficient)}};
  EXPECT_EQ(answerer.Dialogs(), expected);
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
    DialogAnswerer answerer;
    EXPECT_EQ(CheckRunningProcesses(), c.message == nullptr);
    std::vector<DialogAnswerer::Seen> expected;
    if (c.message) expected.push_back({L"warning", Wide(c.message)});
    EXPECT_EQ(answerer.Dialogs(), expected);
  }
}

}  // namespace
