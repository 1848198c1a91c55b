#include "publish/file_io.h"

#include <unistd.h>

namespace publish {

UniqueFile OpenFile(const std::filesystem::path& path, const char* mode) {
  return UniqueFile(std::fopen(path.c_str(), mode));
}

bool SyncFile(std::FILE* file) { return std::fflush(file) == 0 && fsync(fileno(file)) == 0; }

}  // namespace publish
