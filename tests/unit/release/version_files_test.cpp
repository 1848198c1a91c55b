#include "release/version_files.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/test_code_page.h"

namespace {

using Pairs = std::vector<std::pair<std::u16string, uint32_t>>;

constexpr int32_t kUntouched1 = 111;
constexpr int32_t kUntouched2 = 222;
constexpr int32_t kMin = std::numeric_limits<int32_t>::min();

Pairs Parse(std::string_view text, const ListNameDecoder& decode, bool* read) {
  FileVersionMap map{{u"left over", 1}};
  *read = ParseFileVersions(text, &map, decode);
  return Pairs(map.begin(), map.end());
}

// White space after a short text up to `bytes` in all.
std::string PaddedTo(std::string text, size_t bytes) {
  text.resize(bytes, ' ');
  return text;
}

struct RecordCase {
  std::string text;
  int32_t first;
  int32_t second;
  bool read = true;
};

TEST(VersionRecord, ReadsTwoNumbersAsScanfWouldWithoutItsUndefinedCorners) {
  const RecordCase cases[] = {
      {std::string("0\r\n0"), 0, 0},
      {"120\r\n7", 120, 7},
      {"120\n7", 120, 7},
      {" \t\v\f\r\n 5 \t -3 and more", 5, -3},
      {"+12 -0", 12, 0},
      {"5-3", 5, -3},
      {"12abc 9", 12, kUntouched2},
      {"7", 7, kUntouched2},
      {"7\r\n", 7, kUntouched2},
      {"", kUntouched1, kUntouched2},
      {"x 5", kUntouched1, kUntouched2},
      {"- 5", kUntouched1, kUntouched2},
      {"2147483647 -2147483648", 2147483647, kMin},
      // Beyond 32 bits the low 32 bits count.
      {"4294967295 4294967296", -1, 0},
      {"2147483648 -4294967297", kMin, -1},
      {"99999999999999999999 0", 1661992959, 0},  // 10^20 mod 2^32
      // Ctrl-Z ends a text file on Windows, wherever it stands.
      {"120\r\n7\x1A", 120, 7},
      {"120\x1A 7", 120, kUntouched2},
      {"\x1A 120 7", kUntouched1, kUntouched2},
      {PaddedTo("1 2", kMaxRecordBytes), 1, 2},
      {PaddedTo("1 2", kMaxRecordBytes) + "\x1A" + std::string(kMaxRecordBytes, ' '), 1, 2},
      {PaddedTo("1 2", kMaxRecordBytes + 1), kUntouched1, kUntouched2, false},
      {std::string(kMaxRecordBytes + 1, '9'), kUntouched1, kUntouched2, false},
  };
  for (const auto& c : cases) {
    const std::string shown = c.text.substr(0, 40);
    int32_t first = kUntouched1;
    int32_t second = kUntouched2;
    EXPECT_EQ(ParseVersionRecord(c.text, &first, &second), c.read) << '"' << shown << '"';
    EXPECT_EQ(first, c.first) << '"' << shown << '"';
    EXPECT_EQ(second, c.second) << '"' << shown << '"';
  }
}

TEST(VersionRecord, IsWrittenWithCrLfAndNoLineEndAfterTheSecondNumber) {
  EXPECT_EQ(FormatVersionRecord(0, 0), std::string("\x30\x0D\x0A\x30"));
  EXPECT_EQ(FormatVersionRecord(-1, kMin), "-1\r\n-2147483648");
}

struct ListCase {
  const char* what;
  std::string text;
  Pairs pairs;
  bool read = true;
  ListNameDecoder decode = DecodeEachByte;
};

// `count` distinct pairs with names of five digits, in name order.
std::string ListOf(size_t count, Pairs* pairs) {
  std::string text;
  for (size_t i = 0; i < count; ++i) {
    const std::string name = std::to_string(100000 + i).substr(1);
    text += name + " 1\n";
    pairs->emplace_back(std::u16string(name.begin(), name.end()), 1);
  }
  return text;
}

TEST(FileVersionList, ReadsNamesAndNumbersSeparatedByAnyWhiteSpace) {
  const std::u16string longestName(kMaxListNameLength, u'n');
  const std::u16string cutName(kMaxListNameLength + 1, u'n');
  Pairs fullPairs;
  const std::string fullList = ListOf(kMaxListEntries, &fullPairs);
  const ListCase cases[] = {
      {"empty", "", {}},
      {"white space only", " \r\n\t", {}},
      {"CR LF", "a.dat 3\r\nb.dat 1\r\n", {{u"a.dat", 3}, {u"b.dat", 1}}},
      {"LF and tabs", "a.dat\t3\nb.dat\t\t1", {{u"a.dat", 3}, {u"b.dat", 1}}},
      {"the first of two equal names counts", "x.dat 1\nx.dat 9\n", {{u"x.dat", 1}}},
      {"trailing name takes the number before it", "a 5\nb", {{u"a", 5}, {u"b", 5}}},
      {"first name without number takes 0", "a", {{u"a", 0}}},
      {"unreadable number: the next token is a name", "a b 3", {{u"a", 0}, {u"b", 3}}},
      {"digits end the number", "a 12b 7", {{u"a", 12}, {u"b", 7}}},
      {"a lone sign is used up", "a -b 4", {{u"a", 0}, {u"b", 4}}},
      {"-1 is the largest unsigned number", "a -1", {{u"a", 4294967295u}}},
      {"numbers wrap modulo 2^32", "a 4294967296 b 4294967297", {{u"a", 0}, {u"b", 1}}},
      {"each byte is the character of its value", "\xE9t\xE9 4", {{u"\u00E9t\u00E9", 4}}},
      {"a NUL byte stays in the name", std::string("a\0b 2", 5), {{std::u16string(u"a\0b", 3), 2}}},
      {"ordered by UTF-16 code units, prefix first", "b 1 ab 2 a 3 B 4 \xE9 5",
       {{u"B", 4}, {u"a", 3}, {u"ab", 2}, {u"b", 1}, {u"\u00E9", 5}}},
      {"Ctrl-Z ends the list", "a 1\r\n\x1A", {{u"a", 1}}},
      {"nothing after Ctrl-Z counts", "a 1\x1A b 2", {{u"a", 1}}},
      {"Ctrl-Z ends a name", "a\x1A" "b 2", {{u"a", 0}}},
      {"Ctrl-Z first: an empty list", "\x1A a 1", {}},
      {"a name of 127 characters is read whole", std::string(kMaxListNameLength, 'n') + " 6 z 1",
       {{longestName, 6}, {u"z", 1}}},
      // Cut one character beyond the limit, so it stays too long to be used.
      {"a longer name keeps 128 characters", std::string(1 << 20, 'n') + " 6 z 1",
       {{cutName, 6}, {u"z", 1}}},
      {"the most entries", fullList, fullPairs},
      {"one entry more", fullList + " x 1", {}, false},
      {"the most bytes", PaddedTo("a 1", kMaxListBytes), {{u"a", 1}}},
      {"the most bytes, then Ctrl-Z and more", PaddedTo("a 1", kMaxListBytes) + "\x1A b 2",
       {{u"a", 1}}},
      {"one byte more", PaddedTo("a 1", kMaxListBytes + 1), {}, false},
      {"one name beyond the byte limit", std::string(kMaxListBytes + 1, 'n'), {}, false},
      // 許 ends in the byte of "\", 四 in that of "|".
      {"names in the list's code page are their text",
       "\xB3\x5C\xA5\x5C.txt 1\r\nlocales\\\xA5\x7C 2\r\n",
       {{u"locales\\\u56DB", 2}, {u"\u8A31\u529F.txt", 1}}, true, DecodeTestCodePage},
      {"bytes that are no text there are kept as lone low surrogates",
       "a\xB3 1 \xA5\x41 2 \xB3\x5C 3",
       {{u"\u8A31", 3}, {u"\xDC61\xDCB3", 1}, {u"\xDCA5\xDC41", 2}}, true, DecodeTestCodePage},
  };
  for (const auto& c : cases) {
    bool read = false;
    EXPECT_TRUE(Parse(c.text, c.decode, &read) == c.pairs) << c.what;
    EXPECT_EQ(read, c.read) << c.what;
  }
}

// A player fetches what the server lists and the local list lacks or gives
// a lower number, compared as unsigned, in the server list's order.
TEST(FileVersionList, ChangedFilesAreTheServersNewOrRisenOnes) {
  const FileVersionMap server = {{u"a", 2}, {u"b", 1}, {u"c", 4294967295u}, {u"d", 5}};
  const FileVersionMap local = {{u"a", 2}, {u"b", 0}, {u"c", 7}, {u"d", 6}, {u"z", 1}};
  EXPECT_EQ(SelectChangedFiles(server, local), (std::vector<std::u16string>{u"b", u"c"}));
  EXPECT_EQ(SelectChangedFiles(server, {}),
            (std::vector<std::u16string>{u"a", u"b", u"c", u"d"}));
  EXPECT_TRUE(SelectChangedFiles({}, local).empty());
}

// Reading back what is written is left to the fuzz target.
TEST(FileVersionList, IsWrittenOneSignedPairALineAndRefusesNamesItCannotHold) {
  std::string text;
  ASSERT_TRUE(FormatFileVersions({{u"locales\\a.pak", 3}, {u"b.dat", 4294967295u}}, &text));
  EXPECT_EQ(text, "b.dat -1\r\nlocales\\a.pak 3\r\n");
  const std::u16string tooLong(kMaxListNameLength + 1, u'n');
  for (const std::u16string& name : {std::u16string(u""), std::u16string(u"a b"),
                                     std::u16string(u"\u4E2D"), std::u16string(u"a\x1A"), tooLong}) {
    EXPECT_FALSE(FormatFileVersions({{name, 1}}, &text)) << testing::PrintToString(name);
  }
}

TEST(ListNames, OnlyPlainRelativePathsBelowTheInstallFolderAreSafe) {
  const std::u16string safe[] = {
      std::u16string(kMaxListNameLength, u'n'), u"a.dat", u"locales\\a.pak", u"locales/a.pak", u"a\\b/c.d", u"a..b", u".hidden",
      u"CONFIG.SYS", u"COM10", u"LPT0", u"con_x.txt", u"NULL", u"a b.dat",
      u"~!@#$%^&()_+-=[]{};',`"};
  for (const auto& name : safe) EXPECT_TRUE(IsSafeListName(name)) << testing::PrintToString(name);

  const std::u16string unsafe[] = {
      u"", u"\\x.dll", u"/x.dll", u"\\\\server\\share\\x.dll", u"//server/share/x.dll",
      u"C:\\x.dll", u"C:x.dll", u"a:b", u"x.dat::$DATA", u"..\\..\\Windows\\System32\\x.dll",
      u"../x", u"a\\..\\..\\x", u"a/../b", u".\\a", u"a\\.", u"..", u".", u"a\\\\b", u"a//b",
      u"a\\", u"a/", u"a.", u"a ", u"dir.\\a", u"dir \\a", u"a\tb", u"a\u0001b", u"a\u007Fb",
      std::u16string(u"a\0b", 3), u"a<b", u"a>b", u"a\"b", u"a|b", u"a?b", u"a*b",
      u"CON", u"con.txt", u"Nul", u"PRN.log", u"aux", u"COM1", u"com9.dat", u"LPT1", u"lpt9.x.y",
      u"aux .txt", u"locales\\NUL", u"CONIN$", u"conout$.x",
      u"\u00A5..\u00A5x.dll", u"\u00E9.dat", u"\uFF0F",
      std::u16string(kMaxListNameLength + 1, u'n')};
  for (const auto& name : unsafe) EXPECT_FALSE(IsSafeListName(name)) << testing::PrintToString(name);
}

TEST(ListNames, AreFetchedWithSlashesBetweenFoldersAndEveryOtherCharacterKept) {
  const std::pair<std::u16string, std::u16string> cases[] = {
      {u"a.dat", u"a.dat"},
      {u"locales\\a.pak", u"locales/a.pak"},
      {u"a\\b/c\\d", u"a/b/c/d"},
      {u"\u4E2D\\\u00E9", u"\u4E2D/\u00E9"}};
  for (const auto& [name, path] : cases) {
    EXPECT_EQ(WideServerPathOfListName(name), path) << testing::PrintToString(name);
  }
}

TEST(ListNames, AreCheckedInUtf16AndHeldToTheirLengthInTheListsCodePage) {
  // 許 is "\xB3\x5C", 四 "\xA5\x7C": no separator, no "|", in UTF-16.
  const std::u16string xu = u"\u8A31";
  const struct {
    std::u16string name;
    bool safe;
  } cases[] = {
      {xu + u"\u529F.txt", true},
      {u"locales\\\u56DB.txt", true},
      {xu + u"NUL.txt", true},                   // no device: "NUL.txt" follows a "\" byte only
      {u"a" + std::u16string(63, xu[0]), true},  // 127 bytes
      {std::u16string(64, xu[0]), false},        // 128 bytes in 64 characters
      {u"\u00E9.txt", false},                    // no form in the code page
      {xu + u"\\..\\x.dll", false},
      {xu + u"\\NUL", false},
      {xu + u"\u0085", false},  // C1 control
  };
  for (const auto& c : cases) {
    EXPECT_EQ(IsSafeListName(c.name, EncodeTestCodePage), c.safe) << testing::PrintToString(c.name);
  }
  // Windows takes superscript digits for device numbers, in a code page
  // that has them.
  const ListNameEncoder oneByteEach = [](std::u16string_view text, std::string* bytes) {
    bytes->assign(text.begin(), text.end());
    return true;
  };
  EXPECT_FALSE(IsSafeListName(u"COM\u00B9.txt", oneByteEach));
  EXPECT_FALSE(IsSafeListName(u"lpt\u00B3", oneByteEach));
  EXPECT_TRUE(IsSafeListName(u"COM\u00BA.txt", oneByteEach));
}

}  // namespace
