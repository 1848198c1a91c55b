#pragma once

#include <cstdint>
#include <cstdio>
#include <map>
#include <string>
#include <string_view>

// The text formats of the version files, shared by the launcher and the
// tools that publish a release. Pure: no file system, no platform.
//
// Version record ("patcher_version"): two signed 32-bit decimal numbers
// separated by white space, written as "first\r\nsecond".
// File version list ("patcher_files_version"): pairs of a name and a signed
// 32-bit decimal number, separated by any white space.
//
// The readers scan by hand rather than with the C runtime's scanf so that
// every build reads a file the same way: white space is that of the C locale,
// a number beyond 32 bits keeps its low 32 bits, and a number that cannot be
// read leaves its field as it was.

// Names ordered by UTF-16 code units; the first pair of a name counts.
using FileVersionMap = std::map<std::u16string, uint32_t>;

// Reads the two numbers of a record into *first and *second; a number that
// cannot be read leaves its field, and every field after it, unchanged.
void ParseVersionRecord(std::string_view text, int32_t* first, int32_t* second);
void ReadVersionRecord(std::FILE* file, int32_t* first, int32_t* second);
// "first\r\nsecond": CR LF whatever the platform, no line end at the end.
std::string FormatVersionRecord(int32_t first, int32_t second);

// Replaces *map with the pairs of a list, the first pair of a name counting;
// each byte of a name becomes the character of the same value, and a name
// of any length is read whole. A name whose number cannot be read takes the
// number of the pair before it (0 for the first).
void ParseFileVersions(std::string_view text, FileVersionMap* map);
void ReadFileVersions(std::FILE* file, FileVersionMap* map);
// One "name number\r\n" line per entry in map order. False when a name
// cannot be written in the format (empty, white space, a character above
// 255), *text is then unspecified.
bool FormatFileVersions(const FileVersionMap& map, std::string* text);

// A list name that names a file below the install folder and nothing else:
// printable ASCII, relative, "\" or "/" between components, none of them
// empty, "." or "..", ending in a dot or a blank, holding one of : < > " | ? *
// or naming a device (CON, NUL, COM1...).
bool IsSafeListName(std::u16string_view name);
