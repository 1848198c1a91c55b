#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "patcher/patcher_fetch.h"
#include "patcher/release_check.h"
#include "patcher/release_key.h"
#include "patcher/version_check.h"
#include "patcher/version_manager.h"
#include "tests/support/test_signer.h"
#include "tests/unit/patcher/patcher_test.h"
#include "ui/messages.h"

namespace {

constexpr char kOldPatcher[] = "old patcher";
constexpr char kOldRecord[] = "2\r\n0";
constexpr char kOldList[] = "a.dat 1\r\n";

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
  std::string manifest;
  std::string signature;
};

std::string KeyPath(const char* name) { return std::string(LAUNCHER_TEST_KEYS) + "/" + name; }

void Sign(const char* keyName, Release* release) {
  ReleaseManifest manifest;
  for (const auto& [path, bytes] : release->files) manifest.entries[path] = DigestOfBytes(bytes);
  release->manifest = FormatReleaseManifest(manifest);
  ASSERT_TRUE(SignForTesting(release->manifest, KeyPath(keyName), &release->signature));
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
    machine().MakeFolders(std::u16string(kInstall) + u"\\locales");
    for (const auto& [path, bytes] : release.files) Serve(path, bytes);
    Serve("release_manifest", release.manifest);
    Serve("release_manifest.sig", release.signature);
  }
  // The version check and the start, as the main flow runs them.
  static bool CheckAndStart() {
    const bool result = CheckPatcherVersion() && RunPatcher(kInstall);
    platform::RemoveFile(u"patcher_version_tmp");
    return result;
  }
  // What a refused release leaves: the old version, no copy of the server's
  // manifest, nothing started.
  void ExpectOldVersion() {
    EXPECT_EQ(Read(u"patcher_version"), kOldRecord);
    EXPECT_EQ(Read(u"patcher_files_version"), kOldList);
    EXPECT_EQ(Read(u"VelkarisPatcher32.vke"), kOldPatcher);
    for (const char16_t* name : {u"VelkarisPatcher32.vke.temp", u"patcher_files_version_tmp",
                                 u"release_manifest_tmp", u"release_manifest.sig_tmp",
                                 u"release_manifest", u"release_manifest.sig"}) {
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
  EXPECT_TRUE(CheckAndStart());
  EXPECT_EQ(Requests(), (Paths{"patcher_version", "release_manifest", "release_manifest.sig",
                               "patcher_files_version", "VelkarisPatcher32.vke", "a.dat",
                               "locales/b.dat"}));
  EXPECT_TRUE(Boxes().empty());
  EXPECT_EQ(Read(u"VelkarisPatcher32.vke"), "new patcher");
  EXPECT_EQ(Read(u"locales\\b.dat"), "b1");
  EXPECT_EQ(Read(u"release_manifest"), release.manifest);
  EXPECT_EQ(Read(u"release_manifest.sig"), release.signature);
  EXPECT_FALSE(Exists(u"release_manifest_tmp"));
  EXPECT_EQ(machine().startedProcesses.size(), 1u);

  // Up to date: only the record is asked, the patcher checked against the
  // kept manifest. One replaced on disk since is fetched again first.
  Write(u"VelkarisPatcher32.vke", "planted");
  DownloadServer().ClearRequests();
  machine().startedProcesses.clear();
  EXPECT_TRUE(CheckAndStart());
  EXPECT_EQ(Requests(), (Paths{"patcher_version", "release_manifest", "release_manifest.sig",
                               "patcher_files_version", "VelkarisPatcher32.vke"}));
  EXPECT_EQ(Read(u"VelkarisPatcher32.vke"), "new patcher");
  EXPECT_EQ(machine().startedProcesses.size(), 1u);

  DownloadServer().ClearRequests();
  EXPECT_TRUE(CheckAndStart());
  EXPECT_EQ(Requests(), Paths{"patcher_version"});
}

// A manifest the record cannot vouch for is handled as a failed download of
// the record: the manager's box, exit -1, nothing changed.
TEST_F(SignedRelease, AManifestThatDoesNotVouchForTheRecordIsRefused) {
  const std::vector<std::pair<const char*, std::function<void(Release*)>>> cases = {
      {"other key", [](Release* r) { Sign("other-release.key", r); }},
      {"truncated signature",
       [](Release* r) {
         Sign("test-release.key", r);
         r->signature.pop_back();
       }},
      {"signature one byte long", 
       [](Release* r) {
         Sign("test-release.key", r);
         r->signature += '\0';
       }},
      {"manifest for another record",
       [](Release* r) {
         r->files["patcher_version"] = "4\r\n0";
         Sign("test-release.key", r);
         r->files["patcher_version"] = "3\r\n0";
       }},
      {"record flipped",
       [](Release* r) {
         Sign("test-release.key", r);
         r->files["patcher_version"] = "3\r\n1";
       }},
      {"manifest flipped",
       [](Release* r) {
         Sign("test-release.key", r);
         r->manifest[r->manifest.size() - 2] ^= 1;
       }},
      {"no manifest",
       [](Release* r) {
         Sign("test-release.key", r);
         r->manifest.clear();
       }},
  };
  for (const auto& [what, make] : cases) {
    SCOPED_TRACE(what);
    Restart();
    Release release;
    make(&release);
    Prepare(release);
    if (release.manifest.empty()) Unpublish("release_manifest");
    CVPatcherVersionManager manager;
    ASSERT_TRUE(manager.DownloadVersionInfo());
    EXPECT_FALSE(FetchRunManifest());
    ExpectOldVersion();
  }
  Restart();
  Prepare(Release{});
  EXPECT_EXIT(CheckAndStart(), ::testing::ExitedWithCode(255), "");
  ExpectOldVersion();
}

// One flipped byte in a file the manifest covers: that file's own box,
// the bad bytes deleted, the old version kept, nothing started.
TEST_F(SignedRelease, AFlippedByteInACoveredFileIsRefusedWithThatFilesBox) {
  struct Case {
    const char* path;
    const char16_t* download;  // where the bad bytes were written
    Box box;
  };
  const Case cases[] = {
      {"patcher_files_version", u"patcher_files_version_tmp",
       SplashBox(u"patcher_files_version", g_messages.MsgPatcherVersionDownloadFailed)},
      {"VelkarisPatcher32.vke", u"VelkarisPatcher32.vke.temp",
       SplashBox(u"Launcher", g_messages.MsgUpdateDownloadFailed)},
      {"locales/b.dat", u"locales\\b.dat",
       SplashBox(u"Launcher-ad", g_messages.MsgUpdateDownloadFailed)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    Restart();
    Release release;
    Sign("test-release.key", &release);
    release.files[c.path].back() ^= 1;
    Prepare(release);
    EXPECT_FALSE(CheckAndStart());
    EXPECT_EQ(Boxes(), std::vector<Box>{c.box});
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
  EXPECT_FALSE(EnsureLauncherCopy(kInstall));
  EXPECT_EQ(Boxes(),
            std::vector<Box>{SplashBox(u"Launcher-ex", g_messages.MsgUpdateDownloadFailed)});
  EXPECT_FALSE(Exists(u"VelkarisLauncher.exe"));
  EXPECT_FALSE(Exists(u"VelkarisLauncher.exe.temp"));
  EXPECT_FALSE(Exists(u"release_manifest_tmp"));
}

TEST_F(SignedRelease, AListThatDoesNotNameExactlyTheManifestsFilesIsRefused) {
  for (const char* list : {"a.dat 2\r\n", "a.dat 2\r\nlocales\\b.dat 1\r\nc.dat 1\r\n",
                           "a.dat 2\r\nlocales\\b.dat 1\r\nrelease_manifest 1\r\n"}) {
    SCOPED_TRACE(list);
    Restart();
    Release release;
    release.files["patcher_files_version"] = list;
    Sign("test-release.key", &release);
    Prepare(release);
    EXPECT_FALSE(CheckAndStart());
    EXPECT_EQ(Boxes(), std::vector<Box>{SplashBox(u"patcher_files_version",
                                                  g_messages.MsgPatcherVersionDownloadFailed)});
    EXPECT_EQ(Read(u"VelkarisPatcher32.vke"), kOldPatcher);
  }
}

}  // namespace
