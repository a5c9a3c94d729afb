#pragma once
// One zlib stream, compressed by libdeflate in parts on several threads.

#include <cstdint>
#include <span>

#include "picture.hpp"

namespace qlxcmd {

// The data is cut into parts of at least this size, however many threads
// compress them, so that the bytes never depend on the threads: each part
// is worth a thread, and the matches lost at each joint cost little.
inline constexpr std::size_t smallest_part = 2u << 20;

// The zlib stream of `data` at libdeflate's `level`, compressed in parts of
// at least `part_size` bytes on up to `threads` threads. The parts depend
// on the data's size alone. (Only the fuzzer asks for smaller parts, to
// join many of them.) The parts are independent raw deflate streams,
// joined into one: every part's final block is made not final, and an
// empty stored block brings it to a byte boundary where the next begins.
// Each part loses only the matches that would reach into the part before.
Outcome<sys::Buffer> zlib_stream(std::span<const std::uint8_t> data, int level, unsigned threads,
                                 std::size_t part_size = smallest_part);

}  // namespace qlxcmd
