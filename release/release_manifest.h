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
// A release whose paths hold bytes beyond ASCII names the code page they
// are in (the players' ANSI code page, in which launchers read the list),
// under a header that older launchers refuse, with its mirrors if any:
//   velkaris-release-manifest 3
//   code-page 950
//   mirror HOST[:PORT]
//   SHA256HEX SIZE SERVER_PATH
// Entries: "patcher_version" (the record's bytes), "patcher_files_version"
// (the list's bytes), "VelkarisPatcher32.vke", "VelkarisLauncher.exe" when
// published, and every listed file under its server path ("/" between
// folders). The signature beside it is ECDSA P-256 over the SHA-256 of the
// manifest's bytes, r then s, 64 bytes.

// A line per file, at most about 240 bytes and about 100 as a rule: room for
// over 4,000 listed files, about 10,000 of usual names. The publishing tool
// signs none larger.
inline constexpr size_t kMaxReleaseManifestBytes = size_t{1} << 20;
inline constexpr size_t kMaxMirrors = 16;

// Server paths as bytes.
using ReleaseEntries = std::map<std::string, platform::FileDigest>;

struct ReleaseManifest {
  ReleaseEntries entries;
  // Servers of the same tree under /UploadData/, as HOST or HOST:PORT, in
  // order of preference. None: the manifest's first version, byte for byte.
  std::vector<std::string> mirrors;
  // The code page of the paths (the third version); 0: not named, as in
  // the first two.
  uint32_t codePage = 0;
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
// A valid address that leads to this machine or no farther than its own
// link: loopback (127.0.0.0/8, "localhost" and the names below it),
// link-local (169.254.0.0/16) or unspecified (0.0.0.0/8). Only a test rig
// serves players from there.
bool IsLocalMirrorAddress(std::string_view address);

// The server path of a list name: its bytes in the list's code page, with
// "/" where the name has "\" (a double-byte character's second byte of
// the same value stays). False for a character with no form there.
bool ServerPathOfListName(std::u16string_view name, std::string* serverPath,
                          const ListNameEncoder& encode = EncodeAscii);
// The entry of a list name or server path ("\\" or "/" between folders)
// under its server path in the list's code page, or null.
const platform::FileDigest* FindEntry(const ReleaseManifest& manifest, std::u16string_view name,
                                      const ListNameEncoder& encode = EncodeAscii);
// One entry as the manifest writes it, "HEX SIZE PATH" without its line
// end, and read back: false for any other form.
std::string FormatManifestEntry(std::string_view path, const platform::FileDigest& digest);
bool ParseManifestEntry(std::string_view line, std::string* path, platform::FileDigest* digest);

// The manifest's text, entries in server-path order.
std::string FormatReleaseManifest(const ReleaseManifest& manifest);

// How a reader takes the manifest's paths, as the players' Windows takes
// list names: the number of the code page it reads the list in
// (platform::AnsiCodePage in the launcher), a path's decoding there, and
// the file system's upper case of a name.
struct PathReading {
  uint32_t codePage = 0;
  ListNameDecoder decode;
  ListNameFolder fold;
};

enum class ReleaseManifestRead {
  kRead,
  kRefused,        // malformed, or (ReadSignedManifest) not signed by the key
  kOtherCodePage,  // (the third version) its paths are in another code page
};

// Strict: the header, the code page line under the third version's header
// alone, mirror lines only under the second or third and before the
// entries (at least one under the second, IsMirrorList), well-formed lines
// each with a line end, the record, list and patcher entries present, at
// most kMaxReleaseManifestBytes. Each path, decoded in the reader's code
// page ("/" between folders), names a file below the install folder
// (IsSafeListNameText) in at most kMaxListNameLength bytes, is none of the
// names the launcher keeps the release under, and is no other path's name
// in another case (the reader's fold). *manifest is empty unless kRead.
ReleaseManifestRead ParseReleaseManifest(std::string_view text, const PathReading& reading,
                                  ReleaseManifest* manifest);

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
// ECDSA P-256 / SHA-256 signature over `text` and the text then reads; a
// text is read only once its signature holds.
ReleaseManifestRead ReadSignedManifest(std::string_view text, std::string_view signature,
                                const platform::P256PublicKey& key, const PathReading& reading,
                                ReleaseManifest* manifest);
