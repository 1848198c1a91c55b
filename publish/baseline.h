#pragma once

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "publish/failure.h"
#include "publish/manifest.h"

// The last release, which a publish plans against.
namespace publish {

// The last release as the manifest records it, or, without a manifest or
// when `rebuild` is set, as the tree itself shows it (its version files and
// the hashes of its files).
bool LoadBaseline(const std::filesystem::path& tree, const std::filesystem::path& manifestPath,
                  CodePage codePage, bool rebuild, std::FILE* progressOut, Manifest* baseline,
                  bool* fromManifest, std::vector<std::string>* notes, Failure* failure);

}  // namespace publish
