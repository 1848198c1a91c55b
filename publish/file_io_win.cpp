#include "publish/file_io.h"

#include <io.h>

#include <string>

namespace publish {

UniqueFile OpenFile(const std::filesystem::path& path, const char* mode) {
  // Modes are ASCII; the path stays UTF-16 so no code page mangles it.
  const std::wstring wideMode(mode, mode + std::char_traits<char>::length(mode));
  return UniqueFile(_wfopen(path.c_str(), wideMode.c_str()));
}

bool SyncFile(std::FILE* file) { return std::fflush(file) == 0 && _commit(_fileno(file)) == 0; }

}  // namespace publish
