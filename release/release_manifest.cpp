#include "release/release_manifest.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <set>

namespace {

constexpr std::string_view kHeader = "velkaris-release-manifest 1\n";
constexpr std::string_view kMirrorsHeader = "velkaris-release-manifest 2\n";
constexpr std::string_view kCodePageHeader = "velkaris-release-manifest 3\n";
constexpr std::string_view kMirrorKeyword = "mirror ";
constexpr std::string_view kCodePageKeyword = "code-page ";
constexpr char kLineEnd = '\n';
constexpr char kFieldSeparator = ' ';
constexpr uint32_t kMaxCodePage = 65535;  // Windows numbers code pages in 16 bits
constexpr size_t kMaxSizeDigits = 20;  // 2^64 - 1
constexpr char kHexDigits[] = "0123456789abcdef";
constexpr int kBitsPerHexDigit = 4;
constexpr uint8_t kLowNibble = 0x0F;
constexpr int kNotHex = -1;
constexpr int kTen = 10;
constexpr char kLabelSeparator = '.';
constexpr char kPortSeparator = ':';
constexpr size_t kMaxHostNameBytes = 253;
constexpr size_t kMaxLabelBytes = 63;
constexpr size_t kIpv4Numbers = 4;
constexpr uint32_t kMaxIpv4Number = 255;
constexpr uint32_t kMaxPort = 65535;
// The first numbers of the IPv4 blocks that never leave the machine or its
// link: 0.0.0.0/8, 127.0.0.0/8 and 169.254.0.0/16.
constexpr uint32_t kUnspecifiedBlock = 0;
constexpr uint32_t kLoopbackBlock = 127;
constexpr uint32_t kLinkLocalBlock = 169;
constexpr uint32_t kLinkLocalSecond = 254;
constexpr std::string_view kLocalHostName = "localhost";
// The names the launcher keeps a verified release under.
constexpr std::array<const char16_t*, 3> kKeptNames = {kReleaseManifestName, kReleaseSignatureName,
                                                       kReleaseRecordName};

// The files every release has; with the launcher, the entries that are no
// list entry.
constexpr std::array<const char16_t*, 3> kRequiredNames = {kVersionRecordName, kFileListName,
                                                           kPatcherFileName};

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + kTen;
  if (c >= 'A' && c <= 'F') return c - 'A' + kTen;
  return kNotHex;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Decimal digits without a leading zero, at most `max`.
bool ReadDecimal(std::string_view text, uint32_t max, uint32_t* value) {
  // The length bound keeps the sum from overflowing.
  if (text.empty() || text.size() > std::to_string(max).size() ||
      (text[0] == '0' && text.size() > 1)) {
    return false;
  }
  uint32_t read = 0;
  for (char c : text) {
    if (!IsDigit(c)) return false;
    read = read * kTen + static_cast<uint32_t>(c - '0');
  }
  *value = read;
  return read <= max;
}

bool IsDottedIpv4(std::string_view host) {
  for (size_t numbers = 1;; ++numbers) {
    const size_t dot = host.find(kLabelSeparator);
    uint32_t number = 0;
    if (numbers > kIpv4Numbers || !ReadDecimal(host.substr(0, dot), kMaxIpv4Number, &number)) {
      return false;
    }
    if (dot == std::string_view::npos) return numbers == kIpv4Numbers;
    host.remove_prefix(dot + 1);
  }
}

bool IsLabel(std::string_view label) {
  if (label.empty() || label.size() > kMaxLabelBytes || label.front() == '-' ||
      label.back() == '-') {
    return false;
  }
  for (char c : label) {
    const bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
    if (!letter && !IsDigit(c) && c != '-') return false;
  }
  return true;
}

bool IsHostName(std::string_view host) {
  if (host.size() > kMaxHostNameBytes) return false;
  for (;;) {
    const size_t dot = host.find(kLabelSeparator);
    const std::string_view label = host.substr(0, dot);
    if (!IsLabel(label)) return false;
    if (dot == std::string_view::npos) return !IsDigit(label.front());
    host.remove_prefix(dot + 1);
  }
}

std::string PathOf(std::u16string_view name) {
  std::string path;
  ServerPathOfListName(name, &path);
  return path;
}

bool IsFixedPath(std::string_view path) {
  for (const char16_t* name : kRequiredNames) {
    if (path == PathOf(name)) return true;
  }
  return path == PathOf(kLauncherFileName);
}

// The host of an address and its IPv4 numbers, when it is a dotted one.
std::string_view HostOf(std::string_view address) {
  return address.substr(0, address.find(kPortSeparator));
}

uint32_t Ipv4Number(std::string_view host, size_t index) {
  for (size_t i = 0; i < index; ++i) host.remove_prefix(host.find(kLabelSeparator) + 1);
  uint32_t number = 0;
  ReadDecimal(host.substr(0, host.find(kLabelSeparator)), kMaxIpv4Number, &number);
  return number;
}

// The name the players' Windows gives the path, upper-cased for comparing;
// false unless it names a file below the install folder.
bool UpperNameOfPath(std::string_view path, const PathReading& reading, std::u16string* upper) {
  std::u16string name;
  // A decoded "\\" is one, not a double-byte character's second byte; a
  // blank would end the list's entry.
  return reading.decode(path, &name) && name.find(kListSeparator) == name.npos &&
         name.find(u' ') == name.npos && IsSafeListNameText(name) && reading.fold(name, upper);
}

// The line at `*start`, without its end; false when it has none.
bool NextLine(std::string_view text, size_t* start, std::string_view* line) {
  const size_t end = text.find(kLineEnd, *start);
  if (end == std::string_view::npos) return false;
  *line = text.substr(*start, end - *start);
  *start = end + 1;
  return true;
}

ReleaseManifestRead ParseManifestText(std::string_view text, const PathReading& reading,
                                      ReleaseManifest* manifest) {
  constexpr auto kRefused = ReleaseManifestRead::kRefused;
  const bool withCodePage = text.starts_with(kCodePageHeader);
  const bool withMirrors = withCodePage || text.starts_with(kMirrorsHeader);
  if (text.size() > kMaxReleaseManifestBytes || !(withMirrors || text.starts_with(kHeader))) {
    return kRefused;
  }
  static_assert(kHeader.size() == kMirrorsHeader.size() &&
                kHeader.size() == kCodePageHeader.size());
  size_t start = kHeader.size();
  std::string_view line;
  if (withCodePage) {
    if (!NextLine(text, &start, &line) || !line.starts_with(kCodePageKeyword) ||
        !ReadDecimal(line.substr(kCodePageKeyword.size()), kMaxCodePage, &manifest->codePage) ||
        manifest->codePage == 0) {
      return kRefused;
    }
    // Decoded in another code page its paths would name other files.
    if (manifest->codePage != reading.codePage) return ReleaseManifestRead::kOtherCodePage;
  }
  while (withMirrors && text.substr(start).starts_with(kMirrorKeyword)) {
    if (!NextLine(text, &start, &line) || manifest->mirrors.size() == kMaxMirrors) return kRefused;
    manifest->mirrors.emplace_back(line.substr(kMirrorKeyword.size()));
  }
  // The second version exists for its mirrors.
  if ((withMirrors && !withCodePage && manifest->mirrors.empty()) ||
      !IsMirrorList(manifest->mirrors)) {
    return kRefused;
  }
  // Taken already: the names the launcher keeps the release under.
  std::set<std::u16string> names;
  for (const char16_t* kept : kKeptNames) {
    std::u16string upper;
    if (!reading.fold(kept, &upper)) return kRefused;
    names.insert(std::move(upper));
  }
  while (start < text.size()) {
    std::string path;
    std::u16string upper;
    platform::FileDigest digest;
    if (!NextLine(text, &start, &line) || !ParseManifestEntry(line, &path, &digest) ||
        !UpperNameOfPath(path, reading, &upper) || !names.insert(std::move(upper)).second) {
      return kRefused;
    }
    manifest->entries.emplace(std::move(path), digest);
  }
  for (const char16_t* required : kRequiredNames) {
    if (manifest->entries.count(PathOf(required)) == 0) return kRefused;
  }
  return ReleaseManifestRead::kRead;
}

}  // namespace

bool IsMirrorAddress(std::string_view address) {
  const size_t colon = address.find(kPortSeparator);
  uint32_t port = 0;
  if (colon != std::string_view::npos &&
      (!ReadDecimal(address.substr(colon + 1), kMaxPort, &port) || port == 0)) {
    return false;
  }
  const std::string_view host = HostOf(address);
  return IsDottedIpv4(host) || IsHostName(host);
}

bool IsMirrorList(const std::vector<std::string>& mirrors) {
  std::set<std::string> folded;
  for (const std::string& mirror : mirrors) {
    if (!IsMirrorAddress(mirror) || !folded.insert(FoldAscii(mirror)).second) return false;
  }
  return mirrors.size() <= kMaxMirrors;
}

bool IsLocalMirrorAddress(std::string_view address) {
  const std::string_view host = HostOf(address);
  if (!IsMirrorAddress(address)) return false;
  if (IsDottedIpv4(host)) {
    const uint32_t block = Ipv4Number(host, 0);
    return block == kUnspecifiedBlock || block == kLoopbackBlock ||
           (block == kLinkLocalBlock && Ipv4Number(host, 1) == kLinkLocalSecond);
  }
  const std::string name = FoldAscii(host);
  return name == kLocalHostName ||
         (name.size() > kLocalHostName.size() && name.ends_with(kLocalHostName) &&
          name[name.size() - kLocalHostName.size() - 1] == kLabelSeparator);
}

bool ServerPathOfListName(std::u16string_view name, std::string* serverPath,
                          const ListNameEncoder& encode) {
  // Separators are replaced before encoding, where a second byte cannot
  // be taken for one.
  return encode(WideServerPathOfListName(name), serverPath);
}

const platform::FileDigest* FindEntry(const ReleaseManifest& manifest, std::u16string_view name,
                                      const ListNameEncoder& encode) {
  std::string path;
  if (!ServerPathOfListName(name, &path, encode)) return nullptr;
  const auto entry = manifest.entries.find(path);
  return entry == manifest.entries.end() ? nullptr : &entry->second;
}

std::string FormatManifestEntry(std::string_view path, const platform::FileDigest& digest) {
  return ToHex(digest.sha256) + kFieldSeparator + std::to_string(digest.size) + kFieldSeparator +
         std::string(path);
}

bool ParseManifestEntry(std::string_view line, std::string* path, platform::FileDigest* digest) {
  const size_t hashEnd = line.find(kFieldSeparator);
  if (hashEnd == std::string_view::npos || !FromHex(line.substr(0, hashEnd), &digest->sha256)) {
    return false;
  }
  const size_t sizeStart = hashEnd + 1;
  const size_t sizeEnd = line.find(kFieldSeparator, sizeStart);
  if (sizeEnd == std::string_view::npos || sizeEnd == sizeStart ||
      sizeEnd - sizeStart > kMaxSizeDigits) {
    return false;
  }
  // Digits only: from_chars would take a leading minus sign.
  for (size_t i = sizeStart; i < sizeEnd; ++i) {
    if (!IsDigit(line[i])) return false;
  }
  const auto [stop, error] = std::from_chars(line.data() + sizeStart, line.data() + sizeEnd,
                                             digest->size);
  if (error != std::errc() || stop != line.data() + sizeEnd) return false;
  const std::string_view pathText = line.substr(sizeEnd + 1);
  if (pathText.empty() || pathText.size() > kMaxListNameLength) return false;
  path->assign(pathText);
  return true;
}

std::string FormatReleaseManifest(const ReleaseManifest& manifest) {
  std::string text(manifest.codePage != 0 ? kCodePageHeader
                    : manifest.mirrors.empty() ? kHeader
                                               : kMirrorsHeader);
  if (manifest.codePage != 0) {
    text += std::string(kCodePageKeyword) + std::to_string(manifest.codePage) + kLineEnd;
  }
  for (const std::string& mirror : manifest.mirrors) {
    text += std::string(kMirrorKeyword) + mirror + kLineEnd;
  }
  for (const auto& [path, digest] : manifest.entries) {
    text += FormatManifestEntry(path, digest) + kLineEnd;
  }
  return text;
}

ReleaseManifestRead ParseReleaseManifest(std::string_view text, const PathReading& reading,
                                         ReleaseManifest* manifest) {
  *manifest = ReleaseManifest();
  const ReleaseManifestRead read = ParseManifestText(text, reading, manifest);
  if (read != ReleaseManifestRead::kRead) *manifest = ReleaseManifest();
  return read;
}

bool ListMatchesManifest(const FileVersionMap& list, const ReleaseManifest& manifest,
                         const ListNameEncoder& encode) {
  size_t listed = 0;
  for (const auto& entry : manifest.entries) {
    if (!IsFixedPath(entry.first)) ++listed;
  }
  if (listed != list.size()) return false;
  for (const auto& [name, number] : list) {
    std::string path;
    if (!ServerPathOfListName(name, &path, encode) || IsFixedPath(path) ||
        manifest.entries.count(path) == 0) {
      return false;
    }
  }
  return true;
}

std::string ToHex(const platform::Sha256Digest& digest) {
  std::string text;
  text.reserve(2 * digest.size());
  for (uint8_t byte : digest) {
    text.push_back(kHexDigits[byte >> kBitsPerHexDigit]);
    text.push_back(kHexDigits[byte & kLowNibble]);
  }
  return text;
}

bool FromHex(std::string_view text, platform::Sha256Digest* digest) {
  if (text.size() != 2 * digest->size()) return false;
  for (size_t i = 0; i < digest->size(); ++i) {
    const int high = HexValue(text[2 * i]);
    const int low = HexValue(text[2 * i + 1]);
    if (high == kNotHex || low == kNotHex) return false;
    (*digest)[i] = static_cast<uint8_t>((high << kBitsPerHexDigit) | low);
  }
  return true;
}
