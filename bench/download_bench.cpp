// Download benchmark: FileDownloader::DownloadFile against the curl
// command-line tool, both fetching from the test HTTP server on 127.0.0.1
// into the same temporary folder. Each client runs as a child process so
// that its time and peak resident memory are its own. Not a test: run it
// with bench/run.sh (which builds it without sanitizers).
//
//   download_bench [--big-mib N] [--small-files N] [--runs N] [--temp DIR]
//
// Its own children (internal):
//   download_bench --fetch|--fetch-hashed BASE_URL HOST_ROOT LIST_FILE
// downloads each "serverPath localPath" line of LIST_FILE with DownloadFile
// (--fetch-hashed: with the SHA-256 taken as the body streams, as a launcher
// built with a release key fetches); local paths are Windows paths on the
// simulated machine rooted at HOST_ROOT.
//   download_bench --measure RESULT_FILE STDOUT_FILE PROGRAM [ARG...]
// runs PROGRAM and writes its time and peak resident memory.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "net/file_downloader.h"
#include "platform/sim/sim_machine.h"
#include "tests/http_server/test_http_server.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr uint64_t kKiB = 1024;
constexpr uint64_t kMiB = 1024 * kKiB;
constexpr int kDefaultBigMiB = 1024;
constexpr int kProbeMiB = 1;  // the small file of the memory comparison
constexpr int kDefaultSmallFiles = 2000;
constexpr uint64_t kSmallFileBytes = 4 * kKiB;
constexpr int kSmallFileRounds = 3;
constexpr int kDefaultRuns = 7;
constexpr double kThroughputTarget = 0.95;
// Our time per small file over a new connection, against the curl tool's.
constexpr double kSmallFileTarget = 1.10;
constexpr long kMemoryBudgetKiB = 2 * 1024;
constexpr auto kChildTimeLimit = std::chrono::seconds(180);
constexpr auto kRunnerGrace = std::chrono::seconds(5);
constexpr size_t kCompareChunkBytes = 4 * kMiB;
// The big file again, sent at most 1 MiB each 5 ms (about 200 MiB/s, a
// fast player's line and far below the hash's speed), hashing against curl.
constexpr size_t kPacedChunkBytes = kMiB;
constexpr int kPacedDelayMs = 5;
constexpr int kPacedRuns = 3;
constexpr char kServerFolder[] = "/UploadData/";
constexpr char kFetchMode[] = "--fetch";
constexpr char kFetchHashedMode[] = "--fetch-hashed";
constexpr char kMeasureMode[] = "--measure";
constexpr char kSelf[] = "/proc/self/exe";
constexpr char kCurl[] = "curl";
// The download checked with the standard tools: the curl tool, then OpenSSL's
// SHA-256 (the same library and instructions as ours) over its file.
constexpr char kCurlThenDigest[] =
    "curl --silent --show-error --fail --output \"$1\" \"$2\" &&"
    " openssl dgst -sha256 \"$1\" >/dev/null";
// The simulated machine's folder that our client downloads into.
constexpr char kSimOutFolder[] = "C:\\out\\";
constexpr const char* kProxyVariables[] = {"http_proxy", "HTTP_PROXY", "https_proxy",
                                           "HTTPS_PROXY", "all_proxy", "ALL_PROXY",
                                           "no_proxy", "NO_PROXY"};

struct Options {
  int bigMiB = kDefaultBigMiB;
  int smallFiles = kDefaultSmallFiles;
  int runs = kDefaultRuns;
  fs::path temp = fs::temp_directory_path();
};

struct ChildResult {
  bool ok = false;
  double seconds = 0;
  long peakKiB = 0;
};

// Removes the benchmark's temporary folder, with its 1 GiB files, on every
// way out.
class TempFolder {
 public:
  explicit TempFolder(const fs::path& parent) {
    std::string pattern = (parent / "download-bench-XXXXXX").string();
    if (mkdtemp(pattern.data()) != nullptr) m_path = pattern;
  }
  ~TempFolder() {
    std::error_code error;
    if (!m_path.empty()) fs::remove_all(m_path, error);
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  const fs::path& path() const { return m_path; }

 private:
  fs::path m_path;
};

std::u16string Widen(const std::string& ascii) { return {ascii.begin(), ascii.end()}; }

// Incompressible, reproducible content (xorshift64).
std::string MakeContent(uint64_t bytes, uint64_t seed) {
  std::string content(bytes, '\0');
  uint64_t state = seed * 0x9E3779B97F4A7C15ULL + 1;
  for (uint64_t offset = 0; offset < bytes; offset += sizeof(state)) {
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    std::memcpy(content.data() + offset, &state, std::min<uint64_t>(sizeof(state), bytes - offset));
  }
  return content;
}

bool FileEquals(const fs::path& file, const std::string& expected) {
  std::ifstream in(file, std::ios::binary);
  std::vector<char> chunk(kCompareChunkBytes);
  size_t offset = 0;
  while (in) {
    in.read(chunk.data(), static_cast<std::streamsize>(chunk.size()));
    const size_t read = static_cast<size_t>(in.gcount());
    if (offset + read > expected.size() ||
        std::memcmp(chunk.data(), expected.data() + offset, read) != 0) {
      return false;
    }
    offset += read;
  }
  return offset == expected.size();
}

// Runs a program to its end, its standard output into stdoutFile; it is
// killed when it outlives the time limit.
bool SpawnAndWait(const std::vector<std::string>& args, const fs::path& stdoutFile,
                  std::chrono::seconds timeLimit, ChildResult* result) {
  std::vector<char*> argv;
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, stdoutFile.c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0644);
  const auto start = Clock::now();
  pid_t pid = 0;
  const int spawned = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) {
    std::fprintf(stderr, "cannot start %s: %s\n", argv[0], std::strerror(spawned));
    return false;
  }
  // A blocking wait, so that no polling wakes up beside the transfer; a
  // watchdog stops a child that outlives the limit.
  std::mutex mutex;
  std::condition_variable reaped;
  bool done = false;
  bool killed = false;
  std::thread watchdog([&] {
    std::unique_lock<std::mutex> lock(mutex);
    if (!reaped.wait_until(lock, start + timeLimit, [&] { return done; })) {
      killed = true;
      kill(pid, SIGKILL);
    }
  });
  // Wait for the end without reaping, so the watchdog can never hit a
  // reused process id.
  siginfo_t info{};
  while (waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOWAIT) < 0 && errno == EINTR) {
  }
  {
    std::lock_guard<std::mutex> lock(mutex);
    done = true;
  }
  reaped.notify_one();
  watchdog.join();
  int status = 0;
  rusage usage{};
  wait4(pid, &status, 0, &usage);
  if (killed) {
    std::fprintf(stderr, "%s took too long and was stopped\n", argv[0]);
    return false;
  }
  result->seconds = std::chrono::duration<double>(Clock::now() - start).count();
  result->peakKiB = usage.ru_maxrss;
  result->ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  if (!result->ok) std::fprintf(stderr, "%s failed (status %d)\n", argv[0], status);
  return result->ok;
}

// The measuring child: runs the program and writes "ok seconds peakKiB".
// Linux carries the peak resident size of the process that starts a program
// over into the program's own figure, so the benchmark, which holds the
// served content, starts the clients through this small process.
int RunMeasured(const fs::path& resultFile, const fs::path& stdoutFile,
                const std::vector<std::string>& args) {
  ChildResult result;
  SpawnAndWait(args, stdoutFile, kChildTimeLimit, &result);
  std::ofstream(resultFile) << result.ok << ' ' << result.seconds << ' ' << result.peakKiB << '\n';
  return result.ok ? 0 : 1;
}

bool RunChild(const std::vector<std::string>& args, const fs::path& stdoutFile,
              const fs::path& resultFile, ChildResult* result) {
  std::vector<std::string> measured = {kSelf, kMeasureMode, resultFile.string(),
                                       stdoutFile.string()};
  measured.insert(measured.end(), args.begin(), args.end());
  ChildResult runner;
  if (!SpawnAndWait(measured, "/dev/null", kChildTimeLimit + kRunnerGrace, &runner)) return false;
  std::ifstream in(resultFile);
  return static_cast<bool>(in >> result->ok >> result->seconds >> result->peakKiB) && result->ok;
}

std::vector<std::string> ReadLines(const fs::path& file) {
  std::ifstream in(file);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// The child: one DownloadFile per list line, as the launcher fetches.
int RunFetch(const std::string& baseUrl, const fs::path& hostRoot, const fs::path& list,
             bool hashed) {
  sim::Current().Reset(hostRoot);
  FileDownloader downloader(baseUrl);
  // The big file is past the bound of a body whose size nothing states.
  downloader.SetUnstatedSizeLimit(kNoStatedSize);
  for (const std::string& line : ReadLines(list)) {
    const size_t blank = line.find(' ');
    if (blank == std::string::npos) return 2;
    platform::FileDigest digest;
    if (!downloader.DownloadFile(Widen(line.substr(0, blank)), Widen(line.substr(blank + 1)),
                                 kNoStatedSize, hashed ? &digest : nullptr)) {
      return 1;
    }
  }
  return 0;
}

class Bench {
 public:
  Bench(const fs::path& work, const std::string& baseUrl) : m_work(work), m_baseUrl(baseUrl) {}

  // Our client fetching the listed server paths into the simulated C:\out.
  bool RunOurs(const std::vector<std::string>& serverPaths, ChildResult* result,
               bool hashed = false) const {
    const fs::path list = m_work / "ours.list";
    std::ofstream out(list);
    for (const std::string& path : serverPaths) out << path << ' ' << kSimOutFolder << path << '\n';
    out.close();
    return RunChild({kSelf, hashed ? kFetchHashedMode : kFetchMode, m_baseUrl, SimRoot().string(),
                     list.string()},
                    m_work / "ours.out", m_work / "measure.txt", result);
  }

  // The curl tool fetching the listed paths in one process into m_work/curl;
  // its -w line per transfer: time to first byte, total time.
  bool RunCurl(const std::vector<std::string>& serverPaths, bool closeEach, ChildResult* result,
               std::vector<std::string>* report) const {
    const fs::path config = m_work / "curl.cfg";
    std::ofstream out(config);
    for (const std::string& path : serverPaths) {
      out << "url = \"" << m_baseUrl << path << "\"\n"
          << "output = \"" << (CurlRoot() / path).string() << "\"\n";
    }
    out.close();
    std::vector<std::string> args = {kCurl, "--silent", "--show-error", "--fail", "--config",
                                     config.string(), "--write-out",
                                     "%{time_starttransfer} %{time_total}\\n"};
    if (closeEach) args.insert(args.end(), {"--header", "Connection: close"});
    const fs::path stdoutFile = m_work / "curl.out";
    if (!RunChild(args, stdoutFile, m_work / "measure.txt", result)) return false;
    *report = ReadLines(stdoutFile);
    return true;
  }

  // The curl tool fetching one path into m_work/curl, then its SHA-256.
  bool RunCurlThenDigest(const std::string& serverPath, ChildResult* result) const {
    return RunChild({"sh", "-c", kCurlThenDigest, "sh", (CurlRoot() / serverPath).string(),
                     m_baseUrl + serverPath},
                    m_work / "curl.out", m_work / "measure.txt", result);
  }

  fs::path OursFile(const std::string& path) const { return SimRoot() / "C" / "out" / path; }
  fs::path CurlFile(const std::string& path) const { return CurlRoot() / path; }

 private:
  fs::path SimRoot() const { return m_work / "sim"; }
  fs::path CurlRoot() const { return m_work / "curl"; }

  fs::path m_work;
  std::string m_baseUrl;
};

std::string Format(double value, int decimals) {
  char text[32];
  std::snprintf(text, sizeof(text), "%.*f", decimals, value);
  return text;
}

void PrintRow(const std::string& label, const std::string& ours, const std::string& curl) {
  std::printf("%-44s %13s %13s\n", label.c_str(), ours.c_str(), curl.c_str());
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const size_t middle = values.size() / 2;
  return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

// Sum of one whitespace-separated field over curl's -w lines.
double SumField(const std::vector<std::string>& lines, int field) {
  double sum = 0;
  for (const std::string& line : lines) {
    std::istringstream in(line);
    double value = 0;
    for (int i = 0; i <= field; ++i) in >> value;
    sum += value;
  }
  return sum;
}

void RemoveFiles(const std::vector<fs::path>& files) {
  std::error_code error;
  for (const fs::path& file : files) fs::remove(file, error);
  sync();  // no write-back of the last run may slow the next one
}

// Our client writes through the simulated machine, which finds a name in any
// letter case by reading its whole folder when no entry has the exact name
// (Windows looks it up in the folder's index): for 2,000 new files in one
// folder that reading, the test stand-in's and not the download's, cost
// 2 ms a file. So both clients write into files that are there already.
void MakeEmptyFiles(const std::vector<fs::path>& files) {
  for (const fs::path& file : files) std::ofstream{file};
  sync();
}

bool ParseOptions(int argc, char** argv, Options* options) {
  for (int i = 1; i < argc; ++i) {
    const std::string flag = argv[i];
    if (i + 1 >= argc) return false;
    const std::string value = argv[++i];
    if (flag == "--big-mib") {
      options->bigMiB = std::atoi(value.c_str());
    } else if (flag == "--small-files") {
      options->smallFiles = std::atoi(value.c_str());
    } else if (flag == "--runs") {
      options->runs = std::atoi(value.c_str());
    } else if (flag == "--temp") {
      options->temp = value;
    } else {
      return false;
    }
  }
  return options->bigMiB > 0 && options->smallFiles > 0 && options->runs > 0;
}

struct BigFileFigures {
  std::vector<double> oursSeconds;
  std::vector<double> hashedSeconds;  // ours with the SHA-256 taken on the way
  std::vector<double> curlSeconds;
  std::vector<double> curlDigestSeconds;  // curl, then openssl dgst -sha256
  std::vector<double> curlFirstByte;  // the server's share of each curl run
  long oursPeakKiB = 0;
  long curlPeakKiB = 0;
};

// The big file, the four clients (ours, ours hashing, curl, curl then its
// digest) taking turns at going first.
bool MeasureBigFile(const Bench& bench, const std::string& content, int runs,
                    BigFileFigures* figures) {
  constexpr int kClients = 4;
  constexpr int kHashedClient = 1;
  constexpr int kCurlClient = 2;
  constexpr int kCurlDigestClient = 3;
  for (int run = 0; run < runs; ++run) {
    for (int turn = 0; turn < kClients; ++turn) {
      const int clientIndex = (run + turn) % kClients;
      const bool digestTurn = clientIndex == kCurlDigestClient;
      const bool oursTurn = clientIndex != kCurlClient && !digestTurn;
      const bool hashed = clientIndex == kHashedClient;
      const char* client = hashed ? "hash" : oursTurn ? "ours" : digestTurn ? "curl+dgst" : "curl";
      ChildResult result;
      std::vector<std::string> report;
      const bool ok = oursTurn     ? bench.RunOurs({"big.bin"}, &result, hashed)
                      : digestTurn ? bench.RunCurlThenDigest("big.bin", &result)
                                   : bench.RunCurl({"big.bin"}, false, &result, &report);
      const fs::path file = oursTurn ? bench.OursFile("big.bin") : bench.CurlFile("big.bin");
      if (!ok || !FileEquals(file, content)) {
        std::fprintf(stderr, "%s: the big file did not arrive intact\n", client);
        return false;
      }
      RemoveFiles({file});
      std::printf("  run %d %-9s %.3f s\n", run + 1, client, result.seconds);
      if (digestTurn) {
        figures->curlDigestSeconds.push_back(result.seconds);
      } else if (hashed) {
        figures->hashedSeconds.push_back(result.seconds);
      } else if (oursTurn) {
        figures->oursSeconds.push_back(result.seconds);
        figures->oursPeakKiB = std::max(figures->oursPeakKiB, result.peakKiB);
      } else {
        figures->curlSeconds.push_back(result.seconds);
        figures->curlPeakKiB = std::max(figures->curlPeakKiB, result.peakKiB);
        figures->curlFirstByte.push_back(SumField(report, 0));
      }
    }
  }
  return true;
}

// The paced big file: ours with the SHA-256 against curl, taking turns.
bool MeasurePaced(const Bench& bench, const std::string& content, std::vector<double>* hashed,
                  std::vector<double>* curl) {
  for (int run = 0; run < kPacedRuns; ++run) {
    for (int turn = 0; turn < 2; ++turn) {
      const bool oursTurn = (run + turn) % 2 == 0;
      ChildResult result;
      std::vector<std::string> report;
      const bool ok = oursTurn ? bench.RunOurs({"paced.bin"}, &result, true)
                               : bench.RunCurl({"paced.bin"}, false, &result, &report);
      const fs::path file = oursTurn ? bench.OursFile("paced.bin") : bench.CurlFile("paced.bin");
      if (!ok || !FileEquals(file, content)) {
        std::fprintf(stderr, "%s: the paced file did not arrive intact\n", oursTurn ? "hash" : "curl");
        return false;
      }
      RemoveFiles({file});
      std::printf("  paced run %d %-4s %.3f s\n", run + 1, oursTurn ? "hash" : "curl",
                  result.seconds);
      (oursTurn ? hashed : curl)->push_back(result.seconds);
    }
  }
  return true;
}

struct SmallFileFigures {
  ChildResult ours;
  ChildResult curlClose;
  ChildResult curlDefault;
  // Connections the server accepted during each run.
  size_t oursConnections = 0;
  size_t curlCloseConnections = 0;
  size_t curlDefaultConnections = 0;
};

bool MeasureSmallFiles(const Bench& bench, testhttp::TestHttpServer& server,
                       const std::vector<std::string>& paths,
                       const std::vector<std::string>& contents, SmallFileFigures* figures) {
  const auto localFiles = [&](bool ours) {
    std::vector<fs::path> files;
    for (const std::string& path : paths) {
      files.push_back(ours ? bench.OursFile(path) : bench.CurlFile(path));
    }
    return files;
  };
  const auto arrivedIntact = [&](bool ours) {
    const std::vector<fs::path> files = localFiles(ours);
    bool intact = true;
    for (size_t i = 0; i < files.size(); ++i) intact = intact && FileEquals(files[i], contents[i]);
    RemoveFiles(files);
    return intact;
  };
  // Each run's connections, counted by the server alike for both clients.
  const auto counted = [&](bool ours, const auto& fetch, size_t* connections) {
    MakeEmptyFiles(localFiles(ours));
    server.ClearRequests();
    const bool ok = fetch();
    *connections = server.ConnectionCount();
    return ok;
  };
  // Ours, curl closing each connection, curl reusing them: each client's
  // best run, taking turns at going first, since interference only adds time.
  constexpr int kClients = 3;
  ChildResult* const best[kClients] = {&figures->ours, &figures->curlClose, &figures->curlDefault};
  size_t* const connections[kClients] = {&figures->oursConnections, &figures->curlCloseConnections,
                                         &figures->curlDefaultConnections};
  for (int round = 0; round < kSmallFileRounds; ++round) {
    for (int turn = 0; turn < kClients; ++turn) {
      const int client = (round + turn) % kClients;
      const bool ours = client == 0;
      ChildResult result;
      std::vector<std::string> report;  // timings per transfer, not needed here
      const auto fetch = [&] {
        return ours ? bench.RunOurs(paths, &result) && arrivedIntact(true)
                    : bench.RunCurl(paths, client == 1, &result, &report) && arrivedIntact(false);
      };
      if (!counted(ours, fetch, connections[client])) {
        std::fprintf(stderr, "%s: the small files did not arrive intact\n", ours ? "ours" : "curl");
        return false;
      }
      if (round == 0 || result.seconds < best[client]->seconds) *best[client] = result;
    }
  }
  return true;
}

void PrintReport(const Options& options, const BigFileFigures& big,
                 const std::vector<double>& pacedHashed, const std::vector<double>& pacedCurl,
                 long probePeakKiB, const SmallFileFigures& small) {
  const double ours = Median(big.oursSeconds);
  const double curl = Median(big.curlSeconds);
  const double oursBest = *std::min_element(big.oursSeconds.begin(), big.oursSeconds.end());
  const double curlBest = *std::min_element(big.curlSeconds.begin(), big.curlSeconds.end());
  const double bigMiB = options.bigMiB;
  const double msPerFile = 1000.0 / options.smallFiles;
  const std::string bigLabel = std::to_string(options.bigMiB) + " MiB";
  const std::string smallLabel = std::to_string(options.smallFiles) + " x 4 KiB";

  std::printf("\n");
  PrintRow("", "DownloadFile", "curl tool");
  PrintRow(bigLabel + ": seconds, median of " + std::to_string(options.runs), Format(ours, 3),
           Format(curl, 3));
  PrintRow(bigLabel + ": seconds, best run", Format(oursBest, 3), Format(curlBest, 3));
  PrintRow(bigLabel + ": MiB/s, best run", Format(bigMiB / oursBest, 0),
           Format(bigMiB / curlBest, 0));
  const double hashed = Median(big.hashedSeconds);
  const double hashedBest = *std::min_element(big.hashedSeconds.begin(), big.hashedSeconds.end());
  const double digest = Median(big.curlDigestSeconds);
  const double digestBest =
      *std::min_element(big.curlDigestSeconds.begin(), big.curlDigestSeconds.end());
  PrintRow(bigLabel + " with SHA-256: seconds, median", Format(hashed, 3), Format(digest, 3));
  PrintRow(bigLabel + " with SHA-256: seconds, best run", Format(hashedBest, 3),
           Format(digestBest, 3));
  const double pacedHashedBest = *std::min_element(pacedHashed.begin(), pacedHashed.end());
  const double pacedCurlBest = *std::min_element(pacedCurl.begin(), pacedCurl.end());
  PrintRow(bigLabel + " paced, with SHA-256: s, best", Format(pacedHashedBest, 3),
           Format(pacedCurlBest, 3));
  PrintRow(bigLabel + ": peak resident KiB", std::to_string(big.oursPeakKiB),
           std::to_string(big.curlPeakKiB));
  PrintRow(std::to_string(kProbeMiB) + " MiB: peak resident KiB", std::to_string(probePeakKiB),
           "-");
  PrintRow(smallLabel + ": ms per file, new conn., best", Format(small.ours.seconds * msPerFile, 3),
           Format(small.curlClose.seconds * msPerFile, 3));
  PrintRow(smallLabel + ": ms per file, reused, best", "-",
           Format(small.curlDefault.seconds * msPerFile, 3));
  PrintRow(smallLabel + ": connections, new / reused", std::to_string(small.oursConnections),
           std::to_string(small.curlCloseConnections) + " / " +
               std::to_string(small.curlDefaultConnections));

  // Interference from the rest of the machine only ever adds time, so the
  // best runs are the fairest comparison; the medians show the spread.
  const double bestRatio = curlBest / oursBest;
  std::printf("\nthroughput DownloadFile / curl: %.3f from the best runs, %.3f from the medians;"
              " target %.2f: %s\n",
              bestRatio, curl / ours, kThroughputTarget,
              bestRatio >= kThroughputTarget ? "met" : "NOT met");
  const double hashedRatio = curlBest / hashedBest;
  std::printf("throughput DownloadFile with SHA-256 / curl: %.3f from the best runs, %.3f from the"
              " medians; target %.2f: %s\n",
              hashedRatio, curl / hashed, kThroughputTarget,
              hashedRatio >= kThroughputTarget ? "met" : "NOT met");
  std::printf("throughput DownloadFile with SHA-256 / curl then openssl dgst -sha256: %.3f from"
              " the best runs, %.3f from the medians\n",
              digestBest / hashedBest, digest / hashed);
  std::printf("throughput paced (1 MiB each %d ms), DownloadFile with SHA-256 / curl: %.3f from"
              " the best runs\n",
              kPacedDelayMs, pacedCurlBest / pacedHashedBest);
  std::printf("  every run includes the server's %.3f s before the first byte (curl's median)\n",
              Median(big.curlFirstByte));
  const long growth = big.oursPeakKiB - probePeakKiB;
  std::printf("memory growth from %d MiB to %s: %ld KiB, budget %ld KiB: %s\n", kProbeMiB,
              bigLabel.c_str(), growth, kMemoryBudgetKiB,
              growth < kMemoryBudgetKiB ? "met" : "NOT met");
  const double smallRatio = small.ours.seconds / small.curlClose.seconds;
  std::printf("time per small file, new connections, DownloadFile / curl: %.3f from the best runs;"
              " target %.2f: %s\n",
              smallRatio, kSmallFileTarget, smallRatio <= kSmallFileTarget ? "met" : "NOT met");
  if (small.curlDefaultConnections >= static_cast<size_t>(options.smallFiles)) {
    std::printf("curl's default reused no connection: the reuse row shows nothing\n");
  }
}

int RunBenchmark(const Options& options) {
  for (const char* name : kProxyVariables) unsetenv(name);  // loopback only
  const TempFolder work(options.temp);
  if (work.path().empty()) {
    std::fprintf(stderr, "cannot create a folder in %s\n", options.temp.c_str());
    return 1;
  }
  std::error_code error;
  fs::create_directories(work.path() / "sim" / "C" / "out" / "small", error);
  fs::create_directories(work.path() / "curl" / "small", error);

  std::printf("Generating content (%d MiB, %d MiB, %d x %llu KiB) in %s\n", options.bigMiB,
              kProbeMiB, options.smallFiles,
              static_cast<unsigned long long>(kSmallFileBytes / kKiB), work.path().c_str());
  const std::string big = MakeContent(static_cast<uint64_t>(options.bigMiB) * kMiB, 1);
  const std::string probe = MakeContent(kProbeMiB * kMiB, 2);
  std::vector<std::string> smallPaths;
  std::vector<std::string> smallContents;
  for (int i = 0; i < options.smallFiles; ++i) {
    char name[32];
    std::snprintf(name, sizeof(name), "small/%04d.bin", i);
    smallPaths.push_back(name);
    smallContents.push_back(MakeContent(kSmallFileBytes, static_cast<uint64_t>(i) + 3));
  }

  testhttp::TestHttpServer server;
  if (!server.Start()) {
    std::fprintf(stderr, "the test server does not start\n");
    return 1;
  }
  // Served from memory: from a document root the server would read the
  // whole file anew for every request, slower than the transfer itself.
  server.SetRoute(std::string(kServerFolder) + "big.bin", testhttp::Response::Ok(big));
  server.SetRoute(std::string(kServerFolder) + "probe.bin", testhttp::Response::Ok(probe));
  server.SetRoute(std::string(kServerFolder) + "paced.bin",
                  testhttp::Response::Ok(big).Trickle(kPacedChunkBytes, kPacedDelayMs));
  for (size_t i = 0; i < smallPaths.size(); ++i) {
    server.SetRoute(kServerFolder + smallPaths[i], testhttp::Response::Ok(smallContents[i]));
  }
  const Bench bench(work.path(), server.BaseUrl() + kServerFolder);

  BigFileFigures bigFigures;
  if (!MeasureBigFile(bench, big, options.runs, &bigFigures)) return 1;
  std::vector<double> pacedHashed;
  std::vector<double> pacedCurl;
  if (!MeasurePaced(bench, big, &pacedHashed, &pacedCurl)) return 1;
  ChildResult probeResult;
  if (!bench.RunOurs({"probe.bin"}, &probeResult) ||
      !FileEquals(bench.OursFile("probe.bin"), probe)) {
    std::fprintf(stderr, "ours: the probe file did not arrive intact\n");
    return 1;
  }
  RemoveFiles({bench.OursFile("probe.bin")});
  SmallFileFigures smallFigures;
  if (!MeasureSmallFiles(bench, server, smallPaths, smallContents, &smallFigures)) return 1;
  server.Stop();

  PrintReport(options, bigFigures, pacedHashed, pacedCurl, probeResult.peakKiB, smallFigures);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 5 && std::strcmp(argv[1], kFetchMode) == 0) {
    return RunFetch(argv[2], argv[3], argv[4], false);
  }
  if (argc == 5 && std::strcmp(argv[1], kFetchHashedMode) == 0) {
    return RunFetch(argv[2], argv[3], argv[4], true);
  }
  if (argc > 4 && std::strcmp(argv[1], kMeasureMode) == 0) {
    return RunMeasured(argv[2], argv[3], std::vector<std::string>(argv + 4, argv + argc));
  }
  Options options;
  if (!ParseOptions(argc, argv, &options)) {
    std::fprintf(stderr,
                 "usage: download_bench [--big-mib N] [--small-files N] [--runs N] [--temp DIR]\n");
    return 2;
  }
  return RunBenchmark(options);
}
