#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>

#include "publish/sha256.h"

// The tool's own record of a release tree: what each published name holds
// (its SHA-256) under which number. It lives outside the served tree and is
// the baseline of the next release.
//
// Text, one entry a line:
//   velkaris-publish manifest 1
//   state complete | publishing
//   record FIRST SECOND
//   patcher HEX
//   launcher HEX                 (once a launcher copy was published)
//   file NUMBER HEX|- NAME       (listed; "-": content unknown)
//   removed NUMBER NAME          (listed by an earlier release, dropped since)
//   pending NAME                 (state publishing: copy may be unfinished)
namespace publish {

struct ManifestFile {
  uint32_t number = 0;
  // False: dropped from the list; the number is kept so that a file that
  // comes back is numbered past anything a player may still hold.
  bool listed = true;
  std::optional<Sha256Digest> hash;
  bool operator==(const ManifestFile&) const = default;
};

struct Manifest {
  // False while a publish is under way: the entries are then its target,
  // and `pending` names the files whose copy in the tree may be unfinished.
  bool complete = true;
  int32_t first = 0;
  int32_t second = 0;
  std::optional<Sha256Digest> patcher;
  std::optional<Sha256Digest> launcher;
  std::map<std::u16string, ManifestFile> files;
  std::set<std::u16string> pending;
  bool operator==(const Manifest&) const = default;
};

std::string FormatManifest(const Manifest& manifest);
// False with *problem (naming the line) when the text is not a manifest;
// every name must pass the list-name checks.
bool ParseManifest(std::string_view text, Manifest* manifest, std::string* problem);

// "<tree>.publish-manifest" beside the tree; empty when the tree path has no
// last part to name it after (a drive or file-system root).
std::filesystem::path DefaultManifestPath(const std::filesystem::path& tree);

}  // namespace publish
