// Entry point of VelkarisLauncher.exe.
#include <windows.h>

#include "app/launcher.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  // The launcher runs elevated from wherever a copy was put, often a
  // downloads folder full of other people's files: no DLL may ever come
  // from there or from the current folder.
  ::SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
  // The arguments are cut from the full command line by our own rule so
  // that every runtime hands the patcher the same text.
  return RunLauncher(instance, reinterpret_cast<const char16_t*>(::GetCommandLineW()));
}
