// The threaded scan's plumbing, which knows no Python: when threads pay,
// the chunks of a run cut at line ends and counted, and the threads that run
// a pass over them. What a chunk's numbers become is the readers' business
// (numbers.cpp, read_cells.cpp); no thread started here outlives the call.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <thread>
#include <vector>

namespace veltrane::blocks::parallel {

// Sizes from which the scans change their ways. The module's _tune() lowers
// them for the tests, so that small blocks take every path.
struct Tuning {
  std::ptrdiff_t release_count;  // numbers from which a scan lets go of the GIL
  std::ptrdiff_t thread_count;   // numbers from which a scan takes threads
  std::ptrdiff_t chunk_bytes;    // the least bytes a chunk is cut to
};
Tuning tuning() noexcept;
void set_tuning(const Tuning& t) noexcept;

// More threads than this only add their start-up to a call.
inline constexpr int kMaxThreads = 64;

// A piece of the data that starts and ends between tokens.
struct Chunk {
  const char* begin;
  const char* end;
  std::ptrdiff_t tokens = 0;  // how many it holds
  std::ptrdiff_t first = 0;   // how many the chunks before it hold
};

// The chunks from `first` on, counted on up to `threads` threads, until they
// hold `count` tokens or reach `last`. A run much shorter than the data is
// not counted to the data's end: its length is guessed from its first bytes
// and the window grown until it holds the run. Empty when memory runs out.
std::vector<Chunk> plan(const char* first, const char* last, std::ptrdiff_t count,
                        int threads) noexcept;

// task(i) for each i in 0..n-1, once, on up to `threads` threads, the
// caller's among them. A thread that cannot be started leaves its share to
// the others. Everything the tasks wrote is visible when this returns.
template <class Task>
void run(std::size_t n, int threads, Task&& task) noexcept {
  if (n == 0) return;
  std::atomic<std::size_t> next{0};
  auto work = [&]() noexcept {
    for (std::size_t i; (i = next.fetch_add(1, std::memory_order_relaxed)) < n;) task(i);
  };
  // No memory or no thread to be had: fewer hands, the same work.
  std::vector<std::thread> pool;
  std::size_t extra = std::min(n, static_cast<std::size_t>(std::max(threads, 1))) - 1;
  try {
    pool.reserve(extra);
  } catch (...) {
    extra = 0;
  }
  for (std::size_t t = 0; t < extra; ++t) {
    try {
      pool.emplace_back(work);
    } catch (...) {
      break;
    }
  }
  work();
  for (std::thread& t : pool) t.join();
}

}  // namespace veltrane::blocks::parallel
