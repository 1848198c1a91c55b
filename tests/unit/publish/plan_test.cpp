#include "publish/plan.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace {

using publish::Change;
using publish::ManifestFile;
using platform::Sha256Digest;
using Names = std::vector<std::u16string>;

platform::Sha256Digest Content(char c) {
  platform::Sha256Digest digest{};
  digest.fill(static_cast<uint8_t>(c));
  return digest;
}

// The build's a.dat holds 'b'; the last release's record is 5.
struct Outcome {
  const char* what;
  std::optional<ManifestFile> known;  // the last release's entry for a.dat
  bool pending;                       // an interrupted publish had not put it in place
  std::optional<char> inTree;         // the tree's copy; none: missing
  bool inBuild;
  Change change;
  uint32_t number;
  bool copy;
  bool released;     // the record's first number rises
  uint64_t settled;  // seconds waited in all with --settle 30
  int32_t record = 5;
  bool refused = false;
};

TEST(MakePlan, EachOutcomeOfAFileAgainstTheLastReleaseAndTheTree) {
  const ManifestFile listed{2, true, Content('b'), std::nullopt};
  const ManifestFile older{2, true, Content('o'), std::nullopt};
  const Outcome outcomes[] = {
      {"never published", std::nullopt, false, std::nullopt, true, Change::kNew, 1, true, true, 60},
      {"back after its removal", ManifestFile{3, false, std::nullopt, std::nullopt}, false,
       std::nullopt, true, Change::kNew, 4, true, true, 60},
      {"changed", older, false, 'o', true, Change::kChanged, 3, true, true, 60},
      {"changed, the tree holds it already", older, false, 'b', true, Change::kChanged, 3, false,
       true, 30},
      {"content unknown (taken over without a copy)",
       ManifestFile{2, true, std::nullopt, std::nullopt}, false, std::nullopt, true,
       Change::kChanged, 3, true, true, 60},
      {"unchanged", listed, false, 'b', true, Change::kUnchanged, 2, false, false, 0},
      {"copy missing", listed, false, std::nullopt, true, Change::kRestored, 2, true, false, 0},
      {"copy edited by hand", listed, false, 'x', true, Change::kRepaired, 3, true, true, 60},
      {"copy not yet in place", listed, true, 'o', true, Change::kRewritten, 2, true, false, 0},
      // Pruned only once no cache can serve the list that still names it.
      {"gone from the build", listed, false, 'b', false, Change::kRemoved, 2, false, false, 30},
      {"record just below the top", older, false, 'o', true, Change::kChanged, 3, true, true, 60,
       2147483646},
      // Refused: raised, the number would wrap to a lower one.
      {"record at the top", older, false, 'o', true, Change::kChanged, 0, false, false, 0,
       2147483647, true},
      {"list number at the signed top", ManifestFile{2147483647, true, Content('o'), std::nullopt},
       false, 'o', true, Change::kChanged, 0, false, false, 0, 5, true},
      {"list number at the unsigned top (-1)",
       ManifestFile{4294967295u, true, Content('o'), std::nullopt}, false, 'o', true,
       Change::kChanged, 0, false, false, 0, 5, true},
  };
  for (const Outcome& o : outcomes) {
    SCOPED_TRACE(o.what);
    const publish::FileStamp stamp{1, 1};
    publish::BuildContent build;
    build.patcher = publish::SourceFile{kPatcherFileName, "p", stamp, Content('p')};
    if (o.inBuild) build.files.push_back(publish::SourceFile{u"a.dat", "a", stamp, Content('b')});

    publish::Manifest baseline;
    baseline.first = o.record;
    baseline.patcher = ManifestFile{0, true, Content('p'), stamp};
    if (o.known) baseline.files[u"a.dat"] = *o.known;
    if (o.pending) {
      baseline.complete = false;
      baseline.pending = {u"a.dat"};
    }
    publish::TreeVersions shown;
    shown.recordText = FormatVersionRecord(o.record, 0);
    shown.first = o.record;
    if (o.known && o.known->listed) shown.list[u"a.dat"] = o.known->number;
    shown.listText.emplace();
    ASSERT_TRUE(FormatFileVersions(shown.list, &*shown.listText));
    publish::TreeCopies copies = {{kPatcherFileName, publish::TreeCopy{stamp, Content('p')}}};
    std::set<std::u16string> present;
    if (o.inTree) {
      copies[u"a.dat"] = publish::TreeCopy{stamp, Content(*o.inTree)};
      present.insert(u"a.dat");
    }

    const publish::PlanInput input{&build,   &baseline,    true, &shown, &copies,
                                   &present, std::nullopt, true, 30,     std::nullopt};
    publish::Plan plan;
    publish::Failure failure;
    if (o.refused) {
      EXPECT_FALSE(publish::MakePlan(input, &plan, &failure));
      EXPECT_NE(failure.message.find("wrap"), std::string::npos) << failure.message;
      continue;
    }
    ASSERT_TRUE(publish::MakePlan(input, &plan, &failure)) << failure.message;
    ASSERT_EQ(plan.files.size(), 1u);
    const publish::PlannedFile& file = plan.files[0];
    EXPECT_EQ(file.change, o.change);
    EXPECT_EQ(file.newNumber, o.number);
    EXPECT_EQ(file.copy, o.copy);
    EXPECT_EQ(plan.target.first, o.released ? o.record + 1 : o.record);
    EXPECT_EQ(plan.writeRecord, o.released);
    EXPECT_EQ(plan.writeList, o.number != 2 || !o.inBuild || !(o.known && o.known->listed));
    // What the tool records and signs is the build's content, never the tree's.
    if (o.inBuild) {
      EXPECT_EQ(plan.target.files[u"a.dat"].hash, Content('b'));
    }
    // A copy over one of the same size and second moves on a second, so
    // that caches revalidating it see new validators.
    if (o.copy) {
      const int64_t oneSecond =
          std::chrono::duration_cast<std::filesystem::file_time_type::duration>(
              std::chrono::seconds(1))
              .count();
      EXPECT_EQ(file.copyTime, o.inTree ? oneSecond : stamp.time);
      EXPECT_EQ(plan.target.files[u"a.dat"].stamp, (publish::FileStamp{1, file.copyTime}));
    }
    EXPECT_EQ(plan.prune, o.inBuild ? Names{} : Names{u"a.dat"});
    EXPECT_EQ(plan.SettleTotal(), o.settled);
  }
}

}  // namespace
