#include "fs/file_services.h"

#include <string>
#include <vector>

#include "tests/support/sim_test.h"

namespace {

using FileServicesTest = SimTest;

constexpr uint16_t kSilentNoUndoFlags = 0x614;

TEST_F(FileServicesTest, CreateDirectoryTreeFollowsItsSeparatorAndErrorRules) {
  machine().MakeFolders(u"C:\\Existing");
  struct Case {
    const char16_t* path;
    bool result;
    const char16_t* created;  // a folder that must exist afterwards, or null
    const char16_t* absent;   // a folder that must not exist afterwards, or null
  };
  const Case cases[] = {
      // The bare drive prefix "C:" fails and is passed over.
      {u"C:\\Games\\A\\B", true, u"C:\\Games\\A\\B", nullptr},
      {u"C:\\Existing", true, u"C:\\Existing", nullptr},
      {u"C:\\Trailing\\Slash\\", true, u"C:\\Trailing\\Slash", nullptr},
      // "/" is no separator here: one attempt for the whole path.
      {u"C:/Forward/A", false, nullptr, u"C:\\Forward"},
      {u"Q:\\NoSuchDrive\\A", false, nullptr, nullptr},
      {u"", false, nullptr, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(Utf8(c.path));
    EXPECT_EQ(CreateDirectoryTree(c.path), c.result);
    if (c.created) {
      EXPECT_TRUE(machine().Exists(c.created));
    }
    if (c.absent) {
      EXPECT_FALSE(machine().Exists(c.absent));
    }
  }
}

TEST_F(FileServicesTest, CreateDirectoryTreeRefuses260CharactersAndAccepts259) {
  const std::u16string base = u"C:\\Long\\";
  const std::u16string accepted = base + std::u16string(259 - base.size(), u'a');
  const std::u16string refused = base + std::u16string(260 - base.size(), u'b');
  EXPECT_FALSE(CreateDirectoryTree(refused));
  EXPECT_FALSE(machine().Exists(u"C:\\Long"));
  EXPECT_TRUE(CreateDirectoryTree(accepted));
  EXPECT_TRUE(machine().Exists(accepted));
}

TEST_F(FileServicesTest, ShellOperationsAskForSilentFinalOperationsOnDoubleNulLists) {
  machine().WriteFile(u"C:\\Work\\Folder\\inner.txt", "x");
  machine().WriteFile(u"C:\\Work\\file.temp", "new");

  EXPECT_TRUE(DeletePath(u"C:\\Work\\Folder"));
  EXPECT_FALSE(machine().Exists(u"C:\\Work\\Folder"));
  EXPECT_TRUE(RenamePath(u"C:\\Work\\file.temp", u"C:\\Work\\file"));
  EXPECT_EQ(machine().ReadFile(u"C:\\Work\\file"), "new");

  ASSERT_EQ(machine().shellFileOps.size(), 2u);
  const auto& removal = machine().shellFileOps[0];
  EXPECT_EQ(removal.op, platform::ShellFileOp::kDelete);
  EXPECT_TRUE(removal.to.empty());
  const auto& rename = machine().shellFileOps[1];
  EXPECT_EQ(rename.op, platform::ShellFileOp::kRename);
  EXPECT_EQ(rename.to, u"C:\\Work\\file");
  for (const auto& op : machine().shellFileOps) {
    EXPECT_EQ(op.flags, kSilentNoUndoFlags);
    EXPECT_TRUE(op.doubleNulTerminated);
  }
}

TEST_F(FileServicesTest, ShellOperationsReportAnyNonZeroResultAsFailure) {
  machine().WriteFile(u"C:\\Work\\a", "a");
  machine().failShellFileOps = 2;
  EXPECT_FALSE(DeletePath(u"C:\\Work\\a"));
  EXPECT_FALSE(RenamePath(u"C:\\Work\\a", u"C:\\Work\\b"));
  EXPECT_TRUE(machine().Exists(u"C:\\Work\\a"));
  EXPECT_TRUE(machine().transcript.empty());
}

// A copy is renamed into place, the old file deleted first when asked or
// else only when the rename meets it; a rename that keeps failing is tried
// five more times, a second apart, and the copy is left where it was.
TEST_F(FileServicesTest, MoveIntoPlaceRetriesFiveTimesASecondApart) {
  const struct {
    const char* what;
    bool deleteFirst;
    int failing;  // shell operations that fail first
    bool moved;
    std::vector<uint32_t> sleeps;
  } cases[] = {
      {"at once", true, 0, true, {}},
      {"onto the old file, deleted on the first retry", false, 0, true, {1000}},
      {"after two failures", true, 2, true, {1000}},
      {"never", true, 12, false, {1000, 1000, 1000, 1000, 1000}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    machine().WriteFile(u"C:\\Work\\f", "old");
    machine().WriteFile(u"C:\\Work\\f.temp", "new");
    machine().sleeps.clear();
    machine().failShellFileOps = c.failing;
    EXPECT_EQ(MoveIntoPlace(u"C:\\Work\\f.temp", u"C:\\Work\\f", c.deleteFirst), c.moved);
    EXPECT_EQ(machine().ReadFile(u"C:\\Work\\f"), c.moved ? "new" : "old");
    EXPECT_EQ(machine().Exists(u"C:\\Work\\f.temp"), !c.moved);
    EXPECT_EQ(machine().sleeps, c.sleeps);
    machine().failShellFileOps = 0;
  }
}

TEST_F(FileServicesTest, ShellOperationsRefusePathsThatDoNotFormOneEntryList) {
  // 1,022 characters leave room for the two NULs of the list; 1,023 do not.
  const std::u16string fits = u"C:\\" + std::u16string(1019, u'a');
  const std::u16string tooLong = fits + u"a";
  const std::u16string twoEntries(u"C:\\Work\0C:\\Windows", 18);
  EXPECT_FALSE(DeletePath(tooLong));
  EXPECT_FALSE(DeletePath(twoEntries));
  EXPECT_FALSE(RenamePath(u"C:\\a", tooLong));
  EXPECT_FALSE(RenamePath(twoEntries, u"C:\\b"));
  EXPECT_TRUE(machine().shellFileOps.empty());

  DeletePath(fits);
  ASSERT_EQ(machine().shellFileOps.size(), 1u);
  EXPECT_EQ(machine().shellFileOps[0].from, fits);
  EXPECT_TRUE(machine().shellFileOps[0].doubleNulTerminated);
}

TEST_F(FileServicesTest, AnsiToWideConvertsTheAnsiCodePage) {
  // The simulated machine's ANSI code page is Latin-1.
  EXPECT_EQ(AnsiToWide("caf\xE9"), u"caf\u00E9");
  EXPECT_EQ(AnsiToWideFallback("\xE9t\xE9"), u"\u00E9t\u00E9");
}

TEST(HresultFromWin32, MapsPositiveCodesIntoTheWin32Facility) {
  struct Case {
    uint32_t code;
    uint32_t hresult;
  };
  const Case cases[] = {
      {0, 0},
      {5, 0x80070005},
      {122, 0x8007007A},
      {0x12345, 0x80072345},  // only the low 16 bits are kept
      {0x80004005, 0x80004005},  // already an HRESULT
  };
  for (const Case& c : cases) {
    EXPECT_EQ(static_cast<uint32_t>(HresultFromWin32(c.code)), c.hresult) << c.code;
  }
}

}  // namespace
