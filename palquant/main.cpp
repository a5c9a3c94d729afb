// palquant: 24-bit BMP in, QLX (nearest palette index per pixel, dithered
// if asked) out.
// Exit status 1 on success and 0 on failure, as scripts have always relied on.

#include <cstdio>
#include <optional>

#include "command_line.hpp"
#include "conversion.hpp"
#include "file_io.hpp"
#include "image_formats.hpp"
#include "messages.hpp"
#include "platform.hpp"

namespace {

constexpr int status_success = 1;
constexpr int status_failure = 0;

int report(const char* message, int status, std::FILE* stream = stdout) {
    std::fputs(message, stream);
    return status;
}

int fail(const char* message, std::FILE* stream = stdout) { return report(message, status_failure, stream); }

}  // namespace

int main(int argc, char* argv[]) {
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
    if (bmp.status == pal::ReadStatus::out_of_memory) return fail(msg::bmp_too_large);

    const pal::BmpParse parsed = pal::parse_bmp(bmp.contents.bytes(), bmp.file_size);
    if (parsed.error == pal::BmpError::not_24_bit) return fail(msg::not_24_bit, stderr);
    if (parsed.error != pal::BmpError::none) return fail(pal::bmp_error_message(parsed.error));
    std::optional<pal::BmpQuantiser> quantiser = pal::BmpQuantiser::create(parsed.layout, command.dither);
    if (!quantiser) return fail(msg::bmp_too_large);

    // Every allocation succeeded and no check is left that could refuse the
    // picture, so the output is created now and filled as the rows are converted.
    std::optional<pal::OutputFile> qlx = pal::OutputFile::open(command.qlx_path);
    if (!qlx) return fail(msg::qlx_not_opened);
    const pal::QuantiseStatus converted =
        quantiser->run(bmp.read_pixels, [&](std::span<const std::uint8_t> indices) { return qlx->write(indices); });
    if (converted == pal::QuantiseStatus::read_failed) return fail(msg::bmp_not_read);
    if (converted == pal::QuantiseStatus::write_failed || !qlx->commit()) return fail(msg::qlx_not_written);
    return status_success;
}
