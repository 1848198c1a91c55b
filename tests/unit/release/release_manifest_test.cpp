#include "release/release_manifest.h"

#include <gtest/gtest.h>

#include <string>

namespace {

const std::string kHash(64, 'a');
const std::string kHeader = "velkaris-release-manifest 1\n";
const std::string kRequired = kHash + " 4 patcher_version\n" + kHash +
                              " 0 patcher_files_version\n" + kHash + " 9 VelkarisPatcher32.vke\n";

TEST(ReleaseManifest, ReadsOnlyAWellFormedManifest) {
  struct Case {
    const char* what;
    std::string text;
    bool reads;
  };
  const Case cases[] = {
      {"the required entries", kHeader + kRequired, true},
      {"a listed file in a folder", kHeader + kRequired + kHash + " 1 locales/a.pak\n", true},
      {"upper-case hexadecimal", kHeader + kRequired + std::string(64, 'F') + " 1 a\n", true},
      {"empty", "", false},
      {"another header", "velkaris-release-manifest 2\n" + kRequired, false},
      {"no record", kHeader + kHash + " 0 patcher_files_version\n" + kHash +
                        " 9 VelkarisPatcher32.vke\n", false},
      {"a duplicate path", kHeader + kRequired + kHash + " 1 a\n" + kHash + " 2 a\n", false},
      {"a duplicate in another case", kHeader + kRequired + kHash + " 1 a\n" + kHash + " 2 A\n",
       false},
      {"the last line without its end", kHeader + kRequired + kHash + " 1 a", false},
      {"CR LF", kHeader + kRequired + kHash + " 1 a\r\n", false},
      {"a short hash", kHeader + kRequired + kHash.substr(1) + " 1 a\n", false},
      {"a hash that is no hex", kHeader + kRequired + "g" + kHash.substr(1) + " 1 a\n", false},
      {"a negative size", kHeader + kRequired + kHash + " -1 a\n", false},
      {"a size beyond 64 bits", kHeader + kRequired + kHash + " 18446744073709551616 a\n", false},
      {"no path", kHeader + kRequired + kHash + " 1 \n", false},
      {"a blank in the path", kHeader + kRequired + kHash + " 1 a b\n", false},
      {"a backslash in the path", kHeader + kRequired + kHash + " 1 locales\\a\n", false},
      {"a path of 128 bytes", kHeader + kRequired + kHash + " 1 " + std::string(128, 'p') + "\n",
       false},
      {"the manifest itself", kHeader + kRequired + kHash + " 1 release_manifest\n", false},
      {"its signature, in capitals", kHeader + kRequired + kHash + " 1 RELEASE_MANIFEST.SIG\n",
       false},
      {"beyond the size limit", kHeader + kRequired + std::string(kMaxReleaseManifestBytes, '\n'),
       false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ReleaseManifest manifest;
    EXPECT_EQ(ParseReleaseManifest(c.text, &manifest), c.reads);
    // What it read, it writes back in the same form, entries in path order.
    ReleaseManifest again;
    if (c.reads) {
      EXPECT_TRUE(ParseReleaseManifest(FormatReleaseManifest(manifest), &again));
      EXPECT_EQ(again, manifest);
    }
  }
}

}  // namespace
