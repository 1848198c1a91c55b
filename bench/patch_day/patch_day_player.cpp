// Patch-day players: each one an install folder on disk brought up to the
// server's release by the launcher's own update code, called as the exe's
// main flow calls it (CheckPatcherVersion, DropServerRecordCopy, RunPatcher)
// against the simulated machine, its waits in real time. A process runs
// its players one after the other, each in a child process of its own:
// the flow keeps its state in the process and may end it (ExitProcessNow),
// as it ends the exe.
//
// Usage: patch_day_player [--signed] BASE_URL RESULTS PLAYER...
//   BASE_URL  the server's http://host:port/UploadData/
//   RESULTS   a file each player's line is appended to
//   PLAYER    ROOT@MS: the player's machine (its C: is ROOT/C, the install
//             ROOT/C/Games/Velkaris) and when it starts, in milliseconds
//             after the common start, which is this process's start
//             unless PATCH_DAY_START (CLOCK_MONOTONIC nanoseconds) names it
// --signed: a launcher built with the test release key (tests/keys).
// Each line: ROOT EXIT START_MS END_MS, times since the common start; EXIT
// 0 when the patcher was started, 1 when the flow stopped with a box,
// 255 when it ended the process (after a box), else 128 + signal. The
// boxes a player saw are appended to ROOT/boxes.txt, one a line.

#include <errno.h>
#include <fcntl.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "net/file_downloader.h"
#include "patcher/patcher_launch.h"
#include "patcher/release_key.h"
#include "patcher/version_check.h"
#include "platform/sim/sim_machine.h"
#include "tests/support/utf8.h"

namespace {

constexpr char16_t kInstallFolder[] = u"C:\\Games\\Velkaris";
constexpr char kSignedOption[] = "--signed";
constexpr char kStartVariable[] = "PATCH_DAY_START";
constexpr char kBoxesFile[] = "boxes.txt";
constexpr int kExitPatcherStarted = 0;
constexpr int kExitStopped = 1;
constexpr int kExitSignalBase = 128;
constexpr int kUsageError = 2;
constexpr int64_t kNanosecondsPerMillisecond = 1000000;
constexpr int64_t kNanosecondsPerSecond = 1000 * kNanosecondsPerMillisecond;
constexpr size_t kLineBytes = 4096;

constexpr platform::P256PublicKey kTestKey = {{LAUNCHER_TEST_KEY_X}, {LAUNCHER_TEST_KEY_Y}};

int64_t Now() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return int64_t{now.tv_sec} * kNanosecondsPerSecond + now.tv_nsec;
}

void SleepUntil(int64_t when) {
  const timespec until{static_cast<time_t>(when / kNanosecondsPerSecond),
                       static_cast<long>(when % kNanosecondsPerSecond)};
  while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &until, nullptr) == EINTR) {
  }
}

// A box on one line.
std::string OneLine(const std::u16string& text) {
  std::string line = Utf8(text);
  for (char& c : line) {
    if (c == '\r' || c == '\n') c = ' ';
  }
  return line;
}

// The flow's waits (a signed launcher waiting for a switching release)
// take real time, as in the exe: the servers must move on meanwhile.
void SleepForReal(sim::Machine& machine) {
  const int64_t milliseconds = machine.sleeps.back();
  SleepUntil(Now() + milliseconds * kNanosecondsPerMillisecond);
}

// The exe's main flow from the version check on, in a fresh child process.
[[noreturn]] void RunPlayer(const std::filesystem::path& root, const std::string& baseUrl,
                            bool releaseSigned) {
  sim::Machine& machine = sim::Current();
  machine.Reset(root);
  machine.currentDirectory = kInstallFolder;
  machine.onSleep = SleepForReal;
  FileDownloader::AimInstanceForTesting(baseUrl);
  if (releaseSigned) UseReleaseKeyForTesting(&kTestKey);
  ReleaseRun run;
  const bool ready = CheckPatcherVersion(run);
  DropServerRecordCopy();
  const bool started = ready && RunPatcher(run, kInstallFolder);
  std::ofstream boxes(root / kBoxesFile, std::ios::app);
  for (const sim::DialogRecord& box : machine.transcript) {
    boxes << OneLine(box.caption) << " | " << OneLine(box.text) << "\n";
  }
  boxes.close();
  std::_Exit(started ? kExitPatcherStarted : kExitStopped);
}

int ExitOf(int status) {
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  return kExitSignalBase + (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
}

}  // namespace

int main(int argc, char** argv) {
  int first = 1;
  const bool releaseSigned = argc > first && std::strcmp(argv[first], kSignedOption) == 0;
  if (releaseSigned) ++first;
  if (argc - first < 2) {
    std::fprintf(stderr, "usage: patch_day_player [--signed] BASE_URL RESULTS ROOT@MS...\n");
    return kUsageError;
  }
  const std::string baseUrl = argv[first];
  const int results = open(argv[first + 1], O_WRONLY | O_APPEND | O_CREAT, 0644);
  if (results < 0) {
    std::perror(argv[first + 1]);
    return kUsageError;
  }
  const char* start = std::getenv(kStartVariable);
  const int64_t commonStart = start != nullptr ? std::strtoll(start, nullptr, 10) : Now();

  for (int i = first + 2; i < argc; ++i) {
    const std::string player = argv[i];
    const size_t at = player.rfind('@');
    if (at == std::string::npos) {
      std::fprintf(stderr, "patch_day_player: %s is not ROOT@MS\n", player.c_str());
      return kUsageError;
    }
    const std::filesystem::path root = player.substr(0, at);
    SleepUntil(commonStart + std::strtoll(player.c_str() + at + 1, nullptr, 10) *
                                 kNanosecondsPerMillisecond);
    const int64_t begun = Now();
    const pid_t child = fork();
    if (child == 0) RunPlayer(root, baseUrl, releaseSigned);
    int status = 0;
    const bool waited = child > 0 && waitpid(child, &status, 0) == child;
    const int64_t ended = Now();
    char line[kLineBytes];
    const int length = std::snprintf(
        line, sizeof line, "%s %d %.1f %.1f\n", root.c_str(), waited ? ExitOf(status) : -1,
        static_cast<double>(begun - commonStart) / kNanosecondsPerMillisecond,
        static_cast<double>(ended - commonStart) / kNanosecondsPerMillisecond);
    // One write per line: the lines of many processes never interleave.
    if (length <= 0 || write(results, line, static_cast<size_t>(length)) != length) return 1;
  }
  return 0;
}
