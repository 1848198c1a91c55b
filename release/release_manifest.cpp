#include "release/release_manifest.h"

#include <array>
#include <charconv>
#include <set>

namespace {

constexpr std::string_view kHeader = "velkaris-release-manifest 1\n";
constexpr char kLineEnd = '\n';
constexpr char kFieldSeparator = ' ';
constexpr char16_t kLastByteValue = 0xFF;
constexpr char kFirstPathByte = 0x21;  // printable ASCII without the blank
constexpr char kLastPathByte = 0x7E;
constexpr size_t kMaxPathBytes = 127;  // a list name's limit
constexpr size_t kMaxSizeDigits = 20;  // 2^64 - 1
constexpr char kHexDigits[] = "0123456789abcdef";
constexpr int kBitsPerHexDigit = 4;
constexpr uint8_t kLowNibble = 0x0F;
constexpr int kNotHex = -1;
constexpr int kTen = 10;

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


bool IsPathByte(char c) { return c >= kFirstPathByte && c <= kLastPathByte && c != '\\'; }

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

// "HEX SIZE PATH" without its line end.
bool ParseLine(std::string_view line, std::string* path, platform::FileDigest* digest) {
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
    if (line[i] < '0' || line[i] > '9') return false;
  }
  const auto [stop, error] = std::from_chars(line.data() + sizeStart, line.data() + sizeEnd,
                                             digest->size);
  if (error != std::errc() || stop != line.data() + sizeEnd) return false;
  const std::string_view pathText = line.substr(sizeEnd + 1);
  if (pathText.empty() || pathText.size() > kMaxPathBytes) return false;
  for (char c : pathText) {
    if (!IsPathByte(c)) return false;
  }
  path->assign(pathText);
  return true;
}

}  // namespace

bool ServerPathOfListName(std::u16string_view name, std::string* serverPath) {
  serverPath->clear();
  for (char16_t c : WideServerPathOfListName(name)) {
    if (c > kLastByteValue) return false;
    serverPath->push_back(static_cast<char>(c));
  }
  return true;
}

const platform::FileDigest* FindEntry(const ReleaseManifest& manifest, std::u16string_view name) {
  std::string path;
  if (!ServerPathOfListName(name, &path)) return nullptr;
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

std::string FormatReleaseManifest(const ReleaseManifest& manifest) {
  std::string text(kHeader);
  for (const auto& [path, digest] : manifest.entries) {
    text += ToHex(digest.sha256) + kFieldSeparator + std::to_string(digest.size) +
            kFieldSeparator + path + kLineEnd;
  }
  return text;
}

bool ParseReleaseManifest(std::string_view text, ReleaseManifest* manifest) {
  manifest->entries.clear();
  if (text.size() > kMaxReleaseManifestBytes || text.substr(0, kHeader.size()) != kHeader) {
    return false;
  }
  std::set<std::string> folded;
  for (size_t start = kHeader.size(); start < text.size();) {
    const size_t end = text.find(kLineEnd, start);
    if (end == std::string_view::npos) return false;
    std::string path;
    platform::FileDigest digest;
    if (!ParseLine(text.substr(start, end - start), &path, &digest)) return false;
    std::u16string name(path.begin(), path.end());
    if (IsReleaseManifestName(name) || !folded.insert(FoldAscii(path)).second) return false;
    manifest->entries.emplace(std::move(path), digest);
    start = end + 1;
  }
  for (const char16_t* required : kRequiredNames) {
    if (manifest->entries.count(PathOf(required)) == 0) return false;
  }
  return true;
}

bool ListMatchesManifest(const FileVersionMap& list, const ReleaseManifest& manifest) {
  size_t listed = 0;
  for (const auto& entry : manifest.entries) {
    if (!IsFixedPath(entry.first)) ++listed;
  }
  if (listed != list.size()) return false;
  for (const auto& [name, number] : list) {
    std::string path;
    if (!ServerPathOfListName(name, &path) || IsFixedPath(path) ||
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
