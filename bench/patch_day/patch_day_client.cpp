// Patch-day client: N simulated players fetch one server path at the same
// moment, each with a FileDownloader of its own (so each on its own
// connection, as each player's launcher is), on a thread with a small
// stack. Each copy is checked for its size and deleted once complete, so
// the disk holds only the copies in flight.
//
// Usage: patch_day_client BASE_URL SERVER_PATH PLAYERS EXPECTED_BYTES WORK_DIR
// Prints: answered failed p50_ms p99_ms max_ms (times from the common start
// to each player's end; the percentiles over the answered ones).

#include <pthread.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include "net/file_downloader.h"
#include "platform/sim/sim_machine.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr size_t kThreadStackBytes = size_t{256} << 10;
constexpr int kArgumentCount = 6;
constexpr double kP50 = 0.50;
constexpr double kP99 = 0.99;
// The players' files lie in the simulated machine's C:\players.
constexpr char16_t kPlayersFolder[] = u"C:\\players\\";

struct Shared {
  std::string baseUrl;
  std::u16string serverPath;
  uint64_t expectedBytes = 0;
  fs::path hostFolder;  // C:\players on the host
  std::mutex mutex;
  std::condition_variable ready;
  bool go = false;
  Clock::time_point start;
};

struct Player {
  Shared* shared = nullptr;
  int index = 0;
  bool ok = false;
  double milliseconds = 0;
};

std::u16string Widen(const std::string& text) { return std::u16string(text.begin(), text.end()); }

void* PlayerMain(void* argument) {
  Player* player = static_cast<Player*>(argument);
  Shared& shared = *player->shared;
  FileDownloader downloader(shared.baseUrl);
  const std::string name = std::to_string(player->index) + ".copy";
  {
    std::unique_lock<std::mutex> lock(shared.mutex);
    shared.ready.wait(lock, [&] { return shared.go; });
  }
  std::u16string local(kPlayersFolder);
  local += Widen(name);
  const bool fetched = downloader.DownloadFile(shared.serverPath, local);
  const Clock::time_point end = Clock::now();
  const fs::path copy = shared.hostFolder / name;
  std::error_code error;
  player->ok = fetched && fs::file_size(copy, error) == shared.expectedBytes && !error;
  fs::remove(copy, error);
  player->milliseconds = std::chrono::duration<double, std::milli>(end - shared.start).count();
  return nullptr;
}

double Percentile(std::vector<double> values, double share) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  const size_t index = static_cast<size_t>(share * static_cast<double>(values.size() - 1) + 0.5);
  return values[index];
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != kArgumentCount) {
    std::fprintf(stderr,
                 "usage: patch_day_client BASE_URL SERVER_PATH PLAYERS EXPECTED_BYTES WORK_DIR\n");
    return 2;
  }
  Shared shared;
  shared.baseUrl = argv[1];
  shared.serverPath = Widen(argv[2]);
  const int players = std::atoi(argv[3]);
  shared.expectedBytes = std::strtoull(argv[4], nullptr, 10);
  const fs::path work = argv[5];
  sim::Current().Reset(work);
  shared.hostFolder = work / "C" / "players";
  fs::create_directories(shared.hostFolder);

  // One fetch first, alone: libcurl sets itself up on the first handle, which
  // must not happen on many threads at once.
  {
    FileDownloader warmUp(shared.baseUrl);
    if (!warmUp.DownloadFile(shared.serverPath, std::u16string(kPlayersFolder) + u"warm-up")) {
      std::fprintf(stderr, "patch_day_client: the warm-up fetch failed\n");
      return 1;
    }
    fs::remove(shared.hostFolder / "warm-up");
  }

  std::vector<Player> team(static_cast<size_t>(players));
  std::vector<pthread_t> threads;
  pthread_attr_t attributes;
  pthread_attr_init(&attributes);
  pthread_attr_setstacksize(&attributes, kThreadStackBytes);
  for (int i = 0; i < players; ++i) {
    team[i].shared = &shared;
    team[i].index = i;
    pthread_t thread;
    if (pthread_create(&thread, &attributes, PlayerMain, &team[i]) != 0) {
      std::fprintf(stderr, "patch_day_client: cannot start player %d\n", i);
      break;
    }
    threads.push_back(thread);
  }
  pthread_attr_destroy(&attributes);
  {
    std::lock_guard<std::mutex> lock(shared.mutex);
    shared.start = Clock::now();
    shared.go = true;
  }
  shared.ready.notify_all();
  for (pthread_t thread : threads) pthread_join(thread, nullptr);

  int answered = 0;
  std::vector<double> times;
  double slowest = 0;
  for (size_t i = 0; i < threads.size(); ++i) {
    slowest = std::max(slowest, team[i].milliseconds);
    if (!team[i].ok) continue;
    ++answered;
    times.push_back(team[i].milliseconds);
  }
  std::printf("%d %d %.0f %.0f %.0f\n", answered, players - answered, Percentile(times, kP50),
              Percentile(times, kP99), slowest);
  return 0;
}
