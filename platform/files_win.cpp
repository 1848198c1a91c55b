#include "platform/files.h"

#include <fcntl.h>
#include <io.h>

#include <algorithm>
#include <vector>

#include "platform/win32.h"

namespace platform {

static_assert(kMaxPath == MAX_PATH);
static_assert(static_cast<UINT>(ShellFileOp::kDelete) == FO_DELETE);
static_assert(static_cast<UINT>(ShellFileOp::kRename) == FO_RENAME);
static_assert(kFofSilent == FOF_SILENT && kFofNoConfirmation == FOF_NOCONFIRMATION &&
              kFofNoConfirmMkdir == FOF_NOCONFIRMMKDIR && kFofNoErrorUi == FOF_NOERRORUI);

namespace {
constexpr DWORD kWorkingDirectoryUnits = 1024;
// A final path that fits a command line once "\\?\UNC\" has become "\\".
constexpr DWORD kFinalPathUnits = kMaxPath + 6;

// A C runtime file descriptor.
struct DescriptorTraits {
  using Handle = int;
  static Handle Empty() { return -1; }
  static bool IsValid(Handle descriptor) { return descriptor != -1; }
  static void Close(Handle descriptor) { ::_close(descriptor); }
};

bool ReadSddl(const wchar_t* sddl, UniqueOwner<LocalMemoryTraits>* descriptor) {
  return ::ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1,
                                                                descriptor->Receive(), nullptr);
}

HANDLE StreamHandle(std::FILE* file) {
  return reinterpret_cast<HANDLE>(::_get_osfhandle(::_fileno(file)));
}
}  // namespace

UniqueFile OpenFile(const std::u16string& path, const char* mode) {
  const std::wstring wideMode(mode, mode + std::char_traits<char>::length(mode));
  return UniqueFile(::_wfopen(W(path), wideMode.c_str()));
}

UniqueFile OpenFileAnsi(const char* path, const char* mode) {
  return UniqueFile(std::fopen(path, mode));
}

bool PathExists(const std::u16string& path) {
  return ::GetFileAttributesW(W(path)) != INVALID_FILE_ATTRIBUTES;
}

bool QueryFileStamp(const std::u16string& path, FileStamp* stamp) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!::GetFileAttributesExW(W(path), GetFileExInfoStandard, &data) ||
      (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    return false;
  }
  constexpr int kHighShift = 32;
  stamp->size = (uint64_t{data.nFileSizeHigh} << kHighShift) | data.nFileSizeLow;
  stamp->lastWrite =
      (uint64_t{data.ftLastWriteTime.dwHighDateTime} << kHighShift) | data.ftLastWriteTime.dwLowDateTime;
  return true;
}

bool RemoveFile(const std::u16string& path) { return ::DeleteFileW(W(path)) != FALSE; }

bool RemoveFileAnsi(const char* path) { return ::DeleteFileA(path) != FALSE; }

uint32_t MakeDirectory(const std::u16string& path) {
  if (::CreateDirectoryW(W(path), nullptr)) return kErrorSuccess;
  return ::GetLastError();
}

uint32_t MakeProtectedDirectory(const std::u16string& path) {
  UniqueOwner<LocalMemoryTraits> descriptor;
  if (!ReadSddl(kProtectedFolderSddl, &descriptor)) return ::GetLastError();
  SECURITY_ATTRIBUTES attributes = {sizeof(attributes), descriptor.get(), FALSE};
  if (::CreateDirectoryW(W(path), &attributes)) return kErrorSuccess;
  return ::GetLastError();
}

uint32_t ProtectExistingPath(const std::u16string& path) {
  const DWORD attributes = ::GetFileAttributesW(W(path));
  if (attributes == INVALID_FILE_ATTRIBUTES) return ::GetLastError();
  const bool folder = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  UniqueOwner<LocalMemoryTraits> descriptor;
  if (!ReadSddl(folder ? kProtectedExistingFolderSddl : kProtectedExistingFileSddl, &descriptor)) {
    return ::GetLastError();
  }
  // SetFileSecurityW, not SetNamedSecurityInfoW or SetSecurityInfo: those
  // push the new inheritable entries into everything already below, and a
  // game may keep folders there with permissions of their own.
  if (::SetFileSecurityW(W(path), OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                         descriptor.get())) {
    return kErrorSuccess;
  }
  return ::GetLastError();
}

bool QueryReparsePoint(const std::u16string& path, bool* isReparsePoint) {
  // GetFileAttributesW describes a link itself, not what it points to, but
  // follows it for a name with a separator after it (Wine does): the name
  // goes without one, a drive root excepted.
  std::u16string name = path;
  while (name.size() > 1 && (name.back() == u'\\' || name.back() == u'/') &&
         !(name.size() == 3 && name[1] == u':')) {
    name.pop_back();
  }
  const DWORD attributes = ::GetFileAttributesW(W(name));
  if (attributes == INVALID_FILE_ATTRIBUTES) return false;
  *isReparsePoint = (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
  return true;
}

void HeldFileTraits::Close(void* file) { KernelHandleTraits::Close(file); }

HeldFile HoldFile(const std::u16string& path) {
  // No write or delete sharing: the bytes read through this handle are the
  // bytes that start, whatever another process tries meanwhile.
  const HANDLE file = ::CreateFileW(W(path), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return {};
  return HeldFile(file);
}

bool ReadHeldFile(const HeldFile& file, void* buffer, size_t size, size_t* read) {
  DWORD got = 0;
  const DWORD asked = static_cast<DWORD>(std::min<size_t>(size, MAXDWORD));
  if (!::ReadFile(file.get(), buffer, asked, &got, nullptr)) return false;
  *read = got;
  return true;
}

bool HeldFilePath(const HeldFile& file, std::u16string* path) {
  wchar_t buffer[kFinalPathUnits] = {};
  // The name the handle was opened at, links and junctions resolved: the
  // file hashed, not whatever a second look-up of its name finds.
  const DWORD length = ::GetFinalPathNameByHandleW(file.get(), buffer, kFinalPathUnits,
                                                   FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
  if (length == 0 || length >= kFinalPathUnits) return false;
  return CommandLinePathOfFinalPath(FromW(buffer), path);
}

UniqueFile OpenStagingFile(const std::u16string& path, StagingStart start) {
  // Readers only, from the download to the rename: nobody else can change
  // the bytes checked. Delete sharing lets the launcher rename it while open.
  const DWORD disposition = start == StagingStart::kKeepBytes ? OPEN_ALWAYS : CREATE_ALWAYS;
  UniqueHandle file(::CreateFileW(W(path), GENERIC_READ | GENERIC_WRITE,
                                  FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, disposition,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return {};
  UniqueOwner<DescriptorTraits> descriptor(
      ::_open_osfhandle(reinterpret_cast<intptr_t>(file.get()), _O_RDWR | _O_BINARY));
  if (!descriptor) return {};
  static_cast<void>(file.release());  // the descriptor closes it now
  UniqueFile stream(::_fdopen(descriptor.get(), "w+b"));
  if (stream) static_cast<void>(descriptor.release());  // and the stream the descriptor
  return stream;
}

UniqueFile OpenAppendFile(const std::u16string& path) {
  // A reparse point is opened itself, not what it names, and then refused.
  UniqueHandle file(::CreateFileW(W(path), FILE_APPEND_DATA | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  BY_HANDLE_FILE_INFORMATION information = {};
  constexpr DWORD kNotAPlainFile = FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY;
  if (!file || !::GetFileInformationByHandle(file.get(), &information) ||
      (information.dwFileAttributes & kNotAPlainFile) != 0 || information.nNumberOfLinks != 1) {
    return {};
  }
  UniqueOwner<DescriptorTraits> descriptor(::_open_osfhandle(
      reinterpret_cast<intptr_t>(file.get()), _O_WRONLY | _O_APPEND | _O_BINARY));
  if (!descriptor) return {};
  static_cast<void>(file.release());  // the descriptor closes it now
  UniqueFile stream(::_fdopen(descriptor.get(), "ab"));
  if (stream) static_cast<void>(descriptor.release());  // and the stream the descriptor
  return stream;
}

bool TruncateStream(std::FILE* file) {
  return std::fflush(file) == 0 && std::fseek(file, 0, SEEK_SET) == 0 &&
         ::SetEndOfFile(StreamHandle(file)) != FALSE;
}

bool StreamSize(std::FILE* file, uint64_t* size) {
  LARGE_INTEGER bytes = {};
  if (std::fflush(file) != 0 || !::GetFileSizeEx(StreamHandle(file), &bytes)) return false;
  *size = static_cast<uint64_t>(bytes.QuadPart);
  return true;
}

std::u16string GetModuleFilePath() {
  wchar_t buffer[kMaxPath] = {};
  const DWORD length = ::GetModuleFileNameW(nullptr, buffer, kMaxPath);
  // A path cut at the buffer's end is no path at all.
  if (length == 0 || length >= kMaxPath) return {};
  return FromW(buffer);
}

std::u16string GetTempFolderPath() {
  wchar_t buffer[kMaxPath] = {};
  const DWORD length = ::GetTempPathW(kMaxPath, buffer);
  if (length == 0 || length >= kMaxPath) return {};
  return FromW(buffer);
}

std::u16string RemoveFileSpec(const std::u16string& path) {
  if (path.size() >= kMaxPath) return path;
  wchar_t buffer[kMaxPath] = {};
  path.copy(reinterpret_cast<char16_t*>(buffer), path.size());
  ::PathRemoveFileSpecW(buffer);
  return FromW(buffer);
}

bool SetWorkingDirectory(const std::u16string& path) {
  return ::SetCurrentDirectoryW(W(path)) != FALSE;
}

std::u16string GetWorkingDirectory() {
  wchar_t buffer[kWorkingDirectoryUnits] = {};
  const DWORD length = ::GetCurrentDirectoryW(kWorkingDirectoryUnits, buffer);
  if (length == 0 || length >= kWorkingDirectoryUnits) return {};
  return FromW(buffer);
}

bool QueryDiskFreeSpace(const std::u16string& folder, DiskFreeSpace* space) {
  DWORD sectorsPerCluster = 0;
  DWORD bytesPerSector = 0;
  DWORD freeClusters = 0;
  if (!::GetDiskFreeSpaceW(W(folder), &sectorsPerCluster, &bytesPerSector, &freeClusters,
                           nullptr)) {
    return false;
  }
  space->sectorsPerCluster = sectorsPerCluster;
  space->bytesPerSector = bytesPerSector;
  space->freeClusters = freeClusters;
  return true;
}

int ShellFileOperation(ShellFileOp op, const char16_t* from, const char16_t* to,
                       uint16_t flags) {
  SHFILEOPSTRUCTW operation = {};
  operation.hwnd = nullptr;
  operation.wFunc = static_cast<UINT>(op);
  operation.pFrom = W(from);
  operation.pTo = to ? W(to) : nullptr;
  operation.fFlags = flags;
  return ::SHFileOperationW(&operation);
}

}  // namespace platform
