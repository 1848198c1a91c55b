#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "platform/code_page.h"
#include "platform/system.h"
#include "tests/support/platform_contract.h"

namespace {

using SystemContractTest = PlatformContractTest;

constexpr uint64_t kFileTimeUnitsPerMillisecond = 10000;
// 2020-01-01 and 2100-01-01 as file times: any clock that is set reads
// between them.
constexpr uint64_t kYear2020 = 132223104000000000ULL;
constexpr uint64_t kYear2100 = 157766880000000000ULL;
// The system clock moves in ticks of up to 15.625 ms on Windows.
constexpr uint64_t kClockTickUnits = 156250;

TEST_F(SystemContractTest, ProcessesAreListedByTheirFileNames) {
  std::vector<std::u16string> names;
  ASSERT_TRUE(platform::ListProcessNames(&names));
  struct Case {
    std::u16string name;
    bool listed;
  };
  const Case cases[] = {
      {OwnProcessName(), true},
      {u"Velkaris32.exe", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.name));
    EXPECT_EQ(std::count(names.begin(), names.end(), c.name), c.listed ? 1 : 0);
  }
  for (const std::u16string& name : names) {
    EXPECT_EQ(name.find_first_of(u"\\/"), std::u16string::npos) << testing::PrintToString(name);
  }
}

// Both clocks, the date's and the monotonic one of deadlines and waits.
TEST_F(SystemContractTest, TheClockReadsTheDateAndMovesOnWithEverySleep) {
  for (const uint32_t milliseconds : {0u, 1u, 100u}) {
    SCOPED_TRACE(milliseconds);
    const uint64_t before = platform::SystemTimeAsFileTime();
    const uint64_t monotonicBefore = platform::MonotonicMilliseconds();
    platform::Sleep(milliseconds);
    const uint64_t after = platform::SystemTimeAsFileTime();
    const uint64_t monotonicAfter = platform::MonotonicMilliseconds();
    EXPECT_GT(before, kYear2020);
    EXPECT_LT(after, kYear2100);
    // Never back, and at least the time slept but for one tick of the clock.
    EXPECT_GE(after, before);
    EXPECT_GE(after - before + kClockTickUnits, milliseconds * kFileTimeUnitsPerMillisecond);
    EXPECT_GE(monotonicAfter, monotonicBefore);
    EXPECT_GE((monotonicAfter - monotonicBefore) * kFileTimeUnitsPerMillisecond + kClockTickUnits,
              milliseconds * kFileTimeUnitsPerMillisecond);
  }
}

// A Traditional Chinese Windows: 許, 功 and 蓋 end in the byte of "\", 四
// in that of "|". Only exact forms convert, either way. Names are one file
// when their upper cases, by the file system's table, are the same.
TEST_F(SystemContractTest, ListNamesConvertExactlyInTheAnsiCodePage) {
  if (!UseAnsiCodePage(950)) GTEST_SKIP() << "not code page 950 (under Wine: LANG=zh_TW.UTF-8)";
  struct Case {
    const char* what;
    std::u16string text;  // none: only the bytes are tried
    std::string bytes;    // none: only the text is tried
    bool exact;
    std::u16string upper = {};  // none: not tried
  };
  const Case cases[] = {
      {"second bytes of \\", u"\u8A31\u529F\u84CB.txt", "\xB3\x5C\xA5\x5C\xBB\x5C.txt", true},
      {"a second byte of |", u"locales\\\u56DB.txt", "locales\\\xA5\x7C.txt", true},
      {"ASCII", u"readme.txt", "readme.txt", true, u"README.TXT"},
      {"a Greek letter, its second byte that of \\", u"\u03B1.txt", "\xA3\x5C.txt", true,
       u"\u0391.TXT"},
      {"a full-width letter", u"\uFF41\u8A31", "\xA2\xE9\xB3\x5C", true, u"\uFF21\u8A31"},
      {"no form in the code page", u"caf\u00E9.txt", "", false},
      {"a lone surrogate", u"\xDCB3.txt", "", false},
      {"a lone first byte", u"", "a\xB3", false},
      {"an undefined pair", u"", "\xA3\xFE.txt", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::string bytes;
    std::u16string text;
    if (!c.text.empty()) {
      EXPECT_EQ(platform::EncodeAnsi(c.text, &bytes), c.exact);
      if (c.exact) {
        EXPECT_EQ(bytes, c.bytes);
      }
    }
    if (!c.bytes.empty()) {
      EXPECT_EQ(platform::DecodeAnsi(c.bytes, &text), c.exact);
      if (c.exact) {
        EXPECT_EQ(text, c.text);
      }
    }
    std::u16string upper;
    if (!c.upper.empty()) {
      EXPECT_TRUE(platform::UpperCaseAsFileSystem(c.text, &upper));
      EXPECT_EQ(upper, c.upper);
    }
  }
}

TEST_F(SystemContractTest, SystemLibrariesLoadFromTheSystemFolder) {
  if (!MachineLoadsLibraries()) GTEST_SKIP() << "the simulated machine loads no DLLs";
  using Load = LibraryLoad;
  struct Case {
    const char16_t* dll;
    const char* procedure;
    Load load;
  };
  const Case cases[] = {
      {u"bcrypt.dll", "BCryptVerifySignature", Load::kResolved},
      {u"gdiplus.dll", "GdipDrawImageRectI", Load::kResolved},
      {u"bcrypt.dll", "NoSuchProcedure", Load::kLoaded},
      {u"nosuchlibrary.dll", "NoSuchProcedure", Load::kNotLoaded},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(std::u16string(c.dll)));
    EXPECT_EQ(LoadFromSystemFolder(c.dll, c.procedure), c.load);
  }
}

}  // namespace
