// Little-endian integers in byte buffers, as bitmap files and the control's stream store them:
// written and read byte by byte, whatever the byte order of the machine.
#pragma once

#include <cstdint>
#include <vector>

namespace norvisk {

inline std::uint32_t LoadLe16(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8);
}

inline std::uint32_t LoadLe32(const std::uint8_t* p) {
  return LoadLe16(p) | (LoadLe16(p + 2) << 16);
}

// The low 16 or 32 bits of `v` at `p`; returns the byte after them.
inline std::uint8_t* StoreLe16(std::uint8_t* p, std::uint32_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
  return p + 2;
}

inline std::uint8_t* StoreLe32(std::uint8_t* p, std::uint32_t v) {
  return StoreLe16(StoreLe16(p, v), v >> 16);
}

inline void AppendLe16(std::vector<std::uint8_t>& out, std::uint32_t v) {
  std::uint8_t bytes[2];
  StoreLe16(bytes, v);
  out.insert(out.end(), bytes, bytes + 2);
}

inline void AppendLe32(std::vector<std::uint8_t>& out, std::uint32_t v) {
  std::uint8_t bytes[4];
  StoreLe32(bytes, v);
  out.insert(out.end(), bytes, bytes + 4);
}

}  // namespace norvisk
