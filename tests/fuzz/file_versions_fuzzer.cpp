// The file version list reader and the name rule on any bytes: no crash, no
// sanitizer report, the stream reader agrees with the text reader, every list
// read whose names are within the limit can be written, and what is written
// reads back the same.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "release/version_files.h"
#include "tests/fuzz/fuzz_stream.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  FileVersionMap map;
  const bool read = ParseFileVersions(text, &map);

  const auto stream = OpenInput(data, size);
  if (!stream) abort();
  FileVersionMap fromStream;
  if (ReadFileVersions(stream.get(), &fromStream) != read || fromStream != map) abort();
  if (!read && !map.empty()) abort();

  // The name rule sees every name a list can hold; a name cut at the limit
  // is never safe and cannot be written.
  bool cut = false;
  for (const auto& entry : map) {
    const bool tooLong = entry.first.size() > kMaxListNameLength;
    if (tooLong && IsSafeListName(entry.first)) abort();
    cut = cut || tooLong;
  }

  std::string written;
  if (FormatFileVersions(map, &written) == cut) abort();
  if (cut) return 0;
  FileVersionMap again;
  if (!ParseFileVersions(written, &again) || again != map) abort();
  return 0;
}
