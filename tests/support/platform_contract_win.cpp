#include "tests/support/platform_contract.h"

#include <vector>

#include "platform/system_library.h"
#include "platform/win32.h"

namespace {
// Handles of HoldOpen, closed before the work folder goes.
std::vector<platform::UniqueHandle> g_heldFiles;
}  // namespace

void PlatformContractTest::SetUp() {
  WorkFolderTest::SetUp();
  ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, platform::W(kContractKey));  // left by a crashed run
}

void PlatformContractTest::TearDown() {
  g_heldFiles.clear();
  ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, platform::W(kContractKey));
  WorkFolderTest::TearDown();
}

void PlatformContractTest::HoldOpen(const std::u16string& path) {
  platform::UniqueHandle file(::CreateFileW(platform::W(path), GENERIC_READ,
                                            FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  ASSERT_TRUE(file) << "cannot hold the file open, error " << ::GetLastError();
  g_heldFiles.push_back(std::move(file));
}

std::u16string PlatformContractTest::OwnProcessName() {
  wchar_t path[MAX_PATH] = {};
  const DWORD length = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
  const std::wstring full(path, length);
  return platform::FromW(full.substr(full.find_last_of(L'\\') + 1).c_str());
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
