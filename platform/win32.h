#pragma once

// The one place where the launcher's Windows code (the Win32 backend, the
// splash, the entry point, the Windows tests) takes the Windows headers and
// the owners of Windows handles. MinGW-w64 quirks:
// - windows.h defines DeleteFile, CreateDirectory, SendMessage and the like
//   as macros; the backend's own names avoid them, so nothing is undefined.
// - char16_t and wchar_t are both 16 bits on Windows; the portable code uses
//   char16_t and the backend reinterprets at the call site (W() below).

#include <windows.h>
#include <aclapi.h>
#include <knownfolders.h>
#include <shellapi.h>
#include <shlobj.h>
#include <sddl.h>
#include <shlwapi.h>
#include <tlhelp32.h>

#include <string>
#include <type_traits>

#include "platform/unique_owner.h"

static_assert(sizeof(wchar_t) == sizeof(char16_t), "Windows wide characters are UTF-16");

namespace platform {

inline const wchar_t* W(const std::u16string& text) {
  return reinterpret_cast<const wchar_t*>(text.c_str());
}
inline const wchar_t* W(const char16_t* text) { return reinterpret_cast<const wchar_t*>(text); }
inline std::u16string FromW(const wchar_t* text) {
  return std::u16string(reinterpret_cast<const char16_t*>(text));
}

// Kernel handles (process snapshot, process and thread handles). The close
// keeps the thread's last error, so a caller can still read the error of the
// call that failed.
struct KernelHandleTraits {
  using Handle = HANDLE;
  static Handle Empty() { return nullptr; }
  static bool IsValid(Handle handle) { return handle != nullptr && handle != INVALID_HANDLE_VALUE; }
  static void Close(Handle handle) {
    const DWORD lastError = ::GetLastError();
    ::CloseHandle(handle);
    ::SetLastError(lastError);
  }
};
using UniqueHandle = UniqueOwner<KernelHandleTraits>;

// One reference to a COM interface.
template <typename T>
struct ComTraits : PointerTraits<T> {
  static void Close(T* object) { object->Release(); }
};
template <typename T>
using ComPtr = UniqueOwner<ComTraits<T>>;

// Memory the shell hands out (item id lists).
template <typename T>
struct CoTaskMemoryTraits : PointerTraits<T> {
  static void Close(T* memory) { ::CoTaskMemFree(memory); }
};

// Memory the system allocated with LocalAlloc for the caller (message
// texts, security descriptors).
struct LocalMemoryTraits : PointerTraits<void> {
  static void Close(HLOCAL block) { ::LocalFree(block); }
};

// The install folder the launcher creates: protected from the parent's
// entries, so that a folder below a drive root that every user may write to
// is still writable only by administrators, who start the patcher from it.
// Administrators and SYSTEM: full control; Users: read and execute; both
// inherited by files and folders below.
inline constexpr wchar_t kProtectedFolderSddl[] =
    L"D:P(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)(A;OICI;0x1200a9;;;BU)";
// An existing folder or file that the launcher makes its own: the same
// entries, owned by Administrators, so its former owner keeps no right to
// change them; a file's entries pass nothing on.
inline constexpr wchar_t kProtectedExistingFolderSddl[] =
    L"O:BAD:P(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)(A;OICI;0x1200a9;;;BU)";
inline constexpr wchar_t kProtectedExistingFileSddl[] =
    L"O:BAD:P(A;;FA;;;BA)(A;;FA;;;SY)(A;;0x1200a9;;;BU)";

// A global memory block.
struct GlobalMemoryTraits : PointerTraits<void> {
  static void Close(HGLOBAL block) { ::GlobalFree(block); }
};
using UniqueGlobalMemory = UniqueOwner<GlobalMemoryTraits>;

// A GDI object made by the caller (bitmap, pen, brush).
template <typename T>
struct GdiObjectTraits : PointerTraits<std::remove_pointer_t<T>> {
  static void Close(T object) { ::DeleteObject(object); }
};
using UniqueBitmap = UniqueOwner<GdiObjectTraits<HBITMAP>>;

// A memory device context made by CreateCompatibleDC.
struct MemoryDcTraits : PointerTraits<HDC__> {
  static void Close(HDC dc) { ::DeleteDC(dc); }
};
using UniqueMemoryDc = UniqueOwner<MemoryDcTraits>;

// A window's device context from GetDC, given back to that window.
struct WindowDc {
  HWND window = nullptr;
  HDC dc = nullptr;
};
struct WindowDcTraits {
  using Handle = WindowDc;
  static Handle Empty() { return {}; }
  static bool IsValid(const Handle& handle) { return handle.dc != nullptr; }
  static void Close(const Handle& handle) { ::ReleaseDC(handle.window, handle.dc); }
};
using UniqueWindowDc = UniqueOwner<WindowDcTraits>;

// An object selected into a device context; the one it replaced is selected
// back.
struct Selection {
  HDC dc = nullptr;
  HGDIOBJ previous = nullptr;
};
struct SelectionTraits {
  using Handle = Selection;
  static Handle Empty() { return {}; }
  static bool IsValid(const Handle& handle) { return handle.previous != nullptr; }
  static void Close(const Handle& handle) { ::SelectObject(handle.dc, handle.previous); }
};
using UniqueSelection = UniqueOwner<SelectionTraits>;

}  // namespace platform
