#pragma once

#include <cstddef>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <system_error>

#include "platform/crypto.h"
#include "publish/build_folder.h"
#include "publish/failure.h"
#include "publish/progress.h"
#include "release/release_manifest.h"

// Reading, hashing and replacing files with the care a live release tree
// needs: every new content goes to a temporary name beside its final one,
// onto the disk, and only then is renamed into place. What the tool writes
// is readable by all (files 0644, folders 0755) whatever the umask, since
// the web server reads it as another user.
namespace publish {

// Moves a finished temporary file onto its final name, replacing it (no
// link followed, RenameTreeFile). Replaceable so that tests can interrupt a
// publish between two renames.
using RenameFunction = std::function<std::error_code(const std::filesystem::path& from,
                                                     const std::filesystem::path& to)>;
std::error_code RenameFile(const std::filesystem::path& from, const std::filesystem::path& to);

// Where a file is read: the build folder, whose links to its own files the
// scan allowed, or the release tree and beside it, where no link is
// followed (file_io.h).
enum class Origin { kBuild, kTree };

// The SHA-256 of a file's content; a read error fails with kBuildUnreadable
// or kTreeUnreadable, by its origin.
bool HashFile(const std::filesystem::path& path, Origin origin, Progress* progress,
              platform::Sha256Digest* digest, Failure* failure);

enum class SmallFile { kRead, kMissing, kFailed };
// The whole content of a file of at most `limit` bytes; kFailed (with
// *failure, code kTreeUnreadable) when it cannot be read or is larger.
SmallFile ReadSmallFile(const std::filesystem::path& path, size_t limit, std::string* bytes,
                        Failure* failure);

// A finished file under its temporary name, waiting for its rename; removed
// when dropped before that.
class StagedFile {
 public:
  explicit StagedFile(std::filesystem::path target);
  StagedFile(StagedFile&& other) noexcept;
  StagedFile& operator=(StagedFile&&) = delete;
  StagedFile(const StagedFile&) = delete;
  StagedFile& operator=(const StagedFile&) = delete;
  ~StagedFile();

  const std::filesystem::path& Target() const { return m_target; }
  const std::filesystem::path& Temporary() const { return m_temporary; }
  // Renames it onto its target.
  bool SwitchIntoPlace(const RenameFunction& rename, Failure* failure);

 private:
  std::filesystem::path m_target;
  std::filesystem::path m_temporary;
  bool m_pending = true;  // the temporary file is ours to remove
};

// Creates `folder` and the folders above it that are missing.
bool CreateFolders(const std::filesystem::path& folder, Failure* failure);

// Writes `bytes` under the temporary name of staged->Target(), on the disk.
bool StageBytes(std::string_view bytes, StagedFile* staged, Failure* failure);

// Copies `source` under the temporary name of staged->Target(), hashing it
// on the way into *copied, with the modification time `time` (the file
// system's ticks). A source that changed since it was scanned (or hashed)
// fails with kBuildUnreadable. The data reaches the disk at SyncStagedFiles.
bool StageCopy(const SourceFile& source, int64_t time, StagedFile* staged, Progress* progress,
               platform::Sha256Digest* copied, Failure* failure);

// StageBytes, then the rename.
bool WriteIntoPlace(const std::filesystem::path& target, std::string_view bytes,
                    const RenameFunction& rename, Failure* failure);

// kNoSpace for a full disk, else kWriteFailed, with `what` and the reason.
bool FailWrite(Failure* failure, const std::string& what, std::error_code error);
// Why a file call failed, for a message; a link met says so.
std::string ReasonOf(std::error_code error);
// The reason of the last failed call (errno).
std::error_code LastError();

}  // namespace publish
