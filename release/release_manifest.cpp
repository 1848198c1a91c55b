#include "release/release_manifest.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <set>

namespace {

constexpr std::string_view kHeader = "velkaris-release-manifest 1\n";
constexpr std::string_view kMirrorsHeader = "velkaris-release-manifest 2\n";
constexpr std::string_view kMirrorKeyword = "mirror ";
constexpr char kLineEnd = '\n';
constexpr char kFieldSeparator = ' ';
constexpr uint8_t kFirstPathByte = 0x21;  // printable ASCII without the blank
constexpr uint8_t kLastPathByte = 0x7E;
constexpr uint8_t kFirstWideByte = 0x80;
constexpr size_t kMaxPathBytes = 127;  // a list name's limit
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

bool IsPrintableByte(uint8_t byte) {
  return (byte >= kFirstPathByte && byte <= kLastPathByte) || byte >= kFirstWideByte;
}

// The path folded to lower case for comparing; false for a byte no server
// path holds.
bool FoldServerPath(std::string_view path, std::string* folded) {
  *folded = FoldAscii(path);
  for (size_t i = 0; i < path.size(); ++i) {
    const auto byte = static_cast<uint8_t>(path[i]);
    if (!IsPrintableByte(byte) || byte == '\\') return false;
    // The second byte of a possible double-byte character keeps its value,
    // which may be that of a letter.
    if (byte >= kFirstWideByte && i + 1 < path.size() &&
        IsPrintableByte(static_cast<uint8_t>(path[i + 1]))) {
      (*folded)[i + 1] = path[i + 1];
      ++i;
    }
  }
  return true;
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


}  // namespace

bool IsMirrorAddress(std::string_view address) {
  const size_t colon = address.find(kPortSeparator);
  uint32_t port = 0;
  if (colon != std::string_view::npos &&
      (!ReadDecimal(address.substr(colon + 1), kMaxPort, &port) || port == 0)) {
    return false;
  }
  const std::string_view host = address.substr(0, colon);
  return IsDottedIpv4(host) || IsHostName(host);
}

bool IsMirrorList(const std::vector<std::string>& mirrors) {
  std::set<std::string> folded;
  for (const std::string& mirror : mirrors) {
    if (!IsMirrorAddress(mirror) || !folded.insert(FoldAscii(mirror)).second) return false;
  }
  return mirrors.size() <= kMaxMirrors;
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

bool IsReleaseManifestName(std::u16string_view name) {
  std::string path;
  if (!ServerPathOfListName(name, &path)) return false;
  const std::string folded = FoldAscii(path);
  return folded == FoldAscii(PathOf(kReleaseManifestName)) ||
         folded == FoldAscii(PathOf(kReleaseSignatureName)) ||
         folded == FoldAscii(PathOf(kReleaseRecordName));
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
  if (pathText.empty() || pathText.size() > kMaxPathBytes) return false;
  path->assign(pathText);
  return true;
}

std::string FormatReleaseManifest(const ReleaseManifest& manifest) {
  std::string text(manifest.mirrors.empty() ? kHeader : kMirrorsHeader);
  for (const std::string& mirror : manifest.mirrors) {
    text += std::string(kMirrorKeyword) + mirror + kLineEnd;
  }
  for (const auto& [path, digest] : manifest.entries) {
    text += FormatManifestEntry(path, digest) + kLineEnd;
  }
  return text;
}

bool ParseReleaseManifest(std::string_view text, ReleaseManifest* manifest) {
  *manifest = ReleaseManifest();
  const bool withMirrors = text.starts_with(kMirrorsHeader);
  if (text.size() > kMaxReleaseManifestBytes || !(withMirrors || text.starts_with(kHeader))) {
    return false;
  }
  static_assert(kHeader.size() == kMirrorsHeader.size());
  size_t start = kHeader.size();
  while (withMirrors && text.substr(start).starts_with(kMirrorKeyword)) {
    const size_t end = text.find(kLineEnd, start);
    if (end == std::string_view::npos || manifest->mirrors.size() == kMaxMirrors) return false;
    const size_t address = start + kMirrorKeyword.size();
    manifest->mirrors.emplace_back(text.substr(address, end - address));
    start = end + 1;
  }
  // The second version exists for its mirrors.
  if ((withMirrors && manifest->mirrors.empty()) || !IsMirrorList(manifest->mirrors)) {
    return false;
  }
  std::set<std::string> folded;
  while (start < text.size()) {
    const size_t end = text.find(kLineEnd, start);
    if (end == std::string_view::npos) return false;
    std::string path;
    std::string foldedPath;
    platform::FileDigest digest;
    if (!ParseManifestEntry(text.substr(start, end - start), &path, &digest) ||
        !FoldServerPath(path, &foldedPath)) {
      return false;
    }
    std::u16string name(path.begin(), path.end());
    if (IsReleaseManifestName(name) || !folded.insert(foldedPath).second) return false;
    manifest->entries.emplace(std::move(path), digest);
    start = end + 1;
  }
  for (const char16_t* required : kRequiredNames) {
    if (manifest->entries.count(PathOf(required)) == 0) return false;
  }
  return true;
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
