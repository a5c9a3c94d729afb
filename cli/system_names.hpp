#pragma once
// The system layer's names that the command-line layer builds on, brought
// into its namespace once.

#include "buffer.hpp"
#include "file_io.hpp"
#include "io_result.hpp"

namespace cli {

using sys::Buffer;
using sys::failure;
using sys::InputFile;
using sys::IoError;
using sys::IoResult;
using sys::OutputFile;

}  // namespace cli
