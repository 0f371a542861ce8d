// The igzip (ISA-L) functions the PNG writer compresses with: linked into the program
// (png_deflate_linked.cpp), or taken from the shared library opened by name when the first PNG
// is written (png_deflate_loaded_posix.cpp: the command, whose every start would otherwise map a
// library that most charts do not need). The build picks one.
#pragma once

#include <isa-l/igzip_lib.h>

#include <cstdint>
#include <string>

namespace norvisk {

struct PngDeflate {
  void (*init)(isal_zstream* stream);
  int (*deflate)(isal_zstream* stream);
  std::uint32_t (*crc32)(std::uint32_t crc, const unsigned char* data, std::uint64_t size);
};

// The functions, the same for the life of the process; nullptr when they cannot be had, and
// then *why (when given) says why in one line. Safe to call from several threads at once.
const PngDeflate* FindPngDeflate(std::string* why);

}  // namespace norvisk
