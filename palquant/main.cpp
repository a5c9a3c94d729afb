// palquant: 24-bit BMP in, QLX (nearest palette index per pixel, dithered
// if asked) out.
// Exit status 1 on success and 0 on failure, as scripts have always relied on.

#include <cstdio>
#include <string>

#include "bmp_stream.hpp"
#include "command_line.hpp"
#include "file_io.hpp"
#include "messages.hpp"
#include "platform.hpp"
#include "qlx.h"
#include "report.hpp"

namespace {

constexpr cli::Reporter palquant(1, 0);

// A BMP refused, or too large: the library's text for it. The 24-bit
// refusal is the one text on standard error, as it always was.
int refuse(qlx_status status) {
    const std::string text = std::string(qlx_status_text(status)) + "\n";
    return status == QLX_BMP_NOT_24_BIT ? palquant.fail_on_stderr(text) : palquant.fail(text);
}

}  // namespace

int main(int argc, char* argv[]) try {
    namespace msg = cli::messages;
    sys::platform::use_binary_standard_streams();
    const cli::PalquantCommand command = cli::parse_palquant_command(sys::platform::utf8_arguments(argc, argv));
    switch (command.action) {
        case cli::CommandAction::usage: return palquant.fail(msg::palquant_usage);
        case cli::CommandAction::help: return palquant.succeed(msg::palquant_help());
        case cli::CommandAction::version: return palquant.succeed(msg::palquant_version);
        case cli::CommandAction::refuse: return palquant.fail(command.refusal);
        case cli::CommandAction::convert: break;
    }

    sys::IoResult<sys::InputFile> input = sys::InputFile::open(command.bmp_path);
    if (!input) return palquant.fail(msg::bmp_not_opened);
    sys::IoResult<cli::BmpSource> bmp = cli::BmpSource::open(*input);
    if (!bmp)
        return bmp.error() == sys::IoError::out_of_memory ? refuse(QLX_BMP_TOO_LARGE)
                                                          : palquant.fail(msg::bmp_not_read);

    qlx_bmp_layout layout{};
    const std::span<const std::uint8_t> headers = bmp->headers();
    if (const qlx_status status = qlx_bmp_read_layout(headers.data(), headers.size(), bmp->file_size(), &layout);
        status != QLX_OK) {
        return refuse(status);
    }
    // Too large for this machine's sizes or for its memory. The buffers come
    // first: the quantiser's threads, if any, take what memory is left.
    sys::IoResult<cli::BmpStream> stream = cli::BmpStream::create(layout, *bmp);
    if (!stream) return refuse(QLX_BMP_TOO_LARGE);
    qlx_quantiser* made = nullptr;
    if (qlx_quantiser_create(layout.width, layout.height, QLX_BGR, &command.options, &made) != QLX_OK) {
        return refuse(QLX_BMP_TOO_LARGE);
    }
    const cli::QuantiserHandle quantiser(made);

    // Every allocation succeeded and no check is left that could refuse the
    // picture, so the output is created now and filled as the rows are converted.
    sys::IoResult<sys::OutputFile> output = sys::OutputFile::open(command.qlx_path);
    if (!output) return palquant.fail(msg::qlx_not_opened);
    const auto converted = stream->run(*bmp, quantiser.get(), *output);
    if (!converted && converted.error() == cli::StreamError::read_failed) return palquant.fail(msg::bmp_not_read);
    if (!converted || !output->commit()) return palquant.fail(msg::qlx_not_written);
    return palquant.succeed();
} catch (...) {
    // Only running out of memory throws; the output, if any, is gone already.
    return refuse(QLX_BMP_TOO_LARGE);
}
