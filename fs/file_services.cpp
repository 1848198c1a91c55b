#include "fs/file_services.h"

#include <algorithm>
#include <array>
#include <climits>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

#include "platform/files.h"
#include "platform/system.h"
#include "platform/types.h"

namespace {

// The shell reads its path lists up to a double NUL, so a buffer of 1,024
// units holds at most 1,022 characters followed by two NULs.
constexpr size_t kShellPathUnits = 1024;
constexpr size_t kMaxShellPathChars = kShellPathUnits - 2;
// No undo flag, so a deletion is final.
constexpr uint16_t kShellOperationFlags = platform::kFofSilent | platform::kFofNoConfirmation |
                                          platform::kFofNoConfirmMkdir | platform::kFofNoErrorUi;

// The part of a Win32 error code that an HRESULT carries.
constexpr uint32_t kHresultCodeMask = 0xFFFF;

constexpr int kRenameRetries = 5;
constexpr uint32_t kRenameRetryWaitMilliseconds = 1000;
constexpr size_t kReadChunkBytes = 64 * 1024;

constexpr size_t kLocalConversionUnits = 512;
constexpr size_t kFallbackInlineUnits = 128;

using ShellPathList = std::array<char16_t, kShellPathUnits>;

// A one-entry, double-NUL-terminated list. False for a path that does not
// leave room for both NULs, or that holds a NUL of its own and would turn
// into a list of several paths.
bool FillShellPathList(const std::u16string& path, ShellPathList* list) {
  if (path.size() > kMaxShellPathChars || path.find(u'\0') != std::u16string::npos) return false;
  list->fill(u'\0');
  std::copy(path.begin(), path.end(), list->begin());
  return true;
}

// Bytes of a NUL-terminated text, terminator included; -1 when that count
// does not fit the int the conversion calls take.
int AnsiBytesWithTerminator(const char* text) {
  const size_t length = std::strlen(text);
  if (length >= static_cast<size_t>(INT_MAX)) return -1;
  return static_cast<int>(length) + 1;
}

std::u16string UpToFirstNul(const char16_t* buffer, size_t capacity) {
  return std::u16string(buffer, std::find(buffer, buffer + capacity, u'\0'));
}

// The conversion buffer of the fallback: inline for short texts, a
// zero-filled heap array above that.
class FallbackBuffer {
 public:
  FallbackBuffer() = default;
  FallbackBuffer(const FallbackBuffer&) = delete;
  FallbackBuffer& operator=(const FallbackBuffer&) = delete;

  void Resize(int units) {
    if (units < 0) throw TextConversionError{platform::kHresultInvalidArgument};
    const auto size = static_cast<size_t>(units);
    if (size <= kFallbackInlineUnits) {
      m_heap.reset();
      m_inline.fill(u'\0');
      m_data = m_inline.data();
    } else {
      m_heap.reset(new (std::nothrow) char16_t[size]());
      if (!m_heap) throw TextConversionError{platform::kHresultOutOfMemory};
      m_data = m_heap.get();
    }
    m_size = size;
  }
  char16_t* Data() { return m_data; }
  int Size() const { return static_cast<int>(m_size); }

 private:
  std::array<char16_t, kFallbackInlineUnits> m_inline{};
  std::unique_ptr<char16_t[]> m_heap;
  char16_t* m_data = m_inline.data();
  size_t m_size = 0;
};

}  // namespace

bool DeletePath(const std::u16string& path) {
  ShellPathList from;
  if (!FillShellPathList(path, &from)) return false;
  return platform::ShellFileOperation(platform::ShellFileOp::kDelete, from.data(), nullptr,
                                      kShellOperationFlags) == 0;
}

bool RenamePath(const std::u16string& from, const std::u16string& to) {
  ShellPathList source;
  ShellPathList target;
  if (!FillShellPathList(from, &source) || !FillShellPathList(to, &target)) return false;
  return platform::ShellFileOperation(platform::ShellFileOp::kRename, source.data(),
                                      target.data(), kShellOperationFlags) == 0;
}

bool MoveIntoPlace(const std::u16string& temporaryName, const std::u16string& finalName,
                   bool deleteFirst) {
  if (deleteFirst) DeletePath(finalName);
  if (RenamePath(temporaryName, finalName)) return true;
  // A file still held open (an antivirus scan, the old patcher ending) is
  // usually released within a few seconds.
  for (int retry = 0; retry < kRenameRetries; ++retry) {
    platform::Sleep(kRenameRetryWaitMilliseconds);
    DeletePath(finalName);
    if (RenamePath(temporaryName, finalName)) return true;
  }
  return false;
}

bool ReadWholeFile(const std::u16string& path, size_t limit, std::string* bytes) {
  const platform::UniqueFile file = platform::OpenFile(path, "rb");
  if (!file) return false;
  bytes->clear();
  std::array<char, kReadChunkBytes> chunk;
  while (bytes->size() <= limit) {
    const size_t read = std::fread(chunk.data(), 1, chunk.size(), file.get());
    if (read == 0) break;
    bytes->append(chunk.data(), read);
  }
  return !std::ferror(file.get()) && bytes->size() <= limit;
}

bool WriteWholeFile(const std::u16string& path, std::string_view bytes) {
  platform::UniqueFile file = platform::OpenFile(path, "wb");
  if (!file) return false;
  if (std::fwrite(bytes.data(), 1, bytes.size(), file.get()) != bytes.size()) return false;
  // The close writes the last buffered bytes: its failure is a failed write.
  return std::fclose(file.release()) == 0;
}

bool CreateDirectoryTree(const std::u16string& path, FolderSecurity security) {
  if (path.size() >= platform::kMaxPath) return false;
  const auto makeFolder = security == FolderSecurity::kAdministratorsOnly
                              ? platform::MakeProtectedDirectory
                              : platform::MakeDirectory;
  // A missing parent is the only failure that matters on the way: existing
  // folders, a bare drive prefix and folders the user may not create are
  // passed over.
  for (size_t i = 0; i < path.size(); ++i) {
    if (path[i] == u'\\' && makeFolder(path.substr(0, i)) == platform::kErrorPathNotFound) {
      return false;
    }
  }
  return makeFolder(path) != platform::kErrorPathNotFound;
}

int32_t HresultFromWin32(uint32_t code) {
  const auto signedCode = static_cast<int32_t>(code);
  if (signedCode <= 0) return signedCode;
  return static_cast<int32_t>(platform::kHresultWin32Base | (code & kHresultCodeMask));
}

std::u16string AnsiToWideFallback(const char* text) {
  const int bytes = AnsiBytesWithTerminator(text);
  FallbackBuffer buffer;
  buffer.Resize(bytes);
  int converted = platform::MultiByteToWideChar(platform::kCodePageThreadAnsi, text, bytes,
                                                buffer.Data(), buffer.Size());
  if (converted == 0 && platform::GetLastError() == platform::kErrorInsufficientBuffer) {
    const int needed =
        platform::MultiByteToWideChar(platform::kCodePageThreadAnsi, text, bytes, nullptr, 0);
    // A failed measurement leaves nothing to convert into; room for 0 would
    // make the next call measure instead of convert.
    if (needed > 0) {
      buffer.Resize(needed);
      converted = platform::MultiByteToWideChar(platform::kCodePageThreadAnsi, text, bytes,
                                                buffer.Data(), buffer.Size());
    }
  }
  if (converted == 0) throw TextConversionError{HresultFromWin32(platform::GetLastError())};
  return UpToFirstNul(buffer.Data(), static_cast<size_t>(buffer.Size()));
}

std::u16string AnsiToWide(const char* text) {
  const int bytes = AnsiBytesWithTerminator(text);
  const int needed = bytes < 0 ? 0
                               : platform::MultiByteToWideChar(platform::kCodePageAnsi, text,
                                                               bytes, nullptr, 0);
  if (needed <= 0) return AnsiToWideFallback(text);
  if (static_cast<size_t>(needed) <= kLocalConversionUnits) {
    std::array<char16_t, kLocalConversionUnits> local{};
    platform::MultiByteToWideChar(platform::kCodePageAnsi, text, bytes, local.data(), needed);
    return UpToFirstNul(local.data(), local.size());
  }
  // Converted straight into the string: its own terminator takes the
  // converted NUL.
  std::u16string result(static_cast<size_t>(needed) - 1, u'\0');
  platform::MultiByteToWideChar(platform::kCodePageAnsi, text, bytes, result.data(), needed);
  return result;
}
