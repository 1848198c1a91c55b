#include "publish/tree_lock.h"

#include <cerrno>
#include <string>
#include <system_error>

#include "publish/file_ops.h"
#include "publish/list_names.h"
#include "publish/manifest.h"

namespace publish {

namespace fs = std::filesystem;

fs::path ResolvedPath(const fs::path& path) {
  std::error_code error;
  const fs::path absolute = fs::absolute(path, error).lexically_normal();
  const fs::path canonical = fs::weakly_canonical(absolute, error);
  return error ? absolute : canonical;
}

bool ResolveTreePaths(const fs::path& tree, const fs::path& manifest, TreePaths* paths,
                      Failure* failure) {
  paths->tree = ResolvedPath(tree);
  paths->manifest = manifest.empty() ? DefaultManifestPath(paths->tree) : ResolvedPath(manifest);
  if (paths->manifest.empty()) {
    return Fail(failure, ExitCode::kUsage,
                "the release tree has no name to put its manifest beside; give --manifest");
  }
  return true;
}

bool TakeTreeLock(const TreePaths& paths, bool writes, FileLock* lock, Failure* failure) {
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
              "cannot take the lock " + PrintablePath(path) + ": " + ReasonOf(LastError()));
}

}  // namespace publish
