#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "platform/types.h"
#include "platform/unique_owner.h"

// Files, folders and the current directory. Paths are Windows paths in
// UTF-16; relative ones resolve against the process's current directory.
namespace platform {

using UniqueFile = UniqueOwner<FileTraits>;

// A C stream opened by wide path (_wfopen); mode as for fopen ("rb", "wb").
UniqueFile OpenFile(const std::u16string& path, const char* mode);
// The same for a path in the system's ANSI code page.
UniqueFile OpenFileAnsi(const char* path, const char* mode);

// GetFileAttributesW succeeds: a file or a folder of that name exists.
bool PathExists(const std::u16string& path);
// A file's size and last-write time (FILETIME units), as the file system
// keeps them: what changes when anyone writes the file.
struct FileStamp {
  uint64_t size = 0;
  uint64_t lastWrite = 0;
  bool operator==(const FileStamp&) const = default;
};
// False when the path is missing or names a folder.
bool QueryFileStamp(const std::u16string& path, FileStamp* stamp);
bool RemoveFile(const std::u16string& path);
bool RemoveFileAnsi(const char* path);
// CreateDirectoryW with default security: kErrorSuccess or the error code.
uint32_t MakeDirectory(const std::u16string& path);
// CreateDirectoryW with a protected DACL, inherited by everything below it:
// Administrators and SYSTEM full control, Users read and execute, nothing
// taken from the parent. kErrorSuccess or the error code.
uint32_t MakeProtectedDirectory(const std::u16string& path);
// Gives an existing file or folder that protection, owned by Administrators;
// a file gets the same entries with nothing to pass on. Only that object
// changes: files and folders already below a folder keep their own. Done
// through a handle that follows no link at the path's own name: a link
// there (a reparse point, a file with a second name) or, while files are
// confined, a path elsewhere is refused with kErrorReparsePointEncountered.
// kErrorSuccess or the error code.
uint32_t ProtectExistingPath(const std::u16string& path);
// Whether the file or folder is the launcher's already: owned by
// Administrators, its DACL protected from the parent's, and no entry in it
// allowing anyone but Administrators and SYSTEM more than to read and
// execute. Read through a handle that follows no link at its name; false
// when it cannot be read.
bool IsAdministratorsOnly(const std::u16string& path);

// The install folder a signed launcher has made its own, from then on:
// every file that OpenFile, OpenFileAnsi, OpenStagingFile, OpenAppendFile,
// HoldFile and ProtectExistingPath take must lie at or below it (its final
// path, links resolved, at or below the folder's), and is opened without
// following a link at its own name; a link there (a reparse point, or a
// file with a second name) is refused. So a writer with administrator
// rights cannot be steered out of the folder. Until it is set (always, in
// launchers built without a key) files open as named. kErrorSuccess or the
// error code.
uint32_t ConfineFilesTo(const std::u16string& folder);
// Files open as named again; nothing but tests calls it.
void EndFileConfinementForTesting();

// The path as the system resolves it, links followed, in the form of
// GetFinalPathNameByHandleW ("\\?\C:\..."); false when it cannot be opened.
bool QueryFinalPath(const std::u16string& path, std::u16string* finalPath);
// Whether `path` is `folder` or lies below it, each a drive path or a share
// in either form (plain or as QueryFinalPath gives it), compared as Windows
// compares names (UpperCaseAsFileSystem), a separator at the end ignored.
bool IsAtOrBelow(std::u16string_view path, std::u16string_view folder);
// A drive's root ("C:\") or a share's ("\\server\share"), in either form.
bool IsVolumeRoot(std::u16string_view path);

// Whether the path itself is a reparse point (a junction or a symbolic
// link), read without following it, with or without a backslash after it.
// False when its attributes cannot be read (missing, no access).
bool QueryReparsePoint(const std::u16string& path, bool* isReparsePoint);

// A file opened for reading with read sharing only (CreateFileW with
// GENERIC_READ and FILE_SHARE_READ): while it is held, nobody can open it for
// writing, rename or delete it, and it can still be started as a program.
struct HeldFileTraits : PointerTraits<void> {
  static void Close(void* file);
};
using HeldFile = UniqueOwner<HeldFileTraits>;
// Empty when the file cannot be opened that way (missing, a folder, a link
// at its name, a file with a second name, or already open for writing
// elsewhere).
HeldFile HoldFile(const std::u16string& path);
// The next bytes from the file's position; *read is 0 at its end. False when
// the read fails.
bool ReadHeldFile(const HeldFile& file, void* buffer, size_t size, size_t* read);
// Where the held file lies, as the system resolved it when it was opened
// (links followed), in the form a command line takes: "C:\..." or
// "\\server\share\...". False when it cannot be had or does not fit.
bool HeldFilePath(const HeldFile& file, std::u16string* path);
// That form of a final path ("\\?\C:\..." or "\\?\UNC\server\share\...",
// as GetFinalPathNameByHandleW gives it). False for any other form, for
// kMaxPath units or more, and for a name ending in a dot or a blank, which
// the shorter form would name differently.
bool CommandLinePathOfFinalPath(const std::u16string& finalPath, std::u16string* path);

// A download's staging file, from its creation to its rename into place:
// created empty (replacing a file of that name), open for writing and
// reading and shared with readers only, so nobody else can change its bytes
// meanwhile. It can still be renamed (the stream then writes the file under
// its new name) and deleted. Empty where it cannot be made so: a folder, a
// missing folder, a file held or open for writing elsewhere, a link at its
// name or a file with a second name (left as they are). Reading back
// and writing on take an fseek in between, as for any C stream.
// kKeepBytes opens the file as it is (made when missing), to continue it.
enum class StagingStart { kEmpty, kKeepBytes };
UniqueFile OpenStagingFile(const std::u16string& path,
                           StagingStart start = StagingStart::kEmpty);
// A file opened to append to, created when missing, shared with readers and
// other writers: never through a link at its own name (a reparse point, or
// a file with a second name), so that a writer with administrator rights
// cannot be steered onto another file from a folder its user may write.
// Empty where it cannot be opened so.
UniqueFile OpenAppendFile(const std::u16string& path);
// Empties the file behind the stream and puts the stream at its start.
bool TruncateStream(std::FILE* file);
// Size of the file behind the stream, everything written so far included.
bool StreamSize(std::FILE* file, uint64_t* size);

// Full path of the running executable (GetModuleFileNameW, kMaxPath units);
// empty when it cannot be read or does not fit.
std::u16string GetModuleFilePath();
// PathRemoveFileSpecW: drops the last component; a drive root keeps its
// backslash ("C:\a.exe" -> "C:\").
std::u16string RemoveFileSpec(const std::u16string& path);

bool SetWorkingDirectory(const std::u16string& path);
// GetCurrentDirectoryW into a buffer of 1,024 code units; empty on failure.
std::u16string GetWorkingDirectory();

struct DiskFreeSpace {
  uint32_t sectorsPerCluster = 0;
  uint32_t bytesPerSector = 0;
  uint32_t freeClusters = 0;
};
// GetDiskFreeSpaceW on the folder text as given.
bool QueryDiskFreeSpace(const std::u16string& folder, DiskFreeSpace* space);

// SHFileOperationW flags (FOF_...).
inline constexpr uint16_t kFofSilent = 0x0004;
inline constexpr uint16_t kFofNoConfirmation = 0x0010;
inline constexpr uint16_t kFofNoConfirmMkdir = 0x0200;
inline constexpr uint16_t kFofNoErrorUi = 0x0400;

// SHFileOperationW with no owner window. `from` and `to` are one-entry lists
// ending in two NULs; `to` is null for a deletion. Returns its result (0: ok).
enum class ShellFileOp : uint32_t { kDelete = 3, kRename = 4 };
int ShellFileOperation(ShellFileOp op, const char16_t* from, const char16_t* to,
                       uint16_t flags);

}  // namespace platform
