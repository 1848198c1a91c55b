#include "publish/plan.h"

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <limits>

#include "publish/list_names.h"

namespace publish {

namespace {

constexpr uint32_t kFirstFileNumber = 1;
constexpr int64_t kTicksPerSecond =
    std::chrono::duration_cast<std::filesystem::file_time_type::duration>(std::chrono::seconds(1))
        .count();

int64_t WholeSeconds(int64_t ticks) {
  return ticks / kTicksPerSecond - (ticks % kTicksPerSecond < 0 ? 1 : 0);
}

// Servers and caches revalidate a copy by its size and its modification time
// in whole seconds. New bytes under the validators of the copy they replace
// would be answered "not modified", and an edge would keep the old bytes for
// good: such a copy takes the next second instead of the build's time.
int64_t CopyTime(const FileStamp& build, const TreeCopy* copy) {
  if (copy == nullptr || copy->stamp.size != build.size ||
      WholeSeconds(copy->stamp.time) != WholeSeconds(build.time)) {
    return build.time;
  }
  return (WholeSeconds(copy->stamp.time) + 1) * kTicksPerSecond;
}
// The version files hold signed 32-bit text. A raise past the top would
// read as a lower number: launchers built with a key refuse such a record
// as a rollback, and a list number, which launchers compare unsigned, must
// not pass the top of either reading, or players never fetch the file.
constexpr int32_t kTopRecordNumber = std::numeric_limits<int32_t>::max();
constexpr uint32_t kTopSignedListNumber = std::numeric_limits<int32_t>::max();
constexpr uint32_t kTopListNumber = std::numeric_limits<uint32_t>::max();

bool Writes(Change change) { return change != Change::kUnchanged && change != Change::kRemoved; }
bool RaisesNumber(Change change) {
  return change == Change::kChanged || change == Change::kNew || change == Change::kRepaired;
}

const TreeCopy* CopyOf(const TreeCopies& copies, const std::u16string& name) {
  const auto found = copies.find(name);
  return found == copies.end() ? nullptr : &found->second;
}

std::optional<uint32_t> ShownNumber(const TreeVersions& shown, const std::u16string& name) {
  const auto found = shown.list.find(name);
  return found == shown.list.end() ? std::nullopt : std::optional<uint32_t>(found->second);
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
  const ManifestFile* known = FindFile(baseline, source.name);
  const TreeCopy* copy = CopyOf(copies, source.name);
  const bool pending = !baseline.complete && baseline.pending.count(source.name) != 0;
  PlannedFile planned;
  planned.name = source.name;
  planned.source = &source;
  planned.change = Compare(source, known, copy, pending);
  planned.copy =
      Writes(planned.change) && !(copy != nullptr && source.hash && copy->hash == *source.hash);
  planned.newNumber = known == nullptr ? kFirstFileNumber : known->number;
  planned.copyTime = CopyTime(source.stamp, copy);
  entry->listed = true;
  entry->hash = source.hash;
  entry->stamp = planned.copy || copy == nullptr ? FileStamp{source.stamp.size, planned.copyTime}
                                                 : copy->stamp;
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
Manifest MergeShownNumbers(const Manifest& baseline, const TreeVersions& shown, CodePage codePage) {
  Manifest merged = baseline;
  if (shown.recordText) merged.first = std::max(merged.first, shown.first);
  for (const auto& [name, number] : shown.list) {
    if (!ListNameProblem(name, codePage).empty()) continue;
    ManifestFile& file =
        merged.files.try_emplace(name, ManifestFile{number, true, {}, {}}).first->second;
    file.number = std::max(file.number, number);
  }
  return merged;
}

}  // namespace

bool Plan::TouchesTree() const {
  return !Copies().empty() || signing == Signing::kAnew || writeList || writeRecord ||
         !prune.empty();
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

bool Plan::Does(Step step) const {
  switch (step) {
    case Step::kFiles:
      return !Copies().empty();
    case Step::kList:
      return signing == Signing::kAnew || writeList;
    case Step::kRecord:
      return writeRecord;
    case Step::kPrune:
      return !prune.empty();
  }
  return false;
}

bool Plan::SettlesBefore(Step step) const {
  if (settleSeconds == 0 || !Does(step)) return false;
  // What the interrupted run that this one completes wrote may be seconds old.
  const bool filesBefore = interrupted || Does(Step::kFiles);
  switch (step) {
    case Step::kFiles:
      return false;
    case Step::kList:
      return filesBefore;
    case Step::kRecord:
      return filesBefore || Does(Step::kList);
    case Step::kPrune:
      // Only an older list names the files to delete; the wait before the
      // record has let it go already.
      return (writeList || interrupted) && !Does(Step::kRecord);
  }
  return false;
}

uint64_t Plan::SettleTotal() const {
  uint64_t total = 0;
  for (const Step step : {Step::kList, Step::kRecord, Step::kPrune}) {
    if (SettlesBefore(step)) total += settleSeconds;
  }
  return total;
}

std::vector<SourceFile*> FilesToHashFirst(BuildContent* build, const Manifest& baseline,
                                          const TreeCopies& copies) {
  std::vector<SourceFile*> first;
  for (SourceFile* source : AllFiles(build)) {
    const ManifestFile* known = FindFile(baseline, source->name);
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
  const Manifest baseline = MergeShownNumbers(*input.baseline, *input.shown, input.codePage);
  const BuildContent& build = *input.build;
  const TreeCopies& copies = *input.copies;
  *plan = Plan();
  plan->interrupted = !baseline.complete;
  if (input.baselineFromManifest && input.shown->recordText &&
      input.shown->first > input.baseline->first) {
    plan->jumpedFrom = input.baseline->first;
  }
  plan->settleSeconds = input.settleSeconds;
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
    if (RaisesNumber(planned.change) && FindFile(baseline, source.name) != nullptr) {
      // A name that comes back continues past its old number: a player who
      // missed its removal still holds that number and must fetch it again.
      if (planned.newNumber == kTopSignedListNumber || planned.newNumber == kTopListNumber) {
        return Fail(failure, ExitCode::kTreeUnreadable,
                    "the number of " + Printable(source.name) + " in patcher_files_version is " +
                        std::to_string(static_cast<int32_t>(planned.newNumber)) +
                        ", the top of its range: raised, it would wrap to a lower number");
      }
      ++planned.newNumber;
    }
    released = released || RaisesNumber(planned.change);
    planned.shownNumber = ShownNumber(*input.shown, source.name);
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
      removed.shownNumber = ShownNumber(*input.shown, name);
      removed.newNumber = old.number;
      plan->files.push_back(std::move(removed));
    }
    if (input.prune && input.present->count(name) != 0) plan->prune.push_back(name);
  }
  std::sort(plan->files.begin(), plan->files.end(),
            [](const PlannedFile& a, const PlannedFile& b) { return a.name < b.name; });

  if (released && baseline.first == kTopRecordNumber) {
    return Fail(failure, ExitCode::kTreeUnreadable,
                "patcher_version's first number is " + std::to_string(baseline.first) +
                    ", the top of its range: raised, it would wrap to a lower number, which "
                    "launchers refuse as a rollback");
  }
  // A removal alone gives players nothing to fetch, so it is no release.
  target.first = released ? NextFirstNumber(baseline.first) : baseline.first;
  target.second = input.second.value_or(baseline.second);
  // Only the signed manifest names them: a new list signs anew and raises
  // no number.
  target.mirrors = input.mirrors.value_or(baseline.mirrors);
  plan->lastMirrors = baseline.mirrors;
  plan->recordText = FormatVersionRecord(target.first, target.second);
  if (!ListText(list, input.codePage, &plan->listText)) {
    return Fail(failure, ExitCode::kUnsafeName,
                "the file version list cannot be written so that the launcher reads it back "
                "(a name it cannot hold, or more files than it reads)");
  }
  plan->writeList = input.shown->listText != plan->listText;
  plan->writeRecord = input.shown->recordText != plan->recordText;
  plan->writeManifest = !input.baselineFromManifest || !(target == *input.baseline);
  return true;
}

}  // namespace publish
