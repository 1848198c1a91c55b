#include "platform/files.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/files_win.h"
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

// The descriptors with which a folder or file is the launcher's already:
// owned by Administrators, protected from its parent's entries, no one but
// Administrators and SYSTEM allowed more than to read and run, in entries
// for the object or for what is made below it.
TEST(AdministratorsOnlyDescriptor, AllowsNoOneElseMoreThanToReadAndRun) {
  const struct {
    const wchar_t* sddl;
    bool administratorsOnly;
  } cases[] = {
      {L"O:BAD:P(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)(A;OICI;0x1200a9;;;BU)", true},
      {L"O:BAD:P(A;;FA;;;BA)(A;;GRGX;;;BU)(D;;FA;;;WD)", true},
      {L"O:BAD:(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)", false},
      {L"O:BUD:P(A;OICI;FA;;;BA)", false},
      {L"O:BAD:P(A;OICI;FA;;;BA)(A;OICIIO;0x1301bf;;;BU)", false},
      {L"O:BAD:P(A;;GW;;;WD)", false},
      {L"O:BAD:P(A;;FA;;;BA)(A;;0x100;;;AU)", false},
      {L"O:BAD:NO_ACCESS_CONTROL", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(std::wstring(c.sddl)));
    platform::UniqueOwner<platform::LocalMemoryTraits> descriptor;
    ASSERT_TRUE(::ConvertStringSecurityDescriptorToSecurityDescriptorW(
        c.sddl, SDDL_REVISION_1, descriptor.Receive(), nullptr));
    EXPECT_EQ(platform::IsAdministratorsOnlyDescriptor(descriptor.get()), c.administratorsOnly);
  }
}

}  // namespace
