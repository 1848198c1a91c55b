#include "publish/manifest.h"

#include <gtest/gtest.h>

#include <string>

namespace {

constexpr char kHash[] = "00112233445566778899aabbccddeeff00112233445566778899aabbccddeeff";

TEST(Manifest, ReadsBackWhatItWrites) {
  publish::Manifest manifest;
  manifest.complete = false;
  manifest.first = -7;
  manifest.second = 2147483647;
  publish::Sha256Digest digest{};
  ASSERT_TRUE(publish::FromHex(kHash, &digest));
  manifest.patcher = digest;
  manifest.files[u"locales\\a.txt"] = {4294967295u, true, digest};
  manifest.files[u"b.dat"] = {3, true, std::nullopt};
  manifest.files[u"gone.dat"] = {9, false, std::nullopt};
  manifest.pending = {u"VelkarisPatcher32.vke", u"locales\\a.txt"};

  publish::Manifest read;
  std::string problem;
  ASSERT_TRUE(publish::ParseManifest(publish::FormatManifest(manifest), &read, &problem))
      << problem;
  EXPECT_EQ(read, manifest);
}

TEST(Manifest, RefusesDamageAndUnsafeNamesNamingTheLine) {
  const std::string head = "velkaris-publish manifest 1\nstate complete\nrecord 1 0\n";
  const struct {
    std::string text;
    const char* problem;
  } cases[] = {
      {"", "lacks"},
      {"velkaris-publish manifest 2\n", "line 1"},
      {"velkaris-publish manifest 1\nrecord 1 0\n", "lacks"},
      {head + "state publishing\n", "line 4"},
      {head + "file 1 " + kHash + " ..\\evil.txt\n", "line 4"},
      {head + "file 1 " + kHash + " a.dat\nfile 2 " + kHash + " a.dat\n", "line 5"},
      {head + "file 4294967296 " + kHash + " a.dat\n", "line 4"},
      {head + "file 1 abc a.dat\n", "line 4"},
      {head + "pending patcher_version\n", "line 4"},
      {head + "launcher " + kHash + " extra\n", "line 4"},
  };
  for (const auto& c : cases) {
    publish::Manifest manifest;
    std::string problem;
    EXPECT_FALSE(publish::ParseManifest(c.text, &manifest, &problem)) << c.text;
    EXPECT_NE(problem.find(c.problem), std::string::npos) << c.text << ": " << problem;
  }
}

TEST(Manifest, LiesBesideTheTreeNamedAfterIt) {
  EXPECT_EQ(publish::DefaultManifestPath("/srv/www/UploadData"),
            "/srv/www/UploadData.publish-manifest");
  EXPECT_EQ(publish::DefaultManifestPath("/srv/www/UploadData/"),
            "/srv/www/UploadData.publish-manifest");
  EXPECT_EQ(publish::DefaultManifestPath("/"), "");
}

}  // namespace
