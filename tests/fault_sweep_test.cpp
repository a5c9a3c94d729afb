// Every system call and every allocation of a run, failed in turn: the test
// copies of both programs take the failure from the environment (see
// system/fault_injection.hpp). Each run must end with its program's failure
// status and one of its one-line messages, or succeed with the right bytes
// where the failure does not matter (closing the input); it must never
// crash, create or change the output, or leave its temporary file behind.
#include <gtest/gtest.h>

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
namespace msg = pal::messages;
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

const Program palquant{PALQUANT_FAULTS_PATH, 1, 0,
                       {msg::bmp_not_opened, msg::bmp_not_read, msg::qlx_not_opened, msg::qlx_not_written,
                        std::string(qlx_status_text(QLX_BMP_TOO_LARGE)) + "\n"}};
const Program palexpand{PALEXPAND_FAULTS_PATH, 0, 1,
                        {msg::qlx_not_opened, msg::qlx_not_read, msg::bmp_not_opened, msg::bmp_not_written}};

struct FaultCounts {
    unsigned long long system_calls = 0, allocations = 0;
};

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
    FaultCounts count(const Case& c, Bytes& expected) {
        prepare(c);
        const fs::path counts_file = dir.path().parent_path() / (dir.path().filename().string() + ".counts");
        FaultCounts counts;
        {
            const ScopedVariable report("PAL_FAULT_COUNTS", counts_file.string());
            const RunResult result = run(c);
            EXPECT_EQ(result.status, c.program.success) << c.name << ": " << result.out << result.err;
        }
        expected = read_file(output);
        std::ifstream(counts_file) >> counts.system_calls >> counts.allocations;
        fs::remove(counts_file);
        return counts;
    }

    // Fails fault point `n` of kind `variable` and checks what the run left.
    void sweep_one(const Case& c, const char* variable, unsigned long long n, const Bytes& expected) {
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
        } else {
            EXPECT_EQ(result.status, c.program.failure) << where << said;
            EXPECT_TRUE(c.program.messages.contains(said)) << where << "said \"" << said << "\"";
            if (c.output_exists) {
                EXPECT_EQ(read_file(output), previous_output) << where << "changed the output";
            } else {
                EXPECT_FALSE(left.contains("output")) << where << "created the output";
            }
        }
        const std::set<std::string> expected_entries =
            c.output_exists || result.status == c.program.success ? std::set<std::string>{"input", "output"}
                                                                  : std::set<std::string>{"input"};
        EXPECT_EQ(left, expected_entries) << where << "left a temporary file";
    }

    void sweep(const std::vector<Case>& cases) {
        FaultCounts swept;
        for (const Case& c : cases) {
            Bytes expected;
            const FaultCounts counts = count(c, expected);
            ASSERT_GT(counts.system_calls, 0u) << c.name;
            ASSERT_GT(counts.allocations, 0u) << c.name;
            for (unsigned long long n = 1; n <= counts.system_calls; ++n) {
                sweep_one(c, "PAL_FAIL_SYSTEM_CALL", n, expected);
            }
            for (unsigned long long n = 1; n <= counts.allocations; ++n) {
                sweep_one(c, "PAL_FAIL_ALLOCATION", n, expected);
            }
            swept.system_calls += counts.system_calls;
            swept.allocations += counts.allocations;
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

TEST_F(FaultSweep, PalquantFailsCleanlyAtEveryFaultPoint) {
    const Bytes sample = read_file(PAL_SAMPLE_BMP);
    const Bytes large = several_batches();
    sweep({
        {palquant, "sample", sample, {}, false},
        {palquant, "sample over an existing output", sample, {"--dither=floyd-steinberg"}, true},
        {palquant, "several batches", large, {}, false},
        {palquant, "several batches, ordered, over an existing output", large, {"--dither=ordered"}, true},
    });
}

TEST_F(FaultSweep, PalexpandFailsCleanlyAtEveryFaultPoint) {
    const Bytes standard = read_file(test::data_path("sunset.qlx"));
    Bytes large(1000 * 1000);
    for (std::size_t i = 0; i < large.size(); ++i) large[i] = static_cast<std::uint8_t>(i * 7 + i / 1000);
    sweep({
        {palexpand, "320 x 200", standard, {}, false},
        {palexpand, "320 x 200 over an existing output", standard, {}, true},
        {palexpand, "1000 x 1000, several batches, over an existing output", large, {"--size=1000x1000"}, true},
    });
}

}  // namespace
}  // namespace qlx
