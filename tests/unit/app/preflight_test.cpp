#include "app/preflight.h"

#include <limits>
#include <string>
#include <vector>

#include "tests/support/splash_owner_test.h"
#include "ui/messages.h"
#include "ui/splash.h"

namespace {

constexpr uint32_t kClustersPerStep = 1048576;
// 8 sectors of 512 bytes: the figure moves in steps of 4,096.
constexpr platform::DiskFreeSpace FourKiBClusters(uint32_t steps) {
  return {8, 512, steps * kClustersPerStep};
}

class PreflightTest : public SplashOwnerTest {
 protected:

  // The one message box shown so far, checked for its owner and caption.
  void ExpectOnlyMessage(const char16_t* text, const char16_t* caption, uint32_t type) {
    ASSERT_EQ(machine().transcript.size(), 1u);
    const auto& shown = machine().transcript[0];
    EXPECT_EQ(shown.kind, sim::DialogRecord::Kind::kMessageBox);
    EXPECT_EQ(shown.owner, g_splashWindow);
    EXPECT_EQ(shown.text, text);
    EXPECT_EQ(shown.caption, caption);
    EXPECT_EQ(shown.type, type);
  }
};

TEST(FreeSpaceFigure, DividesTheClusterCountFirst) {
  struct Case {
    platform::DiskFreeSpace space;
    uint64_t figure;
  };
  const Case cases[] = {
      {{8, 512, kClustersPerStep - 1}, 0},
      {{8, 512, kClustersPerStep}, 4096},
      {{8, 512, 2 * kClustersPerStep - 1}, 4096},
      {{1, 512, 0xFFFFFFFF}, 4095 * 512},
      {{0, 512, 0xFFFFFFFF}, 0},
      // Nonsense geometry must not wrap round to a small figure.
      {{0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF}, std::numeric_limits<uint64_t>::max()},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(FreeSpaceFigure(c.space), c.figure) << c.space.freeClusters;
  }
}

TEST_F(PreflightTest, EnterModuleFolderMakesTheExecutablesFolderCurrent) {
  std::u16string folder;
  ASSERT_TRUE(EnterModuleFolder(&folder));
  EXPECT_EQ(folder, u"C:\\Games\\Velkaris");
  EXPECT_EQ(machine().currentDirectory, u"C:\\Games\\Velkaris");

  machine().modulePath = u"C:\\VelkarisLauncher.exe";
  ASSERT_TRUE(EnterModuleFolder(&folder));
  EXPECT_EQ(folder, u"C:\\");
  EXPECT_TRUE(machine().transcript.empty());
}

TEST_F(PreflightTest, EnterModuleFolderReportsAFolderThatCannotBeEntered) {
  machine().unenterableFolders.insert(u"C:\\Games\\Velkaris");
  std::u16string folder = u"untouched";
  EXPECT_FALSE(EnterModuleFolder(&folder));
  EXPECT_EQ(folder, u"untouched");
  ExpectOnlyMessage(g_messages.MsgInstallPathSaveFailed, u"Launcher", platform::kMbOk);
}

TEST_F(PreflightTest, LauncherDriveNeedsAFigureOfTen) {
  struct Case {
    platform::DiskFreeSpace space;
    bool fail;
    bool passes;
  };
  const Case cases[] = {
      {FourKiBClusters(0), false, false},   // under 4 GiB free: figure 0
      {FourKiBClusters(1), false, true},    // figure 4,096
      {{1, 10, kClustersPerStep}, false, true},  // exactly 10
      {{1, 9, kClustersPerStep}, false, false},
      {FourKiBClusters(100), true, false},  // the query fails
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.space.freeClusters);
    machine().transcript.clear();
    machine().freeSpaceQueries.clear();
    machine().currentDirectory = u"C:\\Games\\Velkaris";
    machine().freeSpace = c.space;
    machine().failFreeSpace = c.fail;
    EXPECT_EQ(CheckLauncherDriveSpace(), c.passes);
    // The current directory as it is, not reduced to its drive root.
    EXPECT_EQ(machine().freeSpaceQueries, std::vector<std::u16string>{u"C:\\Games\\Velkaris"});
    if (c.passes) {
      EXPECT_TRUE(machine().transcript.empty());
    } else {
      ExpectOnlyMessage(g_messages.MsgDiskSpaceInsufficient, u"Launcher", platform::kMbOk);
    }
  }
}

TEST_F(PreflightTest, InstallDriveIsRefusedQuestionedOrPassed) {
  enum class Outcome { kRefused, kAsked, kSilent };
  struct Case {
    platform::DiskFreeSpace space;
    int answer;  // to the question, when one comes
    Outcome outcome;
    bool passes;
  };
  const Case cases[] = {
      {FourKiBClusters(6), 0, Outcome::kRefused, false},        // 24,576
      {FourKiBClusters(7), platform::kIdYes, Outcome::kAsked, true},   // 28,672
      {FourKiBClusters(7), platform::kIdNo, Outcome::kAsked, false},
      {FourKiBClusters(8), platform::kIdYes, Outcome::kAsked, true},   // 32,768
      {FourKiBClusters(8), platform::kIdNo, Outcome::kAsked, false},
      {{70, 512, kClustersPerStep}, 0, Outcome::kSilent, true},        // exactly 35,840
      {{1, 35839, kClustersPerStep}, platform::kIdNo, Outcome::kAsked, false},
      {FourKiBClusters(9), 0, Outcome::kSilent, true},          // 36,864
  };
  // Only a folder that exists is measured.
  machine().MakeFolders(u"D:\\Games");
  for (const Case& c : cases) {
    SCOPED_TRACE(FreeSpaceFigure(c.space));
    machine().transcript.clear();
    machine().freeSpaceByDrive[u"D:"] = c.space;
    if (c.outcome == Outcome::kAsked) machine().answers.push_back(sim::DialogAnswer::Button(c.answer));
    EXPECT_EQ(CheckInstallDriveSpace(u"D:\\Games"), c.passes);
    switch (c.outcome) {
      case Outcome::kRefused:
        ExpectOnlyMessage(g_messages.MsgDiskSpaceInsufficient, u"Launcher", platform::kMbOk);
        break;
      case Outcome::kAsked:
        ExpectOnlyMessage(g_messages.MsgDiskSpaceMayBeLow, u"Launcher", platform::kMbYesNo);
        break;
      case Outcome::kSilent:
        EXPECT_TRUE(machine().transcript.empty());
        break;
    }
    EXPECT_TRUE(machine().answers.empty());
  }
}

TEST_F(PreflightTest, InstallDriveWithAFailedQueryIsRefused) {
  machine().MakeFolders(u"D:\\Games");
  machine().failFreeSpace = true;
  EXPECT_FALSE(CheckInstallDriveSpace(u"D:\\Games"));
  ExpectOnlyMessage(g_messages.MsgDiskSpaceInsufficient, u"Launcher", platform::kMbOk);
}

TEST_F(PreflightTest, RunningProcessesFollowTheWatchedTable) {
  const char16_t* const kNone = nullptr;
  struct Case {
    const char* what;
    std::vector<std::u16string> processes;
    const char16_t* message;  // shown with caption "warning", or none
  };
  const Case cases[] = {
      {"nothing running", {u"explorer.exe"}, kNone},
      {"this launcher", {u"VelkarisLauncher.exe", u"explorer.exe"}, kNone},
      {"second launcher",
       {u"VelkarisLauncher.exe", u"explorer.exe", u"VelkarisLauncher.exe"},
       g_messages.MsgLauncherAlreadyRunning},
      {"other letter case",
       {u"velkarislauncher.exe", u"VELKARISLAUNCHER.EXE", u"VelkarisLauncher.exe",
        u"velkarispatcher32.vke", u"VELKARIS32.EXE", u"velkaris64.exe"},
       kNone},
      {"names with a folder or suffix", {u"Velkaris32.exe.bak", u"xVelkaris64.exe"}, kNone},
      {"patcher", {u"VelkarisPatcher32.vke"}, g_messages.MsgAlreadyUpdating},
      {"game 32", {u"VelkarisLauncher.exe", u"Velkaris32.exe"}, g_messages.MsgGameAlreadyRunning},
      {"game 64", {u"Velkaris64.exe"}, g_messages.MsgGameAlreadyRunning},
      {"patcher listed first", {u"VelkarisPatcher32.vke", u"Velkaris64.exe"},
       g_messages.MsgAlreadyUpdating},
      {"game listed first", {u"Velkaris64.exe", u"VelkarisPatcher32.vke"},
       g_messages.MsgGameAlreadyRunning},
      {"game before second launcher",
       {u"VelkarisLauncher.exe", u"Velkaris32.exe", u"VelkarisLauncher.exe"},
       g_messages.MsgGameAlreadyRunning},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    machine().transcript.clear();
    machine().processes = c.processes;
    EXPECT_EQ(CheckRunningProcesses(), c.message == kNone);
    if (c.message == kNone) {
      EXPECT_TRUE(machine().transcript.empty());
    } else {
      ExpectOnlyMessage(c.message, u"warning", platform::kMbOk);
    }
  }
}

TEST_F(PreflightTest, ProcessListThatCannotBeTakenLetsTheLaunchGoOn) {
  machine().processes = {u"Velkaris32.exe"};
  machine().failProcessSnapshot = true;
  EXPECT_TRUE(CheckRunningProcesses());
  EXPECT_TRUE(machine().transcript.empty());
}

}  // namespace
