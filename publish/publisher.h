#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <optional>

#include "publish/failure.h"
#include "publish/file_ops.h"

// Publishes a patcher build into the release tree that the download server
// serves as /UploadData/, in the order that keeps the tree consistent for
// players who fetch while it runs:
//   1. the manifest, marked "publishing", with the target and the names
//      about to be copied (so a repeated run knows what may be unfinished);
//   2. each file to copy: temporary name, onto the disk, renamed into place;
//   3. "patcher_files_version", then "patcher_version", the same way;
//   4. with --prune, the files of names dropped from the list;
//   5. the manifest, marked "complete".
// Stopped anywhere, the next run starts from the manifest's target and
// finishes the job without raising any number twice.
namespace publish {

struct PublishOptions {
  std::filesystem::path buildFolder;
  std::filesystem::path releaseTree;
  std::filesystem::path manifest;  // empty: DefaultManifestPath(releaseTree)
  bool dryRun = false;
  bool prune = false;
  std::optional<int32_t> second;  // the record's second number; kept when unset
  std::FILE* out = nullptr;       // the plan and the outcome; null: silent
  std::FILE* progress = nullptr;  // progress lines; null: silent
  RenameFunction rename = RenameFile;
};

bool Publish(const PublishOptions& options, Failure* failure);

}  // namespace publish
