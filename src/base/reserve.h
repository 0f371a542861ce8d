// Room made ahead in a list that only grows at its end. Header only.
#pragma once

#include <algorithm>
#include <cstddef>

namespace norvisk {

// Makes room in `list` (a vector or a string) for `more` elements beyond its size. The capacity
// at least doubles whenever it grows, so that growth stays geometric across repeated calls.
template <class List>
void ReserveMore(List& list, std::size_t more) {
  std::size_t needed = list.size() + more;
  if (needed > list.capacity()) list.reserve(std::max(needed, 2 * list.capacity()));
}

}  // namespace norvisk
