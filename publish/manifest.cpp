#include "publish/manifest.h"

#include <charconv>
#include <vector>

#include "publish/list_names.h"

namespace publish {

namespace {

constexpr std::string_view kHeader = "velkaris-publish manifest 1";
constexpr char kManifestSuffix[] = ".publish-manifest";
constexpr std::string_view kUnknownHash = "-";

std::string Narrow(std::u16string_view name) {
  // Manifest names are checked list names: printable ASCII.
  return std::string(name.begin(), name.end());
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

bool ParseName(std::string_view text, std::u16string* name) {
  *name = std::u16string(text.begin(), text.end());
  return ListNameProblem(*name).empty();
}

bool ParseHash(std::string_view text, std::optional<Sha256Digest>* hash) {
  if (text == kUnknownHash) {
    hash->reset();
    return true;
  }
  Sha256Digest digest{};
  if (!FromHex(text, &digest)) return false;
  *hash = digest;
  return true;
}

// One line after the header; false when it is malformed.
bool ParseEntry(const std::vector<std::string_view>& fields, Manifest* manifest, bool* sawState,
                bool* sawRecord) {
  const std::string_view keyword = fields[0];
  const size_t count = fields.size();
  if (keyword == "state" && count == 2 && !*sawState) {
    *sawState = true;
    manifest->complete = fields[1] == "complete";
    return fields[1] == "complete" || fields[1] == "publishing";
  }
  if (keyword == "record" && count == 3 && !*sawRecord) {
    *sawRecord = true;
    return ParseNumber(fields[1], &manifest->first) && ParseNumber(fields[2], &manifest->second);
  }
  if ((keyword == "patcher" || keyword == "launcher") && count == 2) {
    auto& hash = keyword == "patcher" ? manifest->patcher : manifest->launcher;
    Sha256Digest digest{};
    if (hash || !FromHex(fields[1], &digest)) return false;
    hash = digest;
    return true;
  }
  std::u16string name;
  ManifestFile file;
  if (keyword == "file" && count == 4) {
    if (!ParseNumber(fields[1], &file.number) || !ParseHash(fields[2], &file.hash) ||
        !ParseName(fields[3], &name)) {
      return false;
    }
    return manifest->files.try_emplace(name, file).second;
  }
  if (keyword == "removed" && count == 3) {
    file.listed = false;
    if (!ParseNumber(fields[1], &file.number) || !ParseName(fields[2], &name)) return false;
    return manifest->files.try_emplace(name, file).second;
  }
  if (keyword == "pending" && count == 2) {
    name = std::u16string(fields[1].begin(), fields[1].end());
    const bool executable = name == kPatcherFileName || name == kLauncherFileName;
    if (!executable && !ListNameProblem(name).empty()) return false;
    return manifest->pending.insert(name).second;
  }
  return false;
}

}  // namespace

std::string FormatManifest(const Manifest& manifest) {
  std::string text(kHeader);
  text += "\nstate ";
  text += manifest.complete ? "complete" : "publishing";
  text +=
      "\nrecord " + std::to_string(manifest.first) + " " + std::to_string(manifest.second) + "\n";
  if (manifest.patcher) text += "patcher " + ToHex(*manifest.patcher) + "\n";
  if (manifest.launcher) text += "launcher " + ToHex(*manifest.launcher) + "\n";
  for (const auto& [name, file] : manifest.files) {
    if (file.listed) {
      const std::string hash = file.hash ? ToHex(*file.hash) : std::string(kUnknownHash);
      text += "file " + std::to_string(file.number) + " " + hash + " " + Narrow(name) + "\n";
    } else {
      text += "removed " + std::to_string(file.number) + " " + Narrow(name) + "\n";
    }
  }
  for (const std::u16string& name : manifest.pending) text += "pending " + Narrow(name) + "\n";
  return text;
}

bool ParseManifest(std::string_view text, Manifest* manifest, std::string* problem) {
  *manifest = Manifest();
  bool sawHeader = false;
  bool sawState = false;
  bool sawRecord = false;
  size_t lineNumber = 0;
  while (!text.empty()) {
    ++lineNumber;
    const size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text.remove_prefix(end == text.npos ? text.size() : end + 1);
    // Tolerate an editor's CR LF.
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.empty()) continue;
    const bool ok = sawHeader ? ParseEntry(SplitFields(line), manifest, &sawState, &sawRecord)
                              : line == kHeader;
    if (!ok) {
      *problem = "line " + std::to_string(lineNumber) + " is not understood";
      return false;
    }
    sawHeader = true;
  }
  if (!sawHeader || !sawState || !sawRecord) {
    *problem = "it lacks its header, state or record line";
    return false;
  }
  return true;
}

std::filesystem::path DefaultManifestPath(const std::filesystem::path& tree) {
  std::filesystem::path normal = tree.lexically_normal();
  if (!normal.has_filename()) normal = normal.parent_path();
  if (!normal.has_filename()) return {};
  std::filesystem::path manifest = normal;
  manifest += kManifestSuffix;
  return manifest;
}

}  // namespace publish
