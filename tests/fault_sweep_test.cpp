// Every system call and every allocation of a run, failed in turn: the test
// copies of both programs take the failure from the environment (see
// system/fault_injection.hpp). Each run must end with its program's failure
// status and one of its one-line messages, or succeed with the right bytes
// where the failure does not matter (closing the input); it must never
// crash, create or change the output, or leave its temporary file behind.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <set>
#include <string>

#include "messages.hpp"
#include "test_support.hpp"

namespace qlx {
namespace {

namespace fs = std::filesystem;
namespace msg = cli::messages;
using test::Bytes;
using test::read_file;
using test::run_program;
using test::RunResult;
using test::TempDir;
using test::write_file;

struct Program {
    std::string path;
    int success, failure;
    std::set<std::string> messages;  // what a failed run may say
};

const Program palquant{PALQUANT_FAULTS_PATH,
                       1,
                       0,
                       {msg::bmp_not_opened, msg::bmp_not_read, msg::qlx_not_opened, msg::qlx_not_written,
                        std::string(qlx_status_text(QLX_BMP_TOO_LARGE)) + "\n"}};
const Program palexpand{
    PALEXPAND_FAULTS_PATH, 0, 1, {msg::qlx_not_opened, msg::qlx_not_read, msg::bmp_not_opened, msg::bmp_not_written}};

struct FaultCounts {
    unsigned long long system_calls = 0, allocations = 0;
};

// The output's permission bits and owner, which a run that succeeds despite
// a fault must leave as a run without one does.
struct Ownership {
    unsigned mode = 0;
    unsigned uid = 0, gid = 0;
    bool operator==(const Ownership&) const = default;
};

Ownership ownership_of(const fs::path& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) return {};
    return {static_cast<unsigned>(info.st_mode & 07777), info.st_uid, info.st_gid};
}

// The programs move pictures in batches of about this many bytes.
constexpr unsigned long long batch_bytes = 1ull << 21;

unsigned long long batches(unsigned long long row_bytes, unsigned long long rows) {
    const unsigned long long rows_a_batch = std::max(1ull, batch_bytes / row_bytes);
    return (rows + rows_a_batch - 1) / rows_a_batch;
}

// Sets an environment variable for the runs in its lifetime.
class ScopedVariable {
public:
    ScopedVariable(const char* name, const std::string& value) : name_(name) { ::setenv(name, value.c_str(), 1); }
    ~ScopedVariable() { ::unsetenv(name_); }
    ScopedVariable(const ScopedVariable&) = delete;
    ScopedVariable& operator=(const ScopedVariable&) = delete;

private:
    const char* name_;
};

// One conversion to sweep: the program, its input, and an output that exists
// beforehand or not.
struct Case {
    const Program& program;
    std::string name;
    Bytes input;
    std::vector<std::string> options;
    bool output_exists;
    // The fewest fault points the conversion can have, worked out from the
    // picture, not asked of the program: opening, a read and a write a
    // batch, creating, closing and renaming the output; a buffer each way.
    FaultCounts at_least;
};

class FaultSweep : public ::testing::Test {
protected:
    TempDir dir;
    const fs::path input = dir / "input";
    const fs::path output = dir / "output";
    const Bytes previous_output = Bytes(100, 0x5A);

    RunResult run(const Case& c) {
        std::vector<std::string> arguments = c.options;
        arguments.push_back(input.string());
        arguments.push_back(output.string());
        return run_program(c.program.path, arguments);
    }

    // A directory of the input alone, and the output if the case has one.
    void prepare(const Case& c) {
        for (const auto& entry : fs::directory_iterator(dir.path())) fs::remove_all(entry.path());
        write_file(input, c.input);
        if (c.output_exists) write_file(output, previous_output);
    }

    // The files the directory holds: the input and the output at most.
    std::set<std::string> entries() const {
        std::set<std::string> names;
        for (const auto& entry : fs::directory_iterator(dir.path())) names.insert(entry.path().filename().string());
        return names;
    }

    // The fault points of a run that fails nothing, and the bytes it writes.
    FaultCounts count(const Case& c, Bytes& expected, Ownership& owned) {
        prepare(c);
        const fs::path counts_file = dir.path().parent_path() / (dir.path().filename().string() + ".counts");
        FaultCounts counts;
        {
            const ScopedVariable report("PAL_FAULT_COUNTS", counts_file.string());
            const RunResult result = run(c);
            EXPECT_EQ(result.status, c.program.success) << c.name << ": " << result.out << result.err;
        }
        expected = read_file(output);
        owned = ownership_of(output);
        std::ifstream(counts_file) >> counts.system_calls >> counts.allocations;
        fs::remove(counts_file);
        return counts;
    }

    // Fails fault point `n` of kind `variable` and checks what the run left.
    void sweep_one(const Case& c, const char* variable, unsigned long long n, const Bytes& expected,
                   const Ownership& owned) {
        prepare(c);
        const ScopedVariable fail(variable, std::to_string(n));
        const RunResult result = run(c);
        const std::string said = result.out + result.err;
        const std::string where = c.name + ", " + variable + "=" + std::to_string(n) + ": ";
        ASSERT_NE(result.status, -1) << where << "did not exit normally";
        const std::set<std::string> left = entries();
        if (result.status == c.program.success) {
            // The failure did not matter: the output is whole and right.
            EXPECT_EQ(said, "") << where;
            EXPECT_EQ(read_file(output), expected) << where;
            EXPECT_TRUE(ownership_of(output) == owned) << where << "left the output with another mode or owner";
        } else {
            EXPECT_EQ(result.status, c.program.failure) << where << said;
            EXPECT_TRUE(c.program.messages.contains(said)) << where << "said \"" << said << "\"";
            said_by_sweep.insert(said);
            if (c.output_exists) {
                EXPECT_EQ(read_file(output), previous_output) << where << "changed the output";
            } else {
                EXPECT_FALSE(left.contains("output")) << where << "created the output";
            }
        }
        const std::set<std::string> expected_entries = c.output_exists || result.status == c.program.success
                                                           ? std::set<std::string>{"input", "output"}
                                                           : std::set<std::string>{"input"};
        EXPECT_EQ(left, expected_entries) << where << "left a temporary file";
    }

    void expect_no_point_beyond(const Case& c, const char* variable, unsigned long long count, const Bytes& expected,
                                const Ownership& owned) {
        prepare(c);
        const ScopedVariable fail(variable, std::to_string(count + 1));
        const RunResult result = run(c);
        EXPECT_EQ(result.status, c.program.success)
            << c.name << ": failing " << variable << "=" << count + 1 << ", past the count, failed the run";
        EXPECT_EQ(read_file(output), expected) << c.name;
        EXPECT_TRUE(ownership_of(output) == owned) << c.name;
    }

    // Every message a failed run said, across the sweep.
    std::set<std::string> said_by_sweep;

    void sweep(const std::vector<Case>& cases) {
        FaultCounts swept;
        for (const Case& c : cases) {
            Bytes expected;
            Ownership owned;
            const FaultCounts counts = count(c, expected, owned);
            // A program that counts fewer points than the conversion has
            // would shrink the sweep without a word.
            ASSERT_GE(counts.system_calls, c.at_least.system_calls) << c.name;
            ASSERT_GE(counts.allocations, c.at_least.allocations) << c.name;
            // And no more than it says: failing the point after the last one
            // must change nothing.
            expect_no_point_beyond(c, "PAL_FAIL_SYSTEM_CALL", counts.system_calls, expected, owned);
            expect_no_point_beyond(c, "PAL_FAIL_ALLOCATION", counts.allocations, expected, owned);
            for (unsigned long long n = 1; n <= counts.system_calls; ++n) {
                sweep_one(c, "PAL_FAIL_SYSTEM_CALL", n, expected, owned);
            }
            for (unsigned long long n = 1; n <= counts.allocations; ++n) {
                sweep_one(c, "PAL_FAIL_ALLOCATION", n, expected, owned);
            }
            swept.system_calls += counts.system_calls;
            swept.allocations += counts.allocations;
        }
        // Every failure the program can report was reached by some fault.
        for (const std::string& message : cases.front().program.messages) {
            EXPECT_TRUE(said_by_sweep.contains(message)) << "no fault made the program say \"" << message << "\"";
        }
        std::cout << "[ swept    ] " << swept.system_calls << " system calls and " << swept.allocations
                  << " allocations, each failed in turn, in " << cases.size() << " conversions\n";
    }
};

// A bottom-up picture of several batches (the last one partial) with padded
// rows, and the sample: one batch.
Bytes several_batches() {
    constexpr int width = 1001, height = 1500;  // rows of 3003 bytes, padded to 3004
    return test::make_bmp({.width = width, .height = height, .pixels = test::gradient_pixels(width, height)});
}

// palquant reads a batch of BMP rows and writes its indices: per batch a read
// and a write; beside them, opening the BMP, reading its headers, creating,
// closing and renaming the output. Its allocations, on one thread: every one
// a run makes, its picture buffers among them, so that a buffer taken
// around the counted allocator (and so never failed) shrinks the count
// below the bound. More threads only add to them.
FaultCounts palquant_points(unsigned long long width, unsigned long long height, unsigned long long allocations) {
    const unsigned long long n = batches((3 * width + 3) / 4 * 4, height);
    return {2 * n + 5, allocations};
}
// The allocations of a run on the sample: without dithering, and with
// Floyd-Steinberg, whose ditherer has its error rows and tables.
constexpr unsigned long long palquant_allocations = 25, palquant_diffusing_allocations = 29;

TEST_F(FaultSweep, PalquantFailsCleanlyAtEveryFaultPoint) {
    const Bytes sample = read_file(PAL_SAMPLE_BMP);
    const Bytes large = several_batches();
    sweep({
        {palquant, "sample", sample, {}, false, palquant_points(320, 200, palquant_allocations)},
        {palquant,
         "sample over an existing output",
         sample,
         {"--dither=floyd-steinberg"},
         true,
         palquant_points(320, 200, palquant_diffusing_allocations)},
        {palquant, "several batches", large, {}, false, palquant_points(1001, 1500, palquant_allocations)},
        {palquant,
         "several batches, ordered, over an existing output",
         large,
         {"--dither=ordered"},
         true,
         palquant_points(1001, 1500, palquant_allocations)},
    });
}

TEST_F(FaultSweep, PalexpandFailsCleanlyAtEveryFaultPoint) {
    const Bytes standard = read_file(test::data_path("sunset.qlx"));
    Bytes large(1000 * 1000);
    for (std::size_t i = 0; i < large.size(); ++i) large[i] = static_cast<std::uint8_t>(i * 7 + i / 1000);
    // palexpand reads the indices, then writes a batch of BMP rows at a time;
    // it allocates, besides what every run does, its picture buffers (the
    // indices read, a batch of rows), all through the counted allocator.
    const auto points = [](unsigned long long width, unsigned long long height) {
        constexpr unsigned long long allocations = 22;
        return FaultCounts{batches((3 * width + 3) / 4 * 4, height) + 5, allocations};
    };
    sweep({
        {palexpand, "320 x 200", standard, {}, false, points(320, 200)},
        {palexpand, "320 x 200 over an existing output", standard, {}, true, points(320, 200)},
        {palexpand,
         "1000 x 1000, several batches, over an existing output",
         large,
         {"--size=1000x1000"},
         true,
         points(1000, 1000)},
    });
}

}  // namespace
}  // namespace qlx
