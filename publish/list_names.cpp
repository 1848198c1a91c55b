#include "publish/list_names.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <type_traits>

#include "release/version_files.h"

namespace publish {

namespace {

constexpr char16_t kListSeparator = u'\\';
constexpr uint32_t kFirstPrintable = 0x20;
constexpr uint32_t kLastPrintable = 0x7E;
constexpr size_t kEscapeBuffer = 16;
// Subfolders the launcher can write into: "locales" only, one level deep.
constexpr size_t kMaxParts = 2;

// A name the launcher gives a file of its own, in any ASCII case.
bool IsLauncherOwnName(std::u16string_view name) {
  const std::u16string folded = FoldAscii(name);
  for (const char16_t* own : kLauncherOwnNames) {
    if (folded == FoldAscii(std::u16string_view(own))) return true;
  }
  for (const char16_t* executable : kExecutableNames) {
    if (folded == FoldAscii(std::u16string(executable) + kFetchSuffix)) return true;
  }
  return false;
}

bool EndsWithFolded(std::u16string_view name, std::u16string_view suffix) {
  return name.size() >= suffix.size() &&
         FoldAscii(name.substr(name.size() - suffix.size())) == FoldAscii(suffix);
}

template <typename Unit>
std::string PrintableUnits(std::basic_string_view<Unit> units) {
  std::string text;
  for (Unit unit : units) {
    const auto value = static_cast<uint32_t>(static_cast<std::make_unsigned_t<Unit>>(unit));
    // A native POSIX name's bytes beyond ASCII are the operator's own
    // encoding and print as typed; control characters never reach the
    // terminal raw.
    const bool nativeText = sizeof(Unit) == 1 && value > kLastPrintable + 1;
    if ((value >= kFirstPrintable && value <= kLastPrintable) || nativeText) {
      text.push_back(static_cast<char>(value));
      continue;
    }
    // Bytes of a native POSIX name, UTF-16 units elsewhere.
    constexpr const char* kFormat = sizeof(Unit) == 1 ? "\\x%02X" : "\\u%04X";
    char escape[kEscapeBuffer];
    std::snprintf(escape, sizeof escape, kFormat, static_cast<unsigned>(value));
    text += escape;
  }
  return text;
}

}  // namespace

std::string ListNameProblem(std::u16string_view name) {
  if (name.empty()) return "is empty";
  if (name.size() > kMaxListNameLength) {
    return "is longer than " + std::to_string(kMaxListNameLength) + " characters (" +
           std::to_string(name.size()) + ")";
  }
  for (char16_t c : name) {
    if (c < kFirstPrintable || c > kLastPrintable)
      return "holds a character other than printable ASCII";
  }
  if (name.find(u' ') != name.npos) return "holds a blank, which the list uses between entries";
  if (name.find(u'/') != name.npos) return "holds \"/\" (the list separates folders with \"\\\")";
  if (!IsSafeListName(name)) {
    return "is not a plain relative path the launcher accepts (an empty, \".\" or \"..\" part, "
           "a part ending in a dot or blank, one of : < > \" | ? *, or a device name such as CON)";
  }
  const size_t firstSeparator = name.find(kListSeparator);
  const size_t parts =
      1 + static_cast<size_t>(std::count(name.begin(), name.end(), kListSeparator));
  if (parts > kMaxParts || (parts == kMaxParts &&
                            FoldAscii(name.substr(0, firstSeparator)) !=
                                FoldAscii(std::u16string_view(kLocalesFolderName)))) {
    return "lies in a folder other than \"locales\", the only one the launcher creates";
  }
  if (parts == 1 && IsLauncherOwnName(name)) return "is a name the launcher uses for its own files";
  const std::string_view temporarySuffix = kTemporarySuffix;
  if (EndsWithFolded(name, std::u16string(temporarySuffix.begin(), temporarySuffix.end()))) {
    return std::string("ends in \"") + kTemporarySuffix + "\", the tool's temporary names";
  }
  // A launcher built with a key fetches "X" into "X.temp": a listed
  // "X.temp" would be destroyed and never fetched again.
  if (EndsWithFolded(name, kFetchSuffix)) {
    return "ends in \"" + Printable(kFetchSuffix) +
           "\", the name the launcher gives a listed file while it downloads it";
  }
  return {};
}

bool ListNameFromPath(const std::filesystem::path& relative, std::u16string* name,
                      std::string* problem) {
  name->clear();
  for (const std::filesystem::path& part : relative) {
    if (!name->empty()) name->push_back(kListSeparator);
    for (auto unit : part.native()) {
      if (unit == '\\') {
        *problem = "holds \"\\\" in a file or folder name (the list uses it between folders)";
        return false;
      }
      name->push_back(
          static_cast<char16_t>(static_cast<std::make_unsigned_t<decltype(unit)>>(unit)));
    }
  }
  return true;
}

std::filesystem::path PathBelow(const std::filesystem::path& root, std::u16string_view name) {
  std::filesystem::path path = root;
  size_t start = 0;
  for (;;) {
    const size_t end = name.find(kListSeparator, start);
    const std::u16string_view part = name.substr(start, end == name.npos ? name.npos : end - start);
    // Checked names are ASCII, so the narrow text converts unchanged.
    path /= std::string(part.begin(), part.end());
    if (end == name.npos) return path;
    start = end + 1;
  }
}

std::filesystem::path TemporaryPath(const std::filesystem::path& path) {
  std::filesystem::path temporary = path;
  temporary += kTemporarySuffix;
  return temporary;
}

std::string Printable(std::u16string_view name) { return PrintableUnits(name); }

std::string PrintablePath(const std::filesystem::path& path) {
  return PrintableUnits(std::basic_string_view<std::filesystem::path::value_type>(path.native()));
}

}  // namespace publish
