#include "publish/build_folder.h"

#include <algorithm>
#include <map>

#include "publish/list_names.h"

namespace publish {

namespace {

namespace fs = std::filesystem;

struct Scan {
  fs::path folder;  // resolved
  CodePage codePage = kDefaultCodePage;
  BuildContent* build = nullptr;
  std::vector<std::string> refused;
};

// A link that leads out of the build folder would publish whatever it
// points at, a system file as readily as a game file.
std::string LinkProblem(const Scan& scan, const fs::directory_entry& entry) {
  std::error_code error;
  if (!entry.is_symlink(error)) return {};
  const fs::path target = fs::canonical(entry.path(), error);
  if (error) return "is a broken link";
  if (!IsWithin(target, scan.folder)) {
    return "is a link to " + PrintablePath(target) + ", outside the build folder";
  }
  return {};
}

// Adds one regular file found below the folder; a refused name goes to
// scan->refused instead.
bool AddFile(Scan* scan, const fs::directory_entry& entry, Failure* failure) {
  const fs::path relative = entry.path().lexically_relative(scan->folder);
  SourceFile file;
  file.path = entry.path();
  if (!ReadStamp(entry.path(), &file.stamp)) {
    return Fail(failure, ExitCode::kBuildUnreadable, "cannot read " + PrintablePath(entry.path()));
  }
  std::string problem = LinkProblem(*scan, entry);
  if (problem.empty() && ListNameFromPath(relative, &file.name, &problem)) {
    if (IsExecutableName(file.name)) {
      (file.name == kPatcherFileName ? scan->build->patcher : scan->build->launcher.emplace()) = file;
      return true;
    }
    problem = ListNameProblem(file.name, scan->codePage);
  }
  if (!problem.empty()) {
    scan->refused.push_back(PrintablePath(relative) + ": " + problem);
    return true;
  }
  scan->build->files.push_back(std::move(file));
  return true;
}

// One folder and those below it; a folder that cannot be read is named.
bool ScanFolder(Scan* scan, const fs::path& folder, Failure* failure) {
  std::error_code error;
  const auto unreadable = [&] {
    return Fail(failure, ExitCode::kBuildUnreadable,
                "cannot read the folder " + PrintablePath(folder) + ": " + error.message());
  };
  fs::directory_iterator it(folder, error);
  if (error) return unreadable();
  for (; it != fs::directory_iterator(); it.increment(error)) {
    const fs::directory_entry& entry = *it;
    const fs::file_status status = entry.status(error);
    if (error) {
      const std::string why = entry.is_symlink(error) ? "is a broken link" : error.message();
      return Fail(failure, ExitCode::kBuildUnreadable, PrintablePath(entry.path()) + ": " + why);
    }
    if (fs::is_directory(status)) {
      if (entry.is_symlink(error)) {
        return Fail(
            failure, ExitCode::kBuildUnreadable,
            PrintablePath(entry.path()) + " is a link to a folder; put the files there instead");
      }
      if (!ScanFolder(scan, entry.path(), failure)) return false;
      continue;
    }
    if (!fs::is_regular_file(status)) {
      return Fail(failure, ExitCode::kBuildUnreadable,
                  PrintablePath(entry.path()) + " is not a regular file");
    }
    if (!AddFile(scan, entry, failure)) return false;
  }
  if (error) return unreadable();
  return true;
}

// Two names that Windows takes for one file would overwrite each other in
// the install folder: "a.txt" and "A.txt", but also "ä.txt" and "Ä.txt".
void FindCaseClashes(const std::vector<SourceFile>& files, std::vector<std::string>* refused) {
  std::map<std::u16string, const SourceFile*> byUpper;
  for (const SourceFile& file : files) {
    const auto [seen, added] = byUpper.try_emplace(WindowsUpperCase(file.name), &file);
    if (!added) {
      refused->push_back(Printable(file.name) + ": is the same file as " +
                         Printable(seen->second->name) + " on Windows (names differ only in case)");
    }
  }
}

}  // namespace

std::vector<SourceFile*> AllFiles(BuildContent* build) {
  std::vector<SourceFile*> files = {&build->patcher};
  if (build->launcher) files.push_back(&*build->launcher);
  for (SourceFile& file : build->files) files.push_back(&file);
  return files;
}

bool IsWithin(const fs::path& inner, const fs::path& outer) {
  auto innerPart = inner.begin();
  for (const fs::path& outerPart : outer) {
    if (outerPart.empty()) continue;  // a trailing separator
    if (innerPart == inner.end() || *innerPart != outerPart) return false;
    ++innerPart;
  }
  return true;
}

bool ReadStamp(const fs::path& path, FileStamp* stamp) {
  std::error_code error;
  stamp->size = fs::file_size(path, error);
  if (error) return false;
  stamp->time = fs::last_write_time(path, error).time_since_epoch().count();
  return !error;
}

bool ScanBuildFolder(const fs::path& folder, CodePage codePage, BuildContent* build,
                     Failure* failure) {
  *build = BuildContent();
  std::error_code error;
  if (!fs::is_directory(folder, error)) {
    return Fail(failure, ExitCode::kBuildUnreadable,
                "the build folder " + PrintablePath(folder) + " is not a folder");
  }
  Scan scan{fs::canonical(folder, error), codePage, build, {}};
  if (error) {
    return Fail(failure, ExitCode::kBuildUnreadable,
                "cannot read the build folder " + PrintablePath(folder) + ": " + error.message());
  }
  if (!ScanFolder(&scan, scan.folder, failure)) return false;
  std::sort(build->files.begin(), build->files.end(),
            [](const SourceFile& a, const SourceFile& b) { return a.name < b.name; });
  FindCaseClashes(build->files, &scan.refused);
  if (!scan.refused.empty()) {
    std::sort(scan.refused.begin(), scan.refused.end());
    std::string message = "these build files cannot be published:\n";
    for (const std::string& line : scan.refused) message += "  " + line + "\n";
    return Fail(failure, ExitCode::kUnsafeName,
                message + "rename, replace or remove them in the build folder");
  }
  if (build->patcher.name.empty()) {
    return Fail(
        failure, ExitCode::kBuildUnreadable,
        "the build folder " + PrintablePath(folder) + " holds no " + Printable(kPatcherFileName));
  }
  return true;
}

}  // namespace publish
