#include "tessel/columnar/parallel.hpp"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstring>
#include <exception>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace tessel {

namespace {

using Clock = std::chrono::steady_clock;

/// The output size to grow to: what the rows so far project for the whole call plus a tenth,
/// and room for the next chunk; never beyond the most the call can write.
std::size_t projected(const ChunkPlan& plan, std::size_t rows_done, std::size_t written,
                      std::size_t needed) noexcept {
    const std::size_t most = plan.rows * plan.max_per_row;
    std::size_t estimate = std::min(plan.rows, plan.first_output_rows);
    if (rows_done > 0) {
        const double ratio = static_cast<double>(written) / static_cast<double>(rows_done);
        estimate = static_cast<std::size_t>(ratio * 1.1 * static_cast<double>(plan.rows));
    }
    return std::max(needed, std::min(estimate + (needed - written), most));
}

RowsDone run_alone(const ChunkPlan& plan, std::size_t chunk, const ChunkWork& work, RowStore& store,
                   const std::function<void()>& poll, std::chrono::milliseconds poll_interval) {
    RowsDone total;
    auto last_poll = Clock::now();
    for (std::size_t begin = 0; begin < plan.rows; begin += chunk) {
        const std::size_t end = std::min(plan.rows, begin + chunk);
        const std::size_t needed = total.written + (end - begin) * plan.max_per_row;
        std::byte* out = store.reserve(needed, projected(plan, begin, total.written, needed));
        const RowsDone done = work({begin, end}, out + total.written * plan.row_bytes);
        total.add(done);
        if (poll && Clock::now() - last_poll >= poll_interval) {
            poll();
            last_poll = Clock::now();
        }
    }
    return total;
}

/// What the workers of one call share.
class Workers {
public:
    Workers(const ChunkPlan& plan, std::size_t chunk, const ChunkWork& work, RowStore& store)
        : plan_(plan),
          chunk_(chunk),
          chunks_((plan.rows + chunk - 1) / chunk),
          work_(work),
          store_(store),
          failed_chunk_(chunks_) {}

    /// Runs `threads` workers and waits for them, polling every `interval`.
    RowsDone run(std::size_t threads, const std::function<void()>& poll,
                 std::chrono::milliseconds interval) {
        std::vector<std::thread> started;
        started.reserve(threads);
        try {
            for (std::size_t t = 0; t < threads; ++t) {
                {
                    const std::lock_guard lock(mutex_);
                    ++running_;
                }
                try {
                    started.emplace_back([this] { work(); });
                } catch (...) {
                    const std::lock_guard lock(mutex_);
                    --running_;
                    throw;
                }
            }
            std::unique_lock lock(mutex_);
            while (running_ > 0) {
                if (!changed_.wait_for(lock, interval, [this] { return running_ == 0; }) && poll) {
                    lock.unlock();
                    poll();
                    lock.lock();
                }
            }
        } catch (...) {
            stop();
            join(started);
            throw;
        }
        join(started);
        if (error_) {
            std::rethrow_exception(error_);
        }
        return total_;
    }

private:
    void stop() {
        const std::lock_guard lock(mutex_);
        stopped_ = true;
        changed_.notify_all();
    }

    static void join(std::vector<std::thread>& threads) {
        for (std::thread& t : threads) {
            t.join();
        }
    }

    /// Whether chunk `k` is still wanted (under the lock).
    [[nodiscard]] bool wanted(std::size_t k) const noexcept {
        return !stopped_ && k < failed_chunk_;
    }

    void fail(std::size_t k, std::exception_ptr error) {
        const std::lock_guard lock(mutex_);
        if (k < failed_chunk_) {
            failed_chunk_ = k;
            error_ = std::move(error);
        }
        changed_.notify_all();
    }

    void work() noexcept {
        try {
            std::vector<std::byte> buffer(chunk_ * plan_.max_per_row * plan_.row_bytes);
            for (;;) {
                const std::size_t k = next_chunk_.fetch_add(1);
                {
                    const std::lock_guard lock(mutex_);
                    if (k >= chunks_ || !wanted(k)) {
                        break;
                    }
                }
                const std::size_t begin = k * chunk_;
                const std::size_t end = std::min(plan_.rows, begin + chunk_);
                RowsDone done;
                try {
                    done = work_({begin, end}, buffer.data());
                } catch (...) {
                    fail(k, std::current_exception());
                    break;
                }
                if (!append(k, end, done, buffer)) {
                    break;
                }
            }
        } catch (...) {
            // Only the scratch buffer's allocation gets here: no chunk is lost, since a chunk
            // is taken only after it; fail at the first chunk not yet appended.
            const std::lock_guard lock(mutex_);
            if (appended_ < failed_chunk_) {
                failed_chunk_ = appended_;
                error_ = std::current_exception();
            }
            changed_.notify_all();
        }
        const std::lock_guard lock(mutex_);
        --running_;
        changed_.notify_all();
    }

    /// Appends chunk `k`'s rows once every earlier chunk is appended; false if they are no
    /// longer wanted.
    bool append(std::size_t k, std::size_t end, const RowsDone& done,
                const std::vector<std::byte>& buffer) {
        std::size_t written = 0;
        {
            std::unique_lock lock(mutex_);
            changed_.wait(lock, [&] { return appended_ == k || !wanted(k); });
            if (!wanted(k)) {
                return false;
            }
            written = total_.written;
        }
        // Only chunk k's worker gets here until appended_ moves on.
        try {
            const std::size_t needed = written + done.written;
            std::byte* out = store_.reserve(needed, projected(plan_, end, needed, needed));
            if (done.written > 0) {
                std::memcpy(out + written * plan_.row_bytes, buffer.data(),
                            done.written * plan_.row_bytes);
            }
        } catch (...) {
            fail(k, std::current_exception());
            return false;
        }
        const std::lock_guard lock(mutex_);
        total_.add(done);
        appended_ = k + 1;
        changed_.notify_all();
        return true;
    }

    const ChunkPlan& plan_;
    const std::size_t chunk_;
    const std::size_t chunks_;
    const ChunkWork& work_;
    RowStore& store_;

    std::atomic<std::size_t> next_chunk_{0};
    std::mutex mutex_;
    std::condition_variable changed_;
    // Under mutex_:
    std::size_t running_ = 0;
    std::size_t appended_ = 0;
    std::size_t failed_chunk_;
    std::exception_ptr error_;
    bool stopped_ = false;
    RowsDone total_;
};

}  // namespace

std::size_t chunk_rows(const ChunkPlan& plan) noexcept {
    std::size_t rows = CHUNK_ROWS;
    if (plan.samples_per_row > 0) {
        rows = std::clamp<std::size_t>(CHUNK_SAMPLES / plan.samples_per_row, 1, CHUNK_ROWS);
    }
    if (plan.threads > 1) {
        // Eight chunks per thread at least, so that a thread slowed down by other load on the
        // machine holds up the others by little.
        const std::size_t parts = std::min(plan.threads, plan.rows) * 8;
        const std::size_t share = (plan.rows + parts - 1) / parts;
        rows = std::clamp<std::size_t>(share, 1, rows);
    }
    return rows;
}

RowsDone run_chunks(const ChunkPlan& plan, const ChunkWork& work, RowStore& store,
                    const std::function<void()>& poll, std::chrono::milliseconds poll_interval) {
    if (plan.rows == 0) {
        return {};
    }
    const std::size_t chunk = chunk_rows(plan);
    const std::size_t threads = std::min(plan.threads, (plan.rows + chunk - 1) / chunk);
    if (threads <= 1) {
        return run_alone(plan, chunk, work, store, poll, poll_interval);
    }
    Workers workers(plan, chunk, work, store);
    return workers.run(threads, poll, poll_interval);
}

}  // namespace tessel
