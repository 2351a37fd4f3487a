#include "platform/Concurrently.h"

#include <algorithm>
#include <exception>
#include <future>

namespace brisklet {

std::vector<IndexRange> contiguousRanges(size_t count, size_t pieces, size_t minimumSize) {
  if (count == 0) return {};
  const size_t mostPieces = std::max<size_t>(1, count / std::max<size_t>(1, minimumSize));
  const size_t used = std::clamp<size_t>(pieces, 1, mostPieces);
  std::vector<IndexRange> ranges;
  for (size_t piece = 0; piece < used; ++piece)
    ranges.push_back({.begin = count * piece / used, .end = count * (piece + 1) / used});
  return ranges;
}

void runConcurrently(size_t pieces, const std::function<void(size_t piece)>& work) {
  std::vector<std::future<void>> others;
  for (size_t piece = 1; piece < pieces; ++piece)
    others.push_back(std::async(std::launch::async, work, piece));
  std::exception_ptr failure;
  if (pieces > 0) {
    try {
      work(0);
    } catch (...) {
      failure = std::current_exception();
    }
  }
  // Every piece is waited for, failed or not: they may use what the caller owns.
  for (std::future<void>& other : others) {
    try {
      other.get();
    } catch (...) {
      if (!failure) failure = std::current_exception();
    }
  }
  if (failure) std::rethrow_exception(failure);
}

}  // namespace brisklet
