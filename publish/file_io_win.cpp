#include "publish/file_io.h"

#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <string>

#include "platform/code_page.h"

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

namespace {

// FILETIME counts 100 ns from 1601; the system clock counts from 1970.
constexpr int64_t kFileTimeOf1970 = 116444736000000000;
using FileTimeTicks = std::chrono::duration<int64_t, std::ratio<1, 10000000>>;

int ErrnoOf(DWORD error) {
  switch (error) {
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
      return EEXIST;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      return ENOSPC;
    default:
      return EACCES;
  }
}

}  // namespace

UniqueFile CreateNewFile(const std::filesystem::path& path) {
  // CREATE_NEW fails where anything lies, a link included; opening the
  // reparse point itself keeps any link from being followed.
  const HANDLE handle = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    errno = ErrnoOf(GetLastError());
    return UniqueFile();
  }
  const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_WRONLY | _O_BINARY);
  if (fd < 0) {
    CloseHandle(handle);
    errno = EACCES;
    return UniqueFile();
  }
  std::FILE* file = _fdopen(fd, "wb");
  if (file == nullptr) _close(fd);
  return UniqueFile(file);
}

bool SetModificationTime(std::FILE* file, int64_t ticks) {
  const auto time = std::chrono::file_clock::to_sys(
      std::filesystem::file_time_type(std::filesystem::file_time_type::duration(ticks)));
  const int64_t fileTime =
      std::chrono::duration_cast<FileTimeTicks>(time.time_since_epoch()).count() + kFileTimeOf1970;
  ULARGE_INTEGER value{};
  value.QuadPart = static_cast<uint64_t>(fileTime);
  const FILETIME written = {value.LowPart, value.HighPart};
  const auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file)));
  if (std::fflush(file) != 0) return false;
  if (SetFileTime(handle, nullptr, nullptr, &written)) return true;
  errno = ErrnoOf(GetLastError());
  return false;
}

bool SyncFile(std::FILE* file) { return std::fflush(file) == 0 && _commit(_fileno(file)) == 0; }

bool StartWriteback(std::FILE* file) { return std::fflush(file) == 0; }

// Windows flushes file by file; there is no cheaper call for a set.
bool SyncStagedFile(std::FILE* file) { return SyncFile(file); }

bool SyncStagedFiles(const std::filesystem::path&) { return true; }

bool NativeNameText(const std::filesystem::path& part, std::u16string* text) {
  const std::wstring& native = part.native();
  text->assign(native.begin(), native.end());
  return true;
}

bool NativeTreeName(uint32_t codePage, std::u16string_view part, std::filesystem::path* name) {
  std::string bytes;
  if (!platform::EncodeInCodePage(codePage, part, &bytes)) return false;
  // The file system holds UTF-16 names.
  *name = std::filesystem::path(std::wstring(part.begin(), part.end()));
  return true;
}

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
