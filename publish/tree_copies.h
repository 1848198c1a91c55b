#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "publish/failure.h"
#include "publish/list_names.h"
#include "publish/manifest.h"
#include "release/version_files.h"

// What the served release tree holds now, read (and hashed) once here so
// that planning and checking work on what was read and read nothing.
namespace publish {

// The version files as players see them now.
struct TreeVersions {
  std::optional<std::string> recordText;  // the file's bytes; none: missing
  std::optional<std::string> listText;
  int32_t first = 0;
  int32_t second = 0;
  FileVersionMap list;                   // names decoded from the code page
  std::vector<std::string> undecodable;  // the list's names that are none there, as bytes
};

// A published file's copy in the tree now.
struct TreeCopy {
  FileStamp stamp;
  platform::Sha256Digest hash{};
};
// By name (the patcher and the launcher under their own); absent: no copy.
using TreeCopies = std::map<std::u16string, TreeCopy>;

bool ReadTreeVersions(const std::filesystem::path& tree, CodePage codePage, TreeVersions* versions,
                      Failure* failure);

// The tree's copies of `names` (those present), each read and hashed.
bool HashTreeCopies(const std::filesystem::path& tree, CodePage codePage,
                    const std::vector<std::u16string>& names, std::FILE* progressOut,
                    TreeCopies* copies, Failure* failure);
// The tree's copies of those of `names` whose content the manifest knows;
// a copy that still shows the stamp under which the manifest recorded its
// hash is not read again.
bool CheckTreeCopies(const std::filesystem::path& tree, CodePage codePage, const Manifest& baseline,
                     const std::vector<std::u16string>& names, std::FILE* progressOut,
                     TreeCopies* copies, Failure* failure);

// The names the last release listed or dropped (the manifest's and the
// tree's list) that have a file in the tree: what --prune may delete.
std::set<std::u16string> PresentNames(const std::filesystem::path& tree, CodePage codePage,
                                      const Manifest& baseline, const TreeVersions& shown);

}  // namespace publish
