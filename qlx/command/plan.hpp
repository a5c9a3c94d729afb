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

// What the command line's options make of the run and of each of its
// `job_count` conversions, decided once here.
struct RunSettings {
    ConversionSettings conversion;
    BatchSettings batch;
};
RunSettings run_settings(const Invocation& invocation, std::size_t job_count, bool on_terminal);

}  // namespace qlxcmd
