#pragma once

#include <string>

#include "platform/win32.h"

// Helpers of the tests and test programs that run under Wine.

// Windows wide text and the portable code's UTF-16 text, unit for unit.
inline std::u16string U16(const std::wstring& text) {
  return std::u16string(text.begin(), text.end());
}
inline std::wstring Wide(const std::u16string& text) {
  return std::wstring(text.begin(), text.end());
}

// A file or a folder of that name exists.
inline bool FileExists(const std::wstring& path) {
  return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}
inline bool FileExists(const std::u16string& path) { return FileExists(Wide(path)); }

// The folder of the running test program, with a backslash after it; the
// helper programs (tests/tools) lie there.
std::wstring TestProgramFolder();
// What another process gets when it opens `path` for writing, sharing
// everything (tamperer.exe): 0 when it could, else the system's error code.
DWORD OtherProcessOpensForWriting(const std::wstring& path);

// The control of a message box that holds its text.
inline constexpr int kMessageTextId = 0xFFFF;
