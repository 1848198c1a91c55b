#include "release/release_manifest.h"

#include <gtest/gtest.h>

#include <cctype>
#include <string>

#include "tests/support/test_code_page.h"

namespace {

const PathReading kPlayers = Cp950Reading();

bool Reads(const std::string& text, ReleaseManifest* manifest) {
  return ParseReleaseManifest(text, kPlayers, manifest) == ReleaseManifestRead::kRead;
}

const std::string kHash(64, 'a');
const std::string kHeader = "velkaris-release-manifest 1\n";
const std::string kRequired = kHash + " 4 patcher_version\n" + kHash +
                              " 0 patcher_files_version\n" + kHash + " 9 VelkarisPatcher32.vke\n";
const std::string kMirrorsHeader = "velkaris-release-manifest 2\n";
const std::string kCodePageHeader = "velkaris-release-manifest 3\ncode-page 950\n";

std::string Mirrors(size_t count) {
  std::string lines;
  for (size_t i = 0; i < count; ++i) lines += "mirror m" + std::to_string(i) + ".example\n";
  return lines;
}

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
      {"no list", kHeader + kHash + " 4 patcher_version\n" + kHash + " 9 VelkarisPatcher32.vke\n",
       false},
      {"no patcher", kHeader + kHash + " 4 patcher_version\n" + kHash + " 0 patcher_files_version\n",
       false},
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
      // Code page 950: "\xB3\x5C" is one character, the second "\xA4\x41" and "\xA4\x61".
      {"a double-byte character whose second byte is that of \"\\\"",
       kHeader + kRequired + kHash + " 1 \xB3\x5C.txt\n", true},
      {"paths that differ in the case of a second byte only",
       kHeader + kRequired + kHash + " 1 \xA4\x41\n" + kHash + " 1 \xA4\x61\n", true},
      {"a control byte after a byte above 0x7F", kHeader + kRequired + kHash + " 1 \xB3\x1F\n",
       false},
      // The list-name rule, on the path as the players' Windows decodes it.
      {"a climbing path", kHeader + kRequired + kHash + " 1 locales/../../Windows/x.dll\n", false},
      {"an absolute path", kHeader + kRequired + kHash + " 1 /Windows/x.dll\n", false},
      {"a drive", kHeader + kRequired + kHash + " 1 C:x.dll\n", false},
      {"a device", kHeader + kRequired + kHash + " 1 locales/COM1.txt\n", false},
      {"a trailing dot", kHeader + kRequired + kHash + " 1 a.dll.\n", false},
      {"bytes that are no text in the code page", kHeader + kRequired + kHash + " 1 \xFF\xFF\n",
       false},
      // α and Α (\xA3\x5C, \xA3\x44): one file for Windows.
      {"paths that differ in a Greek letter's case",
       kHeader + kRequired + kHash + " 1 \xA3\x5C.txt\n" + kHash + " 1 \xA3\x44.txt\n", false},
      {"the code page named", kCodePageHeader + kRequired + kHash + " 1 \xB3\x5C.txt\n", true},
      {"the code page and mirrors", kCodePageHeader + "mirror a.example\n" + kRequired, true},
      {"the third version without its code page", "velkaris-release-manifest 3\n" + kRequired,
       false},
      {"a code page under the first header", kHeader + "code-page 950\n" + kRequired, false},
      {"DEL in the path", kHeader + kRequired + kHash + " 1 a\x7F\n", false},
      {"a path of 127 bytes", kHeader + kRequired + kHash + " 1 " + std::string(127, 'p') + "\n",
       true},
      {"a path of 128 bytes", kHeader + kRequired + kHash + " 1 " + std::string(128, 'p') + "\n",
       false},
      {"the kept record, in mixed case", kHeader + kRequired + kHash + " 1 Release_RECORD\n", false},
      {"the manifest itself", kHeader + kRequired + kHash + " 1 release_manifest\n", false},
      {"its signature, in capitals", kHeader + kRequired + kHash + " 1 RELEASE_MANIFEST.SIG\n",
       false},
      {"beyond the size limit", kHeader + kRequired + std::string(kMaxReleaseManifestBytes, '\n'),
       false},
      {"mirrors", kMirrorsHeader + "mirror a.example\nmirror 10.0.0.2:8080\n" + kRequired, true},
      {"the most mirrors", kMirrorsHeader + Mirrors(kMaxMirrors) + kRequired, true},
      {"one mirror more", kMirrorsHeader + Mirrors(kMaxMirrors + 1) + kRequired, false},
      {"the second version without a mirror", kMirrorsHeader + kRequired, false},
      {"a mirror under the first header", kHeader + "mirror a.example\n" + kRequired, false},
      {"a mirror after the entries", kMirrorsHeader + kRequired + "mirror a.example\n", false},
      {"a mirror twice, in another case",
       kMirrorsHeader + "mirror a.example\nmirror A.example\n" + kRequired, false},
      {"a mirror that is a URL", kMirrorsHeader + "mirror http://a.example/\n" + kRequired, false},
      {"a mirror line without its end", kMirrorsHeader + "mirror a.example", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ReleaseManifest manifest;
    EXPECT_EQ(Reads(c.text, &manifest), c.reads);
    // What it read, it writes back in the same form, entries in path order.
    ReleaseManifest again;
    if (c.reads) {
      EXPECT_TRUE(Reads(FormatReleaseManifest(manifest), &again));
      EXPECT_EQ(again, manifest);
    }
  }
  // A player whose Windows reads lists in another code page is told so.
  PathReading chinaPlayers = kPlayers;
  chinaPlayers.codePage = 936;
  ReleaseManifest manifest;
  EXPECT_EQ(ParseReleaseManifest(kCodePageHeader + kRequired, chinaPlayers, &manifest),
            ReleaseManifestRead::kOtherCodePage);
  EXPECT_EQ(manifest, ReleaseManifest());
}

// Hexadecimal of either case names the same digest: a manifest written in
// capitals vouches for the same bytes.
TEST(ReleaseManifest, AnUpperCaseManifestReadsTheSameDigests) {
  const std::string lower = "0123456789abcdef" + std::string(48, 'e');
  std::string upper = lower;
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  const auto manifestWith = [](const std::string& hash) {
    return kHeader + hash + " 4 patcher_version\n" + kHash + " 0 patcher_files_version\n" + kHash +
           " 9 VelkarisPatcher32.vke\n";
  };
  ReleaseManifest fromLower;
  ReleaseManifest fromUpper;
  ASSERT_TRUE(Reads(manifestWith(lower), &fromLower));
  ASSERT_TRUE(Reads(manifestWith(upper), &fromUpper));
  EXPECT_EQ(fromUpper, fromLower);
}

TEST(ReleaseManifest, AListMatchesItsManifestThroughTheListsCodePage) {
  ReleaseManifest manifest;
  ASSERT_TRUE(Reads(
      kHeader + kRequired + kHash + " 1 \xB3\x5C.txt\n" + kHash + " 2 locales/\xBB\xA1\n",
      &manifest));
  const FileVersionMap list = {{u"\u8A31.txt", 1}, {u"locales\\\u8AAA", 1}};
  EXPECT_TRUE(ListMatchesManifest(list, manifest, EncodeTestCodePage));
  EXPECT_FALSE(ListMatchesManifest(list, manifest));  // ASCII: the names have no server path
  // The list's bytes read one byte a character: no such paths.
  const FileVersionMap bytes = {{u"\u00B3\\.txt", 1}, {u"locales\\\u00BB\u00A1", 1}};
  EXPECT_FALSE(ListMatchesManifest(bytes, manifest, EncodeTestCodePage));
}

TEST(ReleaseManifest, AMirrorIsAPlainHostNameOrIpv4AddressWithAnOptionalPort) {
  const std::string longestLabel(63, 'l');
  const std::string longestName =
      longestLabel + "." + longestLabel + "." + longestLabel + "." + std::string(61, 'l');
  const struct {
    std::string address;
    bool valid;
  } cases[] = {
      {"downloads.example.com", true},
      {"a", true},
      {"x-1.example:8080", true},
      {"EXAMPLE.com:1", true},
      {"127.0.0.1", true},
      {"255.255.255.255:65535", true},
      {"0.0.0.0", true},
      {longestLabel + ".example", true},
      {longestName, true},
      {"", false},
      {longestName + "l", false},
      {std::string(64, 'l') + ".example", false},
      {"-a.example", false},
      {"a-.example", false},
      {"a..example", false},
      {".a.example", false},
      {"a.example.", false},
      {"a_b.example", false},
      {"a b.example", false},
      {"caf\xC3\xA9.example", false},
      {"a.example:0", false},
      {"a.example:65536", false},
      {"a.example:080", false},
      {"a.example:", false},
      {"a.example:+80", false},
      {"a.example:80:81", false},
      {":80", false},
      {"256.0.0.1", false},
      {"1.2.3", false},
      {"1.2.3.4.5", false},
      {"01.2.3.4", false},
      {"0x7f.0.0.1", false},
      {"2130706433", false},
      {"example.123", false},
      {"[::1]:80", false},
      {"user@a.example", false},
      {"a.example/path", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(IsMirrorAddress(c.address), c.valid) << c.address;
  }
}

}  // namespace
