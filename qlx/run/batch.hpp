#pragma once
// Many conversions at once, on a number of threads, with one line of
// progress on a terminal and whole lines for failures.

#include <string>
#include <vector>

#include "conversion.hpp"

namespace qlxcmd {

struct Job {
    std::string input;
    OutputName output;
};

struct BatchSettings {
    unsigned jobs = 1;           // conversions at once
    bool show_progress = false;  // standard error is a terminal and --quiet was not given
    bool quiet = false;          // notes of success are not printed
    Report report = Report::none;
};

// Runs every job; true when all of them succeeded. Each failure prints
// "qlx: INPUT: reason" to standard error, and each note of a success its
// line unless quiet. Reports come in the order of the jobs: lines on
// standard error, or JSON objects, one a line, on standard output unless
// an output is standard output, then on standard error.
bool run_batch(const std::vector<Job>& jobs, const ConversionSettings& settings, const BatchSettings& batch);

}  // namespace qlxcmd
