// The threaded scan's plumbing, which knows no Python: when threads pay,
// the chunks of a run cut at line ends and counted, and the threads that run
// a pass over them. What a chunk's numbers become is the readers' business
// (numbers.cpp, read_cells.cpp); no thread started here outlives the call.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <memory>
#include <new>
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

// Starts up to threads - 1 threads running work() and returns them; one
// that cannot be started (no memory, no thread to be had) leaves its share
// to the others.
template <class Work>
std::vector<std::thread> start(std::size_t n, int threads, Work& work) noexcept {
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
  return pool;
}

// task(i) for each i in 0..n-1, once, on up to `threads` threads, the
// caller's among them. Everything the tasks wrote is visible when this
// returns.
template <class Task>
void run(std::size_t n, int threads, Task&& task) noexcept {
  if (n == 0) return;
  std::atomic<std::size_t> next{0};
  auto work = [&]() noexcept {
    for (std::size_t i; (i = next.fetch_add(1, std::memory_order_relaxed)) < n;) task(i);
  };
  std::vector<std::thread> pool = start(n, threads, work);
  work();
  for (std::thread& t : pool) t.join();
}

// run(), with the calling thread also handing each i to follow(i) in order,
// as soon as task(i) and the tasks before it are done: sequential work on
// each piece overlaps the parallel work on later ones. follow() returning
// false stops the handing on and the tasks not yet begun.
template <class Task, class Follow>
void run_in_order(std::size_t n, int threads, Task&& task, Follow&& follow) noexcept {
  if (n == 0) return;
  std::unique_ptr<std::atomic<bool>[]> done(new (std::nothrow) std::atomic<bool>[n]());
  if (!done) {
    run(n, threads, task);
    std::size_t i = 0;
    while (i < n && follow(i)) ++i;
    return;
  }
  std::atomic<std::size_t> next{0};
  std::atomic<bool> stop{false};
  auto claim = [&](std::size_t& i) {
    return !stop.load(std::memory_order_relaxed) &&
           (i = next.fetch_add(1, std::memory_order_relaxed)) < n;
  };
  auto work = [&]() noexcept {
    for (std::size_t i; claim(i);) {
      task(i);
      done[i].store(true, std::memory_order_release);
    }
  };
  std::vector<std::thread> pool = start(n, threads, work);
  for (std::size_t i, f = 0; f < n;) {
    if (done[f].load(std::memory_order_acquire)) {
      if (!follow(f++)) {
        stop.store(true, std::memory_order_relaxed);
        break;
      }
    } else if (claim(i)) {
      task(i);
      done[i].store(true, std::memory_order_release);
    } else {
      std::this_thread::yield();  // piece f is in another thread's hands
    }
  }
  for (std::thread& t : pool) t.join();
}

}  // namespace veltrane::blocks::parallel
