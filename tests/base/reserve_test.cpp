// ReserveMore: room made ahead in a list without giving up its geometric growth.
#include "base/reserve.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace norvisk {
namespace {

TEST(ReserveMore, SmallRequestsOneAfterAnotherStillGrowGeometrically) {
  // A reader that makes room for each piece before adding it: room for exactly what is asked
  // would move the whole list on every call.
  std::vector<int> values;
  std::string text;
  int moves = 0;
  for (int i = 0; i < 20000; ++i) {
    const auto* before = values.data();
    const std::size_t textBefore = text.capacity();
    ReserveMore(values, 3);
    ReserveMore(text, 2);
    moves += values.data() != before;
    moves += text.capacity() != textBefore;
    values.insert(values.end(), 3, i);
    text += "ab";
  }
  EXPECT_LE(moves, 2 * 20);
}

TEST(ReserveMore, MakesRoomForALargeRequestAtOnceAndKeepsRoomThatIsThere) {
  std::vector<double> values(10, 1.0);
  ReserveMore(values, 5000);
  EXPECT_GE(values.capacity(), 5010u);
  const std::size_t room = values.capacity();
  const double* where = values.data();
  values.resize(5010);
  ReserveMore(values, 0);
  ReserveMore(values, room - 5010);
  EXPECT_EQ(values.capacity(), room);
  EXPECT_EQ(values.data(), where);
}

}  // namespace
}  // namespace norvisk
