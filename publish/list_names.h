#pragma once

#include <filesystem>
#include <string>
#include <string_view>

#include "release/release_files.h"

// Names in the file version list; the release's own file names are the
// launcher's (release/release_files.h). A list name is a path relative to
// the install folder with "\" between its parts; the launcher fetches it
// from the server path with "/" in their place.
namespace publish {

// Appended to a final name for the file that is renamed onto it.
inline constexpr char kTemporarySuffix[] = ".publish-tmp";

// Why the launcher could not fetch an accompanying file under this list
// name into a new install folder; empty when it can.
std::string ListNameProblem(std::u16string_view name);

// The list name of a file below the build folder (`relative` to it): its
// parts joined by "\", each unit of the native name becoming one character.
// False with *problem set when a part holds "\" itself; everything else is
// left to ListNameProblem.
bool ListNameFromPath(const std::filesystem::path& relative, std::u16string* name,
                      std::string* problem);

// Where a list name lies below `root`.
std::filesystem::path PathBelow(const std::filesystem::path& root, std::u16string_view name);
// `path` with kTemporarySuffix appended.
std::filesystem::path TemporaryPath(const std::filesystem::path& path);

// For messages: printable ASCII as it is, control characters as \xNN, other
// UTF-16 units as \uNNNN; a POSIX path's other bytes as they are, so that
// the operator's own names read as typed.
std::string Printable(std::u16string_view name);
std::string PrintablePath(const std::filesystem::path& path);

}  // namespace publish
