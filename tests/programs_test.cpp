// The built programs, run as a user runs them: files in, bytes, texts,
// streams, exit statuses and what is left on disk checked. Every message is
// written out here byte for byte, as users' scripts match on it.
#include <gtest/gtest.h>
#ifndef _WIN32
#include <sys/stat.h>
#endif

#include <array>
#include <fstream>
#include <future>

#include "qlx.h"
#include "test_support.hpp"

namespace qlx {
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

// The palette as documented (red, green, blue as six hex digits), written
// out again here so that a mistyped entry in the program cannot pass.
constexpr std::array<std::uint32_t, 256> documented_palette = {
    0x000000, 0x00009B, 0x172FAB, 0x3763BB, 0x5B93CB, 0x83BFDB, 0xB3E3EB, 0xE7FFFF,  // 0-7
    0xB70000, 0xBF1717, 0xCB3333, 0xD35353, 0xDF7777, 0xE79B9B, 0xF3C3C3, 0xFFEFEF,  // 8-15
    0x003723, 0x07533B, 0x176F53, 0x2F8B73, 0x4FA78F, 0x73C3B3, 0x9FDFD3, 0xD3FFF7,  // 16-23
    0xFF4B00, 0xFF771F, 0xFF9F3F, 0xFFBF63, 0xFFDB83, 0xFFEBA7, 0xFFF7C7, 0xFFFFEB,  // 24-31
    0x672B00, 0x7B3B0B, 0x8F4F23, 0xA7673B, 0xBB835B, 0xD39F7F, 0xE7BFA7, 0xFFE7D7,  // 32-39
    0x7F004B, 0x8F135B, 0xA32B73, 0xB34B8B, 0xC76FA3, 0xD79BBF, 0xEBCBDF, 0xFFFFFF,  // 40-47
    0x0B2373, 0x1B3387, 0x2F479B, 0x4B63AF, 0x677FC3, 0x8B9FD7, 0xB3BFEB, 0xDFE7FF,  // 48-55
    0x337F23, 0x438F1F, 0x53A31F, 0x6BB31B, 0x87C717, 0xABD70F, 0xCFEB07, 0xFFFF00,  // 56-63
    0xC30000, 0xAF1700, 0xBB3300, 0xC75300, 0xD77B00, 0xE3A300, 0xEFCF00, 0xFFFF00,  // 64-71
    0x4B4B33, 0x636347, 0x7B7B5B, 0x979773, 0xAFAF8B, 0xCBCBA3, 0xE3E3BF, 0xFFFFDB,  // 72-79
    0x000000, 0x434343, 0x636363, 0x7F7F7F, 0x9F9F9F, 0xBBBBBB, 0xDBDBDB, 0xFBFBFB,  // 80-87
    0xA36F57, 0xAF7F63, 0xBB8F6F, 0xC7A37B, 0xD7B78B, 0xE3C79B, 0xEFDBAB, 0xFFEFBB,  // 88-95
    0x00ABCB, 0x17B3CF, 0x33BBD7, 0x4FC7DF, 0x6BCFE3, 0x8BDBEB, 0xAFE7F3, 0xD3F3FB,  // 96-103
    0x00D300, 0x17D717, 0x2FDF2F, 0x4BE34B, 0x67EB67, 0x83EF83, 0xA3F7A3, 0xC3FFC3,  // 104-111
    0x4F4F67, 0x5F5F7B, 0x73738F, 0x8B8BA7, 0x9F9FBB, 0xB7B7D3, 0xCBCBE7, 0xE7E7FF,  // 112-119
    0x8B8300, 0x9B930F, 0xABA323, 0xBBB33B, 0xCBC353, 0xDBD773, 0xEBE793, 0xFFFBBB,  // 120-127
    0x375757, 0x3B6F6F, 0x3B8787, 0x3B9F9F, 0x33B7B7, 0x27CFCF, 0x17E7E7, 0x07FFFF,  // 128-135
    0x000000, 0x00001B, 0x000037, 0x00004F, 0x00006B, 0x000087, 0x0000A3, 0x0000BF,  // 136-143
    0x000000, 0x1B0000, 0x370000, 0x4F0000, 0x6B0000, 0x870000, 0xA30000, 0xBF0000,  // 144-151
    0x000000, 0x1B001B, 0x370037, 0x4F004F, 0x6B006B, 0x870087, 0xA300A3, 0xBF00BF,  // 152-159
    0x000000, 0x001B00, 0x003700, 0x004F00, 0x006B00, 0x008700, 0x00A300, 0x00BF00,  // 160-167
    0x000000, 0x001B1B, 0x003737, 0x004F4F, 0x006B6B, 0x008787, 0x00A3A3, 0x00BFBF,  // 168-175
    0x000000, 0x1B1B00, 0x373700, 0x4F4F00, 0x6B6B00, 0x878700, 0xA3A300, 0xBFBF00,  // 176-183
    0x000000, 0x1B1B1B, 0x373737, 0x4F4F4F, 0x6B6B6B, 0x878787, 0xA3A3A3, 0xBFBFBF,  // 184-191
    0x000000, 0x000000, 0x000000, 0x000000, 0x000000, 0x000000, 0x000000, 0x000000,  // 192-199
    0x00003F, 0x000057, 0x000073, 0x00008F, 0x0000AB, 0x0000C7, 0x0000E3, 0x0000FF,  // 200-207
    0x3F0000, 0x570000, 0x730000, 0x8F0000, 0xAB0000, 0xC70000, 0xE30000, 0xFF0000,  // 208-215
    0x3F003F, 0x570057, 0x730073, 0x8F008F, 0xAB00AB, 0xC700C7, 0xE300E3, 0xFF00FF,  // 216-223
    0x003F00, 0x005700, 0x007300, 0x008F00, 0x00AB00, 0x00C700, 0x00E300, 0x00FF00,  // 224-231
    0x000000, 0x002323, 0x004747, 0x006B6B, 0x008F8F, 0x00B3B3, 0x00DBDB, 0x00FFFF,  // 232-239
    0x3F3F00, 0x575700, 0x737300, 0x8F8F00, 0xABAB00, 0xC7C700, 0xE3E300, 0xFFFF00,  // 240-247
    0x3F3F3F, 0x575757, 0x737373, 0x8F8F8F, 0xABABAB, 0xC7C7C7, 0xE3E3E3, 0xFFFFFF,  // 248-255
};

// The BMP palexpand must write for the first 64000 bytes of `qlx`, built
// without any of the program's code.
Bytes expected_expansion(const Bytes& qlx) {
    constexpr std::uint8_t headers[54] = {0x42, 0x4D, 0x36, 0xEE, 0x02, 0, 0, 0,    0, 0, 0x36, 0, 0, 0,   0x28,
                                          0,    0,    0,    0x40, 1,    0, 0, 0xC8, 0, 0, 0,    1, 0, 0x18};
    Bytes bmp(std::begin(headers), std::end(headers));
    for (int row = 199; row >= 0; --row) {
        for (int column = 0; column < 320; ++column) {
            const std::uint32_t rgb = documented_palette[qlx[static_cast<std::size_t>(row * 320 + column)]];
            bmp.insert(bmp.end(), {static_cast<std::uint8_t>(rgb), static_cast<std::uint8_t>(rgb >> 8),
                                   static_cast<std::uint8_t>(rgb >> 16)});
        }
    }
    return bmp;
}

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
        EXPECT_EQ(quant.out, "Usage: palquant <>.bmp <>.qlx \n\a");
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

    // Over the 1 MiB first read of a pipe: its buffer must grow keeping every byte.
    const Bytes large = test::make_bmp({.width = 701, .height = 600, .pixels = test::gradient_pixels(701, 600)});
    ASSERT_GT(large.size(), 1u << 20);
    write_file(dir / "large.bmp", large);
    ASSERT_EQ(run_program(palquant, {(dir / "large.bmp").string(), (dir / "from-file.qlx").string()}).status, 1);
    writer = std::async(std::launch::async, [&] { write_file(fifo, large); });
    EXPECT_EQ(run_program(palquant, {fifo.string(), (dir / "from-pipe.qlx").string()}).status, palquant_success);
    writer.get();
    EXPECT_EQ(read_file(dir / "from-pipe.qlx"), read_file(dir / "from-file.qlx"));
#endif
}

TEST_F(Programs, PalquantConvertsWhatTheHeaderAllows) {
    Bytes unsigned_file = read_file(sample);
    unsigned_file[0] = 'X';
    unsigned_file[1] = 'Y';
    write_file(dir / "nosig.bmp", unsigned_file);
    EXPECT_EQ(run_program(palquant, {(dir / "nosig.bmp").string(), (dir / "nosig.qlx").string()}).status, 1);
    EXPECT_EQ(read_file(dir / "nosig.qlx"), read_file(sample_qlx));

    // Writers that stop at the last pixel leave out the last row's padding.
    const Bytes padded = test::make_bmp({.width = 5, .height = 3, .pixels = test::gradient_pixels(5, 3)});
    write_file(dir / "padded.bmp", padded);
    write_file(dir / "unpadded.bmp", Bytes(padded.begin(), padded.end() - 1));
    EXPECT_EQ(run_program(palquant, {(dir / "padded.bmp").string(), (dir / "padded.qlx").string()}).status, 1);
    EXPECT_EQ(run_program(palquant, {(dir / "unpadded.bmp").string(), (dir / "unpadded.qlx").string()}).status, 1);
    EXPECT_EQ(fs::file_size(dir / "unpadded.qlx"), 15u);
    EXPECT_EQ(read_file(dir / "unpadded.qlx"), read_file(dir / "padded.qlx"));

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
    Bytes inside_header = test::make_bmp({.width = 2, .height = 2, .info_size = 64});
    test::put_le32(inside_header, 10, 60);  // 14 + 64 header bytes come first
    // 2^28 rows of 48 bytes end past 2^32, which a 32-bit sum would wrap to 54.
    Bytes huge_claim = test::make_bmp({.width = 16, .height = 1});
    huge_claim.resize(54);
    test::put_le32(huge_claim, 22, 1u << 28);
    const std::pair<Bytes, std::string> cases[] = {
        {cut_headers, "bmpfile headers are cut short\n"},
        {test::make_bmp({.width = -2, .height = 2}), "bmpfile width is negative\n"},
        {lowest_height, "bmpfile height is out of range\n"},
        {test::make_bmp({.width = 2, .height = 2, .compression = 4}), "bmpfile is compressed\n"},
        {past_end, "bmpfile pixel offset is outside the file\n"},
        {cut_short, "bmpfile pixel data is cut short\n"},
        {read_file(test::data_path("bmpsuite/b/reallybig.bmp")), "bmpfile pixel data is cut short\n"},
        {test::make_bmp({.width = 2, .height = 2, .info_size = 16}), "bmpfile information header is too short\n"},
        {inside_header, "bmpfile pixel offset is outside the file\n"},
        {huge_claim, "bmpfile pixel data is cut short\n"},
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
    EXPECT_EQ(directory.out, "bmpfile could not be read\n");

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
    EXPECT_EQ(run.out, "bmpfile is too large for memory\n");
    expect_unchanged(out);
}

// However little memory there is, once a program has started it ends with
// its own status and one of its messages, never by a signal or an escaping
// exception, and a failed run leaves the output alone. The picture is large
// enough for threads and several batches.
TEST_F(Programs, UnderAnyMemoryLimitEachProgramEndsWithItsOwnStatus) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "AddressSanitizer cannot run under an address-space limit";
#endif
    SKIP_WITHOUT_POSIX("an address-space limit set with ulimit");
    write_file(dir / "big.bmp",
               test::make_bmp({.width = 2000, .height = 600, .pixels = test::gradient_pixels(2000, 600)}));
    // Large enough that palexpand, which holds the indices whole, needs more
    // than the lower limits allow.
    write_file(dir / "big.qlx", Bytes(4000 * 3000, 9));
    const fs::path qlx = existing_file("out.qlx");
    const fs::path bmp = existing_file("out.bmp");
    int limits = 0, palquant_refusals = 0, palexpand_refusals = 0;
    for (int limit = 8000; limit <= 24000; limit += 2000) {
        ++limits;
        const std::string ulimit = "ulimit -v " + std::to_string(limit) + "; exec \"$0\" \"$1\" \"$2\" \"$3\"";
        const auto quantised = run_program(
            "/bin/sh", {"-c", ulimit, palquant, "--dither=ordered", (dir / "big.bmp").string(), qlx.string()});
        if (quantised.status != palquant_success) {
            ++palquant_refusals;
            EXPECT_EQ(quantised.status, palquant_failure) << limit;
            EXPECT_EQ(quantised.out, "bmpfile is too large for memory\n") << limit;
            expect_unchanged(qlx);
        }
        const auto expanded = run_program(
            "/bin/sh", {"-c", ulimit, palexpand, "--size=4000x3000", (dir / "big.qlx").string(), bmp.string()});
        if (expanded.status != palexpand_success) {
            ++palexpand_refusals;
            EXPECT_EQ(expanded.status, palexpand_failure) << limit;
            EXPECT_TRUE(expanded.out == "bmpfile was not written\n" || expanded.out == "qlxfile could not be read\n")
                << limit << ": " << expanded.out;
            expect_unchanged(bmp);
        }
    }
    // The limits span both sides of what each program needs: some refuse.
    EXPECT_EQ(limits, 9);
    EXPECT_GT(palquant_refusals, 0);
    EXPECT_LT(palquant_refusals, limits);
    EXPECT_GT(palexpand_refusals, 0);
    EXPECT_LT(palexpand_refusals, limits);
}

// The largest size palexpand takes is 256 MiB of indices; a short file is
// refused for its length before any of that is allocated.
TEST_F(Programs, PalexpandSizesNothingBeyondTheFile) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "AddressSanitizer cannot run under an address-space limit";
#endif
    SKIP_WITHOUT_POSIX("an address-space limit set with ulimit");
    write_file(dir / "tiny.qlx", Bytes(10, 1));
    const auto run =
        run_program("/bin/sh", {"-c", "ulimit -v 64000; exec \"$0\" \"$1\" \"$2\" \"$3\"", palexpand,
                                "--size=16384x16384", (dir / "tiny.qlx").string(), (dir / "o.bmp").string()});
    EXPECT_EQ(run.status, palexpand_failure);
    EXPECT_EQ(run.out, "qlxfile is shorter than 268435456 bytes\n");
    expect_directory_holds(1);
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
    EXPECT_EQ(quant.out, "qlxfile was not written\n");

    write_file(dir / "in.qlx", Bytes(64000, 3));
    const auto expand = run_program(palexpand, {(dir / "in.qlx").string(), "/dev/full"});
    EXPECT_EQ(expand.status, palexpand_failure);
    EXPECT_EQ(expand.out, "bmpfile was not written\n");
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

    fs::create_directory(dir / "folder.qlx");
    const auto directory = run_program(palexpand, {(dir / "folder.qlx").string(), (dir / "o.bmp").string()});
    EXPECT_EQ(directory.status, palexpand_failure);
    EXPECT_EQ(directory.out, "qlxfile could not be read\n");
    EXPECT_FALSE(fs::exists(dir / "o.bmp"));

    const fs::path out = existing_file("out.bmp");
    write_file(dir / "short.qlx", Bytes(63999, 3));
    const auto short_input = run_program(palexpand, {(dir / "short.qlx").string(), out.string()});
    EXPECT_EQ(short_input.status, palexpand_failure);
    EXPECT_EQ(short_input.out, "qlxfile is shorter than 64000 bytes\n");
    expect_unchanged(out);
    expect_directory_holds(4);
}

TEST_F(Programs, PalexpandGivesEveryDocumentedColour) {
    Bytes qlx(64000);
    for (std::size_t i = 0; i < qlx.size(); ++i) qlx[i] = static_cast<std::uint8_t>(i * 7 + i / 320);
    write_file(dir / "all.qlx", qlx);
    EXPECT_EQ(run_program(palexpand, {(dir / "all.qlx").string(), (dir / "all.bmp").string()}).status, 0);
    EXPECT_EQ(read_file(dir / "all.bmp"), expected_expansion(qlx));
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

    // Every link of a chain stays a link.
    const fs::path end = existing_file("end.bmp");
    fs::create_symlink("end.bmp", dir / "middle.bmp");
    fs::create_symlink("middle.bmp", dir / "start.bmp");
    EXPECT_EQ(run_program(palexpand, {sample_qlx.string(), (dir / "start.bmp").string()}).status, 0);
    EXPECT_TRUE(fs::is_symlink(dir / "start.bmp"));
    EXPECT_TRUE(fs::is_symlink(dir / "middle.bmp"));
    EXPECT_EQ(fs::file_size(end), 192054u);
    expect_directory_holds(7);
}

// The special bits too: an overwritten output keeps setuid, setgid and the
// sticky bit as they were, each alone and all together.
TEST_F(Programs, OverwrittenFilesKeepTheirSpecialModeBits) {
    SKIP_WITHOUT_POSIX("setuid, setgid and the sticky bit");
    using fs::perms;
    for (const perms special :
         {perms::set_uid, perms::set_gid, perms::sticky_bit, perms::set_uid | perms::set_gid | perms::sticky_bit}) {
        const perms mode = special | perms::owner_all | perms::group_read | perms::others_read;
        const fs::path qlx_output = existing_file("special.qlx"), bmp_output = existing_file("special.bmp");
        fs::permissions(qlx_output, mode);
        fs::permissions(bmp_output, mode);
        EXPECT_EQ(run_program(palquant, {sample.string(), qlx_output.string()}).status, palquant_success);
        EXPECT_EQ(run_program(palexpand, {sample_qlx.string(), bmp_output.string()}).status, 0);
        EXPECT_EQ(fs::status(qlx_output).permissions(), mode) << static_cast<unsigned>(special);
        EXPECT_EQ(fs::status(bmp_output).permissions(), mode) << static_cast<unsigned>(special);
        EXPECT_EQ(read_file(qlx_output), read_file(sample_qlx));
    }
}

TEST_F(Programs, NewOutputsTakeTheirModeFromTheUmask) {
    SKIP_WITHOUT_POSIX("modes and the umask");
#ifndef _WIN32
    const mode_t previous = ::umask(022);
    EXPECT_EQ(run_program(palquant, {sample.string(), (dir / "shared.qlx").string()}).status, palquant_success);
    ::umask(077);
    EXPECT_EQ(run_program(palexpand, {sample_qlx.string(), (dir / "private.bmp").string()}).status, 0);
    ::umask(previous);
    EXPECT_EQ(fs::status(dir / "shared.qlx").permissions(), static_cast<fs::perms>(0644));
    EXPECT_EQ(fs::status(dir / "private.bmp").permissions(), static_cast<fs::perms>(0600));
#endif
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
    EXPECT_EQ(quant.out, "qlxfile was not opened\n");
    expect_unchanged(qlx);
    const auto expand = run_program(palexpand, {sample_qlx.string(), bmp.string()});
    EXPECT_EQ(expand.status, palexpand_failure);
    EXPECT_EQ(expand.out, "bmpfile was not opened\n");
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

// Options come first, in exact spellings, until "--"; anything else is the
// first file name.
TEST_F(Programs, OptionsAreReadOnlyBeforeTheFileNames) {
    fs::copy_file(sample, dir / "-x.bmp");
    const auto dashed = run_program(palquant, {(dir / "-x.bmp").string(), (dir / "a.qlx").string()});
    EXPECT_EQ(dashed.status, palquant_success);
    EXPECT_EQ(read_file(dir / "a.qlx"), read_file(sample_qlx));

    // After "--" even an option's spelling is a file name.
    fs::copy_file(sample, dir / "--dither=ordered");
    const auto ended = run_program(palquant, {"--dither=floyd-steinberg", "--", (dir / "--dither=ordered").string(),
                                              (dir / "b.qlx").string(), "--dither=none"});
    EXPECT_EQ(ended.status, palquant_success);
    EXPECT_NE(read_file(dir / "b.qlx"), read_file(sample_qlx));  // dithered

    // A misspelt option is the first file name, which does not exist.
    const auto misspelt = run_program(palquant, {"--dithering=ordered", sample.string(), (dir / "c.qlx").string()});
    EXPECT_EQ(misspelt.out, "bmpfile was not opened\n");

    const auto too_few = run_program(palquant, {"--dither=ordered", sample.string()});
    EXPECT_EQ(too_few.status, palquant_failure);
    EXPECT_EQ(too_few.out, "Usage: palquant <>.bmp <>.qlx \n\a");
    const auto only_options = run_program(palexpand, {"--size=10x10", "--"});
    EXPECT_EQ(only_options.status, palexpand_failure);
    EXPECT_EQ(only_options.out, "Usage: palexpand <>.qlx <>.bmp \n\a");
    expect_directory_holds(4);
}

TEST_F(Programs, UnknownOptionValuesAreRefusedNamingTheValidOnes) {
    const std::pair<std::vector<std::string>, std::string> palquant_cases[] = {
        {{"--dither=sparkle"},
         "--dither must be none, floyd-steinberg, ordered, atkinson, sierra-lite, blue-noise, jarvis-judice-ninke, "
         "stucki, burkes, sierra or pattern\n"},
        {{"--dither="},
         "--dither must be none, floyd-steinberg, ordered, atkinson, sierra-lite, blue-noise, jarvis-judice-ninke, "
         "stucki, burkes, sierra or pattern\n"},
        {{"--dither-strength=101"}, "--dither-strength must be a whole number from 0 to 100\n"},
        {{"--dither-strength=-1"}, "--dither-strength must be a whole number from 0 to 100\n"},
        {{"--dither=ordered", "--dither-strength=5%"}, "--dither-strength must be a whole number from 0 to 100\n"},
        {{"--dither-light=sRGB"}, "--dither-light must be srgb or linear\n"},
        {{"--dither=atkinson", "--dither-light="}, "--dither-light must be srgb or linear\n"},
    };
    for (const auto& [options, message] : palquant_cases) {
        std::vector<std::string> arguments = options;
        arguments.insert(arguments.end(), {sample.string(), (dir / "out.qlx").string()});
        const auto run = run_program(palquant, arguments);
        EXPECT_EQ(run.status, palquant_failure) << options.back();
        EXPECT_EQ(run.out, message);
        EXPECT_EQ(run.err, "");
    }
    for (const std::string size : {"abc", "320", "0x200", "320x0", "16385x1", "320x200x1", "x", "320X200"}) {
        const auto run = run_program(palexpand, {"--size=" + size, sample_qlx.string(), (dir / "out.bmp").string()});
        EXPECT_EQ(run.status, palexpand_failure) << size;
        EXPECT_EQ(run.out, "--size must be WIDTHxHEIGHT, each a whole number from 1 to 16384\n") << size;
    }
    expect_directory_holds(0);
}

TEST_F(Programs, HelpAndVersionAlone) {
    const auto help = run_program(palquant, {"--help"});
    EXPECT_EQ(help.status, palquant_success);
    EXPECT_TRUE(help.out.starts_with("Usage: palquant [OPTION]... PICTURE.bmp PICTURE.qlx\n")) << help.out;
    for (const char* text : {"--dither=METHOD", "atkinson", "sierra-lite", "blue-noise", "--dither-light=LIGHT"}) {
        EXPECT_NE(help.out.find(text), std::string::npos) << text;
    }
    const auto version = run_program(palexpand, {"--version"});
    EXPECT_EQ(version.status, palexpand_success);
    EXPECT_EQ(version.out, "palexpand " QLX_VERSION_STRING "\n");
    // With anything else they are file names.
    EXPECT_EQ(run_program(palexpand, {"--help", (dir / "x.bmp").string()}).out, "qlxfile was not opened\n");
}

TEST_F(Programs, DitheredConversionsAreRepeatableAndStrengthZeroIsPlain) {
    for (const std::string method : {"floyd-steinberg", "ordered", "atkinson", "sierra-lite", "blue-noise"}) {
        const std::string option = "--dither=" + method;
        EXPECT_EQ(run_program(palquant, {option, sample.string(), (dir / "1.qlx").string()}).status, 1);
        EXPECT_EQ(run_program(palquant, {option, sample.string(), (dir / "2.qlx").string()}).status, 1);
        EXPECT_EQ(read_file(dir / "1.qlx"), read_file(dir / "2.qlx")) << method;
        EXPECT_NE(read_file(dir / "1.qlx"), read_file(sample_qlx)) << method;
        EXPECT_EQ(
            run_program(palquant, {option, "--dither-strength=0", sample.string(), (dir / "0.qlx").string()}).status,
            1);
        EXPECT_EQ(read_file(dir / "0.qlx"), read_file(sample_qlx)) << method;
    }
    EXPECT_EQ(run_program(palquant, {"--dither=none", sample.string(), (dir / "none.qlx").string()}).status, 1);
    EXPECT_EQ(read_file(dir / "none.qlx"), read_file(sample_qlx));
}

// --dither-light=srgb is the default; linear changes error diffusion alone,
// and gives the library's bytes.
TEST_F(Programs, DitherLightChoosesWhereErrorsAddUp) {
    const Bytes bmp = read_file(sample);
    const auto library = [&](qlx_dither dither, qlx_light light) {
        qlx_options options = qlx_default_options();
        options.dither = dither;
        options.light = light;
        Bytes indices(320 * 200);
        EXPECT_EQ(qlx_from_bmp(bmp.data(), bmp.size(), &options, indices.data(), indices.size()), QLX_OK);
        return indices;
    };
    const auto palquant_with = [&](std::vector<std::string> options) {
        options.insert(options.end(), {sample.string(), (dir / "out.qlx").string()});
        EXPECT_EQ(run_program(palquant, options).status, palquant_success);
        return read_file(dir / "out.qlx");
    };
    EXPECT_EQ(palquant_with({"--dither=atkinson", "--dither-light=srgb"}), palquant_with({"--dither=atkinson"}));
    const Bytes linear = palquant_with({"--dither-light=linear", "--dither=floyd-steinberg"});
    EXPECT_EQ(linear, library(QLX_DITHER_FLOYD_STEINBERG, QLX_LIGHT_LINEAR));
    EXPECT_NE(linear, library(QLX_DITHER_FLOYD_STEINBERG, QLX_LIGHT_SRGB));
    EXPECT_EQ(palquant_with({"--dither=blue-noise", "--dither-light=linear"}),
              library(QLX_DITHER_BLUE_NOISE, QLX_LIGHT_SRGB));
}

// 317 x 203: rows of 951 bytes padded to 952, and a size whose QLX file
// palexpand could not read without being told.
TEST_F(Programs, OtherSizesRoundTripThroughPalexpand) {
    const Bytes pixels = test::gradient_pixels(317, 203);
    write_file(dir / "odd.bmp", test::make_bmp({.width = 317, .height = 203, .pixels = pixels}));
    ASSERT_EQ(run_program(palquant, {(dir / "odd.bmp").string(), (dir / "odd.qlx").string()}).status, 1);
    const Bytes qlx = read_file(dir / "odd.qlx");
    ASSERT_EQ(qlx.size(), 317u * 203u);

    const auto expand =
        run_program(palexpand, {"--size=317x203", (dir / "odd.qlx").string(), (dir / "back.bmp").string()});
    EXPECT_EQ(expand.status, palexpand_success);
    EXPECT_EQ(expand.out, "");
    const Bytes bmp = read_file(dir / "back.bmp");
    ASSERT_EQ(bmp.size(), 54u + 952u * 203u);
    EXPECT_EQ(bmp[2] | bmp[3] << 8 | bmp[4] << 16 | bmp[5] << 24, static_cast<int>(bmp.size()));  // bfSize
    EXPECT_EQ(bmp[18] | bmp[19] << 8, 317);
    EXPECT_EQ(bmp[22] | bmp[23] << 8, 203);
    for (std::size_t row = 0; row < 203; ++row) {
        const std::size_t padding = 54 + row * 952 + 951;
        EXPECT_EQ(bmp[padding], 0) << "row " << row;
        const std::uint32_t rgb = documented_palette[qlx[(202 - row) * 317]];  // bottom row first
        EXPECT_EQ(bmp[54 + row * 952 + 2], static_cast<std::uint8_t>(rgb >> 16)) << "row " << row;
    }
    // Quantising the expansion gives back the indices: they are the first of their colours.
    ASSERT_EQ(run_program(palquant, {(dir / "back.bmp").string(), (dir / "again.qlx").string()}).status, 1);
    EXPECT_EQ(read_file(dir / "again.qlx"), qlx);

    // Longer files are cut to the size; shorter ones refused with the size they lack.
    Bytes longer = qlx;
    longer.push_back(7);
    write_file(dir / "longer.qlx", longer);
    EXPECT_EQ(
        run_program(palexpand, {"--size=317x203", (dir / "longer.qlx").string(), (dir / "l.bmp").string()}).status, 0);
    EXPECT_EQ(read_file(dir / "l.bmp"), bmp);
    const auto short_input =
        run_program(palexpand, {"--size=318x203", (dir / "odd.qlx").string(), (dir / "s.bmp").string()});
    EXPECT_EQ(short_input.status, palexpand_failure);
    EXPECT_EQ(short_input.out, "qlxfile is shorter than 64554 bytes\n");
    EXPECT_FALSE(fs::exists(dir / "s.bmp"));

    EXPECT_EQ(run_program(palexpand, {"--size=320x200", sample_qlx.string(), (dir / "d.bmp").string()}).status, 0);
    EXPECT_EQ(read_file(dir / "d.bmp"), expected_expansion(read_file(sample_qlx)));
}

// palquant reads a picture a batch of rows at a time, and both programs
// write in batches: a picture of several, the last partial, with padded
// rows, in either row order, must give the library's bytes with every method
// (which the unit tests hold to the plain statements), and palexpand's BMP
// must be the palette colours row by row.
TEST_F(Programs, LargePicturesConvertAcrossBatchesWithEveryMethod) {
    constexpr int width = 1021, height = 1050;
    const Bytes pixels = test::gradient_pixels(width, height);
    for (const bool top_down : {false, true}) {
        const Bytes file = test::make_bmp({.width = width, .height = height, .top_down = top_down, .pixels = pixels});
        write_file(dir / "large.bmp", file);
        for (const auto& [method, dither] : {std::pair{"none", QLX_DITHER_NONE},
                                             {"floyd-steinberg", QLX_DITHER_FLOYD_STEINBERG},
                                             {"ordered", QLX_DITHER_ORDERED}}) {
            const auto run = run_program(palquant, {std::string("--dither=") + method, (dir / "large.bmp").string(),
                                                    (dir / "large.qlx").string()});
            ASSERT_EQ(run.status, palquant_success) << method;
            qlx_options options = qlx_default_options();
            options.dither = dither;
            Bytes expected(std::size_t{width} * height);
            ASSERT_EQ(qlx_from_bmp(file.data(), file.size(), &options, expected.data(), expected.size()), QLX_OK);
            EXPECT_TRUE(read_file(dir / "large.qlx") == expected) << method << (top_down ? ", top-down" : "");
        }
    }

    const Bytes qlx = read_file(dir / "large.qlx");
    const auto expand =
        run_program(palexpand, {"--size=1021x1050", (dir / "large.qlx").string(), (dir / "large-back.bmp").string()});
    ASSERT_EQ(expand.status, palexpand_success);
    const Bytes bmp = read_file(dir / "large-back.bmp");
    constexpr std::size_t stride = 3064;  // 3063 bytes of pixels and one of padding
    ASSERT_EQ(bmp.size(), 54 + stride * height);
    bool rows_agree = true;
    for (std::size_t row = 0; row < height && rows_agree; ++row) {
        const std::uint8_t* stored = bmp.data() + 54 + (height - 1 - row) * stride;
        for (std::size_t column = 0; column < width; ++column) {
            const std::uint32_t rgb = documented_palette[qlx[row * width + column]];
            rows_agree = rows_agree && stored[3 * column] == static_cast<std::uint8_t>(rgb) &&
                         stored[3 * column + 1] == static_cast<std::uint8_t>(rgb >> 8) &&
                         stored[3 * column + 2] == static_cast<std::uint8_t>(rgb >> 16);
        }
        rows_agree = rows_agree && stored[3063] == 0;
        EXPECT_TRUE(rows_agree) << "row " << row;
    }
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
        // To palexpand any file is indices: the first 64000 bytes, or too short.
        const auto expand = run_program(palexpand, {entry.path().string(), out.string()});
        const Bytes input = read_file(entry.path());
        if (input.size() >= 64000) {
            EXPECT_EQ(expand.status, palexpand_success) << entry.path();
            EXPECT_EQ(read_file(out), expected_expansion(input)) << entry.path();
        } else {
            EXPECT_EQ(expand.status, palexpand_failure) << entry.path();
            EXPECT_EQ(expand.out, "qlxfile is shorter than 64000 bytes\n") << entry.path();
            EXPECT_FALSE(fs::exists(out)) << entry.path();
        }
        fs::remove(out);
    }
    EXPECT_EQ(converted, 6);  // the six plainly stored 24-bit files
}

}  // namespace
}  // namespace qlx
