#pragma once

#include <filesystem>

#include "publish/failure.h"
#include "publish/file_io.h"

// Where a release tree and its manifest lie, and the lock beside the
// manifest that keeps two runs off one tree.
namespace publish {

struct TreePaths {
  std::filesystem::path tree;
  std::filesystem::path manifest;
};

// Absolute, with links resolved as far as the path exists, so that two
// names for one folder are recognised.
std::filesystem::path ResolvedPath(const std::filesystem::path& path);

// The tree and its manifest (`manifest` empty: DefaultManifestPath), resolved.
bool ResolveTreePaths(const std::filesystem::path& tree, const std::filesystem::path& manifest,
                      TreePaths* paths, Failure* failure);

// Runs that write take the lock, creating it; the others only respect a
// lock that exists, so that they write nothing at all.
bool TakeTreeLock(const TreePaths& paths, bool writes, FileLock* lock, Failure* failure);

}  // namespace publish
