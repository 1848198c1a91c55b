#include "publish/file_io.h"

#include <io.h>
#include <windows.h>

#include <cerrno>
#include <string>

namespace publish {

struct FileLock::Handle {
  HANDLE file = INVALID_HANDLE_VALUE;
  explicit Handle(HANDLE handle) : file(handle) {}
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  ~Handle() {
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
  }
};

UniqueFile OpenFile(const std::filesystem::path& path, const char* mode) {
  // Modes are ASCII; the path stays UTF-16 so no code page mangles it.
  const std::wstring wideMode(mode, mode + std::char_traits<char>::length(mode));
  return UniqueFile(_wfopen(path.c_str(), wideMode.c_str()));
}

bool SyncFile(std::FILE* file) { return std::fflush(file) == 0 && _commit(_fileno(file)) == 0; }

bool StartWriteback(std::FILE* file) { return std::fflush(file) == 0; }

// Windows flushes file by file; there is no cheaper call for a set.
bool SyncStagedFile(std::FILE* file) { return SyncFile(file); }

bool SyncStagedFiles(const std::filesystem::path&) { return true; }

FileLock::FileLock() = default;
FileLock::~FileLock() = default;

FileLock::Result FileLock::Take(const std::filesystem::path& path, bool create) {
  auto handle = std::make_unique<Handle>(
      CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                  nullptr, create ? OPEN_ALWAYS : OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (handle->file == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND) return Result::kMissing;
    errno = EACCES;
    return Result::kFailed;
  }
  OVERLAPPED whole{};
  if (!LockFileEx(handle->file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, MAXDWORD,
                  MAXDWORD, &whole)) {
    if (GetLastError() == ERROR_LOCK_VIOLATION) return Result::kHeld;
    errno = EACCES;
    return Result::kFailed;
  }
  m_handle = std::move(handle);
  return Result::kLocked;
}

}  // namespace publish
