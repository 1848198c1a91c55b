#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "platform/crypto.h"
#include "publish/file_io.h"
#include "publish/list_names.h"
#include "release/release_manifest.h"

// The tool's own record of a release tree: what each published name holds
// (its SHA-256) under which number. It lives outside the served tree and is
// the baseline of the next release.
//
// Text, one entry a line:
//   velkaris-publish manifest 2
//   state complete | publishing
//   record FIRST SECOND
//   mirror HOST[:PORT]           (each mirror the signed manifest names, in order)
//   patcher HEX STAMP
//   launcher HEX STAMP           (once a launcher copy was published)
//   file NUMBER HEX|- STAMP NAME (listed; "-": content unknown; names in
//                                the players' code page)
//   removed NUMBER NAME          (listed by an earlier release, dropped since)
//   pending NAME                 (state publishing: may not be in place yet)
//   end LINES HEX                (the lines before it and their SHA-256)
// STAMP is SIZE:TIME of the tree's copy when it was last seen to hold HEX,
// or "-"; a copy that still shows it need not be read again.
namespace publish {

struct ManifestFile {
  uint32_t number = 0;  // list number; unused for the patcher and launcher
  // False: dropped from the list; the number is kept so that a file that
  // comes back is numbered past anything a player may still hold.
  bool listed = true;
  std::optional<platform::Sha256Digest> hash;
  std::optional<FileStamp> stamp;
  bool operator==(const ManifestFile&) const = default;
};

struct Manifest {
  // False while a publish is under way: the entries are then its target,
  // and `pending` names the files that may not be in place yet.
  bool complete = true;
  int32_t first = 0;
  int32_t second = 0;
  std::vector<std::string> mirrors;
  std::optional<ManifestFile> patcher;
  std::optional<ManifestFile> launcher;
  std::map<std::u16string, ManifestFile> files;
  std::set<std::u16string> pending;
  bool operator==(const Manifest&) const = default;
};

// The entry of a published name: the patcher's and the launcher's under
// their own names, any other in `files`; null when the manifest has none.
const ManifestFile* FindFile(const Manifest& manifest, const std::u16string& name);
// The same entry, made empty when missing.
ManifestFile& FileEntry(Manifest* manifest, const std::u16string& name);

// Names in the code page; false for one without a form there.
bool FormatManifest(const Manifest& manifest, CodePage codePage, std::string* text);

enum class ManifestRead {
  kRead,
  kDamaged,    // cut short or altered: its closing line does not match
  kMalformed,  // intact, but not a manifest this tool understands
};
// kRead, or the problem (naming the line) in *problem; every name must be
// one in the code page and pass the list-name checks.
ManifestRead ParseManifest(std::string_view text, CodePage codePage, Manifest* manifest,
                           std::string* problem);

// "<tree>.publish-manifest" beside the tree; empty when the tree path has no
// last part to name it after (a drive or file-system root).
std::filesystem::path DefaultManifestPath(const std::filesystem::path& tree);
// The lock that keeps two runs off one tree: beside its manifest.
std::filesystem::path LockPath(const std::filesystem::path& manifest);

}  // namespace publish
