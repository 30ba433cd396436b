// Files in and out: a bounded, read-only file source and a save that leaves no partial file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "codec.h"

namespace rasterkit {

// Opens `path` for reading (links are followed). Null for anything but a non-empty regular file
// of at most `max_bytes`. Reads go through pread, so a file that shrinks meanwhile reads short
// rather than faulting.
std::unique_ptr<Source> OpenFileSource(const char* path, uint64_t max_bytes);

// Writes `size` bytes to `path`: refuses a symbolic link or anything but a regular file there,
// writes a new file beside it (O_EXCL, mode 0600) and renames it over the path. On failure
// nothing that it created is left and an existing file at the path is unchanged.
bool WriteFileReplacing(const char* path, const uint8_t* data, size_t size);

}  // namespace rasterkit
