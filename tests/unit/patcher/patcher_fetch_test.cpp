#include "patcher/patcher_fetch.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/unit/patcher/patcher_test.h"
#include "ui/messages.h"

namespace {

using platform::ShellFileOp;
using Paths = std::vector<std::string>;
using Sleeps = std::vector<uint32_t>;

constexpr int kAlwaysFail = 1000;

class PatcherFetch : public PatcherTest {
 protected:
  // A release on the server, and an install one version behind it.
  void PublishRelease(const std::string& list) {
    Serve("patcher_files_version", list);
    Serve("VelkarisPatcher32.vke", "new patcher");
    Write(u"VelkarisPatcher32.vke", "old patcher");
    Write(u"patcher_files_version", "b.dat 1\r\n");
    machine().MakeFolders(std::u16string(kInstall) + u"\\locales");
  }

  std::vector<ShellFileOp> ShellOps() const {
    std::vector<ShellFileOp> ops;
    for (const auto& record : machine().shellFileOps) ops.push_back(record.op);
    return ops;
  }

  void ExpectOneBox(const char16_t* caption, const char16_t* text) {
    ASSERT_EQ(Boxes().size(), 1u);
    EXPECT_EQ(Boxes()[0].first, caption);
    EXPECT_EQ(Boxes()[0].second, text);
    EXPECT_EQ(machine().transcript[0].owner, Splash());
  }
};

TEST_F(PatcherFetch, APresentLauncherCopyIsNeverFetched) {
  Serve("VelkarisLauncher.exe", "server launcher");
  machine().WriteFile(u"C:\\Games\\X\\VelkarisLauncher.exe", "local launcher");
  // The presence test looks in the folder given, not in the current one.
  EXPECT_TRUE(EnsureLauncherCopy(u"C:\\Games\\X"));
  EXPECT_TRUE(Requests().empty());
  EXPECT_EQ(machine().ReadFile(u"C:\\Games\\X\\VelkarisLauncher.exe"), "local launcher");
  EXPECT_FALSE(Exists(u"VelkarisLauncher.exe"));
}

TEST_F(PatcherFetch, AMissingLauncherCopyIsFetchedOverALeftoverTemporary) {
  Serve("VelkarisLauncher.exe", "server launcher");
  Write(u"VelkarisLauncher.exe.temp", "left over by an earlier run, and longer");
  EXPECT_TRUE(EnsureLauncherCopy(kInstall));
  EXPECT_EQ(Requests(), Paths{"VelkarisLauncher.exe"});
  EXPECT_EQ(Read(u"VelkarisLauncher.exe"), "server launcher");
  EXPECT_FALSE(Exists(u"VelkarisLauncher.exe.temp"));
  EXPECT_TRUE(machine().sleeps.empty());
}

TEST_F(PatcherFetch, ALauncherCopyThatCannotBeDownloadedIsReported) {
  EXPECT_FALSE(EnsureLauncherCopy(kInstall));
  ExpectOneBox(u"Launcher-ex", g_messages.MsgUpdateDownloadFailed);
  EXPECT_FALSE(Exists(u"VelkarisLauncher.exe"));
}

TEST_F(PatcherFetch, UpdateFetchesListPatcherAndRisenEntriesThenMovesThemIntoPlace) {
  PublishRelease("locales\\a.pak 2\r\nb.dat 1\r\nc.dat 5\r\n");
  Serve("locales/a.pak", "pak");
  Serve("c.dat", "c");

  EXPECT_TRUE(UpdatePatcher());
  EXPECT_EQ(Requests(),
            (Paths{"patcher_files_version", "VelkarisPatcher32.vke", "c.dat", "locales/a.pak"}));
  EXPECT_EQ(Read(u"locales\\a.pak"), "pak");
  EXPECT_EQ(Read(u"c.dat"), "c");
  EXPECT_EQ(Read(u"VelkarisPatcher32.vke"), "new patcher");
  EXPECT_EQ(Read(u"patcher_files_version"), "locales\\a.pak 2\r\nb.dat 1\r\nc.dat 5\r\n");
  EXPECT_FALSE(Exists(u"VelkarisPatcher32.vke.temp"));
  EXPECT_FALSE(Exists(u"patcher_files_version_tmp"));
  EXPECT_TRUE(Boxes().empty());
  // The new list's first rename meets the old list, which only a retry
  // deletes.
  EXPECT_EQ(machine().sleeps, Sleeps{1000});
}

TEST_F(PatcherFetch, AnEmptyChangeListStillFetchesThePatcherAndMovesTheList) {
  PublishRelease("b.dat 1\r\n");
  EXPECT_TRUE(UpdatePatcher());
  EXPECT_EQ(Requests(), (Paths{"patcher_files_version", "VelkarisPatcher32.vke"}));
  EXPECT_EQ(Read(u"VelkarisPatcher32.vke"), "new patcher");
  EXPECT_EQ(Read(u"patcher_files_version"), "b.dat 1\r\n");
}

// Each interruption leaves the old patcher and the old list, so the next run
// selects and fetches the same files again.
struct InterruptionCase {
  const char* what;
  bool serveList;
  bool servePatcher;
  const char16_t* caption;
  Paths requests;
  bool listCopyLeft;
  bool patcherCopyLeft;
};

TEST_F(PatcherFetch, AnInterruptedUpdateLeavesTheOldPatcherAndListInPlace) {
  const InterruptionCase cases[] = {
      {"list", false, true, u"patcher_files_version", {"patcher_files_version"}, false, false},
      {"patcher", true, false, u"Launcher", {"patcher_files_version", "VelkarisPatcher32.vke"},
       true, false},
      {"entry", true, true, u"Launcher-ad",
       {"patcher_files_version", "VelkarisPatcher32.vke", "a.dat", "m.dat"}, true, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Restart();
    PublishRelease("a.dat 1\r\nm.dat 1\r\nz.dat 1\r\n");
    Serve("a.dat", "a");
    Serve("z.dat", "z");  // m.dat is not published
    if (!c.serveList) DownloadServer().RemoveRoute("/UploadData/patcher_files_version");
    if (!c.servePatcher) DownloadServer().RemoveRoute("/UploadData/VelkarisPatcher32.vke");

    EXPECT_FALSE(UpdatePatcher());
    EXPECT_EQ(Requests(), c.requests);
    ASSERT_EQ(Boxes().size(), 1u);
    EXPECT_EQ(Boxes()[0].first, c.caption);
    EXPECT_EQ(Read(u"VelkarisPatcher32.vke"), "old patcher");
    EXPECT_EQ(Read(u"patcher_files_version"), "b.dat 1\r\n");
    EXPECT_EQ(Exists(u"patcher_files_version_tmp"), c.listCopyLeft);
    EXPECT_EQ(Exists(u"VelkarisPatcher32.vke.temp"), c.patcherCopyLeft);
    EXPECT_FALSE(Exists(u"m.dat"));
    EXPECT_FALSE(Exists(u"z.dat"));
  }
}

TEST_F(PatcherFetch, EntriesFetchedBeforeAnInterruptionAreFetchedAgainNextTime) {
  PublishRelease("a.dat 1\r\nm.dat 1\r\n");
  Serve("a.dat", "a");
  ASSERT_FALSE(UpdatePatcher());
  EXPECT_EQ(Read(u"a.dat"), "a");

  Serve("m.dat", "m");
  DownloadServer().ClearRequests();
  EXPECT_TRUE(UpdatePatcher());
  EXPECT_EQ(Requests(),
            (Paths{"patcher_files_version", "VelkarisPatcher32.vke", "a.dat", "m.dat"}));
}

TEST_F(PatcherFetch, AnEntryInAFolderThatDoesNotExistCannotBeWritten) {
  PublishRelease("maps\\x.map 1\r\n");
  Serve("maps/x.map", "map");
  EXPECT_FALSE(UpdatePatcher());
  ExpectOneBox(u"Launcher-ad", g_messages.MsgUpdateDownloadFailed);
  EXPECT_FALSE(Exists(u"maps"));
  EXPECT_EQ(Read(u"VelkarisPatcher32.vke"), "old patcher");
}

TEST_F(PatcherFetch, ListNamesReachingOutsideTheInstallFolderAreRefusedUnrequested) {
  const char* const names[] = {"..\\..\\Windows\\System32\\x.dll", "C:\\x.dll", "\\x.dll",
                               "\\\\host\\share\\x.dll", "x.dat::$DATA", "locales\\..\\..\\x.dll",
                               "CON", "lpt1.dat", "x.dat."};
  for (const char* name : names) {
    SCOPED_TRACE(name);
    Restart();
    PublishRelease(std::string(name) + " 1\r\n");
    EXPECT_FALSE(UpdatePatcher());
    EXPECT_EQ(Requests(), (Paths{"patcher_files_version", "VelkarisPatcher32.vke"}));
    ExpectOneBox(u"Launcher-ad", g_messages.MsgUpdateDownloadFailed);
    EXPECT_FALSE(machine().Exists(u"C:\\x.dll"));
    EXPECT_FALSE(machine().Exists(u"C:\\Windows"));
    EXPECT_EQ(Read(u"patcher_files_version"), "b.dat 1\r\n");
  }
}

TEST_F(PatcherFetch, EntriesBeforeARefusedNameAreFetchedAndTheRestAreNot) {
  PublishRelease("a.dat 1\r\nb\\..\\..\\x.dll 1\r\nc.dat 1\r\n");
  Serve("a.dat", "a");
  Serve("c.dat", "c");
  EXPECT_FALSE(UpdatePatcher());
  EXPECT_EQ(Requests(), (Paths{"patcher_files_version", "VelkarisPatcher32.vke", "a.dat"}));
  EXPECT_FALSE(Exists(u"c.dat"));
}

TEST_F(PatcherFetch, ARenameThatSucceedsOnItsFirstRetryWaitedOneSecond) {
  Write(u"new.temp", "new");
  machine().failShellFileOps = 1;
  EXPECT_TRUE(ReplaceWithRetry(u"new.temp", u"final", false));
  EXPECT_EQ(machine().sleeps, Sleeps{1000});
  EXPECT_EQ(ShellOps(), (std::vector<ShellFileOp>{ShellFileOp::kRename, ShellFileOp::kDelete,
                                                  ShellFileOp::kRename}));
  EXPECT_EQ(Read(u"final"), "new");
  EXPECT_TRUE(Boxes().empty());
}

TEST_F(PatcherFetch, ARenameThatKeepsFailingWaitsFiveSecondsAndReportsOnce) {
  Write(u"new.temp", "new");
  Write(u"final", "old");
  machine().failShellFileOps = kAlwaysFail;
  EXPECT_FALSE(ReplaceWithRetry(u"new.temp", u"final", true));
  EXPECT_EQ(machine().sleeps, Sleeps(5, 1000));
  std::vector<ShellFileOp> expected;
  for (int attempt = 0; attempt < 6; ++attempt) {
    expected.push_back(ShellFileOp::kDelete);
    expected.push_back(ShellFileOp::kRename);
  }
  EXPECT_EQ(ShellOps(), expected);
  ExpectOneBox(u"Launcher", g_messages.MsgUpdateVersionChangeFailed);
  EXPECT_EQ(Read(u"new.temp"), "new");
}

TEST_F(PatcherFetch, WithoutDeleteFirstTheOldFileGoesOnlyAfterTheFirstWait) {
  Write(u"new.temp", "new");
  Write(u"final", "old");
  machine().onSleep = [](sim::Machine& m) {
    // Only the failed rename has happened when the wait starts.
    EXPECT_EQ(m.shellFileOps.size(), 1u);
    EXPECT_EQ(m.ReadFile(u"C:\\Games\\Velkaris\\final"), "old");
  };
  EXPECT_TRUE(ReplaceWithRetry(u"new.temp", u"final", false));
  EXPECT_EQ(machine().sleeps, Sleeps{1000});
  EXPECT_EQ(ShellOps(), (std::vector<ShellFileOp>{ShellFileOp::kRename, ShellFileOp::kDelete,
                                                  ShellFileOp::kRename}));
  EXPECT_EQ(Read(u"final"), "new");
}

}  // namespace
