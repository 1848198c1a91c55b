#include "platform/files.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/win32.h"
#include "tests/support/win_test_helpers.h"
#include "tests/support/work_folder.h"

namespace {

using StagingFileWinTest = WorkFolderTest;

// What only Windows shows of a staging file: another process cannot open
// it for writing, and MoveFileExW puts it in place of an older file while
// it is open.
TEST_F(StagingFileWinTest, RefusesOtherProcessesAndMovesIntoPlaceWhileOpen) {
  const std::wstring work = Wide(platform::GetWorkingDirectory());
  const std::wstring staging = work + L"\\patcher.temp";
  const std::wstring patcher = work + L"\\patcher";
  WriteFile(U16(patcher), "older bytes");
  platform::UniqueFile stream = platform::OpenStagingFile(U16(staging));
  ASSERT_TRUE(stream);
  EXPECT_EQ(OtherProcessOpensForWriting(staging), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  ASSERT_TRUE(::MoveFileExW(staging.c_str(), patcher.c_str(), MOVEFILE_REPLACE_EXISTING))
      << ::GetLastError();
  EXPECT_EQ(OtherProcessOpensForWriting(patcher), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  stream.reset();
  EXPECT_EQ(OtherProcessOpensForWriting(patcher), static_cast<DWORD>(ERROR_SUCCESS));
}

}  // namespace
