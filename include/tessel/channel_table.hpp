#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <limits>
#include <span>
#include <string>
#include <utility>
#include <vector>

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

/// The five numbers of a line and its uncertainty, as a `LinearReco` takes them.
struct LineCalibration {
    double slope = 0.0;
    double intercept = 0.0;
    double slope_uncertainty = 0.0;
    double intercept_uncertainty = 0.0;
    double covariance = 0.0;
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
    /// The line of every row from the five columns of `prefix`; throws as `column` for the
    /// first of them that is missing.
    [[nodiscard]] std::vector<LineCalibration> lines(const std::string& prefix) const;

private:
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

    /// Result of `find` for a channel without a row.
    static constexpr std::int64_t unknown = std::numeric_limits<std::int64_t>::min();

    /// PMT type of `channel`, or `unknown`.
    [[nodiscard]] std::int64_t find(std::int32_t channel) const noexcept {
        const std::uint32_t row = index_.find(channel);
        return row == ChannelIndex::npos ? unknown : types_[row];
    }
    [[nodiscard]] UnknownChannels unknown_channels() const noexcept { return unknown_; }
    [[nodiscard]] const std::filesystem::path& file() const noexcept { return file_; }

    /// The error for `channel` not being in the table.
    [[noreturn]] void throw_unknown(std::int32_t channel) const;

private:
    ChannelIndex index_;
    std::vector<std::int32_t> types_;
    UnknownChannels unknown_;
    std::filesystem::path file_;
};

}  // namespace tessel
