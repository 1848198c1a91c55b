#include "publish/plan.h"

#include <algorithm>
#include <cstdio>
#include <limits>

#include "patcher/version_files.h"
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

std::optional<uint64_t> TreeFileSize(const fs::path& path) {
  std::error_code error;
  const uint64_t size = fs::file_size(path, error);
  if (error) return std::nullopt;
  return size;
}

// The tree's copy of a file whose content did not change: an interrupted
// publish may have left it half-way, or it went missing from the tree.
Change CheckUnchangedCopy(const Manifest& baseline, const SourceFile& source,
                          const std::optional<uint64_t>& treeSize) {
  if (!baseline.complete && baseline.pending.count(source.name) != 0) return Change::kRewritten;
  return treeSize == source.size ? Change::kUnchanged : Change::kRestored;
}

// The patcher and the launcher copy: compared by hash, never listed.
PlannedFile PlanExecutable(const SourceFile& source, const std::optional<Sha256Digest>& known,
                           const Manifest& baseline, const fs::path& tree) {
  PlannedFile planned;
  planned.name = source.name;
  planned.source = &source;
  planned.treeSize = TreeFileSize(PathBelow(tree, source.name));
  if (!known) {
    planned.change = Change::kNew;
  } else if (*known != source.hash) {
    planned.change = Change::kChanged;
  } else {
    planned.change = CheckUnchangedCopy(baseline, source, planned.treeSize);
  }
  return planned;
}

bool PlanListedFile(const SourceFile& source, const Manifest& baseline, const fs::path& tree,
                    PlannedFile* planned, Failure* failure) {
  planned->name = source.name;
  planned->source = &source;
  planned->treeSize = TreeFileSize(PathBelow(tree, source.name));
  const auto known = baseline.files.find(source.name);
  if (known == baseline.files.end()) {
    planned->change = Change::kNew;
    planned->newNumber = kFirstFileNumber;
    return true;
  }
  const ManifestFile& old = known->second;
  if (old.listed) planned->oldNumber = old.number;
  if (old.listed && old.hash == source.hash) {
    planned->change = CheckUnchangedCopy(baseline, source, planned->treeSize);
    planned->newNumber = old.number;
    return true;
  }
  // A name that comes back continues past its old number: a player who
  // missed its removal still holds that number and must fetch it again.
  planned->change = old.listed ? Change::kChanged : Change::kNew;
  if (old.number == kMaxFileNumber) {
    return Fail(failure, ExitCode::kTreeUnreadable,
                "the number of " + Printable(source.name) + " cannot rise past " +
                    std::to_string(kMaxFileNumber));
  }
  planned->newNumber = old.number + 1;
  return true;
}

// Any other first number tells the launcher to update; 0 is skipped because
// a new installation records 0 and would then never update.
int32_t NextFirstNumber(int32_t first) {
  uint32_t next = static_cast<uint32_t>(first) + 1;
  if (next == 0) next = 1;
  return static_cast<int32_t>(next);
}

bool IsRelease(Change change) { return change == Change::kChanged || change == Change::kNew; }

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
  std::string text;
  SmallFile read = ReadSmallFile(tree / kVersionRecordName, kMaxRecordBytes, &text, failure);
  if (read == SmallFile::kFailed) return false;
  ParseVersionRecord(text, &baseline->first, &baseline->second);
  read = ReadSmallFile(tree / kFileListName, kMaxListBytes, &text, failure);
  if (read == SmallFile::kFailed) return false;
  FileVersionMap listed;
  if (!ParseFileVersions(text, &listed)) {
    return Fail(failure, ExitCode::kTreeUnreadable,
                "the tree's file version list holds more entries than the launcher reads");
  }

  // Every present file of the last release is hashed once, to compare the
  // build with; a missing one has unknown content and counts as changed.
  std::vector<std::pair<std::u16string, fs::path>> present;
  uint64_t bytes = 0;
  const auto addIfPresent = [&](const std::u16string& name) {
    const fs::path path = PathBelow(tree, name);
    std::error_code error;
    if (!fs::is_regular_file(path, error)) return;
    bytes += TreeFileSize(path).value_or(0);
    present.emplace_back(name, path);
  };
  addIfPresent(kPatcherFileName);
  addIfPresent(kLauncherFileName);
  for (const auto& [name, number] : listed) {
    if (const std::string problem = ListNameProblem(name); !problem.empty()) {
      notes->push_back("the tree's list names " + Printable(name) + ", which " + problem +
                       "; it is left out");
      continue;
    }
    baseline->files[name] = ManifestFile{number, true, std::nullopt};
    addIfPresent(name);
  }
  Progress progress(progressOut, "hashing the release tree", present.size(), bytes);
  for (const auto& [name, path] : present) {
    Sha256Digest digest{};
    if (!HashFile(path, ExitCode::kTreeUnreadable, &progress, &digest, failure)) return false;
    if (name == kPatcherFileName) {
      baseline->patcher = digest;
    } else if (name == kLauncherFileName) {
      baseline->launcher = digest;
    } else {
      baseline->files[name].hash = digest;
    }
    progress.FileDone();
  }
  progress.Finish();
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
    case Change::kRestored:
      return "restored";
    case Change::kRewritten:
      return "rewritten";
    case Change::kRemoved:
      return "removed";
  }
  return "";
}

std::string Explanation(Change change) {
  switch (change) {
    case Change::kRestored:
      return " (the tree's copy was missing or incomplete)";
    case Change::kRewritten:
      return " (an interrupted publish may have left it unfinished)";
    case Change::kRemoved:
      return " (dropped from the list; the file stays in the tree unless --prune)";
    default:
      return "";
  }
}

}  // namespace

bool Plan::TouchesTree() const {
  return !Copies().empty() || writeList || writeRecord || !prune.empty();
}

uint64_t Plan::CopyBytes() const {
  uint64_t bytes = 0;
  for (const PlannedFile* copy : Copies()) bytes += copy->source->size;
  return bytes;
}

std::vector<const PlannedFile*> Plan::Copies() const {
  std::vector<const PlannedFile*> copies;
  for (const PlannedFile& file : files) {
    if (file.Writes()) copies.push_back(&file);
  }
  if (patcher.Writes()) copies.push_back(&patcher);
  if (launcher && launcher->Writes()) copies.push_back(&*launcher);
  return copies;
}

bool LoadBaseline(const fs::path& tree, const fs::path& manifestPath, std::FILE* progressOut,
                  Manifest* baseline, bool* fromManifest, std::vector<std::string>* notes,
                  Failure* failure) {
  *baseline = Manifest();
  std::string text;
  const SmallFile read = ReadSmallFile(manifestPath, kMaxManifestBytes, &text, failure);
  *fromManifest = read == SmallFile::kRead;
  if (read == SmallFile::kFailed) return false;
  if (read == SmallFile::kMissing) return AdoptTree(tree, progressOut, baseline, notes, failure);
  std::string problem;
  if (!ParseManifest(text, baseline, &problem)) {
    return Fail(failure, ExitCode::kTreeUnreadable,
                "the manifest " + PrintablePath(manifestPath) + " is damaged (" + problem +
                    "); move it away to rebuild it from the release tree");
  }
  return true;
}

bool MakePlan(const PlanInput& input, Plan* plan, Failure* failure) {
  const Manifest& baseline = *input.baseline;
  const BuildContent& build = *input.build;
  *plan = Plan();
  plan->interrupted = !baseline.complete;
  plan->oldFirst = baseline.first;
  plan->oldSecond = baseline.second;
  Manifest& target = plan->target;
  target.launcher = baseline.launcher;

  plan->patcher = PlanExecutable(build.patcher, baseline.patcher, baseline, input.tree);
  target.patcher = build.patcher.hash;
  if (build.launcher) {
    plan->launcher = PlanExecutable(*build.launcher, baseline.launcher, baseline, input.tree);
    target.launcher = build.launcher->hash;
  }

  bool released = IsRelease(plan->patcher.change);
  FileVersionMap list;
  for (const SourceFile& source : build.files) {
    PlannedFile planned;
    if (!PlanListedFile(source, baseline, input.tree, &planned, failure)) return false;
    released = released || IsRelease(planned.change);
    target.files[source.name] = ManifestFile{planned.newNumber, true, source.hash};
    list.emplace(source.name, planned.newNumber);
    plan->files.push_back(std::move(planned));
  }
  for (const auto& [name, old] : baseline.files) {
    if (target.files.count(name) != 0) continue;
    // Kept so a name that comes back is numbered past this one.
    target.files[name] = ManifestFile{old.number, false, std::nullopt};
    if (old.listed) {
      PlannedFile removed;
      removed.name = name;
      removed.change = Change::kRemoved;
      removed.oldNumber = old.number;
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
  plan->writeManifest = !input.baselineFromManifest || !(target == baseline);
  return true;
}

std::string DescribePlan(const Plan& plan) {
  std::string text;
  for (const std::string& note : plan.notes) text += "  note: " + note + "\n";
  if (plan.interrupted) text += "  the last publish was interrupted; this one completes it\n";
  text += "  patcher_version: " + std::to_string(plan.oldFirst) + " -> " +
          std::to_string(plan.target.first) + ", second number " + std::to_string(plan.oldSecond) +
          " -> " + std::to_string(plan.target.second) + "\n";
  for (const PlannedFile* executable : {&plan.patcher, plan.launcher ? &*plan.launcher : nullptr}) {
    if (executable == nullptr) continue;
    text += "  " + Printable(executable->name) + ": " + ChangeWord(executable->change) +
            Explanation(executable->change) + "\n";
  }
  size_t unchanged = 0;
  std::string lines;
  for (const PlannedFile& file : plan.files) {
    if (file.change == Change::kUnchanged) {
      ++unchanged;
      continue;
    }
    const std::string old = file.oldNumber ? std::to_string(*file.oldNumber) : "-";
    const std::string numbers =
        file.change == Change::kRemoved ? old : old + " -> " + std::to_string(file.newNumber);
    lines += "    " + std::string(ChangeWord(file.change)) + " " + Printable(file.name) + " " +
             numbers + Explanation(file.change) + "\n";
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

}  // namespace publish
