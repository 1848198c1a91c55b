#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>

#include "release/release_manifest.h"

// The same check natively (OpenSSL) and under Wine (CNG): a manifest signed
// with OpenSSL by the test key, as the publishing tool signs.
namespace {

std::string ReadKeyFile(const char* name) {
  std::ifstream in(std::string(LAUNCHER_TEST_KEYS) + "/" + name, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

TEST(ReleaseSignature, OnlyTheKeysSignatureOverTheseBytesCounts) {
  const platform::P256PublicKey key = {{LAUNCHER_TEST_KEY_X}, {LAUNCHER_TEST_KEY_Y}};
  const std::string text = ReadKeyFile("sample-release_manifest");
  const std::string signature = ReadKeyFile("sample-release_manifest.sig");
  ASSERT_EQ(signature.size(), platform::kP256SignatureBytes);
  platform::P256PublicKey offCurve = key;
  offCurve.y.back() ^= 1;

  struct Case {
    const char* what;
    std::string text;
    std::string signature;
    platform::P256PublicKey key;
    bool accepted;
  };
  std::string flippedText = text;
  flippedText[text.size() / 2] ^= 1;
  std::string flippedSignature = signature;
  flippedSignature[signature.size() / 2] ^= 0x10;
  std::string swapped = signature.substr(platform::kP256CoordinateBytes) +
                        signature.substr(0, platform::kP256CoordinateBytes);
  const Case cases[] = {
      {"as signed", text, signature, key, true},
      {"one bit of the signature flipped", text, flippedSignature, key, false},
      {"one bit of the manifest flipped", flippedText, signature, key, false},
      {"r and s swapped", text, swapped, key, false},
      {"signature cut short", text, signature.substr(1), key, false},
      {"signature in DER", text, "\x30\x44" + signature, key, false},
      {"all zero", text, std::string(platform::kP256SignatureBytes, '\0'), key, false},
      {"a key off the curve", text, signature, offCurve, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ReleaseManifest manifest;
    const PathReading ascii = {0, DecodeEachByte, UpperCaseAscii};
    EXPECT_EQ(ReadSignedManifest(c.text, c.signature, c.key, ascii, &manifest) ==
                  ReleaseManifestRead::kRead,
              c.accepted);
    EXPECT_EQ(manifest.entries.size(), c.accepted ? 3u : 0u);
  }
}

}  // namespace
