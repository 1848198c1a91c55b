#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

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
  kRestored,   // unchanged, but the tree's copy is missing or of the wrong size
  kRewritten,  // unchanged, but an interrupted publish may have left it half-way
  kRemoved,    // listed before, not in the build: dropped from the list
};

struct PlannedFile {
  std::u16string name;
  Change change = Change::kUnchanged;
  std::optional<uint32_t> oldNumber;  // none: not listed by the last release
  uint32_t newNumber = 0;
  const SourceFile* source = nullptr;  // null when removed
  std::optional<uint64_t> treeSize;    // of the copy in the tree now
  bool Writes() const { return change != Change::kUnchanged && change != Change::kRemoved; }
};

struct Plan {
  Manifest target;  // the manifest once the publish is complete
  int32_t oldFirst = 0;
  int32_t oldSecond = 0;
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

// The last release as the manifest records it, or, without a manifest, as
// the tree itself shows it (its version files and the hashes of its files).
bool LoadBaseline(const std::filesystem::path& tree, const std::filesystem::path& manifestPath,
                  std::FILE* progressOut, Manifest* baseline, bool* fromManifest,
                  std::vector<std::string>* notes, Failure* failure);

struct PlanInput {
  const BuildContent* build = nullptr;  // hashed
  const Manifest* baseline = nullptr;
  bool baselineFromManifest = false;
  std::filesystem::path tree;
  std::optional<int32_t> second;  // the record's second number, when set
  bool prune = false;
};

bool MakePlan(const PlanInput& input, Plan* plan, Failure* failure);

// The plan for an operator: what changes, with old and new numbers.
std::string DescribePlan(const Plan& plan);

}  // namespace publish
