#include "patcher/version_check.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "tests/unit/patcher/patcher_test.h"
#include "ui/messages.h"

namespace {

using Paths = std::vector<std::string>;
using Box = std::pair<std::u16string, std::u16string>;

constexpr char16_t kLauncher[] = u"Launcher";

class VersionCheck : public PatcherTest {
 protected:
  void SetUp() override {
    PatcherTest::SetUp();
    Serve("patcher_files_version", "a.dat 2\r\n");
    Serve("VelkarisPatcher32.vke", "new patcher");
    Serve("a.dat", "a");
    Write(u"VelkarisPatcher32.vke", "old patcher");
    Write(u"patcher_files_version", "a.dat 1\r\n");
    machine().MakeFolders(std::u16string(kInstall) + u"\\locales");
  }

  static Box StepFailed(const char16_t* suffix) {
    return {kLauncher, std::u16string(g_messages.MsgVersionUpdateFailed) + suffix};
  }

  // Takes the local record away while the server's record is requested the
  // first `times` times, as a record that cannot be opened; an unwritable
  // one is left in its place when asked.
  void LoseLocalRecordOnRequests(int times, bool leaveUnopenable) {
    DownloadServer().SetRequestObserver(
        [record = HostPath(u"patcher_version"), times, leaveUnopenable](
            const testhttp::RecordedRequest& request) mutable {
          if (request.target != "/UploadData/patcher_version" || times-- <= 0) return;
          std::filesystem::remove(record);
          if (leaveUnopenable) MakeUnopenable(record);
        });
  }
};

TEST_F(VersionCheck, EqualVersionsNeedOnlyTheServersRecord) {
  Write(u"patcher_version", "7\r\n2");
  Serve("patcher_version", "7\r\n9");
  EXPECT_TRUE(CheckPatcherVersion());
  EXPECT_EQ(Requests(), Paths{"patcher_version"});
  EXPECT_EQ(Read(u"patcher_version"), "7\r\n2");
  EXPECT_TRUE(Boxes().empty());
}

TEST_F(VersionCheck, ADifferentVersionUpdatesAndThenRecordsTheServersVersion) {
  Write(u"patcher_version", "7\r\n2");
  Serve("patcher_version", "8\r\n9");
  EXPECT_TRUE(CheckPatcherVersion());
  EXPECT_EQ(Requests(), (Paths{"patcher_version", "patcher_files_version",
                               "VelkarisPatcher32.vke", "a.dat"}));
  EXPECT_EQ(Read(u"patcher_version"), "8\r\n2");
  EXPECT_EQ(Read(u"VelkarisPatcher32.vke"), "new patcher");
  EXPECT_TRUE(Boxes().empty());
}

TEST_F(VersionCheck, AFirstRunInAnEmptyFolderFetchesEverything) {
  std::filesystem::remove(HostPath(u"patcher_files_version"));
  std::filesystem::remove(HostPath(u"VelkarisPatcher32.vke"));
  Serve("patcher_version", "3\r\n4");
  EXPECT_TRUE(CheckPatcherVersion());
  EXPECT_EQ(Read(u"patcher_version"), "3\r\n0");
  EXPECT_EQ(Read(u"a.dat"), "a");
  EXPECT_EQ(Read(u"patcher_files_version"), "a.dat 2\r\n");
}

TEST_F(VersionCheck, AFailedUpdateLeavesTheRecordForTheNextRun) {
  Write(u"patcher_version", "7\r\n2");
  Serve("patcher_version", "8\r\n9");
  DownloadServer().RemoveRoute("/UploadData/a.dat");
  EXPECT_FALSE(CheckPatcherVersion());
  EXPECT_EQ(Read(u"patcher_version"), "7\r\n2");
  // Only the update's own message.
  ASSERT_EQ(Boxes().size(), 1u);
  EXPECT_EQ(Boxes()[0].first, u"Launcher-ad");
}

TEST_F(VersionCheck, VersionFilesThatCannotBeCreatedEndTheCheckSilently) {
  std::filesystem::remove(HostPath(u"patcher_files_version"));
  MakeUnopenable(HostPath(u"patcher_files_version"));
  EXPECT_FALSE(CheckPatcherVersion());
  EXPECT_TRUE(Requests().empty());
  EXPECT_TRUE(Boxes().empty());
}

TEST_F(VersionCheck, AnUnreadableRecordIsResetAndTheServerAskedAgain) {
  Write(u"patcher_version", "7\r\n2");
  Serve("patcher_version", "8\r\n9");
  LoseLocalRecordOnRequests(1, false);
  EXPECT_TRUE(CheckPatcherVersion());
  EXPECT_EQ(Requests(), (Paths{"patcher_version", "patcher_version", "patcher_files_version",
                               "VelkarisPatcher32.vke", "a.dat"}));
  // Reset to 0/0, then updated: the second number is the reset one.
  EXPECT_EQ(Read(u"patcher_version"), "8\r\n0");
  EXPECT_TRUE(Boxes().empty());
}

TEST_F(VersionCheck, AfterTheResetAServerVersionOfZeroNeedsNoUpdate) {
  Write(u"patcher_version", "7\r\n2");
  Serve("patcher_version", "0\r\n9");
  LoseLocalRecordOnRequests(1, false);
  EXPECT_TRUE(CheckPatcherVersion());
  EXPECT_EQ(Requests(), (Paths{"patcher_version", "patcher_version"}));
  EXPECT_EQ(Read(u"patcher_version"), "0\r\n0");
}

TEST_F(VersionCheck, ARecordThatCannotBeResetShowsTheManagersNoteThenRestore) {
  Write(u"patcher_version", "7\r\n2");
  Serve("patcher_version", "8\r\n9");
  LoseLocalRecordOnRequests(1, true);
  EXPECT_FALSE(CheckPatcherVersion());
  EXPECT_EQ(Boxes(), (std::vector<Box>{{kLauncher, u"failed to restore patcher version."},
                                       StepFailed(u" - restore")}));
  EXPECT_EQ(machine().transcript[0].owner, nullptr);
  EXPECT_EQ(machine().transcript[1].owner, Splash());
  EXPECT_EQ(Requests(), Paths{"patcher_version"});
}

TEST_F(VersionCheck, AStateStillUnknownAfterTheResetIsRefresh) {
  Write(u"patcher_version", "7\r\n2");
  Serve("patcher_version", "8\r\n9");
  LoseLocalRecordOnRequests(2, false);
  EXPECT_FALSE(CheckPatcherVersion());
  EXPECT_EQ(Boxes(), std::vector<Box>{StepFailed(u" - refresh")});
  EXPECT_EQ(Requests(), (Paths{"patcher_version", "patcher_version"}));
  EXPECT_EQ(Read(u"VelkarisPatcher32.vke"), "old patcher");
}

TEST_F(VersionCheck, ARecordThatCannotTakeTheNewVersionIsModify) {
  Write(u"patcher_version", "7\r\n2");
  Serve("patcher_version", "8\r\n9");
  // The record becomes unwritable while the last entry is fetched.
  DownloadServer().SetRequestObserver(
      [record = HostPath(u"patcher_version")](const testhttp::RecordedRequest& request) {
        if (request.target != "/UploadData/a.dat") return;
        std::filesystem::remove(record);
        MakeUnopenable(record);
      });
  EXPECT_FALSE(CheckPatcherVersion());
  EXPECT_EQ(Boxes(), (std::vector<Box>{{kLauncher, u"failed to modify patcher version."},
                                       StepFailed(u" - modify")}));
  // The update itself is in place; the next run fetches the patcher again
  // but no list entry.
  EXPECT_EQ(Read(u"VelkarisPatcher32.vke"), "new patcher");
  EXPECT_EQ(Read(u"patcher_files_version"), "a.dat 2\r\n");
}

}  // namespace
