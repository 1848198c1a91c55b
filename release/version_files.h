#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

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
// a number beyond 32 bits keeps its low 32 bits, a number that cannot be
// read leaves its field as it was, and byte 0x1A (Ctrl-Z) ends the input as
// it does for a text-mode stream on Windows.
//
// Both files come from the download server, so the readers hold a 32-bit
// process to bounded memory whatever the server sends; the limits are far
// beyond any real release.
inline constexpr size_t kMaxListNameLength = 127;
inline constexpr size_t kMaxListEntries = 100000;
// 100,000 entries of the longest name and number with CR LF fit.
inline constexpr size_t kMaxListBytes = size_t{16} << 20;
inline constexpr size_t kMaxRecordBytes = 4096;

// Names ordered by UTF-16 code units; the first pair of a name counts.
using FileVersionMap = std::map<std::u16string, uint32_t>;

// Reads the two numbers of a record into *first and *second; a number that
// cannot be read leaves its field, and every field after it, unchanged.
// False, with both fields unchanged, when the record holds more than
// kMaxRecordBytes bytes.
bool ParseVersionRecord(std::string_view text, int32_t* first, int32_t* second);
// "first\r\nsecond": CR LF whatever the platform, no line end at the end.
std::string FormatVersionRecord(int32_t first, int32_t second);

// A list holds its names as bytes in the code page of the players' Windows
// (their ANSI code page: 950 on a Traditional Chinese one), which turns
// them into UTF-16 on the way to the file system. This decodes a name's
// bytes there; false when they are no text in it.
using ListNameDecoder = std::function<bool(std::string_view bytes, std::u16string* text)>;
// Each byte the character of the same value: the list's bytes as they are.
bool DecodeEachByte(std::string_view bytes, std::u16string* text);

// Replaces *map with the pairs of a list, the first pair of a name counting;
// each name is its bytes decoded. Bytes that are no text in the code page
// keep their values as lone low surrogates (U+DC00 + byte): no decoding
// yields one and no encoder takes one, so such a name stays apart from
// every other and IsSafeListName refuses it. A name whose number cannot be
// read takes the number of the pair before it (0 for the first). A name
// longer than kMaxListNameLength bytes keeps one byte more than that and
// loses the rest, so IsSafeListName refuses it. False, with *map empty,
// when the list holds more than kMaxListBytes bytes or kMaxListEntries
// pairs.
bool ParseFileVersions(std::string_view text, FileVersionMap* map,
                       const ListNameDecoder& decode = DecodeEachByte);
bool ReadFileVersions(std::FILE* file, FileVersionMap* map,
                      const ListNameDecoder& decode = DecodeEachByte);
// One "name number\r\n" line per entry in map order. False when the list
// would not read back the same: a name that is empty, too long, or holds
// white space, 0x1A or a character above 255, or a list beyond its limits;
// *text is then unspecified.
bool FormatFileVersions(const FileVersionMap& map, std::string* text);

// The names a player fetches: every name of the server's list that the local
// list lacks or gives a lower number, in the server list's order.
std::vector<std::u16string> SelectChangedFiles(const FileVersionMap& server,
                                               const FileVersionMap& local);

// The decoder's other way: UTF-16 text in the list's code page; false when
// a character has no exact form there (a best fit is none: it can turn a
// character into "\" or "..").
using ListNameEncoder = std::function<bool(std::u16string_view text, std::string* bytes)>;
// ASCII, the part every code page shares; nothing else has a form.
bool EncodeAscii(std::u16string_view text, std::string* bytes);

// A list name, in UTF-16 (decoded from the list's bytes), that names a file
// below the install folder and nothing else: relative, "\" or "/" between
// segments, none of them empty, "." or "..", ending in a dot or a blank,
// holding a control character or one of : < > " | ? *, or naming a device
// (CON, NUL, COM1...); with a form in the code page of at most
// kMaxListNameLength bytes. A double-byte character whose second byte is
// that of "\" or "|" is a character like any other here.
bool IsSafeListName(std::u16string_view name, const ListNameEncoder& encode = EncodeAscii);
// The same rule on the text alone, for a name whose bytes in the code page
// are known to be its form and few enough (a manifest's path, decoded).
bool IsSafeListNameText(std::u16string_view name);

// Windows takes two names for one file when their upper cases by its file
// system's table are the same (platform::UpperCaseAsFileSystem): a name's
// upper case, false when it cannot be had.
using ListNameFolder = std::function<bool(std::u16string_view name, std::u16string* upper)>;
// ASCII letters alone, which every table upper-cases alike.
bool UpperCaseAscii(std::u16string_view name, std::u16string* upper);

// The list writes "\\" between a name's folders, as Windows writes a path;
// the server path it is fetched from has "/" there.
inline constexpr char16_t kListSeparator = u'\\';
inline constexpr char16_t kServerPathSeparator = u'/';
// Windows takes "/" between folders as it takes "\".
inline bool IsPathSeparator(char16_t c) { return c == kListSeparator || c == kServerPathSeparator; }
// That server path: kListSeparator turned into kServerPathSeparator, every
// other character as it is.
std::u16string WideServerPathOfListName(std::u16string_view name);
// The list name of a server path held as bytes (a manifest's): decoded as
// ParseFileVersions decodes a name, kServerPathSeparator turned back.
std::u16string ListNameOfServerPath(std::string_view serverPath,
                                    const ListNameDecoder& decode = DecodeEachByte);
