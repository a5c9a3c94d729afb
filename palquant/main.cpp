// palquant: 24-bit BMP in, QLX (nearest palette index per pixel, dithered
// if asked) out.
// Exit status 1 on success and 0 on failure, as scripts have always relied on.

#include <cstdio>
#include <optional>

#include "bmp_format.hpp"
#include "bmp_input.hpp"
#include "command_line.hpp"
#include "file_io.hpp"
#include "messages.hpp"
#include "platform.hpp"
#include "qlx.h"
#include "quantiser.hpp"

namespace {

constexpr int status_success = 1;
constexpr int status_failure = 0;

int report(const char* message, int status) {
    std::fputs(message, stdout);
    return status;
}

int fail(const char* message) { return report(message, status_failure); }

// A BMP refused, or too large: the library's text for it. The 24-bit
// refusal is the one text on standard error, as it always was.
int refuse(qlx_status status) {
    std::FILE* stream = status == QLX_BMP_NOT_24_BIT ? stderr : stdout;
    std::fputs(qlx_status_text(status), stream);
    std::fputc('\n', stream);
    return status_failure;
}

}  // namespace

int main(int argc, char* argv[]) try {
    namespace msg = pal::messages;
    pal::platform::use_binary_standard_streams();
    const pal::PalquantCommand command = pal::parse_palquant_command(pal::platform::utf8_arguments(argc, argv));
    switch (command.action) {
        case pal::CommandAction::usage: return fail(msg::palquant_usage);
        case pal::CommandAction::help: return report(msg::palquant_help, status_success);
        case pal::CommandAction::version: return report(msg::palquant_version, status_success);
        case pal::CommandAction::refuse: return fail(command.refusal);
        case pal::CommandAction::convert: break;
    }

    std::optional<pal::InputFile> input = pal::InputFile::open(command.bmp_path);
    if (!input) return fail(msg::bmp_not_opened);
    const pal::BmpInput bmp = pal::open_bmp_input(*input);
    if (bmp.status == pal::ReadStatus::read_failed) return fail(msg::bmp_not_read);
    if (bmp.status == pal::ReadStatus::out_of_memory) return refuse(QLX_BMP_TOO_LARGE);

    const qlx::BmpParse parsed = qlx::parse_bmp(bmp.contents.bytes(), bmp.file_size);
    if (parsed.status != QLX_OK) return refuse(parsed.status);
    qlx::BmpQuantiser::Created created = qlx::BmpQuantiser::create(parsed.layout, {.dither = command.dither});
    if (!created.quantiser) return refuse(QLX_BMP_TOO_LARGE);  // for this machine's sizes or for its memory

    // Every allocation succeeded and no check is left that could refuse the
    // picture, so the output is created now and filled as the rows are converted.
    std::optional<pal::OutputFile> qlx = pal::OutputFile::open(command.qlx_path);
    if (!qlx) return fail(msg::qlx_not_opened);
    const qlx::RunStatus converted = created.quantiser->run(
        bmp.read_pixels, [&](std::span<const std::uint8_t> indices) { return qlx->write(indices); });
    if (converted == qlx::RunStatus::read_failed) return fail(msg::bmp_not_read);
    if (converted == qlx::RunStatus::write_failed || !qlx->commit()) return fail(msg::qlx_not_written);
    return status_success;
} catch (...) {
    // Only running out of memory throws; the output, if any, is gone already.
    return refuse(QLX_BMP_TOO_LARGE);
}
