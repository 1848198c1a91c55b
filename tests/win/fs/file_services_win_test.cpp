#include "fs/file_services.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "platform/files.h"
#include "platform/win32.h"
#include "tests/support/win_test_helpers.h"

namespace {

// A fresh folder under the real temporary folder, removed afterwards.
class FileServicesWinTest : public ::testing::Test {
 protected:
  void SetUp() override {
    wchar_t temp[MAX_PATH] = {};
    ASSERT_NE(::GetTempPathW(MAX_PATH, temp), 0u);
    wchar_t unique[MAX_PATH] = {};
    ASSERT_NE(::GetTempFileNameW(temp, L"fs", 0, unique), 0u);
    ::DeleteFileW(unique);
    ASSERT_TRUE(::CreateDirectoryW(unique, nullptr));
    m_base = U16(unique);
  }
  void TearDown() override {
    std::error_code error;
    std::filesystem::remove_all(std::filesystem::path(Wide(m_base)), error);
  }

  void WriteFile(const std::u16string& path, const char* text) {
    std::ofstream(std::filesystem::path(Wide(path)), std::ios::binary) << text;
  }

  std::u16string m_base;
};

TEST_F(FileServicesWinTest, CreateDirectoryTreeMakesEveryMissingFolder) {
  const std::u16string deepest = m_base + u"\\Games\\A\\B";
  EXPECT_TRUE(CreateDirectoryTree(deepest));
  EXPECT_TRUE(FileExists(deepest));
  // Already there: still true.
  EXPECT_TRUE(CreateDirectoryTree(deepest));
  EXPECT_TRUE(CreateDirectoryTree(m_base + u"\\Trailing\\"));
  EXPECT_TRUE(FileExists(m_base + u"\\Trailing"));
}

TEST_F(FileServicesWinTest, CreateDirectoryTreeTreatsForwardSlashesAsPartOfTheName) {
  // One attempt for the whole tail, which Windows fails for the missing
  // parent "Forward".
  EXPECT_FALSE(CreateDirectoryTree(m_base + u"\\Forward/A"));
  EXPECT_FALSE(FileExists(m_base + u"\\Forward"));
}

TEST_F(FileServicesWinTest, CreateDirectoryTreeAccepts259CharactersAndRefuses260) {
  auto pathOfLength = [&](size_t length, char16_t fill) {
    std::u16string path = m_base + u"\\" + std::u16string(100, fill) + u"\\";
    return path + std::u16string(length - path.size(), fill);
  };
  const std::u16string refused = pathOfLength(260, u'r');
  EXPECT_FALSE(CreateDirectoryTree(refused));
  EXPECT_FALSE(FileExists(m_base + u"\\" + std::u16string(100, u'r')));

  const std::u16string accepted = pathOfLength(259, u'a');
  ASSERT_EQ(accepted.size(), 259u);
  EXPECT_TRUE(CreateDirectoryTree(accepted));
  EXPECT_TRUE(FileExists(accepted));
}

TEST_F(FileServicesWinTest, DeletePathRemovesAFolderWithItsContents) {
  const std::u16string folder = m_base + u"\\Doomed";
  ASSERT_TRUE(CreateDirectoryTree(folder + u"\\Inner"));
  WriteFile(folder + u"\\Inner\\file.txt", "x");
  WriteFile(folder + u"\\top.txt", "y");
  EXPECT_TRUE(DeletePath(folder));
  EXPECT_FALSE(FileExists(folder));
  EXPECT_FALSE(DeletePath(folder));
}

TEST_F(FileServicesWinTest, RenamePathMovesOntoAFreeName) {
  WriteFile(m_base + u"\\file.temp", "fresh");
  EXPECT_TRUE(RenamePath(m_base + u"\\file.temp", m_base + u"\\file"));
  EXPECT_FALSE(FileExists(m_base + u"\\file.temp"));
  std::ifstream in(std::filesystem::path(Wide(m_base + u"\\file")), std::ios::binary);
  std::string content;
  in >> content;
  EXPECT_EQ(content, "fresh");
}

TEST_F(FileServicesWinTest, RenamePathOntoAnExistingNameLeavesBothFiles) {
  // Callers delete the old file first; the rename alone never replaces it.
  WriteFile(m_base + u"\\file.temp", "fresh");
  WriteFile(m_base + u"\\file", "old");
  EXPECT_FALSE(RenamePath(m_base + u"\\file.temp", m_base + u"\\file"));
  EXPECT_TRUE(FileExists(m_base + u"\\file.temp"));
  EXPECT_TRUE(FileExists(m_base + u"\\file"));
}

// Wine creates the folder but keeps no DACL (reading one back gives Wine's
// default), so the descriptors the launcher applies are checked in memory:
// protected from the parent, exactly the entries written, and an existing
// file or folder the launcher makes its own owned by Administrators.
TEST_F(FileServicesWinTest, ProtectedDirectoryIsMadeWithTheProtectedDescriptor) {
  using LocalMemory = platform::UniqueOwner<platform::LocalMemoryTraits>;
  struct Case {
    const wchar_t* sddl;
    std::wstring dacl;
    bool ownedByAdministrators;
  };
  const Case cases[] = {
      {platform::kProtectedFolderSddl, platform::kProtectedFolderSddl, false},
      {platform::kProtectedExistingFolderSddl,
       L"D:P(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)(A;OICI;0x1200a9;;;BU)", true},
      {platform::kProtectedExistingFileSddl, L"D:P(A;;FA;;;BA)(A;;FA;;;SY)(A;;0x1200a9;;;BU)",
       true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(std::wstring(c.sddl)));
    LocalMemory descriptor;
    ASSERT_TRUE(::ConvertStringSecurityDescriptorToSecurityDescriptorW(
        c.sddl, SDDL_REVISION_1, descriptor.Receive(), nullptr));
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    ASSERT_TRUE(::GetSecurityDescriptorControl(descriptor.get(), &control, &revision));
    EXPECT_TRUE(control & SE_DACL_PROTECTED);
    PSID owner = nullptr;
    BOOL defaulted = FALSE;
    ASSERT_TRUE(::GetSecurityDescriptorOwner(descriptor.get(), &owner, &defaulted));
    EXPECT_EQ(owner && ::IsWellKnownSid(owner, WinBuiltinAdministratorsSid),
              c.ownedByAdministrators);
    LocalMemory text;
    ASSERT_TRUE(::ConvertSecurityDescriptorToStringSecurityDescriptorW(
        descriptor.get(), SDDL_REVISION_1, DACL_SECURITY_INFORMATION,
        reinterpret_cast<wchar_t**>(text.Receive()), nullptr));
    EXPECT_EQ(static_cast<const wchar_t*>(text.get()), c.dacl);
  }

  const std::u16string folder = m_base + u"\\Velkaris";
  EXPECT_EQ(platform::MakeProtectedDirectory(folder), platform::kErrorSuccess);
  EXPECT_TRUE(FileExists(folder));
  EXPECT_EQ(platform::MakeProtectedDirectory(folder), platform::kErrorAlreadyExists);
}

}  // namespace
