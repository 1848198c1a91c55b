#include "patcher/checked_files.h"

#include <charconv>
#include <string_view>

#include "fs/file_services.h"
#include "release/release_files.h"
#include "release/release_manifest.h"
#include "release/version_files.h"

namespace {

// "SIZE LASTWRITE SHA256HEX PATH" a line, after the header; as many lines
// as a release has files.
constexpr std::string_view kHeader = "velkaris-checked-files 1\n";
constexpr char kFieldSeparator = ' ';
constexpr char kLineEnd = '\n';
constexpr size_t kMaxCheckedFilesBytes = kMaxListBytes;

bool ParseNumber(std::string_view* line, uint64_t* value) {
  const size_t end = line->find(kFieldSeparator);
  if (end == std::string_view::npos || end == 0) return false;
  const auto [stop, error] = std::from_chars(line->data(), line->data() + end, *value);
  if (error != std::errc() || stop != line->data() + end) return false;
  line->remove_prefix(end + 1);
  return true;
}

bool ParseLine(std::string_view line, CheckedFiles* files) {
  CheckedFile file;
  if (!ParseNumber(&line, &file.stamp.size) || !ParseNumber(&line, &file.stamp.lastWrite)) {
    return false;
  }
  const size_t hashEnd = line.find(kFieldSeparator);
  if (hashEnd == std::string_view::npos || !FromHex(line.substr(0, hashEnd), &file.sha256)) {
    return false;
  }
  const std::string_view path = line.substr(hashEnd + 1);
  return !path.empty() && files->emplace(std::string(path), file).second;
}

}  // namespace

CheckedFiles ReadCheckedFiles() {
  std::string text;
  CheckedFiles files;
  if (!ReadWholeFile(kCheckedFilesName, kMaxCheckedFilesBytes, &text) ||
      text.substr(0, kHeader.size()) != kHeader) {
    return {};
  }
  for (size_t start = kHeader.size(); start < text.size();) {
    const size_t end = text.find(kLineEnd, start);
    if (end == std::string::npos ||
        !ParseLine(std::string_view(text).substr(start, end - start), &files)) {
      return {};
    }
    start = end + 1;
  }
  return files;
}

bool WriteCheckedFiles(const CheckedFiles& files) {
  std::string text(kHeader);
  for (const auto& [path, file] : files) {
    text += std::to_string(file.stamp.size) + kFieldSeparator +
            std::to_string(file.stamp.lastWrite) + kFieldSeparator + ToHex(file.sha256) +
            kFieldSeparator + path + kLineEnd;
  }
  // Written in place: a record cut short by a kill reads as fewer files or
  // as none, which costs a check more, never a check less.
  return WriteWholeFile(kCheckedFilesName, text);
}
