#include "patcher/release_check.h"

#include <array>
#include <optional>

#include "net/file_downloader.h"
#include "patcher/patcher_fetch.h"
#include "patcher/release_files.h"
#include "patcher/release_key.h"
#include "patcher/version_manager.h"
#include "platform/files.h"

namespace {

constexpr size_t kHashChunkBytes = 64 * 1024;

struct RunState {
  std::optional<platform::FileDigest> record;
  std::optional<ReleaseManifest> manifest;
  // The patcher in place was checked as it streamed in this run.
  bool patcherFetched = false;
};
RunState g_run;

// The whole file if it holds at most `limit` bytes.
bool ReadBoundedFile(const std::u16string& name, size_t limit, std::string* bytes) {
  const platform::UniqueFile file = platform::OpenFile(name, "rb");
  if (!file) return false;
  bytes->clear();
  std::array<char, kHashChunkBytes> chunk;
  while (bytes->size() <= limit) {
    const size_t read = std::fread(chunk.data(), 1, chunk.size(), file.get());
    if (read == 0) break;
    bytes->append(chunk.data(), read);
  }
  return !std::ferror(file.get()) && bytes->size() <= limit;
}

bool ReadSignedFiles(const std::u16string& manifestName, const std::u16string& signatureName,
                     ReleaseManifest* manifest) {
  std::string text;
  std::string signature;
  return ReadBoundedFile(manifestName, kMaxReleaseManifestBytes, &text) &&
         ReadBoundedFile(signatureName, platform::kP256SignatureBytes, &signature) &&
         ReadSignedManifest(text, signature, *ReleaseKey(), manifest);
}

void RemoveServerCopies() {
  platform::RemoveFile(kReleaseManifestCopyName);
  platform::RemoveFile(kReleaseSignatureCopyName);
}

// The server's manifest and signature, checked; the copies stay on disk
// only when they are good.
bool FetchSignedManifest(ReleaseManifest* manifest) {
  FileDownloader& downloader = FileDownloader::Instance();
  const bool good =
      downloader.DownloadFile(kReleaseManifestName, kReleaseManifestCopyName) &&
      downloader.DownloadFile(kReleaseSignatureName, kReleaseSignatureCopyName) &&
      ReadSignedFiles(kReleaseManifestCopyName, kReleaseSignatureCopyName, manifest);
  if (!good) RemoveServerCopies();
  return good;
}

bool HashFile(const std::u16string& name, platform::FileDigest* digest) {
  const platform::UniqueFile file = platform::OpenFile(name, "rb");
  if (!file) return false;
  platform::Sha256 hash;
  std::array<char, kHashChunkBytes> chunk;
  digest->size = 0;
  for (;;) {
    const size_t read = std::fread(chunk.data(), 1, chunk.size(), file.get());
    if (read == 0) break;
    if (!hash.Update(chunk.data(), read)) return false;
    digest->size += read;
  }
  return !std::ferror(file.get()) && hash.Finish(&digest->sha256);
}

bool Matches(const ReleaseManifest& manifest, std::string_view serverPath,
             const platform::FileDigest& digest) {
  const auto entry = manifest.entries.find(std::string(serverPath));
  return entry != manifest.entries.end() && entry->second == digest;
}

std::string ServerPath(std::u16string_view name) {
  std::string path;
  // A name no server path can hold matches no entry.
  if (!ServerPathOfListName(name, &path)) path.clear();
  return path;
}

}  // namespace

bool ReleaseSigned() { return ReleaseKey() != nullptr; }

void NoteServerRecord(const platform::FileDigest& record) {
  g_run = RunState{};
  g_run.record = record;
}

bool FetchRunManifest() {
  if (g_run.manifest) return true;
  ReleaseManifest manifest;
  if (!g_run.record || !FetchSignedManifest(&manifest)) return false;
  // Signed for another record (an older or newer release): not this one's.
  if (!Matches(manifest, ServerPath(kVersionRecordName), *g_run.record)) {
    RemoveServerCopies();
    return false;
  }
  g_run.manifest = std::move(manifest);
  return true;
}

const ReleaseManifest* RunManifest() { return g_run.manifest ? &*g_run.manifest : nullptr; }

bool MatchesRunManifest(std::u16string_view serverPath, const platform::FileDigest& digest) {
  return g_run.manifest && Matches(*g_run.manifest, ServerPath(serverPath), digest);
}

bool LauncherCopyMatchesRelease(const platform::FileDigest& digest) {
  ReleaseManifest manifest;
  if (!FetchSignedManifest(&manifest)) return false;
  RemoveServerCopies();
  return Matches(manifest, ServerPath(kLauncherFileName), digest);
}

bool KeepRunManifest() {
  g_run.patcherFetched = true;
  return ReplaceWithRetry(kReleaseManifestCopyName, kReleaseManifestName, true) &&
         ReplaceWithRetry(kReleaseSignatureCopyName, kReleaseSignatureName, true);
}

bool PatcherMatchesRelease() {
  // Not read a second time right after it was checked on the way in.
  if (g_run.patcherFetched) return true;
  ReleaseManifest kept;
  const ReleaseManifest* trusted = RunManifest();
  if (trusted == nullptr && ReadSignedFiles(kReleaseManifestName, kReleaseSignatureName, &kept)) {
    trusted = &kept;
  }
  if (trusted == nullptr) {
    if (!FetchRunManifest()) FailServerRecordDownload();
    trusted = RunManifest();
  }
  platform::FileDigest digest;
  return HashFile(kPatcherFileName, &digest) &&
         Matches(*trusted, ServerPath(kPatcherFileName), digest);
}
