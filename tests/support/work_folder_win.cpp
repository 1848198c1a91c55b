#include "tests/support/work_folder.h"

#include <windows.h>

#include <string>

#include "platform/files.h"

namespace {
// Distinct names for the folders of one test process.
int g_folderCount = 0;
}  // namespace

void WorkFolderTest::SetUp() {
  const std::wstring name = L"launcher-work-" + std::to_wstring(::GetCurrentProcessId()) +
                            L"-" + std::to_wstring(++g_folderCount);
  m_hostFolder = std::filesystem::temp_directory_path() / name;
  std::error_code error;
  std::filesystem::remove_all(m_hostFolder, error);  // left over by a crashed run
  ASSERT_TRUE(std::filesystem::create_directory(m_hostFolder, error)) << error.message();
  m_previousDirectory = platform::GetWorkingDirectory();
  const std::wstring folder = m_hostFolder.wstring();
  ASSERT_TRUE(::SetCurrentDirectoryW(folder.c_str()));
}

void WorkFolderTest::TearDown() {
  platform::SetWorkingDirectory(m_previousDirectory);
  std::error_code error;
  std::filesystem::remove_all(m_hostFolder, error);
}

// libcurl reads the process environment with GetEnvironmentVariableA.
void SetEnvironmentValue(const char* name, const char* value) {
  ::SetEnvironmentVariableA(name, value);
}
