#include "publish/publisher.h"

#include <algorithm>
#include <string>
#include <vector>

#include "publish/build_folder.h"
#include "publish/file_io.h"
#include "publish/list_names.h"
#include "publish/plan.h"
#include "publish/release_signing.h"

namespace publish {

namespace {

namespace fs = std::filesystem;

constexpr uint64_t kMebibyte = uint64_t{1} << 20;

struct Paths {
  fs::path build;
  fs::path tree;
  fs::path manifest;
};

// Absolute, with links resolved as far as the path exists, so that two
// names for one folder are recognised.
fs::path Resolved(const fs::path& path) {
  std::error_code error;
  const fs::path absolute = fs::absolute(path, error).lexically_normal();
  const fs::path canonical = fs::weakly_canonical(absolute, error);
  return error ? absolute : canonical;
}

bool ResolvePaths(const PublishOptions& options, Paths* paths, Failure* failure) {
  paths->tree = Resolved(options.releaseTree);
  paths->manifest =
      options.manifest.empty() ? DefaultManifestPath(paths->tree) : Resolved(options.manifest);
  if (paths->manifest.empty()) {
    return Fail(failure, ExitCode::kUsage,
                "the release tree has no name to put its manifest beside; give --manifest");
  }
  if (options.verify) return true;
  paths->build = Resolved(options.buildFolder);
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

// Runs that write take the lock, creating it; the others only respect a
// lock that exists, so that they write nothing at all.
bool TakeLock(const Paths& paths, bool writes, FileLock* lock, Failure* failure) {
  const fs::path path = LockPath(paths.manifest);
  if (writes && !CreateFolders(path.parent_path(), failure)) return false;
  switch (lock->Take(path, writes)) {
    case FileLock::Result::kLocked:
    case FileLock::Result::kMissing:
      return true;
    case FileLock::Result::kHeld:
      return Fail(failure, ExitCode::kLockHeld,
                  "another run is publishing into " + PrintablePath(paths.tree) + " (it holds " +
                      PrintablePath(path) + "); try again when it has finished");
    case FileLock::Result::kFailed:
      break;
  }
  return Fail(failure, ExitCode::kWriteFailed,
              "cannot take the lock " + PrintablePath(path) + ": " +
                  std::error_code(errno, std::generic_category()).message());
}

bool HashSources(const std::vector<SourceFile*>& sources, std::FILE* progressOut,
                 Failure* failure) {
  uint64_t bytes = 0;
  for (const SourceFile* source : sources) bytes += source->stamp.size;
  Progress progress(progressOut, "hashing the build", sources.size(), bytes);
  for (SourceFile* source : sources) {
    Sha256Digest digest{};
    if (!HashFile(source->path, ExitCode::kBuildUnreadable, &progress, &digest, failure)) {
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
  for (const fs::path& path : stale) fs::remove(path, error);
}

bool StageCopies(const Plan& plan, const Paths& paths, const PublishOptions& options,
                 Manifest* target, std::vector<StagedFile>* staged, Failure* failure) {
  const std::vector<const PlannedFile*> copies = plan.Copies();
  Progress progress(options.progress, "copying", copies.size(), plan.CopyBytes());
  for (const PlannedFile* copy : copies) {
    staged->emplace_back(PathBelow(paths.tree, copy->name));
    Sha256Digest copied{};
    if (!StageCopy(*copy->source, &staged->back(), &progress, &copied, failure)) return false;
    ManifestFile& entry = copy->name == kPatcherFileName    ? *target->patcher
                          : copy->name == kLauncherFileName ? *target->launcher
                                                        : target->files[copy->name];
    entry.hash = copied;
    progress.FileDone();
  }
  progress.Finish();
  if (!SyncStagedFiles(paths.tree)) {
    return FailWrite(failure, "cannot put the copies on the disk",
                     std::error_code(errno, std::generic_category()));
  }
  return true;
}

bool ChangeTree(const Plan& plan, const Paths& paths, const PublishOptions& options,
                const SigningKey* signingKey, Manifest* target, Failure* failure) {
  if (!CheckSpace(plan, paths, failure) || !CreateFolders(paths.tree, failure)) return false;
  RemoveStaleTemporaries(paths.tree);

  std::vector<StagedFile> staged;
  staged.reserve(plan.Copies().size());
  if (!StageCopies(plan, paths, options, target, &staged, failure)) return false;
  Manifest journal = *target;
  journal.complete = false;
  for (const PlannedFile* copy : plan.Copies()) journal.pending.insert(copy->name);
  if (!WriteIntoPlace(paths.manifest, FormatManifest(journal), options.rename, failure))
    return false;
  // One burst: a player still on the old record meets new bytes only
  // within these renames.
  for (StagedFile& file : staged) {
    if (!file.SwitchIntoPlace(options.rename, failure)) return false;
  }
  // Before the list and the record: a launcher that reads the new record
  // finds the manifest that vouches for it.
  std::string signedText;
  if (signingKey != nullptr &&
      (!ReleaseManifestText(*target, plan.recordText, plan.listText, &signedText, failure) ||
       (!SignedManifestInPlace(paths.tree, signedText, *signingKey) &&
        !WriteSignedManifest(paths.tree, signedText, *signingKey, options.rename, failure)))) {
    return false;
  }
  if (plan.writeList &&
      !WriteIntoPlace(paths.tree / kFileListName, plan.listText, options.rename, failure)) {
    return false;
  }
  if (plan.writeRecord &&
      !WriteIntoPlace(paths.tree / kVersionRecordName, plan.recordText, options.rename, failure)) {
    return false;
  }
  // Only now that the new list is live does no player need these files.
  for (const std::u16string& name : plan.prune) {
    std::error_code error;
    const fs::path path = PathBelow(paths.tree, name);
    if (fs::remove(path, error); error)
      return FailWrite(failure, "cannot delete " + PrintablePath(path), error);
  }
  return true;
}

void Say(std::FILE* out, const std::string& text) {
  if (out == nullptr) return;
  std::fputs(text.c_str(), out);
  std::fflush(out);
}

bool Verify(const Paths& paths, const PublishOptions& options, Failure* failure) {
  Manifest manifest;
  bool fromManifest = false;
  std::vector<std::string> notes;
  if (!LoadBaseline(paths.tree, paths.manifest, false, options.progress, &manifest, &fromManifest,
                    &notes, failure)) {
    return false;
  }
  if (!fromManifest) {
    return Fail(failure, ExitCode::kTreeUnreadable,
                "there is no manifest " + PrintablePath(paths.manifest) + " to verify against");
  }
  TreeVersions shown;
  TreeCopies copies;
  if (!ReadTreeVersions(paths.tree, &shown, failure) ||
      !HashTreeCopies(paths.tree, PublishedNames(manifest), options.progress, &copies, failure)) {
    return false;
  }
  const std::vector<std::string> differences = TreeDifferences(manifest, shown, copies);
  std::string text = "velkaris-publish: " + PrintablePath(paths.tree) + " against " +
                     PrintablePath(paths.manifest) + "\n";
  for (const std::string& line : differences) text += "  " + line + "\n";
  if (differences.empty()) {
    Say(options.out, text + "the tree is as the manifest records it\n");
    return true;
  }
  Say(options.out, text);
  return Fail(
      failure, ExitCode::kTreeDiffers,
      std::to_string(differences.size()) + " difference(s) between the tree and the manifest");
}

}  // namespace

bool Publish(const PublishOptions& options, Failure* failure) {
  Paths paths;
  if (!ResolvePaths(options, &paths, failure)) return false;
  const bool writes = !options.dryRun && !options.verify;
  FileLock lock;
  if (!TakeLock(paths, writes, &lock, failure)) return false;
  if (options.verify) return Verify(paths, options, failure);

  SigningKey key;
  std::string keyProblem;
  if (!options.signingKey.empty() && !key.Load(options.signingKey, &keyProblem)) {
    return Fail(failure, ExitCode::kUsage, keyProblem);
  }
  const SigningKey* signingKey = options.signingKey.empty() ? nullptr : &key;
  BuildContent build;
  Manifest baseline;
  bool fromManifest = false;
  std::vector<std::string> notes;
  TreeVersions shown;
  if (!ScanBuildFolder(paths.build, &build, failure) ||
      !LoadBaseline(paths.tree, paths.manifest, options.rebuildManifest, options.progress,
                    &baseline, &fromManifest, &notes, failure) ||
      !ReadTreeVersions(paths.tree, &shown, failure)) {
    return false;
  }
  std::vector<std::u16string> names = {build.patcher.name};
  if (build.launcher) names.push_back(build.launcher->name);
  for (const SourceFile& file : build.files) names.push_back(file.name);
  TreeCopies copies;
  if (!CheckTreeCopies(paths.tree, baseline, names, options.progress, &copies, failure) ||
      !HashSources(FilesToHashFirst(&build, baseline, copies), options.progress, failure)) {
    return false;
  }
  Plan plan;
  const PlanInput input{&build,  &baseline,  fromManifest,   &shown,
                        &copies, paths.tree, options.second, options.prune};
  if (!MakePlan(input, &plan, failure)) return false;
  plan.notes = std::move(notes);
  // Signed anew unless the tree serves this very manifest already; content
  // first known while copying means there is copying to do anyway.
  std::string signedText;
  Failure unknown;
  const bool signNeeded =
      signingKey != nullptr &&
      (!ReleaseManifestText(plan.target, plan.recordText, plan.listText, &signedText, &unknown) ||
       !SignedManifestInPlace(paths.tree, signedText, key));

  Say(options.out, "velkaris-publish: " + PrintablePath(paths.build) + " -> " +
                       PrintablePath(paths.tree) + "\n  manifest " + PrintablePath(paths.manifest) +
                       "\n" + DescribePlan(plan) +
                       (signingKey == nullptr ? ""
                        : signNeeded          ? "  release_manifest: signed anew\n"
                                              : "  release_manifest: signed, as in the tree\n"));
  if (options.dryRun) {
    Say(options.out, "dry run: nothing was written\n");
    return true;
  }
  if (!plan.TouchesTree() && !plan.writeManifest && !signNeeded) {
    Say(options.out, "nothing to publish: the release tree is up to date\n");
    return true;
  }
  Manifest target = plan.target;
  if ((plan.TouchesTree() || signNeeded) &&
      !ChangeTree(plan, paths, options, signingKey, &target, failure)) {
    return false;
  }
  if (!WriteIntoPlace(paths.manifest, FormatManifest(target), options.rename, failure))
    return false;
  Say(options.out, "published: patcher_version " + std::to_string(target.first) + "\n");
  return true;
}

}  // namespace publish
