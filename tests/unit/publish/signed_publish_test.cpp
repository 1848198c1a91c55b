#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "release/release_manifest.h"
#include "tests/unit/publish/publish_fixture.h"

namespace {

using publish::ExitCode;

const fs::path kTestKey = fs::path(LAUNCHER_TEST_KEYS) / "test-release.key";

class SignedPublish : public PublishTest {
 protected:
  publish::PublishOptions Signed() const {
    auto options = Options();
    options.signingKey = kTestKey;
    return options;
  }
  // What a launcher built with the test key checks: the signature, the
  // list against the manifest, and every entry against the tree's bytes.
  ::testing::AssertionResult TreeVerifies() const {
    const platform::P256PublicKey key = {{LAUNCHER_TEST_KEY_X}, {LAUNCHER_TEST_KEY_Y}};
    ReleaseManifest manifest;
    if (ReadSignedManifest(ReadBytes(Tree() / "release_manifest"),
                           ReadBytes(Tree() / "release_manifest.sig"), key,
                           publish::ReadingOf(publish::kDefaultCodePage),
                           &manifest) != ReleaseManifestRead::kRead) {
      return ::testing::AssertionFailure() << "the signature does not hold";
    }
    if (!ListMatchesManifest(ListAsPlayersRead(Tree()), manifest,
                             publish::EncoderOf(publish::kDefaultCodePage))) {
      return ::testing::AssertionFailure() << "the list does not name the manifest's files";
    }
    for (const auto& [path, digest] : manifest.entries) {
      if (DigestOfBytes(ReadBytes(Tree() / path)) != digest) {
        return ::testing::AssertionFailure() << path << " is not as signed";
      }
    }
    return ::testing::AssertionSuccess();
  }
  bool SignsTheLauncher() const {
    ReleaseManifest manifest;
    return ParseReleaseManifest(ReadBytes(Tree() / "release_manifest"),
                                publish::ReadingOf(publish::kDefaultCodePage),
                                &manifest) == ReleaseManifestRead::kRead &&
           manifest.entries.count("VelkarisLauncher.exe") != 0;
  }
};

TEST_F(SignedPublish, ASignedReleaseVerifiesAndAnUnchangedOneIsLeftAsItIs) {
  SetBuild(u"a.dat", "a1");
  SetBuild(u"locales\\b.txt", "b1");
  SetBuild(kLauncherFileName, "launcher 1");
  ASSERT_EQ(Run(Options()), ExitCode::kOk);
  EXPECT_FALSE(fs::exists(Tree() / "release_manifest"));  // unsigned: as before

  // Signing a tree that is otherwise up to date adds only the two files.
  auto before = Snapshot();
  ASSERT_EQ(Run(Signed()), ExitCode::kOk);
  EXPECT_TRUE(TreeVerifies());
  auto after = Snapshot();
  EXPECT_EQ(after.size(), before.size() + 2);
  for (const auto& [path, entry] : before) {
    if (path.find("publish-manifest") == std::string::npos) {
      EXPECT_EQ(after[path], entry) << path;
    }
  }
  ASSERT_EQ(Run(Signed()), ExitCode::kOk);
  EXPECT_EQ(Snapshot(), after);

  SetBuild(u"a.dat", "a2");
  ASSERT_EQ(Run(Signed()), ExitCode::kOk);
  EXPECT_TRUE(TreeVerifies());
}

TEST_F(SignedPublish, StoppedBeforeEachRenameItNeverServesARecordItsManifestDoesNotVouchFor) {
  SetBuild(u"a.dat", "a1");
  SetBuild(kLauncherFileName, "launcher 1");
  ASSERT_EQ(Run(Signed()), ExitCode::kOk);
  const std::string oldRecord = TreeRecord();
  const fs::path stash = Tree().parent_path() / "stash";
  SaveState(stash);

  SetBuild(u"a.dat", "a2");
  SetBuild(kPatcherFileName, "patcher 2");
  int renames = 0;
  auto counting = Signed();
  counting.rename = InterruptAt(&renames, -1);
  ASSERT_EQ(Run(counting), ExitCode::kOk);
  ASSERT_GT(renames, 5);

  for (int stop = 0; stop < renames; ++stop) {
    SCOPED_TRACE("stopped before rename " + std::to_string(stop));
    RestoreState(stash);
    int count = 0;
    auto interrupted = Signed();
    interrupted.rename = InterruptAt(&count, stop);
    ASSERT_EQ(Run(interrupted), ExitCode::kWriteFailed);
    // A launcher that takes the new record meanwhile finds all of it signed.
    if (TreeRecord() != oldRecord) {
      EXPECT_TRUE(TreeVerifies());
    }

    ASSERT_EQ(Run(Signed()), ExitCode::kOk) << LastMessage();
    EXPECT_TRUE(TreeVerifies());
    EXPECT_EQ(TreeFile(u"a.dat"), "a2");
  }
}

TEST_F(SignedPublish, ABuildWithoutTheLauncherIsRefusedSoACopyFoundOnTheServerIsNeverSigned) {
  const struct {
    const char* what;
    std::function<void(publish::PublishOptions*)> arrange;
  } cases[] = {
      {"with the manifest", [](publish::PublishOptions*) {}},
      {"the tree taken over without it",
       [this](publish::PublishOptions*) { fs::remove(Manifest()); }},
      {"--rebuild-manifest", [](publish::PublishOptions* o) { o->rebuildManifest = true; }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    fs::remove_all(Tree());
    fs::remove(Manifest());
    SetBuild(kLauncherFileName, "launcher 1");
    ASSERT_EQ(Run(Signed()), ExitCode::kOk);
    EXPECT_TRUE(SignsTheLauncher());

    // The next build has no launcher; someone put one on the server.
    RemoveBuild(kLauncherFileName);
    WriteBytes(Tree() / "VelkarisLauncher.exe", "planted");
    auto options = Signed();
    c.arrange(&options);
    const auto before = Snapshot();
    ASSERT_EQ(Run(options), ExitCode::kBuildUnreadable);
    EXPECT_NE(LastMessage().find("holds no VelkarisLauncher.exe"), std::string::npos)
        << LastMessage();
    EXPECT_EQ(Snapshot(), before);
  }
}

TEST_F(SignedPublish, ACopyChangedInTheTreeWithItsSizeAndTimePutBackIsReadBeforeSigning) {
  SetBuild(u"a.dat", "a1");
  SetBuild(kLauncherFileName, "launcher 1");
  ASSERT_EQ(Run(Signed()), ExitCode::kOk);
  for (const std::u16string name : {u"a.dat", kPatcherFileName, kLauncherFileName}) {
    SCOPED_TRACE(publish::Printable(name));
    const fs::path copy = TreePath(name);
    const fs::file_time_type time = fs::last_write_time(copy);
    std::string bytes = ReadBytes(copy);
    bytes.back() = 'X';
    WriteBytes(copy, bytes);
    fs::last_write_time(copy, time);
    ASSERT_EQ(Run(Signed()), ExitCode::kOk) << LastMessage();
    EXPECT_TRUE(TreeVerifies());
    EXPECT_EQ(TreeFile(name), ReadBytes(BuildPath(name)));
  }
}

TEST_F(SignedPublish, MirrorsAreSignedKeptUntilChangedAndChangingThemRaisesNoNumber) {
  SetBuild(u"a.dat", "a1");
  SetBuild(kLauncherFileName, "launcher 1");
  ASSERT_EQ(Run(Signed()), ExitCode::kOk);
  const std::string withoutMirrors = ReadBytes(Tree() / "release_manifest");
  const std::string record = TreeRecord();
  const std::string list = ReadBytes(Tree() / kFileListName);
  const std::string entries = withoutMirrors.substr(withoutMirrors.find('\n') + 1);

  auto mirrored = Signed();
  mirrored.mirrors = {"m1.example", "10.0.0.2:8080"};
  std::string printed;
  ASSERT_EQ(Run(mirrored, &printed), ExitCode::kOk) << LastMessage();
  EXPECT_NE(printed.find("mirrors: m1.example, 10.0.0.2:8080 (was: none)"), std::string::npos)
      << printed;
  EXPECT_EQ(ReadBytes(Tree() / "release_manifest"),
            "velkaris-release-manifest 2\nmirror m1.example\nmirror 10.0.0.2:8080\n" + entries);
  EXPECT_TRUE(TreeVerifies());
  EXPECT_EQ(TreeRecord(), record);
  EXPECT_EQ(ReadBytes(Tree() / kFileListName), list);

  // Kept by the next releases, and shown by --verify.
  const auto kept = Snapshot();
  ASSERT_EQ(Run(Signed()), ExitCode::kOk);
  EXPECT_EQ(Snapshot(), kept);
  auto verify = Options();
  verify.verify = true;
  ASSERT_EQ(Run(verify, &printed), ExitCode::kOk);
  EXPECT_NE(printed.find("mirrors: m1.example, 10.0.0.2:8080\n"), std::string::npos) << printed;

  auto cleared = Signed();
  cleared.mirrors.emplace();
  ASSERT_EQ(Run(cleared), ExitCode::kOk);
  EXPECT_EQ(ReadBytes(Tree() / "release_manifest"), withoutMirrors);
  EXPECT_TRUE(TreeVerifies());
}

TEST_F(SignedPublish, TraditionalChineseNamesAreListedServedAndSignedInCodePage950) {
  const std::u16string xuGongGai = u"\u8A31\u529F\u84CB.txt";    // 許功蓋.txt
  const std::u16string shuoMing = u"locales\\\u8AAA\u660E.txt";  // locales\說明.txt
  const std::string xuGongGaiBytes = "\xB3\x5C\xA5\x5C\xBB\x5C.txt";
  const std::string shuoMingBytes = "\xBB\xA1\xA9\xFA.txt";
  SetBuild(kLauncherFileName, "launcher 1");
  SetBuild(xuGongGai, "x");
  SetBuild(shuoMing, "y");
  ASSERT_EQ(Run(Signed()), ExitCode::kOk) << LastMessage();

  EXPECT_EQ(ReadBytes(Tree() / kFileListName),
            "locales\\" + shuoMingBytes + " 1\r\n" + xuGongGaiBytes + " 1\r\n");
  EXPECT_EQ(ReadBytes(Tree() / xuGongGaiBytes), "x");
  EXPECT_EQ(ReadBytes(Tree() / "locales" / shuoMingBytes), "y");
  const std::string signedText = ReadBytes(Tree() / "release_manifest");
  // Named in code page 950, which launchers of other code pages refuse at once.
  EXPECT_EQ(signedText.rfind("velkaris-release-manifest 3\ncode-page 950\n", 0), 0u) << signedText;
  EXPECT_NE(signedText.find(" 1 " + xuGongGaiBytes + "\n"), std::string::npos);
  EXPECT_NE(signedText.find(" 1 locales/" + shuoMingBytes + "\n"), std::string::npos);
  EXPECT_TRUE(TreeVerifies());
  Client fresh;
  fresh.Update(Tree());
  EXPECT_EQ(fresh.fetched, (Names{shuoMing, xuGongGai}));
  EXPECT_EQ(fresh.files[xuGongGai], "x");
  EXPECT_EQ(fresh.files[shuoMing], "y");

  // The tool's manifest holds the same bytes and reads them back.
  EXPECT_NE(ReadBytes(Manifest()).find(" locales\\" + shuoMingBytes + "\n"), std::string::npos);
  const auto published = Snapshot();
  ASSERT_EQ(Run(Signed()), ExitCode::kOk) << LastMessage();
  EXPECT_EQ(Snapshot(), published);
}

TEST_F(SignedPublish, AKeyThatIsNotAP256PrivateKeyIsRefusedBeforeAnythingIsWritten) {
  for (const char* key : {"test-release.pub", "missing.key"}) {
    SCOPED_TRACE(key);
    auto options = Options();
    options.signingKey = fs::path(LAUNCHER_TEST_KEYS) / key;
    EXPECT_EQ(Run(options), ExitCode::kUsage);
    EXPECT_NE(LastMessage().find("key"), std::string::npos);
    EXPECT_FALSE(fs::exists(Tree()));
  }
}

}  // namespace
