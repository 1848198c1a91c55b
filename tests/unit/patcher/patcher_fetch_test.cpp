#include "patcher/patcher_fetch.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "release/version_files.h"
#include "tests/unit/patcher/patcher_test.h"
#include "ui/messages.h"

namespace {

using platform::ShellFileOp;
using Sleeps = std::vector<uint32_t>;

constexpr ShellFileOp kDelete = ShellFileOp::kDelete;
constexpr ShellFileOp kRename = ShellFileOp::kRename;

Box DownloadFailed(const char16_t* caption) {
  return SplashBox(caption, g_messages.MsgUpdateDownloadFailed);
}

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

  static std::vector<ShellFileOp> ShellOps() {
    std::vector<ShellFileOp> ops;
    for (const auto& record : machine().shellFileOps) ops.push_back(record.op);
    return ops;
  }
};

TEST_F(PatcherFetch, APresentLauncherCopyIsNeverFetched) {
  Serve("VelkarisLauncher.exe", "server launcher");
  machine().WriteFile(u"C:\\Games\\X\\VelkarisLauncher.exe", "local launcher");
  // The presence test looks in the folder given, not in the current one.
  EXPECT_TRUE(EnsureLauncherCopy(run, u"C:\\Games\\X"));
  EXPECT_TRUE(Requests().empty());
  EXPECT_EQ(machine().ReadFile(u"C:\\Games\\X\\VelkarisLauncher.exe"), "local launcher");
}

TEST_F(PatcherFetch, AMissingLauncherCopyIsFetchedOverALeftoverTemporary) {
  Serve("VelkarisLauncher.exe", "server launcher");
  Write(u"VelkarisLauncher.exe.temp", "left over by an earlier run, and longer");
  EXPECT_TRUE(EnsureLauncherCopy(run, kInstall));
  EXPECT_EQ(Requests(), Paths{"VelkarisLauncher.exe"});
  EXPECT_EQ(Read(u"VelkarisLauncher.exe"), "server launcher");
  EXPECT_FALSE(Exists(u"VelkarisLauncher.exe.temp"));

  Restart();
  EXPECT_FALSE(EnsureLauncherCopy(run, kInstall));
  EXPECT_EQ(Boxes(), std::vector<Box>{DownloadFailed(u"Launcher-ex")});
}

TEST_F(PatcherFetch, UpdateFetchesListPatcherAndRisenEntriesThenMovesThemIntoPlace) {
  PublishRelease("locales\\a.pak 2\r\nb.dat 1\r\nc.dat 5\r\n");
  Serve("locales/a.pak", "pak");
  Serve("c.dat", "c");
  EXPECT_EQ(UpdatePatcher(run), FetchResult::kFetched);
  EXPECT_EQ(Requests(),
            (Paths{"patcher_files_version", "VelkarisPatcher32.vke", "c.dat", "locales/a.pak"}));
  EXPECT_EQ(Read(u"locales\\a.pak"), "pak");
  EXPECT_EQ(Read(u"c.dat"), "c");
  EXPECT_EQ(Read(u"VelkarisPatcher32.vke"), "new patcher");
  EXPECT_EQ(Read(u"patcher_files_version"), "locales\\a.pak 2\r\nb.dat 1\r\nc.dat 5\r\n");
  EXPECT_FALSE(Exists(u"VelkarisPatcher32.vke.temp"));
  EXPECT_FALSE(Exists(u"patcher_files_version_tmp"));
  EXPECT_TRUE(Boxes().empty());
  // The new list's first rename meets the old list, which a retry deletes.
  EXPECT_EQ(machine().sleeps, Sleeps{1000});

  Restart();
  PublishRelease("b.dat 1\r\n");  // nothing rose: the patcher still comes
  // The only host is held to the rate rule alone: a pause that would pass
  // a host over for a mirror is waited out, in the same request.
  Serve("VelkarisPatcher32.vke", testhttp::Response::Ok("new patcher").Trickle(6, 2500));
  EXPECT_EQ(UpdatePatcher(run), FetchResult::kFetched);
  EXPECT_EQ(Requests(), (Paths{"patcher_files_version", "VelkarisPatcher32.vke"}));
  EXPECT_EQ(Read(u"VelkarisPatcher32.vke"), "new patcher");
}

// Each interruption leaves the old patcher and the old list, so the next run
// selects and fetches the same files again.
struct InterruptionCase {
  const char* unpublished;
  Box box;
  Paths requests;
  bool listCopyLeft;
  bool patcherCopyLeft;
};

TEST_F(PatcherFetch, AnInterruptedUpdateLeavesTheOldPatcherAndListInPlace) {
  const InterruptionCase cases[] = {
      {"patcher_files_version",
       SplashBox(u"patcher_files_version", g_messages.MsgPatcherVersionDownloadFailed),
       {"patcher_files_version"}, false, false},
      {"VelkarisPatcher32.vke", DownloadFailed(u"Launcher"),
       {"patcher_files_version", "VelkarisPatcher32.vke"}, true, false},
      {"m.dat", DownloadFailed(u"Launcher-ad"),
       {"patcher_files_version", "VelkarisPatcher32.vke", "a.dat", "m.dat"}, true, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.unpublished);
    Restart();
    PublishRelease("a.dat 1\r\nm.dat 1\r\nz.dat 1\r\n");
    Serve("a.dat", "a");
    Serve("m.dat", "m");
    Serve("z.dat", "z");
    Unpublish(c.unpublished);
    EXPECT_EQ(UpdatePatcher(run), FetchResult::kFailed);
    EXPECT_EQ(Requests(), c.requests);
    EXPECT_EQ(Boxes(), std::vector<Box>{c.box});
    EXPECT_EQ(Read(u"VelkarisPatcher32.vke"), "old patcher");
    EXPECT_EQ(Read(u"patcher_files_version"), "b.dat 1\r\n");
    EXPECT_EQ(Exists(u"patcher_files_version_tmp"), c.listCopyLeft);
    EXPECT_EQ(Exists(u"VelkarisPatcher32.vke.temp"), c.patcherCopyLeft);
    EXPECT_FALSE(Exists(u"z.dat"));
  }
}

// On a Traditional Chinese machine the names are checked as text in code
// page 950, where 許 is "\xB3\x5C" and 四 "\xA5\x7C"; bytes that are no
// text there name no file. Each is listed before "！.dat" ("\xA1\x49.dat",
// U+FF01), which is never fetched.
TEST_F(PatcherFetch, UnsafeListNamesAreRefusedUnrequested) {
  const std::string names[] = {"..\\..\\x.dll", "C:\\x.dll", "locales\\..\\..\\x.dll", "CON",
                               std::string(kMaxListNameLength + 1, 'n'),
                               "\xB3\x5C\\..\\..\\x.dll",  // 許\..\..\x.dll
                               "locales\\\xA5\x7C\\NUL",   // locales\四\NUL
                               "\xB3\x5C\xA5",             // a lone first byte
                               "\xA3\xFE.txt"};            // a pair with no character
  for (const std::string& name : names) {
    SCOPED_TRACE(testing::PrintToString(name));
    Restart();
    machine().ansiCodePage = 950;
    PublishRelease(name + " 1\r\n\xA1\x49.dat 1\r\n");
    Serve("%a1I.dat", "later");
    EXPECT_EQ(UpdatePatcher(run), FetchResult::kFailed);
    EXPECT_EQ(Requests(), (Paths{"patcher_files_version", "VelkarisPatcher32.vke"}));
    EXPECT_EQ(Boxes(), std::vector<Box>{DownloadFailed(u"Launcher-ad")});
    EXPECT_FALSE(machine().Exists(u"C:\\x.dll"));
    EXPECT_EQ(Read(u"patcher_files_version"), "b.dat 1\r\n");
  }
}

TEST_F(PatcherFetch, ARenameThatKeepsFailingWaitsFiveSecondsAndReportsOnce) {
  Write(u"new.temp", "new");
  machine().failShellFileOps = 1000;
  EXPECT_FALSE(ReplaceWithRetry(u"new.temp", u"final", true));
  EXPECT_EQ(machine().sleeps, Sleeps(5, 1000));
  std::vector<ShellFileOp> sixAttempts;
  for (int attempt = 0; attempt < 6; ++attempt) sixAttempts.insert(sixAttempts.end(), {kDelete, kRename});
  EXPECT_EQ(ShellOps(), sixAttempts);
  EXPECT_EQ(Boxes(), std::vector<Box>{SplashBox(u"Launcher", g_messages.MsgUpdateVersionChangeFailed)});
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
  EXPECT_EQ(ShellOps(), (std::vector<ShellFileOp>{kRename, kDelete, kRename}));
  EXPECT_EQ(Read(u"final"), "new");
}

}  // namespace
