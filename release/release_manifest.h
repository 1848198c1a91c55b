#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "platform/crypto.h"
#include "release/release_files.h"
#include "release/version_files.h"

// The signed release manifest: what the operator published, so that a
// launcher built with a release key takes nothing else. Pure: no file
// system, no network; shared by the launcher and the publishing tool.
//
// Text, LF line ends, one entry a line after the header:
//   velkaris-release-manifest 1
//   SHA256HEX SIZE SERVER_PATH
// A release served by mirrors too names them first, in order of preference,
// under a header that launchers without mirrors refuse:
//   velkaris-release-manifest 2
//   mirror HOST[:PORT]
//   SHA256HEX SIZE SERVER_PATH
// Entries: "patcher_version" (the record's bytes), "patcher_files_version"
// (the list's bytes), "VelkarisPatcher32.vke", "VelkarisLauncher.exe" when
// published, and every listed file under its server path ("/" between
// folders). The signature beside it is ECDSA P-256 over the SHA-256 of the
// manifest's bytes, r then s, 64 bytes.

// Generous: a manifest line is at most about 240 bytes.
inline constexpr size_t kMaxReleaseManifestBytes = size_t{16} << 20;
inline constexpr size_t kMaxMirrors = 16;

// Server paths as bytes.
using ReleaseEntries = std::map<std::string, platform::FileDigest>;

struct ReleaseManifest {
  ReleaseEntries entries;
  // Servers of the same tree under /UploadData/, as HOST or HOST:PORT, in
  // order of preference. None: the manifest's first version, byte for byte.
  std::vector<std::string> mirrors;
  bool operator==(const ReleaseManifest&) const = default;
};

// A mirror's address: a host name (letters, digits, hyphens and dots;
// labels of 1 to 63 characters that neither begin nor end with a hyphen;
// 253 characters at most) or a dotted IPv4 address (four numbers 0 to 255,
// no leading zeros), then optionally ":PORT" (1 to 65535). A name whose last
// label begins with a digit must be such an address: resolvers read it as one.
bool IsMirrorAddress(std::string_view address);
// At most kMaxMirrors addresses, each one valid and named once (in any
// ASCII case).
bool IsMirrorList(const std::vector<std::string>& mirrors);

// The server path of a list name: its bytes in the list's code page, with
// "/" where the name has "\" (a double-byte character's second byte of
// the same value stays). False for a character with no form there.
bool ServerPathOfListName(std::u16string_view name, std::string* serverPath,
                          const ListNameEncoder& encode = EncodeAscii);
// The entry of a list name or server path ("\\" or "/" between folders)
// under its server path in the list's code page, or null.
const platform::FileDigest* FindEntry(const ReleaseManifest& manifest, std::u16string_view name,
                                      const ListNameEncoder& encode = EncodeAscii);
// True for the names the launcher keeps a verified release under (the
// manifest, its signature and the record), in any ASCII case (the install
// folder's file system ignores it).
bool IsReleaseManifestName(std::u16string_view name);

// One entry as the manifest writes it, "HEX SIZE PATH" without its line
// end, and read back: false for any other form.
std::string FormatManifestEntry(std::string_view path, const platform::FileDigest& digest);
bool ParseManifestEntry(std::string_view line, std::string* path, platform::FileDigest* digest);

// The manifest's text, entries in server-path order.
std::string FormatReleaseManifest(const ReleaseManifest& manifest);
// Server paths as the manifest holds them: printable ASCII without the blank
// and "\", and bytes above 0x7F, each of which may begin a double-byte
// character whose second byte may be any printable one, "\" included.
// Compared in any ASCII case, but for such second bytes.
//
// Strict: the header, mirror lines only under the second version's header
// and before the entries (at least one, IsMirrorList), well-formed lines
// each with a line end, no duplicate path (in any ASCII case), the record,
// list and patcher entries present, no entry for the manifest's own names,
// at most kMaxReleaseManifestBytes.
bool ParseReleaseManifest(std::string_view text, ReleaseManifest* manifest);

// The list names exactly the manifest's listed files: each name (in UTF-16)
// has an entry under its server path in the list's code page, and every
// entry other than the record, list, patcher and launcher is a listed name.
bool ListMatchesManifest(const FileVersionMap& list, const ReleaseManifest& manifest,
                         const ListNameEncoder& encode = EncodeAscii);

// Lower-case hexadecimal, 64 characters.
std::string ToHex(const platform::Sha256Digest& digest);
// Exactly 64 hexadecimal digits of either case.
bool FromHex(std::string_view text, platform::Sha256Digest* digest);

// The size and SHA-256 of bytes in memory (a record, a list).
platform::FileDigest DigestOfBytes(std::string_view bytes);

// The manifest, when `signature` (r then s, exactly 64 bytes) is the key's
// ECDSA P-256 / SHA-256 signature over `text` and the text then reads.
bool ReadSignedManifest(std::string_view text, std::string_view signature,
                        const platform::P256PublicKey& key, ReleaseManifest* manifest);
