#include "publish/file_io.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>

namespace publish {

namespace {

constexpr mode_t kLockFileMode = 0644;

struct Descriptor {
  int fd = -1;
  explicit Descriptor(int descriptor) : fd(descriptor) {}
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  ~Descriptor() {
    if (fd >= 0) close(fd);
  }
};

}  // namespace

struct FileLock::Handle : Descriptor {
  using Descriptor::Descriptor;
};

UniqueFile OpenFile(const std::filesystem::path& path, const char* mode) {
  return UniqueFile(std::fopen(path.c_str(), mode));
}

bool SyncFile(std::FILE* file) { return std::fflush(file) == 0 && fsync(fileno(file)) == 0; }

bool StartWriteback(std::FILE* file) {
  return std::fflush(file) == 0 && sync_file_range(fileno(file), 0, 0, SYNC_FILE_RANGE_WRITE) == 0;
}

// One syncfs for the whole set costs far less than a fsync per file.
bool SyncStagedFile(std::FILE* file) { return StartWriteback(file); }

bool SyncStagedFiles(const std::filesystem::path& folder) {
  const Descriptor directory(open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  return directory.fd >= 0 && syncfs(directory.fd) == 0;
}

FileLock::FileLock() = default;
FileLock::~FileLock() = default;

FileLock::Result FileLock::Take(const std::filesystem::path& path, bool create) {
  const int flags = O_RDWR | O_CLOEXEC | (create ? O_CREAT : 0);
  auto handle = std::make_unique<Handle>(open(path.c_str(), flags, kLockFileMode));
  if (handle->fd < 0) return errno == ENOENT ? Result::kMissing : Result::kFailed;
  // flock, not fcntl locks: two opens within one process exclude each other
  // too, and closing any other descriptor of the file keeps the lock.
  if (flock(handle->fd, LOCK_EX | LOCK_NB) != 0) {
    return errno == EWOULDBLOCK ? Result::kHeld : Result::kFailed;
  }
  m_handle = std::move(handle);
  return Result::kLocked;
}

}  // namespace publish
