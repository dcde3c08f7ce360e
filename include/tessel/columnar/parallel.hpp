#pragma once

#include <chrono>
#include <cstddef>
#include <functional>

#include "tessel/columnar/batch.hpp"

namespace tessel {

// A columnar call worked through in chunks of rows, by the calling thread or by several threads.
// The output grows as rows are written (a trigger may yield several records, or none), so that
// a call needs the memory of its input and output plus a few chunks, whatever its row count.
// The rows, their order and any error are those of one thread working through all rows in order:
//  - with one thread, the calling thread works every chunk in order, writing into the output;
//  - with several, each worker takes the next chunk not yet taken, writes its rows into a
//    buffer of its own and appends them to the output when every earlier chunk is appended;
//    the calling thread only waits and polls.
// An error in a chunk stops the work on later chunks; the error of the earliest failed chunk,
// the first in row order, is rethrown once earlier chunks are done.  `poll` is called from the
// calling thread every `poll_interval` or so; what it throws stops the workers after their current
// chunk and is rethrown.

/// Where a call writes its rows: storage owned by the caller (for Python, a NumPy array), which
/// may move when it grows.  Called by one thread at a time.
class RowStore {
public:
    virtual ~RowStore() = default;
    /// Storage for at least `needed` rows, keeping the rows already written; `suggested` (no less
    /// than `needed`) is the size the caller expects to need in the end.  Returns the first row.
    virtual std::byte* reserve(std::size_t needed, std::size_t suggested) = 0;
};

/// How a call is worked through.
struct ChunkPlan {
    /// Input rows.
    std::size_t rows = 0;
    /// Most output rows one input row yields.
    std::size_t max_per_row = 1;
    /// Bytes of an output row.
    std::size_t row_bytes = 0;
    /// Threads that work the rows: 1 is the calling thread alone; more start that many workers
    /// (no more than there are chunks).
    std::size_t threads = 1;
    /// Samples of the longest waveform (0 when rows carry none): a chunk holds about
    /// `CHUNK_SAMPLES` samples.
    std::size_t samples_per_row = 0;
    /// Rows of the output at first (or fewer if the input has fewer rows): a call whose triggers
    /// are mostly dropped commits no great amount of memory; it grows by the rate seen so far.
    std::size_t first_output_rows = std::size_t{1} << 22;
};

/// Most rows of a chunk, and most waveform samples a chunk is sized for.
inline constexpr std::size_t CHUNK_ROWS = 8192;
inline constexpr std::size_t CHUNK_SAMPLES = std::size_t{1} << 21;

/// Rows of each chunk for `plan`: at most `CHUNK_ROWS` and `CHUNK_SAMPLES` samples, and small
/// enough to give each thread several chunks.
[[nodiscard]] std::size_t chunk_rows(const ChunkPlan& plan) noexcept;

/// Works rows [range.begin, range.end) into `out` (room for `max_per_row` rows per input row),
/// as the range functions of tessel/columnar/batch.hpp; called from several threads at once on
/// distinct ranges.
using ChunkWork = std::function<RowsDone(RowRange range, std::byte* out)>;

/// Works all rows of `plan` with `work` into `store`; returns the rows written (the output's
/// length) and the triggers truncated.
RowsDone run_chunks(const ChunkPlan& plan, const ChunkWork& work, RowStore& store,
                    const std::function<void()>& poll,
                    std::chrono::milliseconds poll_interval = std::chrono::milliseconds(50));

}  // namespace tessel
