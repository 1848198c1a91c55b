#include "publish/file_io.h"

#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/code_page.h"

namespace publish {

namespace {

// FILETIME counts 100 ns from 1601; the system clock counts from 1970.
constexpr int64_t kFileTimeOf1970 = 116444736000000000;
using FileTimeTicks = std::chrono::duration<int64_t, std::ratio<1, 10000000>>;
constexpr int kBitsPerDword = 32;

struct FileHandleTraits {
  using Handle = HANDLE;
  static Handle Empty() { return INVALID_HANDLE_VALUE; }
  static bool IsValid(Handle handle) { return handle != INVALID_HANDLE_VALUE; }
  static void Close(Handle handle) { CloseHandle(handle); }
};
using UniqueHandle = platform::UniqueOwner<FileHandleTraits>;

int ErrnoOf(DWORD error) {
  switch (error) {
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
      return EEXIST;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
      return ENOENT;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      return ENOSPC;
    default:
      return EACCES;
  }
}

// What a handle is; false with errno set when it cannot be told.
bool QueryHandle(HANDLE handle, BY_HANDLE_FILE_INFORMATION* info) {
  if (GetFileInformationByHandle(handle, info)) return true;
  errno = ErrnoOf(GetLastError());
  return false;
}

// Opens what lies at `path` itself, a reparse point as such, with `access`;
// ELOOP for a reparse point. Shared for reading and writing only, so that
// nothing renames or deletes it while the handle is held.
UniqueHandle OpenWithoutLinks(const std::filesystem::path& path, DWORD access, DWORD disposition,
                              BY_HANDLE_FILE_INFORMATION* info) {
  UniqueHandle handle(CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  disposition,
                                  FILE_ATTRIBUTE_NORMAL | FILE_FLAG_BACKUP_SEMANTICS |
                                      FILE_FLAG_OPEN_REPARSE_POINT,
                                  nullptr));
  if (!handle) {
    errno = ErrnoOf(GetLastError());
    return UniqueHandle();
  }
  if (!QueryHandle(handle.get(), info)) return UniqueHandle();
  if ((info->dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    errno = ELOOP;
    return UniqueHandle();
  }
  return handle;
}

// Every folder below the root of `path`'s folder, each checked to be a
// folder and no reparse point and held open until the object goes: none
// can be swapped for a junction meanwhile. Windows has no openat; holding
// the folders is how it keeps a checked path the same.
class HeldFolders {
 public:
  explicit HeldFolders(const std::filesystem::path& path) {
    std::filesystem::path folder = path.root_path();
    for (const std::filesystem::path& part : path.parent_path().relative_path()) {
      folder /= part;
      BY_HANDLE_FILE_INFORMATION info{};
      UniqueHandle held = OpenWithoutLinks(folder, FILE_READ_ATTRIBUTES, OPEN_EXISTING, &info);
      if (!held) return;
      if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        errno = ENOTDIR;
        return;
      }
      m_folders.push_back(std::move(held));
    }
    m_held = true;
  }
  // False with errno set when a folder is missing, no folder or a link.
  explicit operator bool() const { return m_held; }

 private:
  std::vector<UniqueHandle> m_folders;
  bool m_held = false;
};

// A handle's C stream; null with errno set.
UniqueFile StreamOf(UniqueHandle handle, int flags, const char* mode) {
  if (!handle) return UniqueFile();
  const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle.get()), flags);
  if (fd < 0) {
    errno = EACCES;
    return UniqueFile();
  }
  static_cast<void>(handle.release());  // the descriptor owns it now
  std::FILE* file = _fdopen(fd, mode);
  if (file == nullptr) _close(fd);
  return UniqueFile(file);
}

int64_t TicksOf(const FILETIME& time) {
  const int64_t fileTime =
      static_cast<int64_t>((static_cast<uint64_t>(time.dwHighDateTime) << kBitsPerDword) |
                           time.dwLowDateTime);
  const std::chrono::sys_time<FileTimeTicks> system(FileTimeTicks(fileTime - kFileTimeOf1970));
  return std::chrono::duration_cast<std::filesystem::file_time_type::duration>(
             std::chrono::file_clock::from_sys(system).time_since_epoch())
      .count();
}

}  // namespace

struct FileLock::Handle {
  UniqueHandle file;
};

UniqueFile OpenFile(const std::filesystem::path& path, const char* mode) {
  // Modes are ASCII; the path stays UTF-16 so no code page mangles it.
  const std::wstring wideMode(mode, mode + std::char_traits<char>::length(mode));
  return UniqueFile(_wfopen(path.c_str(), wideMode.c_str()));
}

UniqueFile OpenTreeFile(const std::filesystem::path& path) {
  const HeldFolders folders(path);
  BY_HANDLE_FILE_INFORMATION info{};
  if (!folders) return UniqueFile();
  return StreamOf(OpenWithoutLinks(path, GENERIC_READ, OPEN_EXISTING, &info),
                  _O_RDONLY | _O_BINARY, "rb");
}

UniqueFile CreateNewFile(const std::filesystem::path& path) {
  const HeldFolders folders(path);
  if (!folders) return UniqueFile();
  // CREATE_NEW fails where anything lies, a link included; opening the
  // reparse point itself keeps any link from being followed.
  UniqueHandle handle(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                  FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!handle) {
    errno = ErrnoOf(GetLastError());
    return UniqueFile();
  }
  return StreamOf(std::move(handle), _O_WRONLY | _O_BINARY, "wb");
}

TreeEntry QueryTreeEntry(const std::filesystem::path& path, FileStamp* stamp) {
  const HeldFolders folders(path);
  BY_HANDLE_FILE_INFORMATION info{};
  if (!folders || !OpenWithoutLinks(path, FILE_READ_ATTRIBUTES, OPEN_EXISTING, &info)) {
    return errno == ENOENT ? TreeEntry::kMissing : TreeEntry::kFailed;
  }
  if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return TreeEntry::kOther;
  stamp->size = (static_cast<uint64_t>(info.nFileSizeHigh) << kBitsPerDword) | info.nFileSizeLow;
  stamp->time = TicksOf(info.ftLastWriteTime);
  return TreeEntry::kFile;
}

bool RemoveTreeFile(const std::filesystem::path& path) {
  const HeldFolders folders(path);
  if (!folders) return errno == ENOENT;
  // A reparse point is deleted itself, never what it leads to.
  if (DeleteFileW(path.c_str())) return true;
  errno = ErrnoOf(GetLastError());
  return errno == ENOENT;
}

bool RenameTreeFile(const std::filesystem::path& from, const std::filesystem::path& to) {
  const HeldFolders fromFolders(from);
  const HeldFolders toFolders(to);
  if (!fromFolders || !toFolders) return false;
  if (MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING)) return true;
  errno = ErrnoOf(GetLastError());
  return false;
}

bool CreateTreeFolders(const std::filesystem::path& folder) {
  std::filesystem::path made = folder.root_path();
  for (const std::filesystem::path& part : folder.relative_path()) {
    made /= part;
    const HeldFolders above(made);
    if (!above) return false;
    if (!CreateDirectoryW(made.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
      errno = ErrnoOf(GetLastError());
      return false;
    }
  }
  // The last one is checked like those above it.
  return static_cast<bool>(HeldFolders(folder / L"."));
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
  auto handle = std::make_unique<Handle>();
  const HeldFolders folders(path);
  BY_HANDLE_FILE_INFORMATION info{};
  if (folders) {
    handle->file = OpenWithoutLinks(path, GENERIC_READ | GENERIC_WRITE,
                                    create ? OPEN_ALWAYS : OPEN_EXISTING, &info);
  }
  if (!handle->file) return errno == ENOENT ? Result::kMissing : Result::kFailed;
  OVERLAPPED whole{};
  if (!LockFileEx(handle->file.get(), LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0,
                  MAXDWORD, MAXDWORD, &whole)) {
    if (GetLastError() == ERROR_LOCK_VIOLATION) return Result::kHeld;
    errno = EACCES;
    return Result::kFailed;
  }
  m_handle = std::move(handle);
  return Result::kLocked;
}

}  // namespace publish
