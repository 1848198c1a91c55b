#include "patcher/folder_claim.h"

#include <iterator>
#include <set>
#include <vector>

#include "patcher/release_install.h"
#include "patcher/release_key.h"
#include "platform/files.h"
#include "platform/shell.h"
#include "release/release_files.h"
#include "release/version_files.h"

namespace {

// What the launcher noted in the install folder for a later run to believe
// or continue. In a folder others could write before this run made it the
// launcher's, they are anyone's: a checked-files record that lies, staging
// notes that name files elsewhere, a kept release's copy of an older
// release that would lower the floor.
constexpr const char16_t* kNotes[] = {kCheckedFilesName,        kStagingNotesName,
                                      kFileListCopyName,        kReleaseManifestCopyName,
                                      kReleaseSignatureCopyName, kReleaseRecordCopyName};

// The folder and every folder above it, up to its drive root.
std::vector<std::u16string> FolderAndAbove(const std::u16string& folder) {
  std::vector<std::u16string> folders;
  for (size_t end = folder.size(); end > 0; --end) {
    const bool boundary = end == folder.size() || IsPathSeparator(folder[end]);
    if (boundary && !IsPathSeparator(folder[end - 1])) folders.push_back(folder.substr(0, end));
  }
  return folders;
}

// The folders between the install folder and a file of it.
std::vector<std::u16string> FoldersBelow(const std::u16string& name) {
  std::vector<std::u16string> folders;
  for (size_t end = name.size(); end > 0; --end) {
    if (IsPathSeparator(name[end - 1])) folders.push_back(name.substr(0, end - 1));
  }
  return folders;
}

bool IsLink(const std::u16string& path) {
  bool link = false;
  return platform::QueryReparsePoint(path, &link) && link;
}

// Deleted unread; one that stays (held open by another program) would be
// believed.
bool DropNotes() {
  std::vector<std::u16string> notes(std::begin(kNotes), std::end(kNotes));
  for (const char16_t* executable : kExecutableNames) {
    notes.push_back(std::u16string(executable) + kFetchSuffix);
  }
  for (const std::u16string& note : notes) {
    if (!platform::RemoveFile(note) && platform::PathExists(note)) return false;
  }
  return true;
}

}  // namespace

bool MayClaimFolder(const std::u16string& folder) {
  if (!WithReleaseKey()) return true;
  std::u16string claimed;
  if (!platform::QueryFinalPath(folder, &claimed) || platform::IsVolumeRoot(claimed)) return false;
  for (const platform::KnownFolder known : platform::kKnownFolders) {
    std::u16string path;
    if (!platform::GetKnownFolderPath(known, &path)) continue;
    // As the file system resolves it, where it exists.
    std::u16string resolved;
    if (platform::QueryFinalPath(path, &resolved)) path = resolved;
    if (platform::IsAtOrBelow(path, claimed)) return false;
  }
  return true;
}

uint32_t ClaimFolder(const std::u16string& installFolder, bool withParent) {
  if (!WithReleaseKey()) return platform::kErrorSuccess;
  for (const std::u16string& folder : FolderAndAbove(installFolder)) {
    bool link = false;
    if (!platform::QueryReparsePoint(folder, &link) || link) {
      return platform::kErrorReparsePointEncountered;
    }
  }
  const bool firstClaim = !platform::IsAdministratorsOnly(installFolder);
  std::vector<std::u16string> folders = {installFolder};
  if (withParent) folders.push_back(platform::RemoveFileSpec(installFolder));
  for (const std::u16string& folder : folders) {
    const uint32_t error = platform::ProtectExistingPath(folder);
    if (error != platform::kErrorSuccess) return error;
  }
  if (firstClaim && !DropNotes()) return platform::kErrorAccessDenied;
  return platform::ConfineFilesTo(installFolder);
}

uint32_t ClaimReleasePaths(ReleaseRun& run) {
  if (!WithReleaseKey() || !run.release || run.releaseClaimed) return platform::kErrorSuccess;
  std::vector<std::u16string> files;
  // In name order, so a folder comes before those below it.
  std::set<std::u16string> folders;
  for (const auto& entry : run.release->manifest.entries) {
    files.push_back(LocalNameOf(entry.first));
    for (std::u16string& folder : FoldersBelow(files.back())) folders.insert(std::move(folder));
  }
  for (const std::u16string& folder : folders) {
    if (IsLink(folder)) return platform::kErrorReparsePointEncountered;
    if (!platform::PathExists(folder)) continue;
    const uint32_t error = platform::ProtectExistingPath(folder);
    if (error != platform::kErrorSuccess) return error;
  }
  for (const std::u16string& file : files) {
    if (!platform::PathExists(file) && !IsLink(file)) continue;
    const uint32_t error = platform::ProtectExistingPath(file);
    if (error != platform::kErrorSuccess && error != platform::kErrorReparsePointEncountered) {
      return error;
    }
  }
  run.releaseClaimed = true;
  return platform::kErrorSuccess;
}
