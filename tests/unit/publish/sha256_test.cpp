#include "platform/crypto.h"
#include "release/release_manifest.h"

#include <gtest/gtest.h>

#include <string>

#include "publish/file_ops.h"
#include "tests/unit/publish/publish_fixture.h"

namespace {

std::string Hash(const std::string& bytes) {
  platform::Sha256 hash;
  platform::Sha256Digest digest{};
  EXPECT_TRUE(hash.Update(bytes.data(), bytes.size()));
  EXPECT_TRUE(hash.Finish(&digest));
  return ToHex(digest);
}

TEST(Sha256, MatchesTheStandardsTestVectors) {
  EXPECT_EQ(Hash(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
  EXPECT_EQ(Hash("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  EXPECT_EQ(Hash("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
            "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
}

TEST_F(PublishTest, AFileIsHashedWholeAcrossItsReadChunks) {
  const std::string million(1000000, 'a');
  const std::string bytes = million + million + "tail";  // beyond two 1 MiB chunks
  WriteBytes(Build() / "big.dat", bytes);
  platform::Sha256Digest digest{};
  publish::Failure failure;
  ASSERT_TRUE(publish::HashFile(Build() / "big.dat", publish::Origin::kBuild, nullptr,
                                &digest, &failure))
      << failure.message;
  EXPECT_EQ(ToHex(digest), Hash(bytes));
  EXPECT_EQ(Hash(million), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
}

}  // namespace
