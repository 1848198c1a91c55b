#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <string>
#include <vector>

#include "platform/registry.h"
#include "tests/support/platform_contract.h"

namespace {

using RegistryContractTest = PlatformContractTest;

constexpr uint32_t kRegBinary = 3;
constexpr uint32_t kRegDword = 4;
constexpr char16_t kKeyClass[] = u"REG_";
// What the install folder reads its record into.
constexpr uint32_t kPathBufferBytes = platform::kMaxPath * sizeof(char16_t);
constexpr uint32_t kSmallBufferBytes = 64;
// Room past the largest buffer, to see what a read leaves behind its data.
constexpr size_t kReadAreaBytes = kPathBufferBytes + 16;
constexpr uint8_t kUntouched = 0xA5;

uint32_t BytesOf(const std::u16string& text) {
  return static_cast<uint32_t>(text.size() * sizeof(char16_t));
}

bool WriteText(const platform::RegistryKey& key, const std::u16string& name,
               const std::u16string& text) {
  return platform::SetValue(key, name, platform::kRegSz,
                            reinterpret_cast<const uint8_t*>(text.c_str()), BytesOf(text) + 2);
}

// The value as a terminated text; empty when it cannot be read.
std::u16string ReadText(const platform::RegistryKey& key, const std::u16string& name) {
  std::array<char16_t, platform::kMaxPath> buffer{};
  uint32_t type = 0;
  uint32_t bytes = sizeof(buffer) - sizeof(char16_t);
  if (!platform::QueryValue(key, name, &type, reinterpret_cast<uint8_t*>(buffer.data()), &bytes)) {
    return {};
  }
  return buffer.data();
}

TEST_F(RegistryContractTest, KeysAndValueNamesIgnoreLetterCase) {
  std::u16string upperKey = kContractKey;
  for (char16_t& c : upperKey) {
    if (c >= u'a' && c <= u'z') c = char16_t(c - 32);
  }
  platform::RegistryKey key;
  EXPECT_FALSE(platform::OpenMachineKey(kContractKey, &key));
  ASSERT_TRUE(platform::CreateMachineKey(kContractKey, kKeyClass, &key));
  ASSERT_TRUE(WriteText(key, u"Path", u"D:\\Old"));
  ASSERT_TRUE(WriteText(key, u"PATH", u"D:\\New"));  // the same value again

  platform::RegistryKey opened;
  ASSERT_TRUE(platform::OpenMachineKey(upperKey, &opened));
  EXPECT_EQ(ReadText(opened, u"path"), u"D:\\New");
  uint8_t data[8] = {};
  uint32_t type = 0;
  uint32_t bytes = sizeof(data);
  EXPECT_FALSE(platform::QueryValue(opened, u"Missing", &type, data, &bytes));

  // Creating a key that exists opens it, values and all.
  platform::RegistryKey created;
  ASSERT_TRUE(platform::CreateMachineKey(upperKey, kKeyClass, &created));
  EXPECT_EQ(ReadText(created, u"Path"), u"D:\\New");
}

TEST_F(RegistryContractTest, ValuesReadBackAsStoredSaveForTheirTerminator) {
  const std::u16string longest = u"D:\\" + std::u16string(256, u'a');  // 259 units
  const std::u16string tooLong = longest + u"b";
  struct Case {
    const char* what;
    uint32_t type;
    std::u16string written;  // in memory, followed by the string's NUL
    uint32_t bytes;          // of `written`, handed to SetValue
    uint32_t capacity;       // of the buffer read into
    bool read;
    uint32_t stored;         // bytes read back: `written` and then its NUL
    bool nulAfter;           // the read puts a NUL just past them
  };
  const Case cases[] = {
      {"text and terminator", platform::kRegSz, u"D:\\Games", 18, kSmallBufferBytes, true, 18,
       false},
      // A terminator left out of the count but there in memory is stored.
      {"text counted without the terminator after it", platform::kRegSz, u"D:\\Games", 16,
       kSmallBufferBytes, true, 18, false},
      {"text with no terminator", platform::kRegSz, u"D:\\GamesX", 16, kSmallBufferBytes, true,
       16, true},
      {"text with no terminator, filling the buffer", platform::kRegSz, u"D:\\GamesX", 16, 16,
       true, 16, false},
      {"odd byte count", platform::kRegSz, u"DX", 3, kSmallBufferBytes, true, 3, true},
      {"empty", platform::kRegSz, u"", 0, kSmallBufferBytes, true, 0, false},
      {"expandable text, not expanded", platform::kRegExpandSz, u"%SystemRoot%\\Games", 38,
       kSmallBufferBytes, true, 38, false},
      {"expandable text counted without its terminator", platform::kRegExpandSz,
       u"%SystemRoot%", 24, kSmallBufferBytes, true, 26, false},
      {"binary counted without the NUL after it", kRegBinary, u"D:\\Games", 16,
       kSmallBufferBytes, true, 16, false},
      {"number", kRegDword, std::u16string(u"\x2a\0", 2), 4, kSmallBufferBytes, true, 4, false},
      {"259 units and terminator, in the path buffer", platform::kRegSz, longest,
       BytesOf(longest) + 2, kPathBufferBytes, true, kPathBufferBytes, false},
      {"260 units and terminator, in the path buffer", platform::kRegSz, tooLong,
       BytesOf(tooLong) + 2, kPathBufferBytes, false, 0, false},
      {"260 units and no terminator, in the path buffer", platform::kRegSz, tooLong + u"c",
       BytesOf(tooLong), kPathBufferBytes, true, kPathBufferBytes, false},
  };
  platform::RegistryKey key;
  ASSERT_TRUE(platform::CreateMachineKey(kContractKey, kKeyClass, &key));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_TRUE(platform::SetValue(key, u"Value", c.type,
                                   reinterpret_cast<const uint8_t*>(c.written.c_str()), c.bytes));
    std::vector<uint8_t> area(kReadAreaBytes, kUntouched);
    constexpr uint32_t kNoType = 0xFFFF;
    uint32_t type = kNoType;
    uint32_t bytes = c.capacity;
    ASSERT_EQ(platform::QueryValue(key, u"Value", &type, area.data(), &bytes), c.read);
    if (!c.read) {
      // A failed read reports nothing.
      EXPECT_EQ(type, kNoType);
      EXPECT_EQ(bytes, c.capacity);
      continue;
    }
    EXPECT_EQ(type, c.type);
    ASSERT_EQ(bytes, c.stored);
    EXPECT_EQ(std::memcmp(area.data(), c.written.c_str(), c.stored), 0);
    const uint8_t after = c.nulAfter ? 0 : kUntouched;
    EXPECT_EQ(area[c.stored], after);
    EXPECT_EQ(area[c.stored + 1], after);
  }
}

}  // namespace
