#include "publish/manifest.h"

#include <algorithm>
#include <charconv>
#include <utility>
#include <vector>

#include "publish/list_names.h"

namespace publish {

namespace {

constexpr std::string_view kHeader = "velkaris-publish manifest 2";
constexpr std::string_view kOlderHeader = "velkaris-publish manifest 1";
constexpr std::string_view kEndKeyword = "end ";
constexpr char kManifestSuffix[] = ".publish-manifest";
constexpr char kLockSuffix[] = ".lock";
constexpr std::string_view kUnknown = "-";
constexpr char kStampSeparator = ':';

platform::Sha256Digest TextDigest(std::string_view text) {
  platform::Sha256 hash;
  platform::Sha256Digest digest{};
  // A failing digest leaves zeros, which no real manifest's closing line holds.
  if (!hash.Update(text.data(), text.size()) || !hash.Finish(&digest)) digest.fill(0);
  return digest;
}

std::vector<std::string_view> SplitFields(std::string_view line) {
  std::vector<std::string_view> fields;
  size_t start = 0;
  for (;;) {
    const size_t end = line.find(' ', start);
    fields.push_back(line.substr(start, end == line.npos ? line.npos : end - start));
    if (end == line.npos) return fields;
    start = end + 1;
  }
}

template <typename Number>
bool ParseNumber(std::string_view text, Number* value) {
  const char* end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data(), end, *value);
  return error == std::errc() && stop == end && !text.empty();
}

bool ParseName(std::string_view text, CodePage codePage, std::u16string* name) {
  return NameOfCodePageBytes(text, codePage, name) && ListNameProblem(*name, codePage).empty();
}

bool ParseHash(std::string_view text, std::optional<platform::Sha256Digest>* hash) {
  if (text == kUnknown) {
    hash->reset();
    return true;
  }
  platform::Sha256Digest digest{};
  if (!FromHex(text, &digest)) return false;
  *hash = digest;
  return true;
}

bool ParseStamp(std::string_view text, std::optional<FileStamp>* stamp) {
  stamp->reset();
  if (text == kUnknown) return true;
  const size_t separator = text.find(kStampSeparator);
  FileStamp read;
  if (separator == text.npos || !ParseNumber(text.substr(0, separator), &read.size) ||
      !ParseNumber(text.substr(separator + 1), &read.time)) {
    return false;
  }
  *stamp = read;
  return true;
}

std::string FormatStamp(const std::optional<FileStamp>& stamp) {
  if (!stamp) return std::string(kUnknown);
  return std::to_string(stamp->size) + kStampSeparator + std::to_string(stamp->time);
}

std::string FormatHash(const std::optional<platform::Sha256Digest>& hash) {
  return hash ? ToHex(*hash) : std::string(kUnknown);
}

// One line after the header; false when it is malformed.
bool ParseEntry(const std::vector<std::string_view>& fields, CodePage codePage, Manifest* manifest,
                bool* sawState, bool* sawRecord) {
  const std::string_view keyword = fields[0];
  const size_t count = fields.size();
  if (keyword == "state" && count == 2 && !*sawState) {
    *sawState = true;
    manifest->complete = fields[1] == "complete";
    return fields[1] == "complete" || fields[1] == "publishing";
  }
  if (keyword == "mirror" && count == 2) {
    manifest->mirrors.emplace_back(fields[1]);
    return IsMirrorList(manifest->mirrors);
  }
  if (keyword == "record" && count == 3 && !*sawRecord) {
    *sawRecord = true;
    return ParseNumber(fields[1], &manifest->first) && ParseNumber(fields[2], &manifest->second);
  }
  std::u16string name;
  ManifestFile file;
  if ((keyword == "patcher" || keyword == "launcher") && count == 3) {
    auto& executable = keyword == "patcher" ? manifest->patcher : manifest->launcher;
    platform::Sha256Digest digest{};
    if (executable || !FromHex(fields[1], &digest) || !ParseStamp(fields[2], &file.stamp))
      return false;
    file.hash = digest;
    executable = file;
    return true;
  }
  if (keyword == "file" && count == 5) {
    if (!ParseNumber(fields[1], &file.number) || !ParseHash(fields[2], &file.hash) ||
        !ParseStamp(fields[3], &file.stamp) || !ParseName(fields[4], codePage, &name)) {
      return false;
    }
    return manifest->files.try_emplace(name, file).second;
  }
  if (keyword == "removed" && count == 3) {
    file.listed = false;
    if (!ParseNumber(fields[1], &file.number) || !ParseName(fields[2], codePage, &name)) {
      return false;
    }
    return manifest->files.try_emplace(name, file).second;
  }
  if (keyword == "pending" && count == 2) {
    if (!NameOfCodePageBytes(fields[1], codePage, &name)) return false;
    if (!IsExecutableName(name) && !ListNameProblem(name, codePage).empty()) return false;
    return manifest->pending.insert(name).second;
  }
  return false;
}

// The slot of the patcher or the launcher; null for any other name.
template <typename AnyManifest>
auto ExecutableSlot(AnyManifest& manifest, const std::u16string& name)
    -> decltype(&manifest.patcher) {
  if (name == kPatcherFileName) return &manifest.patcher;
  if (name == kLauncherFileName) return &manifest.launcher;
  return nullptr;
}

}  // namespace

const ManifestFile* FindFile(const Manifest& manifest, const std::u16string& name) {
  if (const auto* slot = ExecutableSlot(manifest, name)) return *slot ? &**slot : nullptr;
  const auto found = manifest.files.find(name);
  return found == manifest.files.end() ? nullptr : &found->second;
}

ManifestFile& FileEntry(Manifest* manifest, const std::u16string& name) {
  if (auto* slot = ExecutableSlot(*manifest, name)) return *slot ? **slot : slot->emplace();
  return manifest->files[name];
}

bool FormatManifest(const Manifest& manifest, CodePage codePage, std::string* formatted) {
  std::string text(kHeader);
  text += "\nstate ";
  text += manifest.complete ? "complete" : "publishing";
  text +=
      "\nrecord " + std::to_string(manifest.first) + " " + std::to_string(manifest.second) + "\n";
  for (const std::string& mirror : manifest.mirrors) text += "mirror " + mirror + "\n";
  if (manifest.patcher) {
    text += "patcher " + FormatHash(manifest.patcher->hash) + " " +
            FormatStamp(manifest.patcher->stamp) + "\n";
  }
  if (manifest.launcher) {
    text += "launcher " + FormatHash(manifest.launcher->hash) + " " +
            FormatStamp(manifest.launcher->stamp) + "\n";
  }
  std::string bytes;
  for (const auto& [name, file] : manifest.files) {
    if (!CodePageBytes(name, codePage, &bytes)) return false;
    if (file.listed) {
      text += "file " + std::to_string(file.number) + " " + FormatHash(file.hash) + " " +
              FormatStamp(file.stamp) + " " + bytes + "\n";
    } else {
      text += "removed " + std::to_string(file.number) + " " + bytes + "\n";
    }
  }
  for (const std::u16string& name : manifest.pending) {
    if (!CodePageBytes(name, codePage, &bytes)) return false;
    text += "pending " + bytes + "\n";
  }
  const size_t lines = static_cast<size_t>(std::count(text.begin(), text.end(), '\n'));
  text += std::string(kEndKeyword) + std::to_string(lines) + " " + ToHex(TextDigest(text)) + "\n";
  *formatted = std::move(text);
  return true;
}

ManifestRead ParseManifest(std::string_view text, CodePage codePage, Manifest* manifest,
                           std::string* problem) {
  *manifest = Manifest();
  if (text.substr(0, kOlderHeader.size()) == kOlderHeader) {
    *problem = "it was written by an older version of this tool";
    return ManifestRead::kMalformed;
  }
  // The closing line covers every byte before it, so a manifest cut short
  // or edited by hand is never taken for a smaller release.
  const size_t endLine = text.rfind(std::string("\n") + std::string(kEndKeyword));
  const std::string_view body = text.substr(0, endLine == text.npos ? 0 : endLine + 1);
  const std::string expected = std::string(kEndKeyword) +
                               std::to_string(std::count(body.begin(), body.end(), '\n')) + " " +
                               ToHex(TextDigest(body)) + "\n";
  if (endLine == text.npos || text.substr(body.size()) != expected) {
    *problem = "its closing line does not match its content: it was cut short or edited";
    return ManifestRead::kDamaged;
  }
  text = body;
  bool sawHeader = false;
  bool sawState = false;
  bool sawRecord = false;
  size_t lineNumber = 0;
  while (!text.empty()) {
    ++lineNumber;
    const size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text.remove_prefix(end == text.npos ? text.size() : end + 1);
    if (line.empty()) continue;
    const bool ok = sawHeader
                        ? ParseEntry(SplitFields(line), codePage, manifest, &sawState, &sawRecord)
                        : line == kHeader;
    if (!ok) {
      *problem = "line " + std::to_string(lineNumber) + " is not understood";
      return ManifestRead::kMalformed;
    }
    sawHeader = true;
  }
  if (!sawHeader || !sawState || !sawRecord) {
    *problem = "it lacks its header, state or record line";
    return ManifestRead::kMalformed;
  }
  return ManifestRead::kRead;
}

std::filesystem::path DefaultManifestPath(const std::filesystem::path& tree) {
  std::filesystem::path normal = tree.lexically_normal();
  if (!normal.has_filename()) normal = normal.parent_path();
  if (!normal.has_filename()) return {};
  std::filesystem::path manifest = normal;
  manifest += kManifestSuffix;
  return manifest;
}

std::filesystem::path LockPath(const std::filesystem::path& manifest) {
  std::filesystem::path lock = manifest;
  lock += kLockSuffix;
  return lock;
}

}  // namespace publish
