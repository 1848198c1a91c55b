#include "patcher/version_manager.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/unit/patcher/patcher_test.h"
#include "ui/messages.h"

namespace {

using Names = std::vector<std::u16string>;

Box ManagerNote(const char16_t* text) { return {u"Launcher", text, nullptr}; }

class VersionManager : public PatcherTest {};

TEST_F(VersionManager, FirstRunCreatesTheRecordAnEmptyListAndTheLocalesFolder) {
  Write(u"patcher_files_version", "a.dat 3\r\n");
  EXPECT_TRUE(CVPatcherVersionManager::InitVersionFiles());
  EXPECT_EQ(Read(u"patcher_version"), std::string("\x30\x0D\x0A\x30"));
  EXPECT_EQ(Read(u"patcher_files_version"), "");
  EXPECT_TRUE(std::filesystem::is_directory(HostPath(u"locales")));
  EXPECT_TRUE(Boxes().empty());
}

TEST_F(VersionManager, AnExistingRecordLeavesEverythingAsItIs) {
  Write(u"patcher_version", "5\r\n1");
  EXPECT_TRUE(CVPatcherVersionManager::InitVersionFiles());
  EXPECT_EQ(Read(u"patcher_version"), "5\r\n1");
  EXPECT_FALSE(Exists(u"patcher_files_version"));
  EXPECT_FALSE(Exists(u"locales"));
}

TEST_F(VersionManager, InitReportsAnUncreatableRecordAndFailsSilentlyOnAnUncreatableList) {
  MakeUnopenable(HostPath(u"patcher_version"));
  EXPECT_TRUE(CVPatcherVersionManager::InitVersionFiles());
  EXPECT_EQ(Boxes(), std::vector<Box>{ManagerNote(u"failed to restore patcher version.")});

  Restart();
  MakeUnopenable(HostPath(u"patcher_files_version"));
  EXPECT_FALSE(CVPatcherVersionManager::InitVersionFiles());
  EXPECT_TRUE(Boxes().empty());
}

struct StateCase {
  const char* server;
  std::string local;
  int32_t state;
  const char* written;  // by ModifyVersion
};

TEST_F(VersionManager, StateComparesOnlyTheFirstNumbersAndModifyKeepsTheLocalSecond) {
  const StateCase cases[] = {
      {"120\r\n7", "119\r\n3", VersionStateChanged, "120\r\n3"},
      {"5\r\n0", "6\r\n0", VersionStateChanged, "5\r\n0"},  // a lower server version too
      {"7\r\n9", "7\r\n2", VersionStateSame, "7\r\n2"},
      {"8", "7", VersionStateChanged, "8\r\n0"},      // a missing second number stays 0
      {"", "7\r\n1", VersionStateChanged, "0\r\n1"},  // an empty record: version 0
      {"-1 0", "4294967295 5", VersionStateSame, "-1\r\n5"},
      // The player's own record is read whatever its size; its second
      // number survives.
      {"9\r\n0", "8\r\n4" + std::string(8192, ' '), VersionStateChanged, "9\r\n4"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.server);
    DownloadServer().ClearRequests();
    Serve("patcher_version", c.server);
    Write(u"patcher_version", c.local);
    CVPatcherVersionManager manager(run);
    EXPECT_EQ(manager.GetVersionState(), c.state);
    EXPECT_EQ(Requests(), Paths{"patcher_version"});
    EXPECT_FALSE(Exists(u"patcher_version_tmp"));
    EXPECT_TRUE(manager.ModifyVersion());
    EXPECT_EQ(Read(u"patcher_version"), c.written);
  }
  EXPECT_TRUE(Boxes().empty());
}

TEST_F(VersionManager, ADeterminedStateIsKeptWithoutAskingAgain) {
  Serve("patcher_version", "8\r\n0");
  Write(u"patcher_version", "7\r\n0");
  CVPatcherVersionManager manager(run);
  ASSERT_EQ(manager.GetVersionState(), VersionStateChanged);
  Serve("patcher_version", "7\r\n0");
  EXPECT_EQ(manager.GetVersionState(), VersionStateChanged);
  EXPECT_EQ(Requests().size(), 1u);
}

TEST_F(VersionManager, AnUnreadableLocalRecordFailsQuietlyAndTheNextCallDownloadsAgain) {
  Serve("patcher_version", "8\r\n0");
  CVPatcherVersionManager manager(run);
  EXPECT_EQ(manager.GetVersionState(), VersionStateFailed);
  EXPECT_FALSE(manager.ModifyVersion());  // not determined: nothing written
  EXPECT_FALSE(Exists(u"patcher_version"));
  EXPECT_TRUE(Boxes().empty());

  Write(u"patcher_version", "8\r\n0");
  EXPECT_EQ(manager.GetVersionState(), VersionStateSame);
  EXPECT_EQ(Requests(), (Paths{"patcher_version", "patcher_version"}));
}

// A copy that cannot be read back is left as it is: the server's record for
// the main flow to delete, the player's own not reset.
TEST_F(VersionManager, VersionFilesThatCannotBeReadBackAreLeftAsTheyAre) {
  using Fault = sim::Machine::ReadFault;
  Serve("patcher_version", "8\r\n0");
  Write(u"patcher_version", "7\r\n0");
  machine().readFaults = {{Local(u"patcher_version_tmp"), Fault::kOpen}};
  EXPECT_EQ(CVPatcherVersionManager(run).GetVersionState(), VersionStateFailed);
  EXPECT_EQ(Boxes(),
            std::vector<Box>{ManagerNote(u"Failed to read patcher version information.")});
  EXPECT_EQ(Read(u"patcher_version_tmp"), "8\r\n0");

  // Every read of the player's record fails: its numbers stay as they were,
  // as a scan that reads nothing leaves them.
  machine().readFaults = {{Local(u"patcher_version"), Fault::kRead}};
  EXPECT_EQ(CVPatcherVersionManager(run).GetVersionState(), VersionStateChanged);
  EXPECT_EQ(Read(u"patcher_version"), "7\r\n0");

  // The server's list: the update ends without a box.
  machine().readFaults = {{Local(u"patcher_files_version_tmp"), Fault::kOpen}};
  Serve("patcher_files_version", "a 1");
  Names changed;
  StagedFiles staged;
  EXPECT_EQ(CVPatcherVersionManager(run).CollectChangedFiles(staged, &changed),
            FetchResult::kUnreadable);
  EXPECT_EQ(Boxes().size(), 1u);
}

TEST_F(VersionManager, AServerRecordThatCannotBeDownloadedEndsTheProcessAtOnce) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  Write(u"patcher_version", "7\r\n0");
  // Nothing is published: the server answers 404.
  EXPECT_EXIT(CVPatcherVersionManager(run).GetVersionState(), testing::ExitedWithCode(255), "");
  // A record beyond its size limit counts as not downloaded.
  Serve("patcher_version", "8\r\n0" + std::string(kMaxRecordBytes, ' '));
  EXPECT_EXIT(CVPatcherVersionManager(run).GetVersionState(), testing::ExitedWithCode(255), "");
}

TEST_F(VersionManager, RecordsThatCannotBeWrittenAreReported) {
  Serve("patcher_version", "8\r\n0");
  Write(u"patcher_version", "7\r\n0");
  CVPatcherVersionManager manager(run);
  ASSERT_EQ(manager.GetVersionState(), VersionStateChanged);
  MakeUnopenable(HostPath(u"patcher_version"));
  EXPECT_FALSE(manager.ModifyVersion());
  EXPECT_FALSE(manager.RestoreVersion());
  EXPECT_EQ(Boxes(), (std::vector<Box>{ManagerNote(u"failed to modify patcher version."),
                                       ManagerNote(u"failed to restore patcher version.")}));
}

struct ChangeCase {
  const char* what;
  const char* server;
  const char* local;  // nullptr: no local list
  Names changed;
};

TEST_F(VersionManager, ChangedFilesAreThoseWhoseUnsignedNumberRose) {
  const std::string overLimit = "a 1" + std::string(kMaxListBytes, ' ');
  const ChangeCase cases[] = {
      {"all current", "a.dat 3\r\nb.dat 1\r\n", "a.dat 3\r\nb.dat 2\r\n", {}},
      {"one rose, one is new", "a.dat 3\r\nb.dat 1\r\n", "a.dat 2\r\n", {u"a.dat", u"b.dat"}},
      {"-1 is newer than any other number", "a -1 b -1", "a 2147483647 b -1", {u"a"}},
      {"no local list: everything", "b 1 a 1", nullptr, {u"a", u"b"}},
      {"empty server list", "", "a 1", {}},
      {"names only in the local list are ignored", "a 1", "a 1 z 5", {}},
      {"in code-unit order", "b 1 \xE9 1 B 1 ab 1 a 1", "", {u"B", u"a", u"ab", u"b", u"\u00E9"}},
      {"a local list beyond its limits: everything", "a 1", overLimit.c_str(), {u"a"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Serve("patcher_files_version", c.server);
    std::filesystem::remove(HostPath(u"patcher_files_version"));
    if (c.local) Write(u"patcher_files_version", c.local);
    Names changed{u"kept"};  // appended to, never cleared
    StagedFiles staged;
    EXPECT_EQ(CVPatcherVersionManager(run).CollectChangedFiles(staged, &changed),
              FetchResult::kFetched);
    Names expected{u"kept"};
    expected.insert(expected.end(), c.changed.begin(), c.changed.end());
    EXPECT_EQ(changed, expected);
    // The server's list stays for the update to move into place.
    EXPECT_EQ(Read(u"patcher_files_version_tmp"), c.server);
  }
}

TEST_F(VersionManager, AServerListThatCannotBeDownloadedIsReportedOverTheSplash) {
  const Box failed =
      SplashBox(u"patcher_files_version", g_messages.MsgPatcherVersionDownloadFailed);
  Names changed;
  StagedFiles staged;
  EXPECT_EQ(CVPatcherVersionManager(run).CollectChangedFiles(staged, &changed),
            FetchResult::kFailed);
  EXPECT_EQ(Boxes(), std::vector<Box>{failed});
  // A list beyond its limits counts as not downloaded.
  Serve("patcher_files_version", "a 1" + std::string(kMaxListBytes, ' '));
  EXPECT_EQ(CVPatcherVersionManager(run).CollectChangedFiles(staged, &changed),
            FetchResult::kFailed);
  EXPECT_EQ(Boxes(), (std::vector<Box>{failed, failed}));
  EXPECT_TRUE(changed.empty());
}

}  // namespace
