// palexpand: QLX (320 x 200 unless told another size) in, 24-bit BMP of its
// palette colours out. Exit status 0 on success and 1 on failure, the
// opposite of palquant.

#include <cstdio>
#include <optional>
#include <string>

#include "command_line.hpp"
#include "expander.hpp"
#include "file_io.hpp"
#include "messages.hpp"
#include "platform.hpp"
#include "qlx.h"

namespace {

constexpr int status_success = 0;
constexpr int status_failure = 1;

int report(const char* message, int status) {
    std::fputs(message, stdout);
    return status;
}

int fail(const char* message) { return report(message, status_failure); }

}  // namespace

int main(int argc, char* argv[]) try {
    namespace msg = pal::messages;
    pal::platform::use_binary_standard_streams();
    const pal::PalexpandCommand command = pal::parse_palexpand_command(pal::platform::utf8_arguments(argc, argv));
    switch (command.action) {
        case pal::CommandAction::usage: return fail(msg::palexpand_usage);
        case pal::CommandAction::help: return report(msg::palexpand_help, status_success);
        case pal::CommandAction::version: return report(msg::palexpand_version, status_success);
        case pal::CommandAction::refuse: return fail(command.refusal);
        case pal::CommandAction::convert: break;
    }

    std::optional<pal::InputFile> input = pal::InputFile::open(command.qlx_path);
    if (!input) return fail(msg::qlx_not_opened);
    // Both files are opened before anything is read; the target is replaced only on commit.
    std::optional<pal::OutputFile> output = pal::OutputFile::open(command.bmp_path);
    if (!output) return fail(msg::bmp_not_opened);
    // The command line took sides of 1 to 16384, so only memory can fail here.
    qlx::BmpExpander::Created created = qlx::BmpExpander::create(command.width, command.height);
    if (!created.expander) return fail(msg::bmp_not_written);

    const std::size_t picture_bytes = command.width * command.height;  // at most 2^28
    const pal::ReadResult qlx = input->read_up_to(picture_bytes);
    if (qlx.status != pal::ReadStatus::ok) return fail(msg::qlx_not_read);
    if (created.expander->check_input(qlx.bytes.bytes()) != QLX_OK) {
        return fail(msg::qlx_shorter_than(picture_bytes).c_str());
    }
    const bool expanded = created.expander->run(
        qlx.bytes.bytes(), [&](std::span<const std::uint8_t> bytes) { return output->write(bytes); });
    if (!expanded || !output->commit()) return fail(msg::bmp_not_written);
    return status_success;
} catch (...) {
    // Only running out of memory throws; the output, if any, is gone already.
    return fail(pal::messages::bmp_not_written);
}
