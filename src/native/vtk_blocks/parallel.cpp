// Cutting a run into chunks and counting them; see parallel.hpp. Chunks end
// just after a line end, so that each holds whole lines, or after any blank
// where a line is longer than a chunk: tokens never span a blank either way.
#include "parallel.hpp"

#include <cstring>
#include <string_view>

#include "scan.hpp"

namespace veltrane::blocks::parallel {
namespace {

// Measured with two threads on a shared machine of two cores: below some
// fifty thousand numbers (about a millisecond for small integers, three for
// 17-digit doubles) a second thread barely pays for its start and the
// counting pass; from 65536 on it gains 1.5 to 2 times. Chunks of 64 KiB
// and more keep that start-up small beside a chunk's work. Letting go of
// the GIL costs microseconds, worth it from some thousand numbers on.
std::atomic<std::ptrdiff_t> release_count{4096};
std::atomic<std::ptrdiff_t> thread_count{65536};
std::atomic<std::ptrdiff_t> chunk_bytes{1 << 16};

// The first place at or after p, with `run` <= p, where a chunk may end.
const char* boundary(const char* run, const char* p, const char* last,
                     std::ptrdiff_t reach) noexcept {
  if (p >= last) return last;
  if (p == run) return p;
  const auto* eol = static_cast<const char*>(
      std::memchr(p - 1, '\n', static_cast<std::size_t>(std::min(last - p + 1, reach))));
  if (eol != nullptr) return eol + 1;
  while (p != last && !scan::is_space(static_cast<unsigned char>(p[-1]))) ++p;
  return p;
}

// Cuts [first, last) into chunks of about `size` bytes and appends them.
void cut(const char* run, const char* first, const char* last, std::ptrdiff_t size,
         std::vector<Chunk>& out) {
  while (first != last) {
    const char* end = boundary(run, first + std::min(size, last - first), last, size);
    out.push_back(Chunk{first, end});
    first = end;
  }
}

}  // namespace

Tuning tuning() noexcept {
  return {release_count.load(std::memory_order_relaxed),
          thread_count.load(std::memory_order_relaxed),
          chunk_bytes.load(std::memory_order_relaxed)};
}

void set_tuning(const Tuning& t) noexcept {
  release_count.store(t.release_count, std::memory_order_relaxed);
  thread_count.store(t.thread_count, std::memory_order_relaxed);
  chunk_bytes.store(t.chunk_bytes, std::memory_order_relaxed);
}

std::vector<Chunk> plan(const char* first, const char* last, std::ptrdiff_t count,
                        int threads) noexcept {
  std::vector<Chunk> chunks;
  try {
    const std::ptrdiff_t least = std::max<std::ptrdiff_t>(tuning().chunk_bytes, 1);
    // The bytes a number takes, from the first few.
    const char* probe = boundary(first, first + std::min(4 * least, last - first), last, least);
    const auto seen = static_cast<double>(
        scan::count_tokens(std::string_view(first, static_cast<std::size_t>(probe - first))));
    double guess = seen > 0 ? static_cast<double>(probe - first) / seen : 2.0;
    std::ptrdiff_t total = 0;
    const char* start = first;
    while (start != last && total < count) {
      // What is missing, a little more, and a chunk's worth: an overshoot
      // costs counting, a shortfall another round.
      const double want =
          static_cast<double>(count - total) * guess * 1.0625 + static_cast<double>(least);
      const double room = static_cast<double>(last - start);
      const char* stop =
          want >= room ? last
                       : boundary(first, start + static_cast<std::ptrdiff_t>(want), last, least);
      const std::size_t from = chunks.size();
      const std::ptrdiff_t size =
          std::max(least, (stop - start) / (std::ptrdiff_t{4} * std::max(threads, 1)));
      cut(first, start, stop, size, chunks);
      run(chunks.size() - from, threads, [&](std::size_t i) {
        Chunk& c = chunks[from + i];
        c.tokens = static_cast<std::ptrdiff_t>(scan::count_tokens(
            std::string_view(c.begin, static_cast<std::size_t>(c.end - c.begin))));
      });
      for (std::size_t i = from; i < chunks.size(); ++i) {
        chunks[i].first = total;
        total += chunks[i].tokens;
      }
      if (total > 0) guess = static_cast<double>(stop - first) / static_cast<double>(total);
      start = stop;
    }
  } catch (...) {
    chunks.clear();
  }
  return chunks;
}

}  // namespace veltrane::blocks::parallel
