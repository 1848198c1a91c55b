#include "ui/outcome.h"

#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <set>
#include <string>

#include "platform/system.h"
#include "tests/support/sim_test.h"

namespace {

// Support reads the codes in docs/support.md: the table under "Outcomes"
// names each code once, and no code the launcher does not write.
TEST(Outcome, EachCodeIsOneRowOfTheSupportTable) {
  std::ifstream file(LAUNCHER_DOCS "/support.md");
  ASSERT_TRUE(file) << LAUNCHER_DOCS "/support.md";
  std::multiset<std::string> documented;
  const std::regex row("^\\| `([a-z-]+)` \\|.*");
  bool inOutcomes = false;
  for (std::string line; std::getline(file, line);) {
    if (line.rfind("## ", 0) == 0) inOutcomes = line == "## Outcomes";
    std::smatch match;
    if (inOutcomes && std::regex_match(line, match, row)) documented.insert(match[1]);
  }
  std::multiset<std::string> written;
  for (int outcome = 0; outcome < kOutcomeCount; ++outcome) {
    written.insert(OutcomeCode(static_cast<Outcome>(outcome)));
  }
  EXPECT_EQ(documented, written);
}

// Boxes of one text told apart by their captions: support hears the caption
// from the player and reads the code in the log, and the two must agree.
class OutcomeBox : public SimTest {};

TEST_F(OutcomeBox, EachCodeNamesTheBoxThePlayerSaw) {
  const struct {
    Outcome outcome;
    const char* code;
    const char16_t* caption;
  } rows[] = {
      {Outcome::kLauncherCopy, "launcher-copy", u"Launcher-ex"},
      {Outcome::kPatcherDownload, "patcher-download", u"Launcher"},
      {Outcome::kListedFile, "listed-file", u"Launcher-ad"},
      {Outcome::kListDownload, "list-download", u"patcher_files_version"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.code);
    ShowFailure(row.outcome);
    ASSERT_FALSE(machine().transcript.empty());
    EXPECT_EQ(machine().transcript.back().caption, row.caption);
    EXPECT_STREQ(OutcomeCode(row.outcome), row.code);
  }
  EndRunLog(platform::kExitFailed);  // the failures noted go with this run
}

}  // namespace
