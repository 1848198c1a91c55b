#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "publish/failure.h"
#include "publish/file_ops.h"
#include "publish/list_names.h"

// Publishes a patcher build into the release tree that the download server
// serves as /UploadData/, in the order that keeps the tree consistent for
// players who fetch while it runs:
//   1. every file to copy is written under its temporary name, all of them
//      onto the disk;
//   2. the manifest, marked "publishing", with the target and the names
//      about to switch (so a repeated run knows what may not be in place);
//   3. the whole set renamed into place in one burst;
//   4. with a signing key, "release_manifest", then "release_manifest.sig";
//      then "patcher_files_version", then "patcher_version";
//   5. with --prune, the files of names dropped from the list;
//   6. the manifest, marked "complete".
// With --settle, a step of 4 and 5 first waits until edge caches can hold
// nothing older than the step before it (Plan::SettlesBefore).
// Stopped anywhere, the next run starts from the manifest's target and
// finishes the job without raising any number twice. One run at a time:
// each holds the lock beside the manifest.
namespace publish {

// A day: beyond any edge cache's freshness worth waiting for.
inline constexpr uint32_t kMaxSettleSeconds = 86400;

// Waits; replaceable so that tests run on a fake clock.
using SleepFunction = std::function<void(uint32_t seconds)>;
void SleepSeconds(uint32_t seconds);

struct PublishOptions {
  std::filesystem::path buildFolder;
  std::filesystem::path releaseTree;
  std::filesystem::path manifest;    // empty: DefaultManifestPath(releaseTree)
  std::filesystem::path signingKey;  // empty: the release is not signed
  bool dryRun = false;
  bool prune = false;
  bool verify = false;            // the command is --verify (verify.h), not a publish
  bool rebuildManifest = false;   // take the tree over as it stands, ignoring the manifest
  // With a key: sign past a tree record above the manifest's number.
  bool acceptTreeNumber = false;
  std::optional<int32_t> second;  // the record's second number; kept when unset
  // The mirrors the signed manifest names (HOST or HOST:PORT, in order of
  // preference); unset: the last release's, empty: none.
  std::optional<std::vector<std::string>> mirrors;
  CodePage codePage = kDefaultCodePage;  // the players' ANSI code page
  uint32_t settleSeconds = 0;     // the edge caches' freshness; 0: no waits
  std::FILE* out = nullptr;       // the plan and the outcome; null: silent
  std::FILE* progress = nullptr;  // progress lines; null: silent
  RenameFunction rename = RenameFile;
  SleepFunction sleep = SleepSeconds;
};

bool Publish(const PublishOptions& options, Failure* failure);

}  // namespace publish
