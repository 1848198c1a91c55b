#include "ui/outcome.h"

#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <set>
#include <string>

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

}  // namespace
