// The built programs, run as a user runs them: files in, bytes, texts,
// streams, exit statuses and what is left on disk checked.
#include <gtest/gtest.h>
#ifndef _WIN32
#include <sys/stat.h>
#endif

#include <fstream>
#include <future>

#include "messages.hpp"
#include "test_support.hpp"

namespace pal {
namespace {

namespace fs = std::filesystem;
using test::Bytes;
using test::read_file;
using test::run_program;
using test::write_file;

const std::string palquant = PALQUANT_PATH;
const std::string palexpand = PALEXPAND_PATH;
const fs::path sample = PAL_SAMPLE_BMP;
const fs::path sample_qlx = test::data_path("sunset.qlx");

constexpr int palquant_success = 1;
constexpr int palquant_failure = 0;
constexpr int palexpand_success = 0;
constexpr int palexpand_failure = 1;

class Programs : public ::testing::Test {
protected:
    test::TempDir dir;

    // A file that a failed run must leave exactly as it was.
    fs::path existing_file(const std::string& name) {
        write_file(dir / name, Bytes{'o', 'l', 'd'});
        return dir / name;
    }
    static void expect_unchanged(const fs::path& path) { EXPECT_EQ(read_file(path), (Bytes{'o', 'l', 'd'})); }
    // Nothing but the named files, no temporary left behind.
    void expect_directory_holds(std::size_t count) {
        EXPECT_EQ(static_cast<std::size_t>(std::distance(fs::directory_iterator(dir.path()), {})), count);
    }
};

TEST_F(Programs, UsageTextsAndStatuses) {
    for (const auto& arguments : {std::vector<std::string>{}, std::vector<std::string>{"a.bmp"}}) {
        const auto quant = run_program(palquant, arguments);
        EXPECT_EQ(quant.status, palquant_failure);
        EXPECT_EQ(quant.out, messages::palquant_usage);
        EXPECT_EQ(quant.out.back(), '\a');
        EXPECT_EQ(quant.err, "");
        const auto expand = run_program(palexpand, arguments);
        EXPECT_EQ(expand.status, palexpand_failure);
        EXPECT_EQ(expand.out, "Usage: palexpand <>.qlx <>.bmp \n\a");
    }
}

TEST_F(Programs, SampleRoundTripIsByteExact) {
    const auto quant = run_program(palquant, {sample.string(), (dir / "s.qlx").string(), "ignored", "extra"});
    EXPECT_EQ(quant.status, palquant_success);
    EXPECT_EQ(quant.out + quant.err, "");
    EXPECT_EQ(read_file(dir / "s.qlx"), read_file(sample_qlx));

    const auto expand = run_program(palexpand, {(dir / "s.qlx").string(), (dir / "s.bmp").string(), "ignored"});
    EXPECT_EQ(expand.status, palexpand_success);
    EXPECT_EQ(expand.out + expand.err, "");
    const Bytes bmp = read_file(dir / "s.bmp");
    ASSERT_EQ(bmp.size(), 192054u);

    // Quantising the expansion changes nothing: its colours are palette colours.
    EXPECT_EQ(run_program(palquant, {(dir / "s.bmp").string(), (dir / "again.qlx").string()}).status, 1);
    EXPECT_EQ(read_file(dir / "again.qlx"), read_file(sample_qlx));
    expect_directory_holds(3);
}

// What only POSIX systems have: FIFOs, symbolic links for anyone, address
// space limits, /dev/full.
#ifdef _WIN32
#define SKIP_WITHOUT_POSIX(why) GTEST_SKIP() << "POSIX only: " << why
#else
#define SKIP_WITHOUT_POSIX(why) static_cast<void>(why)
#endif

TEST_F(Programs, PalquantReadsAPipe) {
    SKIP_WITHOUT_POSIX("named pipes (FIFOs)");
#ifndef _WIN32
    const fs::path fifo = dir / "in.bmp";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    auto writer = std::async(std::launch::async, [&] { write_file(fifo, read_file(sample)); });
    EXPECT_EQ(run_program(palquant, {fifo.string(), (dir / "out.qlx").string()}).status, palquant_success);
    writer.get();
    EXPECT_EQ(read_file(dir / "out.qlx"), read_file(sample_qlx));
#endif
}

TEST_F(Programs, PalquantConvertsWhatTheHeaderAllows) {
    Bytes unsigned_file = read_file(sample);
    unsigned_file[0] = 'X';
    unsigned_file[1] = 'Y';
    write_file(dir / "nosig.bmp", unsigned_file);
    EXPECT_EQ(run_program(palquant, {(dir / "nosig.bmp").string(), (dir / "nosig.qlx").string()}).status, 1);
    EXPECT_EQ(read_file(dir / "nosig.qlx"), read_file(sample_qlx));

    write_file(dir / "empty.bmp", test::make_bmp({.width = 0, .height = 5}));
    EXPECT_EQ(run_program(palquant, {(dir / "empty.bmp").string(), (dir / "empty.qlx").string()}).status, 1);
    EXPECT_TRUE(fs::exists(dir / "empty.qlx"));
    EXPECT_EQ(fs::file_size(dir / "empty.qlx"), 0u);
}

TEST_F(Programs, PalquantRefusalsNameTheProblemAndLeaveTheOutputAlone) {
    const fs::path out = existing_file("out.qlx");
    Bytes lowest_height = test::make_bmp({.width = 2, .height = 2});
    test::put_le32(lowest_height, 22, 0x80000000u);
    Bytes past_end = test::make_bmp({.width = 2, .height = 2});
    test::put_le32(past_end, 10, 4096);
    const Bytes cut_headers(lowest_height.begin(), lowest_height.begin() + 40);
    Bytes cut_short = read_file(sample);
    cut_short.pop_back();
    const std::pair<Bytes, std::string> cases[] = {
        {cut_headers, messages::bmp_headers_cut_short},
        {test::make_bmp({.width = -2, .height = 2}), messages::bmp_negative_width},
        {lowest_height, messages::bmp_height_out_of_range},
        {test::make_bmp({.width = 2, .height = 2, .compression = 4}), messages::bmp_compressed},
        {past_end, messages::bmp_pixel_offset_out_of_range},
        {cut_short, messages::bmp_pixel_data_cut_short},
        {read_file(test::data_path("bmpsuite/b/reallybig.bmp")), messages::bmp_pixel_data_cut_short},
    };
    for (const auto& [file, message] : cases) {
        write_file(dir / "in.bmp", file);
        const auto run = run_program(palquant, {(dir / "in.bmp").string(), out.string()});
        EXPECT_EQ(run.status, palquant_failure) << message;
        EXPECT_EQ(run.out, message);
        EXPECT_EQ(run.err, "");
        expect_unchanged(out);
    }
    expect_directory_holds(2);
}

TEST_F(Programs, PalquantReportsUnreadableInputs) {
    const auto missing = run_program(palquant, {(dir / "none.bmp").string(), (dir / "o.qlx").string()});
    EXPECT_EQ(missing.status, palquant_failure);
    EXPECT_EQ(missing.out, "bmpfile was not opened\n");

    const auto directory = run_program(palquant, {dir.path().string(), (dir / "o.qlx").string()});
    EXPECT_EQ(directory.status, palquant_failure);
    EXPECT_EQ(directory.out, messages::bmp_not_read);

    const auto eight_bit =
        run_program(palquant, {test::data_path("bmpsuite/g/pal8.bmp").string(), (dir / "o.qlx").string()});
    EXPECT_EQ(eight_bit.status, palquant_failure);
    EXPECT_EQ(eight_bit.out, "");
    EXPECT_EQ(eight_bit.err, "the file is not 24bit bmp \n");
    expect_directory_holds(0);
}

TEST_F(Programs, PalquantReportsAPictureTooLargeForMemory) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "AddressSanitizer cannot run under an address-space limit";
#endif
    SKIP_WITHOUT_POSIX("an address-space limit set with ulimit");
    // One row of 4 million pixels: its 12 MB of pixels and 4 MB of indices
    // cannot fit in 16 MB of address space beside the program itself.
    write_file(dir / "big.bmp", test::make_bmp({.width = 4'000'000, .height = 1}));
    const fs::path out = existing_file("out.qlx");
    const auto run = run_program("/bin/sh", {"-c", "ulimit -v 16000; exec \"$0\" \"$1\" \"$2\"", palquant,
                                             (dir / "big.bmp").string(), out.string()});
    EXPECT_EQ(run.status, palquant_failure);
    EXPECT_EQ(run.out, messages::bmp_too_large);
    expect_unchanged(out);
}

TEST_F(Programs, PalquantOutputFailures) {
    const auto no_directory = run_program(palquant, {sample.string(), (dir / "missing" / "o.qlx").string()});
    EXPECT_EQ(no_directory.status, palquant_failure);
    EXPECT_EQ(no_directory.out, "qlxfile was not opened\n");

    fs::create_directory(dir / "taken");
    const auto directory = run_program(palquant, {sample.string(), (dir / "taken").string()});
    EXPECT_EQ(directory.out, "qlxfile was not opened\n");
    EXPECT_TRUE(fs::is_directory(dir / "taken"));

    EXPECT_EQ(run_program(palquant, {sample.string(), ""}).out, "qlxfile was not opened\n");
    expect_directory_holds(1);
}

TEST_F(Programs, WritesToAFullDeviceAreReported) {
    SKIP_WITHOUT_POSIX("/dev/full");
    const auto quant = run_program(palquant, {sample.string(), "/dev/full"});
    EXPECT_EQ(quant.status, palquant_failure);
    EXPECT_EQ(quant.out, messages::qlx_not_written);

    write_file(dir / "in.qlx", Bytes(64000, 3));
    const auto expand = run_program(palexpand, {(dir / "in.qlx").string(), "/dev/full"});
    EXPECT_EQ(expand.status, palexpand_failure);
    EXPECT_EQ(expand.out, messages::bmp_not_written);
}

TEST_F(Programs, PalexpandRefusalsLeaveNoBmp) {
    const auto missing = run_program(palexpand, {(dir / "none.qlx").string(), (dir / "o.bmp").string()});
    EXPECT_EQ(missing.status, palexpand_failure);
    EXPECT_EQ(missing.out, "qlxfile was not opened\n");
    EXPECT_FALSE(fs::exists(dir / "o.bmp"));

    write_file(dir / "in.qlx", Bytes(64000, 3));
    const auto no_directory = run_program(palexpand, {(dir / "in.qlx").string(), (dir / "no" / "o.bmp").string()});
    EXPECT_EQ(no_directory.status, palexpand_failure);
    EXPECT_EQ(no_directory.out, "bmpfile was not opened\n");

    const fs::path out = existing_file("out.bmp");
    write_file(dir / "short.qlx", Bytes(63999, 3));
    const auto short_input = run_program(palexpand, {(dir / "short.qlx").string(), out.string()});
    EXPECT_EQ(short_input.status, palexpand_failure);
    EXPECT_EQ(short_input.out, messages::qlx_too_short);
    expect_unchanged(out);
    expect_directory_holds(3);
}

TEST_F(Programs, PalexpandUsesOnlyTheFirst64000Bytes) {
    Bytes qlx = read_file(sample_qlx);
    write_file(dir / "exact.qlx", qlx);
    qlx.insert(qlx.end(), 500, 9);
    write_file(dir / "long.qlx", qlx);
    EXPECT_EQ(run_program(palexpand, {(dir / "exact.qlx").string(), (dir / "a.bmp").string()}).status, 0);
    EXPECT_EQ(run_program(palexpand, {(dir / "long.qlx").string(), (dir / "b.bmp").string()}).status, 0);
    EXPECT_EQ(read_file(dir / "a.bmp"), read_file(dir / "b.bmp"));
}

TEST_F(Programs, OverwrittenFilesKeepModeAndLinks) {
    SKIP_WITHOUT_POSIX("symbolic links need a privilege on Windows, and modes are attributes there");
    const fs::path target = existing_file("target.qlx");
    fs::permissions(target, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    fs::create_symlink("target.qlx", dir / "link.qlx");

    EXPECT_EQ(run_program(palquant, {sample.string(), (dir / "link.qlx").string()}).status, palquant_success);
    EXPECT_TRUE(fs::is_symlink(dir / "link.qlx"));
    EXPECT_EQ(read_file(target), read_file(sample_qlx));
    EXPECT_EQ(fs::status(target).permissions(), fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    expect_directory_holds(2);

    // A dangling link gets its target created.
    fs::create_symlink("made.bmp", dir / "dangling.bmp");
    EXPECT_EQ(run_program(palexpand, {sample_qlx.string(), (dir / "dangling.bmp").string()}).status, 0);
    EXPECT_TRUE(fs::is_symlink(dir / "dangling.bmp"));
    EXPECT_EQ(fs::file_size(dir / "made.bmp"), 192054u);
}

TEST_F(Programs, SpecialFilesAreWrittenInPlace) {
    SKIP_WITHOUT_POSIX("/dev/null, /dev/stdout and FIFOs");
#ifndef _WIN32
    EXPECT_EQ(run_program(palexpand, {sample_qlx.string(), "/dev/null"}).status, palexpand_success);
    EXPECT_TRUE(fs::is_character_file("/dev/null"));

    // Standard output, here captured in a file, is a descriptor named through /proc.
    const auto to_stdout = run_program(palquant, {sample.string(), "/dev/stdout"});
    EXPECT_EQ(to_stdout.status, palquant_success);
    const Bytes expected = read_file(sample_qlx);
    EXPECT_EQ(to_stdout.out, std::string(expected.begin(), expected.end()));

    const fs::path fifo = dir / "pipe.qlx";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    auto reader = std::async(std::launch::async, [&] { return read_file(fifo); });
    EXPECT_EQ(run_program(palquant, {sample.string(), fifo.string()}).status, palquant_success);
    EXPECT_EQ(reader.get(), read_file(sample_qlx));
    EXPECT_TRUE(fs::is_fifo(fifo));
    expect_directory_holds(1);
#endif
}

TEST_F(Programs, AnExistingOutputIsReplaced) {
    const fs::path qlx = existing_file("out.qlx");
    const fs::path bmp = existing_file("out.bmp");
    EXPECT_EQ(run_program(palquant, {sample.string(), qlx.string()}).status, palquant_success);
    EXPECT_EQ(read_file(qlx), read_file(sample_qlx));
    EXPECT_EQ(run_program(palexpand, {qlx.string(), bmp.string()}).status, palexpand_success);
    EXPECT_EQ(fs::file_size(bmp), 192054u);
    expect_directory_holds(2);
}

// The output replaces the input only after every byte of it was read.
TEST_F(Programs, TheSameFileCanBeInputAndOutput) {
    fs::copy_file(sample, dir / "same.bmp");
    const auto quant = run_program(palquant, {(dir / "same.bmp").string(), (dir / "same.bmp").string()});
    EXPECT_EQ(quant.status, palquant_success);
    EXPECT_EQ(quant.out + quant.err, "");
    EXPECT_EQ(read_file(dir / "same.bmp"), read_file(sample_qlx));

    fs::copy_file(sample_qlx, dir / "same.qlx");
    fs::copy_file(sample_qlx, dir / "expected.qlx");
    EXPECT_EQ(run_program(palexpand, {(dir / "expected.qlx").string(), (dir / "expected.bmp").string()}).status, 0);
    const auto expand = run_program(palexpand, {(dir / "same.qlx").string(), (dir / "same.qlx").string()});
    EXPECT_EQ(expand.status, palexpand_success);
    EXPECT_EQ(expand.out + expand.err, "");
    EXPECT_EQ(read_file(dir / "same.qlx"), read_file(dir / "expected.bmp"));
    expect_directory_holds(4);
}

TEST_F(Programs, NamesOutsideAsciiReachTheFileSystemUnchanged) {
    const fs::path bmp = dir.path() / fs::path(u8"naïve 日本.bmp");
    const fs::path qlx = dir.path() / fs::path(u8"naïve 日本.qlx");
    const fs::path back = dir.path() / fs::path(u8"日本 naïve.bmp");
    fs::copy_file(sample, bmp);
    EXPECT_EQ(run_program(palquant, {test::utf8(bmp), test::utf8(qlx)}).status, palquant_success);
    EXPECT_EQ(read_file(qlx), read_file(sample_qlx));
    EXPECT_EQ(run_program(palexpand, {test::utf8(qlx), test::utf8(back)}).status, palexpand_success);
    EXPECT_EQ(fs::file_size(back), 192054u);
    expect_directory_holds(3);
}

// Windows keeps a read-only attribute even for administrators, so this is
// the one system where a file the user may not write can be tested as root.
TEST_F(Programs, AReadOnlyOutputIsLeftAlone) {
#ifndef _WIN32
    GTEST_SKIP() << "Windows only: root may write read-only files on POSIX";
#endif
    const fs::path qlx = existing_file("locked.qlx");
    const fs::path bmp = existing_file("locked.bmp");
    for (const fs::path& file : {qlx, bmp}) fs::permissions(file, fs::perms::owner_write, fs::perm_options::remove);

    const auto quant = run_program(palquant, {sample.string(), qlx.string()});
    EXPECT_EQ(quant.status, palquant_failure);
    EXPECT_EQ(quant.out, messages::qlx_not_opened);
    expect_unchanged(qlx);
    const auto expand = run_program(palexpand, {sample_qlx.string(), bmp.string()});
    EXPECT_EQ(expand.status, palexpand_failure);
    EXPECT_EQ(expand.out, messages::bmp_not_opened);
    expect_unchanged(bmp);
    expect_directory_holds(2);
    for (const fs::path& file : {qlx, bmp}) fs::permissions(file, fs::perms::owner_write, fs::perm_options::add);
}

// NUL, CON and the other reserved names are devices in every directory.
TEST_F(Programs, TheNullDeviceIsWrittenInPlace) {
#ifndef _WIN32
    GTEST_SKIP() << "Windows only: /dev/null is tested with the other special files";
#endif
    EXPECT_EQ(run_program(palexpand, {sample_qlx.string(), "NUL"}).status, palexpand_success);
    EXPECT_EQ(run_program(palquant, {sample.string(), "nul.qlx"}).status, palquant_success);
    EXPECT_EQ(run_program(palquant, {sample.string(), (dir / "NUL").string()}).status, palquant_success);
    expect_directory_holds(0);
}

// Inputs that once misbehaved; each file in tests/data/regressions has its test.
TEST_F(Programs, RegressionZeroWidthWithTwoBillionRowsEndsAtOnce) {
    // It passed every check and then looped over 2^31 empty rows.
    const auto run = run_program(
        palquant, {test::data_path("regressions/zero-width-two-billion-rows.bmp").string(), (dir / "o.qlx").string()});
    EXPECT_EQ(run.status, palquant_success);
    EXPECT_EQ(fs::file_size(dir / "o.qlx"), 0u);
}

// No file of the public BMP suite may crash either program, and a refused
// file never leaves an output behind.
TEST_F(Programs, NoSuiteFileCrashesEitherProgram) {
    int converted = 0;
    for (const auto& entry : fs::recursive_directory_iterator(test::data_path("bmpsuite"))) {
        if (entry.path().extension() != ".bmp") continue;
        const fs::path out = dir / "out";
        const auto quant = run_program(palquant, {entry.path().string(), out.string()});
        ASSERT_TRUE(quant.status == palquant_success || quant.status == palquant_failure) << entry.path();
        EXPECT_EQ(fs::exists(out), quant.status == palquant_success) << entry.path();
        converted += quant.status == palquant_success;
        fs::remove(out);
        const auto expand = run_program(palexpand, {entry.path().string(), out.string()});
        ASSERT_TRUE(expand.status == palexpand_success || expand.status == palexpand_failure) << entry.path();
        fs::remove(out);
    }
    EXPECT_EQ(converted, 6);  // the six plainly stored 24-bit files
}

}  // namespace
}  // namespace pal
