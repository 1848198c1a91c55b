#include "publish/tree_copies.h"

#include "publish/build_folder.h"
#include "publish/file_ops.h"
#include "publish/list_names.h"
#include "publish/progress.h"

namespace publish {

namespace {

namespace fs = std::filesystem;

// The bytes of a version file; none when it is missing.
bool ReadVersionFile(const fs::path& path, size_t limit, std::optional<std::string>* text,
                     Failure* failure) {
  std::string bytes;
  const SmallFile read = ReadSmallFile(path, limit, &bytes, failure);
  if (read == SmallFile::kFailed) return false;
  if (read == SmallFile::kRead) *text = std::move(bytes);
  return true;
}

// The stamp of a regular file below the tree into *stamp, when there is
// one (*found); false when what lies there cannot be told.
bool StampBelow(const fs::path& tree, CodePage codePage, const std::u16string& name,
                FileStamp* stamp, bool* found, Failure* failure) {
  const fs::path path = PathBelow(tree, name, codePage);
  const TreeEntry entry = QueryTreeEntry(path, stamp);
  *found = entry == TreeEntry::kFile;
  if (entry != TreeEntry::kFailed) return true;
  return Fail(failure, ExitCode::kTreeUnreadable,
              "cannot read " + PrintablePath(path) + ": " + ReasonOf(LastError()));
}

}  // namespace

bool ReadTreeVersions(const fs::path& tree, CodePage codePage, TreeVersions* versions,
                      Failure* failure) {
  *versions = TreeVersions();
  if (!ReadVersionFile(tree / kVersionRecordName, kMaxRecordBytes, &versions->recordText,
                       failure) ||
      !ReadVersionFile(tree / kFileListName, kMaxListBytes, &versions->listText, failure)) {
    return false;
  }
  ParseVersionRecord(versions->recordText.value_or(""), &versions->first, &versions->second);
  FileVersionMap list;
  if (!ParseFileVersions(versions->listText.value_or(""), &list)) {
    return Fail(failure, ExitCode::kTreeUnreadable,
                "the tree's file version list holds more entries than the launcher reads");
  }
  DecodeList(list, codePage, &versions->list, &versions->undecodable);
  return true;
}

bool HashTreeCopies(const fs::path& tree, CodePage codePage,
                    const std::vector<std::u16string>& names, std::FILE* progressOut,
                    TreeCopies* copies, Failure* failure) {
  std::vector<const std::u16string*> present;
  uint64_t bytes = 0;
  for (const std::u16string& name : names) {
    TreeCopy copy;
    bool found = false;
    if (!StampBelow(tree, codePage, name, &copy.stamp, &found, failure)) return false;
    if (!found) continue;
    bytes += copy.stamp.size;
    present.push_back(&name);
    (*copies)[name] = copy;
  }
  Progress progress(progressOut, "reading the release tree", present.size(), bytes);
  for (const std::u16string* name : present) {
    if (!HashFile(PathBelow(tree, *name, codePage), Origin::kTree, &progress,
                  &(*copies)[*name].hash, failure)) {
      return false;
    }
    progress.FileDone();
  }
  progress.Finish();
  return true;
}

bool CheckTreeCopies(const fs::path& tree, CodePage codePage, const Manifest& baseline,
                     const std::vector<std::u16string>& names, std::FILE* progressOut,
                     TreeCopies* copies, Failure* failure) {
  copies->clear();
  std::vector<std::u16string> toHash;
  for (const std::u16string& name : names) {
    const ManifestFile* known = FindFile(baseline, name);
    TreeCopy copy;
    bool present = false;
    if (known == nullptr || !known->hash) continue;
    if (!StampBelow(tree, codePage, name, &copy.stamp, &present, failure)) return false;
    if (!present) continue;
    if (known->stamp == copy.stamp) {
      copy.hash = *known->hash;
      copies->emplace(name, copy);
    } else {
      toHash.push_back(name);
    }
  }
  return HashTreeCopies(tree, codePage, toHash, progressOut, copies, failure);
}

std::set<std::u16string> PresentNames(const fs::path& tree, CodePage codePage,
                                      const Manifest& baseline, const TreeVersions& shown) {
  std::set<std::u16string> names;
  for (const auto& [name, file] : baseline.files) names.insert(name);
  for (const auto& [name, number] : shown.list) {
    if (ListNameProblem(name, codePage).empty()) names.insert(name);
  }
  std::set<std::u16string> present;
  for (const std::u16string& name : names) {
    FileStamp ignored;
    const TreeEntry entry = QueryTreeEntry(PathBelow(tree, name, codePage), &ignored);
    if (entry == TreeEntry::kFile || entry == TreeEntry::kOther) present.insert(name);
  }
  return present;
}

}  // namespace publish
