#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "publish/failure.h"
#include "publish/sha256.h"

// The folder with a new patcher build: "VelkarisPatcher32.vke", optionally
// the launcher copy "VelkarisLauncher.exe", and the accompanying files, all
// of which go into the file version list.
namespace publish {

struct SourceFile {
  std::u16string name;  // list name, or the executable's own name
  std::filesystem::path path;
  uint64_t size = 0;
  Sha256Digest hash{};
};

struct BuildContent {
  SourceFile patcher;
  std::optional<SourceFile> launcher;
  std::vector<SourceFile> files;  // in the list's order
};

// Finds the files and checks every name; all refused names are reported
// together (kUnsafeName), each with its reason. Hashes are not computed.
bool ScanBuildFolder(const std::filesystem::path& folder, BuildContent* build, Failure* failure);

}  // namespace publish
