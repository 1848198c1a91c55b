#pragma once

#include <stdio.h>

#include <cstddef>
#include <cstdint>
#include <memory>

// The fuzz input as a read-only stream, for the readers that take a FILE*.
// glibc's fmemopen refuses an empty buffer; an empty temporary file stands
// in for it.
inline std::unique_ptr<FILE, int (*)(FILE*)> OpenInput(const uint8_t* data, size_t size) {
  FILE* file = size == 0 ? tmpfile()
                         : fmemopen(const_cast<uint8_t*>(data), size, "rb");
  return {file, &fclose};
}
