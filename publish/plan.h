#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "patcher/version_files.h"
#include "publish/build_folder.h"
#include "publish/failure.h"
#include "publish/manifest.h"
#include "publish/progress.h"

// What one publish does to a release tree, worked out before anything is
// written: the dry run prints it, the real run carries it out.
namespace publish {

enum class Change {
  kUnchanged,
  kChanged,    // content differs from the last release: number raised
  kNew,        // not listed before: number 1, or past its number of old
  kRepaired,   // the tree's copy differs from the manifest: rewritten, number raised
  kRestored,   // unchanged, but the tree's copy is missing
  kRewritten,  // unchanged, but an interrupted publish had not put it in place
  kRemoved,    // listed before, not in the build: dropped from the list
};

// The version files as players see them now.
struct TreeVersions {
  bool hasRecord = false;
  int32_t first = 0;
  int32_t second = 0;
  FileVersionMap list;
};

// A published file's copy in the tree now.
struct TreeCopy {
  FileStamp stamp;
  Sha256Digest hash{};
};
// By name (the patcher and the launcher under their own); absent: no copy.
using TreeCopies = std::map<std::u16string, TreeCopy>;

struct PlannedFile {
  std::u16string name;
  Change change = Change::kUnchanged;
  std::optional<uint32_t> shownNumber;  // in the tree's list now; none: not there
  uint32_t newNumber = 0;
  const SourceFile* source = nullptr;  // null when removed
  bool copy = false;                   // false when the tree already holds the content
};

struct Plan {
  Manifest target;  // the manifest once the publish is complete
  TreeVersions shown;
  bool interrupted = false;  // the baseline is an interrupted publish
  bool writeManifest = false;
  PlannedFile patcher;
  std::optional<PlannedFile> launcher;
  std::vector<PlannedFile> files;  // listed now or dropped now, by name
  std::string listText;
  std::string recordText;
  bool writeList = false;
  bool writeRecord = false;
  std::vector<std::u16string> prune;  // files of dropped names to delete
  std::vector<std::string> notes;     // things an operator should know

  // Anything to write into the tree (not counting the manifest).
  bool TouchesTree() const;
  // Files to copy, in order: accompanying files, the patcher, the launcher.
  std::vector<const PlannedFile*> Copies() const;
  uint64_t CopyBytes() const;
};

// The last release as the manifest records it, or, without a manifest or
// when `rebuild` is set, as the tree itself shows it (its version files and
// the hashes of its files).
bool LoadBaseline(const std::filesystem::path& tree, const std::filesystem::path& manifestPath,
                  bool rebuild, std::FILE* progressOut, Manifest* baseline, bool* fromManifest,
                  std::vector<std::string>* notes, Failure* failure);

bool ReadTreeVersions(const std::filesystem::path& tree, TreeVersions* versions, Failure* failure);

// The tree's copies of `names` (those present), each read and hashed.
bool HashTreeCopies(const std::filesystem::path& tree, const std::vector<std::u16string>& names,
                    std::FILE* progressOut, TreeCopies* copies, Failure* failure);
// The tree's copies of those of `names` whose content the manifest knows;
// a copy that still shows the stamp under which the manifest recorded its
// hash is not read again.
bool CheckTreeCopies(const std::filesystem::path& tree, const Manifest& baseline,
                     const std::vector<std::u16string>& names, std::FILE* progressOut,
                     TreeCopies* copies, Failure* failure);
// The patcher, the launcher and every listed name.
std::vector<std::u16string> PublishedNames(const Manifest& manifest);

// The build files whose content must be read before planning: those that
// may equal what the manifest or the tree holds. Every other one differs
// for certain (by its size) and is hashed while it is copied.
std::vector<SourceFile*> FilesToHashFirst(BuildContent* build, const Manifest& baseline,
                                          const TreeCopies& copies);

struct PlanInput {
  const BuildContent* build = nullptr;
  const Manifest* baseline = nullptr;
  bool baselineFromManifest = false;
  const TreeVersions* shown = nullptr;
  const TreeCopies* copies = nullptr;
  std::filesystem::path tree;
  std::optional<int32_t> second;  // the record's second number, when set
  bool prune = false;
};

bool MakePlan(const PlanInput& input, Plan* plan, Failure* failure);

// The plan for an operator: what changes, with the numbers players see now
// and the new ones.
std::string DescribePlan(const Plan& plan);

// Every way the tree differs from the manifest, one line each; `copies`
// from HashTreeCopies of PublishedNames.
std::vector<std::string> TreeDifferences(const Manifest& manifest, const TreeVersions& shown,
                                         const TreeCopies& copies);

}  // namespace publish
