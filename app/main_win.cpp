// Entry point of VelkarisLauncher.exe.
#include <new>

#include "app/launcher.h"
#include "platform/system.h"
#include "platform/system_library.h"
#include "platform/win32.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  // The launcher runs elevated from wherever a copy was put, often a
  // downloads folder full of other people's files: no DLL may ever come
  // from there or from the current folder.
  platform::RestrictDllSearch();
  // LAUNCHER_SUPPORT_LOG (0 or 1) is set for this program by the build.
  constexpr SupportLog kSupportLog = LAUNCHER_SUPPORT_LOG ? SupportLog::kOn : SupportLog::kOff;
  try {
    // The arguments are cut from the full command line by our own rule so
    // that every runtime hands the patcher the same text.
    return RunLauncher(instance, reinterpret_cast<const char16_t*>(::GetCommandLineW()),
                       kSupportLog);
  } catch (const std::bad_alloc&) {
    // The last resort when the 32-bit address space runs out anywhere in the
    // flow: a failed run, not the runtime's abort.
    return platform::kExitFailed;
  }
}
