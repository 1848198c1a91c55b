#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "platform/win32.h"

// Helpers of the Windows tests of the launcher flow: real folders, real
// registry, real processes.

inline std::u16string U16(const std::wstring& text) {
  return std::u16string(text.begin(), text.end());
}
inline std::wstring Wide(const std::u16string& text) {
  return std::wstring(text.begin(), text.end());
}

inline bool PathExistsW(const std::wstring& path) {
  return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

inline std::wstring CurrentDirectoryW() {
  wchar_t buffer[MAX_PATH] = {};
  ::GetCurrentDirectoryW(MAX_PATH, buffer);
  return buffer;
}

// A fresh folder below the real temporary folder, removed with everything
// in it on destruction. The current directory is restored as well, since
// the code under test moves it.
class TempFolder {
 public:
  TempFolder() : m_previousDirectory(CurrentDirectoryW()) {
    wchar_t temp[MAX_PATH] = {};
    wchar_t unique[MAX_PATH] = {};
    if (::GetTempPathW(MAX_PATH, temp) == 0 || ::GetTempFileNameW(temp, L"vk", 0, unique) == 0) {
      ADD_FAILURE() << "no temporary folder";
      return;
    }
    ::DeleteFileW(unique);
    if (!::CreateDirectoryW(unique, nullptr)) ADD_FAILURE() << "cannot create a temporary folder";
    m_path = unique;
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  ~TempFolder() {
    ::SetCurrentDirectoryW(m_previousDirectory.c_str());
    std::error_code error;
    std::filesystem::remove_all(std::filesystem::path(m_path), error);
  }

  const std::wstring& Path() const { return m_path; }
  // Creates the folders along path\relative and an empty file at its end.
  std::wstring AddFile(const std::wstring& relative) const {
    const std::filesystem::path file = std::filesystem::path(m_path) / relative;
    std::filesystem::create_directories(file.parent_path());
    platform::UniqueHandle handle(::CreateFileW(file.wstring().c_str(), GENERIC_WRITE, 0, nullptr,
                                                CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!handle.IsValid()) ADD_FAILURE() << "cannot create a file";
    return file.wstring();
  }

 private:
  std::wstring m_previousDirectory;
  std::wstring m_path;
};
