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

UniqueFile CreateNewFile(const std::filesystem::path& path) {
  const int fd =
      open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, kPublishedFileMode);
  if (fd < 0) return UniqueFile();
  // Through the descriptor: the name may already lead elsewhere.
  std::FILE* file = fchmod(fd, kPublishedFileMode) == 0 ? fdopen(fd, "wb") : nullptr;
  if (file == nullptr) {
    const int error = errno;
    close(fd);
    errno = error;
  }
  return UniqueFile(file);
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
  const Descriptor directory(open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  return directory.fd >= 0 && syncfs(directory.fd) == 0;
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
