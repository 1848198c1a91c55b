#include "publish/file_io.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

#include "platform/code_page.h"

namespace publish {

namespace {

constexpr mode_t kLockFileMode = 0644;
// The web server reads the tree as another user.
constexpr mode_t kPublishedFileMode = 0644;
constexpr mode_t kPublishedFolderMode = 0755;
// A folder entered without following a link at it.
constexpr int kFolderFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

struct DescriptorTraits {
  using Handle = int;
  static Handle Empty() { return -1; }
  static bool IsValid(Handle handle) { return handle >= 0; }
  static void Close(Handle handle) { close(handle); }
};
using UniqueDescriptor = platform::UniqueOwner<DescriptorTraits>;

bool IsLink(int folder, const char* name) {
  struct stat info {};
  return fstatat(folder, name, &info, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(info.st_mode);
}

// A folder below `parent`; ELOOP for a link, which O_DIRECTORY reports as
// ENOTDIR.
UniqueDescriptor EnterFolder(int parent, const char* name) {
  UniqueDescriptor folder(openat(parent, name, kFolderFlags));
  if (!folder && errno == ENOTDIR && IsLink(parent, name)) errno = ELOOP;
  return folder;
}

// The root of a path: "/" or, for a relative one, the current folder.
UniqueDescriptor OpenRoot(const std::filesystem::path& path) {
  return UniqueDescriptor(open(path.is_absolute() ? "/" : ".", kFolderFlags));
}

// The folder that holds `path`, entered a part at a time from the root.
// Null with errno set.
UniqueDescriptor OpenParent(const std::filesystem::path& path) {
  UniqueDescriptor folder = OpenRoot(path);
  for (const std::filesystem::path& part : path.parent_path().relative_path()) {
    if (!folder) break;
    folder = EnterFolder(folder.get(), part.c_str());
  }
  return folder;
}

// A file's descriptor as a C stream; null with errno set.
UniqueFile StreamOf(int fd, const char* mode) {
  std::FILE* file = fd >= 0 ? fdopen(fd, mode) : nullptr;
  if (file == nullptr && fd >= 0) {
    const int error = errno;
    close(fd);
    errno = error;
  }
  return UniqueFile(file);
}

// The file system's modification time in std::filesystem's ticks.
int64_t TicksOf(const timespec& time) {
  const std::chrono::sys_time<std::chrono::nanoseconds> system(
      std::chrono::seconds(time.tv_sec) + std::chrono::nanoseconds(time.tv_nsec));
  return std::chrono::duration_cast<std::filesystem::file_time_type::duration>(
             std::chrono::file_clock::from_sys(system).time_since_epoch())
      .count();
}

}  // namespace

struct FileLock::Handle {
  UniqueDescriptor fd;
};

UniqueFile OpenFile(const std::filesystem::path& path, const char* mode) {
  return UniqueFile(std::fopen(path.c_str(), mode));
}

UniqueFile OpenTreeFile(const std::filesystem::path& path) {
  const UniqueDescriptor folder = OpenParent(path);
  if (!folder) return UniqueFile();
  return StreamOf(openat(folder.get(), path.filename().c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC),
                  "rb");
}

UniqueFile CreateNewFile(const std::filesystem::path& path) {
  const UniqueDescriptor folder = OpenParent(path);
  if (!folder) return UniqueFile();
  const int fd = openat(folder.get(), path.filename().c_str(),
                        O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, kPublishedFileMode);
  // Through the descriptor: the name may already lead elsewhere.
  if (fd >= 0 && fchmod(fd, kPublishedFileMode) != 0) {
    const int error = errno;
    close(fd);
    errno = error;
    return UniqueFile();
  }
  return StreamOf(fd, "wb");
}

TreeEntry QueryTreeEntry(const std::filesystem::path& path, FileStamp* stamp) {
  const UniqueDescriptor folder = OpenParent(path);
  struct stat info {};
  if (!folder || fstatat(folder.get(), path.filename().c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
    return errno == ENOENT ? TreeEntry::kMissing : TreeEntry::kFailed;
  }
  if (S_ISLNK(info.st_mode)) {
    errno = ELOOP;
    return TreeEntry::kFailed;
  }
  if (!S_ISREG(info.st_mode)) return TreeEntry::kOther;
  stamp->size = static_cast<uint64_t>(info.st_size);
  stamp->time = TicksOf(info.st_mtim);
  return TreeEntry::kFile;
}

bool RemoveTreeFile(const std::filesystem::path& path) {
  const UniqueDescriptor folder = OpenParent(path);
  if (!folder) return errno == ENOENT;
  return unlinkat(folder.get(), path.filename().c_str(), 0) == 0 || errno == ENOENT;
}

bool RenameTreeFile(const std::filesystem::path& from, const std::filesystem::path& to) {
  const UniqueDescriptor fromFolder = OpenParent(from);
  const UniqueDescriptor toFolder = fromFolder ? OpenParent(to) : UniqueDescriptor();
  return toFolder && renameat(fromFolder.get(), from.filename().c_str(), toFolder.get(),
                              to.filename().c_str()) == 0;
}

bool CreateTreeFolders(const std::filesystem::path& folder) {
  UniqueDescriptor current = OpenRoot(folder);
  for (const std::filesystem::path& part : folder.relative_path()) {
    if (!current) return false;
    UniqueDescriptor next = EnterFolder(current.get(), part.c_str());
    if (!next && errno == ENOENT) {
      if (mkdirat(current.get(), part.c_str(), kPublishedFolderMode) != 0 && errno != EEXIST) {
        return false;
      }
      next = EnterFolder(current.get(), part.c_str());
      if (next && fchmod(next.get(), kPublishedFolderMode) != 0) return false;
    }
    current = std::move(next);
  }
  return static_cast<bool>(current);
}

bool SetModificationTime(std::FILE* file, int64_t ticks) {
  using std::chrono::duration_cast;
  const auto time = std::chrono::file_clock::to_sys(
      std::filesystem::file_time_type(std::filesystem::file_time_type::duration(ticks)));
  const auto seconds = std::chrono::floor<std::chrono::seconds>(time);
  const timespec times[2] = {
      {0, UTIME_OMIT},
      {static_cast<time_t>(seconds.time_since_epoch().count()),
       static_cast<long>(duration_cast<std::chrono::nanoseconds>(time - seconds).count())}};
  return std::fflush(file) == 0 && futimens(fileno(file), times) == 0;
}

bool SyncFile(std::FILE* file) { return std::fflush(file) == 0 && fsync(fileno(file)) == 0; }

bool StartWriteback(std::FILE* file) {
  return std::fflush(file) == 0 && sync_file_range(fileno(file), 0, 0, SYNC_FILE_RANGE_WRITE) == 0;
}

// One syncfs for the whole set costs far less than a fsync per file.
bool SyncStagedFile(std::FILE* file) { return StartWriteback(file); }

bool SyncStagedFiles(const std::filesystem::path& folder) {
  const UniqueDescriptor directory(open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  return directory && syncfs(directory.get()) == 0;
}

bool NativeNameText(const std::filesystem::path& part, std::u16string* text) {
  return platform::DecodeFromCodePage(platform::kUtf8CodePage, part.native(), text);
}

bool NativeTreeName(uint32_t codePage, std::u16string_view part, std::filesystem::path* name) {
  std::string bytes;
  if (!platform::EncodeInCodePage(codePage, part, &bytes)) return false;
  *name = std::filesystem::path(std::move(bytes));
  return true;
}

FileLock::FileLock() = default;
FileLock::~FileLock() = default;

FileLock::Result FileLock::Take(const std::filesystem::path& path, bool create) {
  auto handle = std::make_unique<Handle>();
  const UniqueDescriptor folder = OpenParent(path);
  const int flags = O_RDWR | O_NOFOLLOW | O_CLOEXEC | (create ? O_CREAT : 0);
  if (folder) {
    handle->fd.reset(openat(folder.get(), path.filename().c_str(), flags, kLockFileMode));
  }
  if (!handle->fd) return errno == ENOENT ? Result::kMissing : Result::kFailed;
  // flock, not fcntl locks: two opens within one process exclude each other
  // too, and closing any other descriptor of the file keeps the lock.
  if (flock(handle->fd.get(), LOCK_EX | LOCK_NB) != 0) {
    return errno == EWOULDBLOCK ? Result::kHeld : Result::kFailed;
  }
  m_handle = std::move(handle);
  return Result::kLocked;
}

}  // namespace publish
