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
  SetBuild(kLauncherFileName, "launcher 1");  // unchanged in B, which one row signs
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
  // record, the manifest. With --settle, the waits between them (on a fake
  // clock); a run that completes a stopped one waits before its first step.
  const std::string journal = "UploadData.publish-manifest";
  const char* list = "patcher_files_version";
  const char* record = "patcher_version";
  const std::vector<std::string> burst = {journal, "a.dat", "d.dat", "e.dat",
                                          "VelkarisPatcher32.vke"};
  const auto then = [](std::vector<std::string> before, std::vector<std::string> after) {
    before.insert(before.end(), after.begin(), after.end());
    return before;
  };
  const struct {
    const char* what;
    uint32_t settle;
    bool sign;
    int stopAt;  // a run stopped before this rename comes first; -1: none
    std::vector<std::string> order;
    const char* firstWait;  // what the first wait printed is for
  } orders[] = {
      {"as ever", 0, false, -1, then(burst, {list, record, journal}), nullptr},
      {"settling", 30, false, -1, then(burst, {"wait 30", list, "wait 30", record, journal}), list},
      {"settling, signed", 30, true, -1,
       then(burst, {"wait 30", "release_manifest", "release_manifest.sig", list, "wait 30", record,
                    journal}),
       "release_manifest and patcher_files_version"},
      {"after a stop", 30, false, 5, {journal, "wait 30", list, "wait 30", record, journal}, list},
  };
  std::vector<std::string> renamed;
  bool stopped = false;
  auto counting = pruning;
  counting.rename = [&](const fs::path& from, const fs::path& to) {
    if (renamed.size() == 1 && !stopped) {
      for (const char* staged : {"a.dat", "d.dat", "e.dat", "VelkarisPatcher32.vke"}) {
        EXPECT_TRUE(fs::exists(publish::TemporaryPath(Tree() / staged))) << staged;
      }
    }
    renamed.push_back(to.filename().string());
    return publish::RenameFile(from, to);
  };
  counting.sleep = [&](uint32_t seconds) { renamed.push_back("wait " + std::to_string(seconds)); };
  for (const auto& row : orders) {
    SCOPED_TRACE(row.what);
    RestoreState(stash);
    stopped = row.stopAt >= 0;
    if (stopped) {
      int count = 0;
      auto interrupted = pruning;
      interrupted.rename = InterruptAt(&count, row.stopAt);
      ASSERT_EQ(Run(interrupted), ExitCode::kWriteFailed);
    }
    renamed.clear();
    counting.settleSeconds = row.settle;
    counting.signingKey = row.sign ? fs::path(LAUNCHER_TEST_KEYS) / "test-release.key" : "";
    std::string printed;
    ASSERT_EQ(Run(counting, &printed), ExitCode::kOk) << LastMessage();
    EXPECT_EQ(renamed, row.order);
    const size_t wait = printed.find("settling: waiting ");
    EXPECT_EQ(wait != printed.npos, row.firstWait != nullptr) << printed;
    if (row.firstWait != nullptr) {
      EXPECT_EQ(printed.substr(wait, printed.find('\n', wait) - wait),
                "settling: waiting 30 s for edge caches before " + std::string(row.firstWait));
    }
  }
  EXPECT_FALSE(fs::exists(Tree() / "b.dat"));
  const auto reference = Contents();
  const int renames = static_cast<int>(orders[0].order.size());

  for (int stop = 0; stop < renames; ++stop) {
    SCOPED_TRACE("stopped before rename " + std::to_string(stop));
    RestoreState(stash);
    int count = 0;
    auto interrupted = pruning;
    interrupted.rename = InterruptAt(&count, stop);
    ASSERT_EQ(Run(interrupted), ExitCode::kWriteFailed);

    // Every name the served list gives is there to fetch.
    for (const auto& [name, number] : TreeList()) {
      EXPECT_TRUE(fs::exists(TreePath(name))) << publish::Printable(name);
    }
    // A player checking meanwhile either sees release A or gets all of B.
    Client meanwhile = player;
    meanwhile.Update(Tree());
    if (meanwhile.first != player.first) {
      for (const auto& [name, number] : meanwhile.list) {
        EXPECT_EQ(meanwhile.files[name], ReadBytes(BuildPath(name))) << publish::Printable(name);
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
