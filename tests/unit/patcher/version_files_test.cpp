#include "patcher/version_files.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>
#include <utility>
#include <vector>

namespace {

using Pairs = std::vector<std::pair<std::u16string, uint32_t>>;

constexpr int32_t kUntouched1 = 111;
constexpr int32_t kUntouched2 = 222;
constexpr int32_t kMin = std::numeric_limits<int32_t>::min();

Pairs Parse(std::string_view text) {
  FileVersionMap map{{u"left over", 1}};
  ParseFileVersions(text, &map);
  return Pairs(map.begin(), map.end());
}

struct RecordCase {
  std::string text;
  int32_t first;
  int32_t second;
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
  };
  for (const auto& c : cases) {
    int32_t first = kUntouched1;
    int32_t second = kUntouched2;
    ParseVersionRecord(c.text, &first, &second);
    EXPECT_EQ(first, c.first) << '"' << c.text << '"';
    EXPECT_EQ(second, c.second) << '"' << c.text << '"';
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
};

TEST(FileVersionList, ReadsNamesAndNumbersSeparatedByAnyWhiteSpace) {
  const std::u16string longName(200, u'n');
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
      {"a name beyond 127 characters is read whole", std::string(200, 'n') + " 6 z 1",
       {{longName, 6}, {u"z", 1}}},
      {"ordered by UTF-16 code units, prefix first", "b 1 ab 2 a 3 B 4 \xE9 5",
       {{u"B", 4}, {u"a", 3}, {u"ab", 2}, {u"b", 1}, {u"\u00E9", 5}}},
  };
  for (const auto& c : cases) EXPECT_EQ(Parse(c.text), c.pairs) << c.what;
}

// Reading back what is written is left to the fuzz target.
TEST(FileVersionList, IsWrittenOneSignedPairALineAndRefusesNamesItCannotHold) {
  std::string text;
  ASSERT_TRUE(FormatFileVersions({{u"locales\\a.pak", 3}, {u"b.dat", 4294967295u}}, &text));
  EXPECT_EQ(text, "b.dat -1\r\nlocales\\a.pak 3\r\n");
  for (const char16_t* name : {u"", u"a b", u"\u4E2D"}) {
    EXPECT_FALSE(FormatFileVersions({{name, 1}}, &text)) << testing::PrintToString(std::u16string(name));
  }
}

TEST(ListNames, OnlyPlainRelativePathsBelowTheInstallFolderAreSafe) {
  const std::u16string safe[] = {
      u"a.dat", u"locales\\a.pak", u"locales/a.pak", u"a\\b/c.d", u"a..b", u".hidden",
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
      u"\u00A5..\u00A5x.dll", u"\u00E9.dat", u"\uFF0F"};
  for (const auto& name : unsafe) EXPECT_FALSE(IsSafeListName(name)) << testing::PrintToString(name);
}

}  // namespace
