#include "tests/support/win_test_helpers.h"

#include <gtest/gtest.h>

namespace {
constexpr wchar_t kTamperer[] = L"tamperer.exe";
constexpr DWORD kPathUnits = 1024;
constexpr DWORD kTampererMilliseconds = 30000;
}  // namespace

std::wstring TestProgramFolder() {
  wchar_t path[kPathUnits] = {};
  const std::wstring module(path, ::GetModuleFileNameW(nullptr, path, kPathUnits));
  return module.substr(0, module.find_last_of(L"\\/") + 1);
}

DWORD OtherProcessOpensForWriting(const std::wstring& path) {
  std::wstring commandLine = L"\"" + TestProgramFolder();
  commandLine.append(kTamperer).append(L"\" try \"").append(path).append(L"\"");
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION started = {};
  if (!::CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &started)) {
    ADD_FAILURE() << "tamperer.exe must lie beside the test program: " << ::GetLastError();
    return ERROR_SUCCESS;
  }
  const platform::UniqueHandle process(started.hProcess);
  const platform::UniqueHandle thread(started.hThread);
  DWORD code = ERROR_SUCCESS;
  if (::WaitForSingleObject(process.get(), kTampererMilliseconds) != WAIT_OBJECT_0 ||
      !::GetExitCodeProcess(process.get(), &code)) {
    ADD_FAILURE() << "tamperer.exe did not end";
  }
  return code;
}
