// qlx: PNG, JPEG, GIF, BMP and QLX in; QLX, indexed PNG and indexed BMP
// out, one file or many at once; and the palette as files for editors.
// Exit status 0 when everything worked, 1 when some input failed, 2 for a
// mistake in the command line.

#include <cstdio>
#include <string>

#include "arguments.hpp"
#include "batch.hpp"
#include "file_io.hpp"
#include "help.hpp"
#include "plan.hpp"
#include "platform.hpp"
#include "qlx.h"

namespace {

constexpr int succeeded = 0;
constexpr int some_failed = 1;
constexpr int usage_error = 2;

int print(std::FILE* stream, const std::string& text, int status) {
    std::fwrite(text.data(), 1, text.size(), stream);
    return status;
}

int refuse_usage(const std::string& problem) {
    return print(stderr, "qlx: " + problem + "\nTry 'qlx --help'.\n", usage_error);
}

int fail(const std::string& name, const std::string& reason) {
    return print(stderr, "qlx: " + name + ": " + reason + "\n", some_failed);
}

int write_palette_file(const qlxcmd::Invocation& invocation) {
    auto file =
        invocation.output == "-" ? sys::OutputFile::standard_output() : sys::OutputFile::open(invocation.output);
    if (!file) return fail(invocation.output, "cannot create it");
    if (auto written = qlxcmd::write_palette(*invocation.to, *file); !written)
        return fail(invocation.output, written.error().text());
    if (!file->commit()) return fail(invocation.output, "cannot write it");
    return succeeded;
}

}  // namespace

int main(int argc, char* argv[]) try {
    sys::platform::use_binary_standard_streams();
    const auto invocation = qlxcmd::parse_arguments(sys::platform::utf8_arguments(argc, argv));
    if (!invocation) return refuse_usage(invocation.error());
    switch (invocation->action) {
        case qlxcmd::Action::help: return print(stdout, qlxcmd::help_text(invocation->help_topic), succeeded);
        case qlxcmd::Action::version: return print(stdout, "qlx " QLX_VERSION_STRING "\n", succeeded);
        case qlxcmd::Action::palette: return write_palette_file(*invocation);
        case qlxcmd::Action::convert: break;
    }

    const auto jobs = qlxcmd::plan_jobs(*invocation);
    if (!jobs) return refuse_usage(jobs.error());
    if (invocation->out_dir && !sys::make_directories(*invocation->out_dir)) {
        return fail(*invocation->out_dir, "cannot create the directory");
    }
    const qlxcmd::RunSettings run =
        qlxcmd::run_settings(*invocation, jobs->size(), sys::platform::standard_error_is_terminal());
    return qlxcmd::run_batch(*jobs, run.conversion, run.batch) ? succeeded : some_failed;
} catch (...) {
    // Only running out of memory throws; every output is gone with it.
    return print(stderr, "qlx: not enough memory\n", some_failed);
}
