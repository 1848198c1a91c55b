#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "release/release_files.h"
#include "release/release_manifest.h"
#include "release/version_files.h"

// Names in the file version list; the release's own file names are the
// launcher's (release/release_files.h). A list name is a path relative to
// the install folder with "\" between its parts; the launcher fetches it
// from the server path with "/" in their place. The tool holds names in
// UTF-16; the list, the signed manifest, the tool's manifest and the
// tree's file names hold them in the players' code page.
namespace publish {

// Windows' number of the players' ANSI code page, in which the launcher
// reads the list.
using CodePage = uint32_t;
inline constexpr CodePage kDefaultCodePage = 950;  // Traditional Chinese (Big5)

// Appended to a final name for the file that is renamed onto it.
inline constexpr char kTemporarySuffix[] = ".publish-tmp";

// A name's form in the code page, the one it reads back from; false when
// it has none.
bool CodePageBytes(std::u16string_view name, CodePage codePage, std::string* bytes);
// The name whose form in the code page `bytes` are; false when they are
// no name's.
bool NameOfCodePageBytes(std::string_view bytes, CodePage codePage, std::u16string* name);
// CodePageBytes, for the release formats' rules.
ListNameEncoder EncoderOf(CodePage codePage);
// How launchers on Windows of this code page read a signed manifest's paths.
PathReading ReadingOf(CodePage codePage);
// A code page the launcher can read a list in: one of Windows' ANSI code
// pages, which the system knows, ASCII (the numbers, blanks and separators)
// being ASCII in it.
bool IsListCodePage(CodePage codePage);

// Why the launcher could not fetch an accompanying file under this list
// name into a new install folder; empty when it can.
std::string ListNameProblem(std::u16string_view name, CodePage codePage);

// The name in upper case as Windows' file system compares names
// (platform::UpperCaseAsFileSystem): two names that give the same are one
// file in the install folder. Letters the system cannot map stay as they are.
std::u16string WindowsUpperCase(std::u16string_view name);

// The list name of a file below the build folder (`relative` to it): its
// parts as text (UTF-8 on POSIX) joined by "\". False with *problem set
// when a part is no text or holds "\" itself; everything else is left to
// ListNameProblem.
bool ListNameFromPath(const std::filesystem::path& relative, std::u16string* name,
                      std::string* problem);

// The list of these names and numbers, as the launcher reads it: each name
// in the code page. False as FormatFileVersions is, or for a name without
// a form there.
bool ListText(const FileVersionMap& names, CodePage codePage, std::string* text);
// The names of a list read by ParseFileVersions (one character a byte),
// decoded; the names that are no name in the code page go to *undecodable,
// as bytes.
void DecodeList(const FileVersionMap& list, CodePage codePage, FileVersionMap* names,
                std::vector<std::string>* undecodable);

// Where a list name lies below `root` (NativeTreeName of each part); empty
// when a part has no form in the code page, which a checked name always has.
std::filesystem::path PathBelow(const std::filesystem::path& root, std::u16string_view name,
                                CodePage codePage);
// `path` with kTemporarySuffix appended.
std::filesystem::path TemporaryPath(const std::filesystem::path& path);

// For messages: text as UTF-8, control characters and units that are no
// text as \uNNNN; a POSIX path's bytes as they are, so that the operator's
// own names read as typed, but for control characters (\xNN); other bytes,
// such as a name's in the code page, as \xNN but for printable ASCII.
std::string Printable(std::u16string_view name);
std::string PrintablePath(const std::filesystem::path& path);
std::string PrintableBytes(std::string_view bytes);
// "NAME, which is no name in code page N", of bytes a list holds.
std::string UndecodableName(std::string_view bytes, CodePage codePage);

}  // namespace publish
