#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "platform/crypto.h"
#include "publish/failure.h"
#include "publish/list_names.h"
#include "publish/manifest.h"
#include "release/release_manifest.h"

// The folder with a new patcher build: the patcher, optionally the launcher
// copy (under their names in release/release_files.h), and the accompanying
// files, all of which go into the file version list.
namespace publish {

struct SourceFile {
  std::u16string name;  // list name, or the executable's own name
  std::filesystem::path path;
  FileStamp stamp;                   // size and modification time when scanned
  std::optional<platform::Sha256Digest> hash;  // once read
};

struct BuildContent {
  SourceFile patcher;
  std::optional<SourceFile> launcher;
  std::vector<SourceFile> files;  // in the list's order
};

// The patcher, the launcher copy when there is one, then the accompanying
// files.
std::vector<SourceFile*> AllFiles(BuildContent* build);

// Finds the files and checks every name; all refused names are reported
// together (kUnsafeName), each with its reason. A link is followed only to a
// file inside the folder. Hashes are not computed.
bool ScanBuildFolder(const std::filesystem::path& folder, CodePage codePage, BuildContent* build,
                     Failure* failure);

// True when `inner` is `outer` or lies below it; both absolute and normal.
bool IsWithin(const std::filesystem::path& inner, const std::filesystem::path& outer);

// The size and modification time of a file; false when it cannot be read.
bool ReadStamp(const std::filesystem::path& path, FileStamp* stamp);

}  // namespace publish
