#include <gtest/gtest.h>
#include <sys/stat.h>

#include <functional>
#include <utility>
#include <string>
#include <vector>

#include "tests/unit/publish/publish_fixture.h"

namespace {

using publish::ExitCode;

TEST_F(PublishTest, ASecondRunOnTheSameTreeStopsAtOnceAndTheFirstFinishesWhole) {
  SetBuild(u"a.dat", "a1");
  ASSERT_EQ(Run(), ExitCode::kOk);
  const auto published = Snapshot();
  SetBuild(u"a.dat", "a2");

  // The other runs start while the first is between two of its renames.
  const fs::path otherBuild = Tree().parent_path() / "other-build";
  WriteBytes(otherBuild / "VelkarisPatcher32.vke", "patcher 9");
  WriteBytes(otherBuild / "a.dat", "a9");
  std::vector<std::pair<ExitCode, std::string>> others;
  auto first = Options();
  first.rename = [&](const fs::path& from, const fs::path& to) {
    if (others.empty()) {
      for (const bool dryRun : {false, true}) {
        auto other = Options();
        other.buildFolder = otherBuild;
        other.dryRun = dryRun;
        publish::Failure failure;
        EXPECT_FALSE(publish::Publish(other, &failure));
        others.emplace_back(failure.code, failure.message);
      }
      auto verify = Options();
      verify.verify = true;
      publish::Failure failure;
      EXPECT_FALSE(publish::Verify(verify, &failure));
      others.emplace_back(failure.code, failure.message);
    }
    return publish::RenameFile(from, to);
  };
  ASSERT_EQ(Run(first), ExitCode::kOk) << LastMessage();
  ASSERT_EQ(others.size(), 3u);
  for (const auto& [code, message] : others) {
    EXPECT_EQ(code, ExitCode::kLockHeld);
    EXPECT_NE(message.find("another run"), std::string::npos) << message;
  }
  EXPECT_EQ(TreeFile(u"a.dat"), "a2");
  EXPECT_EQ(TreeList(), (FileVersionMap{{u"a.dat", 2}}));
  EXPECT_NE(Snapshot(), published);
  const auto finished = Snapshot();
  ASSERT_EQ(Run(), ExitCode::kOk);  // the lock went with the first run
  EXPECT_EQ(Snapshot(), finished);
}

TEST_F(PublishTest, WhatIsWrittenIsReadableByTheWebServerWhateverTheUmask) {
  SetBuild(u"locales\\zh_TW.txt", "zh");
  const mode_t before = umask(077);
  const ExitCode code = Run();
  umask(before);
  ASSERT_EQ(code, ExitCode::kOk) << LastMessage();
  const auto mode = [](const fs::path& path) {
    struct stat info {};
    EXPECT_EQ(stat(path.c_str(), &info), 0) << path;
    return info.st_mode & 07777;
  };
  EXPECT_EQ(mode(Tree()), 0755u);
  EXPECT_EQ(mode(Tree() / "locales"), 0755u);
  for (const char* file :
       {"locales/zh_TW.txt", "VelkarisPatcher32.vke", "patcher_version", "patcher_files_version"}) {
    EXPECT_EQ(mode(Tree() / file), 0644u) << file;
  }
}

struct Divergence {
  const char* what;
  std::function<void()> tamper;  // after release A: a1, b1 then b2
  bool releaseB;                 // publish a changed a.dat ("a2") next
  ExitCode code;
  const char* record;  // after the run
  FileVersionMap list;
  const char* verify;  // a word of what --verify reports before the run, and of a
                       // refusal; null: matches
  bool signs = false;  // every release signed; a refused one is then confirmed
};

TEST_F(PublishTest, TheTreeAndTheManifestDisagreeAndNoPlayerIsLeftBehind) {
  const Divergence cases[] = {
      {"untouched", [] {}, true, ExitCode::kOk, "3\r\n0", {{u"a.dat", 2}, {u"b.dat", 2}}, nullptr},
      {"record raised by hand, then a release",
       [this] { WriteBytes(Tree() / kVersionRecordName, "5\r\n0"); },
       true,
       ExitCode::kOk,
       "6\r\n0",
       {{u"a.dat", 2}, {u"b.dat", 2}},
       "patcher_version holds 5"},
      // Launchers with the key would never go below the number signed.
      {"record raised by hand, then a signed release",
       [this] { WriteBytes(Tree() / kVersionRecordName, "5\r\n0"); },
       true,
       ExitCode::kTreeUnreadable,
       "6\r\n0",
       {{u"a.dat", 2}, {u"b.dat", 2}},
       "patcher_version holds 5",
       true},
      {"record raised by hand, nothing released",
       [this] { WriteBytes(Tree() / kVersionRecordName, "5\r\n0"); },
       false,
       ExitCode::kOk,
       "5\r\n0",
       {{u"a.dat", 1}, {u"b.dat", 2}},
       "patcher_version holds 5"},
      {"list number raised by hand",
       [this] { WriteBytes(Tree() / kFileListName, "a.dat 7\r\nb.dat 2\r\n"); },
       true,
       ExitCode::kOk,
       "3\r\n0",
       {{u"a.dat", 8}, {u"b.dat", 2}},
       "gives a.dat 7"},
      {"same-size hand edit",
       [this] { WriteBytes(Tree() / "b.dat", "bX"); },
       false,
       ExitCode::kOk,
       "3\r\n0",
       {{u"a.dat", 1}, {u"b.dat", 3}},
       "b.dat differs"},
      {"other-size hand edit",
       [this] { WriteBytes(Tree() / "b.dat", "bad copy"); },
       false,
       ExitCode::kOk,
       "3\r\n0",
       {{u"a.dat", 1}, {u"b.dat", 3}},
       "b.dat differs"},
      {"missing copy",
       [this] { fs::remove(Tree() / "b.dat"); },
       false,
       ExitCode::kOk,
       "2\r\n0",
       {{u"a.dat", 1}, {u"b.dat", 2}},
       "b.dat is missing"},
      {"manifest cut short",
       [this] {
         const std::string text = ReadBytes(Manifest());
         WriteBytes(Manifest(), text.substr(0, text.find("file 2")));
       },
       true,
       ExitCode::kManifestDamaged,
       "3\r\n0",
       {{u"a.dat", 2}, {u"b.dat", 2}},
       "cut short"},
  };
  SetBuild(kLauncherFileName, "launcher");
  for (const Divergence& c : cases) {
    SCOPED_TRACE(c.what);
    const auto publishing = [&] {
      auto options = Options();
      if (c.signs) options.signingKey = fs::path(LAUNCHER_TEST_KEYS) / "test-release.key";
      return options;
    };
    fs::remove_all(Tree());
    fs::remove(Manifest());
    SetBuild(u"a.dat", "a1");
    SetBuild(u"b.dat", "b1");
    ASSERT_EQ(Run(publishing()), ExitCode::kOk);
    SetBuild(u"b.dat", "b2");
    ASSERT_EQ(Run(publishing()), ExitCode::kOk);
    Client player;  // took every release so far, then the tampered tree
    player.Update(Tree());
    c.tamper();
    player.Update(Tree());

    auto verify = Options();
    verify.verify = true;
    const auto before = Snapshot();
    std::string printed;
    const ExitCode verified = Run(verify, &printed);
    EXPECT_EQ(Snapshot(), before);
    if (c.verify == nullptr) {
      EXPECT_EQ(verified, ExitCode::kOk) << LastMessage();
    } else {
      EXPECT_NE(verified, ExitCode::kOk);
      EXPECT_NE((printed + LastMessage()).find(c.verify), std::string::npos)
          << printed << LastMessage();
    }

    if (c.releaseB) SetBuild(u"a.dat", "a2");
    ASSERT_EQ(Run(publishing(), &printed), c.code) << LastMessage();
    if (c.code != ExitCode::kOk) {
      EXPECT_EQ(Snapshot(), before);
      EXPECT_NE((printed + LastMessage()).find(c.verify), std::string::npos)
          << printed << LastMessage();
      // As the refusal says: confirmed, or the manifest taken from the tree.
      auto again = publishing();
      (c.signs ? again.acceptTreeNumber : again.rebuildManifest) = true;
      ASSERT_EQ(Run(again), ExitCode::kOk) << LastMessage();
    }
    EXPECT_EQ(TreeRecord(), c.record);
    EXPECT_EQ(TreeList(), c.list);
    // The player ends with the build's bytes, whatever the tree held.
    player.Update(Tree());
    for (const char16_t* name : {u"a.dat", u"b.dat"}) {
      EXPECT_EQ(player.files[name], ReadBytes(BuildPath(name))) << publish::Printable(name);
    }
    EXPECT_EQ(Run(verify), ExitCode::kOk) << LastMessage();
  }
}

TEST_F(PublishTest, ATakenOverTreeWhoseRecordIsMinusOneGoesToOneNeverZero) {
  WriteBytes(Tree() / kVersionRecordName, "-1\r\n0");
  SetBuild(u"a.dat", "a1");
  ASSERT_EQ(Run(), ExitCode::kOk);
  EXPECT_EQ(TreeRecord(), "1\r\n0");
}

TEST_F(PublishTest, ALinkPlantedInTheTreeOrBesideItIsNeverFollowed) {
  const fs::path victim = Tree().parent_path() / "victim";
  const fs::path victimFolder = Tree().parent_path() / "victim-folder";
  const fs::path nowhere = Tree().parent_path() / "nowhere";  // a file no one made
  fs::create_directories(victimFolder);
  SetBuild(u"locales\\b.txt", "b");
  const struct {
    const char* what;
    fs::path link;
    bool afterTheSweep;  // planted once the copies are written, else before the run
    ExitCode code;       // kOk: the run goes round it; else it stops, writing nothing
    fs::path target;     // empty: the victim file
  } cases[] = {
      // A folder the release names, leading out of the tree.
      {"a folder of the tree", Tree() / "locales", false, ExitCode::kWriteFailed, victimFolder},
      {"the lock beside the manifest", publish::LockPath(Manifest()), false,
       ExitCode::kWriteFailed, nowhere},
      {"the manifest's temporary name, outside the tree", publish::TemporaryPath(Manifest()),
       false, ExitCode::kOk, {}},
      {"the list's temporary name", publish::TemporaryPath(Tree() / kFileListName), true,
       ExitCode::kOk, {}},
      {"the record's temporary name", publish::TemporaryPath(Tree() / kVersionRecordName), true,
       ExitCode::kOk, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    WriteBytes(victim, "keep");
    fs::permissions(victim, fs::perms::owner_read | fs::perms::owner_write);
    SetBuild(u"a.dat", c.what);  // a new release each time
    auto options = Options();
    bool planted = false;
    const fs::path target = c.target.empty() ? victim : c.target;
    if (c.afterTheSweep) {
      options.rename = [&](const fs::path& from, const fs::path& to) {
        if (!std::exchange(planted, true)) fs::create_symlink(target, c.link);
        return publish::RenameFile(from, to);
      };
    } else {
      fs::create_directories(c.link.parent_path());
      fs::remove(c.link);
      fs::create_symlink(target, c.link);
    }
    const auto before = Snapshot();
    ASSERT_EQ(Run(options), c.code) << LastMessage();
    EXPECT_EQ(ReadBytes(victim), "keep");
    EXPECT_EQ(fs::status(victim).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_TRUE(fs::is_empty(victimFolder));
    EXPECT_FALSE(fs::exists(nowhere));
    if (c.code != ExitCode::kOk) {
      EXPECT_NE(LastMessage().find("the tool follows no link"), std::string::npos)
          << LastMessage();
      EXPECT_EQ(Snapshot(), before);
      fs::remove(c.link);
      continue;
    }
    for (const fs::path& written :
         {Manifest(), Tree() / kFileListName, Tree() / kVersionRecordName}) {
      EXPECT_FALSE(fs::is_symlink(written)) << written;
    }
    EXPECT_EQ(TreeFile(u"a.dat"), c.what);
  }
}

TEST_F(PublishTest, LinksArePublishedOnlyWhenTheyStayInsideTheBuildFolder) {
  const fs::path outside = Tree().parent_path() / "hostname";
  WriteBytes(outside, "secret");
  SetBuild(u"real.dat", "real");
  const struct {
    const char* link;
    fs::path target;
    const char* problem;  // null: published
  } cases[] = {
      {"inside.dat", Build() / "real.dat", nullptr},
      {"outside.dat", outside, "outside the build folder"},
      {"relative.dat", fs::path("..") / "hostname", "outside the build folder"},
      {"dangling.dat", Build() / "nothing", "broken link"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.link);
    fs::create_symlink(c.target, Build() / c.link);
    const ExitCode code = Run();
    if (c.problem == nullptr) {
      EXPECT_EQ(code, ExitCode::kOk) << LastMessage();
      EXPECT_EQ(TreeFile(u"inside.dat"), "real");
    } else {
      EXPECT_NE(code, ExitCode::kOk);
      EXPECT_NE(LastMessage().find(c.problem), std::string::npos) << LastMessage();
      EXPECT_NE(LastMessage().find(c.link), std::string::npos) << LastMessage();
      fs::remove(Build() / c.link);
    }
  }
  EXPECT_FALSE(fs::exists(Tree() / "outside.dat"));
}

}  // namespace
