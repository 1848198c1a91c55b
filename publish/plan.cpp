#include "publish/plan.h"

#include <algorithm>
#include <cstdio>
#include <limits>

#include "publish/file_ops.h"
#include "publish/list_names.h"

namespace publish {

namespace {

namespace fs = std::filesystem;

constexpr size_t kMaxManifestBytes = size_t{256} << 20;
constexpr uint32_t kFirstFileNumber = 1;
constexpr uint32_t kMaxFileNumber = std::numeric_limits<uint32_t>::max();
constexpr double kMebibyte = 1024.0 * 1024.0;
constexpr size_t kSizeText = 32;

bool Writes(Change change) { return change != Change::kUnchanged && change != Change::kRemoved; }
bool RaisesNumber(Change change) {
  return change == Change::kChanged || change == Change::kNew || change == Change::kRepaired;
}

const ManifestFile* Known(const Manifest& manifest, const std::u16string& name) {
  if (name == kPatcherFileName) return manifest.patcher ? &*manifest.patcher : nullptr;
  if (name == kLauncherFileName) return manifest.launcher ? &*manifest.launcher : nullptr;
  const auto found = manifest.files.find(name);
  return found == manifest.files.end() ? nullptr : &found->second;
}

const TreeCopy* CopyOf(const TreeCopies& copies, const std::u16string& name) {
  const auto found = copies.find(name);
  return found == copies.end() ? nullptr : &found->second;
}

// How the build's file stands against the last release and the tree.
Change Compare(const SourceFile& source, const ManifestFile* known, const TreeCopy* copy,
               bool pending) {
  if (known == nullptr || !known->listed) return Change::kNew;
  if (!known->hash || !source.hash || *source.hash != *known->hash) return Change::kChanged;
  if (copy == nullptr) return Change::kRestored;
  if (copy->hash == *known->hash) return Change::kUnchanged;
  // Players may have fetched a hand-changed copy under the current number;
  // only a new number makes them fetch the right one.
  return pending ? Change::kRewritten : Change::kRepaired;
}

// Plans one build file; the target's entry for it goes to *entry.
PlannedFile PlanFile(const SourceFile& source, const Manifest& baseline, const TreeCopies& copies,
                     ManifestFile* entry) {
  const ManifestFile* known = Known(baseline, source.name);
  const TreeCopy* copy = CopyOf(copies, source.name);
  const bool pending = !baseline.complete && baseline.pending.count(source.name) != 0;
  PlannedFile planned;
  planned.name = source.name;
  planned.source = &source;
  planned.change = Compare(source, known, copy, pending);
  planned.copy =
      Writes(planned.change) && !(copy != nullptr && source.hash && copy->hash == *source.hash);
  planned.newNumber = known == nullptr ? kFirstFileNumber : known->number;
  entry->listed = true;
  entry->hash = source.hash;
  entry->stamp = planned.copy || copy == nullptr ? source.stamp : copy->stamp;
  return planned;
}

// Any other first number tells the launcher to update; 0 is skipped because
// a new installation records 0 and would then never update.
int32_t NextFirstNumber(int32_t first) {
  uint32_t next = static_cast<uint32_t>(first) + 1;
  if (next == 0) next = 1;
  return static_cast<int32_t>(next);
}

// Numbers never go down: a hand-raised record or list number in the tree
// counts as much as the manifest's.
Manifest MergeShownNumbers(const Manifest& baseline, const TreeVersions& shown) {
  Manifest merged = baseline;
  if (shown.hasRecord) merged.first = std::max(merged.first, shown.first);
  for (const auto& [name, number] : shown.list) {
    if (!ListNameProblem(name).empty()) continue;
    ManifestFile& file =
        merged.files.try_emplace(name, ManifestFile{number, true, {}, {}}).first->second;
    file.number = std::max(file.number, number);
  }
  return merged;
}

// Whether the tree's copy of a version file differs from `text`.
bool DiffersInTree(const fs::path& path, const std::string& text, size_t limit, bool* differs,
                   Failure* failure) {
  std::string current;
  const SmallFile read = ReadSmallFile(path, limit, &current, failure);
  if (read == SmallFile::kFailed) return false;
  *differs = read == SmallFile::kMissing || current != text;
  return true;
}

bool AdoptTree(const fs::path& tree, std::FILE* progressOut, Manifest* baseline,
               std::vector<std::string>* notes, Failure* failure) {
  TreeVersions shown;
  if (!ReadTreeVersions(tree, &shown, failure)) return false;
  baseline->first = shown.first;
  baseline->second = shown.second;
  std::vector<std::u16string> names = {kPatcherFileName, kLauncherFileName};
  for (const auto& [name, number] : shown.list) {
    if (const std::string problem = ListNameProblem(name); !problem.empty()) {
      notes->push_back("the tree's list names " + Printable(name) + ", which " + problem +
                       "; it is left out");
      continue;
    }
    baseline->files[name] = ManifestFile{number, true, std::nullopt, std::nullopt};
    names.push_back(name);
  }
  // Every present file of the last release is hashed once, to compare the
  // build with; a missing one has unknown content and counts as changed.
  TreeCopies copies;
  if (!HashTreeCopies(tree, names, progressOut, &copies, failure)) return false;
  for (const auto& [name, copy] : copies) {
    ManifestFile& file = name == kPatcherFileName    ? baseline->patcher.emplace()
                         : name == kLauncherFileName ? baseline->launcher.emplace()
                                                 : baseline->files[name];
    file.hash = copy.hash;
    file.stamp = copy.stamp;
  }
  return true;
}

const char* ChangeWord(Change change) {
  switch (change) {
    case Change::kUnchanged:
      return "unchanged";
    case Change::kChanged:
      return "changed";
    case Change::kNew:
      return "new";
    case Change::kRepaired:
      return "repaired";
    case Change::kRestored:
      return "restored";
    case Change::kRewritten:
      return "rewritten";
    case Change::kRemoved:
      return "removed";
  }
  return "";
}

std::string Explanation(const PlannedFile& file) {
  switch (file.change) {
    case Change::kRepaired:
      return " (the tree's copy differed from the last release)";
    case Change::kRestored:
      return " (the tree's copy was missing)";
    case Change::kRewritten:
      return " (an interrupted publish had not put it in place)";
    case Change::kRemoved:
      return " (dropped from the list; the file stays in the tree unless --prune)";
    default:
      return Writes(file.change) && !file.copy ? " (the tree holds it already)" : "";
  }
}

std::string NumberText(const std::optional<uint32_t>& number) {
  return number ? std::to_string(*number) : "-";
}

}  // namespace

bool Plan::TouchesTree() const {
  return !Copies().empty() || writeList || writeRecord || !prune.empty();
}

uint64_t Plan::CopyBytes() const {
  uint64_t bytes = 0;
  for (const PlannedFile* copy : Copies()) bytes += copy->source->stamp.size;
  return bytes;
}

std::vector<const PlannedFile*> Plan::Copies() const {
  std::vector<const PlannedFile*> copies;
  for (const PlannedFile& file : files) {
    if (file.copy) copies.push_back(&file);
  }
  if (patcher.copy) copies.push_back(&patcher);
  if (launcher && launcher->copy) copies.push_back(&*launcher);
  return copies;
}

bool ReadTreeVersions(const fs::path& tree, TreeVersions* versions, Failure* failure) {
  *versions = TreeVersions();
  std::string text;
  SmallFile read = ReadSmallFile(tree / kVersionRecordName, kMaxRecordBytes, &text, failure);
  if (read == SmallFile::kFailed) return false;
  versions->hasRecord = read == SmallFile::kRead;
  ParseVersionRecord(text, &versions->first, &versions->second);
  read = ReadSmallFile(tree / kFileListName, kMaxListBytes, &text, failure);
  if (read == SmallFile::kFailed) return false;
  if (!ParseFileVersions(text, &versions->list)) {
    return Fail(failure, ExitCode::kTreeUnreadable,
                "the tree's file version list holds more entries than the launcher reads");
  }
  return true;
}

bool LoadBaseline(const fs::path& tree, const fs::path& manifestPath, bool rebuild,
                  std::FILE* progressOut, Manifest* baseline, bool* fromManifest,
                  std::vector<std::string>* notes, Failure* failure) {
  *baseline = Manifest();
  *fromManifest = false;
  if (rebuild) return AdoptTree(tree, progressOut, baseline, notes, failure);
  std::string text;
  const SmallFile read = ReadSmallFile(manifestPath, kMaxManifestBytes, &text, failure);
  if (read == SmallFile::kFailed) return false;
  if (read == SmallFile::kMissing) return AdoptTree(tree, progressOut, baseline, notes, failure);
  *fromManifest = true;
  std::string problem;
  if (ParseManifest(text, baseline, &problem) != ManifestRead::kRead) {
    return Fail(failure, ExitCode::kManifestDamaged,
                "the manifest " + PrintablePath(manifestPath) + " cannot be trusted: " + problem +
                    ". Check the tree with --verify; --rebuild-manifest makes a new one from it");
  }
  return true;
}

bool HashTreeCopies(const fs::path& tree, const std::vector<std::u16string>& names,
                    std::FILE* progressOut, TreeCopies* copies, Failure* failure) {
  std::vector<const std::u16string*> present;
  uint64_t bytes = 0;
  for (const std::u16string& name : names) {
    TreeCopy copy;
    std::error_code error;
    const fs::path path = PathBelow(tree, name);
    if (!fs::is_regular_file(path, error) || !ReadStamp(path, &copy.stamp)) continue;
    bytes += copy.stamp.size;
    present.push_back(&name);
    (*copies)[name] = copy;
  }
  Progress progress(progressOut, "reading the release tree", present.size(), bytes);
  for (const std::u16string* name : present) {
    if (!HashFile(PathBelow(tree, *name), ExitCode::kTreeUnreadable, &progress,
                  &(*copies)[*name].hash, failure)) {
      return false;
    }
    progress.FileDone();
  }
  progress.Finish();
  return true;
}

bool CheckTreeCopies(const fs::path& tree, const Manifest& baseline,
                     const std::vector<std::u16string>& names, std::FILE* progressOut,
                     TreeCopies* copies, Failure* failure) {
  copies->clear();
  std::vector<std::u16string> toHash;
  for (const std::u16string& name : names) {
    const ManifestFile* known = Known(baseline, name);
    if (known == nullptr || !known->hash) continue;
    TreeCopy copy;
    std::error_code error;
    const fs::path path = PathBelow(tree, name);
    if (!fs::is_regular_file(path, error) || !ReadStamp(path, &copy.stamp)) continue;
    if (known->stamp == copy.stamp) {
      copy.hash = *known->hash;
      copies->emplace(name, copy);
    } else {
      toHash.push_back(name);
    }
  }
  return HashTreeCopies(tree, toHash, progressOut, copies, failure);
}

std::vector<std::u16string> PublishedNames(const Manifest& manifest) {
  std::vector<std::u16string> names = {kPatcherFileName, kLauncherFileName};
  for (const auto& [name, file] : manifest.files) {
    if (file.listed) names.push_back(name);
  }
  return names;
}

std::vector<SourceFile*> FilesToHashFirst(BuildContent* build, const Manifest& baseline,
                                          const TreeCopies& copies) {
  std::vector<SourceFile*> sources = {&build->patcher};
  if (build->launcher) sources.push_back(&*build->launcher);
  for (SourceFile& file : build->files) sources.push_back(&file);
  std::vector<SourceFile*> first;
  for (SourceFile* source : sources) {
    const ManifestFile* known = Known(baseline, source->name);
    const TreeCopy* copy = CopyOf(copies, source->name);
    const uint64_t size = source->stamp.size;
    if ((known != nullptr && known->hash && (!known->stamp || known->stamp->size == size)) ||
        (copy != nullptr && copy->stamp.size == size)) {
      first.push_back(source);
    }
  }
  return first;
}

bool MakePlan(const PlanInput& input, Plan* plan, Failure* failure) {
  const Manifest baseline = MergeShownNumbers(*input.baseline, *input.shown);
  const BuildContent& build = *input.build;
  const TreeCopies& copies = *input.copies;
  *plan = Plan();
  plan->interrupted = !baseline.complete;
  plan->shown = *input.shown;
  Manifest& target = plan->target;
  target.launcher = baseline.launcher;

  target.patcher.emplace();
  plan->patcher = PlanFile(build.patcher, baseline, copies, &*target.patcher);
  bool released = RaisesNumber(plan->patcher.change);
  if (build.launcher) {
    target.launcher.emplace();
    plan->launcher = PlanFile(*build.launcher, baseline, copies, &*target.launcher);
  }

  FileVersionMap list;
  for (const SourceFile& source : build.files) {
    ManifestFile& entry = target.files[source.name];
    PlannedFile planned = PlanFile(source, baseline, copies, &entry);
    if (RaisesNumber(planned.change) && Known(baseline, source.name) != nullptr) {
      // A name that comes back continues past its old number: a player who
      // missed its removal still holds that number and must fetch it again.
      if (planned.newNumber == kMaxFileNumber) {
        return Fail(failure, ExitCode::kTreeUnreadable,
                    "the number of " + Printable(source.name) + " cannot rise past " +
                        std::to_string(kMaxFileNumber));
      }
      ++planned.newNumber;
    }
    released = released || RaisesNumber(planned.change);
    const auto shownNumber = input.shown->list.find(source.name);
    if (shownNumber != input.shown->list.end()) planned.shownNumber = shownNumber->second;
    entry.number = planned.newNumber;
    list.emplace(source.name, planned.newNumber);
    plan->files.push_back(std::move(planned));
  }
  for (const auto& [name, old] : baseline.files) {
    if (target.files.count(name) != 0) continue;
    // Kept so a name that comes back is numbered past this one.
    target.files[name] = ManifestFile{old.number, false, std::nullopt, std::nullopt};
    if (old.listed) {
      PlannedFile removed;
      removed.name = name;
      removed.change = Change::kRemoved;
      const auto shownNumber = input.shown->list.find(name);
      if (shownNumber != input.shown->list.end()) removed.shownNumber = shownNumber->second;
      removed.newNumber = old.number;
      plan->files.push_back(std::move(removed));
    }
    std::error_code error;
    if (input.prune && fs::exists(PathBelow(input.tree, name), error)) plan->prune.push_back(name);
  }
  std::sort(plan->files.begin(), plan->files.end(),
            [](const PlannedFile& a, const PlannedFile& b) { return a.name < b.name; });

  // A removal alone gives players nothing to fetch, so it is no release.
  target.first = released ? NextFirstNumber(baseline.first) : baseline.first;
  target.second = input.second.value_or(baseline.second);
  plan->recordText = FormatVersionRecord(target.first, target.second);
  if (!FormatFileVersions(list, &plan->listText)) {
    return Fail(failure, ExitCode::kUnsafeName,
                "the file version list cannot be written so that the launcher reads it back "
                "(a name it cannot hold, or more files than it reads)");
  }
  if (!DiffersInTree(input.tree / kFileListName, plan->listText, kMaxListBytes, &plan->writeList,
                     failure) ||
      !DiffersInTree(input.tree / kVersionRecordName, plan->recordText, kMaxRecordBytes,
                     &plan->writeRecord, failure)) {
    return false;
  }
  plan->writeManifest = !input.baselineFromManifest || !(target == *input.baseline);
  return true;
}

std::string DescribePlan(const Plan& plan) {
  std::string text;
  for (const std::string& note : plan.notes) text += "  note: " + note + "\n";
  if (plan.interrupted) text += "  the last publish was interrupted; this one completes it\n";
  const TreeVersions& shown = plan.shown;
  text += "  patcher_version: " + (shown.hasRecord ? std::to_string(shown.first) : "-") + " -> " +
          std::to_string(plan.target.first) + ", second number " +
          (shown.hasRecord ? std::to_string(shown.second) : "-") + " -> " +
          std::to_string(plan.target.second) + " (players see the left side now)\n";
  for (const PlannedFile* executable : {&plan.patcher, plan.launcher ? &*plan.launcher : nullptr}) {
    if (executable == nullptr) continue;
    text += "  " + Printable(executable->name) + ": " + ChangeWord(executable->change) +
            Explanation(*executable) + "\n";
  }
  size_t unchanged = 0;
  std::string lines;
  for (const PlannedFile& file : plan.files) {
    if (file.change == Change::kUnchanged) {
      ++unchanged;
      continue;
    }
    const std::string shownNumber = NumberText(file.shownNumber);
    const std::string numbers = file.change == Change::kRemoved
                                    ? shownNumber
                                    : shownNumber + " -> " + std::to_string(file.newNumber);
    lines += "    " + std::string(ChangeWord(file.change)) + " " + Printable(file.name) + " " +
             numbers + Explanation(file) + "\n";
  }
  text +=
      "  patcher_files_version: " + std::string(plan.writeList ? "rewritten" : "as in the tree") +
      ", " + std::to_string(unchanged) + " files unchanged\n" + lines;
  for (const std::u16string& name : plan.prune) {
    text += "    delete " + Printable(name) + " (--prune)\n";
  }
  char size[kSizeText];
  std::snprintf(size, sizeof size, "%.1f MiB", static_cast<double>(plan.CopyBytes()) / kMebibyte);
  text += "  files to copy: " + std::to_string(plan.Copies().size()) + " (" + size + ")\n";
  return text;
}

std::vector<std::string> TreeDifferences(const Manifest& manifest, const TreeVersions& shown,
                                         const TreeCopies& copies) {
  std::vector<std::string> differences;
  if (!manifest.complete) differences.push_back("the last publish was interrupted; run it again");
  if (!shown.hasRecord) {
    differences.push_back("patcher_version is missing");
  } else if (shown.first != manifest.first || shown.second != manifest.second) {
    differences.push_back("patcher_version holds " + std::to_string(shown.first) + " " +
                          std::to_string(shown.second) + ", the manifest " +
                          std::to_string(manifest.first) + " " + std::to_string(manifest.second));
  }
  for (const auto& [name, file] : manifest.files) {
    if (!file.listed) continue;
    const auto listed = shown.list.find(name);
    if (listed == shown.list.end()) {
      differences.push_back("patcher_files_version lacks " + Printable(name));
    } else if (listed->second != file.number) {
      differences.push_back("patcher_files_version gives " + Printable(name) + " " +
                            std::to_string(listed->second) + ", the manifest " +
                            std::to_string(file.number));
    }
  }
  for (const auto& [name, number] : shown.list) {
    const ManifestFile* known = Known(manifest, name);
    if (known == nullptr || !known->listed) {
      differences.push_back("patcher_files_version names " + Printable(name) +
                            ", which the manifest does not list");
    }
  }
  for (const std::u16string& name : PublishedNames(manifest)) {
    const ManifestFile* known = Known(manifest, name);
    if (known == nullptr) continue;
    const TreeCopy* copy = CopyOf(copies, name);
    if (!known->hash) {
      differences.push_back(Printable(name) + ": the manifest does not know its content");
    } else if (copy == nullptr) {
      differences.push_back(Printable(name) + " is missing from the tree");
    } else if (copy->hash != *known->hash) {
      differences.push_back(Printable(name) + " differs from what was published");
    }
  }
  return differences;
}

}  // namespace publish
