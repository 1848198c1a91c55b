#include "platform/files.h"

#include <iterator>
#include <utility>

#include "platform/code_page.h"

namespace platform {

namespace {
constexpr char16_t kLocalPrefix[] = u"\\\\?\\";
constexpr char16_t kUncPrefix[] = u"\\\\?\\UNC\\";
constexpr char16_t kSharePrefix[] = u"\\\\";

bool StartsWithDrive(const std::u16string& path, size_t at) {
  return path.size() >= at + 3 &&
         ((path[at] >= u'A' && path[at] <= u'Z') || (path[at] >= u'a' && path[at] <= u'z')) &&
         path[at + 1] == u':' && path[at + 2] == u'\\';
}
}  // namespace

bool CommandLinePathOfFinalPath(const std::u16string& finalPath, std::u16string* path) {
  std::u16string shorter;
  if (finalPath.starts_with(kUncPrefix)) {
    shorter = kSharePrefix + finalPath.substr(std::size(kUncPrefix) - 1);
  } else if (finalPath.starts_with(kLocalPrefix) &&
             StartsWithDrive(finalPath, std::size(kLocalPrefix) - 1)) {
    shorter = finalPath.substr(std::size(kLocalPrefix) - 1);
  } else {
    return false;
  }
  if (shorter.size() >= kMaxPath) return false;
  // Without the prefix Windows drops a name's trailing dots and blanks: the
  // shorter form would name another file than the one held.
  for (size_t i = 1; i <= shorter.size(); ++i) {
    const bool nameEnds = i == shorter.size() || shorter[i] == u'\\';
    if (nameEnds && (shorter[i - 1] == u'.' || shorter[i - 1] == u' ')) return false;
  }
  *path = std::move(shorter);
  return true;
}

namespace {
// A drive path or a share without the final path's prefix ("\\?\C:\a" is
// "C:\a", "\\?\UNC\s\h" is "\\s\h"), "\" between its names and none at
// its end.
std::u16string PlainPath(std::u16string_view path) {
  std::u16string plain(path);
  for (char16_t& c : plain) {
    if (c == u'/') c = u'\\';
  }
  if (plain.starts_with(kUncPrefix)) {
    plain = kSharePrefix + plain.substr(std::size(kUncPrefix) - 1);
  } else if (plain.starts_with(kLocalPrefix)) {
    plain.erase(0, std::size(kLocalPrefix) - 1);
  }
  while (!plain.empty() && plain.back() == u'\\') plain.pop_back();
  return plain;
}
}  // namespace

bool IsVolumeRoot(std::u16string_view path) {
  const std::u16string plain = PlainPath(path);
  if (plain.size() == 2 && plain[1] == u':') return true;
  if (!plain.starts_with(kSharePrefix)) return false;
  // "\\server\share": a server's name, then a share's, and nothing below.
  const size_t share = plain.find(u'\\', std::size(kSharePrefix) - 1);
  return share != std::u16string::npos && share > std::size(kSharePrefix) - 1 &&
         share + 1 < plain.size() && plain.find(u'\\', share + 1) == std::u16string::npos;
}

bool IsAtOrBelow(std::u16string_view path, std::u16string_view folder) {
  std::u16string below;
  std::u16string above;
  if (!UpperCaseAsFileSystem(PlainPath(path), &below) ||
      !UpperCaseAsFileSystem(PlainPath(folder), &above) || above.empty() ||
      !below.starts_with(above)) {
    return false;
  }
  return below.size() == above.size() || below[above.size()] == u'\\';
}

}  // namespace platform
