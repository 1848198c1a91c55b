#pragma once

#include <cstdint>
#include <cstddef>
#include <string>
#include <string_view>

// Small services around the file system. None shows a message.

// Deletes a file or a folder with its contents: silent, no recycle bin.
// Both shell operations refuse a path of more than 1,022 characters or one
// holding a NUL.
bool DeletePath(const std::u16string& path);
// Renames a file, silently.
bool RenamePath(const std::u16string& from, const std::u16string& to);
// Renames temporaryName onto finalName, deleting finalName first when asked,
// retrying five times a second apart while the rename fails.
bool MoveIntoPlace(const std::u16string& temporaryName, const std::u16string& finalName,
                   bool deleteFirst);

// The whole file, when it holds at most `limit` bytes.
bool ReadWholeFile(const std::u16string& path, size_t limit, std::string* bytes);
// Replaces the file with `bytes`; false unless every byte reached it.
bool WriteWholeFile(const std::u16string& path, std::string_view bytes);

// Who may change the folders CreateDirectoryTree creates: whoever the
// parent lets (its inherited entries), or administrators only.
enum class FolderSecurity { kInherited, kAdministratorsOnly };
// Creates every missing folder along a path; only "\" separates folders.
bool CreateDirectoryTree(const std::u16string& path,
                         FolderSecurity security = FolderSecurity::kInherited);

// Raised only by the fallback conversion of AnsiToWide, carrying an HRESULT.
struct TextConversionError {
  int32_t hresult;
};
// 8-bit text in the system's ANSI code page to UTF-16, up to its first NUL.
// Converts through the fallback when the text cannot be measured.
std::u16string AnsiToWide(const char* text);
inline std::u16string AnsiToWide(const std::string& text) { return AnsiToWide(text.c_str()); }
// The fallback conversion in the calling thread's ANSI code page; raises
// TextConversionError when the text cannot be converted.
std::u16string AnsiToWideFallback(const char* text);
// HRESULT_FROM_WIN32: a positive code in the Win32 facility, anything else
// unchanged.
int32_t HresultFromWin32(uint32_t code);
