#include "tessel/channel_table.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <exception>
#include <map>
#include <sstream>
#include <stdexcept>
#include <string_view>
#include <system_error>

#include "tessel/text.hpp"

namespace tessel {

namespace {

// A dense slot array is used while it is at most this many times the channel count, or this
// small in any case (4 bytes a slot).
constexpr std::int64_t DENSE_FACTOR = 4;
constexpr std::int64_t DENSE_MIN_SLOTS = 65536;

std::vector<std::string_view> split_fields(std::string_view line) {
    std::vector<std::string_view> fields;
    for (;;) {
        const auto comma = line.find(',');
        fields.push_back(text::trim(line.substr(0, comma)));
        if (comma == std::string_view::npos) {
            return fields;
        }
        line.remove_prefix(comma + 1);
    }
}

/// An optional leading '+' is taken, as a table written by hand may have one.
std::string_view without_plus(std::string_view s) noexcept {
    if (s.size() > 1 && s.front() == '+' && s[1] != '-' && s[1] != '+') {
        s.remove_prefix(1);
    }
    return s;
}

template <class T>
bool parse_whole(std::string_view text, T& value) noexcept {
    text = without_plus(text);
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    return ec == std::errc() && ptr == end && !text.empty();
}

std::string plain_quotes(std::string_view s) {
    std::string out;
    out.reserve(s.size() + 2);
    out.push_back('"');
    out.append(s);
    out.push_back('"');
    return out;
}

}  // namespace

using namespace text;

ChannelIndex::ChannelIndex(std::span<const std::int32_t> channels) {
    if (channels.empty()) {
        return;
    }
    const auto [lo, hi] = std::minmax_element(channels.begin(), channels.end());
    const std::int64_t range = static_cast<std::int64_t>(*hi) - *lo + 1;
    const auto count = static_cast<std::int64_t>(channels.size());
    dense_ = range <= std::max(DENSE_FACTOR * count, DENSE_MIN_SLOTS);
    if (dense_) {
        first_ = *lo;
        slots_.assign(static_cast<std::size_t>(range), npos);
        for (std::size_t row = 0; row < channels.size(); ++row) {
            slots_[static_cast<std::size_t>(static_cast<std::int64_t>(channels[row]) - first_)] =
                static_cast<std::uint32_t>(row);
        }
        return;
    }
    sorted_.reserve(channels.size());
    for (std::size_t row = 0; row < channels.size(); ++row) {
        sorted_.emplace_back(channels[row], static_cast<std::uint32_t>(row));
    }
    std::sort(sorted_.begin(), sorted_.end());
}

std::uint32_t ChannelIndex::find_sorted(std::int32_t channel) const noexcept {
    const auto it = std::lower_bound(sorted_.begin(), sorted_.end(), channel,
                                     [](const std::pair<std::int32_t, std::uint32_t>& e,
                                        std::int32_t c) { return e.first < c; });
    return it != sorted_.end() && it->first == channel ? it->second : npos;
}

ChannelTable::ChannelTable(const std::filesystem::path& file)
    : ChannelTable(file, read_whole_file(file)) {}

ChannelTable::ChannelTable(const std::filesystem::path& file, const FileText& content) {
    if (!content.text) {
        content.throw_unread(file, "channel table", true);
    }
    std::vector<TableProblem> problems;
    auto table = parse(*content.text, file, {}, problems, problems.max_size());
    throw_first_refusal(problems);
    *this = std::move(*table);
}

std::optional<ChannelTable> ChannelTable::parse(std::string_view text,
                                                const std::filesystem::path& file,
                                                std::vector<std::string> wanted,
                                                std::vector<TableProblem>& problems,
                                                std::size_t max_row_problems) {
    const std::string name = file.string();
    const std::size_t before = problems.size();
    wanted.insert(wanted.begin(), {"channel", "pmt_type"});
    std::size_t bad = 0;
    const auto at = [&](std::size_t line) {
        return "Channel table " + name + ", line " + std::to_string(line) + ": ";
    };
    // A row's problem; beyond `max_row_problems` only counted.
    const auto row_problem = [&](TableProblem problem) {
        if (++bad <= max_row_problems) {
            problems.push_back(std::move(problem));
        }
    };
    ChannelTable table;
    table.file_ = file;
    std::vector<std::string> header;
    std::size_t header_line = 0;
    std::size_t channel_col = 0;
    std::size_t type_col = 0;
    std::vector<std::size_t> numeric_cols;  // header position of each entry of columns_
    std::map<std::int32_t, std::size_t> first_line;
    std::size_t line_number = 0;
    while (!text.empty()) {
        ++line_number;
        const auto end = text.find('\n');
        const std::string_view line = trim(text.substr(0, end));
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        if (line.empty() || line.front() == '#') {
            continue;
        }
        const auto fields = split_fields(line);
        const auto number = static_cast<int>(line_number);
        if (header_line == 0) {
            header_line = line_number;
            std::vector<std::string_view> present;
            for (std::size_t k = 0; k < fields.size(); ++k) {
                const std::string col(fields[k]);
                if (col.empty()) {
                    problems.push_back({number, "distinct, non-empty column names",
                                        "an empty column name", "",
                                        at(line_number) + "header column " + std::to_string(k + 1) +
                                            " has no name"});
                } else if (std::find(header.begin(), header.end(), col) != header.end()) {
                    problems.push_back({number, "distinct, non-empty column names",
                                        in_quotes(col) + " twice", "",
                                        at(line_number) + "column " + plain_quotes(col) +
                                            " is named twice in the header"});
                }
                header.push_back(col);
                present.push_back(fields[k]);
                if (col == "channel") {
                    channel_col = k;
                } else if (col == "pmt_type") {
                    type_col = k;
                } else {
                    numeric_cols.push_back(k);
                    table.column_names_.push_back(col);
                }
            }
            for (const auto& column : wanted) {
                if (std::find(header.begin(), header.end(), column) == header.end()) {
                    const bool required = column == "channel" || column == "pmt_type";
                    problems.push_back(
                        {number, "a column " + in_quotes(column),
                         "the columns " + in_quotes_list(present, " and "),
                         did_you_mean(column, present),
                         required
                             ? at(line_number) + "the header lacks the column " +
                                   plain_quotes(column) +
                                   " (the header is the first line that is neither blank "
                                   "nor a '#' comment)"
                             : "Channel table " + name + " has no column " + plain_quotes(column),
                         required ? 0 : 3});
                }
            }
            if (problems.size() != before) {
                return std::nullopt;  // rows cannot be read against this header
            }
            table.columns_.resize(numeric_cols.size());
            continue;
        }
        if (fields.size() != header.size()) {
            row_problem(
                {number, std::to_string(header.size()) + " comma-separated fields, as the header",
                 std::to_string(fields.size()) + " in " + in_quotes(line),
                 fields.size() > header.size() ? "a decimal comma? write decimal points" : "",
                 at(line_number) + "expected " + std::to_string(header.size()) + " fields (" +
                     std::to_string(header.size() - 1) + " commas) as in the header, found " +
                     std::to_string(fields.size())});
            continue;
        }
        const auto bad_field = [&](std::size_t k, const std::string& expected, const char* kind) {
            row_problem({number, expected + " in column " + in_quotes(header[k]),
                         in_quotes(fields[k]), "",
                         at(line_number) + "column " + std::to_string(k + 1) + " (" + header[k] +
                             "): expected " + kind + ", found " + plain_quotes(fields[k])});
        };
        // Channel, PMT type, then the other columns in header order; every field is read.
        std::int32_t channel = 0;
        std::int32_t pmt_type = 0;
        bool usable = true;
        if (!parse_whole(fields[channel_col], channel)) {
            bad_field(channel_col, "an integer", "an integer channel number");
            usable = false;
        } else if (const auto [first, inserted] = first_line.emplace(channel, line_number);
                   !inserted) {
            // Reported at its second line, naming the first; the library reports it only when
            // every row is sound.
            row_problem({number, "each channel once",
                         "channel " + std::string(fields[channel_col]) + " again (first on line " +
                             std::to_string(first->second) + ")",
                         "",
                         at(line_number) + "channel " + std::to_string(channel) +
                             " is given twice (first on line " + std::to_string(first->second) +
                             ")",
                         2});
        }
        if (!parse_whole(fields[type_col], pmt_type)) {
            bad_field(type_col, "an integer", "an integer PMT type");
            usable = false;
        }
        std::vector<double> values(numeric_cols.size());
        for (std::size_t c = 0; c < numeric_cols.size(); ++c) {
            const std::size_t k = numeric_cols[c];
            const bool calibration =
                std::find(wanted.begin(), wanted.end(), header[k]) != wanted.end();
            if (!parse_whole(fields[k], values[c])) {
                bad_field(k, calibration ? "a finite number" : "a number", "a number");
                usable = false;
            } else if (calibration && !std::isfinite(values[c])) {
                row_problem({number, "a finite number in column " + in_quotes(header[k]),
                             in_quotes(fields[k])});
            }
        }
        if (!usable) {
            continue;
        }
        for (std::size_t c = 0; c < values.size(); ++c) {
            table.columns_[c].push_back(values[c]);
        }
        table.channels_.push_back(channel);
        table.pmt_types_.push_back(pmt_type);
    }
    if (bad > max_row_problems) {
        problems.push_back({0, "well-formed rows",
                            std::to_string(bad - max_row_problems) + " more malformed rows"});
    }
    if (header_line == 0) {
        problems.push_back({0, "a header line naming the columns", "an empty table", "",
                            "Channel table " + name + " has no header line naming its columns", 1});
    } else if (table.channels_.empty() && bad == 0) {
        problems.push_back({static_cast<int>(header_line),
                            "at least one channel row after the header", "none", "",
                            "Channel table " + name + " has no channel rows after its header", 1});
    } else if (table.channels_.size() >= ChannelIndex::npos) {
        problems.push_back({0, "fewer rows", std::to_string(table.channels_.size()), "",
                            "Channel table " + name + " has too many rows", 1});
    }
    if (problems.size() != before) {
        return std::nullopt;
    }
    table.index_ = ChannelIndex(table.channels_);
    return table;
}

const std::vector<double>& ChannelTable::column(const std::string& name) const {
    const auto it = std::find(column_names_.begin(), column_names_.end(), name);
    if (it == column_names_.end()) {
        throw std::runtime_error("Channel table " + file_.string() + " has no column " +
                                 plain_quotes(name));
    }
    return columns_[static_cast<std::size_t>(it - column_names_.begin())];
}

ChannelTypes::ChannelTypes(const ChannelTable& table, UnknownChannels unknown)
    : types_(table.channels(), table.pmt_types()), unknown_(unknown), file_(table.file()) {}

void ChannelTypes::throw_unknown(std::int32_t channel) const {
    throw std::runtime_error("Channel " + std::to_string(channel) +
                             " is not in the channel table " + file_.string() +
                             " (set extractors.channels.unknown_channels: drop to skip such "
                             "triggers)");
}

}  // namespace tessel
