#include "patcher/release_install.h"

#include <array>
#include <set>

#include "patcher/checked_files.h"
#include "patcher/release_key.h"
#include "patcher/release_record.h"
#include "platform/crypto.h"
#include "platform/system.h"
#include "release/release_files.h"
#include "release/release_manifest.h"

namespace {

constexpr size_t kHashChunkBytes = 64 * 1024;

// The file's size and SHA-256, read through the handle; false past `limit`
// bytes, which cannot be the signed file.
bool HashHeldFile(const platform::HeldFile& file, uint64_t limit, platform::FileDigest* digest) {
  platform::Sha256 hash;
  std::array<char, kHashChunkBytes> chunk;
  digest->size = 0;
  for (;;) {
    size_t read = 0;
    if (!platform::ReadHeldFile(file, chunk.data(), chunk.size(), &read)) return false;
    if (read == 0) break;
    digest->size += read;
    if (digest->size > limit || !hash.Update(chunk.data(), read)) return false;
  }
  return hash.Finish(&digest->sha256);
}

// The files the release puts beside the patcher for it: all but the
// launcher's own (the record, the list, the launcher copy).
bool IsInstalledFile(const std::string& path) {
  for (const char16_t* own : {kVersionRecordName, kFileListName, kLauncherFileName}) {
    std::string ownPath;
    if (ServerPathOfListName(own, &ownPath) && FoldAscii(path) == FoldAscii(ownPath)) return false;
  }
  return true;
}

// The file is the release's: unchanged since it was last found so with this
// digest, or its bytes hash to it now (read while held, so that the stamp
// kept is that of the bytes read).
bool IsReleaseFile(const std::u16string& name, const platform::FileDigest& digest,
                   const CheckedFile* last, CheckedFile* found) {
  found->sha256 = digest.sha256;
  if (!platform::QueryFileStamp(name, &found->stamp) || found->stamp.size != digest.size) {
    return false;
  }
  if (last != nullptr && *last == *found) return true;
  const platform::HeldFile held = platform::HoldFile(name);
  platform::FileDigest actual;
  return held && platform::QueryFileStamp(name, &found->stamp) &&
         HashHeldFile(held, digest.size, &actual) && actual == digest;
}

bool HoldSignedPatcher(ReleaseRun& run, platform::HeldFile* held) {
  const ReleaseManifest* manifest = RunManifest(run);
  if (manifest == nullptr) return false;
  const platform::FileDigest* entry = FindEntry(*manifest, kPatcherFileName);
  platform::HeldFile patcher = platform::HoldFile(kPatcherFileName);
  platform::FileDigest digest;
  if (entry == nullptr || !patcher || !HashHeldFile(patcher, entry->size, &digest) ||
      digest != *entry) {
    return false;
  }
  KeepRunRelease(run);
  *held = std::move(patcher);
  return true;
}

}  // namespace

std::u16string LocalNameOf(const std::string& serverPath) {
  return ListNameOfServerPath(serverPath, platform::DecodeAnsi);
}

FetchResult FindDamagedFiles(ReleaseRun& run, std::vector<std::u16string>* damaged) {
  if (!WithReleaseKey()) return FetchResult::kFetched;
  const ReleaseManifest* manifest = RunManifest(run);
  if (manifest == nullptr) return FetchResult::kFailed;
  const CheckedFiles checked = ReadCheckedFiles();
  CheckedFiles known = checked;
  for (const auto& [path, placed] : run.placedFiles) known.insert_or_assign(path, placed);
  CheckedFiles found;
  for (const auto& [path, digest] : manifest->entries) {
    if (!IsInstalledFile(path)) continue;
    const auto last = known.find(path);
    const std::u16string name = LocalNameOf(path);
    CheckedFile file;
    if (IsReleaseFile(name, digest, last == known.end() ? nullptr : &last->second, &file)) {
      found.emplace(path, file);
    } else {
      damaged->push_back(name);
    }
  }
  // Not written again while nothing changed: a start with nothing damaged
  // only reads.
  if (found != checked) WriteCheckedFiles(found);
  return FetchResult::kFetched;
}

namespace {

// The folder and every folder above it, up to its drive root.
std::vector<std::u16string> FolderAndAbove(const std::u16string& folder) {
  std::vector<std::u16string> folders;
  for (size_t end = folder.size(); end > 0; --end) {
    const bool boundary = end == folder.size() || IsPathSeparator(folder[end]);
    if (boundary && !IsPathSeparator(folder[end - 1])) folders.push_back(folder.substr(0, end));
  }
  return folders;
}

// The installed file, and the folders between the install folder and it.
std::vector<std::u16string> FileAndFoldersBelow(const std::u16string& name) {
  std::vector<std::u16string> paths = {name};
  for (size_t end = name.size(); end > 0; --end) {
    if (IsPathSeparator(name[end - 1])) paths.push_back(name.substr(0, end - 1));
  }
  return paths;
}

}  // namespace

uint32_t ClaimInstall(ReleaseRun& run, const std::u16string& installFolder, bool withParent) {
  if (!WithReleaseKey()) return platform::kErrorSuccess;
  for (const std::u16string& folder : FolderAndAbove(installFolder)) {
    bool link = false;
    if (!platform::QueryReparsePoint(folder, &link) || link) {
      return platform::kErrorReparsePointEncountered;
    }
  }
  const ReleaseManifest* manifest = RunManifest(run);
  if (manifest == nullptr) return platform::kErrorAccessDenied;
  std::vector<std::u16string> folders = {installFolder};
  if (withParent) folders.push_back(platform::RemoveFileSpec(installFolder));
  std::set<std::u16string> below;
  for (const auto& entry : manifest->entries) {
    if (!IsInstalledFile(entry.first)) continue;
    for (std::u16string& path : FileAndFoldersBelow(LocalNameOf(entry.first))) {
      if (platform::PathExists(path)) below.insert(std::move(path));
    }
  }
  folders.insert(folders.end(), below.begin(), below.end());
  for (const std::u16string& path : folders) {
    const uint32_t error = platform::ProtectExistingPath(path);
    if (error != platform::kErrorSuccess) return error;
  }
  return platform::kErrorSuccess;
}

bool PatcherProgramPath(const platform::HeldFile& held, const std::u16string& installFolder,
                        std::u16string* path) {
  if (!WithReleaseKey()) {
    *path = installFolder + u"/" + kPatcherFileName;
    return true;
  }
  return platform::HeldFilePath(held, path);
}

bool HoldPatcher(ReleaseRun& run, platform::HeldFile* held) {
  if (!WithReleaseKey()) return static_cast<bool>(platform::OpenFile(kPatcherFileName, "rb"));
  return HoldSignedPatcher(run, held);
}

bool HoldUpdatedPatcher(ReleaseRun& run, platform::HeldFile* held) {
  return !WithReleaseKey() || HoldSignedPatcher(run, held);
}
