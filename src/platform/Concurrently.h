#pragma once

#include <cstddef>
#include <functional>
#include <vector>

namespace brisklet {

// The indices begin, begin + 1, …, end − 1.
struct IndexRange {
  size_t begin = 0;
  size_t end = 0;
  bool operator==(const IndexRange&) const = default;
};

// [0, count) cut into at most `pieces` contiguous ranges whose sizes differ by at most one, none
// shorter than `minimumSize` unless there is only one. Empty when `count` is 0.
std::vector<IndexRange> contiguousRanges(size_t count, size_t pieces, size_t minimumSize);

// Runs `work(piece)` for every piece in [0, pieces) at the same time, piece 0 on the calling
// thread, and returns once all have ended. The failure of the lowest-numbered piece that failed
// is rethrown.
void runConcurrently(size_t pieces, const std::function<void(size_t piece)>& work);

}  // namespace brisklet
