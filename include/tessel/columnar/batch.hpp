#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <map>
#include <span>
#include <vector>

#include "tessel/columnar/rows.hpp"
#include "tessel/extractors.hpp"
#include "tessel/hit_maker.hpp"
#include "tessel/reconstructor.hpp"
#include "tessel/trigger.hpp"
#include "tessel/trigger_step.hpp"

namespace tessel {

/// Read-only rows of `T` laid out at a fixed byte stride, as NumPy lays out a one-dimensional
/// array: the stride may be negative, zero or not a multiple of the row's alignment, and the
/// data may be misaligned, so a row is copied out with memcpy rather than referenced.
template <class T>
class StridedRows {
public:
    StridedRows() = default;
    StridedRows(const void* data, std::size_t size, std::ptrdiff_t stride) noexcept
        : data_(static_cast<const std::byte*>(data)), size_(size), stride_(stride) {}
    explicit StridedRows(std::span<const T> rows) noexcept
        : StridedRows(rows.data(), rows.size(), static_cast<std::ptrdiff_t>(sizeof(T))) {}

    [[nodiscard]] std::size_t size() const noexcept { return size_; }
    [[nodiscard]] std::ptrdiff_t stride() const noexcept { return stride_; }
    [[nodiscard]] const std::byte* data() const noexcept { return data_; }

    [[nodiscard]] T operator[](std::size_t i) const noexcept {
        T row;
        std::memcpy(&row, data_ + static_cast<std::ptrdiff_t>(i) * stride_, sizeof(T));
        return row;
    }

private:
    const std::byte* data_ = nullptr;
    std::size_t size_ = 0;
    std::ptrdiff_t stride_ = static_cast<std::ptrdiff_t>(sizeof(T));
};

/// The samples of a run of waveforms, one per trigger row, in one of two layouts:
///  - fixed length: `count` rows of `length` samples, a two-dimensional array;
///  - variable length: a flat array of samples and `count + 1` offsets, waveform i being
///    samples[offsets[i], offsets[i + 1]) (the list layout of Arrow and awkward arrays);
///    offsets[0] need not be 0.
/// Both take byte strides, so any NumPy view (a column slice, a reversed or every-other view)
/// is read in place.  A waveform whose samples are contiguous and aligned is handed out as a
/// span into the caller's memory; any other is gathered into a scratch buffer sized once per
/// call.
class WaveformRows {
public:
    /// Two-dimensional layout; strides in bytes.
    static WaveformRows fixed(const void* data, std::size_t count, std::size_t length,
                              std::ptrdiff_t row_stride, std::ptrdiff_t sample_stride) noexcept;
    /// Contiguous two-dimensional layout (`count` * `length` samples).
    static WaveformRows fixed(std::span<const std::uint16_t> samples, std::size_t count,
                              std::size_t length) noexcept;
    /// Flat samples plus offsets; strides in bytes.
    static WaveformRows ragged(const void* samples, std::size_t sample_count,
                               std::ptrdiff_t sample_stride, const void* offsets,
                               std::size_t offset_count, std::ptrdiff_t offset_stride) noexcept;
    /// Contiguous flat samples and offsets.
    static WaveformRows ragged(std::span<const std::uint16_t> samples,
                               std::span<const std::int64_t> offsets) noexcept;

    /// Checks the layout against `triggers` trigger rows and throws std::invalid_argument with
    /// a message naming the first fault: a row count differing from `triggers`, an offsets
    /// array not of length triggers + 1, an offset outside [0, number of samples], offsets that
    /// decrease.  Returns the length of the longest waveform.  No waveform may be read before
    /// this has passed.
    [[nodiscard]] std::size_t validate(std::size_t triggers) const;

    /// Number of waveforms the layout describes.
    [[nodiscard]] std::size_t count() const noexcept;
    /// Whether waveform `i` can be handed out without a copy.
    [[nodiscard]] bool is_direct() const noexcept { return direct_; }

    /// Samples of waveform `i`, in place or gathered into `scratch` (which must hold the
    /// longest waveform when `!is_direct()`).  The offsets are read again here and checked
    /// against the samples and the scratch room, so that offsets changed by another thread
    /// after `validate` (the batch paths run without the interpreter lock) cannot make it read
    /// outside the arrays: std::invalid_argument instead.
    [[nodiscard]] std::span<const std::uint16_t> get(std::size_t i,
                                                     std::span<std::uint16_t> scratch) const {
        const std::byte* first = nullptr;
        std::size_t length = 0;
        if (ragged_) {
            const std::int64_t begin = offsets_[i];
            const std::int64_t end = offsets_[i + 1];
            if (begin < 0 || end < begin || end > static_cast<std::int64_t>(sample_count_) ||
                (!direct_ && static_cast<std::size_t>(end - begin) > scratch.size())) {
                throw_offsets_changed();
            }
            first = samples_ + begin * sample_stride_;
            length = static_cast<std::size_t>(end - begin);
        } else {
            first = samples_ + static_cast<std::ptrdiff_t>(i) * row_stride_;
            length = length_;
        }
        if (direct_) {
            return {reinterpret_cast<const std::uint16_t*>(first), length};
        }
        return gather(first, length, scratch);
    }

private:
    WaveformRows() = default;
    [[noreturn]] static void throw_offsets_changed();
    std::span<const std::uint16_t> gather(const std::byte* first, std::size_t length,
                                          std::span<std::uint16_t> scratch) const noexcept;

    const std::byte* samples_ = nullptr;
    std::ptrdiff_t sample_stride_ = 2;
    // Fixed layout.
    std::size_t rows_ = 0;
    std::size_t length_ = 0;
    std::ptrdiff_t row_stride_ = 0;
    // Variable layout.
    bool ragged_ = false;
    std::size_t sample_count_ = 0;
    StridedRows<std::int64_t> offsets_;
    bool direct_ = false;
};

// The columnar path: trigger rows in, feature or hit rows out, each trigger through the same
// `TriggerStep` and hit making (`make_hit_with`) as the object path, so its results are the
// object path's by construction: features from `extract_rows` equal
// `hit_features_list_to_numpy(FeatureExtractor::extract_features(...))`, hits equal
// `hit_list_to_numpy(ChargeReconstruction::reconstruct(...))` and
// `hit_list_to_numpy(HitMaker::make_hits(...))`.
//
// `first_trigger` is the position in the run of the first row: row i gets trigger position
// first_trigger + i in its hit ids, so a run processed in chunks gets the ids of a single call.
//
// A call is checked as a whole first (`TarvoRowInput::check`, `check_trigger_positions`), then
// worked through in one or more row ranges [begin, end): the range functions are re-entrant
// (several threads may work on distinct ranges of one call, each with its own output), allocate
// nothing per row, and write the rows of their range from `out[0]` on, in input order, returning
// how many they wrote.  `out` needs room for `TriggerStep::max_records()` rows per input row.  An
// error raised while working (a waveform too short for the edge search, an exception from a
// reconstructor) ends the range with rows already written to `out`, which the caller discards.

/// A range of rows [begin, end) of a call.
struct RowRange {
    std::size_t begin;
    std::size_t end;
};

/// Records dropped per channel (the trigger's channel), only channels with a drop, by channel.
using ChannelDrops = std::map<std::int32_t, DropCounts>;

/// What a range produced.
struct RowsDone {
    /// Rows written.
    std::size_t written = 0;
    /// Triggers whose extractor found more records than a trigger can hold (kept the first).
    std::size_t truncated = 0;
    /// The records dropped, per channel and cause (`truncated` again among them).
    ChannelDrops drops;

    /// Adds the counts of a later range.
    void add(const RowsDone& later) {
        written += later.written;
        truncated += later.truncated;
        for (const auto& [channel, counts] : later.drops) {
            drops[channel] += counts;
        }
    }
};

/// Waveform trigger rows and their samples, checked against each other.
class TarvoRowInput {
public:
    /// Checks the layout of `waveforms` against the trigger rows (std::invalid_argument naming
    /// the first fault, see `WaveformRows::validate`) and that the positions from
    /// `first_trigger` fit the hit id (std::length_error).
    static TarvoRowInput check(StridedRows<TarvoTriggerNumpyRow> triggers,
                               const WaveformRows& waveforms, std::uint64_t first_trigger);

    [[nodiscard]] std::size_t size() const noexcept { return triggers_.size(); }
    [[nodiscard]] const StridedRows<TarvoTriggerNumpyRow>& triggers() const noexcept {
        return triggers_;
    }
    [[nodiscard]] const WaveformRows& waveforms() const noexcept { return waveforms_; }
    /// Samples of the longest waveform (the scratch room a range needs for gathered ones).
    [[nodiscard]] std::size_t longest() const noexcept { return longest_; }
    [[nodiscard]] std::uint64_t first_trigger() const noexcept { return first_trigger_; }

private:
    TarvoRowInput(StridedRows<TarvoTriggerNumpyRow> triggers, const WaveformRows& waveforms,
                  std::size_t longest, std::uint64_t first_trigger) noexcept
        : triggers_(triggers),
          waveforms_(waveforms),
          longest_(longest),
          first_trigger_(first_trigger) {}

    StridedRows<TarvoTriggerNumpyRow> triggers_;
    WaveformRows waveforms_;
    std::size_t longest_;
    std::uint64_t first_trigger_;
};

/// Feature rows of rows `range` of waveform triggers.  A waveform of fewer than 3 samples that
/// the extractor does not drop first raises the extractor's std::invalid_argument, with the
/// row, its trigger position and its length added to the message (the original error nested).
RowsDone extract_rows(const TriggerStep& step, const TarvoRowInput& input, RowRange range,
                      HitFeaturesNumpyRow* out);
/// Valid hit rows of rows `range` of waveform triggers, made with `calls` (a copy of
/// `HitMaker::calls()`), trigger by trigger.
RowsDone reconstruct_rows(const TriggerStep& step, std::span<const RecoCall> calls,
                          const TarvoRowInput& input, RowRange range, HitNumpyRow* out);

/// The pulse shapes of the records of rows `range` of waveform triggers, one per record with
/// its id (joins the rows of `extract_rows` and `reconstruct_rows` by id); the step must use
/// the pulse finder.
RowsDone pulse_rows(const TriggerStep& step, const TarvoRowInput& input, RowRange range,
                    PulseShape* out);

/// Feature rows of rows `range` of multi-PMT triggers (one per trigger); the positions from
/// `first_trigger` must have been checked with `check_trigger_positions`.
RowsDone extract_rows(const TriggerStep& step, StridedRows<MultiPMTTriggerNumpyRow> triggers,
                      std::uint64_t first_trigger, RowRange range, HitFeaturesNumpyRow* out);
/// Valid hit rows of rows `range` of multi-PMT triggers.
RowsDone reconstruct_rows(const TriggerStep& step, std::span<const RecoCall> calls,
                          StridedRows<MultiPMTTriggerNumpyRow> triggers,
                          std::uint64_t first_trigger, RowRange range, HitNumpyRow* out);

/// Hit rows from rows `range` of feature rows (-1 / NaN mark unset features), as
/// `HitMaker::make_hits`.
RowsDone make_hit_rows(std::span<const RecoCall> calls, StridedRows<HitFeaturesNumpyRow> features,
                       bool no_discard, RowRange range, HitNumpyRow* out);

}  // namespace tessel
