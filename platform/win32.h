#pragma once

// The one place that includes the Windows headers for the Win32 backend.
// MinGW-w64 quirks:
// - windows.h defines DeleteFile, CreateDirectory, SendMessage and the like
//   as macros; the backend's own names avoid them, so nothing is undefined.
// - char16_t and wchar_t are both 16 bits on Windows; the portable code uses
//   char16_t and the backend reinterprets at the call site (W() below).

#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>
#include <shlwapi.h>
#include <tlhelp32.h>

#include <string>

static_assert(sizeof(wchar_t) == sizeof(char16_t), "Windows wide characters are UTF-16");

namespace platform {

inline const wchar_t* W(const std::u16string& text) {
  return reinterpret_cast<const wchar_t*>(text.c_str());
}
inline const wchar_t* W(const char16_t* text) { return reinterpret_cast<const wchar_t*>(text); }
inline std::u16string FromW(const wchar_t* text) {
  return std::u16string(reinterpret_cast<const char16_t*>(text));
}

// Owner of a kernel HANDLE (process snapshot, process and thread handles).
// Preserves the thread's last error across the close so a caller can still
// read the error of the call that failed.
class UniqueHandle {
 public:
  UniqueHandle() = default;
  explicit UniqueHandle(HANDLE handle) : m_handle(handle) {}
  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;
  UniqueHandle(UniqueHandle&& other) noexcept : m_handle(other.m_handle) {
    other.m_handle = nullptr;
  }
  ~UniqueHandle() { Reset(); }

  bool IsValid() const { return m_handle != nullptr && m_handle != INVALID_HANDLE_VALUE; }
  HANDLE Get() const { return m_handle; }
  void Reset(HANDLE handle = nullptr) {
    if (IsValid()) {
      const DWORD lastError = ::GetLastError();
      ::CloseHandle(m_handle);
      ::SetLastError(lastError);
    }
    m_handle = handle;
  }

 private:
  HANDLE m_handle = nullptr;
};

// Owner of one COM interface pointer.
template <typename T>
class ComPtr {
 public:
  ComPtr() = default;
  ComPtr(const ComPtr&) = delete;
  ComPtr& operator=(const ComPtr&) = delete;
  ~ComPtr() { Reset(); }

  T* Get() const { return m_ptr; }
  T* operator->() const { return m_ptr; }
  void** Out() {
    Reset();
    return reinterpret_cast<void**>(&m_ptr);
  }
  void Reset() {
    if (m_ptr) m_ptr->Release();
    m_ptr = nullptr;
  }

 private:
  T* m_ptr = nullptr;
};

}  // namespace platform
