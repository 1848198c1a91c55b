#include "publish/verify.h"

#include <iterator>
#include <string>
#include <vector>

#include "publish/baseline.h"
#include "publish/list_names.h"
#include "publish/plan_text.h"
#include "publish/progress.h"
#include "publish/tree_copies.h"
#include "publish/tree_lock.h"

namespace publish {

namespace {

// The executables and every listed name.
std::vector<std::u16string> PublishedNames(const Manifest& manifest) {
  std::vector<std::u16string> names(std::begin(kExecutableNames), std::end(kExecutableNames));
  for (const auto& [name, file] : manifest.files) {
    if (file.listed) names.push_back(name);
  }
  return names;
}

// Every way the tree differs from the manifest, one line each; `copies`
// from HashTreeCopies of PublishedNames.
std::vector<std::string> TreeDifferences(const Manifest& manifest, const TreeVersions& shown,
                                         CodePage codePage, const TreeCopies& copies) {
  std::vector<std::string> differences;
  if (!manifest.complete) differences.push_back("the last publish was interrupted; run it again");
  if (!shown.recordText) {
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
  for (const std::string& bytes : shown.undecodable) {
    differences.push_back("patcher_files_version names " + UndecodableName(bytes, codePage));
  }
  for (const auto& [name, number] : shown.list) {
    const ManifestFile* known = FindFile(manifest, name);
    if (known == nullptr || !known->listed) {
      differences.push_back("patcher_files_version names " + Printable(name) +
                            ", which the manifest does not list");
    }
  }
  for (const std::u16string& name : PublishedNames(manifest)) {
    const ManifestFile* known = FindFile(manifest, name);
    if (known == nullptr) continue;
    const auto copy = copies.find(name);
    if (!known->hash) {
      differences.push_back(Printable(name) + ": the manifest does not know its content");
    } else if (copy == copies.end()) {
      differences.push_back(Printable(name) + " is missing from the tree");
    } else if (copy->second.hash != *known->hash) {
      differences.push_back(Printable(name) + " differs from what was published");
    }
  }
  return differences;
}

}  // namespace

bool Verify(const PublishOptions& options, Failure* failure) {
  TreePaths paths;
  FileLock lock;
  Manifest manifest;
  bool fromManifest = false;
  std::vector<std::string> notes;
  if (!ResolveTreePaths(options.releaseTree, options.manifest, &paths, failure) ||
      !TakeTreeLock(paths, false, &lock, failure) ||
      !LoadBaseline(paths.tree, paths.manifest, options.codePage, false, options.progress,
                    &manifest, &fromManifest, &notes, failure)) {
    return false;
  }
  if (!fromManifest) {
    return Fail(failure, ExitCode::kTreeUnreadable,
                "there is no manifest " + PrintablePath(paths.manifest) + " to verify against");
  }
  TreeVersions shown;
  TreeCopies copies;
  if (!ReadTreeVersions(paths.tree, options.codePage, &shown, failure) ||
      !HashTreeCopies(paths.tree, options.codePage, PublishedNames(manifest), options.progress,
                      &copies, failure)) {
    return false;
  }
  const std::vector<std::string> differences =
      TreeDifferences(manifest, shown, options.codePage, copies);
  std::string text = "velkaris-publish: " + PrintablePath(paths.tree) + " against " +
                     PrintablePath(paths.manifest) + "\n";
  if (!manifest.mirrors.empty()) text += "  mirrors: " + MirrorsText(manifest.mirrors) + "\n";
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

}  // namespace publish
