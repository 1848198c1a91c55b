// The file version list reader and the name rule on any bytes: no crash, no
// sanitizer report, the stream reader agrees with the text reader, every list
// read can be written, and what is written reads back the same.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "patcher/version_files.h"
#include "tests/fuzz/fuzz_stream.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  FileVersionMap map;
  ParseFileVersions(text, &map);

  const auto stream = OpenInput(data, size);
  if (!stream) abort();
  FileVersionMap fromStream;
  ReadFileVersions(stream.get(), &fromStream);
  if (fromStream != map) abort();

  // The name rule sees every name a list can hold.
  for (const auto& entry : map) static_cast<void>(IsSafeListName(entry.first));

  std::string written;
  if (!FormatFileVersions(map, &written)) abort();
  FileVersionMap again;
  ParseFileVersions(written, &again);
  if (again != map) abort();
  return 0;
}
