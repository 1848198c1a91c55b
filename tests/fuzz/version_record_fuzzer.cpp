// The version record reader on any bytes: no crash, no sanitizer report, a
// refused record leaves its fields alone, and what is written reads back.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "release/version_files.h"

namespace {
constexpr int32_t kUnread = 0x5A5A5A5A;
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  int32_t first = kUnread;
  int32_t second = kUnread;
  const bool read = ParseVersionRecord(text, &first, &second);
  if (!read && (first != kUnread || second != kUnread)) abort();

  int32_t againFirst = ~first;
  int32_t againSecond = ~second;
  if (!ParseVersionRecord(FormatVersionRecord(first, second), &againFirst, &againSecond)) abort();
  if (againFirst != first || againSecond != second) abort();
  return 0;
}
