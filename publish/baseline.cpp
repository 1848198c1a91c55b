#include "publish/baseline.h"

#include <iterator>

#include "publish/file_ops.h"
#include "publish/list_names.h"
#include "publish/tree_copies.h"

namespace publish {

namespace {

namespace fs = std::filesystem;

constexpr size_t kMaxManifestBytes = size_t{256} << 20;

bool AdoptTree(const fs::path& tree, CodePage codePage, std::FILE* progressOut, Manifest* baseline,
               std::vector<std::string>* notes, Failure* failure) {
  TreeVersions shown;
  if (!ReadTreeVersions(tree, codePage, &shown, failure)) return false;
  baseline->first = shown.first;
  baseline->second = shown.second;
  std::vector<std::u16string> names(std::begin(kExecutableNames), std::end(kExecutableNames));
  for (const std::string& bytes : shown.undecodable) {
    notes->push_back("the tree's list names " + UndecodableName(bytes, codePage) +
                     "; it is left out");
  }
  for (const auto& [name, number] : shown.list) {
    if (const std::string problem = ListNameProblem(name, codePage); !problem.empty()) {
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
  if (!HashTreeCopies(tree, codePage, names, progressOut, &copies, failure)) return false;
  for (const auto& [name, copy] : copies) {
    ManifestFile& file = FileEntry(baseline, name);
    file.hash = copy.hash;
    file.stamp = copy.stamp;
  }
  return true;
}

}  // namespace

bool LoadBaseline(const fs::path& tree, const fs::path& manifestPath, CodePage codePage,
                  bool rebuild, std::FILE* progressOut, Manifest* baseline, bool* fromManifest,
                  std::vector<std::string>* notes, Failure* failure) {
  *baseline = Manifest();
  *fromManifest = false;
  if (rebuild) return AdoptTree(tree, codePage, progressOut, baseline, notes, failure);
  std::string text;
  const SmallFile read = ReadSmallFile(manifestPath, kMaxManifestBytes, &text, failure);
  if (read == SmallFile::kFailed) return false;
  if (read == SmallFile::kMissing) {
    return AdoptTree(tree, codePage, progressOut, baseline, notes, failure);
  }
  *fromManifest = true;
  std::string problem;
  if (ParseManifest(text, codePage, baseline, &problem) != ManifestRead::kRead) {
    return Fail(failure, ExitCode::kManifestDamaged,
                "the manifest " + PrintablePath(manifestPath) + " cannot be trusted: " + problem +
                    ". Check the tree with --verify; --rebuild-manifest makes a new one from it");
  }
  return true;
}

}  // namespace publish
