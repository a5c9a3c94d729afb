#include "quantiser.hpp"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>

#include "pixel_format.hpp"

namespace qlx {
namespace {

// From this many pixels on, starting threads (about 0.1 ms) pays.
constexpr std::uint64_t parallel_min_pixels = std::uint64_t{1} << 20;
// A cap, so that a machine of many cores does not start dozens of threads to
// share a few batches.
constexpr unsigned max_useful_threads = 8;

unsigned cores() { return std::max(1u, std::thread::hardware_concurrency()); }

// A build for a machine without threads (WebAssembly without shared
// memory) converts on the calling thread alone.
#ifdef QLX_WITHOUT_THREADS
constexpr bool threads_available = false;
#else
constexpr bool threads_available = true;
#endif

// Large pictures are converted on every core, the one that reads and writes
// included; error diffusion chains each row to the one before, so it keeps
// to one.
unsigned thread_count(const QuantiseOptions& options) {
    if (!threads_available || diffuses_errors(options.dither.method)) return 1;
    return std::min({cores(), options.max_threads == 0 ? max_useful_threads : options.max_threads, max_useful_threads});
}

// Error diffusion keeps to one thread, but with a core to spare it need not
// be the one that reads and writes: the reading of the next batch and the
// writing of the last then cost no time.
bool converts_aside(const QuantiseOptions& options) {
    return threads_available && diffuses_errors(options.dither.method) && cores() > 1 && options.max_threads != 1;
}

// Threads that convert the rows of one batch at a time, with the thread that
// reads and writes or without it. Rows are taken a few at a time from a
// shared counter, so a thread busy elsewhere takes fewer; which thread
// converts a row never changes its bytes. Threads are numbered from 0, the
// one that reads and writes first when it converts too. A lone helper takes
// the rows in order.
class RowCrew {
public:
    using ConvertRows = std::function<void(std::size_t thread, std::size_t begin, std::size_t end)>;

    // Starts up to `helpers` threads; fewer if the system refuses more.
    RowCrew(unsigned helpers, bool caller_converts, ConvertRows convert)
        : convert_(std::move(convert)), caller_converts_(caller_converts) {
        const std::size_t first = caller_converts ? 1 : 0;
        for (std::size_t thread = first; thread < first + helpers; ++thread) {
            try {
                helpers_.emplace_back([this, thread] { work(thread); });
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
        for (std::thread& helper : helpers_) helper.join();
    }

    // Hands out rows [begin, end) to the helpers.
    void begin(std::size_t begin, std::size_t end) {
        {
            const std::lock_guard lock(mutex_);
            next_row_ = begin;
            end_row_ = end;
            busy_ = helpers_.size();
            ++generation_;
        }
        wake_.notify_all();
    }
    std::size_t helper_count() const { return helpers_.size(); }

    // Converts rows on this thread, if it takes part, until none are left,
    // then waits for the helpers.
    void finish() {
        if (caller_converts_) take_rows(0);
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
    bool caller_converts_;
    std::mutex mutex_;
    std::condition_variable wake_, done_;
    std::size_t generation_ = 0;
    std::size_t busy_ = 0;  // helpers still on the rows handed out
    bool stopping_ = false;
    std::atomic<std::size_t> next_row_{0};
    std::size_t end_row_ = 0;
    std::vector<std::thread> helpers_;
};

}  // namespace

BmpQuantiser::Created BmpQuantiser::create(const PixelLayout& layout, const QuantiseOptions& options) {
    const std::uint64_t rows =
        std::max<std::uint64_t>(1, std::uint64_t{batch_bytes} / std::max<std::uint64_t>(1, layout.row_stride));
    const std::uint64_t rows_per_batch = std::min<std::uint64_t>(rows, layout.height);
    // Below 2^64: a batch is one row, or about batch_bytes.
    const std::optional<std::size_t> pixel_bytes = size_in_memory(rows_per_batch * layout.row_stride);
    const std::optional<std::size_t> index_bytes = size_in_memory(rows_per_batch * layout.width);
    if (!pixel_bytes || !index_bytes) return {QLX_BMP_TOO_LARGE, {}};
    // A picture of one batch needs no second buffer to read ahead into.
    std::array<Buffers, 2> buffers;
    for (Buffers& buffer : std::span(buffers).first(rows_per_batch < layout.height ? 2 : 1)) {
        std::optional<ByteBuffer> pixels = ByteBuffer::allocate(*pixel_bytes);
        std::optional<ByteBuffer> indices = ByteBuffer::allocate(*index_bytes);
        if (!pixels || !indices) return {QLX_OUT_OF_MEMORY, {}};
        buffer = {std::move(*pixels), std::move(*indices)};
    }
    const bool large = std::uint64_t{layout.width} * layout.height >= parallel_min_pixels;
    std::vector<Ditherer> ditherers;
    const PixelRules rules{layout.format, options.transparent_index};
    for (unsigned i = large ? thread_count(options) : 1; i > 0; --i) {
        std::optional<Ditherer> ditherer = Ditherer::create(options.dither, layout.width, rules);
        if (!ditherer) return {QLX_OUT_OF_MEMORY, {}};
        ditherers.push_back(std::move(*ditherer));
    }
    return {QLX_OK, BmpQuantiser(layout, static_cast<std::size_t>(rows_per_batch), std::move(buffers),
                                 std::move(ditherers), large && converts_aside(options))};
}

BmpQuantiser::BmpQuantiser(const PixelLayout& layout, std::size_t rows_per_batch, std::array<Buffers, 2> buffers,
                           std::vector<Ditherer> ditherers, bool converts_aside)
    : layout_(layout),
      rows_per_batch_(rows_per_batch),
      buffers_(std::move(buffers)),
      ditherers_(std::move(ditherers)),
      converts_aside_(converts_aside) {}

BmpQuantiser::Batch BmpQuantiser::batch_from(std::size_t first, std::size_t buffer) const {
    // QLX rows [first, first + count) lie in one run of stored rows.
    const std::size_t count = std::min(rows_per_batch_, layout_.height - first);
    return {first, count, layout_.top_down ? first : layout_.height - first - count, buffer};
}

const std::uint8_t* BmpQuantiser::read_batch(const PixelReader& read, const Batch& batch) {
    // Fits: create() checked that a batch of rows does.
    const auto stride = static_cast<std::size_t>(layout_.row_stride);
    // The padding after the run's last row may be missing at the end of the file.
    const std::size_t length = (batch.count - 1) * stride + layout_.width * pixel_order(layout_.format).bytes;
    return read(layout_.pixel_offset + batch.lowest_stored * layout_.row_stride,
                buffers_[batch.buffer].pixels.bytes().first(length));
}

// Each batch is converted while the next is read and the last written, on
// the crew's threads when there is a crew.
RunStatus BmpQuantiser::run(const PixelReader& read, const IndexWriter& write) {
    const std::size_t height = layout_.height;
    if (height == 0) return RunStatus::ok;
    Batch batch = batch_from(0, 0);
    std::unique_ptr<RowCrew> crew;
    if (ditherers_.size() > 1 || converts_aside_) {
        // The helpers read `batch` only between begin() and finish(), and it
        // changes only outside them.
        const Batch* in_hand = &batch;
        try {
            const auto helpers = static_cast<unsigned>(converts_aside_ ? 1 : ditherers_.size() - 1);
            crew = std::make_unique<RowCrew>(helpers, !converts_aside_,
                                             [this, in_hand](std::size_t thread, std::size_t begin, std::size_t end) {
                                                 quantise_rows(ditherers_[thread], *in_hand, begin, end);
                                             });
            // Rows that only helpers take need a helper.
            if (converts_aside_ && crew->helper_count() == 0) crew.reset();
        } catch (const std::exception&) {
            crew.reset();  // the rows are converted on this thread alone
        }
    }
    batch.pixels = read_batch(read, batch);
    if (batch.pixels == nullptr) return RunStatus::read_failed;
    if (crew) crew->begin(batch.first, batch.first + batch.count);
    for (;;) {
        const bool last = batch.first + batch.count == height;
        Batch next = last ? batch : batch_from(batch.first + batch.count, 1 - batch.buffer);
        if (!last) {
            next.pixels = read_batch(read, next);
            if (next.pixels == nullptr) return RunStatus::read_failed;
        }
        if (crew) {
            crew->finish();
        } else {
            quantise_rows(ditherers_[0], batch, batch.first, batch.first + batch.count);
        }
        const Batch done = batch;
        batch = next;
        if (crew && !last) crew->begin(batch.first, batch.first + batch.count);
        if (!write(buffers_[done.buffer].indices.bytes().first(done.count * layout_.width))) {
            return RunStatus::write_failed;
        }
        if (last) return RunStatus::ok;
    }
}

// QLX rows [begin, end) of the batch.
void BmpQuantiser::quantise_rows(Ditherer& ditherer, const Batch& batch, std::size_t begin, std::size_t end) {
    const std::size_t width = layout_.width;
    const auto stride = static_cast<std::size_t>(layout_.row_stride);
    std::uint8_t* indices = buffers_[batch.buffer].indices.data();
    for (std::size_t row = begin; row < end; ++row) {
        const std::size_t stored = layout_.top_down ? row : flipped_row(row, layout_.height);
        ditherer.quantise_row(batch.pixels + (stored - batch.lowest_stored) * stride, row,
                              indices + (row - batch.first) * width);
    }
}

const std::uint8_t* bytes_in_memory(std::span<const std::uint8_t> bytes, std::uint64_t offset, std::size_t length) {
    if (offset > bytes.size() || length > bytes.size() - offset) return nullptr;
    return bytes.data() + offset;
}

qlx_status quantise_in_memory(std::span<const std::uint8_t> source, const PixelLayout& layout,
                              std::span<std::uint8_t> indices, const QuantiseOptions& options) {
    if (std::uint64_t{layout.width} * layout.height > indices.size()) return QLX_CAPACITY_TOO_SMALL;
    BmpQuantiser::Created created = BmpQuantiser::create(layout, options);
    if (!created.quantiser) return created.status;
    std::size_t written = 0;
    const RunStatus run = created.quantiser->run(
        [source](std::uint64_t offset, std::span<std::uint8_t> out) {
            return bytes_in_memory(source, offset, out.size());
        },
        [&](std::span<const std::uint8_t> batch) {
            std::copy(batch.begin(), batch.end(), indices.begin() + static_cast<std::ptrdiff_t>(written));
            written += batch.size();
            return true;
        });
    return run == RunStatus::ok ? QLX_OK : QLX_BMP_PIXEL_DATA_CUT_SHORT;
}

}  // namespace qlx
