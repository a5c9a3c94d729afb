// palexpand: 320 x 200 QLX in, 24-bit BMP of its palette colours out.
// Exit status 0 on success and 1 on failure, the opposite of palquant.

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "conversion.hpp"
#include "file_io.hpp"
#include "image_formats.hpp"
#include "messages.hpp"
#include "platform.hpp"

namespace {

constexpr int status_success = 0;
constexpr int status_failure = 1;

int fail(const char* message) {
    std::fputs(message, stdout);
    return status_failure;
}

}  // namespace

int main(int argc, char* argv[]) {
    namespace msg = pal::messages;
    pal::platform::use_binary_standard_streams();
    const std::vector<std::string> arguments = pal::platform::utf8_arguments(argc, argv);
    if (arguments.size() < 3) return fail(msg::palexpand_usage);

    std::optional<pal::InputFile> input = pal::InputFile::open(arguments[1]);
    if (!input) return fail(msg::qlx_not_opened);
    // Both files are opened before anything is read; the target is replaced only on commit.
    std::optional<pal::OutputFile> output = pal::OutputFile::open(arguments[2]);
    if (!output) return fail(msg::bmp_not_opened);

    pal::ReadResult qlx = input->read_up_to(pal::qlx_size);
    if (qlx.status != pal::ReadStatus::ok) return fail(msg::qlx_not_read);
    if (qlx.bytes.size() < pal::qlx_size) return fail(msg::qlx_too_short);

    std::optional<pal::ByteBuffer> bmp = pal::ByteBuffer::allocate(pal::expanded_bmp_size);
    if (!bmp) return fail(msg::bmp_not_written);
    pal::expand_qlx(qlx.bytes.bytes().first<pal::qlx_size>(), bmp->bytes().first<pal::expanded_bmp_size>());

    if (!output->write(bmp->bytes()) || !output->commit()) return fail(msg::bmp_not_written);
    return status_success;
}
