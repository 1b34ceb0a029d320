// Scanning a run of numbers of one type, alone or on threads: what
// read_ascii and read_cells share. Whatever the threads, the answer is the
// one a scan alone gives, values and decline alike: chunks read what the
// core takes whole, the first failure in the data's order wins, and from a
// chunk that met a token for the interpreter on, the run is read alone.
// No Python object is touched here but through the readers' `slow`, which
// takes the GIL first.
#pragma once

#include <algorithm>
#include <cstddef>
#include <string_view>
#include <vector>

#include "convert.hpp"
#include "gil.hpp"
#include "parallel.hpp"
#include "scan.hpp"

namespace veltrane::blocks {

// How a scan of a run ended: read (`at` just past its last number),
// declined (`at` is where), or with an exception set.
struct Outcome {
  enum Kind { kRead, kDeclined, kError } kind;
  const char* at;
};

// Where a token starts, as an offset's pointer.
inline const char* start(std::string_view token) { return token.begin(); }

inline std::string_view span(const char* first, const char* last) {
  return std::string_view(first, static_cast<std::size_t>(last - first));
}

// The run ends its line: a token after it on the same line means the count
// the header gave is short. `stop` is the end of the data.
inline Outcome end_of_run(const char* end, const char* stop) {
  const char* p = end;
  while (p != stop && *p != '\n' && *p != '\r' && scan::is_space(static_cast<unsigned char>(*p)))
    ++p;
  if (p != stop && *p != '\n' && *p != '\r') return {Outcome::kDeclined, p};
  return {Outcome::kRead, end};
}

// Numbers k..count-1 of a run, number k the first token at `from`, read on
// this thread and each handed to sink(k, value); a sink that refuses one
// (false) declines the run at it. Tokens the core leaves to the interpreter
// are read with the GIL, which `gil` may have let go of.
template <class Conv, class Sink>
Outcome scan_alone(const char* from, const char* stop, std::ptrdiff_t k, std::ptrdiff_t count,
                   Sink&& sink, Unlocked& gil) {
  scan::Tokenizer tokens(span(from, stop), scan::Separators::Bytes);
  for (; k < count; ++k) {
    typename Conv::Out value{};
    std::string_view token;
    const char* before = tokens.position();
    Got got = Conv::fast(tokens, value, token);
    if (got == Got::kSlow) got = gil.locked([&] { return Conv::slow(token, value); });
    switch (got) {
      case Got::kValue:
        if (!sink(k, value))
          return {Outcome::kDeclined, start(token_ending_at(before, tokens.position()))};
        break;
      case Got::kEnd:
        return {Outcome::kDeclined, stop};
      case Got::kBad:
        return {Outcome::kDeclined, start(token)};
      default:
        return {Outcome::kError, nullptr};
    }
  }
  return end_of_run(tokens.position(), stop);
}

// How a chunk's share of a run went: read whole (`at` past its last
// number), a token that is no number of the type (`at`, number `index` of
// the run), or one for the interpreter, or fewer tokens than counted (the
// data changed under a writable buffer): the run is read alone from the
// chunk's start, number `index`.
struct Part {
  enum Kind { kWhole, kBad, kAgain } kind = kAgain;
  const char* at = nullptr;
  std::ptrdiff_t index = 0;
};

// The chunks of a run, counted, and what reading them gave.
struct Chunked {
  std::vector<parallel::Chunk> chunks;
  std::size_t used = 0;  // the chunks that hold the run's numbers
  std::vector<Part> parts;

  // Tokens counted: at least the run's count when the data holds the run.
  std::ptrdiff_t total() const { return chunks.back().first + chunks.back().tokens; }

  // The first part that is not whole, or `used`.
  std::size_t first_failure() const {
    std::size_t i = 0;
    while (i < used && parts[i].kind == Part::kWhole) ++i;
    return i;
  }
};

// Cuts the run from `from` into chunks and counts them, on up to `threads`
// threads; false when memory ran out, and the run is the caller's to read
// alone.
inline bool plan_chunks(const char* from, const char* stop, std::ptrdiff_t count, int threads,
                        Chunked& run) {
  run.chunks = parallel::plan(from, stop, count, threads);
  if (run.chunks.empty()) return false;
  while (run.used < run.chunks.size() && run.chunks[run.used].first < count) ++run.used;
  try {
    run.parts.resize(run.used);
  } catch (...) {
    return false;
  }
  return true;
}

// Reads chunk i's share of the first `count` numbers into out[first..] and
// notes how it went.
template <class Conv>
void read_chunk(Chunked& run, std::size_t i, std::ptrdiff_t count, typename Conv::Out* out) {
  const parallel::Chunk& c = run.chunks[i];
  const std::ptrdiff_t want = std::min(c.tokens, count - c.first);
  scan::Tokenizer tokens(span(c.begin, c.end), scan::Separators::Bytes);
  typename Conv::Out* dst = out + c.first;
  for (std::ptrdiff_t j = 0; j < want; ++j) {
    std::string_view token;
    const Got got = Conv::fast(tokens, dst[j], token);
    if (got == Got::kValue) continue;
    run.parts[i] = got == Got::kBad ? Part{Part::kBad, start(token), c.first + j}
                                    : Part{Part::kAgain, c.begin, c.first};
    return;
  }
  run.parts[i] = Part{Part::kWhole, tokens.position(), c.first + want};
}

// Reads the first `count` numbers from `from` on into out[0..count), on up
// to `threads` threads, chunk by chunk. False as plan_chunks.
template <class Conv>
bool read_chunks(const char* from, const char* stop, std::ptrdiff_t count, typename Conv::Out* out,
                 int threads, Chunked& run) {
  if (!plan_chunks(from, stop, count, threads, run)) return false;
  parallel::run(run.used, threads, [&](std::size_t i) { read_chunk<Conv>(run, i, count, out); });
  return true;
}

// The answer for a chunked run whose parts before `failed` were whole and
// handed on: a token that fails, a read alone from a chunk on, the data's
// end, or the end-of-line rule.
template <class Conv, class Sink>
Outcome finish_chunks(const Chunked& run, std::size_t failed, const char* stop,
                      std::ptrdiff_t count, Sink&& sink, Unlocked& gil) {
  if (failed < run.used) {
    const Part& part = run.parts[failed];
    if (part.kind == Part::kBad) return {Outcome::kDeclined, part.at};
    return scan_alone<Conv>(part.at, stop, part.index, count, sink, gil);
  }
  if (run.total() < count) return {Outcome::kDeclined, stop};
  return end_of_run(run.parts[run.used - 1].at, stop);
}

}  // namespace veltrane::blocks
