// The install check of a signed start: what it adds to a start when nothing
// changed (every listed file and the patcher compared with the kept release,
// the record of their stamps sparing the reading of each), against GNU find
// asking the same files' size and time, in the same run. Native, on the
// simulated machine, whose files are real files below a host folder.
//
// Usage: install_check_bench [--files N] [--bytes B] [--runs R]
// Prints the first check (every file hashed, the record written) once, then
// the median and the slowest of R checks with nothing changed, beside the
// median and the slowest of R runs of find over the same folder.

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "patcher/release_install.h"
#include "patcher/release_key.h"
#include "platform/sim/sim_machine.h"
#include "release/release_files.h"
#include "release/release_manifest.h"

namespace {

constexpr char16_t kInstallFolder[] = u"C:\\Games\\Velkaris";
constexpr char kFilesOption[] = "--files";
constexpr char kBytesOption[] = "--bytes";
constexpr char kRunsOption[] = "--runs";
constexpr int kDefaultFiles = 1000;
constexpr int kDefaultBytes = 64 * 1024;
constexpr int kDefaultRuns = 21;
constexpr int kUsageError = 2;
// Any key: the check compares files with a manifest the run already holds.
constexpr platform::P256PublicKey kAnyKey = {};

using Clock = std::chrono::steady_clock;

double MillisecondsOf(const std::function<void()>& work) {
  const auto start = Clock::now();
  work();
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

struct Figures {
  double median = 0;
  double slowest = 0;
};

Figures Measure(int runs, const std::function<void()>& work) {
  std::vector<double> times;
  for (int run = 0; run < runs; ++run) times.push_back(MillisecondsOf(work));
  std::sort(times.begin(), times.end());
  return {times[times.size() / 2], times.back()};
}

// An install of the release: the patcher and `files` listed files of
// `bytes` bytes each below locales, every one in the manifest.
ReleaseManifest MakeInstall(sim::Machine& machine, int files, int bytes) {
  ReleaseManifest manifest;
  const auto add = [&](const std::string& path, const std::string& content) {
    manifest.entries[path] = DigestOfBytes(content);
    machine.WriteFile(std::u16string(kInstallFolder) + u"\\" + ListNameOfServerPath(path),
                      content);
  };
  add("patcher_version", "1\r\n0");
  add("patcher_files_version", "");
  add("VelkarisPatcher32.vke", std::string(static_cast<size_t>(bytes), 'p'));
  for (int i = 0; i < files; ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "locales/f%05d.dat", i);
    std::string content(static_cast<size_t>(bytes), static_cast<char>('a' + i % 26));
    std::memcpy(content.data(), name, std::strlen(name));
    add(name, content);
  }
  return manifest;
}

int Option(int argc, char** argv, const char* name, int fallback) {
  for (int i = 1; i + 1 < argc; ++i) {
    if (std::strcmp(argv[i], name) == 0) return std::atoi(argv[i + 1]);
  }
  return fallback;
}

}  // namespace

int main(int argc, char** argv) {
  const int files = Option(argc, argv, kFilesOption, kDefaultFiles);
  const int bytes = Option(argc, argv, kBytesOption, kDefaultBytes);
  const int runs = Option(argc, argv, kRunsOption, kDefaultRuns);
  if (files <= 0 || bytes <= 0 || runs <= 0) {
    std::fprintf(stderr, "usage: install_check_bench [--files N] [--bytes B] [--runs R]\n");
    return kUsageError;
  }
  const std::filesystem::path root =
      std::filesystem::temp_directory_path() / ("install-check-bench-" + std::to_string(getpid()));
  sim::Machine& machine = sim::Current();
  machine.Reset(root);
  machine.MakeFolders(std::u16string(kInstallFolder) + u"\\locales");
  machine.currentDirectory = kInstallFolder;
  UseReleaseKeyForTesting(&kAnyKey);
  ReleaseRun run;
  run.release = VerifiedManifest{MakeInstall(machine, files, bytes), {}, {}};
  run.record = "1\r\n0";

  std::vector<std::u16string> damaged;
  const auto check = [&] {
    damaged.clear();
    if (FindDamagedFiles(run, &damaged) != FetchResult::kFetched || !damaged.empty()) {
      std::fprintf(stderr, "install_check_bench: the install did not check out\n");
      std::exit(1);
    }
  };
  const double first = MillisecondsOf(check);
  const Figures unchanged = Measure(runs, check);
  const std::string find = "find '" + machine.HostPath(kInstallFolder).string() +
                           "' -type f -printf '%s %T@ %p\\n' >/dev/null";
  const Figures reference = Measure(runs, [&] {
    if (std::system(find.c_str()) != 0) std::exit(1);
  });
  std::printf("files: %d listed + the patcher, %d bytes each; %d runs\n", files, bytes, runs);
  std::printf("first check (every file hashed, record written): %.1f ms\n", first);
  std::printf("check, nothing changed:  median %.2f ms, slowest %.2f ms\n", unchanged.median,
              unchanged.slowest);
  std::printf("find, size and time:     median %.2f ms, slowest %.2f ms\n", reference.median,
              reference.slowest);
  std::filesystem::remove_all(root);
  return 0;
}
