#pragma once

// DLLs loaded at run time, from the system folder only. Windows only.
#include "platform/win32.h"

namespace platform {

// For the rest of the run, DLLs come from the system folder alone; where
// Windows cannot restrict the search that far (Windows 7 without
// KB2533623), at least the current folder leaves it.
void RestrictDllSearch();

// LoadLibraryExW of the named DLL from the system folder; by its full path
// there where LOAD_LIBRARY_SEARCH_SYSTEM32 is unknown. Null on failure.
HMODULE LoadSystemLibrary(const wchar_t* name);

// GetProcAddress into a typed function pointer; false when it is missing.
template <typename Fn>
bool ResolveProc(HMODULE module, const char* name, Fn* fn) {
  *fn = reinterpret_cast<Fn>(reinterpret_cast<void*>(::GetProcAddress(module, name)));
  return *fn != nullptr;
}

}  // namespace platform
