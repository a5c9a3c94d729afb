// palexpand: QLX (320 x 200 unless told another size) in, 24-bit BMP of its
// palette colours out. Exit status 0 on success and 1 on failure, the
// opposite of palquant.

#include "bmp_writer.hpp"
#include "command_line.hpp"
#include "file_io.hpp"
#include "messages.hpp"
#include "platform.hpp"
#include "report.hpp"

namespace {

constexpr cli::Reporter palexpand(0, 1);

}  // namespace

int main(int argc, char* argv[]) try {
    namespace msg = cli::messages;
    sys::platform::use_binary_standard_streams();
    const cli::PalexpandCommand command = cli::parse_palexpand_command(sys::platform::utf8_arguments(argc, argv));
    switch (command.action) {
        case cli::CommandAction::usage: return palexpand.fail(msg::palexpand_usage);
        case cli::CommandAction::help: return palexpand.succeed(msg::palexpand_help);
        case cli::CommandAction::version: return palexpand.succeed(msg::palexpand_version);
        case cli::CommandAction::refuse: return palexpand.fail(command.refusal);
        case cli::CommandAction::convert: break;
    }

    sys::IoResult<sys::InputFile> input = sys::InputFile::open(command.qlx_path);
    if (!input) return palexpand.fail(msg::qlx_not_opened);
    // Both files are opened before anything is read; the target is replaced only on commit.
    sys::IoResult<sys::OutputFile> output = sys::OutputFile::open(command.bmp_path);
    if (!output) return palexpand.fail(msg::bmp_not_opened);
    sys::IoResult<cli::BmpWriter> writer = cli::BmpWriter::create(command.width, command.height);
    if (!writer) return palexpand.fail(msg::bmp_not_written);

    const std::size_t picture_bytes = command.width * command.height;  // at most 2^28
    const sys::IoResult<sys::Buffer> indices = input->read_up_to(picture_bytes);
    if (!indices) return palexpand.fail(msg::qlx_not_read);
    if (indices->size() < picture_bytes) return palexpand.fail(msg::qlx_shorter_than(picture_bytes));
    if (!writer->write(indices->bytes(), *output) || !output->commit()) return palexpand.fail(msg::bmp_not_written);
    return palexpand.succeed();
} catch (...) {
    // Only running out of memory throws; the output, if any, is gone already.
    return palexpand.fail(cli::messages::bmp_not_written);
}
