#pragma once

#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "publish/build_folder.h"
#include "publish/failure.h"
#include "publish/manifest.h"
#include "publish/tree_copies.h"

// What one publish does to a release tree, worked out from what was read of
// the build, the last release and the tree before anything is written: the
// dry run prints it, the real run carries it out. Planning reads nothing.
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

enum class Signing {
  kUnsigned,  // no signing key
  kInPlace,   // the tree serves this release's signed manifest already
  kAnew,      // written after the files, before the list
};

// The steps that change what players can fetch, in this order. Behind edge
// caches that keep copies for up to --settle seconds, a step that follows
// another waits that long first, so that no cache pairs a record with an
// older list, or a list with older files.
enum class Step {
  kFiles,   // the burst of renames
  kList,    // release_manifest and its signature, then patcher_files_version
  kRecord,  // patcher_version
  kPrune,   // deleting what the list no longer names
};

struct PlannedFile {
  std::u16string name;
  Change change = Change::kUnchanged;
  std::optional<uint32_t> shownNumber;  // in the tree's list now; none: not there
  uint32_t newNumber = 0;
  const SourceFile* source = nullptr;  // null when removed
  bool copy = false;                   // false when the tree already holds the content
  // The copy's modification time: the build file's, unless the tree's copy
  // would then keep its validators (below).
  int64_t copyTime = 0;
};

struct Plan {
  Manifest target;  // the manifest once the publish is complete
  std::vector<std::string> lastMirrors;  // the baseline's, beside target.mirrors
  TreeVersions shown;
  bool interrupted = false;  // the baseline is an interrupted publish
  // The number the tool last published, when the tree's record is above it
  // (raised by hand, or written by someone else).
  std::optional<int32_t> jumpedFrom;
  bool writeManifest = false;
  PlannedFile patcher;
  std::optional<PlannedFile> launcher;  // set when the build holds one
  std::vector<PlannedFile> files;       // listed now or dropped now, by name
  std::string listText;
  std::string recordText;
  bool writeList = false;
  bool writeRecord = false;
  std::vector<std::u16string> prune;  // files of dropped names to delete
  std::vector<std::string> notes;     // things an operator should know
  // Decided by the publisher, which holds the key.
  Signing signing = Signing::kUnsigned;
  uint32_t settleSeconds = 0;  // 0: no waits

  // Anything to write into the tree (not counting the manifest).
  bool TouchesTree() const;
  // Files to copy, in order: accompanying files, the patcher, the launcher.
  std::vector<const PlannedFile*> Copies() const;
  uint64_t CopyBytes() const;
  // Whether `step` writes anything.
  bool Does(Step step) const;
  // Whether `step` waits settleSeconds before it writes.
  bool SettlesBefore(Step step) const;
  // All the waits of the run, in seconds.
  uint64_t SettleTotal() const;
};

// The build files whose content must be read before planning: those that
// may equal what the manifest or the tree holds. Every other one differs
// for certain (by its size) and is hashed while it is copied.
std::vector<SourceFile*> FilesToHashFirst(BuildContent* build, const Manifest& baseline,
                                          const TreeCopies& copies);

struct PlanInput {
  const BuildContent* build = nullptr;
  const Manifest* baseline = nullptr;
  bool baselineFromManifest = false;
  const TreeVersions* shown = nullptr;                // with the version files' bytes
  const TreeCopies* copies = nullptr;                 // of the build's names
  const std::set<std::u16string>* present = nullptr;  // PresentNames; only --prune reads it
  std::optional<int32_t> second;  // the record's second number, when set
  bool prune = false;
  uint32_t settleSeconds = 0;
  std::optional<std::vector<std::string>> mirrors;  // unset: the baseline's
  CodePage codePage = kDefaultCodePage;
};

bool MakePlan(const PlanInput& input, Plan* plan, Failure* failure);

}  // namespace publish
