#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstring>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "patcher/checked_files.h"
#include "patcher/kept_release.h"
#include "patcher/patcher_fetch.h"
#include "patcher/release_key.h"
#include "patcher/version_check.h"
#include "patcher/version_manager.h"
#include "publish/signing.h"
#include "release/release_manifest.h"
#include "release/version_files.h"
#include "tests/unit/patcher/patcher_test.h"
#include "ui/messages.h"

namespace {

using testhttp::Response;

constexpr char kOldPatcher[] = "old patcher";
constexpr char kOldRecord[] = "2\r\n0";
constexpr char kOldList[] = "a.dat 1\r\n";
constexpr char kOldEntry[] = "a1";
constexpr long kStallSeconds = 1;  // the rate window, shortened
constexpr int kHoldMs = 30000;     // far beyond the stall limit

// Every name a failed update must not leave behind.
constexpr const char16_t* kStagingNames[] = {
    u"patcher_version_tmp",       u"patcher_files_version_tmp", u"release_manifest_tmp",
    u"release_manifest.sig_tmp",  u"release_record_tmp",        u"VelkarisPatcher32.vke.temp",
    u"VelkarisLauncher.exe.temp", u"a.dat.temp",                u"locales\\b.dat.temp"};

// What the server holds: files by server path, the manifest over them and
// its signature.
struct Release {
  std::map<std::string, std::string> files = {
      {"patcher_version", "3\r\n0"},
      {"patcher_files_version", "a.dat 2\r\nlocales\\b.dat 1\r\n"},
      {"VelkarisPatcher32.vke", "new patcher"},
      {"VelkarisLauncher.exe", "server launcher"},
      {"a.dat", "a2"},
      {"locales/b.dat", "b1"},
  };
  std::vector<std::string> mirrors;
  uint32_t codePage = 0;  // named by the manifest when set
  std::string manifest;
  std::string signature;
};

// The simulated machine holds a staging copy with an exclusive lock on its
// host file: nobody else gets even a shared one.
bool HeldAgainstWriters(const std::filesystem::path& hostPath) {
  const int file = ::open(hostPath.c_str(), O_RDONLY | O_CLOEXEC);
  if (file < 0) return false;
  const bool held = ::flock(file, LOCK_SH | LOCK_NB) != 0;
  ::close(file);
  return held;
}

// A server path as libcurl sends it: bytes above 0x7F percent-encoded in
// lower case, every other byte as it is.
std::string AsSent(const std::string& path) {
  constexpr unsigned char kFirstEscaped = 0x80;
  std::string sent;
  for (const char c : path) {
    const auto byte = static_cast<unsigned char>(c);
    char escape[sizeof "%ff"];
    std::snprintf(escape, sizeof escape, "%%%02x", byte);
    sent += byte < kFirstEscaped ? std::string(1, c) : escape;
  }
  return sent;
}

std::string KeyPath(const char* name) { return std::string(LAUNCHER_TEST_KEYS) + "/" + name; }

// Signs release->manifest as it stands.
void SignText(const char* keyName, Release* release) {
  publish::SigningKey key;
  std::string problem;
  ASSERT_TRUE(key.Load(KeyPath(keyName), &problem)) << problem;
  platform::P256Signature signature{};
  ASSERT_TRUE(key.Sign(release->manifest, &signature));
  release->signature.assign(signature.begin(), signature.end());
}

void Sign(const char* keyName, Release* release) {
  ReleaseManifest manifest;
  manifest.mirrors = release->mirrors;
  manifest.codePage = release->codePage;
  for (const auto& [path, bytes] : release->files) manifest.entries[path] = DigestOfBytes(bytes);
  release->manifest = FormatReleaseManifest(manifest);
  SignText(keyName, release);
}

class SignedRelease : public PatcherTest {
 protected:
  void SetUp() override {
    PatcherTest::SetUp();
    UseReleaseKeyForTesting(&m_key);
  }
  void TearDown() override {
    UseReleaseKeyForTesting(nullptr);
    PatcherTest::TearDown();
  }

  // An install one version behind, and `release` on the server.
  void Prepare(const Release& release) {
    Write(u"patcher_version", kOldRecord);
    Write(u"patcher_files_version", kOldList);
    Write(u"VelkarisPatcher32.vke", kOldPatcher);
    Write(u"VelkarisLauncher.exe", release.files.at("VelkarisLauncher.exe"));
    Write(u"a.dat", kOldEntry);
    machine().MakeFolders(std::u16string(kInstall) + u"\\locales");
    Publish(release);
  }
  static void Publish(const Release& release) {
    for (const auto& [path, bytes] : release.files) Serve(AsSent(path), bytes);
    Serve("release_manifest", release.manifest);
    Serve("release_manifest.sig", release.signature);
  }
  // The claim, the launcher copy, the version check and the start, as the
  // main flow runs them, in a run of its own, as every start of the
  // launcher has.
  static bool CheckAndStart(bool defaultFolder = false) {
    ReleaseRun launch;
    const bool result = ClaimInstallFolder(kInstall, defaultFolder) &&
                        EnsureLauncherCopy(launch, kInstall) && CheckPatcherVersion(launch) &&
                        RunPatcher(launch, kInstall);
    DropServerRecordCopy();
    // The launcher's process ends here.
    platform::EndFileConfinementForTesting();
    return result;
  }
  // An install that took and kept a release naming `mirrors`.
  void KeepReleaseWith(const std::vector<std::string>& mirrors) {
    Release kept;
    kept.mirrors = mirrors;
    Sign("test-release.key", &kept);
    Prepare(kept);
    ASSERT_TRUE(CheckAndStart());
  }
  // A patcher of its signed size with other bytes, its last-write time put
  // back: what the last start found vouches for it by its stamp, so only
  // the patcher's own check at its start can tell.
  static void PlantPatcherUnderItsStamp() {
    const std::filesystem::path path = HostPath(u"VelkarisPatcher32.vke");
    const auto time = std::filesystem::last_write_time(path);
    Write(u"VelkarisPatcher32.vke", std::string(Read(u"VelkarisPatcher32.vke").size(), 'x'));
    std::filesystem::last_write_time(path, time);
  }
  // What a refused release leaves: the old version, no copy of the server's
  // manifest, nothing started.
  void ExpectOldVersion() {
    EXPECT_EQ(Read(u"patcher_version"), kOldRecord);
    EXPECT_EQ(Read(u"patcher_files_version"), kOldList);
    EXPECT_EQ(Read(u"VelkarisPatcher32.vke"), kOldPatcher);
    EXPECT_EQ(Read(u"a.dat"), kOldEntry);
    EXPECT_FALSE(Exists(u"locales\\b.dat"));
    for (const char16_t* name : kStagingNames) EXPECT_FALSE(Exists(name)) << Utf8(name);
    for (const char16_t* name : {u"release_manifest", u"release_manifest.sig", u"release_record"}) {
      EXPECT_FALSE(Exists(name)) << Utf8(name);
    }
    EXPECT_TRUE(machine().startedProcesses.empty());
  }

 private:
  platform::P256PublicKey m_key = {{LAUNCHER_TEST_KEY_X}, {LAUNCHER_TEST_KEY_Y}};
};

TEST_F(SignedRelease, ASignedReleaseInstallsAndItsManifestIsKept) {
  Release release;
  Sign("test-release.key", &release);
  Prepare(release);
  // A fresh copy of the launcher is checked against the manifest that
  // vouches for the server's record, fetched once for the whole run.
  platform::RemoveFile(u"VelkarisLauncher.exe");
  // Every staging copy is held against other writers from its download on:
  // when a listed file is asked for, the patcher's copy, fetched before it,
  // and the list's still are.
  std::vector<std::string> writable;
  DownloadServer().SetRequestObserver([&](const testhttp::RecordedRequest& request) {
    if (request.target != "/UploadData/a.dat") return;
    for (const char16_t* copy : {u"VelkarisPatcher32.vke.temp", u"patcher_files_version_tmp"}) {
      if (!HeldAgainstWriters(HostPath(copy))) writable.push_back(Utf8(copy));
    }
  });
  // A file placed once it matched is not read again by the check of the
  // installed files that follows (it would be taken as damaged here).
  machine().readFaults = {{Local(u"a.dat"), sim::Machine::ReadFault::kOpen}};
  EXPECT_TRUE(CheckAndStart());
  machine().readFaults.clear();
  DownloadServer().SetRequestObserver(nullptr);
  EXPECT_TRUE(writable.empty()) << testing::PrintToString(writable);
  EXPECT_EQ(Requests(), (Paths{"patcher_version", "release_manifest", "release_manifest.sig",
                               "VelkarisLauncher.exe", "patcher_files_version",
                               "VelkarisPatcher32.vke", "a.dat", "locales/b.dat"}));
  EXPECT_EQ(Read(u"VelkarisLauncher.exe"), "server launcher");
  EXPECT_TRUE(Boxes().empty());
  EXPECT_EQ(Read(u"VelkarisPatcher32.vke"), "new patcher");
  EXPECT_EQ(Read(u"locales\\b.dat"), "b1");
  EXPECT_EQ(Read(u"release_manifest"), release.manifest);
  EXPECT_EQ(Read(u"release_manifest.sig"), release.signature);
  EXPECT_EQ(Read(u"release_record"), release.files["patcher_version"]);
  for (const char16_t* name : kStagingNames) EXPECT_FALSE(Exists(name)) << Utf8(name);
  EXPECT_EQ(machine().startedProcesses.size(), 1u);

  // Up to date: only the record is asked, the patcher checked against the
  // kept manifest. One replaced on disk since is fetched again first, alone.
  Write(u"VelkarisPatcher32.vke", "planted");
  DownloadServer().ClearRequests();
  machine().startedProcesses.clear();
  EXPECT_TRUE(CheckAndStart());
  EXPECT_EQ(Requests(), (Paths{"patcher_version", "VelkarisPatcher32.vke"}));
  EXPECT_EQ(Read(u"VelkarisPatcher32.vke"), "new patcher");
  EXPECT_EQ(machine().startedProcesses.size(), 1u);

  // Nothing changed since: the listed files are vouched for by what the
  // last start found of them, and none is even opened.
  machine().readFaults = {{Local(u"a.dat"), sim::Machine::ReadFault::kOpen},
                          {Local(u"locales\\b.dat"), sim::Machine::ReadFault::kOpen}};
  DownloadServer().ClearRequests();
  EXPECT_TRUE(CheckAndStart());
  EXPECT_EQ(Requests(), Paths{"patcher_version"});
}

// An install changed between two starts (an antivirus, a disk, an update
// cut short) gets back exactly the files that are not the kept release's,
// from that release; a file only touched is read again, not fetched. The
// start after that makes one request.
TEST_F(SignedRelease, ADamagedInstallIsRepairedFromTheKeptRelease) {
  enum class Damage { kMissing, kShorter, kOtherBytes, kNewerTime, kNextRelease };
  struct Case {
    const char* what;
    const char16_t* name;
    const char* path;
    Damage damage;
  };
  const Case cases[] = {
      {"patcher missing", u"VelkarisPatcher32.vke", "VelkarisPatcher32.vke", Damage::kMissing},
      {"patcher shorter", u"VelkarisPatcher32.vke", "VelkarisPatcher32.vke", Damage::kShorter},
      {"patcher other bytes", u"VelkarisPatcher32.vke", "VelkarisPatcher32.vke",
       Damage::kOtherBytes},
      {"patcher touched", u"VelkarisPatcher32.vke", "VelkarisPatcher32.vke", Damage::kNewerTime},
      {"listed file missing", u"locales\\b.dat", "locales/b.dat", Damage::kMissing},
      {"listed file shorter", u"locales\\b.dat", "locales/b.dat", Damage::kShorter},
      {"listed file other bytes", u"locales\\b.dat", "locales/b.dat", Damage::kOtherBytes},
      {"listed file touched", u"locales\\b.dat", "locales/b.dat", Damage::kNewerTime},
      {"a file of the next release", u"a.dat", "a.dat", Damage::kNextRelease},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Restart();
    Release release;
    Sign("test-release.key", &release);
    Prepare(release);
    ASSERT_TRUE(CheckAndStart());
    const std::string good = release.files[c.path];
    switch (c.damage) {
      case Damage::kMissing:
        std::filesystem::remove(HostPath(c.name));
        break;
      case Damage::kShorter:
        Write(c.name, good.substr(0, good.size() - 1));
        break;
      case Damage::kOtherBytes:
        Write(c.name, std::string(good.size(), 'x'));
        break;
      case Damage::kNewerTime:
        std::filesystem::last_write_time(
            HostPath(c.name), std::filesystem::last_write_time(HostPath(c.name)) + std::chrono::hours(1));
        break;
      case Damage::kNextRelease:
        Write(c.name, "a3 of the next release");
        break;
    }
    DownloadServer().ClearRequests();
    machine().startedProcesses.clear();
    EXPECT_TRUE(CheckAndStart());
    const Paths expected = c.damage == Damage::kNewerTime ? Paths{"patcher_version"}
                                                          : Paths{"patcher_version", c.path};
    EXPECT_EQ(Requests(), expected);
    EXPECT_EQ(Read(c.name), good);
    EXPECT_FALSE(Exists(std::u16string(c.name) + u".temp"));
    EXPECT_EQ(machine().startedProcesses.size(), 1u);
    EXPECT_TRUE(Boxes().empty());

    DownloadServer().ClearRequests();
    EXPECT_TRUE(CheckAndStart());
    EXPECT_EQ(Requests(), Paths{"patcher_version"});
  }

  // A file the next release changed with its size and its number in the
  // list kept, untouched on disk since: it was found good for another
  // digest, so its stamp vouches for nothing.
  Restart();
  Release release;
  Sign("test-release.key", &release);
  Prepare(release);
  ASSERT_TRUE(CheckAndStart());
  Release next = release;
  next.files["patcher_version"] = "4\r\n0";
  next.files["a.dat"] = "a9";
  Sign("test-release.key", &next);
  Publish(next);
  DownloadServer().ClearRequests();
  EXPECT_TRUE(CheckAndStart());
  EXPECT_EQ(Requests(), (Paths{"patcher_version", "release_manifest", "release_manifest.sig",
                               "patcher_files_version", "VelkarisPatcher32.vke", "a.dat"}));
  EXPECT_EQ(Read(u"a.dat"), "a9");
}

// A manifest the record cannot vouch for is handled as a failed download of
// the record: the manager's box, exit -1, nothing changed. Only a good
// manifest of another record is waited for (the record asked again for 2
// minutes), as a publish under way looks.
TEST_F(SignedRelease, AManifestThatDoesNotVouchForTheRecordIsRefused) {
  constexpr size_t kOnce = 1;
  constexpr size_t kWaited = 25;
  struct Case {
    const char* what;
    std::function<void(Release*)> make;
    size_t records;  // requests of the record
  };
  const Case cases[] = {
      {"other key", [](Release* r) { Sign("other-release.key", r); }, kOnce},
      {"truncated signature",
       [](Release* r) {
         Sign("test-release.key", r);
         r->signature.pop_back();
       },
       kOnce},
      {"signature one byte long",
       [](Release* r) {
         Sign("test-release.key", r);
         r->signature += '\0';
       },
       kOnce},
      {"manifest for another record",
       [](Release* r) {
         r->files["patcher_version"] = "4\r\n0";
         Sign("test-release.key", r);
         r->files["patcher_version"] = "3\r\n0";
       },
       kWaited},
      {"record flipped",
       [](Release* r) {
         Sign("test-release.key", r);
         r->files["patcher_version"] = "3\r\n1";
       },
       kWaited},
      {"manifest flipped",
       [](Release* r) {
         Sign("test-release.key", r);
         r->manifest[r->manifest.size() - 2] ^= 1;
       },
       kOnce},
      {"no manifest",
       [](Release* r) {
         Sign("test-release.key", r);
         r->manifest.clear();
       },
       kOnce},
      {"published without a key", [](Release*) {}, kOnce},
      // For players whose Windows reads lists in code page 950; this one
      // reads them in Latin-1: refused at once.
      {"signed for another code page",
       [](Release* r) {
         r->codePage = 950;
         Sign("test-release.key", r);
       },
       kOnce},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Restart();
    Release release;
    c.make(&release);
    Prepare(release);
    if (release.manifest.empty()) Unpublish("release_manifest");
    if (release.signature.empty()) Unpublish("release_manifest.sig");
    EXPECT_EXIT(CheckAndStart(), ::testing::ExitedWithCode(255), "");
    ExpectOldVersion();
    const Paths requests = Requests();
    EXPECT_EQ(static_cast<size_t>(std::count(requests.begin(), requests.end(), "patcher_version")),
              c.records);
  }
}

// Every way a transfer can fail, for every file a signed launcher fetches:
// the server sends bytes of its own, or more than the file's bound, or too
// slowly. Afterwards no byte that was not checked lies at a name the launcher
// or the patcher uses, no staging copy is left, and the install is as it was.
TEST_F(SignedRelease, AFailedTransferLeavesNothingUncheckedOnDisk) {
  using MakeFault = std::function<Response(const std::string& body, size_t bound)>;
  const auto forged = [](std::string body) {
    body.front() ^= 1;
    return body;
  };
  const std::vector<std::pair<const char*, MakeFault>> faults = {
      {"cut short",
       [&](const std::string& body, size_t) {
         return Response::Ok(forged(body)).CutShort(Response::kEveryRequest);
       }},
      {"reset", [](const std::string& body, size_t) { return Response::Ok(body).Reset(); }},
      {"stalled",
       [](const std::string& body, size_t) {
         return Response::Ok(body).HeadersThenSilence(Response::kEveryRequest, kHoldMs);
       }},
      {"oversized",
       [](const std::string& body, size_t bound) {
         return Response::Ok(body + std::string(bound + 1 - body.size(), ' ')).Unannounced();
       }},
      {"too slow",
       [&](const std::string& body, size_t) { return Response::Ok(forged(body)).Trickle(1, 900); }},
  };
  struct File {
    const char* path;
    size_t bound;  // 0: its size in the manifest
    int exitCode;  // the record's failures end the process at once
  };
  const File files[] = {
      {"patcher_version", kMaxRecordBytes, 255},
      {"release_manifest", kMaxReleaseManifestBytes, 255},
      {"patcher_files_version", kMaxListBytes, 1},
      {"VelkarisPatcher32.vke", 0, 1},
      {"a.dat", 0, 1},
      {"VelkarisLauncher.exe", 0, 1},
  };
  for (const File& file : files) {
    for (const auto& [fault, make] : faults) {
      SCOPED_TRACE(std::string(file.path) + ", " + fault);
      Restart();
      FileDownloader::Instance().SetStallSeconds(kStallSeconds);
      Release release;
      Sign("test-release.key", &release);
      Prepare(release);
      const bool launcher = std::string(file.path) == "VelkarisLauncher.exe";
      if (launcher) platform::RemoveFile(u"VelkarisLauncher.exe");
      const std::string& body =
          file.path == std::string("release_manifest") ? release.manifest : release.files[file.path];
      Serve(file.path, make(body, file.bound != 0 ? file.bound : body.size()));
      EXPECT_EXIT(std::_Exit(CheckAndStart() ? 0 : 1), ::testing::ExitedWithCode(file.exitCode),
                  "");
      ExpectOldVersion();
      EXPECT_EQ(Exists(u"VelkarisLauncher.exe"), !launcher);
    }
  }
}

// The release kept from the last verified start, in every state it can be
// found in: only a good one spares the manifest's fetch; whatever the state,
// the patcher starts and the server's release is what is kept afterwards.
TEST_F(SignedRelease, TheKeptReleaseIsTrustedOnlyWhenItVouchesForTheServersRecord) {
  Release older;
  older.files["patcher_version"] = kOldRecord;
  Sign("test-release.key", &older);
  Release otherKey;
  Sign("other-release.key", &otherKey);
  const std::vector<std::pair<const char*, std::function<void()>>> states = {
      {"missing",
       [] {
         for (const char16_t* name : {u"release_manifest", u"release_manifest.sig", u"release_record"}) {
           platform::RemoveFile(name);
         }
       }},
      {"tampered", [] { Write(u"release_manifest", Read(u"release_manifest") + "\n"); }},
      {"another key",
       [&] {
         Write(u"release_manifest", otherKey.manifest);
         Write(u"release_manifest.sig", otherKey.signature);
       }},
      {"older record",
       [&] {
         Write(u"release_manifest", older.manifest);
         Write(u"release_manifest.sig", older.signature);
         Write(u"release_record", kOldRecord);
       }},
      // Not the record the manifest signs: no floor, however high; the
      // manifest itself still vouches for the server's record.
      {"a record of its own", [] { Write(u"release_record", "99\r\n0"); }},
      {"good", [] {}},
  };
  for (const auto& [state, make] : states) {
    SCOPED_TRACE(state);
    Restart();
    Release release;
    Sign("test-release.key", &release);
    Prepare(release);
    ASSERT_TRUE(CheckAndStart());
    make();
    DownloadServer().ClearRequests();
    machine().startedProcesses.clear();
    EXPECT_TRUE(CheckAndStart());
    const bool vouches = std::string(state) == "good" || std::string(state) == "a record of its own";
    const Paths expected = vouches ? Paths{"patcher_version"}
                                : Paths{"patcher_version", "release_manifest",
                                        "release_manifest.sig"};
    EXPECT_EQ(Requests(), expected);
    EXPECT_EQ(machine().startedProcesses.size(), 1u);
    EXPECT_EQ(Read(u"release_manifest"), release.manifest);
    EXPECT_EQ(Read(u"release_manifest.sig"), release.signature);
    EXPECT_EQ(Read(u"release_record"), release.files["patcher_version"]);
  }
}

// A launcher killed at any moment while it keeps a release leaves the old
// or the new one whole, so the floor never drops: every moment, one after
// each change to a file.
TEST_F(SignedRelease, AKillWhileAReleaseIsKeptLeavesTheOldOrTheNewOneWhole) {
  Release release;
  Sign("test-release.key", &release);
  Prepare(release);
  ASSERT_TRUE(CheckAndStart());
  Release next = release;
  next.files["patcher_version"] = "4\r\n0";
  Sign("test-release.key", &next);
  VerifiedManifest verified{{}, next.manifest, next.signature};
  ASSERT_EQ(VerifyManifest(&verified), ReleaseManifestRead::kRead);
  const std::string& record = next.files["patcher_version"];
  const std::map<std::u16string, std::string> old = {
      {u"release_manifest", release.manifest},
      {u"release_manifest.sig", release.signature},
      {u"release_record", release.files["patcher_version"]}};
  const auto restoreOld = [&] {
    for (const auto& [name, bytes] : old) {
      Write(name, bytes);
      std::filesystem::remove(HostPath(name + u"_tmp"));
    }
  };
  machine().fileChanges = 0;
  ASSERT_TRUE(KeepRelease(verified, record));
  const int changes = machine().fileChanges;
  ASSERT_GT(changes, 0);
  bool keptNew = false;
  for (int kill = 1; kill <= changes; ++kill) {
    SCOPED_TRACE(kill);
    restoreOld();
    EXPECT_EXIT(
        {
          machine().fileChanges = 0;
          machine().killAfterFileChanges = kill;
          KeepRelease(verified, record);
          std::_Exit(0);
        },
        ::testing::ExitedWithCode(sim::Machine::kKilledExitCode), "");
    const KeptRelease kept = ReadKeptRelease();
    ASSERT_TRUE(kept.verified);
    const bool oldOne = kept.record == old.at(u"release_record") &&
                        kept.verified->text == release.manifest;
    const bool newOne = kept.record == record && kept.verified->text == next.manifest;
    EXPECT_TRUE(oldOne || newOne) << kept.record;
    // Once the new one is whole, no later moment goes back.
    EXPECT_TRUE(newOne || !keptNew);
    keptNew = newOne;
  }
  EXPECT_TRUE(keptNew);
}

// An older signed release served after a newer one (a replay) is refused
// like a record that cannot be had, whatever the local record says: it
// holds the player's own second number, so only the kept copy counts. So
// is one served after the launcher waited on a higher record whose
// manifest it did not get, as if a release were switching.
TEST_F(SignedRelease, AnOlderSignedReleaseIsRefused) {
  Release older;
  older.files["patcher_version"] = kOldRecord;
  older.files["VelkarisPatcher32.vke"] = kOldPatcher;
  Sign("test-release.key", &older);
  struct Replay {
    const char* localRecord;
    int waits;  // polls of a higher record before the older one comes
    Paths requests;
  };
  const Paths waitedOnce = {"patcher_version", "release_manifest", "release_manifest.sig",
                            "patcher_version"};
  Paths waitedTwice = waitedOnce;
  waitedTwice.push_back("patcher_version");
  const Replay replays[] = {
      {"3\r\n0", 0, {"patcher_version"}}, {"0\r\n0", 0, {"patcher_version"}},
      {"9\r\n7", 0, {"patcher_version"}}, {"3\r\n0", 1, waitedOnce},
      {"3\r\n0", 2, waitedTwice},
  };
  for (const Replay& replay : replays) {
    SCOPED_TRACE(std::string(replay.localRecord) + ", " + std::to_string(replay.waits));
    Restart();
    Release release;
    Sign("test-release.key", &release);
    Prepare(release);
    ASSERT_TRUE(CheckAndStart());
    Write(u"patcher_version", replay.localRecord);
    Publish(older);
    // The server (this process's thread) answers the launcher (a child
    // process): the record changes on the server's count of requests.
    int records = 0;
    if (replay.waits > 0) Serve("patcher_version", "99\r\n0");
    DownloadServer().SetRequestObserver([&](const testhttp::RecordedRequest& request) {
      if (request.target == "/UploadData/patcher_version" && records++ == replay.waits) {
        Serve("patcher_version", older.files["patcher_version"]);
      }
    });
    DownloadServer().ClearRequests();
    EXPECT_EXIT(CheckAndStart(), ::testing::ExitedWithCode(255), "");
    EXPECT_EQ(Requests(), replay.requests);
    DownloadServer().SetRequestObserver(nullptr);
    EXPECT_EQ(Read(u"patcher_version"), replay.localRecord);
    EXPECT_EQ(Read(u"VelkarisPatcher32.vke"), "new patcher");
    EXPECT_EQ(Read(u"release_manifest"), release.manifest);
  }

  // Nor after the update started over: a damaged patcher is fetched again,
  // the older release appears meanwhile, and the record the start-over
  // polls is held to the floor before its manifest is even asked for.
  Restart();
  Release release;
  Sign("test-release.key", &release);
  Prepare(release);
  ASSERT_TRUE(CheckAndStart());
  Write(u"VelkarisPatcher32.vke", "damaged");
  DownloadServer().SetRequestObserver([&](const testhttp::RecordedRequest& request) {
    if (request.target == "/UploadData/VelkarisPatcher32.vke") Publish(older);
  });
  DownloadServer().ClearRequests();
  EXPECT_EXIT(CheckAndStart(), ::testing::ExitedWithCode(255), "");
  DownloadServer().SetRequestObserver(nullptr);
  EXPECT_EQ(Requests(), (Paths{"patcher_version", "VelkarisPatcher32.vke", "patcher_version"}));
  EXPECT_EQ(Read(u"VelkarisPatcher32.vke"), "damaged");
  EXPECT_EQ(Read(u"release_manifest"), release.manifest);
}

// The next release's record, served once the launcher has waited so many
// times: a publish writes the record last.
struct LaggingRecord {
  int sleepsLeft = 0;
  std::string bytes;
};
LaggingRecord g_laggingRecord;

void ServeLaggingRecordWhenDue(sim::Machine&) {
  if (g_laggingRecord.sleepsLeft > 0 && --g_laggingRecord.sleepsLeft == 0) {
    DownloadServer().SetRoute("/UploadData/patcher_version",
                              Response::Ok(g_laggingRecord.bytes));
  }
}

// A publish switches a release's files one by one while players update,
// its record last. A player who meets the next release starts over from the
// record once, without a box, after waiting for the record if it lags; one
// who then meets yet another release fails as before.
TEST_F(SignedRelease, AReleaseSwitchingUnderTheUpdateStartsItOverOnce) {
  std::vector<Release> next(2);
  for (size_t i = 0; i < next.size(); ++i) {
    const std::string number = std::to_string(4 + i);
    next[i].files["patcher_version"] = number + "\r\n0";
    next[i].files["patcher_files_version"] = "a.dat " + number + "\r\nlocales\\b.dat 1\r\n";
    next[i].files["VelkarisPatcher32.vke"] = "patcher " + number;
    next[i].files["a.dat"] = "a" + number;
    Sign("test-release.key", &next[i]);
  }
  // Publishes the next release but for its record, which follows after
  // `lag` waits of the launcher (none: at once).
  const auto publishNext = [&](size_t which, int lag) {
    Release withoutRecord = next[which];
    withoutRecord.files.erase("patcher_version");
    Publish(withoutRecord);
    g_laggingRecord = {lag, next[which].files["patcher_version"]};
    if (lag == 0) Serve("patcher_version", g_laggingRecord.bytes);
  };
  struct Case {
    const char* what;
    bool beforeStart;  // the next release is out but for its record
    size_t switches;   // list requests that meet a newer release
    int recordLag;
    Paths requests;
  };
  const Paths round = {"patcher_version", "release_manifest", "release_manifest.sig",
                       "patcher_files_version"};
  const Paths update = {"VelkarisPatcher32.vke", "a.dat", "locales/b.dat"};
  const auto join = [](std::initializer_list<Paths> parts) {
    Paths all;
    for (const Paths& part : parts) all.insert(all.end(), part.begin(), part.end());
    return all;
  };
  const Case cases[] = {
      {"the record follows at once", false, 1, 0, join({round, round, update})},
      {"the record follows after two waits", false, 1, 2,
       join({round, {"patcher_version", "patcher_version"}, round, update})},
      // The manifest fetched while the record lagged vouches for it once it
      // comes: only the record is asked again.
      {"the manifest is out before the record", true, 0, 1,
       join({{"patcher_version", "release_manifest", "release_manifest.sig", "patcher_version",
              "patcher_files_version"},
             update})},
      {"a second switch", false, 2, 0, join({round, round})},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Restart();
    Release release;
    Sign("test-release.key", &release);
    Prepare(release);
    machine().onSleep = ServeLaggingRecordWhenDue;
    if (c.beforeStart) publishNext(0, c.recordLag);
    size_t listRequests = 0;
    DownloadServer().SetRequestObserver([&](const testhttp::RecordedRequest& request) {
      if (request.target.find("patcher_files_version") == std::string::npos) return;
      if (listRequests < c.switches) publishNext(listRequests, c.recordLag);
      ++listRequests;
    });
    const bool started = CheckAndStart();
    DownloadServer().SetRequestObserver(nullptr);
    EXPECT_EQ(Requests(), c.requests);
    if (c.switches < 2) {
      EXPECT_TRUE(started);
      EXPECT_TRUE(Boxes().empty());
      EXPECT_EQ(Read(u"patcher_version"), "4\r\n0");
      EXPECT_EQ(Read(u"VelkarisPatcher32.vke"), "patcher 4");
      EXPECT_EQ(Read(u"release_manifest"), next[0].manifest);
    } else {
      EXPECT_FALSE(started);
      EXPECT_EQ(Boxes(), std::vector<Box>{SplashBox(u"patcher_files_version",
                                                    g_messages.MsgPatcherVersionDownloadFailed)});
      ExpectOldVersion();
    }
  }
}

// A run waits for a switching release 2 minutes in all, however its waits
// fall: here two for a lagging record, then the rest after the list met
// yet another release, for a record that never moves on. The polls count
// too: each takes 2.5 s on the clock here, so 16 waits of 5 s fill it.
TEST_F(SignedRelease, TheWaitsForASwitchingReleaseShareOneBudget) {
  Release release;
  Sign("test-release.key", &release);
  Prepare(release);
  Release next = release;
  next.files["patcher_version"] = "4\r\n0";
  next.files["patcher_files_version"] = "a.dat 4\r\nlocales\\b.dat 1\r\n";
  next.files["a.dat"] = "a4";
  Sign("test-release.key", &next);
  Release withoutRecord = next;
  withoutRecord.files.erase("patcher_version");
  Publish(withoutRecord);
  int records = 0;
  DownloadServer().SetRequestObserver([&](const testhttp::RecordedRequest& request) {
    if (request.target == "/UploadData/patcher_version") {
      sim::AdvanceMonotonicClock(2500);
      if (++records == 3) Serve("patcher_version", next.files["patcher_version"]);
    }
    if (request.target == "/UploadData/patcher_files_version") {
      Serve("patcher_files_version", "a.dat 5\r\nlocales\\b.dat 1\r\n");
    }
  });
  EXPECT_FALSE(CheckAndStart());
  DownloadServer().SetRequestObserver(nullptr);
  EXPECT_EQ(Boxes(), std::vector<Box>{SplashBox(u"patcher_files_version",
                                                g_messages.MsgPatcherVersionDownloadFailed)});
  EXPECT_EQ(machine().sleeps, std::vector<uint32_t>(16, 5000));
  ExpectOldVersion();
}

// One flipped byte in a file the manifest covers: that file's own box,
// the bad bytes deleted, the old version kept, nothing started.
TEST_F(SignedRelease, AFlippedByteInACoveredFileIsRefusedWithThatFilesBox) {
  struct Case {
    const char* path;
    const char16_t* download;  // where the bad bytes were written
    Box box;
    bool shorter;  // served whole but a byte short, rather than flipped
  };
  const Case cases[] = {
      {"patcher_files_version", u"patcher_files_version_tmp",
       SplashBox(u"patcher_files_version", g_messages.MsgPatcherVersionDownloadFailed), false},
      {"VelkarisPatcher32.vke", u"VelkarisPatcher32.vke.temp",
       SplashBox(u"Launcher", g_messages.MsgUpdateDownloadFailed), false},
      {"locales/b.dat", u"locales\\b.dat.temp",
       SplashBox(u"Launcher-ad", g_messages.MsgUpdateDownloadFailed), false},
      // Another size is other bytes too: waited for as a switching release,
      // not taken for a transfer cut short.
      {"VelkarisPatcher32.vke", u"VelkarisPatcher32.vke.temp",
       SplashBox(u"Launcher", g_messages.MsgUpdateDownloadFailed), true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.path) + (c.shorter ? ", shorter" : ""));
    Restart();
    Release release;
    Sign("test-release.key", &release);
    if (c.shorter) {
      release.files[c.path].pop_back();
    } else {
      release.files[c.path].back() ^= 1;
    }
    Prepare(release);
    EXPECT_FALSE(CheckAndStart());
    EXPECT_EQ(Boxes(), std::vector<Box>{c.box});
    // The mismatch starts the update over once, after the wait for a record
    // that never moves on.
    EXPECT_EQ(machine().sleeps, std::vector<uint32_t>(24, 5000));
    EXPECT_FALSE(Exists(c.download));
    EXPECT_EQ(Read(u"patcher_version"), kOldRecord);
    EXPECT_EQ(Read(u"patcher_files_version"), kOldList);
    EXPECT_EQ(Read(u"VelkarisPatcher32.vke"), kOldPatcher);
    EXPECT_FALSE(Exists(u"release_manifest"));
    EXPECT_TRUE(machine().startedProcesses.empty());
  }

  Restart();
  Release release;
  Sign("test-release.key", &release);
  release.files["VelkarisLauncher.exe"].back() ^= 1;
  Prepare(release);
  platform::RemoveFile(u"VelkarisLauncher.exe");
  EXPECT_FALSE(EnsureLauncherCopy(run, kInstall));
  EXPECT_EQ(Boxes(),
            std::vector<Box>{SplashBox(u"Launcher-ex", g_messages.MsgUpdateDownloadFailed)});
  EXPECT_FALSE(Exists(u"VelkarisLauncher.exe"));
  EXPECT_FALSE(Exists(u"VelkarisLauncher.exe.temp"));
  EXPECT_FALSE(Exists(u"release_manifest_tmp"));
}

// On a Traditional Chinese Windows (code page 950) the list names files in
// Big5, where 許, 功 and 蓋 end in the byte of "\": each is requested by the
// list's bytes and lands under its own name, with a key and without; the
// next start finds them in place.
TEST_F(SignedRelease, ListNamesInTheCodePageInstallUnderTheirOwnNames) {
  for (const bool withKey : {true, false}) {
    SCOPED_TRACE(withKey ? "with a key" : "without");
    Restart();
    machine().ansiCodePage = 950;
    if (!withKey) UseReleaseKeyForTesting(nullptr);
    Release release;
    release.files = {
        {"patcher_version", "3\r\n0"},
        {"patcher_files_version",
         "\xB3\x5C\xA5\x5C\xBB\x5C.txt 1\r\nlocales\\\xBB\xA1\xA9\xFA.txt 1\r\n"},
        {"VelkarisPatcher32.vke", "new patcher"},
        {"VelkarisLauncher.exe", "server launcher"},
        {"\xB3\x5C\xA5\x5C\xBB\x5C.txt", "xu gong gai"},
        {"locales/\xBB\xA1\xA9\xFA.txt", "shuo ming"},
    };
    release.codePage = 950;  // as the publishing tool names it for such paths
    Sign("test-release.key", &release);
    Prepare(release);
    EXPECT_TRUE(CheckAndStart());
    Paths expected = {"patcher_version", "patcher_files_version", "VelkarisPatcher32.vke",
                      "locales/%bb%a1%a9%fa.txt", "%b3\\%a5\\%bb\\.txt"};
    if (withKey) expected.insert(expected.begin() + 1, {"release_manifest", "release_manifest.sig"});
    EXPECT_EQ(Requests(), expected);
    EXPECT_TRUE(Boxes().empty());
    EXPECT_EQ(Read(u"\u8A31\u529F\u84CB.txt"), "xu gong gai");
    EXPECT_EQ(Read(u"locales\\\u8AAA\u660E.txt"), "shuo ming");
    EXPECT_EQ(machine().startedProcesses.size(), 1u);

    DownloadServer().ClearRequests();
    EXPECT_TRUE(CheckAndStart());
    EXPECT_EQ(Requests(), Paths{"patcher_version"});

    // The next release leaves them as they are: neither is fetched again.
    release.files["patcher_version"] = "4\r\n0";
    release.files["VelkarisPatcher32.vke"] = "patcher 4";
    Sign("test-release.key", &release);
    Publish(release);
    DownloadServer().ClearRequests();
    EXPECT_TRUE(CheckAndStart());
    expected.resize(expected.size() - 2);
    EXPECT_EQ(Requests(), expected);
    EXPECT_EQ(Read(u"VelkarisPatcher32.vke"), "patcher 4");
  }
}

TEST_F(SignedRelease, AListThatDoesNotNameExactlyTheManifestsFilesIsRefused) {
  const struct {
    const char* list;
    const char* signedToo;  // a name the manifest lists besides the release's files
  } cases[] = {
      {"a.dat 2\r\n", nullptr},
      {"a.dat 2\r\nlocales\\b.dat 1\r\nc.dat 1\r\n", nullptr},
      {"a.dat 2\r\nlocales\\b.dat 1\r\nrelease_manifest 1\r\n", nullptr},
      // the staging name of a.dat, and a name of the launcher's own files,
      // signed like any listed file
      {"a.dat 2\r\na.dat.Temp 1\r\nlocales\\b.dat 1\r\n", "a.dat.Temp"},
      {"a.dat 2\r\nLauncher.log 1\r\nlocales\\b.dat 1\r\n", "Launcher.log"},
  };
  for (const auto& [list, signedToo] : cases) {
    SCOPED_TRACE(list);
    Restart();
    Release release;
    release.files["patcher_files_version"] = list;
    if (signedToo != nullptr) release.files[signedToo] = "t";
    Sign("test-release.key", &release);
    Prepare(release);
    EXPECT_FALSE(CheckAndStart());
    EXPECT_EQ(Boxes(), std::vector<Box>{SplashBox(u"patcher_files_version",
                                                  g_messages.MsgPatcherVersionDownloadFailed)});
    EXPECT_EQ(Read(u"VelkarisPatcher32.vke"), kOldPatcher);
  }
}

// Requests of the built-in host ("A ") and a mirror ("B "), in the order
// they came.
Paths RequestsOfBoth(const testhttp::TestHttpServer& mirror) {
  std::vector<std::pair<std::chrono::steady_clock::time_point, std::string>> timed;
  const testhttp::TestHttpServer* servers[] = {&DownloadServer(), &mirror};
  for (const auto* server : servers) {
    const std::string host = server == &mirror ? "B " : "A ";
    for (const auto& request : server->Requests()) {
      timed.emplace_back(request.received, host + request.target.substr(sizeof("/UploadData/") - 1));
    }
  }
  std::stable_sort(timed.begin(), timed.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  Paths paths;
  for (const auto& [when, path] : timed) paths.push_back(path);
  return paths;
}

// A release of the next number, on the built-in host and on its mirror.
Release NextRelease(const std::vector<std::string>& mirrors) {
  Release next;
  next.files["patcher_version"] = "4\r\n0";
  next.files["patcher_files_version"] = "a.dat 4\r\nlocales\\b.dat 1\r\n";
  next.files["VelkarisPatcher32.vke"] = "patcher 4";
  next.files["a.dat"] = "a4";
  next.mirrors = mirrors;
  return next;
}

// Patch day with a faulty edge: whatever the built-in host does wrong with
// one file, the mirror named by the release the run trusts (the kept one
// for the record) serves it. The player sees nothing, nothing unchecked is
// placed, and the faulty host is asked last for the rest of the run.
TEST_F(SignedRelease, AFaultyHostIsPassedOverForTheReleasesMirror) {
  testhttp::TestHttpServer mirror;
  ASSERT_TRUE(mirror.Start());
  const std::vector<std::string> mirrors = {"127.0.0.1:" + std::to_string(mirror.Port())};
  using MakeFault = std::function<Response(const std::string& body, size_t bound)>;
  const std::vector<std::pair<const char*, MakeFault>> faults = {
      {"503", [](const std::string&, size_t) { return Response::HtmlPage(503); }},
      {"reset", [](const std::string& body, size_t) { return Response::Ok(body).Reset(); }},
      {"stalled",
       [](const std::string& body, size_t) {
         return Response::Ok(body).HeadersThenSilence(Response::kEveryRequest, kHoldMs);
       }},
      {"damaged",
       [](std::string body, size_t) {
         body.back() ^= 1;
         return Response::Ok(body);
       }},
      {"oversized",
       [](const std::string& body, size_t bound) {
         return Response::Ok(body + std::string(bound + 1 - body.size(), ' ')).Unannounced();
       }},
  };
  // In the order a run with a missing launcher copy asks for them.
  const std::vector<std::string> files = {"patcher_version",       "release_manifest",
                                          "release_manifest.sig",  "VelkarisLauncher.exe",
                                          "patcher_files_version", "VelkarisPatcher32.vke",
                                          "a.dat"};
  for (const std::string& file : files) {
    for (const auto& [fault, make] : faults) {
      const bool damaged = std::string(fault) == "damaged";
      // A record has no digest: damaged, it is a record of another release.
      if (damaged && file == "patcher_version") continue;
      SCOPED_TRACE(file + ", " + fault);
      Restart();
      KeepReleaseWith(mirrors);
      Release next = NextRelease(mirrors);
      Sign("test-release.key", &next);
      Publish(next);
      mirror.ClearRoutes();
      for (const auto& [path, bytes] : next.files) {
        mirror.SetRoute("/UploadData/" + path, Response::Ok(bytes));
      }
      mirror.SetRoute("/UploadData/release_manifest", Response::Ok(next.manifest));
      mirror.SetRoute("/UploadData/release_manifest.sig", Response::Ok(next.signature));
      const std::string& body = file == "release_manifest"       ? next.manifest
                                : file == "release_manifest.sig" ? next.signature
                                                                 : next.files[file];
      const size_t bound = file == "patcher_version"        ? kMaxRecordBytes
                           : file == "release_manifest"     ? kMaxReleaseManifestBytes
                           : file == "release_manifest.sig" ? platform::kP256SignatureBytes
                                                            : body.size();
      Serve(file, make(body, bound));
      platform::RemoveFile(u"VelkarisLauncher.exe");
      DownloadServer().ClearRequests();
      mirror.ClearRequests();
      machine().startedProcesses.clear();

      // A silent host is passed over at once while a mirror remains: the
      // rate rule's full window is not waited for.
      const auto started = std::chrono::steady_clock::now();
      EXPECT_TRUE(CheckAndStart());
      EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(20));
      EXPECT_TRUE(Boxes().empty());
      EXPECT_EQ(machine().startedProcesses.size(), 1u);
      EXPECT_EQ(Read(u"VelkarisPatcher32.vke"), "patcher 4");
      EXPECT_EQ(Read(u"a.dat"), "a4");
      EXPECT_EQ(Read(u"VelkarisLauncher.exe"), "server launcher");
      EXPECT_EQ(Read(u"release_manifest"), next.manifest);
      for (const char16_t* name : kStagingNames) EXPECT_FALSE(Exists(name)) << Utf8(name);
      // Asked of the built-in host up to the faulty file, then of the
      // mirror; a manifest and signature that do not verify together are
      // asked again as a pair.
      Paths expected;
      bool faulted = false;
      const bool pair = damaged && (file == "release_manifest" || file == "release_manifest.sig");
      for (const std::string& path : files) {
        if (path == file && !pair) {
          expected.push_back("A " + path);
          faulted = true;
        }
        if (pair && path == "release_manifest") {
          expected.insert(expected.end(), {"A release_manifest", "A release_manifest.sig"});
          faulted = true;
        }
        expected.push_back((faulted ? "B " : "A ") + path);
      }
      EXPECT_EQ(RequestsOfBoth(mirror), expected);
    }
  }
  mirror.Stop();
}

// A transfer cut short is continued where it stopped, on the next host if
// need be, and a staging copy left by a killed run is continued only for
// the entry it was begun for. A host passed over for a pause is asked again
// when the other fails, and bytes refused after a continuation are asked
// for whole at once, before the host that continued them is judged: a 206
// that does not fit costs one more request, never a wait.
TEST_F(SignedRelease, ACutTransferIsContinuedOnlyForItsOwnEntry) {
  testhttp::TestHttpServer mirror;
  ASSERT_TRUE(mirror.Start());
  const std::vector<std::string> mirrors = {"127.0.0.1:" + std::to_string(mirror.Port())};
  std::string patcher(64 * 1024, 'p');
  for (size_t i = 0; i < patcher.size(); ++i) patcher[i] = static_cast<char>('a' + i % 23);
  const std::string prefix = patcher.substr(0, patcher.size() / 2);
  const std::string range = "bytes=" + std::to_string(prefix.size()) + "-";
  std::string damaged = patcher;
  damaged[1] ^= 1;
  // kShifted, kSpliced: cut, then its own retry answered by a 206 that names
  // the right range over other bytes: from 1,000 bytes earlier, or the
  // file's first bytes.
  enum class BuiltIn { kSound, kCut, kDamagedAndCut, kPause, kShifted, kSpliced };
  struct Case {
    const char* what;
    bool killedRunPrefix;  // the patcher's staging copy holds its first half
    const char* noted;     // what the notes say it was begun for: "same", "other", none
    BuiltIn builtIn;
    bool mirrorRefuses;
    // Each request to the mirror: "continued" from a byte past 0, or "whole".
    std::vector<std::string> mirrorAsked;
  };
  const Case cases[] = {
      {"a killed run's prefix of the same entry", true, "same", BuiltIn::kSound, false, {}},
      {"a prefix of another release", true, "other", BuiltIn::kSound, false, {}},
      {"a prefix nobody noted", true, nullptr, BuiltIn::kSound, false, {}},
      {"cut at the built-in host, continued at the mirror", false, nullptr, BuiltIn::kCut, false,
       {"continued"}},
      {"damaged and cut at the built-in host, refused once continued at the mirror", false,
       nullptr, BuiltIn::kDamagedAndCut, false, {"continued", "whole"}},
      {"a pause at the built-in host, the mirror refusing", false, nullptr, BuiltIn::kPause, true,
       {"continued"}},
      {"a shifted 206 at the built-in host, the mirror refusing", false, nullptr, BuiltIn::kShifted,
       true, {}},
      {"a spliced 206 at the built-in host, the mirror refusing", false, nullptr, BuiltIn::kSpliced,
       true, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Restart();
    KeepReleaseWith(mirrors);
    Release next = NextRelease(mirrors);
    next.files["VelkarisPatcher32.vke"] = patcher;
    Sign("test-release.key", &next);
    Publish(next);
    mirror.ClearRoutes();
    mirror.SetRoute("/UploadData/VelkarisPatcher32.vke",
                    c.mirrorRefuses ? Response::HtmlPage(503) : Response::Ok(patcher));
    if (c.builtIn == BuiltIn::kCut || c.builtIn == BuiltIn::kDamagedAndCut) {
      Serve("VelkarisPatcher32.vke",
            Response::Ok(c.builtIn == BuiltIn::kCut ? patcher : damaged)
                .CutShort(Response::kEveryRequest, prefix.size()));
    }
    // Longer than the silence that passes a host over, far shorter than the
    // rate rule's window.
    if (c.builtIn == BuiltIn::kPause) {
      Serve("VelkarisPatcher32.vke", Response::Ok(patcher).Trickle(prefix.size(), 2500));
    }
    if (c.builtIn == BuiltIn::kShifted || c.builtIn == BuiltIn::kSpliced) {
      const size_t shift = c.builtIn == BuiltIn::kShifted ? 1000 : prefix.size();
      Serve("VelkarisPatcher32.vke", Response::Ok(patcher)
                                         .CutShort(1, prefix.size())
                                         .Ranges(testhttp::RangeAnswer::kShiftedBody, shift));
    }
    if (c.killedRunPrefix) Write(u"VelkarisPatcher32.vke.temp", prefix);
    if (c.noted != nullptr) {
      const platform::FileDigest entry = DigestOfBytes(std::string(c.noted) == "same" ? patcher : "x");
      Write(u"release_staging",
            ToHex(entry.sha256) + " " + std::to_string(entry.size) + " VelkarisPatcher32.vke\n");
    }
    DownloadServer().ClearRequests();
    mirror.ClearRequests();
    machine().sleeps.clear();

    const auto started = std::chrono::steady_clock::now();
    EXPECT_TRUE(CheckAndStart());
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(20));
    EXPECT_TRUE(Boxes().empty());
    // No wait for a switching release: only the list's rename, tried first
    // while the old list is there, waits its second.
    EXPECT_EQ(machine().sleeps, std::vector<uint32_t>{1000});
    EXPECT_EQ(Read(u"VelkarisPatcher32.vke"), patcher);
    EXPECT_FALSE(Exists(u"VelkarisPatcher32.vke.temp"));
    EXPECT_FALSE(Exists(u"release_staging"));
    const auto rangesAsked = [](const testhttp::TestHttpServer& server) {
      std::vector<std::string> ranges;
      for (const auto& request : server.Requests()) {
        if (request.target == "/UploadData/VelkarisPatcher32.vke") ranges.push_back(request.Header("Range"));
      }
      return ranges;
    };
    const std::vector<std::string> builtInRanges = rangesAsked(DownloadServer());
    ASSERT_FALSE(builtInRanges.empty());
    const bool continued = std::string(c.what).find("same entry") != std::string::npos;
    EXPECT_EQ(builtInRanges.front(), continued ? range : "");
    // The paused host continues the file once the mirror has refused it.
    if (c.builtIn == BuiltIn::kPause) {
      EXPECT_EQ(builtInRanges, (std::vector<std::string>{"", range}));
    }
    if (c.builtIn == BuiltIn::kShifted || c.builtIn == BuiltIn::kSpliced) {
      EXPECT_EQ(builtInRanges, (std::vector<std::string>{"", range, ""}));
    }
    std::vector<std::string> mirrorAsked;
    for (const std::string& asked : rangesAsked(mirror)) {
      mirrorAsked.push_back(asked.empty() ? "whole" : asked.rfind("bytes=0-", 0) == 0 ? asked : "continued");
    }
    EXPECT_EQ(mirrorAsked, c.mirrorAsked);
  }
  mirror.Stop();
}

// With a key the patcher starts only from a folder that only administrators
// can change, and by the path of the very file it checked. The folder is
// the launcher's before anything in it is written or believed: the folder
// first (the default folder's parent too), then what the release names
// below it; a folder without listed files and a chosen folder's parents
// are left as they are. What a folder held before its first claim (one
// upgraded from an unsigned launcher, made beforehand, chosen in the
// dialog) is checked again; only in a folder that was the launcher's
// already are its notes believed. A link on the way to the folder, or at a
// folder the release names, stops the run before anything is written
// through it.
TEST_F(SignedRelease, ThePatcherStartsOnlyFromAFolderOfTheLaunchersOwn) {
  Release release;
  Sign("test-release.key", &release);
  Prepare(release);
  machine().MakeFolders(Local(u"settings"));
  ASSERT_TRUE(CheckAndStart());
  const std::set<std::u16string> claimed = {
      kInstall,          Local(u"VelkarisLauncher.exe"),  Local(u"VelkarisPatcher32.vke"),
      Local(u"a.dat"),   Local(u"locales"),               Local(u"patcher_files_version"),
      Local(u"patcher_version")};
  EXPECT_EQ(machine().protectedPaths, claimed);
  const std::vector<std::u16string> patcherStarted = {u"\"" + Local(u"VelkarisPatcher32.vke") +
                                                      u"\" "};
  EXPECT_EQ(machine().startedProcesses, patcherStarted);

  // The launcher's default folder: its parent, which it made, too.
  machine().protectedPaths.clear();
  EXPECT_TRUE(ClaimInstallFolder(kInstall, true));
  platform::EndFileConfinementForTesting();
  EXPECT_EQ(machine().protectedPaths.count(u"C:\\Games"), 1u);

  // Nor from one whose listed file cannot be made the launcher's.
  Restart();
  Prepare(release);
  machine().unprotectablePaths.insert(Local(u"a.dat"));
  EXPECT_FALSE(CheckAndStart());
  EXPECT_TRUE(machine().startedProcesses.empty());
  ASSERT_EQ(Boxes().size(), 1u);
  EXPECT_EQ(Boxes()[0].text.rfind(g_messages.MsgUpdateVersionDownloadFailed, 0), 0u);

  enum class Folder { kUpgraded, kMadeBeforehand, kChosen, kOurs };
  const std::pair<Folder, const char*> folders[] = {
      {Folder::kUpgraded, "upgraded from an unsigned launcher"},
      {Folder::kMadeBeforehand, "the default folder, made beforehand"},
      {Folder::kChosen, "an existing folder, chosen"},
      {Folder::kOurs, "already the launcher's"}};
  enum class Plant { kLauncherCopy, kRunningCopy, kLyingRecord, kStagingNotes, kLinkAtFolder,
                     kLinkAtParent, kLinkAtLocales };
  const std::pair<Plant, const char*> plants[] = {
      {Plant::kLauncherCopy, "a launcher copy"},
      {Plant::kRunningCopy, "an older launcher copy, running"},
      {Plant::kLyingRecord, "a checked-files record that lies"},
      {Plant::kStagingNotes, "staging notes naming files elsewhere"},
      {Plant::kLinkAtFolder, "a link at the folder"},
      {Plant::kLinkAtParent, "a link at its parent"},
      {Plant::kLinkAtLocales, "a link at locales"}};
  const std::u16string elsewhere = u"C:\\Elsewhere";
  // Where the notes' absolute and climbing paths lead once ".temp" is added.
  const std::u16string victims[] = {u"C:\\Users\\player\\Documents\\victim.temp",
                                    u"C:\\victim.temp"};
  const auto linkInstead = [](const std::u16string& folder, const std::u16string& target) {
    const std::filesystem::path host = machine().HostPath(folder);
    std::filesystem::rename(host, machine().HostPath(target));
    std::filesystem::create_directory_symlink(machine().HostPath(target), host);
  };
  for (const auto& [folder, folderName] : folders) {
    for (const auto& [plant, plantName] : plants) {
      SCOPED_TRACE(std::string(folderName) + ", " + plantName);
      Restart();
      if (folder == Folder::kChosen) Write(u"notes of the player.txt", "mine");
      if (folder == Folder::kUpgraded || folder == Folder::kOurs) Prepare(release);
      if (folder != Folder::kUpgraded && folder != Folder::kOurs) Publish(release);
      if (folder == Folder::kOurs) {
        ASSERT_TRUE(CheckAndStart());
      }
      machine().MakeFolders(elsewhere);
      switch (plant) {
        case Plant::kLauncherCopy:
          Write(u"VelkarisLauncher.exe", "planted launcher");
          break;
        case Plant::kRunningCopy:
          Write(u"VelkarisLauncher.exe", "older launcher");
          machine().runningPrograms = {Local(u"VelkarisLauncher.exe")};
          break;
        case Plant::kLyingRecord: {
          // Up to date, a listed file swapped for bytes of its size, and the
          // record vouching for them.
          for (const char* path : {"patcher_version", "patcher_files_version",
                                   "VelkarisPatcher32.vke", "VelkarisLauncher.exe"}) {
            Write(std::u16string(path, path + std::strlen(path)), release.files[path]);
          }
          Write(u"locales\\b.dat", release.files["locales/b.dat"]);
          Write(u"a.dat", "x2");
          CheckedFile lie{{}, DigestOfBytes(release.files["a.dat"]).sha256};
          ASSERT_TRUE(platform::QueryFileStamp(Local(u"a.dat"), &lie.stamp));
          ASSERT_TRUE(WriteCheckedFiles({{"a.dat", lie}}));
          break;
        }
        case Plant::kStagingNotes: {
          const platform::FileDigest digest = DigestOfBytes("x");
          Write(u"release_staging", FormatManifestEntry("C:/Users/player/Documents/victim", digest) +
                                        "\n" + FormatManifestEntry("../../victim", digest) + "\n");
          for (const std::u16string& victim : victims) machine().WriteFile(victim, "victim");
          // Something to fetch, so that the notes are read.
          Write(u"VelkarisPatcher32.vke", "damaged");
          break;
        }
        case Plant::kLinkAtFolder:
          linkInstead(kInstall, elsewhere + u"\\Velkaris");
          break;
        case Plant::kLinkAtParent:
          linkInstead(u"C:\\Games", elsewhere + u"\\Games");
          break;
        case Plant::kLinkAtLocales:
          std::filesystem::remove_all(HostPath(u"locales"));
          std::filesystem::create_directory_symlink(machine().HostPath(elsewhere),
                                                    HostPath(u"locales"));
          break;
      }
      const std::set<std::filesystem::path> elsewhereBefore = {
          std::filesystem::recursive_directory_iterator(machine().HostPath(elsewhere)), {}};
      machine().startedProcesses.clear();
      machine().fileLog.clear();
      machine().transcript.clear();
      const bool started = CheckAndStart(folder == Folder::kMadeBeforehand);

      const bool link = plant == Plant::kLinkAtFolder || plant == Plant::kLinkAtParent ||
                        plant == Plant::kLinkAtLocales;
      const std::set<std::filesystem::path> elsewhereAfter = {
          std::filesystem::recursive_directory_iterator(machine().HostPath(elsewhere)), {}};
      EXPECT_EQ(elsewhereAfter, elsewhereBefore);
      if (link) {
        EXPECT_FALSE(started);
        EXPECT_TRUE(machine().startedProcesses.empty());
        ASSERT_EQ(Boxes().size(), 1u);
        EXPECT_EQ(Boxes()[0].text.rfind(g_messages.MsgUpdateVersionDownloadFailed, 0), 0u);
        // Stopped before a write when the folder itself is at stake, before
        // one below it at locales.
        for (const std::u16string& changed : machine().fileLog) {
          EXPECT_TRUE(plant == Plant::kLinkAtLocales &&
                      changed.find(Local(u"locales")) == std::u16string::npos)
              << Utf8(changed);
        }
        continue;
      }
      EXPECT_TRUE(started);
      EXPECT_EQ(machine().startedProcesses, patcherStarted);
      ASSERT_FALSE(machine().fileLog.empty());
      EXPECT_EQ(machine().fileLog.front(), u"protect " + std::u16string(kInstall));
      EXPECT_EQ(machine().protectedPaths.count(u"C:\\Games"),
                folder == Folder::kMadeBeforehand ? 1u : 0u);
      EXPECT_EQ(Read(u"VelkarisLauncher.exe"), release.files["VelkarisLauncher.exe"]);
      // A copy that runs is set aside, and goes at a later start.
      EXPECT_EQ(Exists(u"VelkarisLauncher.exe.old"), plant == Plant::kRunningCopy);
      machine().runningPrograms.clear();
      ASSERT_TRUE(CheckAndStart());
      EXPECT_FALSE(Exists(u"VelkarisLauncher.exe.old"));
      EXPECT_FALSE(Exists(u"release_staging"));
      if (folder == Folder::kChosen) {
        EXPECT_EQ(Read(u"notes of the player.txt"), "mine");
      }
      for (const std::u16string& victim : victims) {
        EXPECT_EQ(machine().ReadFile(victim), plant == Plant::kStagingNotes ? "victim" : "");
      }
      // Only an administrator can have written both the file and the record
      // in a folder that was the launcher's.
      if (plant == Plant::kLyingRecord) {
        EXPECT_EQ(Read(u"a.dat"), folder == Folder::kOurs ? "x2" : release.files["a.dat"]);
      }
    }
  }
}

// The signed layer at its edges: a file sent past its signed size with no
// length announced is cut at the bound after one request, with no wait and
// no second round. A patcher replaced under its stamp is caught by its own
// check at the start: the signed bytes are fetched and started; with the
// server's patcher bad too and no kept release, nothing starts and nothing
// is kept. Hosts that each fail slowly end the run with the file's box once
// its budget is spent, not after every one of them.
TEST_F(SignedRelease, TheSignedLayerHoldsAtItsEdges) {
  Release release;
  Sign("test-release.key", &release);
  Prepare(release);
  Serve("VelkarisPatcher32.vke",
        Response::Ok(release.files["VelkarisPatcher32.vke"] + std::string(1 << 20, ' '))
            .Unannounced());
  EXPECT_FALSE(CheckAndStart());
  const Paths requests = Requests();
  EXPECT_EQ(std::count(requests.begin(), requests.end(), "VelkarisPatcher32.vke"), 1);
  EXPECT_EQ(std::count(requests.begin(), requests.end(), "patcher_version"), 1);
  EXPECT_TRUE(machine().sleeps.empty());
  EXPECT_EQ(Boxes(), std::vector<Box>{SplashBox(u"Launcher", g_messages.MsgUpdateDownloadFailed)});
  ExpectOldVersion();

  for (const bool serverBad : {false, true}) {
    SCOPED_TRACE(serverBad ? "the server's patcher bad too, no kept release" : "a good server");
    Restart();
    Prepare(release);
    ASSERT_TRUE(CheckAndStart());
    if (serverBad) {
      for (const char16_t* name : {u"release_manifest", u"release_manifest.sig", u"release_record"}) {
        platform::RemoveFile(name);
      }
    }
    PlantPatcherUnderItsStamp();
    const std::string planted = Read(u"VelkarisPatcher32.vke");
    if (serverBad) Serve("VelkarisPatcher32.vke", std::string(planted.size(), 'y'));
    DownloadServer().ClearRequests();
    machine().startedProcesses.clear();
    EXPECT_EQ(CheckAndStart(), !serverBad);
    EXPECT_FALSE(Exists(u"VelkarisPatcher32.vke.temp"));
    if (serverBad) {
      EXPECT_TRUE(machine().startedProcesses.empty());
      EXPECT_FALSE(Exists(u"release_manifest"));
      EXPECT_EQ(Read(u"VelkarisPatcher32.vke"), planted);
    } else {
      EXPECT_EQ(Requests(),
                (Paths{"patcher_version", "patcher_files_version", "VelkarisPatcher32.vke"}));
      EXPECT_EQ(Read(u"VelkarisPatcher32.vke"), release.files["VelkarisPatcher32.vke"]);
      EXPECT_EQ(machine().startedProcesses.size(), 1u);
    }
  }

  // Each request for the patcher takes the run's whole allowance on the clock;
  // the mirrors serve nothing at all.
  Restart();
  std::atomic<size_t> patcherRequests{0};
  const auto failSlowly = [&](const testhttp::RecordedRequest& request) {
    if (request.target != "/UploadData/VelkarisPatcher32.vke") return;
    ++patcherRequests;
    sim::AdvanceMonotonicClock(kRunAllowanceMilliseconds);
  };
  std::vector<std::unique_ptr<testhttp::TestHttpServer>> mirrors(3);
  std::vector<std::string> addresses;
  for (auto& mirror : mirrors) {
    mirror = std::make_unique<testhttp::TestHttpServer>();
    ASSERT_TRUE(mirror->Start());
    addresses.push_back("127.0.0.1:" + std::to_string(mirror->Port()));
    mirror->SetRequestObserver(failSlowly);
  }
  KeepReleaseWith(addresses);
  Release next = NextRelease(addresses);
  Sign("test-release.key", &next);
  Publish(next);
  Serve("VelkarisPatcher32.vke", Response::HtmlPage(503));
  DownloadServer().SetRequestObserver(failSlowly);
  EXPECT_FALSE(CheckAndStart());
  DownloadServer().SetRequestObserver(nullptr);
  EXPECT_EQ(Boxes(), std::vector<Box>{SplashBox(u"Launcher", g_messages.MsgUpdateDownloadFailed)});
  EXPECT_LT(patcherRequests, mirrors.size() + 1);
}

}  // namespace
