#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <string_view>

#include "platform/unique_owner.h"

// The file calls the tool needs beyond std::filesystem, one implementation
// per platform: C streams by native path (errno tells why a write failed, a
// full disk included), putting data on the disk, the tree's lock, and file
// names in a code page.
//
// The release tree, the tool's manifest and its lock are reached without
// following a link anywhere in their paths (the *Tree* calls, CreateNewFile
// and FileLock): each folder is entered from the root a part at a time, and
// neither a folder nor the last part may be a link (on Windows a reparse
// point, and the folders are held open against a swap meanwhile). A link
// fails the call with ELOOP. Those paths are resolved when the run starts
// (ResolvedPath), so no part of them was a link then: one planted since
// stops the run rather than leading its writes, reads or deletes elsewhere.
namespace publish {

using UniqueFile = platform::UniqueOwner<platform::FileTraits>;

struct FileStamp {
  uint64_t size = 0;
  int64_t time = 0;  // the file system's modification time, in its own ticks
  bool operator==(const FileStamp&) const = default;
};

// Binary C stream; mode as for fopen ("rb", "wb"). Null on failure, errno set.
// Links are followed: for the build folder, whose links the scan checked.
UniqueFile OpenFile(const std::filesystem::path& path, const char* mode);
// A file of the tree for reading ("rb"). Null on failure, errno set.
UniqueFile OpenTreeFile(const std::filesystem::path& path);

// A new file, open for writing, made only where nothing lies yet, not even
// a link: a link planted at the name is never followed, so no other file is
// written or given our mode. Readable by all (mode 0644 where files have
// modes) whatever the umask.
// Null on failure, errno set (EEXIST when something lies there).
UniqueFile CreateNewFile(const std::filesystem::path& path);

enum class TreeEntry {
  kMissing,  // nothing lies there, or a folder above it is missing
  kFile,
  kOther,    // a folder, a device...
  kFailed,   // errno set: ELOOP for a link
};
// What lies at a path of the tree; a file's stamp into *stamp.
TreeEntry QueryTreeEntry(const std::filesystem::path& path, FileStamp* stamp);
// Deletes a file of the tree (a link there itself, never what it leads
// to). True when nothing lies there any more; errno set otherwise.
bool RemoveTreeFile(const std::filesystem::path& path);
// Renames a file of the tree onto another name, replacing what lies there.
// False with errno set.
bool RenameTreeFile(const std::filesystem::path& from, const std::filesystem::path& to);
// Creates the folder and those above it that are missing, each readable by
// all (0755 where folders have modes) whatever the umask. False with errno.
bool CreateTreeFolders(const std::filesystem::path& folder);

// Sets an open file's modification time through its handle, in the ticks of
// std::filesystem::file_time_type; flushes the stream first, so nothing
// written later moves the time. False with errno set on failure.
bool SetModificationTime(std::FILE* file, int64_t ticks);

// Flushes the stream and has the system put the file's data on the disk, so
// a rename that follows never makes a half-written file visible after a
// crash. False with errno set on failure.
bool SyncFile(std::FILE* file);

// Flushes the stream and has the system start writing what it holds to
// the disk without waiting, so the disk works while the next data is read.
// False with errno set on failure.
bool StartWriteback(std::FILE* file);
// For a staged file of a set that SyncStagedFiles later puts on the disk in
// one go: starts its writeback, and syncs it where the system offers no
// cheaper way for many files. False with errno set on failure.
bool SyncStagedFile(std::FILE* file);
// Puts every file staged below `folder` on the disk before they are renamed
// into place. False with errno set on failure.
bool SyncStagedFiles(const std::filesystem::path& folder);

// A part of a native path as text; POSIX names are UTF-8 bytes, and false
// when they are not.
bool NativeNameText(const std::filesystem::path& part, std::u16string* text);
// The native name of a part of a list name in the release tree. On POSIX
// its bytes in `codePage`: a web server finds a file by the bytes of the
// request, and players request the code page's. On Windows the name itself.
// False when it has no form there.
bool NativeTreeName(uint32_t codePage, std::u16string_view part, std::filesystem::path* name);

// An exclusive lock on a file, held until the object goes; the system drops
// it when the process ends, however it ends.
class FileLock {
 public:
  enum class Result { kLocked, kHeld, kMissing, kFailed };
  FileLock();
  ~FileLock();
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;

  // Takes the lock without waiting; `create` makes the file when missing
  // (else kMissing). kFailed with errno set.
  Result Take(const std::filesystem::path& path, bool create);

 private:
  struct Handle;
  std::unique_ptr<Handle> m_handle;
};

}  // namespace publish
