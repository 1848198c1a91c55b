#include "publish/publisher.h"

#include <chrono>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "publish/baseline.h"
#include "publish/build_folder.h"
#include "publish/file_io.h"
#include "publish/list_names.h"
#include "publish/plan.h"
#include "publish/plan_text.h"
#include "publish/release_signing.h"
#include "publish/tree_copies.h"
#include "publish/tree_lock.h"

namespace publish {

namespace {

namespace fs = std::filesystem;

constexpr uint64_t kMebibyte = uint64_t{1} << 20;

struct Paths : TreePaths {
  fs::path build;
};

bool ResolvePaths(const PublishOptions& options, Paths* paths, Failure* failure) {
  if (!ResolveTreePaths(options.releaseTree, options.manifest, paths, failure)) return false;
  paths->build = ResolvedPath(options.buildFolder);
  if (IsWithin(paths->build, paths->tree) || IsWithin(paths->tree, paths->build)) {
    return Fail(failure, ExitCode::kUsage,
                "the build folder and the release tree must not overlap");
  }
  // Inside the tree the server would hand it out; inside the build folder
  // it would be published as an accompanying file.
  if (IsWithin(paths->manifest, paths->tree) || IsWithin(paths->manifest, paths->build)) {
    return Fail(failure, ExitCode::kUsage,
                "keep the manifest outside the release tree and the build folder");
  }
  return true;
}

bool HashSources(const std::vector<SourceFile*>& sources, std::FILE* progressOut,
                 Failure* failure) {
  uint64_t bytes = 0;
  for (const SourceFile* source : sources) bytes += source->stamp.size;
  Progress progress(progressOut, "hashing the build", sources.size(), bytes);
  for (SourceFile* source : sources) {
    platform::Sha256Digest digest{};
    if (!HashFile(source->path, Origin::kBuild, &progress, &digest, failure)) {
      return false;
    }
    source->hash = digest;
    progress.FileDone();
  }
  progress.Finish();
  return true;
}

// The nearest folder of `path` that exists, for the free space there.
fs::path ExistingFolder(fs::path path) {
  std::error_code error;
  while (!fs::is_directory(path, error) && path.has_relative_path()) path = path.parent_path();
  return path;
}

// Until the renames, every staged copy lies beside the file it replaces,
// so each byte to copy counts once in full.
bool CheckSpace(const Plan& plan, const Paths& paths, Failure* failure) {
  const uint64_t needed = plan.CopyBytes() + plan.listText.size() + plan.recordText.size();
  std::error_code error;
  const fs::space_info space = fs::space(ExistingFolder(paths.tree), error);
  if (error || space.available >= needed) return true;
  return Fail(failure, ExitCode::kNoSpace,
              "the release tree needs " + std::to_string((needed + kMebibyte - 1) / kMebibyte) +
                  " MiB, " + std::to_string(space.available / kMebibyte) + " MiB are free there");
}

bool WriteManifest(const fs::path& path, const Manifest& manifest, const PublishOptions& options,
                   Failure* failure) {
  std::string text;
  if (!FormatManifest(manifest, options.codePage, &text)) {
    return Fail(failure, ExitCode::kUnsafeName,
                "a name has no form in code page " + std::to_string(options.codePage));
  }
  return WriteIntoPlace(path, text, options.rename, failure);
}

// Temporary files a stopped run left; no other run is under way.
void RemoveStaleTemporaries(const fs::path& tree) {
  std::error_code error;
  std::vector<fs::path> stale;
  for (fs::recursive_directory_iterator it(tree, error), end; !error && it != end;
       it.increment(error)) {
    const std::string name = it->path().filename().string();
    if (name.size() > std::char_traits<char>::length(kTemporarySuffix) &&
        name.ends_with(kTemporarySuffix) && it->is_regular_file(error)) {
      stale.push_back(it->path());
    }
  }
  for (const fs::path& path : stale) RemoveTreeFile(path);
}

bool StageCopies(const Plan& plan, const Paths& paths, const PublishOptions& options,
                 Manifest* target, std::vector<StagedFile>* staged, Failure* failure) {
  const std::vector<const PlannedFile*> copies = plan.Copies();
  Progress progress(options.progress, "copying", copies.size(), plan.CopyBytes());
  for (const PlannedFile* copy : copies) {
    staged->emplace_back(PathBelow(paths.tree, copy->name, options.codePage));
    platform::Sha256Digest copied{};
    if (!StageCopy(*copy->source, copy->copyTime, &staged->back(), &progress, &copied, failure)) {
      return false;
    }
    FileEntry(target, copy->name).hash = copied;
    progress.FileDone();
  }
  progress.Finish();
  if (!SyncStagedFiles(paths.tree)) {
    return FailWrite(failure, "cannot put the copies on the disk",
                     std::error_code(errno, std::generic_category()));
  }
  return true;
}

// The signed manifest of the plan's release, with `target`'s hashes; fails
// while the content of a file still to copy is unknown.
bool SignedText(const Plan& plan, const Manifest& target, CodePage codePage, std::string* text,
                Failure* failure) {
  return ReleaseManifestText(target, codePage, plan.recordText, plan.listText, text, failure);
}

// Signed anew unless the tree serves this very manifest already; content
// first known while copying means there is copying to do anyway.
Signing DecideSigning(const Plan& plan, const fs::path& tree, CodePage codePage,
                      const SigningKey* key) {
  if (key == nullptr) return Signing::kUnsigned;
  std::string text;
  Failure unknown;
  return SignedText(plan, plan.target, codePage, &text, &unknown) &&
                 SignedManifestInPlace(tree, text, codePage, *key)
             ? Signing::kInPlace
             : Signing::kAnew;
}

// Until no edge cache can hold a copy older than what was written before.
void Settle(const Plan& plan, Step step, const PublishOptions& options) {
  if (!plan.SettlesBefore(step)) return;
  Say(options.out, WaitText(plan, step));
  options.sleep(plan.settleSeconds);
}

bool ChangeTree(const Plan& plan, const Paths& paths, const PublishOptions& options,
                const SigningKey& key, Manifest* target, Failure* failure) {
  if (!CheckSpace(plan, paths, failure) || !CreateFolders(paths.tree, failure)) return false;
  RemoveStaleTemporaries(paths.tree);

  std::vector<StagedFile> staged;
  staged.reserve(plan.Copies().size());
  if (!StageCopies(plan, paths, options, target, &staged, failure)) return false;
  Manifest journal = *target;
  journal.complete = false;
  for (const PlannedFile* copy : plan.Copies()) journal.pending.insert(copy->name);
  if (!WriteManifest(paths.manifest, journal, options, failure)) return false;
  // One burst: a player still on the old record meets new bytes only
  // within these renames.
  for (StagedFile& file : staged) {
    if (!file.SwitchIntoPlace(options.rename, failure)) return false;
  }
  // Before the list and the record: a launcher that reads the new record
  // finds the manifest that vouches for it, behind caches too (the wait
  // before the record). A launcher takes a manifest only with its own
  // record, so the new one never meets an older list in use.
  Settle(plan, Step::kList, options);
  std::string signedText;
  if (plan.signing == Signing::kAnew &&
      (!SignedText(plan, *target, options.codePage, &signedText, failure) ||
       !WriteSignedManifest(paths.tree, signedText, key, options.rename, failure))) {
    return false;
  }
  if (plan.writeList &&
      !WriteIntoPlace(paths.tree / kFileListName, plan.listText, options.rename, failure)) {
    return false;
  }
  Settle(plan, Step::kRecord, options);
  if (plan.writeRecord &&
      !WriteIntoPlace(paths.tree / kVersionRecordName, plan.recordText, options.rename, failure)) {
    return false;
  }
  // Only now that the new list is live does no player need these files.
  Settle(plan, Step::kPrune, options);
  for (const std::u16string& name : plan.prune) {
    const fs::path path = PathBelow(paths.tree, name, options.codePage);
    if (!RemoveTreeFile(path)) {
      return FailWrite(failure, "cannot delete " + PrintablePath(path), LastError());
    }
  }
  return true;
}

// Reads the build, the last release and the tree, and plans.
bool PlanPublish(const Paths& paths, const PublishOptions& options, const SigningKey* key,
                 BuildContent* build, Plan* plan, Failure* failure) {
  Manifest baseline;
  bool fromManifest = false;
  std::vector<std::string> notes;
  TreeVersions shown;
  if (!ScanBuildFolder(paths.build, options.codePage, build, failure)) return false;
  // Launchers built with the key fetch their own copy into every fresh
  // install, and only a signed one.
  if (key != nullptr && !build->launcher) {
    return Fail(failure, ExitCode::kBuildUnreadable,
                "a signed release needs the launcher: the build folder " +
                    PrintablePath(paths.build) + " holds no " + Printable(kLauncherFileName) +
                    ", so every fresh install would fail to fetch it");
  }
  if (!LoadBaseline(paths.tree, paths.manifest, options.codePage, options.rebuildManifest,
                    options.progress, &baseline, &fromManifest, &notes, failure) ||
      !ReadTreeVersions(paths.tree, options.codePage, &shown, failure)) {
    return false;
  }
  std::vector<std::u16string> names;
  for (const SourceFile* file : AllFiles(build)) names.push_back(file->name);
  TreeCopies copies;
  // What is signed must be what is served: a copy changed with its size and
  // time put back is read, not trusted by its stamp.
  const bool read = key != nullptr ? HashTreeCopies(paths.tree, options.codePage, names,
                                                    options.progress, &copies, failure)
                                   : CheckTreeCopies(paths.tree, options.codePage, baseline, names,
                                                     options.progress, &copies, failure);
  if (!read || !HashSources(FilesToHashFirst(build, baseline, copies), options.progress, failure)) {
    return false;
  }
  const std::set<std::u16string> present =
      options.prune ? PresentNames(paths.tree, options.codePage, baseline, shown)
                    : std::set<std::u16string>();
  const PlanInput input{build,           &baseline,       fromManifest,
                        &shown,          &copies,         &present,
                        options.second,  options.prune,   options.settleSeconds,
                        options.mirrors, options.codePage};
  if (!MakePlan(input, plan, failure)) return false;
  plan->notes = std::move(notes);
  plan->signing = DecideSigning(*plan, paths.tree, options.codePage, key);
  return true;
}

}  // namespace

void SleepSeconds(uint32_t seconds) { std::this_thread::sleep_for(std::chrono::seconds(seconds)); }

bool Publish(const PublishOptions& options, Failure* failure) {
  Paths paths;
  if (!ResolvePaths(options, &paths, failure)) return false;
  FileLock lock;
  if (!TakeTreeLock(paths, !options.dryRun, &lock, failure)) return false;

  SigningKey key;
  std::string keyProblem;
  if (!options.signingKey.empty() && !key.Load(options.signingKey, &keyProblem)) {
    return Fail(failure, ExitCode::kUsage, keyProblem);
  }
  BuildContent build;
  Plan plan;
  if (!PlanPublish(paths, options, options.signingKey.empty() ? nullptr : &key, &build, &plan,
                   failure)) {
    return false;
  }
  Say(options.out, "velkaris-publish: " + PrintablePath(paths.build) + " -> " +
                       PrintablePath(paths.tree) + "\n  manifest " + PrintablePath(paths.manifest) +
                       "\n" + DescribePlan(plan));
  // Launchers built with the key never go below a release they took: a
  // number raised in the tree and then signed would hold them there.
  if (!options.signingKey.empty() && plan.jumpedFrom && !options.acceptTreeNumber) {
    return Fail(failure, ExitCode::kTreeUnreadable,
                "the tree's patcher_version (" + std::to_string(plan.shown.first) +
                    ") is above the last release this tool published (" +
                    std::to_string(*plan.jumpedFrom) +
                    "): it was raised by hand or written by someone else, and launchers with the "
                    "key would refuse every release below the one signed past it. Check the tree "
                    "(--verify); to sign past it, give --accept-tree-number");
  }
  if (options.dryRun) {
    Say(options.out, "dry run: nothing was written\n");
    return true;
  }
  if (!plan.TouchesTree() && !plan.writeManifest) {
    Say(options.out, "nothing to publish: the release tree is up to date\n");
    return true;
  }
  Manifest target = plan.target;
  if (plan.TouchesTree() && !ChangeTree(plan, paths, options, key, &target, failure)) return false;
  if (!WriteManifest(paths.manifest, target, options, failure)) return false;
  Say(options.out, "published: patcher_version " + std::to_string(target.first) + "\n");
  return true;
}

}  // namespace publish
