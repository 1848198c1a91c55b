#include "publish/file_ops.h"

#include <cerrno>
#include <chrono>
#include <utility>
#include <vector>

#include "publish/file_io.h"
#include "publish/list_names.h"

namespace publish {

namespace {

namespace fs = std::filesystem;

constexpr size_t kChunkBytes = size_t{1} << 20;
constexpr size_t kSmallChunkBytes = size_t{64} << 10;
// A large copy has the disk write behind it every so often, rather than
// leaving all of it to the sync before the renames.
constexpr uint64_t kWritebackBytes = uint64_t{8} << 20;
// Reads `source` to its end, hashing it and, when `copy` is set, writing
// each piece there.
bool Stream(const fs::path& source, Origin origin, std::FILE* copy, const fs::path& copyPath,
            Progress* progress, platform::Sha256Digest* digest, Failure* failure) {
  const ExitCode readError =
      origin == Origin::kBuild ? ExitCode::kBuildUnreadable : ExitCode::kTreeUnreadable;
  const UniqueFile in = origin == Origin::kBuild ? OpenFile(source, "rb") : OpenTreeFile(source);
  if (!in) {
    return Fail(failure, readError,
                "cannot open " + PrintablePath(source) + ": " + ReasonOf(LastError()));
  }
  std::vector<char> chunk(kChunkBytes);
  platform::Sha256 hash;
  uint64_t written = 0;
  for (;;) {
    const size_t read = std::fread(chunk.data(), 1, chunk.size(), in.get());
    if (read == 0) break;
    if (!hash.Update(chunk.data(), read)) return Fail(failure, readError, "SHA-256 failed");
    if (copy != nullptr) {
      written += read;
      const bool writeback = written % kWritebackBytes < read;
      if (std::fwrite(chunk.data(), 1, read, copy) != read ||
          (writeback && !StartWriteback(copy))) {
        return FailWrite(failure, "cannot write " + PrintablePath(copyPath), LastError());
      }
    }
    if (progress != nullptr) progress->AddBytes(read);
  }
  if (std::ferror(in.get())) {
    return Fail(failure, readError,
                "cannot read " + PrintablePath(source) + ": " + ReasonOf(LastError()));
  }
  if (!hash.Finish(digest)) return Fail(failure, readError, "SHA-256 failed");
  return true;
}

// A temporary name is ours while the lock is held: whatever lies there (a
// stale copy, or a link someone planted) goes, and the file is made anew
// without following anything planted since.
bool CreateTemporary(const fs::path& path, UniqueFile* file, Failure* failure) {
  RemoveTreeFile(path);
  *file = CreateNewFile(path);
  if (*file) return true;
  return FailWrite(failure, "cannot create " + PrintablePath(path), LastError());
}

// Closes a fully written file.
bool FinishFile(UniqueFile file, const fs::path& path, Failure* failure) {
  if (std::fclose(file.release()) == 0) return true;
  return FailWrite(failure, "cannot write " + PrintablePath(path), LastError());
}

}  // namespace

std::error_code LastError() { return std::error_code(errno, std::generic_category()); }

std::string ReasonOf(std::error_code error) {
  if (error == std::errc::too_many_symbolic_link_levels) {
    return "a link lies there or at a folder above it, and the tool follows no link in the "
           "release tree or beside it";
  }
  return error.message();
}

std::error_code RenameFile(const fs::path& from, const fs::path& to) {
  return RenameTreeFile(from, to) ? std::error_code() : LastError();
}

bool FailWrite(Failure* failure, const std::string& what, std::error_code error) {
  const ExitCode code =
      error == std::errc::no_space_on_device ? ExitCode::kNoSpace : ExitCode::kWriteFailed;
  return Fail(failure, code, what + ": " + ReasonOf(error));
}

bool HashFile(const fs::path& path, Origin origin, Progress* progress,
              platform::Sha256Digest* digest, Failure* failure) {
  return Stream(path, origin, nullptr, {}, progress, digest, failure);
}

SmallFile ReadSmallFile(const fs::path& path, size_t limit, std::string* bytes, Failure* failure) {
  bytes->clear();
  FileStamp ignored;
  switch (QueryTreeEntry(path, &ignored)) {
    case TreeEntry::kMissing:
      return SmallFile::kMissing;
    case TreeEntry::kOther:
      Fail(failure, ExitCode::kTreeUnreadable,
           PrintablePath(path) + " is a folder where a file belongs");
      return SmallFile::kFailed;
    case TreeEntry::kFailed:
      Fail(failure, ExitCode::kTreeUnreadable,
           "cannot read " + PrintablePath(path) + ": " + ReasonOf(LastError()));
      return SmallFile::kFailed;
    case TreeEntry::kFile:
      break;
  }
  const UniqueFile in = OpenTreeFile(path);
  if (!in) {
    Fail(failure, ExitCode::kTreeUnreadable,
         "cannot read " + PrintablePath(path) + ": " + ReasonOf(LastError()));
    return SmallFile::kFailed;
  }
  std::vector<char> chunk(kSmallChunkBytes);
  for (;;) {
    const size_t read = std::fread(chunk.data(), 1, chunk.size(), in.get());
    bytes->append(chunk.data(), read);
    if (bytes->size() > limit) {
      Fail(failure, ExitCode::kTreeUnreadable, PrintablePath(path) + " is larger than expected");
      return SmallFile::kFailed;
    }
    if (read < chunk.size()) break;
  }
  if (std::ferror(in.get())) {
    Fail(failure, ExitCode::kTreeUnreadable, "cannot read " + PrintablePath(path));
    return SmallFile::kFailed;
  }
  return SmallFile::kRead;
}

StagedFile::StagedFile(fs::path target)
    : m_target(std::move(target)), m_temporary(TemporaryPath(m_target)) {}

StagedFile::StagedFile(StagedFile&& other) noexcept
    : m_target(std::move(other.m_target)),
      m_temporary(std::move(other.m_temporary)),
      m_pending(std::exchange(other.m_pending, false)) {}

StagedFile::~StagedFile() {
  if (m_pending) RemoveTreeFile(m_temporary);
}

bool StagedFile::SwitchIntoPlace(const RenameFunction& rename, Failure* failure) {
  if (const std::error_code error = rename(m_temporary, m_target)) {
    return FailWrite(
        failure, "cannot rename " + PrintablePath(m_temporary) + " to " + PrintablePath(m_target),
        error);
  }
  m_pending = false;
  return true;
}

bool CreateFolders(const fs::path& folder, Failure* failure) {
  if (CreateTreeFolders(folder)) return true;
  return FailWrite(failure, "cannot create the folder " + PrintablePath(folder), LastError());
}

bool StageBytes(std::string_view bytes, StagedFile* staged, Failure* failure) {
  if (!CreateFolders(staged->Target().parent_path(), failure)) return false;
  UniqueFile out;
  if (!CreateTemporary(staged->Temporary(), &out, failure)) return false;
  if (std::fwrite(bytes.data(), 1, bytes.size(), out.get()) != bytes.size() ||
      !SyncFile(out.get())) {
    return FailWrite(failure, "cannot write " + PrintablePath(staged->Temporary()), LastError());
  }
  return FinishFile(std::move(out), staged->Temporary(), failure);
}

bool StageCopy(const SourceFile& source, int64_t time, StagedFile* staged, Progress* progress,
               platform::Sha256Digest* copied, Failure* failure) {
  if (!CreateFolders(staged->Target().parent_path(), failure)) return false;
  const fs::path& temporary = staged->Temporary();
  UniqueFile out;
  if (!CreateTemporary(temporary, &out, failure)) return false;
  if (!Stream(source.path, Origin::kBuild, out.get(), temporary, progress, copied, failure)) {
    return false;
  }
  if (!SyncStagedFile(out.get()))
    return FailWrite(failure, "cannot write " + PrintablePath(temporary), LastError());
  FileStamp now;
  if (!ReadStamp(source.path, &now) || now != source.stamp ||
      (source.hash && *source.hash != *copied)) {
    return Fail(failure, ExitCode::kBuildUnreadable,
                PrintablePath(source.path) + " changed while it was being published; run again");
  }
  // Mirrors published from one build then show players the same validators.
  if (!SetModificationTime(out.get(), time)) {
    return FailWrite(failure, "cannot set the time of " + PrintablePath(temporary), LastError());
  }
  return FinishFile(std::move(out), temporary, failure);
}

bool WriteIntoPlace(const fs::path& target, std::string_view bytes, const RenameFunction& rename,
                    Failure* failure) {
  StagedFile staged(target);
  return StageBytes(bytes, &staged, failure) && staged.SwitchIntoPlace(rename, failure);
}

}  // namespace publish
