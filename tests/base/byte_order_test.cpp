// Little-endian helpers: the bytes of known values, and values read back from bytes with every
// bit set in turn.
#include "base/byte_order.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace norvisk {
namespace {

TEST(ByteOrder, ValuesAreStoredLowByteFirst) {
  std::uint8_t bytes[7] = {};
  std::uint8_t* end = StoreLe16(bytes, 0xBEEF);
  EXPECT_EQ(end, bytes + 2);
  end = StoreLe32(end, 0x12345678);
  EXPECT_EQ(end, bytes + 6);
  const std::uint8_t expected[7] = {0xEF, 0xBE, 0x78, 0x56, 0x34, 0x12, 0x00};
  for (int i = 0; i < 7; ++i) EXPECT_EQ(bytes[i], expected[i]) << i;

  std::vector<std::uint8_t> out = {0xAA};
  AppendLe16(out, 0x10203);  // only the low 16 bits
  AppendLe32(out, 0xFFFFFFFE);
  EXPECT_EQ(out, (std::vector<std::uint8_t>{0xAA, 0x03, 0x02, 0xFE, 0xFF, 0xFF, 0xFF}));
}

TEST(ByteOrder, EveryBitReadsBackInItsPlace) {
  for (int bit = 0; bit < 32; ++bit) {
    std::uint8_t bytes[4] = {};
    bytes[bit / 8] = static_cast<std::uint8_t>(1u << (bit % 8));
    EXPECT_EQ(LoadLe32(bytes), std::uint32_t{1} << bit) << bit;
    if (bit < 16) {
      EXPECT_EQ(LoadLe16(bytes), std::uint32_t{1} << bit) << bit;
    }
    std::uint8_t stored[4] = {};
    StoreLe32(stored, std::uint32_t{1} << bit);
    EXPECT_EQ(LoadLe32(stored), std::uint32_t{1} << bit) << bit;
  }
}

}  // namespace
}  // namespace norvisk
