#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "tests/unit/publish/publish_fixture.h"

namespace {

using publish::ExitCode;

TEST_F(PublishTest, FirstReleaseIntoAnEmptyTreeListsEveryFileAtOneAndAFreshInstallFetchesThemAll) {
  SetBuild(u"readme.txt", "read me");
  SetBuild(u"locales\\zh_TW.txt", "zh-TW");
  SetBuild(kLauncherFileName, "launcher 1");
  ASSERT_EQ(Run(), ExitCode::kOk);

  EXPECT_EQ(TreeRecord(), "1\r\n0");
  EXPECT_EQ(ReadBytes(Tree() / kFileListName), "locales\\zh_TW.txt 1\r\nreadme.txt 1\r\n");
  EXPECT_EQ(TreeFile(u"locales\\zh_TW.txt"), "zh-TW");
  EXPECT_EQ(TreeFile(kLauncherFileName), "launcher 1");
  // Mirrors published from one build serve the same validators.
  EXPECT_EQ(fs::last_write_time(Tree() / "readme.txt"),
            fs::last_write_time(Build() / "readme.txt"));
  Client fresh;  // what InitVersionFiles leaves: record 0/0, empty list
  fresh.Update(Tree());
  EXPECT_EQ(fresh.fetched, (Names{u"locales\\zh_TW.txt", u"readme.txt"}));
  EXPECT_EQ(fresh.files[kPatcherFileName], "patcher 1");
  EXPECT_EQ(fresh.first, 1);
}

struct Release {
  const char* what;
  std::vector<std::pair<std::u16string, const char*>> set;  // null content: remove
  Names fetched;                                            // by a player who took every release
  const char* record;
};

TEST_F(PublishTest, EachReleaseMakesThePlayersFetchExactlyWhatChanged) {
  const Release releases[] = {
      {"first",
       {{u"a.dat", "a1"}, {u"b.dat", "b1"}, {u"locales\\c.txt", "c1"}},
       {u"a.dat", u"b.dat", u"locales\\c.txt"},
       "1\r\n0"},
      {"one changed, one new",
       {{u"a.dat", "a2"}, {u"d.dat", "d1"}},
       {u"a.dat", u"d.dat"},
       "2\r\n0"},
      {"content written again unchanged", {{u"b.dat", "b1"}}, {}, "2\r\n0"},
      {"patcher alone", {{kPatcherFileName, "patcher 2"}}, {}, "3\r\n0"},
      {"launcher copy alone is no release", {{kLauncherFileName, "launcher 2"}}, {}, "3\r\n0"},
      {"removal alone is no release", {{u"locales\\c.txt", nullptr}}, {}, "3\r\n0"},
      {"back after its removal", {{u"locales\\c.txt", "c1"}}, {u"locales\\c.txt"}, "4\r\n0"},
      {"changed twice over", {{u"a.dat", "a3"}, {u"b.dat", "b2"}}, {u"a.dat", u"b.dat"}, "5\r\n0"},
  };
  Client everyRelease;
  Client firstOnly;
  for (const Release& release : releases) {
    SCOPED_TRACE(release.what);
    for (const auto& [name, content] : release.set) {
      content == nullptr ? RemoveBuild(name) : SetBuild(name, content);
    }
    ASSERT_EQ(Run(), ExitCode::kOk) << LastMessage();
    EXPECT_EQ(TreeRecord(), release.record);
    everyRelease.Update(Tree());
    EXPECT_EQ(everyRelease.fetched, release.fetched);
    if (&release == &releases[0]) firstOnly = everyRelease;
  }
  // Numbers: a.dat changed twice, c.txt came back past its old number.
  EXPECT_EQ(TreeList(),
            (FileVersionMap{{u"a.dat", 3}, {u"b.dat", 2}, {u"d.dat", 1}, {u"locales\\c.txt", 2}}));
  // A player who skipped every release since the first fetches everything
  // that differs from it and ends with the build's content.
  firstOnly.Update(Tree());
  EXPECT_EQ(firstOnly.fetched, (Names{u"a.dat", u"b.dat", u"d.dat", u"locales\\c.txt"}));
  for (const auto& [name, content] : firstOnly.files) {
    EXPECT_EQ(content, ReadBytes(BuildPath(name))) << publish::Printable(name);
  }
}

TEST_F(PublishTest, ARepeatedReleaseWritesNothingAndTheSecondNumberFollowsTheOption) {
  SetBuild(u"a.dat", "a1");
  ASSERT_EQ(Run(), ExitCode::kOk);
  const auto published = Snapshot();
  ASSERT_EQ(Run(), ExitCode::kOk);
  EXPECT_EQ(Snapshot(), published);

  auto options = Options();
  options.second = 7;
  ASSERT_EQ(Run(options), ExitCode::kOk);
  EXPECT_EQ(TreeRecord(), "1\r\n7");
  ASSERT_EQ(Run(), ExitCode::kOk);  // kept from now on
  EXPECT_EQ(TreeRecord(), "1\r\n7");
}

TEST_F(PublishTest, RemovedFilesLeaveTheListStayInTheTreeAndArePrunedOnRequest) {
  SetBuild(u"a.dat", "a1");
  SetBuild(u"locales\\old.txt", "old");
  ASSERT_EQ(Run(), ExitCode::kOk);
  RemoveBuild(u"locales\\old.txt");
  ASSERT_EQ(Run(), ExitCode::kOk);
  EXPECT_EQ(TreeList(), (FileVersionMap{{u"a.dat", 1}}));
  EXPECT_EQ(TreeFile(u"locales\\old.txt"), "old");  // players on the older list still fetch it

  auto options = Options();
  options.prune = true;
  ASSERT_EQ(Run(options), ExitCode::kOk);
  EXPECT_FALSE(fs::exists(TreePath(u"locales\\old.txt")));
  EXPECT_EQ(TreeFile(u"a.dat"), "a1");
  EXPECT_EQ(TreeRecord(), "1\r\n0");
}

TEST_F(PublishTest, ACopyMissingFromTheTreeIsRestoredWithoutANewNumber) {
  SetBuild(u"a.dat", "a1");
  ASSERT_EQ(Run(), ExitCode::kOk);
  fs::remove(Tree() / "a.dat");
  ASSERT_EQ(Run(), ExitCode::kOk);
  EXPECT_EQ(TreeFile(u"a.dat"), "a1");
  EXPECT_EQ(TreeList(), (FileVersionMap{{u"a.dat", 1}}));
  EXPECT_EQ(TreeRecord(), "1\r\n0");
}

TEST_F(PublishTest, ATreeWithoutManifestIsTakenOverFromItsVersionFilesAndContent) {
  // A tree published before the tool, or whose manifest was lost.
  WriteBytes(Tree() / kVersionRecordName, "3\r\n5");
  WriteBytes(Tree() / kFileListName, "readme.txt 1\r\nlocales\\zh_TW.txt 2\r\ngone.dat 4\r\n");
  WriteBytes(Tree() / "readme.txt", "read me");
  WriteBytes(Tree() / "locales" / "zh_TW.txt", "zh old");
  WriteBytes(Tree() / kPatcherFileName, "patcher 1");
  SetBuild(u"readme.txt", "read me");
  SetBuild(u"locales\\zh_TW.txt", "zh new");
  ASSERT_EQ(Run(), ExitCode::kOk);
  EXPECT_EQ(TreeRecord(), "4\r\n5");
  EXPECT_EQ(TreeList(), (FileVersionMap{{u"locales\\zh_TW.txt", 3}, {u"readme.txt", 1}}));
  EXPECT_TRUE(fs::exists(Manifest()));
}

TEST_F(PublishTest, ADryRunPrintsThePlanAndChangesNothing) {
  SetBuild(u"a.dat", "a1");
  SetBuild(u"b.dat", "b1");
  ASSERT_EQ(Run(), ExitCode::kOk);
  SetBuild(u"a.dat", "a2");
  RemoveBuild(u"b.dat");
  SetBuild(u"c.dat", "c1");
  const auto published = Snapshot();

  auto options = Options();
  options.dryRun = true;
  options.settleSeconds = 30;  // shown, never waited for
  std::string printed;
  ASSERT_EQ(Run(options, &printed), ExitCode::kOk);
  EXPECT_EQ(Snapshot(), published);
  for (const char* line :
       {"patcher_version: 1 -> 2", "changed a.dat 1 -> 2", "removed b.dat 1", "new c.dat - -> 1",
        "settling for edge caches: 60 s in all (30 s before patcher_files_version, 30 s before "
        "patcher_version)",
        "dry run: nothing was written"}) {
    EXPECT_NE(printed.find(line), std::string::npos) << line << " in\n" << printed;
  }

  // Into a tree that does not exist yet: not even its folder appears.
  options.releaseTree = Tree() / "new";
  options.manifest = Tree().parent_path() / "new.publish-manifest";
  ASSERT_EQ(Run(options), ExitCode::kOk);
  EXPECT_FALSE(fs::exists(options.releaseTree));
  EXPECT_FALSE(fs::exists(options.manifest));
}

struct FailureCase {
  const char* what;
  std::function<void(publish::PublishOptions*)> arrange;
  ExitCode code;
};

TEST_F(PublishTest, FailuresEndWithTheirExitCodeAndLeaveThePublishedTreeAlone) {
  SetBuild(u"a.dat", "a1");
  ASSERT_EQ(Run(), ExitCode::kOk);
  SetBuild(u"a.dat", "a2");
  const FailureCase cases[] = {
      {"no build folder", [](publish::PublishOptions* o) { o->buildFolder /= "missing"; },
       ExitCode::kBuildUnreadable},
      {"no patcher in the build",
       [this](publish::PublishOptions*) { RemoveBuild(kPatcherFileName); },
       ExitCode::kBuildUnreadable},
      {"an unsafe name", [this](publish::PublishOptions*) { SetBuild(u"NUL.txt", "x"); },
       ExitCode::kUnsafeName},
      {"a damaged manifest",
       [this](publish::PublishOptions*) {
         WriteBytes(Manifest(), "velkaris-publish manifest 2\nstate ?\n");
       },
       ExitCode::kManifestDamaged},
      {"a manifest that is a folder",
       [this](publish::PublishOptions* o) {
         o->manifest = Tree().parent_path() / "folder";
         fs::create_directories(o->manifest);
       },
       ExitCode::kTreeUnreadable},
      {"the tree inside the build",
       [this](publish::PublishOptions* o) { o->releaseTree = Build() / "UploadData"; },
       ExitCode::kUsage},
      {"a full disk",
       [](publish::PublishOptions* o) {
         o->rename = [](const fs::path&, const fs::path&) {
           return std::make_error_code(std::errc::no_space_on_device);
         };
       },
       ExitCode::kNoSpace},
  };
  const auto published = Snapshot();
  const std::string manifest = ReadBytes(Manifest());
  const fs::file_time_type manifestTime = fs::last_write_time(Manifest());
  for (const FailureCase& c : cases) {
    SCOPED_TRACE(c.what);
    auto options = Options();
    c.arrange(&options);
    EXPECT_EQ(Run(options), c.code) << LastMessage();
    EXPECT_FALSE(LastMessage().empty());
    if (options.manifest.filename() == "folder") {
      EXPECT_NE(LastMessage().find("is a folder"), std::string::npos) << LastMessage();
      fs::remove(options.manifest);
    }
    if (c.code == ExitCode::kManifestDamaged) {
      WriteBytes(Manifest(), manifest);
      fs::last_write_time(Manifest(), manifestTime);
    }
    EXPECT_EQ(Snapshot(), published);
    SetBuild(kPatcherFileName, "patcher 1");
    RemoveBuild(u"NUL.txt");
  }
}

}  // namespace
