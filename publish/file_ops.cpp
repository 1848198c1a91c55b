#include "publish/file_ops.h"

#include <cerrno>
#include <utility>
#include <vector>

#include "publish/file_io.h"
#include "publish/list_names.h"

namespace publish {

namespace {

constexpr size_t kChunkBytes = size_t{1} << 20;
constexpr size_t kSmallChunkBytes = size_t{64} << 10;

std::error_code LastError() { return std::error_code(errno, std::generic_category()); }

// Reads `source` to its end, hashing it and, when `copy` is set, writing
// each piece there. Read errors fail with `readError`.
bool Stream(const std::filesystem::path& source, ExitCode readError, std::FILE* copy,
            const std::filesystem::path& copyPath, Progress* progress, Sha256Digest* digest,
            Failure* failure) {
  const UniqueFile in = OpenFile(source, "rb");
  if (!in) {
    return Fail(failure, readError,
                "cannot open " + PrintablePath(source) + ": " + LastError().message());
  }
  std::vector<char> chunk(kChunkBytes);
  Sha256 hash;
  for (;;) {
    const size_t read = std::fread(chunk.data(), 1, chunk.size(), in.get());
    if (read == 0) break;
    if (!hash.Update(chunk.data(), read)) return Fail(failure, readError, "SHA-256 failed");
    if (copy != nullptr && std::fwrite(chunk.data(), 1, read, copy) != read) {
      return FailWrite(failure, "cannot write " + PrintablePath(copyPath), LastError());
    }
    if (progress != nullptr) progress->AddBytes(read);
  }
  if (std::ferror(in.get())) {
    return Fail(failure, readError,
                "cannot read " + PrintablePath(source) + ": " + LastError().message());
  }
  if (!hash.Finish(digest)) return Fail(failure, readError, "SHA-256 failed");
  return true;
}

// Removes an unfinished temporary file when a step fails before its rename.
class TemporaryFile {
 public:
  explicit TemporaryFile(std::filesystem::path path) : m_path(std::move(path)) {}
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;
  ~TemporaryFile() {
    std::error_code ignored;
    if (!m_renamed) std::filesystem::remove(m_path, ignored);
  }
  const std::filesystem::path& path() const { return m_path; }
  void Renamed() { m_renamed = true; }

 private:
  std::filesystem::path m_path;
  bool m_renamed = false;
};

bool CreateParent(const std::filesystem::path& target, Failure* failure) {
  std::error_code error;
  std::filesystem::create_directories(target.parent_path(), error);
  if (error)
    return FailWrite(failure, "cannot create the folder of " + PrintablePath(target), error);
  return true;
}

// Closes a fully written temporary file after putting it on the disk, then
// renames it onto `target`.
bool FinishIntoPlace(UniqueFile file, TemporaryFile* temporary, const std::filesystem::path& target,
                     const RenameFunction& rename, Failure* failure) {
  const std::string shown = PrintablePath(temporary->path());
  if (!SyncFile(file.get())) return FailWrite(failure, "cannot write " + shown, LastError());
  if (std::fclose(file.release()) != 0)
    return FailWrite(failure, "cannot write " + shown, LastError());
  if (const std::error_code error = rename(temporary->path(), target)) {
    return FailWrite(failure, "cannot rename " + shown + " to " + PrintablePath(target), error);
  }
  temporary->Renamed();
  return true;
}

}  // namespace

std::error_code RenameFile(const std::filesystem::path& from, const std::filesystem::path& to) {
  std::error_code error;
  std::filesystem::rename(from, to, error);
  return error;
}

bool FailWrite(Failure* failure, const std::string& what, std::error_code error) {
  const ExitCode code =
      error == std::errc::no_space_on_device ? ExitCode::kNoSpace : ExitCode::kWriteFailed;
  return Fail(failure, code, what + ": " + error.message());
}

bool HashFile(const std::filesystem::path& path, ExitCode readError, Progress* progress,
              Sha256Digest* digest, Failure* failure) {
  return Stream(path, readError, nullptr, {}, progress, digest, failure);
}

SmallFile ReadSmallFile(const std::filesystem::path& path, size_t limit, std::string* bytes,
                        Failure* failure) {
  bytes->clear();
  std::error_code error;
  const std::filesystem::file_status status = std::filesystem::status(path, error);
  if (status.type() == std::filesystem::file_type::not_found) return SmallFile::kMissing;
  const UniqueFile in = OpenFile(path, "rb");
  if (error || !in) {
    Fail(failure, ExitCode::kTreeUnreadable, "cannot read " + PrintablePath(path));
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

bool WriteIntoPlace(const std::filesystem::path& target, std::string_view bytes,
                    const RenameFunction& rename, Failure* failure) {
  if (!CreateParent(target, failure)) return false;
  TemporaryFile temporary(TemporaryPath(target));
  UniqueFile out = OpenFile(temporary.path(), "wb");
  if (!out)
    return FailWrite(failure, "cannot create " + PrintablePath(temporary.path()), LastError());
  if (std::fwrite(bytes.data(), 1, bytes.size(), out.get()) != bytes.size()) {
    return FailWrite(failure, "cannot write " + PrintablePath(temporary.path()), LastError());
  }
  return FinishIntoPlace(std::move(out), &temporary, target, rename, failure);
}

bool CopyIntoPlace(const std::filesystem::path& source, const std::filesystem::path& target,
                   const Sha256Digest& expected, const RenameFunction& rename, Progress* progress,
                   Failure* failure) {
  if (!CreateParent(target, failure)) return false;
  TemporaryFile temporary(TemporaryPath(target));
  UniqueFile out = OpenFile(temporary.path(), "wb");
  if (!out)
    return FailWrite(failure, "cannot create " + PrintablePath(temporary.path()), LastError());
  Sha256Digest copied{};
  if (!Stream(source, ExitCode::kBuildUnreadable, out.get(), temporary.path(), progress, &copied,
              failure)) {
    return false;
  }
  if (copied != expected) {
    return Fail(failure, ExitCode::kBuildUnreadable,
                PrintablePath(source) + " changed while it was being published; run again");
  }
  return FinishIntoPlace(std::move(out), &temporary, target, rename, failure);
}

}  // namespace publish
