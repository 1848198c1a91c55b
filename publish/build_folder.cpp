#include "publish/build_folder.h"

#include <algorithm>
#include <map>

#include "publish/list_names.h"

namespace publish {

namespace {

namespace fs = std::filesystem;

bool IsExecutableName(const std::u16string& name) {
  return name == kPatcherFileName || name == kLauncherFileName;
}

// Adds one regular file found below the folder; a refused name goes to
// *refused instead.
bool AddFile(const fs::path& folder, const fs::directory_entry& entry, BuildContent* build,
             std::vector<std::string>* refused, Failure* failure) {
  std::error_code error;
  const uint64_t size = entry.file_size(error);
  if (error) {
    return Fail(failure, ExitCode::kBuildUnreadable,
                "cannot read " + PrintablePath(entry.path()) + ": " + error.message());
  }
  const fs::path relative = entry.path().lexically_relative(folder);
  SourceFile file{{}, entry.path(), size, {}};
  std::string problem;
  if (ListNameFromPath(relative, &file.name, &problem)) {
    if (IsExecutableName(file.name)) {
      (file.name == kPatcherFileName ? build->patcher : build->launcher.emplace()) = file;
      return true;
    }
    problem = ListNameProblem(file.name);
  }
  if (!problem.empty()) {
    refused->push_back(PrintablePath(relative) + ": " + problem);
    return true;
  }
  build->files.push_back(std::move(file));
  return true;
}

// Two names that Windows takes for one file would overwrite each other in
// the install folder.
void FindCaseClashes(const std::vector<SourceFile>& files, std::vector<std::string>* refused) {
  std::map<std::u16string, const SourceFile*> byFolded;
  for (const SourceFile& file : files) {
    const auto [seen, added] = byFolded.try_emplace(FoldCase(file.name), &file);
    if (!added) {
      refused->push_back(Printable(file.name) + ": is the same file as " +
                         Printable(seen->second->name) + " on Windows (names differ only in case)");
    }
  }
}

}  // namespace

bool ScanBuildFolder(const fs::path& folder, BuildContent* build, Failure* failure) {
  *build = BuildContent();
  std::error_code error;
  if (!fs::is_directory(folder, error)) {
    return Fail(failure, ExitCode::kBuildUnreadable,
                "the build folder " + PrintablePath(folder) + " is not a folder");
  }
  std::vector<std::string> refused;
  fs::recursive_directory_iterator it(folder, error);
  for (; !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
    const fs::directory_entry& entry = *it;
    const fs::file_status status = entry.status(error);
    if (error) break;
    if (fs::is_directory(status)) {
      if (entry.is_symlink(error)) {
        return Fail(
            failure, ExitCode::kBuildUnreadable,
            PrintablePath(entry.path()) + " is a link to a folder; put the files there instead");
      }
      continue;
    }
    if (!fs::is_regular_file(status)) {
      return Fail(failure, ExitCode::kBuildUnreadable,
                  PrintablePath(entry.path()) + " is not a regular file");
    }
    if (!AddFile(folder, entry, build, &refused, failure)) return false;
  }
  if (error) {
    return Fail(failure, ExitCode::kBuildUnreadable,
                "cannot read the build folder " + PrintablePath(folder) + ": " + error.message());
  }
  std::sort(build->files.begin(), build->files.end(),
            [](const SourceFile& a, const SourceFile& b) { return a.name < b.name; });
  FindCaseClashes(build->files, &refused);
  if (!refused.empty()) {
    std::sort(refused.begin(), refused.end());
    std::string message = "the launcher could not fetch these files under their names:\n";
    for (const std::string& line : refused) message += "  " + line + "\n";
    return Fail(failure, ExitCode::kUnsafeName,
                message + "rename or remove them in the build folder");
  }
  if (build->patcher.name.empty()) {
    return Fail(
        failure, ExitCode::kBuildUnreadable,
        "the build folder " + PrintablePath(folder) + " holds no " + Printable(kPatcherFileName));
  }
  return true;
}

}  // namespace publish
