#include "publish/publisher.h"

#include <algorithm>
#include <string>
#include <vector>

#include "publish/build_folder.h"
#include "publish/list_names.h"
#include "publish/plan.h"

namespace publish {

namespace {

namespace fs = std::filesystem;

constexpr uint64_t kMebibyte = uint64_t{1} << 20;

struct Paths {
  fs::path build;
  fs::path tree;
  fs::path manifest;
};

// True when `inner` is `outer` or lies below it.
bool IsWithin(const fs::path& inner, const fs::path& outer) {
  auto innerPart = inner.begin();
  for (const fs::path& outerPart : outer) {
    if (outerPart.empty()) continue;  // a trailing separator
    if (innerPart == inner.end() || *innerPart != outerPart) return false;
    ++innerPart;
  }
  return true;
}

// Absolute, with links resolved as far as the path exists, so that two
// names for one folder are recognised.
fs::path Resolved(const fs::path& path) {
  std::error_code error;
  const fs::path absolute = fs::absolute(path, error).lexically_normal();
  const fs::path canonical = fs::weakly_canonical(absolute, error);
  return error ? absolute : canonical;
}

bool ResolvePaths(const PublishOptions& options, Paths* paths, Failure* failure) {
  paths->build = Resolved(options.buildFolder);
  paths->tree = Resolved(options.releaseTree);
  paths->manifest =
      options.manifest.empty() ? DefaultManifestPath(paths->tree) : Resolved(options.manifest);
  if (paths->manifest.empty()) {
    return Fail(failure, ExitCode::kUsage,
                "the release tree has no name to put its manifest beside; give --manifest");
  }
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

bool HashBuild(BuildContent* build, std::FILE* progressOut, Failure* failure) {
  std::vector<SourceFile*> sources = {&build->patcher};
  if (build->launcher) sources.push_back(&*build->launcher);
  uint64_t bytes = build->patcher.size + (build->launcher ? build->launcher->size : 0);
  for (SourceFile& file : build->files) {
    sources.push_back(&file);
    bytes += file.size;
  }
  Progress progress(progressOut, "hashing the build", sources.size(), bytes);
  for (SourceFile* source : sources) {
    if (!HashFile(source->path, ExitCode::kBuildUnreadable, &progress, &source->hash, failure)) {
      return false;
    }
    progress.FileDone();
  }
  progress.Finish();
  return true;
}

// Room for every copy's growth, one whole new file beside its old one
// until the rename, and the version files.
bool CheckSpace(const Plan& plan, const Paths& paths, Failure* failure) {
  uint64_t needed = plan.listText.size() + plan.recordText.size();
  uint64_t largest = 0;
  for (const PlannedFile* copy : plan.Copies()) {
    const uint64_t size = copy->source->size;
    const uint64_t old = copy->treeSize.value_or(0);
    needed += size > old ? size - old : 0;
    largest = std::max(largest, size);
  }
  needed += largest;
  std::error_code error;
  const fs::space_info space = fs::space(paths.tree, error);
  if (error || space.available >= needed) return true;
  return Fail(failure, ExitCode::kNoSpace,
              "the release tree needs " + std::to_string(needed / kMebibyte + 1) + " MiB, " +
                  std::to_string(space.available / kMebibyte) + " MiB are free there");
}

bool ChangeTree(const Plan& plan, const Paths& paths, const PublishOptions& options,
                Failure* failure) {
  std::error_code error;
  fs::create_directories(paths.tree, error);
  if (error)
    return FailWrite(failure, "cannot create the release tree " + PrintablePath(paths.tree), error);
  if (!CheckSpace(plan, paths, failure)) return false;

  const std::vector<const PlannedFile*> copies = plan.Copies();
  Manifest journal = plan.target;
  journal.complete = false;
  for (const PlannedFile* copy : copies) journal.pending.insert(copy->name);
  if (!WriteIntoPlace(paths.manifest, FormatManifest(journal), options.rename, failure))
    return false;

  Progress progress(options.progress, "copying", copies.size(), plan.CopyBytes());
  for (const PlannedFile* copy : copies) {
    if (!CopyIntoPlace(copy->source->path, PathBelow(paths.tree, copy->name), copy->source->hash,
                       options.rename, &progress, failure)) {
      return false;
    }
    progress.FileDone();
  }
  progress.Finish();
  if (plan.writeList &&
      !WriteIntoPlace(paths.tree / kFileListName, plan.listText, options.rename, failure)) {
    return false;
  }
  if (plan.writeRecord &&
      !WriteIntoPlace(paths.tree / kVersionRecordName, plan.recordText, options.rename, failure)) {
    return false;
  }
  for (const std::u16string& name : plan.prune) {
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

}  // namespace

bool Publish(const PublishOptions& options, Failure* failure) {
  Paths paths;
  if (!ResolvePaths(options, &paths, failure)) return false;
  BuildContent build;
  if (!ScanBuildFolder(paths.build, &build, failure)) return false;
  Manifest baseline;
  bool fromManifest = false;
  std::vector<std::string> notes;
  if (!LoadBaseline(paths.tree, paths.manifest, options.progress, &baseline, &fromManifest, &notes,
                    failure) ||
      !HashBuild(&build, options.progress, failure)) {
    return false;
  }
  Plan plan;
  const PlanInput input{&build, &baseline, fromManifest, paths.tree, options.second, options.prune};
  if (!MakePlan(input, &plan, failure)) return false;
  plan.notes = std::move(notes);

  Say(options.out, "velkaris-publish: " + PrintablePath(paths.build) + " -> " +
                       PrintablePath(paths.tree) + "\n  manifest " + PrintablePath(paths.manifest) +
                       "\n" + DescribePlan(plan));
  if (options.dryRun) {
    Say(options.out, "dry run: nothing was written\n");
    return true;
  }
  if (!plan.TouchesTree() && !plan.writeManifest) {
    Say(options.out, "nothing to publish: the release tree is up to date\n");
    return true;
  }
  if (plan.TouchesTree() && !ChangeTree(plan, paths, options, failure)) return false;
  if (!WriteIntoPlace(paths.manifest, FormatManifest(plan.target), options.rename, failure))
    return false;
  Say(options.out, "published: patcher_version " + std::to_string(plan.target.first) + "\n");
  return true;
}

}  // namespace publish
