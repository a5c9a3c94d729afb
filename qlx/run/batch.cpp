#include "batch.hpp"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

namespace qlxcmd {
namespace {

using Clock = std::chrono::steady_clock;

// A JSON string of any bytes: quotes, backslashes and control characters
// escaped; the rest, UTF-8 names included, as they are.
std::string json_string(const std::string& text) {
    std::string quoted = "\"";
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            quoted += '\\';
            quoted += c;
        } else if (byte < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", byte);
            quoted += escaped;
        } else {
            quoted += c;
        }
    }
    return quoted + "\"";
}

// A single picture shows progress only once it has taken this long.
constexpr auto single_picture_delay = std::chrono::seconds(1);
constexpr auto redraw_interval = std::chrono::milliseconds(100);
constexpr std::size_t line_width = 79;  // columns the progress line keeps within

// Standard error, shared by the workers and the progress line: every text
// goes out as whole lines, and the progress line is cleared before one
// and redrawn after it.
class StandardError {
public:
    explicit StandardError(bool progress) : progress_(progress) {}

    void line(const std::string& text) {
        const std::lock_guard lock(mutex_);
        erase_progress();
        write(text + "\n");
    }
    void progress(std::string text) {
        const std::lock_guard lock(mutex_);
        if (!progress_) return;
        if (text.size() > line_width) text.resize(line_width);
        write("\r" + text + "\x1b[K");
        drawn_ = true;
    }
    void clear() {
        const std::lock_guard lock(mutex_);
        erase_progress();
    }

private:
    void erase_progress() {
        if (drawn_) write("\r\x1b[K");
        drawn_ = false;
    }
    static void write(const std::string& text) {
        std::fwrite(text.data(), 1, text.size(), stderr);
        std::fflush(stderr);
    }
    std::mutex mutex_;
    bool progress_;
    bool drawn_ = false;
};

// "qlx: castle.png: blurred error 6.14, CIEDE2000 1.23, 12.5% exact", or
// {"input": "castle.png", "blurred_error": 6.1403, ...}.
std::string report_text(const std::string& input, const qlx_closeness& closeness, Report report) {
    char figures[200];
    if (report == Report::json) {
        std::snprintf(figures, sizeof figures,
                      "\"blurred_error\": %.4f, \"ciede2000\": %.4f, \"exact_share\": %.6f, \"measured\": %zu}",
                      closeness.blurred_error, closeness.ciede2000, closeness.exact_share, closeness.measured);
        return "{\"input\": " + json_string(input) + ", " + figures;
    }
    std::snprintf(figures, sizeof figures, "blurred error %.2f, CIEDE2000 %.2f, %.1f%% exact", closeness.blurred_error,
                  closeness.ciede2000, 100 * closeness.exact_share);
    return "qlx: " + input + ": " + figures;
}

// The reports, in the order of the jobs whatever order they finish in:
// each is held until those before it are out.
class Reports {
public:
    Reports(std::size_t count, Report kind, bool on_standard_output, StandardError& messages)
        : texts_(kind == Report::none ? 0 : count),
          done_(texts_.size()),
          on_standard_output_(on_standard_output),
          messages_(messages) {}

    // The report of job `job`, or none for a failure.
    void finished(std::size_t job, std::optional<std::string> text) {
        if (texts_.empty()) return;
        const std::lock_guard lock(mutex_);
        texts_[job] = std::move(text);
        done_[job] = true;
        for (; next_ < texts_.size() && done_[next_]; ++next_) {
            if (!texts_[next_]) continue;
            if (on_standard_output_) {
                const std::string line = *texts_[next_] + "\n";
                std::fwrite(line.data(), 1, line.size(), stdout);
                std::fflush(stdout);
            } else {
                messages_.line(*texts_[next_]);
            }
            texts_[next_].reset();
        }
    }

private:
    std::mutex mutex_;
    std::vector<std::optional<std::string>> texts_;
    std::vector<bool> done_;
    std::size_t next_ = 0;
    bool on_standard_output_;
    StandardError& messages_;
};

// What the workers share: the next job, and what each one is doing.
struct Work {
    const std::vector<Job>& jobs;
    const ConversionSettings& settings;
    bool quiet;
    Report report;
    Reports& reports;
    std::atomic<std::size_t> next{0};
    std::atomic<std::size_t> done{0};
    std::atomic<bool> all_succeeded{true};
    std::unique_ptr<ConversionProgress[]> progress{};        // one a worker
    std::unique_ptr<std::atomic<std::size_t>[]> current {};  // the job a worker is on, or jobs.size()
};

void work(Work& shared, StandardError& messages, std::size_t worker) {
    for (;;) {
        const std::size_t job = shared.next.fetch_add(1);
        if (job >= shared.jobs.size()) break;
        shared.current[worker] = job;
        const Job& next = shared.jobs[job];
        Outcome<Converted> converted = refusal(QLX_OUT_OF_MEMORY);
        try {
            converted = convert_file(next.input, next.output, shared.settings, shared.progress[worker]);
        } catch (...) {
            // Only running out of memory throws; the output is gone with it.
        }
        if (!converted) {
            shared.all_succeeded = false;
            messages.line("qlx: " + next.input + ": " + converted.error().text());
            shared.reports.finished(job, std::nullopt);
        } else {
            if (!converted->note.empty() && !shared.quiet) messages.line(converted->note);
            std::optional<std::string> report;
            if (converted->closeness) report = report_text(next.input, *converted->closeness, shared.report);
            shared.reports.finished(job, std::move(report));
        }
        shared.current[worker] = shared.jobs.size();
        shared.progress[worker] = 0;
        ++shared.done;
    }
}

std::string time_left(double seconds) {
    if (seconds < 60) return "about " + std::to_string(static_cast<int>(seconds) + 1) + " s left";
    return "about " + std::to_string(static_cast<int>(seconds / 60) + 1) + " min left";
}

// "12 of 200 done, castle.png, about 3 s left", or for one picture
// "castle.png 45%, about 2 s left".
std::string progress_line(const Work& shared, std::size_t workers, Clock::duration elapsed) {
    const std::size_t total = shared.jobs.size();
    double fraction = static_cast<double>(shared.done);
    std::string current;
    for (std::size_t worker = 0; worker < workers; ++worker) {
        const std::size_t job = shared.current[worker];
        if (job >= total) continue;
        fraction += shared.progress[worker] / 1000.0;
        if (current.empty()) current = shared.jobs[job].input;
    }
    fraction /= static_cast<double>(total);
    std::string line = "qlx: ";
    if (total == 1) {
        line += current + " " + std::to_string(static_cast<int>(fraction * 100)) + "%";
    } else {
        line += std::to_string(shared.done) + " of " + std::to_string(total) + " done";
        if (!current.empty()) line += ", " + current;
    }
    const double seconds = std::chrono::duration<double>(elapsed).count();
    if (fraction > 0.01 && seconds > 0.5) line += ", " + time_left(seconds * (1 - fraction) / fraction);
    return line;
}

// Redraws the progress line every so often on a thread of its own, from
// `delay` after it starts until it is stopped.
class ProgressDrawer {
public:
    template <class Draw>
    ProgressDrawer(bool enabled, Draw draw, Clock::duration delay) {
        if (!enabled) return;
        if (delay == Clock::duration::zero()) draw(Clock::duration::zero());  // before any work can finish
        thread_ = std::jthread([this, draw, delay] {
            const Clock::time_point start = Clock::now();
            std::unique_lock lock(mutex_);
            while (!stopped_) {
                if (Clock::now() - start >= delay) draw(Clock::now() - start);
                stop_signal_.wait_for(lock, redraw_interval);
            }
        });
    }
    ProgressDrawer(const ProgressDrawer&) = delete;
    ProgressDrawer& operator=(const ProgressDrawer&) = delete;
    ~ProgressDrawer() { stop(); }

    void stop() {
        {
            const std::lock_guard lock(mutex_);
            stopped_ = true;
        }
        stop_signal_.notify_one();
        if (thread_.joinable()) thread_.join();
    }

private:
    std::mutex mutex_;
    std::condition_variable stop_signal_;
    bool stopped_ = false;
    std::jthread thread_;  // last: it starts once the rest is made
};

}  // namespace

bool run_batch(const std::vector<Job>& jobs, const ConversionSettings& settings, const BatchSettings& batch) {
    const std::size_t workers = std::max<std::size_t>(1, std::min<std::size_t>(batch.jobs, jobs.size()));
    StandardError messages(batch.show_progress);
    const bool to_standard_output =
        batch.report == Report::json &&
        std::none_of(jobs.begin(), jobs.end(), [](const Job& job) { return job.output.path == "-"; });
    Reports reports(jobs.size(), batch.report, to_standard_output, messages);
    Work shared{jobs, settings, batch.quiet, batch.report, reports};
    shared.progress = std::make_unique<ConversionProgress[]>(workers);
    shared.current = std::make_unique<std::atomic<std::size_t>[]>(workers);
    for (std::size_t worker = 0; worker < workers; ++worker) shared.current[worker] = jobs.size();

    // Threads join as they go out of scope, also when starting one fails;
    // the drawer is told to finish first.
    ProgressDrawer drawer(
        batch.show_progress,
        [&](Clock::duration elapsed) { messages.progress(progress_line(shared, workers, elapsed)); },
        jobs.size() == 1 ? single_picture_delay : Clock::duration::zero());
    {
        std::vector<std::jthread> threads;
        for (std::size_t worker = 1; worker < workers; ++worker) {
            threads.emplace_back([&, worker] { work(shared, messages, worker); });
        }
        work(shared, messages, 0);
    }
    drawer.stop();
    messages.clear();
    return shared.all_succeeded;
}

}  // namespace qlxcmd
