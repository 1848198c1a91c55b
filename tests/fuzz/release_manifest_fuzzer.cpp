// The signed release manifest's reader on any bytes (it reads them only
// once the signature holds, but the signer's tool may have a fault): no
// crash, no sanitizer report, and what it accepts it writes back in a form
// that reads the same, with the record, list and patcher entries present.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "release/release_manifest.h"
#include "tests/support/test_code_page.h"

namespace {

// As a launcher on a Traditional Chinese Windows reads the paths.
const PathReading kPlayers = Cp950Reading();

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  ReleaseManifest manifest;
  if (ParseReleaseManifest(text, kPlayers, &manifest) != ReleaseManifestRead::kRead) return 0;
  if (manifest.entries.count("patcher_version") == 0) abort();
  // Every path names a file below the install folder.
  for (const auto& [path, digest] : manifest.entries) {
    if (!IsSafeListNameText(ListNameOfServerPath(path, kPlayers.decode))) abort();
  }
  ReleaseManifest again;
  if (ParseReleaseManifest(FormatReleaseManifest(manifest), kPlayers, &again) !=
          ReleaseManifestRead::kRead ||
      again != manifest) {
    abort();
  }
  // Any list against it: no crash.
  FileVersionMap list;
  ParseFileVersions(text, &list);
  static_cast<void>(ListMatchesManifest(list, manifest));
  return 0;
}
