#include "publish/manifest.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

namespace {

constexpr char kHash[] = "00112233445566778899aabbccddeeff00112233445566778899aabbccddeeff";

TEST(Manifest, ReadsBackWhatItWrites) {
  publish::Manifest manifest;
  manifest.complete = false;
  manifest.first = -7;
  manifest.second = 2147483647;
  manifest.mirrors = {"b.example", "a.example:8080"};
  platform::Sha256Digest digest{};
  ASSERT_TRUE(FromHex(kHash, &digest));
  manifest.patcher = publish::ManifestFile{0, true, digest, publish::FileStamp{12, -5}};
  manifest.files[u"locales\\a.txt"] = {4294967295u, true, digest, publish::FileStamp{0, 1}};
  manifest.files[u"b.dat"] = {3, true, std::nullopt, std::nullopt};
  manifest.files[u"gone.dat"] = {9, false, std::nullopt, std::nullopt};
  manifest.pending = {u"VelkarisPatcher32.vke", u"locales\\a.txt"};

  std::string text;
  ASSERT_TRUE(publish::FormatManifest(manifest, publish::kDefaultCodePage, &text));
  publish::Manifest read;
  std::string problem;
  ASSERT_EQ(publish::ParseManifest(text, publish::kDefaultCodePage, &read, &problem),
            publish::ManifestRead::kRead)
      << problem;
  EXPECT_EQ(read, manifest);
}

// `body` with the closing line the tool writes after it.
std::string Sealed(const std::string& body) {
  platform::Sha256 hash;
  platform::Sha256Digest digest{};
  EXPECT_TRUE(hash.Update(body.data(), body.size()) && hash.Finish(&digest));
  return body + "end " + std::to_string(std::count(body.begin(), body.end(), '\n')) + " " +
         ToHex(digest) + "\n";
}

TEST(Manifest, RefusesDamageAndUnsafeNamesNamingTheLine) {
  const std::string head = "velkaris-publish manifest 2\nstate complete\nrecord 1 0\n";
  const std::string good = Sealed(head + "file 2 " + kHash + " 5:7 b.dat\n");
  using publish::ManifestRead;
  const struct {
    std::string text;
    ManifestRead result;
    const char* problem;
  } cases[] = {
      {good, ManifestRead::kRead, ""},
      {"", ManifestRead::kDamaged, "cut short"},
      {good.substr(0, good.find("file")), ManifestRead::kDamaged, "cut short"},  // truncated
      {good.substr(0, good.size() - 1), ManifestRead::kDamaged, "cut short"},
      {std::string(good).replace(good.find("file 2"), 6, "file 1"), ManifestRead::kDamaged,
       "edited"},
      {"velkaris-publish manifest 1\nstate complete\nrecord 1 0\n", ManifestRead::kMalformed,
       "older version"},
      {Sealed("velkaris-publish manifest 2\nrecord 1 0\n"), ManifestRead::kMalformed, "lacks"},
      {Sealed(head + "state publishing\n"), ManifestRead::kMalformed, "line 4"},
      {Sealed(head + "file 1 " + kHash + " - ..\\evil.txt\n"), ManifestRead::kMalformed, "line 4"},
      {Sealed(head + "file 1 " + kHash + " - a.dat\nfile 2 " + kHash + " - a.dat\n"),
       ManifestRead::kMalformed, "line 5"},
      {Sealed(head + "file 4294967296 " + kHash + " - a.dat\n"), ManifestRead::kMalformed,
       "line 4"},
      {Sealed(head + "file 1 abc - a.dat\n"), ManifestRead::kMalformed, "line 4"},
      {Sealed(head + "file 1 " + kHash + " 5 a.dat\n"), ManifestRead::kMalformed, "line 4"},
      {Sealed(head + "pending patcher_version\n"), ManifestRead::kMalformed, "line 4"},
      {Sealed(head + "launcher " + kHash + " - extra\n"), ManifestRead::kMalformed, "line 4"},
      {Sealed(head + "mirror a.example\nmirror A.EXAMPLE\n"), ManifestRead::kMalformed, "line 5"},
  };
  for (const auto& c : cases) {
    publish::Manifest manifest;
    std::string problem;
    EXPECT_EQ(publish::ParseManifest(c.text, publish::kDefaultCodePage, &manifest, &problem),
              c.result)
        << c.text;
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
