// What the columnar path reads and writes below the Python face: the row conversions, the
// waveform layouts and their checks.  The rows of the columnar calls themselves are compared
// with the object path's in tests/python/test_columnar.py, the worker pool in test_threads.cpp.

#include <gtest/gtest.h>

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <span>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "support.hpp"
#include "tessel/columnar/batch.hpp"

namespace {

using tessel::HitNumpyRow;
using tessel::StridedRows;
using tessel::TarvoTriggerNumpyRow;
using tessel::WaveformRows;
using Samples = std::vector<std::uint16_t>;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

template <class Row>
bool same_bytes(const Row& a, const Row& b) {
    return std::memcmp(&a, &b, sizeof(Row)) == 0;
}

TEST(Rows, UnsetMarkersAndIdBitsRoundTripAsTheConversionFunctionsDefine) {
    tessel::HitFeatures f;
    auto row = tessel::features_to_row(f);
    EXPECT_EQ(row.channel, -1);
    EXPECT_EQ(row.pmt_type, -1);
    EXPECT_EQ(row.id, -1);
    for (const double v : {row.trigger_time, row.waveform_integral, row.time_over_threshold,
                           row.adc_sample, row.rising_edge_time}) {
        EXPECT_EQ(std::bit_cast<std::uint64_t>(v), tessel::UNSET_FEATURE_BITS);
    }
    EXPECT_EQ(tessel::row_to_features(row).flags(), 0);

    row.channel = -2;
    row.id = std::numeric_limits<std::int64_t>::min();
    row.trigger_time = kInf;
    const auto back = tessel::row_to_features(row);
    EXPECT_EQ(back.get_channel(), -2);
    EXPECT_EQ(back.get_id(), std::uint64_t{1} << 63U);
    EXPECT_EQ(back.get_trigger_time(), kInf);
    EXPECT_FALSE(back.has_pmt_type());

    const tessel::Hit hit(4, std::uint64_t{1} << 63U, kNaN, 2.0, kInf, kInf);
    const auto hit_row = tessel::hit_to_row(hit);
    EXPECT_EQ(hit_row.padding, 0U);
    EXPECT_EQ(hit_row.id, std::numeric_limits<std::int64_t>::min());
    EXPECT_TRUE(same_bytes(tessel::hit_to_row(tessel::row_to_hit(hit_row)), hit_row));
}

// --- Waveform layouts: every view NumPy hands over is read in place or gathered. ---

TEST(WaveformRows, EveryLayoutGivesTheSamplesOfEachWaveform) {
    // Five waveforms, one of them empty, between unused samples: offsets[0] is not 0 and the
    // last offset is not the end.
    const std::vector<Samples> waves = {{1, 2, 3}, {}, {4, 5, 6, 7, 8}, {9}, {10, 11}};
    Samples flat(3, 0xDEAD);
    std::vector<std::int64_t> offsets;
    for (const Samples& w : waves) {
        offsets.push_back(static_cast<std::int64_t>(flat.size()));
        flat.insert(flat.end(), w.begin(), w.end());
    }
    offsets.push_back(static_cast<std::int64_t>(flat.size()));
    flat.push_back(0xBEEF);
    // The same samples at a stride of 3, and misaligned by one byte.
    Samples wide(flat.size() * 3);
    for (std::size_t i = 0; i < flat.size(); ++i) {
        wide[3 * i + 1] = flat[i];
    }
    std::vector<std::byte> unaligned(flat.size() * 2 + 1);
    std::memcpy(unaligned.data() + 1, flat.data(), flat.size() * 2);
    // Offsets inside wider records (every other int64).
    std::vector<std::int64_t> spread(offsets.size() * 2, -7);
    for (std::size_t i = 0; i < offsets.size(); ++i) {
        spread[2 * i] = offsets[i];
    }

    // Four waveforms of 3 samples in a (4, 3) block, as its transpose (3, 4) and as a column
    // slice of a (4, 5) block.
    const Samples block = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
    Samples transposed(12);
    Samples wider(20, 0);
    for (std::size_t i = 0; i < 4; ++i) {
        for (std::size_t j = 0; j < 3; ++j) {
            transposed[j * 4 + i] = block[i * 3 + j];
            wider[i * 5 + 1 + j] = block[i * 3 + j];
        }
    }
    const std::vector<Samples> rows = {{1, 2, 3}, {4, 5, 6}, {7, 8, 9}, {10, 11, 12}};

    struct Layout {
        const char* name;
        WaveformRows waveforms;
        bool direct;
        const std::vector<Samples>& expected;
    };
    const Layout layouts[] = {
        {"ragged", WaveformRows::ragged(flat, offsets), true, waves},
        {"strided samples",
         WaveformRows::ragged(wide.data() + 1, flat.size(), 6, offsets.data(), offsets.size(), 8),
         false, waves},
        {"misaligned samples",
         WaveformRows::ragged(unaligned.data() + 1, flat.size(), 2, offsets.data(), offsets.size(),
                              8),
         false, waves},
        {"strided offsets",
         WaveformRows::ragged(flat.data(), flat.size(), 2, spread.data(), offsets.size(), 16), true,
         waves},
        {"C order", WaveformRows::fixed(block, 4, 3), true, rows},
        {"transposed", WaveformRows::fixed(transposed.data(), 4, 3, 2, 8), false, rows},
        {"column slice", WaveformRows::fixed(wider.data() + 1, 4, 3, 10, 2), true, rows},
    };
    for (const Layout& layout : layouts) {
        SCOPED_TRACE(layout.name);
        const std::size_t n = layout.expected.size();
        EXPECT_EQ(layout.waveforms.count(), n);
        const std::size_t longest = layout.waveforms.validate(n);
        EXPECT_EQ(longest, n == 4 ? 3U : 5U);
        EXPECT_EQ(layout.waveforms.is_direct(), layout.direct);
        Samples scratch(layout.direct ? 0 : longest);
        for (std::size_t i = 0; i < n; ++i) {
            const auto got = layout.waveforms.get(i, scratch);
            EXPECT_EQ(Samples(got.begin(), got.end()), layout.expected[i]) << "waveform " << i;
        }
    }
}

TEST(WaveformRows, OffsetsChangedAfterValidationAreCaughtBeforeAnyRead) {
    // Another thread may change the offsets while a call runs without the interpreter lock:
    // each waveform's offsets are checked again when it is read, against the samples and the
    // scratch room sized by the validation.
    const std::vector<std::uint16_t> samples(10, 1);
    std::vector<std::int64_t> offsets = {0, 3, 6};
    const auto direct = WaveformRows::ragged(samples, offsets);
    std::vector<std::int64_t> every_other_offsets = {0, 2, 5};  // over every other sample
    const auto gathered =
        WaveformRows::ragged(samples.data(), 5, 4, every_other_offsets.data(), 3, 8);
    ASSERT_FALSE(gathered.is_direct());
    ASSERT_EQ(direct.validate(2), 3U);
    ASSERT_EQ(gathered.validate(2), 3U);
    std::vector<std::uint16_t> scratch(3);
    EXPECT_EQ(direct.get(1, scratch).size(), 3U);
    for (const auto& [begin, end] : {std::pair{3, 11}, std::pair{4, 3}, std::pair{-1, 3}}) {
        offsets[1] = begin;
        offsets[2] = end;
        EXPECT_THROW((void)direct.get(1, scratch), std::invalid_argument);
    }
    offsets = {0, 0, 5};
    EXPECT_EQ(direct.get(1, scratch).size(), 5U);  // read in place: no scratch needed
    EXPECT_EQ(gathered.get(1, scratch).size(), 3U);
    every_other_offsets = {0, 0, 5};  // within the samples, but longer than the scratch room
    EXPECT_THROW((void)gathered.get(1, scratch), std::invalid_argument);
}

// --- Input checking: every fault is found before a single row is read. ---

struct BadInput {
    const char* name;
    std::size_t triggers;
    std::vector<std::int64_t> offsets;  // empty: a fixed (block_rows, 4) block
    std::size_t block_rows;
    std::uint64_t first_trigger;
    std::string message;
};

class RejectsBadInput : public ::testing::TestWithParam<BadInput> {};

TEST_P(RejectsBadInput, WithAMessageNamingTheFault) {
    const auto& p = GetParam();
    const Samples samples(40, 500);
    const std::vector<TarvoTriggerNumpyRow> rows(p.triggers,
                                                 TarvoTriggerNumpyRow{1, 2, 3, 4.0F, 0.0F});
    const auto waveforms = p.offsets.empty() ? WaveformRows::fixed(samples, p.block_rows, 4)
                                             : WaveformRows::ragged(samples, p.offsets);
    const auto error = tessel::testing::thrown_by([&] {
        (void)tessel::TarvoRowInput::check(StridedRows<TarvoTriggerNumpyRow>(std::span(rows)),
                                           waveforms, p.first_trigger);
    });
    if (p.first_trigger == 0) {
        tessel::testing::expect_message<std::invalid_argument>(error, p.message);
    } else {
        tessel::testing::expect_thrown<std::length_error>(error, [&](const std::length_error& e) {
            EXPECT_NE(std::string(e.what()).find(p.message), std::string::npos) << e.what();
        });
    }
}

INSTANTIATE_TEST_SUITE_P(
    Faults, RejectsBadInput,
    ::testing::Values(
        BadInput{"BlockRowsDiffer",
                 3,
                 {},
                 4,
                 0,
                 "waveforms has 4 rows but triggers has 3 rows; give one waveform per trigger"},
        BadInput{"TooFewOffsets",
                 3,
                 {0, 4, 8},
                 0,
                 0,
                 "offsets has 3 entries but triggers has 3 rows; give one offset more than there "
                 "are triggers"},
        BadInput{"BlockForNoTriggers",
                 0,
                 {},
                 1,
                 0,
                 "waveforms has 1 rows but triggers has 0 rows; give one waveform per trigger"},
        BadInput{"DecreasingOffsets",
                 3,
                 {0, 8, 4, 12},
                 0,
                 0,
                 "offsets must not decrease, but offsets[2] = 4 is below offsets[1] = 8"},
        BadInput{"NegativeOffset",
                 2,
                 {-1, 4, 8},
                 0,
                 0,
                 "offsets[0] = -1 lies outside [0, 40], the range of the samples array"},
        BadInput{"OffsetPastTheSamples",
                 2,
                 {0, 4, 41},
                 0,
                 0,
                 "offsets[2] = 41 lies outside [0, 40], the range of the samples array"},
        BadInput{"PositionsPastTheIdField",
                 2,
                 {0, 4, 8},
                 0,
                 tessel::RunInfo::MAX_TRIGGER_POSITIONS - 1,
                 "28-bit trigger index"}),
    [](const ::testing::TestParamInfo<BadInput>& info) { return std::string(info.param.name); });

}  // namespace
