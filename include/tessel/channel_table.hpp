#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <limits>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "tessel/loaded_settings.hpp"
#include "tessel/table_problem.hpp"

namespace tessel {

/// Finds the row of a channel number.  Built once from the channels of a table; a lookup is
/// one bounds test and one load when the channels span a range not much wider than their
/// count (the usual numbering 0..n-1 or a few blocks of it), and a binary search otherwise.
class ChannelIndex {
public:
    /// Returned by `find` for a channel without a row.
    static constexpr std::uint32_t npos = std::numeric_limits<std::uint32_t>::max();

    ChannelIndex() = default;
    /// `channels[row]` is the channel of each row; the channels must be distinct.
    explicit ChannelIndex(std::span<const std::int32_t> channels);

    /// Row of `channel`, or `npos`.
    [[nodiscard]] std::uint32_t find(std::int32_t channel) const noexcept {
        if (dense_) {
            // Unsigned wrap-around puts channels below the first one beyond the end as well.
            const auto slot = static_cast<std::uint64_t>(static_cast<std::int64_t>(channel) -
                                                         static_cast<std::int64_t>(first_));
            return slot < slots_.size() ? slots_[slot] : npos;
        }
        return find_sorted(channel);
    }

    /// Whether lookups go through the dense slot array.
    [[nodiscard]] bool is_dense() const noexcept { return dense_; }

private:
    [[nodiscard]] std::uint32_t find_sorted(std::int32_t channel) const noexcept;

    bool dense_ = true;
    std::int32_t first_ = 0;
    std::vector<std::uint32_t> slots_;                            // dense: row per channel - first_
    std::vector<std::pair<std::int32_t, std::uint32_t>> sorted_;  // sparse: (channel, row)
};

/// Values by channel number, for lookups on every record: stored by channel number directly
/// (one bounds test, one flag and one value, no row in between, so one prefetch covers it) when
/// the channels span a range not much wider than their count, otherwise by row behind a
/// `ChannelIndex`.
template <class T>
class ChannelMap {
public:
    ChannelMap() = default;
    /// `values[row]` belongs to `channels[row]`; the channels must be distinct.
    ChannelMap(std::span<const std::int32_t> channels, std::span<const T> values) {
        if (channels.empty()) {
            return;
        }
        const auto [lo, hi] = std::minmax_element(channels.begin(), channels.end());
        const std::int64_t range = static_cast<std::int64_t>(*hi) - *lo + 1;
        if (range <= 4 * static_cast<std::int64_t>(channels.size()) + 4096) {
            first_ = *lo;
            present_.assign(static_cast<std::size_t>(range), 0);
            values_.resize(static_cast<std::size_t>(range));
            for (std::size_t row = 0; row < channels.size(); ++row) {
                const auto slot =
                    static_cast<std::size_t>(static_cast<std::int64_t>(channels[row]) - first_);
                present_[slot] = 1;
                values_[slot] = values[row];
            }
            return;
        }
        index_ = ChannelIndex(channels);
        values_.assign(values.begin(), values.end());
    }

    /// The value of `channel`, or null when it has none.
    [[nodiscard]] const T* find(std::int32_t channel) const noexcept {
        if (!present_.empty()) {
            const std::uint64_t slot = slot_of(channel);
            return slot < present_.size() && present_[slot] != 0 ? &values_[slot] : nullptr;
        }
        const std::uint32_t row = index_.find(channel);
        return row == ChannelIndex::npos ? nullptr : &values_[row];
    }

    /// Asks the processor to fetch what `find(channel)` will read, where that needs no lookup.
    void prefetch(std::int32_t channel) const noexcept {
        const std::uint64_t slot = slot_of(channel);
        if (slot < present_.size()) {
            // The flag, and both ends of the value, which may straddle two cache lines.
            const T* value = &values_[slot];
            const auto* last = reinterpret_cast<const char*>(value + 1) - 1;
            __builtin_prefetch(&present_[slot]);
            __builtin_prefetch(value);
            __builtin_prefetch(last);
            // A prefetch changes nothing a program can see, so GCC's analysis of side effects
            // would drop calls to a function that only prefetches: the empty volatile statement
            // keeps them.
            asm volatile("" : : "r"(value), "r"(last));
        }
    }

    [[nodiscard]] bool is_direct() const noexcept { return !present_.empty(); }

private:
    [[nodiscard]] std::uint64_t slot_of(std::int32_t channel) const noexcept {
        // Unsigned wrap-around puts channels below the first one beyond the end as well.
        return static_cast<std::uint64_t>(static_cast<std::int64_t>(channel) -
                                          static_cast<std::int64_t>(first_));
    }

    std::int32_t first_ = 0;
    std::vector<std::uint8_t> present_;  // direct: whether each slot has a value
    std::vector<T> values_;              // direct: by slot; otherwise by row
    ChannelIndex index_;
};

/// A channel table read from a text file: one row per channel with its PMT type and any number
/// of calibration columns.
///
/// Format: comma-separated values.  Lines whose first non-blank character is '#' and lines of
/// white space only are skipped; the first other line is the header naming the columns.  The
/// columns "channel" (an integer) and "pmt_type" (an integer) are required; every other column
/// holds numbers (decimal point, optional exponent, "nan" and "inf" accepted; read the same
/// whatever the program's locale).  Spaces, tabs and a trailing carriage return around a field
/// are ignored.  Column names are distinct; channels are distinct.  Calibration columns come in
/// groups of five sharing a prefix: `<prefix>_slope`, `<prefix>_intercept`,
/// `<prefix>_slope_uncertainty`, `<prefix>_intercept_uncertainty`, `<prefix>_covariance`.
class ChannelTable {
public:
    /// Reads `file`.  Throws std::runtime_error naming the file, and where it applies the line
    /// and the column, for a file that cannot be read, a missing header or required column, a
    /// column named twice, a row with the wrong number of fields, a field that is not a number
    /// of its column's kind, or a channel given twice (both lines named).
    explicit ChannelTable(const std::filesystem::path& file);
    /// The same over `content`, the file's text as read already (`read_whole_file`).
    ChannelTable(const std::filesystem::path& file, const FileText& content);

    /// Reads the text of the table file `file`, appending every problem to `problems` (at
    /// most `max_row_problems` of its rows, then their count), with the columns `wanted`
    /// required besides "channel" and "pmt_type" (and finite); the table when there was none.
    static std::optional<ChannelTable> parse(std::string_view text,
                                             const std::filesystem::path& file,
                                             std::vector<std::string> wanted,
                                             std::vector<TableProblem>& problems,
                                             std::size_t max_row_problems);

    [[nodiscard]] const std::filesystem::path& file() const noexcept { return file_; }
    /// Number of rows (channels).
    [[nodiscard]] std::size_t size() const noexcept { return channels_.size(); }
    /// Channel of each row, in file order.
    [[nodiscard]] const std::vector<std::int32_t>& channels() const noexcept { return channels_; }
    /// PMT type of each row.
    [[nodiscard]] const std::vector<std::int32_t>& pmt_types() const noexcept { return pmt_types_; }
    /// Names of the columns after "channel" and "pmt_type", in file order.
    [[nodiscard]] const std::vector<std::string>& column_names() const noexcept {
        return column_names_;
    }
    [[nodiscard]] const ChannelIndex& index() const noexcept { return index_; }

    /// Values of the numeric column `name`, one per row.  Throws std::runtime_error naming the
    /// file and the column when the table has no such column.
    [[nodiscard]] const std::vector<double>& column(const std::string& name) const;

private:
    ChannelTable() = default;

    std::filesystem::path file_;
    std::vector<std::int32_t> channels_;
    std::vector<std::int32_t> pmt_types_;
    std::vector<std::string> column_names_;
    std::vector<std::vector<double>> columns_;
    ChannelIndex index_;
};

/// What feature extraction does with a channel that has no row in the configured table.
enum class UnknownChannels : std::uint8_t {
    error,  ///< std::runtime_error naming the channel and the table file
    drop,   ///< the trigger yields no record
};

/// The PMT type of each channel, as feature extraction applies it (`extractors: {channels:
/// {table: FILE, unknown_channels: error|drop}}`).
class ChannelTypes {
public:
    ChannelTypes(const ChannelTable& table, UnknownChannels unknown);

    /// The PMT type of `channel`, or null when the table has no row for it.
    [[nodiscard]] const std::int32_t* find(std::int32_t channel) const noexcept {
        return types_.find(channel);
    }
    void prefetch(std::int32_t channel) const noexcept { types_.prefetch(channel); }
    [[nodiscard]] UnknownChannels unknown_channels() const noexcept { return unknown_; }
    [[nodiscard]] const std::filesystem::path& file() const noexcept { return file_; }

    /// std::runtime_error "Channel <channel> is not in the channel table <file> ...".
    [[noreturn]] void throw_unknown(std::int32_t channel) const;

private:
    ChannelMap<std::int32_t> types_;
    UnknownChannels unknown_;
    std::filesystem::path file_;
};

}  // namespace tessel
