// The version record reader on any bytes: no crash, no sanitizer report, the
// stream reader agrees with the text reader, and what is written reads back.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "patcher/version_files.h"
#include "tests/fuzz/fuzz_stream.h"

namespace {
constexpr int32_t kUnread = 0x5A5A5A5A;
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  int32_t first = kUnread;
  int32_t second = kUnread;
  ParseVersionRecord(text, &first, &second);

  const auto stream = OpenInput(data, size);
  if (!stream) abort();
  int32_t streamFirst = kUnread;
  int32_t streamSecond = kUnread;
  ReadVersionRecord(stream.get(), &streamFirst, &streamSecond);
  if (streamFirst != first || streamSecond != second) abort();

  int32_t againFirst = ~first;
  int32_t againSecond = ~second;
  ParseVersionRecord(FormatVersionRecord(first, second), &againFirst, &againSecond);
  if (againFirst != first || againSecond != second) abort();
  return 0;
}
