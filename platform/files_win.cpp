#include "platform/files.h"
#include "platform/files_win.h"

#include <fcntl.h>
#include <io.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "platform/system.h"
#include "platform/win32.h"

namespace platform {

static_assert(kMaxPath == MAX_PATH);
static_assert(static_cast<UINT>(ShellFileOp::kDelete) == FO_DELETE);
static_assert(static_cast<UINT>(ShellFileOp::kRename) == FO_RENAME);
static_assert(kFofSilent == FOF_SILENT && kFofNoConfirmation == FOF_NOCONFIRMATION &&
              kFofNoConfirmMkdir == FOF_NOCONFIRMMKDIR && kFofNoErrorUi == FOF_NOERRORUI);

namespace {
constexpr DWORD kWorkingDirectoryUnits = 1024;
// Longer than any path the launcher compares or starts a program by.
constexpr DWORD kFinalPathUnits = 1024;
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
// What fopen's streams share with other openers: readers and writers.
constexpr DWORD kShareAsStreams = FILE_SHARE_READ | FILE_SHARE_WRITE;
// Reading and running, the most anyone but Administrators and SYSTEM may do
// in a folder of the launcher's own.
constexpr ACCESS_MASK kReadAndExecute = FILE_GENERIC_READ | FILE_GENERIC_EXECUTE;

// The final path of the install folder that confines the files opened from
// the claim of a signed launcher on, for the rest of the process; empty
// while nothing does.
std::u16string g_confinedTo;

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

bool FinalPathOf(HANDLE object, std::u16string* path) {
  wchar_t buffer[kFinalPathUnits] = {};
  const DWORD length = ::GetFinalPathNameByHandleW(object, buffer, kFinalPathUnits,
                                                   FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
  if (length == 0 || length >= kFinalPathUnits) return false;
  *path = FromW(buffer);
  return true;
}

// The object behind a handle opened without following a link at its name
// is one the launcher may take: not a reparse point, a file with one name
// (or a folder, when `folderAllowed`), and while files are confined, at or
// below the folder. Wine opens a link to a file as the file it leads to and
// calls it none: its final path tells.
bool IsOwnObject(HANDLE object, bool folderAllowed, bool* folder = nullptr) {
  BY_HANDLE_FILE_INFORMATION information = {};
  if (!::GetFileInformationByHandle(object, &information)) return false;
  const bool isFolder = (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  if ((information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 ||
      (isFolder ? !folderAllowed : information.nNumberOfLinks != 1)) {
    return false;
  }
  if (folder != nullptr) *folder = isFolder;
  std::u16string where;
  return g_confinedTo.empty() || (FinalPathOf(object, &where) && IsAtOrBelow(where, g_confinedTo));
}

// CreateFileW on the name itself, not on what a link there leads to; empty
// unless it is a file of the launcher's to take (IsOwnObject).
UniqueHandle OpenOwnFile(const std::u16string& path, DWORD access, DWORD share,
                         DWORD disposition) {
  UniqueHandle file(::CreateFileW(W(path), access | FILE_READ_ATTRIBUTES, share, nullptr,
                                  disposition, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT,
                                  nullptr));
  if (!file || !IsOwnObject(file.get(), false)) return {};
  return file;
}

// A file or folder itself, for its security descriptor.
UniqueHandle OpenOwnObject(const std::u16string& path, DWORD access) {
  return UniqueHandle(::CreateFileW(W(path), access | FILE_READ_ATTRIBUTES, kShareAll, nullptr,
                                    OPEN_EXISTING,
                                    FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                                    nullptr));
}

// A C stream over the file, which closes it from then on; empty, the file
// closed, when none can be made.
UniqueFile StreamOf(UniqueHandle file, int descriptorFlags, const char* mode) {
  if (!file) return {};
  UniqueOwner<DescriptorTraits> descriptor(
      ::_open_osfhandle(reinterpret_cast<intptr_t>(file.get()), descriptorFlags));
  if (!descriptor) return {};
  static_cast<void>(file.release());  // the descriptor closes it now
  UniqueFile stream(::_fdopen(descriptor.get(), mode));
  if (stream) static_cast<void>(descriptor.release());  // and the stream the descriptor
  return stream;
}

// fopen's modes ("rb", "wb", "ab"; "+" to read and write) on a file opened
// by OpenOwnFile, shared as fopen shares: a file replaced ("w") is emptied
// only once it is known to be the one named.
UniqueFile OpenConfinedFile(const std::u16string& path, const char* mode) {
  const bool update = std::strchr(mode, '+') != nullptr;
  int flags = std::strchr(mode, 'b') != nullptr ? _O_BINARY : _O_TEXT;
  DWORD access = update ? GENERIC_READ | GENERIC_WRITE : 0;
  DWORD disposition = OPEN_ALWAYS;
  switch (mode[0]) {
    case 'r':
      access |= GENERIC_READ;
      disposition = OPEN_EXISTING;
      flags |= update ? _O_RDWR : _O_RDONLY;
      break;
    case 'w':
      access |= GENERIC_WRITE;
      flags |= update ? _O_RDWR : _O_WRONLY;
      break;
    case 'a':
      access = (update ? GENERIC_READ : 0) | FILE_APPEND_DATA | SYNCHRONIZE;
      flags |= _O_APPEND | (update ? _O_RDWR : _O_WRONLY);
      break;
    default:
      return {};
  }
  UniqueHandle file = OpenOwnFile(path, access, kShareAsStreams, disposition);
  if (!file || (mode[0] == 'w' && !::SetEndOfFile(file.get()))) return {};
  return StreamOf(std::move(file), flags, mode);
}
}  // namespace

UniqueFile OpenFile(const std::u16string& path, const char* mode) {
  if (!g_confinedTo.empty()) return OpenConfinedFile(path, mode);
  const std::wstring wideMode(mode, mode + std::char_traits<char>::length(mode));
  return UniqueFile(::_wfopen(W(path), wideMode.c_str()));
}

UniqueFile OpenFileAnsi(const char* path, const char* mode) {
  if (g_confinedTo.empty()) return UniqueFile(std::fopen(path, mode));
  std::u16string wide;
  if (!DecodeAnsi(path, &wide)) return {};
  return OpenConfinedFile(wide, mode);
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
  // Wine opens a link to a folder as the folder it leads to, even with
  // FILE_FLAG_OPEN_REPARSE_POINT; its attributes still tell.
  bool link = false;
  if (QueryReparsePoint(path, &link) && link) return kErrorReparsePointEncountered;
  const UniqueHandle object = OpenOwnObject(path, READ_CONTROL | WRITE_DAC | WRITE_OWNER);
  if (!object) return ::GetLastError();
  bool folder = false;
  if (!IsOwnObject(object.get(), true, &folder)) return kErrorReparsePointEncountered;
  UniqueOwner<LocalMemoryTraits> descriptor;
  if (!ReadSddl(folder ? kProtectedExistingFolderSddl : kProtectedExistingFileSddl, &descriptor)) {
    return ::GetLastError();
  }
  // SetKernelObjectSecurity, not SetSecurityInfo or SetNamedSecurityInfoW:
  // Windows documents that those push the new inheritable entries into
  // everything already below, and a game may keep folders there with
  // permissions of their own (that propagation is why Windows advises them
  // for files). This sets the one object's descriptor as given.
  if (::SetKernelObjectSecurity(object.get(), OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                                descriptor.get())) {
    return kErrorSuccess;
  }
  return ::GetLastError();
}

bool IsAdministratorsOnlyDescriptor(PSECURITY_DESCRIPTOR descriptor) {
  PSID owner = nullptr;
  BOOL ownerDefaulted = FALSE;
  BOOL daclPresent = FALSE;
  PACL dacl = nullptr;
  BOOL daclDefaulted = FALSE;
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  if (!::GetSecurityDescriptorOwner(descriptor, &owner, &ownerDefaulted) || owner == nullptr ||
      !::IsWellKnownSid(owner, WinBuiltinAdministratorsSid) ||
      !::GetSecurityDescriptorDacl(descriptor, &daclPresent, &dacl, &daclDefaulted) ||
      !daclPresent || dacl == nullptr ||
      !::GetSecurityDescriptorControl(descriptor, &control, &revision) ||
      (control & SE_DACL_PROTECTED) == 0) {
    return false;
  }
  GENERIC_MAPPING mapping = {FILE_GENERIC_READ, FILE_GENERIC_WRITE, FILE_GENERIC_EXECUTE,
                             FILE_ALL_ACCESS};
  for (DWORD index = 0; index < dacl->AceCount; ++index) {
    void* ace = nullptr;
    if (!::GetAce(dacl, index, &ace)) return false;
    const BYTE type = static_cast<const ACE_HEADER*>(ace)->AceType;
    if (type == ACCESS_DENIED_ACE_TYPE) continue;
    // Entries of any other kind may allow what this does not read.
    if (type != ACCESS_ALLOWED_ACE_TYPE) return false;
    auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(ace);
    const PSID trustee = &allowed->SidStart;
    ACCESS_MASK mask = allowed->Mask;
    ::MapGenericMask(&mask, &mapping);
    const bool administrator = ::IsWellKnownSid(trustee, WinBuiltinAdministratorsSid) ||
                               ::IsWellKnownSid(trustee, WinLocalSystemSid);
    if (!administrator && (mask & ~kReadAndExecute) != 0) return false;
  }
  return true;
}

bool IsAdministratorsOnly(const std::u16string& path) {
  const UniqueHandle object = OpenOwnObject(path, READ_CONTROL);
  UniqueOwner<LocalMemoryTraits> descriptor;
  return object && IsOwnObject(object.get(), true) &&
         ::GetSecurityInfo(object.get(), SE_FILE_OBJECT,
                           OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, nullptr,
                           nullptr, nullptr, nullptr, descriptor.Receive()) == ERROR_SUCCESS &&
         IsAdministratorsOnlyDescriptor(descriptor.get());
}

uint32_t ConfineFilesTo(const std::u16string& folder) {
  std::u16string finalPath;
  if (!QueryFinalPath(folder, &finalPath)) return ::GetLastError();
  g_confinedTo = finalPath;
  return kErrorSuccess;
}

void EndFileConfinementForTesting() { g_confinedTo.clear(); }

bool QueryFinalPath(const std::u16string& path, std::u16string* finalPath) {
  const UniqueHandle object(::CreateFileW(W(path), FILE_READ_ATTRIBUTES, kShareAll, nullptr,
                                          OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  return object && FinalPathOf(object.get(), finalPath);
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
  UniqueHandle file = OpenOwnFile(path, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
  if (!file) return {};
  return HeldFile(file.release());
}

bool ReadHeldFile(const HeldFile& file, void* buffer, size_t size, size_t* read) {
  DWORD got = 0;
  const DWORD asked = static_cast<DWORD>(std::min<size_t>(size, MAXDWORD));
  if (!::ReadFile(file.get(), buffer, asked, &got, nullptr)) return false;
  *read = got;
  return true;
}

bool HeldFilePath(const HeldFile& file, std::u16string* path) {
  // The name the handle was opened at, links and junctions resolved: the
  // file hashed, not whatever a second look-up of its name finds.
  std::u16string finalPath;
  return FinalPathOf(file.get(), &finalPath) && CommandLinePathOfFinalPath(finalPath, path);
}

UniqueFile OpenStagingFile(const std::u16string& path, StagingStart start) {
  // Readers only, from the download to the rename: nobody else can change
  // the bytes checked. Delete sharing lets the launcher rename it while open.
  UniqueHandle file = OpenOwnFile(path, GENERIC_READ | GENERIC_WRITE,
                                  FILE_SHARE_READ | FILE_SHARE_DELETE, OPEN_ALWAYS);
  if (!file || (start == StagingStart::kEmpty && !::SetEndOfFile(file.get()))) return {};
  return StreamOf(std::move(file), _O_RDWR | _O_BINARY, "w+b");
}

UniqueFile OpenAppendFile(const std::u16string& path) {
  return StreamOf(OpenOwnFile(path, FILE_APPEND_DATA | SYNCHRONIZE, kShareAsStreams, OPEN_ALWAYS),
                  _O_WRONLY | _O_APPEND | _O_BINARY, "ab");
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
