#include "tessel/channel_table.hpp"

#include <algorithm>
#include <charconv>
#include <fstream>
#include <stdexcept>
#include <string_view>
#include <system_error>

namespace tessel {

namespace {

// A dense slot array is used while it is at most this many times the channel count, or this
// small in any case (4 bytes a slot).
constexpr std::int64_t DENSE_FACTOR = 4;
constexpr std::int64_t DENSE_MIN_SLOTS = 65536;

bool is_blank(char c) noexcept { return c == ' ' || c == '\t' || c == '\r'; }

std::string_view trim(std::string_view s) noexcept {
    while (!s.empty() && is_blank(s.front())) {
        s.remove_prefix(1);
    }
    while (!s.empty() && is_blank(s.back())) {
        s.remove_suffix(1);
    }
    return s;
}

std::vector<std::string_view> split_fields(std::string_view line) {
    std::vector<std::string_view> fields;
    for (;;) {
        const auto comma = line.find(',');
        fields.push_back(trim(line.substr(0, comma)));
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

std::string in_quotes(std::string_view s) {
    std::string out;
    out.reserve(s.size() + 2);
    out.push_back('"');
    out.append(s);
    out.push_back('"');
    return out;
}

}  // namespace

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

ChannelTable::ChannelTable(const std::filesystem::path& file) : file_(file) {
    const std::string name = file.string();
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        throw std::runtime_error("Could not open channel table: " + name);
    }
    auto fail = [&](std::size_t line, const std::string& what) {
        throw std::runtime_error("Channel table " + name + ", line " + std::to_string(line) + ": " +
                                 what);
    };

    std::vector<std::string> header;
    std::size_t channel_col = 0;
    std::size_t type_col = 0;
    std::vector<std::size_t> numeric_cols;  // header position of each entry of columns_
    std::vector<std::size_t> line_of_row;   // for the duplicate-channel error
    std::string text;
    std::size_t line_number = 0;
    while (std::getline(in, text)) {
        ++line_number;
        const std::string_view line = trim(text);
        if (line.empty() || line.front() == '#') {
            continue;
        }
        const auto fields = split_fields(line);
        if (header.empty()) {
            bool has_channel = false;
            bool has_type = false;
            for (std::size_t k = 0; k < fields.size(); ++k) {
                const std::string col(fields[k]);
                if (col.empty()) {
                    fail(line_number, "header column " + std::to_string(k + 1) + " has no name");
                }
                if (std::find(header.begin(), header.end(), col) != header.end()) {
                    fail(line_number, "column " + in_quotes(col) + " is named twice in the header");
                }
                header.push_back(col);
                if (col == "channel") {
                    channel_col = k;
                    has_channel = true;
                } else if (col == "pmt_type") {
                    type_col = k;
                    has_type = true;
                } else {
                    numeric_cols.push_back(k);
                    column_names_.push_back(col);
                }
            }
            if (!has_channel || !has_type) {
                fail(line_number, std::string("the header lacks the column ") +
                                      (has_channel ? "\"pmt_type\"" : "\"channel\"") +
                                      " (the header is the first line that is neither blank "
                                      "nor a '#' comment)");
            }
            columns_.resize(numeric_cols.size());
            continue;
        }
        if (fields.size() != header.size()) {
            fail(line_number, "expected " + std::to_string(header.size()) + " fields (" +
                                  std::to_string(header.size() - 1) + " commas) as in the " +
                                  "header, found " + std::to_string(fields.size()));
        }
        auto bad_field = [&](std::size_t k, const char* kind) {
            fail(line_number, "column " + std::to_string(k + 1) + " (" + header[k] +
                                  "): expected " + kind + ", found " + in_quotes(fields[k]));
        };
        std::int32_t channel = 0;
        std::int32_t pmt_type = 0;
        if (!parse_whole(fields[channel_col], channel)) {
            bad_field(channel_col, "an integer channel number");
        }
        if (!parse_whole(fields[type_col], pmt_type)) {
            bad_field(type_col, "an integer PMT type");
        }
        for (std::size_t c = 0; c < numeric_cols.size(); ++c) {
            double value = 0.0;
            if (!parse_whole(fields[numeric_cols[c]], value)) {
                bad_field(numeric_cols[c], "a number");
            }
            columns_[c].push_back(value);
        }
        channels_.push_back(channel);
        pmt_types_.push_back(pmt_type);
        line_of_row.push_back(line_number);
    }
    if (in.bad()) {
        throw std::runtime_error("Could not read channel table: " + name);
    }
    if (header.empty()) {
        throw std::runtime_error("Channel table " + name +
                                 " has no header line naming its columns");
    }
    if (channels_.empty()) {
        throw std::runtime_error("Channel table " + name + " has no channel rows after its header");
    }
    if (channels_.size() >= ChannelIndex::npos) {
        throw std::runtime_error("Channel table " + name + " has too many rows");
    }
    // A channel given twice is reported at its second line (the earliest such line in the
    // file), naming the first.
    std::vector<std::pair<std::int32_t, std::size_t>> order;
    order.reserve(channels_.size());
    for (std::size_t row = 0; row < channels_.size(); ++row) {
        order.emplace_back(channels_[row], row);
    }
    std::sort(order.begin(), order.end());
    std::size_t repeat = channels_.size();
    for (std::size_t k = 1; k < order.size(); ++k) {
        if (order[k].first == order[k - 1].first && order[k].second < repeat) {
            repeat = order[k].second;
        }
    }
    if (repeat != channels_.size()) {
        // The channel's first row sorts first among its equals.
        const auto lo = std::lower_bound(order.begin(), order.end(),
                                         std::make_pair(channels_[repeat], std::size_t{0}));
        const std::size_t first = lo->second;
        fail(line_of_row[repeat], "channel " + std::to_string(channels_[repeat]) +
                                      " is given twice (first on line " +
                                      std::to_string(line_of_row[first]) + ")");
    }
    index_ = ChannelIndex(channels_);
}

const std::vector<double>& ChannelTable::column(const std::string& name) const {
    const auto it = std::find(column_names_.begin(), column_names_.end(), name);
    if (it == column_names_.end()) {
        throw std::runtime_error("Channel table " + file_.string() + " has no column " +
                                 in_quotes(name));
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
