#include "publish/command_line.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct ArgumentCase {
  publish::Arguments args;
  const char* problem;  // a word of it; null: accepted
};

TEST(CommandLine, AcceptsTheDocumentedFormsAndNamesWhatIsWrong) {
  const ArgumentCase cases[] = {
      {{"build", "tree"}, nullptr},
      {{"--dry-run", "build", "--prune", "tree", "--second", "-3", "--manifest", "m", "--quiet",
        "--settle", "30"},
       nullptr},
      {{"build"}, "BUILD_FOLDER and RELEASE_TREE"},
      {{"build", "tree", "extra"}, "BUILD_FOLDER and RELEASE_TREE"},
      {{"build", "tree", "--force"}, "unknown option --force"},
      {{"build", "tree", "--second"}, "--second needs a value"},
      {{"build", "tree", "--second", "2147483648"}, "whole number"},
      {{"build", "tree", "--second", "7x"}, "whole number"},
      {{"build", "tree", "--manifest"}, "--manifest needs a value"},
      {{"build", "tree", "--settle", "86400"}, nullptr},
      {{"build", "tree", "--settle", "86401"}, "from 0 to 86400"},
      {{"build", "tree", "--settle", "-1"}, "from 0 to 86400"},
      {{"build", "tree", "--settle", "1.5"}, "from 0 to 86400"},
      {{"build", "tree", "--settle"}, "--settle needs a value"},
      {{"--verify", "tree", "--settle", "0"}, "--verify takes RELEASE_TREE alone"},
      {{"build", "tree", "--signing-key", "k", "--mirror", "a.example", "--mirror", "10.0.0.2:81"},
       nullptr},
      {{"build", "tree", "--signing-key", "k", "--no-mirrors"}, nullptr},
      {{"build", "tree", "--mirror", "a.example"}, "need --signing-key"},
      {{"build", "tree", "--no-mirrors"}, "need --signing-key"},
      {{"build", "tree", "--signing-key", "k", "--mirror", "http://a.example/"}, "HOST:PORT"},
      {{"build", "tree", "--signing-key", "k", "--mirror", "a.example:0"}, "HOST:PORT"},
      {{"build", "tree", "--signing-key", "k", "--mirror"}, "--mirror needs a value"},
      {{"build", "tree", "--signing-key", "k", "--mirror", "a.example", "--no-mirrors"},
       "not both"},
      {{"build", "tree", "--signing-key", "k", "--mirror", "a.example", "--mirror", "A.example"},
       "each once"},
      {{"--verify", "tree", "--no-mirrors"}, "--verify takes RELEASE_TREE alone"},
      // Players never reach this machine or its link; a test rig says so.
      {{"build", "tree", "--signing-key", "k", "--mirror", "127.0.0.2:8080"}, "loopback"},
      {{"build", "tree", "--signing-key", "k", "--mirror", "LocalHost"}, "loopback"},
      {{"build", "tree", "--signing-key", "k", "--mirror", "cdn.localhost"}, "loopback"},
      {{"build", "tree", "--signing-key", "k", "--mirror", "169.254.9.9"}, "link-local"},
      {{"build", "tree", "--signing-key", "k", "--mirror", "0.0.0.0:80"}, "0.0.0.0"},
      {{"build", "tree", "--signing-key", "k", "--mirror", "a.example", "--mirror", "127.0.0.1",
        "--allow-local-mirror"},
       nullptr},
      {{"build", "tree", "--signing-key", "k", "--mirror", "169.255.0.1"}, nullptr},
      {{"build", "tree", "--signing-key", "k", "--mirror", "localhost.example"}, nullptr},
      {{"build", "tree", "--code-page", "936"}, nullptr},
      {{"--verify", "tree", "--code-page", "65001"}, nullptr},
      {{"build", "tree", "--code-page", "1200"}, "ANSI code page"},  // UTF-16: not ASCII
      {{"build", "tree", "--code-page", "950x"}, "ANSI code page"},
  };
  for (const ArgumentCase& c : cases) {
    publish::PublishOptions options;
    bool quiet = false;
    bool help = false;
    std::string problem;
    const bool ok = publish::ParseCommandLine(c.args, &options, &quiet, &help, &problem);
    EXPECT_EQ(ok, c.problem == nullptr) << problem;
    if (c.problem != nullptr) {
      EXPECT_NE(problem.find(c.problem), std::string::npos) << problem;
    }
  }

  publish::PublishOptions options;
  bool quiet = false;
  bool help = false;
  std::string problem;
  ASSERT_TRUE(publish::ParseCommandLine(cases[1].args, &options, &quiet, &help, &problem));
  EXPECT_TRUE(options.dryRun && options.prune && quiet && !help);
  EXPECT_EQ(options.second, -3);
  EXPECT_EQ(options.settleSeconds, 30u);
  EXPECT_EQ(options.manifest, "m");
  EXPECT_EQ(options.buildFolder, "build");
  EXPECT_EQ(options.releaseTree, "tree");
  EXPECT_EQ(options.mirrors, std::nullopt);  // the last release's

  ASSERT_TRUE(publish::ParseCommandLine(cases[15].args, &options, &quiet, &help, &problem));
  EXPECT_EQ(options.mirrors, (std::vector<std::string>{"a.example", "10.0.0.2:81"}));
  ASSERT_TRUE(publish::ParseCommandLine(cases[16].args, &options, &quiet, &help, &problem));
  EXPECT_EQ(options.mirrors, std::vector<std::string>{});
}

}  // namespace
