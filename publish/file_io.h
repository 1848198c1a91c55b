#pragma once

#include <cstdio>
#include <filesystem>

#include "platform/unique_owner.h"

// The two file calls the tool needs beyond std::filesystem, one
// implementation per platform: C streams by native path (errno tells why a
// write failed, a full disk included) and flushing a file to the disk.
namespace publish {

using UniqueFile = platform::UniqueOwner<platform::FileTraits>;

// Binary C stream; mode as for fopen ("rb", "wb"). Null on failure, errno set.
UniqueFile OpenFile(const std::filesystem::path& path, const char* mode);

// Flushes the stream and has the system put the file's data on the disk, so
// a rename that follows never makes a half-written file visible after a
// crash. False with errno set on failure.
bool SyncFile(std::FILE* file);

}  // namespace publish
