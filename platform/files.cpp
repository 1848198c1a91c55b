#include "platform/files.h"

#include <iterator>
#include <utility>

namespace platform {

namespace {
constexpr char16_t kLocalPrefix[] = u"\\\\?\\";
constexpr char16_t kUncPrefix[] = u"\\\\?\\UNC\\";

bool StartsWithDrive(const std::u16string& path, size_t at) {
  return path.size() >= at + 3 &&
         ((path[at] >= u'A' && path[at] <= u'Z') || (path[at] >= u'a' && path[at] <= u'z')) &&
         path[at + 1] == u':' && path[at + 2] == u'\\';
}
}  // namespace

bool CommandLinePathOfFinalPath(const std::u16string& finalPath, std::u16string* path) {
  std::u16string shorter;
  if (finalPath.starts_with(kUncPrefix)) {
    shorter = u"\\\\" + finalPath.substr(std::size(kUncPrefix) - 1);
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

}  // namespace platform
