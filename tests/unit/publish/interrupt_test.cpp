#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/unit/publish/publish_fixture.h"

namespace {

using publish::ExitCode;

class InterruptedPublish : public PublishTest {
 protected:
  // The tree and the manifest by relative path and content.
  std::map<std::string, std::string> Contents() const {
    std::map<std::string, std::string> contents;
    for (const auto& [path, entry] : Snapshot()) contents[path] = entry.bytes;
    return contents;
  }
};

TEST_F(InterruptedPublish, StoppedBeforeEachRenameAndRepeatedItEndsAsAnUninterruptedPublish) {
  SetBuild(u"a.dat", "a1");
  SetBuild(u"b.dat", "b1");
  SetBuild(u"locales\\c.txt", "c1");
  SetBuild(u"e.dat", "e1");
  ASSERT_EQ(Run(), ExitCode::kOk);
  Client player;
  player.Update(Tree());
  const fs::path stash = Tree().parent_path() / "stash";
  SaveState(stash);

  // Release B, pruned: a changed, b removed, d new, e changed, the patcher
  // changed.
  SetBuild(u"a.dat", "a2");
  RemoveBuild(u"b.dat");
  SetBuild(u"d.dat", "d1");
  SetBuild(u"e.dat", "e2");
  SetBuild(kPatcherFileName, "patcher 2");
  auto pruning = Options();
  pruning.prune = true;
  // The order of the renames: the manifest's journal, the four copies in
  // one burst, each already staged when the first moves, the list, the
  // record, the manifest.
  std::vector<std::string> renamed;
  auto counting = pruning;
  counting.rename = [&](const fs::path& from, const fs::path& to) {
    if (renamed.size() == 1) {
      for (const char* staged : {"a.dat", "d.dat", "e.dat", "VelkarisPatcher32.vke"}) {
        EXPECT_TRUE(fs::exists(publish::TemporaryPath(Tree() / staged))) << staged;
      }
    }
    renamed.push_back(to.filename().string());
    return publish::RenameFile(from, to);
  };
  ASSERT_EQ(Run(counting), ExitCode::kOk);
  EXPECT_EQ(renamed,
            (std::vector<std::string>{"UploadData.publish-manifest", "a.dat", "d.dat", "e.dat",
                                      "VelkarisPatcher32.vke", "patcher_files_version",
                                      "patcher_version", "UploadData.publish-manifest"}));
  EXPECT_FALSE(fs::exists(Tree() / "b.dat"));
  const auto reference = Contents();
  const int renames = static_cast<int>(renamed.size());

  for (int stop = 0; stop < renames; ++stop) {
    SCOPED_TRACE("stopped before rename " + std::to_string(stop));
    RestoreState(stash);
    int count = 0;
    auto interrupted = pruning;
    interrupted.rename = InterruptAt(&count, stop);
    ASSERT_EQ(Run(interrupted), ExitCode::kWriteFailed);

    // Every name the served list gives is there to fetch.
    for (const auto& [name, number] : TreeList()) {
      EXPECT_TRUE(fs::exists(publish::PathBelow(Tree(), name))) << publish::Printable(name);
    }
    // A player checking meanwhile either sees release A or gets all of B.
    Client meanwhile = player;
    meanwhile.Update(Tree());
    if (meanwhile.first != player.first) {
      for (const auto& [name, number] : meanwhile.list) {
        EXPECT_EQ(meanwhile.files[name], ReadBytes(publish::PathBelow(Build(), name)))
            << publish::Printable(name);
      }
      EXPECT_EQ(meanwhile.files[kPatcherFileName], "patcher 2");
    }

    // The plan shows the record players see now, and copies only what is
    // not in place yet.
    size_t missing = 0;
    for (const auto& entry : fs::recursive_directory_iterator(Build())) {
      if (!entry.is_regular_file()) continue;
      const fs::path inTree = Tree() / entry.path().lexically_relative(Build());
      missing += ReadBytes(inTree) != ReadBytes(entry.path()) ? 1 : 0;
    }
    auto dryRun = pruning;
    dryRun.dryRun = true;
    std::string plan;
    ASSERT_EQ(Run(dryRun, &plan), ExitCode::kOk);
    EXPECT_NE(plan.find("patcher_version: " + std::to_string(meanwhile.first) + " -> 2"),
              std::string::npos)
        << plan;
    EXPECT_NE(plan.find("files to copy: " + std::to_string(missing) + " "), std::string::npos)
        << plan;

    ASSERT_EQ(Run(pruning), ExitCode::kOk) << LastMessage();
    EXPECT_EQ(Contents(), reference);
    const auto finished = Snapshot();
    ASSERT_EQ(Run(pruning), ExitCode::kOk);
    EXPECT_EQ(Snapshot(), finished);
  }
}

TEST_F(InterruptedPublish, ARepeatWithAnotherBuildNumbersPastWhatPlayersMayHaveSeen) {
  SetBuild(u"x.dat", "x1");
  ASSERT_EQ(Run(), ExitCode::kOk);
  Client player;
  player.Update(Tree());

  // B is stopped before its manifest is marked complete: its record is out
  // and a player has updated to it.
  SetBuild(u"x.dat", "x2");
  int renames = 0;
  auto counting = Options();
  counting.rename = InterruptAt(&renames, -1);
  const fs::path stash = Tree().parent_path() / "stash";
  SaveState(stash);
  ASSERT_EQ(Run(counting), ExitCode::kOk);
  RestoreState(stash);
  int count = 0;
  auto interrupted = Options();
  interrupted.rename = InterruptAt(&count, renames - 1);
  ASSERT_EQ(Run(interrupted), ExitCode::kWriteFailed);
  player.Update(Tree());
  ASSERT_EQ(player.files[u"x.dat"], "x2");

  // C goes back to A's content: the player must fetch it again.
  SetBuild(u"x.dat", "x1");
  ASSERT_EQ(Run(), ExitCode::kOk);
  player.Update(Tree());
  EXPECT_EQ(player.fetched, Names{u"x.dat"});
  EXPECT_EQ(player.files[u"x.dat"], "x1");
}

}  // namespace
