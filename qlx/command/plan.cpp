#include "plan.hpp"

#include <map>
#include <thread>

#include "file_io.hpp"

namespace qlxcmd {
namespace {

// "photos/castle.641x480.qlx" gives "castle": the directory, the extension
// and a size in the name go.
std::string stem_of(const std::string& input) {
    const std::size_t slash = input.find_last_of("/\\");
    std::string stem = slash == std::string::npos ? input : input.substr(slash + 1);
    if (size_in_name(stem)) stem.resize(stem.size() - 4);  // then the size goes below
    const std::size_t dot = stem.find_last_of('.');
    if (dot != std::string::npos && dot > 0) stem.resize(dot);
    return stem;
}

std::string joined(const std::string& directory, const std::string& name) {
    if (directory.ends_with('/') || directory.ends_with('\\')) return directory + name;
    return directory + "/" + name;
}

}  // namespace

RunSettings run_settings(const Invocation& invocation, std::size_t job_count, bool on_terminal) {
    RunSettings run;
    run.batch.jobs = invocation.jobs != 0 ? invocation.jobs : std::max(1u, std::thread::hardware_concurrency());
    run.batch.quiet = invocation.quiet;
    run.batch.report = invocation.report;
    run.batch.show_progress = !invocation.quiet && on_terminal;
    // Files at once share the cores; one file alone has them all.
    const unsigned threads =
        run.batch.jobs > 1 && job_count > 1 ? 1 : std::max(1u, std::thread::hardware_concurrency());
    ConversionSettings& settings = run.conversion;
    settings.options = invocation.options;
    // One rule for every picture with transparency: over the background,
    // unless --transparent-index marks it.
    settings.options.alpha = QLX_ALPHA_COMPOSITE;
    if (invocation.max_pixels) settings.decode.max_pixels = *invocation.max_pixels;
    settings.fit = invocation.fit;
    settings.box = invocation.size.value_or(Size{});
    settings.decode.size = invocation.size;
    settings.output.format = *invocation.to;
    settings.output.truecolour = invocation.truecolour;
    settings.output.transparent_index = invocation.options.transparent_index;
    settings.options.threads = static_cast<int>(threads);
    settings.output.threads = threads;
    if (invocation.sequence) settings.sequence = invocation.inputs;
    settings.tiles = invocation.tiles;
    settings.frame = invocation.frame;
    settings.sheet = invocation.sheet;
    settings.delay = invocation.delay;
    settings.loop = invocation.loop;
    settings.measure = invocation.report != Report::none;
    return run;
}

common::Expected<std::vector<Job>, std::string> plan_jobs(const Invocation& invocation) {
    std::vector<Job> jobs;
    if (!invocation.out_dir) {
        jobs.push_back({invocation.inputs.front(), {invocation.output, false}});
    } else {
        // A QLX output's name holds its size, known once its input is
        // decoded, unless --fit makes it the box's.
        const bool sized_later = *invocation.to == FileFormat::qlx && invocation.fit == QLX_FIT_KEEP;
        const Size box = invocation.size.value_or(Size{});
        std::map<std::string, std::string> first_input_of;
        for (const std::string& input : invocation.inputs) {
            const std::string stem = joined(*invocation.out_dir, stem_of(input));
            OutputName name{stem, true};
            if (!sized_later && *invocation.to == FileFormat::qlx) {
                auto sized = final_name(name, box);
                if (!sized) return common::failure(sized.error().text());
                name = {*sized, false};
            } else if (!sized_later) {
                name = {stem + "." + format_name(*invocation.to), false};
            }
            const auto [clash, fresh] = first_input_of.emplace(name.path, input);
            if (!fresh)
                return common::failure("'" + clash->second + "' and '" + input + "' would both write '" + name.path +
                                       (sized_later ? ".qlx" : "") + "'");
            jobs.push_back({input, name});
        }
    }
    for (const Job& job : jobs) {
        if (job.output.named_by_size) continue;
        for (const std::string& input : invocation.inputs) {
            if (input != "-" && sys::same_file(input, job.output.path)) {
                return common::failure("the output '" + job.output.path + "' would replace the input '" + input + "'");
            }
        }
    }
    return jobs;
}

}  // namespace qlxcmd
