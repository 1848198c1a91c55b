#include "fs/file_services.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::u16string Letters(size_t count) { return std::u16string(count, u'x'); }

TEST(AnsiToWide, KeepsTheWholeTextAroundTheLocalBufferLimit) {
  // 511 characters need 512 with the terminator: the local buffer; 512 need
  // 513: converted straight into the string.
  for (const size_t length : {size_t{0}, size_t{1}, size_t{511}, size_t{512}, size_t{4000}}) {
    const std::string text(length, 'x');
    const std::u16string wide = AnsiToWide(text);
    EXPECT_EQ(wide.size(), length);
    EXPECT_EQ(wide, Letters(length));
  }
}

TEST(AnsiToWide, StopsAtTheFirstNul) {
  EXPECT_EQ(AnsiToWide(std::string("abc\0def", 7)), u"abc");
}

TEST(AnsiToWideFallback, KeepsTheWholeTextAroundTheInlineBufferLimit) {
  for (const size_t length : {size_t{0}, size_t{127}, size_t{128}, size_t{129}, size_t{2000}}) {
    const std::string text(length, 'x');
    EXPECT_EQ(AnsiToWideFallback(text.c_str()), Letters(length)) << length;
  }
}

}  // namespace
