// Writing a whole file from pieces of memory, through the platform's own file functions.
#pragma once

#include <cstddef>

namespace norvisk {

// Creates `fileName` (replacing any file of that name) and writes the `count` pieces, piece k
// being `sizes[k]` bytes at `parts[k]`, one after the other. True only when the file was created,
// every piece was written whole and the file was closed without error. On Windows through
// CreateFileA / WriteFile / CloseHandle, elsewhere through stdio in binary mode.
bool WriteFileParts(const char* fileName, const void* const* parts, const std::size_t* sizes,
                    int count);

}  // namespace norvisk
