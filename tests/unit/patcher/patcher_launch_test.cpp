#include "patcher/patcher_launch.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/unit/patcher/patcher_test.h"
#include "ui/messages.h"

namespace {

constexpr uint32_t kBadExeFormat = 193;

class PatcherLaunch : public PatcherTest {};

struct CommandLineCase {
  const char16_t* folder;
  const char16_t* args;
  const char16_t* commandLine;
};

TEST_F(PatcherLaunch, StartsThePatcherQuotedWithTheLaunchersArgumentsUnchanged) {
  const CommandLineCase cases[] = {
      {u"C:\\Corvane\\Velkaris", u"-x 1", u"\"C:\\Corvane\\Velkaris/VelkarisPatcher32.vke\" -x 1"},
      {u"C:\\Program Files\\Velkaris", u"", u"\"C:\\Program Files\\Velkaris/VelkarisPatcher32.vke\" "},
      {u"D:/Games", u"\"a b\"  c\\\"", u"\"D:/Games/VelkarisPatcher32.vke\" \"a b\"  c\\\""},
      {u"C:\\", u"-y", u"\"C:\\/VelkarisPatcher32.vke\" -y"},
  };
  // Presence is all that counts, not the content.
  Write(u"VelkarisPatcher32.vke", "anything");
  for (const auto& c : cases) {
    machine().startedProcesses.clear();
    g_launcherArgs = c.args;
    EXPECT_TRUE(RunPatcher(run, c.folder));
    EXPECT_EQ(machine().startedProcesses, std::vector<std::u16string>{c.commandLine});
  }
  EXPECT_TRUE(Requests().empty());
  EXPECT_TRUE(Boxes().empty());
}

TEST_F(PatcherLaunch, AMissingPatcherIsFetchedByAFullUpdateFirst) {
  Write(u"patcher_version", "7\r\n2");
  Write(u"patcher_files_version", "a.dat 1\r\n");
  Serve("patcher_files_version", "a.dat 1\r\nb.dat 1\r\n");
  Serve("VelkarisPatcher32.vke", "patcher");
  Serve("b.dat", "b");
  EXPECT_TRUE(RunPatcher(run, kInstall));
  EXPECT_EQ(Requests(), (Paths{"patcher_files_version", "VelkarisPatcher32.vke", "b.dat"}));
  EXPECT_EQ(Read(u"VelkarisPatcher32.vke"), "patcher");
  EXPECT_EQ(Read(u"patcher_version"), "7\r\n2");
  EXPECT_EQ(machine().startedProcesses.size(), 1u);

  // Once fetched it is started as it is, without a second look: the start
  // itself tells whether it is there.
  machine().startedProcesses.clear();
  machine().readFaults[Local(u"VelkarisPatcher32.vke")] = sim::Machine::ReadFault::kOpen;
  EXPECT_TRUE(RunPatcher(run, kInstall));
  EXPECT_EQ(machine().startedProcesses.size(), 1u);
  EXPECT_TRUE(Boxes().empty());
}

TEST_F(PatcherLaunch, AMissingPatcherThatCannotBeFetchedIsNotStarted) {
  Serve("patcher_files_version", "");
  EXPECT_FALSE(RunPatcher(run, kInstall));
  EXPECT_TRUE(machine().startedProcesses.empty());
  EXPECT_EQ(Boxes(), std::vector<Box>{SplashBox(u"Launcher", g_messages.MsgUpdateDownloadFailed)});
}

struct StartFailureCase {
  const char* systemText;  // nullptr: the system has none
  const char16_t* shown;
};

TEST_F(PatcherLaunch, AFailedStartShowsTheSystemsTextAsItIs) {
  const StartFailureCase cases[] = {
      {"%1 is not a valid Win32 application.\r\n", u"%1 is not a valid Win32 application.\r\n"},
      {"\xE9\x63hec\r\n", u"\u00E9\x63hec\r\n"},
      {nullptr, u"Unknown Error"},
  };
  Write(u"VelkarisPatcher32.vke", "not a program");
  machine().startProcessError = kBadExeFormat;
  for (const auto& c : cases) {
    machine().transcript.clear();
    machine().systemMessages.clear();
    if (c.systemText) machine().systemMessages[kBadExeFormat] = c.systemText;
    EXPECT_FALSE(RunPatcher(run, kInstall));
    EXPECT_EQ(Boxes(), std::vector<Box>{SplashBox(
                           u"Launcher", std::u16string(g_messages.MsgUpdateVersionDownloadFailed) +
                                            u"\r\n errCode : " + c.shown)});
  }
}

TEST_F(PatcherLaunch, SystemErrorTextIsTheSystemsOwnOrUnknownError) {
  machine().systemMessages[2] = "The system cannot find the file specified.\r\n";
  EXPECT_EQ(GetSystemErrorText(2), "The system cannot find the file specified.\r\n");
  EXPECT_EQ(GetSystemErrorText(0xDEADBEEF), "Unknown Error");
}

}  // namespace
