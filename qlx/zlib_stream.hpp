#pragma once
// One zlib stream, compressed by libdeflate in parts on several threads.

#include <cstdint>
#include <span>

#include "picture.hpp"

namespace qlxcli {

// The zlib stream of `data` at libdeflate's `level`, compressed in parts
// on up to `threads` threads. The parts depend on the data's size alone. The parts are independent raw deflate streams,
// joined into one: every part's final block is made not final, and an
// empty stored block brings it to a byte boundary where the next begins.
// Each part loses only the matches that would reach into the part before.
Outcome<pal::Buffer> zlib_stream(std::span<const std::uint8_t> data, int level, unsigned threads);

}  // namespace qlxcli
