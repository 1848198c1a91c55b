#pragma once

#include <cstddef>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <system_error>

#include "publish/failure.h"
#include "publish/progress.h"
#include "publish/sha256.h"

// Reading, hashing and replacing files with the care a live release tree
// needs: every new content goes to a temporary name beside its final one,
// onto the disk, and only then is renamed into place.
namespace publish {

// Moves a finished temporary file onto its final name, replacing it.
// Replaceable so that tests can interrupt a publish between two renames.
using RenameFunction = std::function<std::error_code(const std::filesystem::path& from,
                                                     const std::filesystem::path& to)>;
std::error_code RenameFile(const std::filesystem::path& from, const std::filesystem::path& to);

// The SHA-256 of a file's content; a read error fails with `readError`.
bool HashFile(const std::filesystem::path& path, ExitCode readError, Progress* progress,
              Sha256Digest* digest, Failure* failure);

enum class SmallFile { kRead, kMissing, kFailed };
// The whole content of a file of at most `limit` bytes; kFailed (with
// *failure, code kTreeUnreadable) when it cannot be read or is larger.
SmallFile ReadSmallFile(const std::filesystem::path& path, size_t limit, std::string* bytes,
                        Failure* failure);

// Puts `bytes` at `target` by way of its temporary name.
bool WriteIntoPlace(const std::filesystem::path& target, std::string_view bytes,
                    const RenameFunction& rename, Failure* failure);

// Copies `source` to `target` by way of its temporary name. The copy is
// hashed on the way: a source that no longer has the content `expected`
// (changed since it was hashed) fails with kBuildUnreadable and leaves the
// final name untouched.
bool CopyIntoPlace(const std::filesystem::path& source, const std::filesystem::path& target,
                   const Sha256Digest& expected, const RenameFunction& rename, Progress* progress,
                   Failure* failure);

// kNoSpace for a full disk, else kWriteFailed, with `what` and the reason.
bool FailWrite(Failure* failure, const std::string& what, std::error_code error);

}  // namespace publish
