#include "tests/support/platform_contract.h"

#include <algorithm>
#include <functional>

#include "platform/system_library.h"
#include "platform/win32.h"
#include "tests/support/win_test_helpers.h"

namespace {
// How long a host program may take: 10 s.
constexpr int kHostProgramPolls = 1000;
constexpr DWORD kHostProgramPollMilliseconds = 10;

// Starts a host program under Wine and waits until done() holds: Wine gives
// no process handle to wait for.
bool RunHostProgram(const wchar_t* program, std::wstring commandLine,
                    const std::function<bool()>& done) {
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION started = {};
  if (!::CreateProcessW(program, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &started)) {
    return false;
  }
  const platform::UniqueHandle process(started.hProcess);
  const platform::UniqueHandle thread(started.hThread);
  for (int poll = 0; poll < kHostProgramPolls; ++poll) {
    if (done()) return true;
    ::Sleep(kHostProgramPollMilliseconds);
  }
  return false;
}
// A relative path as the host's programs take it.
std::wstring HostPath(const std::u16string& path) {
  std::wstring host = Wide(path);
  std::replace(host.begin(), host.end(), L'\\', L'/');
  return host;
}
}  // namespace

void PlatformContractTest::SetUp() {
  WorkFolderTest::SetUp();
  ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, platform::W(kContractKey));  // left by a crashed run
}

void PlatformContractTest::TearDown() {
  platform::EndFileConfinementForTesting();
  m_held.clear();
  for (const std::u16string& link : m_links) {
    const auto gone = [&] { return !FileExists(link); };
    EXPECT_TRUE(RunHostProgram(L"Z:\\bin\\rm", L"rm " + HostPath(link), gone)) << "a link remains";
  }
  ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, platform::W(kContractKey));
  WorkFolderTest::TearDown();
}

std::u16string PlatformContractTest::OwnProcessName() {
  wchar_t path[MAX_PATH] = {};
  const DWORD length = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
  const std::wstring full(path, length);
  return platform::FromW(full.substr(full.find_last_of(L'\\') + 1).c_str());
}

// Wine's CreateSymbolicLinkW succeeds and makes nothing, and Wine removes
// no link (measured), but it starts host programs: the host's ln and rm do
// both, in the current folder.
bool PlatformContractTest::MakeLink(const std::u16string& link, const std::u16string& target) {
  m_links.push_back(link);
  return RunHostProgram(L"Z:\\bin\\ln", L"ln -s " + HostPath(target) + L" " + HostPath(link),
                        [&] { return FileExists(link); });
}

bool PlatformContractTest::UseAnsiCodePage(uint32_t codePage) { return ::GetACP() == codePage; }

bool PlatformContractTest::MakeHardLink(const std::u16string& link,
                                        const std::u16string& target) {
  return ::CreateHardLinkW(platform::W(link), platform::W(target), nullptr) != FALSE;
}

bool PlatformContractTest::MachineLoadsLibraries() { return true; }

PlatformContractTest::LibraryLoad PlatformContractTest::LoadFromSystemFolder(
    const std::u16string& dll, const char* procedure) {
  const HMODULE module = platform::LoadSystemLibrary(platform::W(dll));
  if (!module) return LibraryLoad::kNotLoaded;
  FARPROC found = nullptr;
  return platform::ResolveProc(module, procedure, &found) ? LibraryLoad::kResolved
                                                          : LibraryLoad::kLoaded;
}
