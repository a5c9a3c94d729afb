#include "quantiser.hpp"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>
#include <utility>

#include "memory.hpp"

namespace qlx {
namespace {

// From this many pixels on, starting threads (about 0.1 ms) pays.
constexpr std::uint64_t parallel_min_pixels = std::uint64_t{1} << 20;
// And from this many in a batch, waking them (some microseconds) does.
constexpr std::uint64_t parallel_min_batch_pixels = std::uint64_t{1} << 16;

unsigned cores() { return std::max(1u, std::thread::hardware_concurrency()); }

// A build for a machine without threads (WebAssembly without shared
// memory) converts on the calling thread alone.
#ifdef QLX_WITHOUT_THREADS
constexpr bool threads_available = false;
#else
constexpr bool threads_available = true;
#endif

// Large pictures are converted on every core; error diffusion chains each
// row to the one before, so it keeps to one.
unsigned thread_count(std::size_t width, std::size_t height, const QuantiseOptions& options) {
    const bool large = std::uint64_t{width} * height >= parallel_min_pixels;
    if (!threads_available || !large || diffuses_errors(options.dither.method)) return 1;
    const unsigned allowed = options.max_threads == 0 ? max_quantising_threads : options.max_threads;
    return std::min({cores(), allowed, max_quantising_threads});
}

}  // namespace

// Threads that help the calling thread convert the rows of one batch at a
// time. Rows are taken a few at a time from a shared counter, so a thread
// busy elsewhere takes fewer; which thread converts a row never changes its
// bytes. Threads are numbered from 0, the calling thread.
class RowCrew {
public:
    using ConvertRows = std::function<void(std::size_t thread, std::size_t begin, std::size_t end)>;

    // Starts up to `helpers` threads; fewer if the system refuses more.
    RowCrew(std::unique_ptr<std::thread[]> helpers, std::size_t count, ConvertRows convert)
        : convert_(std::move(convert)), helpers_(std::move(helpers)) {
        for (; helper_count_ < count; ++helper_count_) {
            try {
                helpers_[helper_count_] = std::thread([this, thread = helper_count_ + 1] { work(thread); });
            } catch (const std::exception&) {
                break;
            }
        }
    }
    RowCrew(const RowCrew&) = delete;
    RowCrew& operator=(const RowCrew&) = delete;
    // Lets the rows in hand be finished, then stops the helpers.
    ~RowCrew() {
        {
            std::unique_lock lock(mutex_);
            done_.wait(lock, [this] { return busy_ == 0; });
            stopping_ = true;
        }
        wake_.notify_all();
        for (std::size_t i = 0; i < helper_count_; ++i) helpers_[i].join();
    }

    // Hands out rows [begin, end) to the helpers.
    void begin(std::size_t begin, std::size_t end) {
        {
            const std::lock_guard lock(mutex_);
            next_row_ = begin;
            end_row_ = end;
            busy_ = helper_count_;
            ++generation_;
        }
        wake_.notify_all();
    }
    std::size_t helper_count() const { return helper_count_; }

    // Converts rows on this thread until none are left, then waits for the helpers.
    void finish() {
        take_rows(0);
        std::unique_lock lock(mutex_);
        done_.wait(lock, [this] { return busy_ == 0; });
    }

private:
    static constexpr std::size_t rows_at_a_time = 4;

    void work(std::size_t thread) {
        std::size_t seen = 0;
        for (;;) {
            {
                std::unique_lock lock(mutex_);
                wake_.wait(lock, [&] { return stopping_ || generation_ != seen; });
                if (stopping_) return;
                seen = generation_;
            }
            take_rows(thread);
            const std::lock_guard lock(mutex_);
            if (--busy_ == 0) done_.notify_all();
        }
    }
    void take_rows(std::size_t thread) {
        for (;;) {
            const std::size_t begin = next_row_.fetch_add(rows_at_a_time);
            if (begin >= end_row_) return;
            convert_(thread, begin, std::min(begin + rows_at_a_time, end_row_));
        }
    }

    ConvertRows convert_;
    std::mutex mutex_;
    std::condition_variable wake_, done_;
    std::size_t generation_ = 0;
    std::size_t busy_ = 0;  // helpers still on the rows handed out
    bool stopping_ = false;
    std::atomic<std::size_t> next_row_{0};
    std::size_t end_row_ = 0;
    std::unique_ptr<std::thread[]> helpers_;
    std::size_t helper_count_ = 0;  // started
};

Quantiser::Quantiser(std::size_t width, std::size_t height, qlx_pixel_format format)
    : width_(width), height_(height), format_(format) {}

Quantiser::~Quantiser() = default;

Result<std::unique_ptr<Quantiser>> Quantiser::create(std::size_t width, std::size_t height, qlx_pixel_format format,
                                                     const QuantiseOptions& options) {
    Result<std::unique_ptr<Quantiser>> made = allocate_object<Quantiser>(width, height, format);
    if (!made) return made;
    Quantiser& quantiser = **made;
    const unsigned threads = thread_count(width, height, options);
    const PixelRules rules{format, options.transparent_index};
    for (unsigned thread = 0; thread < threads; ++thread) {
        Result<Ditherer> ditherer = Ditherer::create(options.dither, width, rules);
        if (!ditherer) return failure(ditherer.error());
        quantiser.ditherers_[thread].emplace(std::move(*ditherer));
    }
    if (threads > 1) {
        // Without helpers, or without the memory for them, the calling
        // thread converts alone: the same bytes.
        Result<std::unique_ptr<std::thread[]>> helpers = allocate_array<std::thread>(threads - 1);
        if (helpers) {
            Result<std::unique_ptr<RowCrew>> crew = allocate_object<RowCrew>(
                std::move(*helpers), threads - 1, [&quantiser](std::size_t thread, std::size_t begin, std::size_t end) {
                    quantiser.convert_rows(*quantiser.ditherers_[thread], begin, end);
                });
            if (crew && (*crew)->helper_count() > 0) quantiser.crew_ = std::move(*crew);
        }
    }
    return made;
}

void Quantiser::convert(const BatchRows& batch, std::uint8_t* indices) {
    batch_ = batch;
    indices_ = indices;
    if (crew_ && std::uint64_t{batch.count} * width_ >= parallel_min_batch_pixels) {
        crew_->begin(0, batch.count);
        crew_->finish();
    } else {
        convert_rows(*ditherers_[0], 0, batch.count);
    }
    next_row_ += batch.count;
}

// Rows [begin, end) of the batch in hand.
void Quantiser::convert_rows(Ditherer& ditherer, std::size_t begin, std::size_t end) {
    for (std::size_t k = begin; k < end; ++k)
        ditherer.quantise_row(batch_.row(k), next_row_ + k, indices_ + k * width_);
}

}  // namespace qlx
