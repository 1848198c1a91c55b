#include "tests/support/platform_contract.h"

#include "platform/system_library.h"
#include "platform/win32.h"

void PlatformContractTest::SetUp() {
  WorkFolderTest::SetUp();
  ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, platform::W(kContractKey));  // left by a crashed run
}

void PlatformContractTest::TearDown() {
  m_held.clear();
  ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, platform::W(kContractKey));
  WorkFolderTest::TearDown();
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
