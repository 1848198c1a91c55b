#include "app/launcher.h"

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "log/support_log.h"
#include "patcher/patcher_launch.h"
#include "patcher/release_key.h"
#include "platform/files.h"
#include "publish/signing.h"
#include "release/release_files.h"
#include "release/release_manifest.h"
#include "tests/support/download_server.h"
#include "tests/support/sim_test.h"
#include "ui/messages.h"
#include "ui/outcome.h"
#include "ui/splash.h"

namespace {

using sim::DialogAnswer;
using sim::DialogRecord;
using testhttp::Response;

constexpr uint64_t kOneSecond = 10000000;
constexpr char16_t kInstall[] = u"C:\\Games\\Velkaris";
// Where a run that ends before it knows its install folder leaves its log.
constexpr char16_t kEarlyEndLogFolder[] = u"C:\\ProgramData\\Velkaris";
constexpr char16_t kCommandLine[] = u"\"C:\\Games\\Velkaris\\VelkarisLauncher.exe\" -x 1";
constexpr char16_t kSystemErrorText[] = u"Not a valid application.\r\n";

// The launcher's whole run against the simulated machine and a real HTTP
// server that publishes a release.
class LauncherRun : public SimTest {
 protected:
  void SetUp() override {
    SimTest::SetUp();
    g_splashReady.store(0);
    g_splashWindow = nullptr;
    g_launcherArgs = u"";
    // A process runs the launcher once: failures the other tests of this
    // program noted are not this run's.
    EndRunLog(platform::kExitFailed);
    m_server = root() / "server";
    std::filesystem::create_directories(m_server / "locales");
    DownloadServer().ClearRoutes();
    DownloadServer().ClearRequests();
    DownloadServer().SetDocumentRoot(m_server);
    Publish("patcher_version", "7\r\n9");
    Publish("patcher_files_version", "");
    Publish("VelkarisPatcher32.vke", "new patcher");
    Publish("VelkarisLauncher.exe", "launcher copy");
    machine().systemMessages[193] = "Not a valid application.\r\n";
  }

  void Publish(const std::string& name, const std::string& content) {
    std::ofstream(m_server / name, std::ios::binary) << content;
    m_published[name] = content;
  }
  // The published files signed with the test key, for a launcher built
  // with its public half.
  void SignRelease() {
    ReleaseManifest manifest;
    for (const auto& [name, content] : m_published) manifest.entries[name] = DigestOfBytes(content);
    const std::string text = FormatReleaseManifest(manifest);
    publish::SigningKey key;
    std::string problem;
    ASSERT_TRUE(key.Load(std::string(LAUNCHER_TEST_KEYS) + "/test-release.key", &problem)) << problem;
    platform::P256Signature signature{};
    ASSERT_TRUE(key.Sign(text, &signature));
    std::ofstream(m_server / "release_manifest", std::ios::binary) << text;
    std::ofstream(m_server / "release_manifest.sig", std::ios::binary)
        .write(reinterpret_cast<const char*>(signature.data()), signature.size());
  }

  // An installed, up-to-date game whose recorded folder is the launcher's.
  void Install() {
    const std::u16string folder = kInstall;
    machine().WriteFile(folder + u"\\Tov\\pad00000.meta", "meta");
    machine().WriteFile(folder + u"\\VelkarisLauncher.exe", "launcher");
    machine().WriteFile(folder + u"\\VelkarisPatcher32.vke", "patcher");
    machine().WriteFile(folder + u"\\patcher_version", "7\r\n2");
    machine().WriteFile(folder + u"\\patcher_files_version", "");
    machine().MakeFolders(folder + u"\\locales");
    machine().SetString(u"Software\\Velkaris_TW", u"Path", folder);
  }

  // As a build with the support log runs.
  int Run(const char16_t* commandLine = kCommandLine, SupportLog log = SupportLog::kOn) {
    return RunLauncher(nullptr, commandLine, log);
  }

  // The run's support log, each line from its step on, its times as "N":
  // the install folder's (the current directory once known), else the
  // temporary folder's.
  std::vector<std::string> LogSteps(const std::u16string& folder) const {
    std::istringstream text(machine().ReadFile(folder + u"\\" + kSupportLogName));
    std::vector<std::string> steps;
    for (std::string line; std::getline(text, line);) {
      line = std::regex_replace(line.substr(line.find("step=")), std::regex(" ms=\\d+"), " ms=N");
      steps.push_back(line.substr(0, line.size() - 1));  // the CR
    }
    return steps;
  }
  std::string Closing() const {
    for (const std::u16string& folder :
         {machine().currentDirectory, std::u16string(kEarlyEndLogFolder)}) {
      const std::vector<std::string> steps = LogSteps(folder);
      if (!steps.empty() && steps.back().rfind("step=end ", 0) == 0) return steps.back();
    }
    return "(no closing line)";
  }
  std::string Outcome() const {
    std::smatch match;
    const std::string closing = Closing();
    return std::regex_search(closing, match, std::regex("outcome=(\\S+)")) ? match[1].str()
                                                                           : closing;
  }

  std::vector<std::u16string> Texts() const {
    std::vector<std::u16string> texts;
    for (const auto& record : machine().transcript) texts.push_back(record.text);
    return texts;
  }

  std::vector<std::string> Requests() const {
    std::vector<std::string> targets;
    for (const auto& request : DownloadServer().Requests()) targets.push_back(request.target);
    return targets;
  }

  std::filesystem::path m_server;
  std::map<std::string, std::string> m_published;
};

TEST_F(LauncherRun, UpToDateInstallStartsThePatcherWithTheLaunchersArguments) {
  Install();
  EXPECT_EQ(Run(), 0);

  EXPECT_TRUE(machine().transcript.empty());
  EXPECT_EQ(Requests(), std::vector<std::string>{"/UploadData/patcher_version"});
  ASSERT_EQ(machine().startedProcesses.size(), 1u);
  EXPECT_EQ(machine().startedProcesses[0],
            u"\"C:\\Games\\Velkaris/VelkarisPatcher32.vke\" -x 1");
  EXPECT_EQ(std::u16string(g_launcherArgs), u"-x 1");
  EXPECT_EQ(machine().ReadFile(u"C:\\Games\\Velkaris\\patcher_version"), "7\r\n2");
  EXPECT_FALSE(machine().Exists(u"C:\\Games\\Velkaris\\patcher_version_tmp"));
  EXPECT_EQ(machine().currentDirectory, kInstall);
  // The run ends within the second it started in: the splash stays a second.
  EXPECT_EQ(machine().sleeps, std::vector<uint32_t>{1000});
  EXPECT_EQ(Outcome(), "patcher-started");
}

// A whole run's log: a line a step and a request, each request carrying the
// run's id, and the outcome; none of it in the user's temporary folder.
TEST_F(LauncherRun, TheSupportLogHasALineAStepAndARequestAndTheOutcome) {
  Install();
  Publish("patcher_version", "8\r\n9");
  EXPECT_EQ(Run(), 0);

  const std::string server = "host=127.0.0.1:" + std::to_string(DownloadServer().Port()) +
                             " ip=127.0.0.1 status=200 bytes=";
  const std::vector<std::string> steps = {
      "step=start release-key=no",
      "step=module-folder result=ok",
      "step=launcher-drive result=ok",
      "step=processes result=ok",
      "step=install-folder result=ok",
      "step=folder-claim result=ok",
      "step=launcher-copy result=ok",
      "step=request path=patcher_version " + server + "4 ms=N curl=0 attempt=1 result=ok",
      "step=request path=patcher_files_version " + server + "0 ms=N curl=0 attempt=1 result=ok",
      "step=request path=VelkarisPatcher32.vke " + server + "11 ms=N curl=0 attempt=1 result=ok",
      "step=version-check result=ok",
      "step=patcher-start result=ok",
      "step=end outcome=patcher-started box=none exit=0 ms=N",
  };
  EXPECT_EQ(LogSteps(kInstall), steps);
  EXPECT_FALSE(machine().Exists(machine().tempFolder + kSupportLogName));
  const std::string text = machine().ReadFile(std::u16string(kInstall) + u"\\" + kSupportLogName);
  const std::string runId = text.substr(text.find(" run=") + 5, 16);
  ASSERT_EQ(DownloadServer().Requests().size(), 3u);
  for (const auto& request : DownloadServer().Requests()) {
    EXPECT_EQ(request.Header("X-Velkaris-Run"), runId) << request.target;
  }
}

// With a release key the install folder is the launcher's before the run
// changes anything in it, its log included, and the run changes nothing
// elsewhere: here a folder upgraded from an unsigned launcher, whose copy
// of the launcher is not the release's.
TEST_F(LauncherRun, WithAReleaseKeyTheFolderIsClaimedBeforeAnythingIsWrittenInIt) {
  Install();
  Publish("patcher_version", "8\r\n9");
  SignRelease();
  const platform::P256PublicKey key = {{LAUNCHER_TEST_KEY_X}, {LAUNCHER_TEST_KEY_Y}};
  UseReleaseKeyForTesting(&key);
  EXPECT_EQ(Run(), 0);
  UseReleaseKeyForTesting(nullptr);
  platform::EndFileConfinementForTesting();

  ASSERT_FALSE(machine().fileLog.empty());
  EXPECT_EQ(machine().fileLog.front(), u"protect " + std::u16string(kInstall));
  for (const std::u16string& change : machine().fileLog) {
    EXPECT_TRUE(platform::IsAtOrBelow(change.substr(change.find(u' ') + 1), kInstall))
        << Utf8(change);
  }
  EXPECT_EQ(machine().ReadFile(std::u16string(kInstall) + u"\\VelkarisLauncher.exe"),
            "launcher copy");
  EXPECT_EQ(machine().startedProcesses,
            std::vector<std::u16string>{u"\"C:\\Games\\Velkaris\\VelkarisPatcher32.vke\" -x 1"});
  EXPECT_EQ(Outcome(), "patcher-started");
}

// As the default build runs: no file of the log anywhere, no run id sent.
TEST_F(LauncherRun, WithoutTheSupportLogNothingIsLoggedOrSent) {
  Install();
  Publish("patcher_version", "8\r\n9");
  EXPECT_EQ(Run(kCommandLine, SupportLog::kOff), 0);
  EXPECT_FALSE(machine().Exists(machine().tempFolder + kSupportLogName));
  EXPECT_FALSE(machine().Exists(std::u16string(kInstall) + u"\\" + kSupportLogName));
  EXPECT_EQ(DownloadServer().Requests().size(), 3u);
  for (const auto& request : DownloadServer().Requests()) {
    EXPECT_FALSE(request.HasHeader("X-Velkaris-Run")) << request.target;
  }
}

TEST_F(LauncherRun, WithoutArgumentsThePatcherGetsAnEmptyArgumentText) {
  Install();
  EXPECT_EQ(Run(u"VelkarisLauncher.exe"), 0);
  EXPECT_EQ(std::u16string(g_launcherArgs), u"");
  ASSERT_EQ(machine().startedProcesses.size(), 1u);
  EXPECT_EQ(machine().startedProcesses[0], u"\"C:\\Games\\Velkaris/VelkarisPatcher32.vke\" ");
}

TEST_F(LauncherRun, SplashIsWaitedForInStepsOfATenthOfASecond) {
  Install();
  machine().deferSplashReady = true;
  machine().onSleep = [](sim::Machine& m) {
    if (m.sleeps.size() == 3) g_splashReady.store(1, std::memory_order_release);
  };
  EXPECT_EQ(Run(), 0);
  ASSERT_GE(machine().sleeps.size(), 3u);
  EXPECT_EQ(std::vector<uint32_t>(machine().sleeps.begin(), machine().sleeps.begin() + 3),
            (std::vector<uint32_t>{100, 100, 100}));
}

TEST_F(LauncherRun, GoesOnWithoutASplashWhenItsThreadCannotStart) {
  Install();
  machine().failStartThread = true;
  machine().processes = {u"Velkaris64.exe"};
  EXPECT_EQ(Run(), -1);
  EXPECT_EQ(machine().sleeps, std::vector<uint32_t>{});
  ASSERT_EQ(machine().transcript.size(), 1u);
  EXPECT_EQ(machine().transcript[0].owner, nullptr);
}

TEST_F(LauncherRun, LingersOnlyWhenNoSecondBoundaryPassed) {
  Install();
  // Start 0.9 s into a second, end 0.1 s into the next: no lingering.
  const uint64_t second = 133000000000000000ULL;
  machine().scriptedTimes = {second + 9 * kOneSecond / 10, second + kOneSecond + kOneSecond / 10};
  // The two times are the flow's; a log would read the clock for its lines.
  EXPECT_EQ(Run(kCommandLine, SupportLog::kOff), 0);
  EXPECT_EQ(machine().sleeps, std::vector<uint32_t>{0});
}

TEST(LingerMilliseconds, CountsSecondBoundariesNotElapsedTime) {
  const uint64_t second = 133000000000000000ULL;
  struct Case {
    uint64_t start;
    uint64_t end;
    uint32_t linger;
  } cases[] = {
      {second + 9 * kOneSecond / 10, second + kOneSecond + kOneSecond / 10, 0},
      {second + kOneSecond / 10, second + 9 * kOneSecond / 10, 1000},
      {second, second, 1000},
      {second + 5 * kOneSecond, second, 1000},  // clock set back
      {second, second + 3 * kOneSecond, 0},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(LingerMilliseconds(c.start, c.end), c.linger) << c.start << " -> " << c.end;
  }
}

TEST(LauncherArguments, SkipsTheProgramNameAndTheBlanksAfterIt) {
  struct Case {
    const char16_t* commandLine;
    const char16_t* arguments;
  } cases[] = {
      {u"launcher.exe -x 1", u"-x 1"},
      {u"\"C:\\Program Files\\V\\launcher.exe\" -x  1 ", u"-x  1 "},
      // The name runs on after a closing quote up to the next blank.
      {u"\"C:\\Program Files\\V\\launcher.exe\"-x y", u"y"},
      {u"C:\\a\"b c\"d.exe  arg", u"arg"},
      {u"launcher.exe \t\r\n\x01 \"quoted arg\"", u"\"quoted arg\""},
      {u"launcher.exe", u""},
      {u"launcher.exe    ", u""},
      {u"\"C:\\unterminated quote\\launcher.exe -x", u""},
      {u"", u""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(std::u16string(LauncherArguments(c.commandLine)), c.arguments)
        << Utf8(c.commandLine);
  }
}

// Each failing step shows its own message and ends the run with -1 before
// the patcher is started.
TEST_F(LauncherRun, ModuleFolderThatCannotBeEnteredEndsTheRun) {
  Install();
  machine().failSetCurrentDirectory = true;
  EXPECT_EQ(Run(), -1);
  EXPECT_EQ(Texts(), std::vector<std::u16string>{g_messages.MsgInstallPathSaveFailed});
  EXPECT_TRUE(machine().startedProcesses.empty());
  EXPECT_TRUE(DownloadServer().Requests().empty());
  EXPECT_EQ(Outcome(), "module-folder");
}

TEST_F(LauncherRun, LauncherDriveWithoutSpaceEndsTheRun) {
  Install();
  machine().freeSpace = {8, 512, 1048575};  // figure 0
  EXPECT_EQ(Run(), -1);
  EXPECT_EQ(Texts(), std::vector<std::u16string>{g_messages.MsgDiskSpaceInsufficient});
  EXPECT_TRUE(machine().startedProcesses.empty());
  EXPECT_EQ(Outcome(), "launcher-drive-space");
}

TEST_F(LauncherRun, RunningGameEndsTheRunWithAWarning) {
  Install();
  machine().processes = {u"explorer.exe", u"VelkarisLauncher.exe", u"Velkaris32.exe"};
  EXPECT_EQ(Run(), -1);
  ASSERT_EQ(machine().transcript.size(), 1u);
  EXPECT_EQ(machine().transcript[0].caption, u"warning");
  EXPECT_EQ(machine().transcript[0].text, g_messages.MsgGameAlreadyRunning);
  EXPECT_EQ(machine().transcript[0].owner, g_splashWindow);
  EXPECT_TRUE(machine().startedProcesses.empty());
  EXPECT_EQ(Closing(),
            "step=end outcome=game-running box=MsgGameAlreadyRunning caption=warning exit=-1 ms=N");
}

TEST_F(LauncherRun, CancelledFolderChooserEndsTheRunSilently) {
  machine().modulePath = u"C:\\Downloads\\VelkarisLauncher.exe";
  machine().MakeFolders(u"C:\\Downloads");
  machine().answers = {DialogAnswer::Cancel()};
  EXPECT_EQ(Run(), -1);
  ASSERT_EQ(machine().transcript.size(), 1u);
  EXPECT_EQ(machine().transcript[0].kind, DialogRecord::Kind::kBrowseFolder);
  EXPECT_EQ(machine().componentLibraryInits, 1);  // before the dialog, for its COM use
  EXPECT_FALSE(machine().KeyExists(u"Software\\Velkaris_TW"));
  EXPECT_TRUE(DownloadServer().Requests().empty());
  EXPECT_EQ(Closing(), "step=end outcome=folder-cancelled box=none exit=-1 ms=N");
}

TEST_F(LauncherRun, LauncherCopyThatCannotBeFetchedEndsTheRun) {
  Install();
  machine().WriteFile(std::u16string(kInstall) + u"\\VelkarisLauncher.exe", "");
  std::filesystem::remove(machine().HostPath(std::u16string(kInstall) + u"\\VelkarisLauncher.exe"));
  DownloadServer().SetRoute("/UploadData/VelkarisLauncher.exe", Response::HtmlPage(404));
  EXPECT_EQ(Run(), -1);
  ASSERT_EQ(machine().transcript.size(), 1u);
  EXPECT_EQ(machine().transcript[0].caption, u"Launcher-ex");
  EXPECT_EQ(machine().transcript[0].text, g_messages.MsgUpdateDownloadFailed);
  EXPECT_TRUE(machine().startedProcesses.empty());
  EXPECT_EQ(Outcome(), "launcher-copy");
}

TEST_F(LauncherRun, FailedVersionCheckEndsTheRunAndLeavesNoServerRecord) {
  Install();
  Publish("patcher_version", "8\r\n9");
  DownloadServer().SetRoute("/UploadData/patcher_files_version", Response::HtmlPage(404));
  EXPECT_EQ(Run(), -1);
  ASSERT_EQ(machine().transcript.size(), 1u);
  EXPECT_EQ(machine().transcript[0].caption, u"patcher_files_version");
  EXPECT_FALSE(machine().Exists(u"C:\\Games\\Velkaris\\patcher_version_tmp"));
  EXPECT_EQ(machine().ReadFile(u"C:\\Games\\Velkaris\\patcher_version"), "7\r\n2");
  EXPECT_TRUE(machine().startedProcesses.empty());
  EXPECT_EQ(Closing(), "step=end outcome=list-download box=MsgPatcherVersionDownloadFailed "
                       "caption=patcher_files_version exit=-1 ms=N");
}

TEST_F(LauncherRun, UnreachableServerRecordEndsTheProcessAtOnce) {
  Install();
  DownloadServer().SetRoute("/UploadData/patcher_version", Response::HtmlPage(404));
  // The server's threads run in this process: re-run the test in a child.
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(Run(), ::testing::ExitedWithCode(255), "");
}

TEST_F(LauncherRun, PatcherThatCannotStartShowsTheSystemsReason) {
  Install();
  machine().startProcessError = 193;
  EXPECT_EQ(Run(), -1);
  ASSERT_EQ(machine().transcript.size(), 1u);
  EXPECT_EQ(machine().transcript[0].caption, u"Launcher");
  EXPECT_EQ(machine().transcript[0].text, std::u16string(g_messages.MsgUpdateVersionDownloadFailed) +
                                              u"\r\n errCode : " + kSystemErrorText);
  EXPECT_EQ(machine().sleeps, std::vector<uint32_t>{});
  EXPECT_EQ(Outcome(), "patcher-start");
}

// A changed install folder offers the shortcuts; the answer never stops the
// launch.
TEST_F(LauncherRun, ChangedFolderOffersShortcutsAndNoCreatesNone) {
  Install();
  machine().SetString(u"Software\\Velkaris_TW", u"Path", u"C:\\games\\velkaris");
  machine().specialFolders[0x0000] = u"C:\\Users\\Player\\Desktop";
  machine().answers = {DialogAnswer::Button(7)};
  EXPECT_EQ(Run(), 0);
  ASSERT_EQ(machine().transcript.size(), 1u);
  EXPECT_EQ(machine().transcript[0].text, g_messages.MsgConfirmDesktopShortcut);
  EXPECT_EQ(machine().transcript[0].type, 4u);  // Yes and No
  EXPECT_TRUE(machine().shellLinks.empty());
  EXPECT_EQ(machine().startedProcesses.size(), 1u);
}

TEST_F(LauncherRun, FailedShortcutIsReportedAndThePatcherStillStarts) {
  Install();
  machine().SetString(u"Software\\Velkaris_TW", u"Path", u"D:\\Elsewhere");
  machine().answers = {DialogAnswer::Button(6)};  // desktop folder unknown: no link at all
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(Texts(), (std::vector<std::u16string>{g_messages.MsgConfirmDesktopShortcut,
                                                  g_messages.MsgDesktopShortcutFailed}));
  for (const auto& record : machine().transcript) EXPECT_EQ(record.owner, g_splashWindow);
  EXPECT_TRUE(machine().shellLinks.empty());
  EXPECT_EQ(machine().startedProcesses.size(), 1u);
}

// A player's first start on a fresh machine: the folder is chosen, recorded,
// filled from the server, linked, and the patcher starts.
TEST_F(LauncherRun, FreshMachineInstallsIntoTheChosenDriveAndStartsThePatcher) {
  machine().modulePath = u"C:\\Downloads\\VelkarisLauncher.exe";
  machine().MakeFolders(u"C:\\Downloads");
  machine().MakeFolders(u"D:\\");
  machine().specialFolders[0x0000] = u"C:\\Users\\Player\\Desktop";
  machine().specialFolders[0x0017] = u"C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs";
  machine().MakeFolders(u"C:\\Users\\Player\\Desktop");
  Publish("patcher_version", "8\r\n5");
  Publish("patcher_files_version", "a.dat 1\r\nlocales\\b.pak 2\r\n");
  Publish("a.dat", "A");
  Publish("locales/b.pak", "B");
  // The player takes two seconds over the folder.
  machine().answers = {DialogAnswer::Folder(u"D:\\").After(2000), DialogAnswer::Button(6),
                       DialogAnswer::Button(6)};

  EXPECT_EQ(Run(u"VelkarisLauncher.exe --fresh"), 0);

  ASSERT_EQ(machine().transcript.size(), 3u);
  EXPECT_EQ(machine().transcript[0].kind, DialogRecord::Kind::kBrowseFolder);
  EXPECT_EQ(machine().transcript[0].preselected, u"C:\\Corvane\\Velkaris");
  EXPECT_EQ(machine().transcript[1].text,
            std::u16string(u"D:\\Velkaris\\") + g_messages.MsgConfirmInstallPathSuffix);
  EXPECT_EQ(machine().transcript[2].text, g_messages.MsgConfirmDesktopShortcut);
  for (const auto& record : machine().transcript) EXPECT_EQ(record.owner, g_splashWindow);

  std::u16string recorded;
  ASSERT_TRUE(machine().GetString(u"Software\\Velkaris_TW", u"Path", &recorded));
  EXPECT_EQ(recorded, u"D:\\Velkaris\\");
  EXPECT_TRUE(machine().Exists(u"C:\\Corvane\\Velkaris"));

  EXPECT_EQ(Requests(), (std::vector<std::string>{
                            "/UploadData/VelkarisLauncher.exe",
                            "/UploadData/patcher_version",
                            "/UploadData/patcher_files_version",
                            "/UploadData/VelkarisPatcher32.vke",
                            "/UploadData/a.dat",
                            "/UploadData/locales/b.pak",
                        }));
  EXPECT_EQ(machine().ReadFile(u"D:\\Velkaris\\VelkarisLauncher.exe"), "launcher copy");
  EXPECT_EQ(machine().ReadFile(u"D:\\Velkaris\\VelkarisPatcher32.vke"), "new patcher");
  EXPECT_EQ(machine().ReadFile(u"D:\\Velkaris\\a.dat"), "A");
  EXPECT_EQ(machine().ReadFile(u"D:\\Velkaris\\locales\\b.pak"), "B");
  EXPECT_EQ(machine().ReadFile(u"D:\\Velkaris\\patcher_files_version"),
            "a.dat 1\r\nlocales\\b.pak 2\r\n");
  EXPECT_EQ(machine().ReadFile(u"D:\\Velkaris\\patcher_version"), "8\r\n0");
  EXPECT_FALSE(machine().Exists(u"D:\\Velkaris\\patcher_version_tmp"));
  EXPECT_FALSE(machine().Exists(u"D:\\Velkaris\\patcher_files_version_tmp"));

  const std::u16string desktopLink = u"C:\\Users\\Player\\Desktop/Velkaris.lnk";
  ASSERT_EQ(machine().shellLinks.count(desktopLink), 1u);
  EXPECT_EQ(machine().shellLinks[desktopLink].target, u"D:\\Velkaris\\/VelkarisLauncher.exe");
  EXPECT_EQ(machine().shellLinks.size(), 2u);

  ASSERT_EQ(machine().startedProcesses.size(), 1u);
  EXPECT_EQ(machine().startedProcesses[0], u"\"D:\\Velkaris\\/VelkarisPatcher32.vke\" --fresh");
  // The time in the dialogs counts: seconds have passed, so no lingering.
  EXPECT_EQ(machine().sleeps.back(), 0u);
}

}  // namespace
