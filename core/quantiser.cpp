#include "quantiser.hpp"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>
#include <utility>

#include "memory.hpp"
#include "pixel_format.hpp"

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
// busy elsewhere, or slow to wake, takes fewer; which thread converts a row
// never changes its bytes. Threads are numbered from 0, the calling thread.
// The calling thread waits for the rows handed out, not for the helpers, so
// a helper that wakes after the rows are gone costs nothing.
class RowCrew {
public:
    using ConvertRows = std::function<void(std::size_t thread, std::size_t begin, std::size_t end)>;
    // Row numbers share the counter with the batch's number.
    static constexpr std::size_t max_rows = 0xFFFFFF00u;

    // Starts up to `count` helpers; fewer if the system refuses more.
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
    ~RowCrew() {
        {
            const std::lock_guard lock(mutex_);
            stopping_ = true;
        }
        wake_.notify_all();
        for (std::size_t i = 0; i < helper_count_; ++i) helpers_[i].join();
    }
    std::size_t helper_count() const { return helper_count_; }

    // Converts rows [0, count), at most max_rows, on this thread and the
    // helpers, and returns when every one is converted.
    void convert(std::size_t count) {
        std::uint32_t batch = 0;
        {
            const std::lock_guard lock(mutex_);
            batch = ++batch_;
            row_count_ = count;
            rows_done_.store(0);
            next_.store(std::uint64_t{batch} << 32);
        }
        wake_.notify_all();
        take_rows(0, batch, count);
        // The helpers' last rows are moments away: watch for them before sleeping.
        if (soon([&] { return rows_done_.load() == count; })) return;
        std::unique_lock lock(mutex_);
        done_.wait(lock, [&] { return rows_done_.load() == count; });
    }

private:
    static constexpr std::size_t rows_at_a_time = 4;
    static constexpr std::chrono::microseconds watch_before_sleeping{50};

    void work(std::size_t thread) {
        std::uint32_t seen = 0;
        for (;;) {
            std::size_t count = 0;
            const bool watched = soon([&] { return next_.load(std::memory_order_relaxed) >> 32 != seen; });
            {
                std::unique_lock lock(mutex_);
                if (!watched) wake_.wait(lock, [&] { return stopping_ || batch_ != seen; });
                if (stopping_) return;
                seen = batch_;
                count = row_count_;
            }
            take_rows(thread, seen, count);
        }
    }

    // Waking a sleeping thread takes tens of microseconds, a good part of a
    // small batch. A caller that streams hands over its batches one after
    // another, and a batch's last rows are moments from done, so a thread
    // watches a little while for what it waits for before it sleeps. True if
    // it came.
    template <class Ready>
    static bool soon(Ready ready) {
        if constexpr (!threads_available) {
            return ready();  // no other thread could make it so; and no clock to read
        } else {
            const auto until = std::chrono::steady_clock::now() + watch_before_sleeping;
            do {
                for (int i = 0; i < 64; ++i) {
                    if (ready()) return true;
                }
            } while (std::chrono::steady_clock::now() < until);
            return false;
        }
    }

    // Takes rows of batch `batch` until none are left; a helper late for a
    // batch finds the counter moved on to the next and takes nothing.
    void take_rows(std::size_t thread, std::uint32_t batch, std::size_t count) {
        for (;;) {
            std::uint64_t next = next_.load();
            std::size_t begin = 0;
            do {
                if (next >> 32 != batch) return;
                begin = static_cast<std::size_t>(next & 0xFFFFFFFFu);
                if (begin >= count) return;
            } while (!next_.compare_exchange_weak(next, next + rows_at_a_time));
            const std::size_t end = std::min(begin + rows_at_a_time, count);
            convert_(thread, begin, end);
            if (rows_done_.fetch_add(end - begin) + (end - begin) == count) {
                // Under the lock, so that a caller about to sleep cannot miss it.
                const std::lock_guard lock(mutex_);
                done_.notify_all();
            }
        }
    }

    ConvertRows convert_;
    std::mutex mutex_;
    std::condition_variable wake_, done_;
    std::uint32_t batch_ = 0;                // the batch's number
    std::size_t row_count_ = 0;              // its rows, which helpers read when they wake
    std::atomic<std::size_t> rows_done_{0};  // converted so far
    bool stopping_ = false;
    std::atomic<std::uint64_t> next_{0};  // the batch's number, then its next row to take
    std::unique_ptr<std::thread[]> helpers_;
    std::size_t helper_count_ = 0;  // started
};

Quantiser::Quantiser(std::size_t width, std::size_t height, qlx_pixel_format format)
    : width_(width), height_(height), format_(format) {}

Quantiser::~Quantiser() = default;

Result<std::unique_ptr<Quantiser>> Quantiser::create(std::size_t width, std::size_t height, qlx_pixel_format format,
                                                     const QuantiseOptions& options, const FrameMemory& memory) {
    Result<std::unique_ptr<Quantiser>> made = allocate_object<Quantiser>(width, height, format);
    if (!made) return made;
    Quantiser& quantiser = **made;
    const unsigned threads = thread_count(width, height, options);
    // Composited pixels reach the ditherers as RGB, alpha gone.
    quantiser.composite_ = options.composite && options.transparent_index < 0 && pixel_order(format).has_alpha;
    quantiser.background_ = {static_cast<std::uint8_t>(options.background >> 16),
                             static_cast<std::uint8_t>(options.background >> 8),
                             static_cast<std::uint8_t>(options.background)};
    const PixelRules rules{quantiser.composite_ ? QLX_RGB : format, options.transparent_index};
    for (unsigned thread = 0; thread < threads; ++thread) {
        Result<Ditherer> ditherer = Ditherer::create(options.dither, width, rules, memory);
        if (!ditherer) return failure(ditherer.error());
        quantiser.ditherers_[thread].emplace(std::move(*ditherer));
        if (quantiser.composite_) {
            if (width > SIZE_MAX / 3) return failure(QLX_OUT_OF_MEMORY);
            Result<std::unique_ptr<std::uint8_t[]>> row = allocate_array<std::uint8_t>(width * 3);
            if (!row) return failure(row.error());
            quantiser.composited_rows_[thread] = std::move(*row);
        }
    }
    if (threads > 1) {
        // Without helpers, or without the memory for them, the calling
        // thread converts alone: the same bytes.
        Result<std::unique_ptr<std::thread[]>> helpers = allocate_array<std::thread>(threads - 1);
        if (helpers) {
            Result<std::unique_ptr<RowCrew>> crew = allocate_object<RowCrew>(
                std::move(*helpers), threads - 1, [&quantiser](std::size_t thread, std::size_t begin, std::size_t end) {
                    quantiser.convert_rows(thread, begin, end);
                });
            if (crew && (*crew)->helper_count() > 0) quantiser.crew_ = std::move(*crew);
        }
    }
    return made;
}

void Quantiser::convert(const BatchRows& batch, std::uint8_t* indices) {
    batch_ = batch;
    indices_ = indices;
    if (crew_ && std::uint64_t{batch.count} * width_ >= parallel_min_batch_pixels && batch.count <= RowCrew::max_rows) {
        crew_->convert(batch.count);
    } else {
        convert_rows(0, 0, batch.count);
    }
    next_row_ += batch.count;
}

// Rows [begin, end) of the batch in hand, on thread `thread`.
void Quantiser::convert_rows(std::size_t thread, std::size_t begin, std::size_t end) {
    Ditherer& ditherer = *ditherers_[thread];
    for (std::size_t k = begin; k < end; ++k) {
        const std::uint8_t* row = composite_ ? composite_row(thread, k) : batch_.row(k);
        ditherer.quantise_row(row, next_row_ + k, indices_ + k * width_);
    }
}

const std::uint8_t* Quantiser::composite_row(std::size_t thread, std::size_t k) {
    const PixelOrder order = pixel_order(format_);
    const std::uint8_t* pixel = batch_.row(k);
    std::uint8_t* out = composited_rows_[thread].get();
    for (std::size_t x = 0; x < width_; ++x, pixel += order.bytes, out += 3) {
        const unsigned alpha = pixel[order.alpha];
        out[0] = composited(pixel[order.red], alpha, background_[0]);
        out[1] = composited(pixel[order.green], alpha, background_[1]);
        out[2] = composited(pixel[order.blue], alpha, background_[2]);
    }
    return composited_rows_[thread].get();
}

}  // namespace qlx
