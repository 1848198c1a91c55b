#include "patcher/release_fetch.h"

#include <algorithm>
#include <array>
#include <set>
#include <string_view>

#include "fs/file_services.h"
#include "patcher/checked_files.h"
#include "net/file_downloader.h"
#include "patcher/release_key.h"
#include "patcher/release_record.h"
#include "patcher/release_transfer.h"
#include "platform/crypto.h"
#include "platform/system.h"
#include "release/release_files.h"
#include "release/release_manifest.h"

namespace {

constexpr size_t kHashChunkBytes = 64 * 1024;

bool Signed() { return ReleaseKey() != nullptr; }

// Where a file of the manifest lies in the install folder: its server path's
// bytes read in the players' code page, "/" turned back into "\\".
std::u16string LocalNameOf(const std::string& serverPath) {
  return ListNameOfServerPath(serverPath, platform::DecodeAnsi);
}

// A file that is not the one the run's manifest names: the next release
// may be on its way, unless the update started over for it once already.
FetchResult Mismatch(const ReleaseRun& run) {
  return run.startedOver ? FetchResult::kFailed : FetchResult::kSwitched;
}

// With a key the list is held to its entry in the manifest: its size, and
// bytes that hash to it (else the next host is asked), into its held copy.
FetchResult FetchPlainList(ReleaseRun& run, const platform::FileDigest* entry,
                           std::FILE* staging, FileVersionMap* list, std::string* text) {
  TransferRequest request(kFileListName, kFileListCopyName, kMaxListBytes);
  request.staging = staging;
  if (entry != nullptr) {
    request.byteLimit = entry->size;
    request.accept = [entry](const platform::FileDigest& served) { return served == *entry; };
  }
  const Transferred transferred = Transfer(run, request);
  if (transferred == Transferred::kRefused) return Mismatch(run);
  if (transferred != Transferred::kYes) return FetchResult::kFailed;
  if (!ReadWholeFile(kFileListCopyName, kMaxListBytes, text)) return FetchResult::kUnreadable;
  return ParseFileVersions(*text, list, platform::DecodeAnsi) ? FetchResult::kFetched
                                                             : FetchResult::kFailed;
}

// A listed name that is another's staging name: the staged update of the
// other would take its place.
bool NamesAStagingCopy(const FileVersionMap& list) {
  const std::u16string suffix = FoldAscii(std::u16string(kFetchSuffix));
  for (const auto& entry : list) {
    const std::u16string name = FoldAscii(entry.first);
    if (name.size() > suffix.size() && name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0) {
      return true;
    }
  }
  return false;
}

FetchResult FetchSignedList(ReleaseRun& run, StagedFiles& staged, FileVersionMap* list) {
  std::FILE* const held = staged.Hold(kFileListCopyName, platform::StagingStart::kEmpty);
  const ReleaseManifest* manifest = RunManifest(run);
  if (held == nullptr || manifest == nullptr) return FetchResult::kFailed;
  const platform::FileDigest* entry = FindEntry(*manifest, kFileListName);
  if (entry == nullptr) return Mismatch(run);
  std::string text;
  const FetchResult fetched = FetchPlainList(run, entry, held, list, &text);
  if (fetched != FetchResult::kFetched) return fetched;
  if (NamesAStagingCopy(*list)) return FetchResult::kFailed;
  // The bytes read back must still be the ones that hashed to the entry.
  if (*entry != DigestOfBytes(text) ||
      !ListMatchesManifest(*list, *manifest, platform::EncodeAnsi)) {
    return Mismatch(run);
  }
  // What the rename puts in place is what was checked, written from memory
  // into the held copy, not the disk copy that was read.
  const bool rewritten = platform::TruncateStream(held) &&
                         std::fwrite(text.data(), 1, text.size(), held) == text.size() &&
                         std::fflush(held) == 0;
  return rewritten ? FetchResult::kFetched : FetchResult::kFailed;
}

// "HEX SIZE SERVER_PATH" a line: the entry a staging copy was begun for.
// Server paths hold no blank; the last line of a path counts.
constexpr char kNoteSeparator = ' ';
constexpr char kNoteEnd = '\n';

std::string NoteOf(const platform::FileDigest& entry) {
  return ToHex(entry.sha256) + kNoteSeparator + std::to_string(entry.size);
}

// The notes of a killed run, by server path; the copies they name, and the
// notes themselves, go with the update that reads them.
void ReadStagingNotes(ReleaseRun& run, StagedFiles& staged) {
  run.stagingNotes.emplace();
  staged.Add(kStagingNotesName);
  std::string notes;
  if (!ReadWholeFile(kStagingNotesName, kMaxListBytes, &notes)) return;
  for (size_t start = 0; start < notes.size();) {
    const size_t end = std::min(notes.find(kNoteEnd, start), notes.size());
    const std::string_view line = std::string_view(notes).substr(start, end - start);
    const size_t pathStart = line.rfind(kNoteSeparator);
    if (pathStart != std::string_view::npos) {
      const std::string path(line.substr(pathStart + 1));
      (*run.stagingNotes)[path] = line.substr(0, pathStart);
      staged.Add(LocalNameOf(path) + kFetchSuffix);
    }
    start = end + 1;
  }
}

// The staging copy, held: one that a killed run left behind is continued
// only when it was begun for this same entry; any other starts empty. The
// entry is noted before a byte of it is fetched.
std::FILE* HoldStagingCopy(ReleaseRun& run, StagedFiles& staged, const std::string& serverPath,
                           const platform::FileDigest& entry, const std::u16string& stagingName) {
  if (!run.stagingNotes) ReadStagingNotes(run, staged);
  const std::string note = NoteOf(entry);
  const auto beganFor = run.stagingNotes->find(serverPath);
  const bool continued = beganFor != run.stagingNotes->end() && beganFor->second == note;
  std::FILE* const held = staged.Hold(
      stagingName, continued ? platform::StagingStart::kKeepBytes : platform::StagingStart::kEmpty);
  (*run.stagingNotes)[serverPath] = note;
  if (platform::UniqueFile notes = platform::OpenFile(kStagingNotesName, "ab")) {
    const std::string line = note + kNoteSeparator + serverPath + kNoteEnd;
    std::fwrite(line.data(), 1, line.size(), notes.get());
  }
  return held;
}

// Held to its manifest size and checked as it streams in; a transfer cut
// short is continued, from the next host if need be. A download that fails
// leaves nothing behind.
FetchResult FetchSignedFile(ReleaseRun& run, StagedFiles& staged, const std::u16string& serverPath,
                            const std::u16string& localName) {
  staged.Add(localName);
  const ReleaseManifest* manifest = RunManifest(run);
  if (manifest == nullptr) return FetchResult::kFailed;
  const platform::FileDigest* entry = FindEntry(*manifest, serverPath, platform::EncodeAnsi);
  std::string path;
  if (entry == nullptr || !ServerPathOfListName(serverPath, &path, platform::EncodeAnsi)) {
    return Mismatch(run);
  }
  TransferRequest request(serverPath, localName, entry->size);
  request.staging = HoldStagingCopy(run, staged, path, *entry, localName);
  if (request.staging == nullptr) return FetchResult::kFailed;
  request.resumable = true;
  request.accept = [entry](const platform::FileDigest& served) { return served == *entry; };
  const Transferred transferred = Transfer(run, request);
  if (transferred == Transferred::kYes) return FetchResult::kFetched;
  platform::TruncateStream(request.staging);
  return transferred == Transferred::kRefused ? Mismatch(run) : FetchResult::kFailed;
}

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

FetchResult FetchFileList(ReleaseRun& run, StagedFiles& staged, FileVersionMap* list) {
  std::string text;
  if (!Signed()) return FetchPlainList(run, nullptr, nullptr, list, &text);
  return FetchSignedList(run, staged, list);
}

FetchResult FetchReleaseFile(ReleaseRun& run, StagedFiles& staged, const std::u16string& serverPath,
                             const std::u16string& localName) {
  if (!Signed()) {
    return Transfer(run, TransferRequest(serverPath, localName)) == Transferred::kYes
               ? FetchResult::kFetched
               : FetchResult::kFailed;
  }
  return FetchSignedFile(run, staged, serverPath, localName);
}

FetchResult FetchListedFile(ReleaseRun& run, StagedFiles& staged, const std::u16string& serverPath,
                            const std::u16string& name) {
  if (!Signed()) return FetchReleaseFile(run, staged, serverPath, name);
  const std::u16string staging = name + kFetchSuffix;
  const FetchResult fetched = FetchSignedFile(run, staged, serverPath, staging);
  if (fetched != FetchResult::kFetched) return fetched;
  return MoveIntoPlace(staging, name, true) ? FetchResult::kFetched : FetchResult::kFailed;
}

FetchResult FindDamagedFiles(ReleaseRun& run, std::vector<std::u16string>* damaged) {
  if (!Signed()) return FetchResult::kFetched;
  const ReleaseManifest* manifest = RunManifest(run);
  if (manifest == nullptr) return FetchResult::kFailed;
  const CheckedFiles checked = ReadCheckedFiles();
  CheckedFiles found;
  for (const auto& [path, digest] : manifest->entries) {
    if (!IsInstalledFile(path)) continue;
    const auto last = checked.find(path);
    const std::u16string name = LocalNameOf(path);
    CheckedFile file;
    if (IsReleaseFile(name, digest, last == checked.end() ? nullptr : &last->second, &file)) {
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

bool IsPathSeparator(char16_t c) { return c == kListSeparator || c == kServerPathSeparator; }

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
  if (!Signed()) return platform::kErrorSuccess;
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
  if (!Signed()) {
    *path = installFolder + u"/" + kPatcherFileName;
    return true;
  }
  return platform::HeldFilePath(held, path);
}

bool HoldPatcher(ReleaseRun& run, platform::HeldFile* held) {
  if (!Signed()) return static_cast<bool>(platform::OpenFile(kPatcherFileName, "rb"));
  return HoldSignedPatcher(run, held);
}

bool HoldUpdatedPatcher(ReleaseRun& run, platform::HeldFile* held) {
  return !Signed() || HoldSignedPatcher(run, held);
}
