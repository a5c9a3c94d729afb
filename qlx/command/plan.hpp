#pragma once
// The conversions a command line asks for, with every clash between their
// names found before anything is converted.

#include <vector>

#include "arguments.hpp"
#include "batch.hpp"

namespace qlxcmd {

// A refusal is a usage error: two inputs writing one output, or an output
// that is one of the inputs.
common::Expected<std::vector<Job>, std::string> plan_jobs(const Invocation& invocation);

// What the command line's options make of each conversion.
ConversionSettings conversion_settings(const Invocation& invocation);

}  // namespace qlxcmd
