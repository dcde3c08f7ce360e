// The batch paths over rows against the object path: same records, same hits, same ids, bit for
// bit, on seeded random data in every memory layout NumPy can hand over.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <bit>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <ostream>
#include <random>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "support.hpp"
#include "tessel/batch.hpp"
#include "tessel/charge_reconstruction.hpp"
#include "tessel/columnar/parallel.hpp"
#include "tessel/feature_extractor.hpp"
#include "tessel/linear_reco.hpp"
#include "tessel/rows.hpp"

namespace {

using tessel::HitFeaturesNumpyRow;
using tessel::HitNumpyRow;
using tessel::MultiPMTTrigger;
using tessel::MultiPMTTriggerNumpyRow;
using tessel::RunInfo;
using tessel::StridedRows;
using tessel::TarvoTrigger;
using tessel::TarvoTriggerNumpyRow;
using tessel::WaveformRows;
using tessel::testing::TempDir;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

template <class Row>
bool same_bytes(const Row& a, const Row& b) {
    return std::memcmp(&a, &b, sizeof(Row)) == 0;
}

/// Rows compared byte for byte; the first differing row is reported.
template <class Row>
void expect_same_rows(const std::vector<Row>& actual, const std::vector<Row>& expected) {
    ASSERT_EQ(actual.size(), expected.size());
    for (std::size_t i = 0; i < actual.size(); ++i) {
        ASSERT_TRUE(same_bytes(actual[i], expected[i])) << "row " << i;
    }
}

std::vector<HitFeaturesNumpyRow> feature_rows(const std::vector<tessel::HitFeatures>& records) {
    std::vector<HitFeaturesNumpyRow> rows;
    for (const auto& f : records) {
        rows.push_back(tessel::features_to_row(f));
    }
    return rows;
}

std::vector<HitNumpyRow> hit_rows(const std::vector<tessel::Hit>& hits) {
    std::vector<HitNumpyRow> rows;
    for (const auto& h : hits) {
        rows.push_back(tessel::hit_to_row(h));
    }
    return rows;
}

/// A run of random waveform triggers in object form; the generator decides which kinds of
/// awkward waveform occur.
struct TarvoRun {
    std::vector<TarvoTrigger> triggers;

    [[nodiscard]] tessel::TriggerList list() const { return {triggers.begin(), triggers.end()}; }
    [[nodiscard]] std::vector<TarvoTriggerNumpyRow> rows() const {
        std::vector<TarvoTriggerNumpyRow> r;
        for (const auto& t : triggers) {
            r.push_back(tessel::trigger_to_row(t));
        }
        return r;
    }
    /// Flat samples and offsets; `lead` unused samples stand before the first waveform and
    /// `tail` after the last, so offsets[0] is `lead` and offsets[n] is not the end.
    void flat(std::vector<std::uint16_t>& samples, std::vector<std::int64_t>& offsets,
              std::size_t lead = 0, std::size_t tail = 0) const {
        samples.assign(lead, 0xDEAD);
        offsets.clear();
        for (const auto& t : triggers) {
            offsets.push_back(static_cast<std::int64_t>(samples.size()));
            samples.insert(samples.end(), t.waveform.begin(), t.waveform.end());
        }
        offsets.push_back(static_cast<std::int64_t>(samples.size()));
        samples.insert(samples.end(), tail, 0xBEEF);
    }
};

/// Random pulses on a baseline, with lengths in [min_length, max_length]; `short_dropped`
/// adds waveforms of 1 or 2 samples whose integral is negative (dropped under
/// drop_bad_integral before the edge search).
TarvoRun random_tarvo(std::mt19937_64& rng, std::size_t count, std::size_t min_length,
                      std::size_t max_length, bool short_dropped = false) {
    std::uniform_int_distribution<std::size_t> length(min_length, max_length);
    std::uniform_real_distribution<float> baseline(0.0F, 2000.0F);
    std::uniform_int_distribution<int> noise(-30, 30);
    std::uniform_int_distribution<int> coin(0, 9);
    std::uniform_int_distribution<std::uint32_t> u32;
    TarvoRun run;
    for (std::size_t i = 0; i < count; ++i) {
        TarvoTrigger t;
        t.channel = static_cast<std::int32_t>(u32(rng) % 200) - 3;  // a few negative channels
        t.trigger_time_s = u32(rng) % 5000;
        t.trigger_time_ticks = u32(rng) % 250000000U;
        // Integral baselines keep the fast integral exact; fractional ones do not.
        t.baseline = coin(rng) < 5 ? std::round(baseline(rng)) : baseline(rng);
        t.intsum = baseline(rng);
        std::size_t n = length(rng);
        if (short_dropped && coin(rng) == 0) {
            n = 1 + static_cast<std::size_t>(coin(rng) % 2);
            t.baseline = 100.5F;
            t.waveform.assign(n, 7);
            run.triggers.push_back(t);
            continue;
        }
        const int level = static_cast<int>(t.baseline);
        const std::size_t start = n == 0 ? 0 : static_cast<std::size_t>(u32(rng) % n);
        const double height = coin(rng) < 3 ? 0.0 : 50.0 + u32(rng) % 3000;
        for (std::size_t j = 0; j < n; ++j) {
            double pulse = 0.0;
            if (j >= start) {
                pulse = height * std::exp(-static_cast<double>(j - start) / 5.0);
            }
            const int sample = level + noise(rng) + static_cast<int>(pulse);
            t.waveform.push_back(static_cast<std::uint16_t>(std::clamp(sample, 0, 65535)));
        }
        run.triggers.push_back(t);
    }
    return run;
}

std::vector<MultiPMTTrigger> random_multipmt(std::mt19937_64& rng, std::size_t count) {
    std::uniform_real_distribution<double> time(0.0, 100.0);
    std::uniform_int_distribution<std::uint32_t> u32;
    std::vector<MultiPMTTrigger> triggers;
    const double specials[] = {kNaN, kInf, -kInf, -0.0, 0.0};
    for (std::size_t i = 0; i < count; ++i) {
        MultiPMTTrigger t;
        t.time = u32(rng) % 10 == 0 ? specials[u32(rng) % 5] : time(rng);
        t.channel = static_cast<std::int32_t>(u32(rng) % 100) - 2;
        t.time_over_threshold = u32(rng) % 10 == 0 ? specials[u32(rng) % 5] : time(rng) * 1e-9;
        t.adc_sample = static_cast<std::uint16_t>(u32(rng));
        triggers.push_back(t);
    }
    return triggers;
}

/// A settings file for both extractor options and two linear reconstructors (charge from the
/// integral, time from the rising edge or the trigger time).  The charge window excludes
/// negative integrals and the covariance makes some uncertainties NaN, so many hits are dropped
/// by the validity rule.
std::string settings_text(bool drop_bad_edge, bool drop_bad_integral) {
    const auto flag = [](bool b) { return b ? "true" : "false"; };
    return std::string("extractors:\n  Tarvo:\n    drop_bad_edge: ") + flag(drop_bad_edge) +
           "\n    drop_bad_integral: " + flag(drop_bad_integral) +
           R"(
reco:
  charge:
    class: LinearReco
    feature: waveform_integral
    hit_property: charge
    pmt_type: -1
    slope: 0.0033
    intercept: 0.01
    slope_uncertainty: 0.0001
    intercept_uncertainty: 0.05
    covariance: -0.00002
    min_value: 0.0
    max_value: 1.0e6
  adc:
    class: LinearReco
    feature: adc_sample
    hit_property: charge
    pmt_type: -1
    slope: 0.01
    intercept: 0.0
    slope_uncertainty: 0.001
    intercept_uncertainty: 0.1
    covariance: 0.0
    min_value: 0.0
    max_value: 60000.0
  edge:
    class: LinearReco
    feature: rising_edge_time
    hit_property: time
    pmt_type: -1
    slope: 1.0
    intercept: -4.0e-9
    slope_uncertainty: 0.0
    intercept_uncertainty: 1.0e-9
    covariance: 0.0
    min_value: -.inf
    max_value: .inf
  module_time:
    class: LinearReco
    feature: trigger_time
    hit_property: time
    pmt_type: -1
    slope: 1.0
    intercept: -5.0e-9
    slope_uncertainty: 0.0
    intercept_uncertainty: 2.0e-9
    covariance: 0.0
    min_value: 1.0
    max_value: 90.0
)";
}

struct Options {
    bool drop_bad_edge;
    bool drop_bad_integral;
};

void PrintTo(const Options& o, std::ostream* os) {
    *os << "drop_bad_edge=" << o.drop_bad_edge << " drop_bad_integral=" << o.drop_bad_integral;
}

class BatchVsObjects : public ::testing::TestWithParam<Options> {
protected:
    void SetUp() override {
        settings_ = dir_.write(
            "settings.yaml", settings_text(GetParam().drop_bad_edge, GetParam().drop_bad_integral));
        extractor_ = std::make_unique<tessel::FeatureExtractor>(settings_);
        reco_ = std::make_unique<tessel::ChargeReconstruction>(settings_.string());
    }

    [[nodiscard]] const tessel::TarvoExtractor& tarvo() const {
        return extractor_->tarvo_extractor();
    }

    TempDir dir_;
    std::filesystem::path settings_;
    std::unique_ptr<tessel::FeatureExtractor> extractor_;
    std::unique_ptr<tessel::ChargeReconstruction> reco_;
    RunInfo run_ = [] {
        RunInfo r;
        r.run_number = 0x1'2345'6789ULL;  // only the low 32 bits reach the ids
        r.time_offset_s = 3;
        r.time_offset_ns = 123456789;
        return r;
    }();
};

TEST_P(BatchVsObjects, TarvoFeaturesAndHitsMatchInEveryLayout) {
    std::mt19937_64 rng(20240611U + GetParam().drop_bad_edge * 2U + GetParam().drop_bad_integral);
    const auto run = random_tarvo(rng, 600, 3, 90, GetParam().drop_bad_integral);
    const auto expected_features = feature_rows(extractor_->extract_features(run.list(), run_));
    const auto expected_hits = hit_rows(reco_->reconstruct(run.list(), run_));
    ASSERT_GT(expected_hits.size(), 50U);
    ASSERT_LT(expected_hits.size(), run.triggers.size());  // drops and invalid hits occur

    const auto rows = run.rows();
    std::vector<std::uint16_t> samples;
    std::vector<std::int64_t> offsets;
    run.flat(samples, offsets, 5, 3);

    // Samples at a stride of 3 and misaligned by one byte: gathered, not read in place.
    std::vector<std::uint16_t> wide(samples.size() * 3);
    for (std::size_t i = 0; i < samples.size(); ++i) {
        wide[3 * i + 1] = samples[i];
    }
    std::vector<std::byte> unaligned(samples.size() * 2 + 1);
    std::memcpy(unaligned.data() + 1, samples.data(), samples.size() * 2);
    // Trigger rows inside wider records, in reverse order, walked with a negative stride.
    struct Wide {
        TarvoTriggerNumpyRow row;
        std::uint8_t extra[9];
    };
    std::vector<Wide> reversed(rows.size());
    for (std::size_t i = 0; i < rows.size(); ++i) {
        reversed[rows.size() - 1 - i].row = rows[i];
    }
    const StridedRows<TarvoTriggerNumpyRow> backwards(
        reinterpret_cast<const std::byte*>(&reversed.back().row), rows.size(),
        -static_cast<std::ptrdiff_t>(sizeof(Wide)));

    struct Layout {
        const char* name;
        StridedRows<TarvoTriggerNumpyRow> triggers;
        WaveformRows waveforms;
    };
    const Layout layouts[] = {
        {"contiguous", StridedRows<TarvoTriggerNumpyRow>(std::span(rows)),
         WaveformRows::ragged(samples, offsets)},
        {"strided samples", StridedRows<TarvoTriggerNumpyRow>(std::span(rows)),
         WaveformRows::ragged(wide.data() + 1, samples.size(), 6, offsets.data(), offsets.size(),
                              8)},
        {"misaligned samples", StridedRows<TarvoTriggerNumpyRow>(std::span(rows)),
         WaveformRows::ragged(unaligned.data() + 1, samples.size(), 2, offsets.data(),
                              offsets.size(), 8)},
        {"reversed trigger rows", backwards, WaveformRows::ragged(samples, offsets)},
    };
    for (const auto& layout : layouts) {
        SCOPED_TRACE(layout.name);
        std::vector<HitFeaturesNumpyRow> features(rows.size());
        features.resize(tessel::extract_tarvo_rows(tarvo(), layout.triggers, layout.waveforms, 0,
                                                   run_, features.data()));
        expect_same_rows(features, expected_features);
        std::vector<HitNumpyRow> hits(rows.size());
        hits.resize(tessel::reconstruct_tarvo_rows(tarvo(), reco_->hit_maker(), layout.triggers,
                                                   layout.waveforms, 0, run_, hits.data()));
        expect_same_rows(hits, expected_hits);
    }
}

TEST_P(BatchVsObjects, FixedLengthWaveformsInEveryLayout) {
    std::mt19937_64 rng(77U + GetParam().drop_bad_edge * 2U + GetParam().drop_bad_integral);
    constexpr std::size_t kLength = 64;
    const auto run = random_tarvo(rng, 400, kLength, kLength);
    const auto expected_features = feature_rows(extractor_->extract_features(run.list(), run_));
    const auto expected_hits = hit_rows(reco_->reconstruct(run.list(), run_));
    const auto rows = run.rows();
    const std::size_t n = rows.size();

    std::vector<std::uint16_t> block;  // (n, kLength), C order
    for (const auto& t : run.triggers) {
        block.insert(block.end(), t.waveform.begin(), t.waveform.end());
    }
    // A column slice block2[:, 3:3 + kLength] of a wider (n, kLength + 5) array.
    constexpr std::size_t kWide = kLength + 5;
    std::vector<std::uint16_t> wider(n * kWide, 1);
    // The transpose of a (kLength, n) array: samples at a stride of one row of triggers.
    std::vector<std::uint16_t> transposed(n * kLength);
    for (std::size_t i = 0; i < n; ++i) {
        for (std::size_t j = 0; j < kLength; ++j) {
            wider[i * kWide + 3 + j] = block[i * kLength + j];
            transposed[j * n + i] = block[i * kLength + j];
        }
    }
    const std::pair<const char*, WaveformRows> layouts[] = {
        {"C order", WaveformRows::fixed(block, n, kLength)},
        {"column slice", WaveformRows::fixed(wider.data() + 3, n, kLength, kWide * 2, 2)},
        {"transposed",
         WaveformRows::fixed(transposed.data(), n, kLength, 2, static_cast<std::ptrdiff_t>(n) * 2)},
    };
    for (const auto& [name, waveforms] : layouts) {
        SCOPED_TRACE(name);
        std::vector<HitFeaturesNumpyRow> features(n);
        features.resize(
            tessel::extract_tarvo_rows(tarvo(), StridedRows<TarvoTriggerNumpyRow>(std::span(rows)),
                                       waveforms, 0, run_, features.data()));
        expect_same_rows(features, expected_features);
        std::vector<HitNumpyRow> hits(n);
        hits.resize(tessel::reconstruct_tarvo_rows(
            tarvo(), reco_->hit_maker(), StridedRows<TarvoTriggerNumpyRow>(std::span(rows)),
            waveforms, 0, run_, hits.data()));
        expect_same_rows(hits, expected_hits);
    }
}

TEST_P(BatchVsObjects, ChunksWithTheirFirstPositionGiveTheIdsOfOneCall) {
    std::mt19937_64 rng(5U);
    const auto run = random_tarvo(rng, 333, 3, 40, GetParam().drop_bad_integral);
    const auto expected = hit_rows(reco_->reconstruct(run.list(), run_));
    const auto rows = run.rows();
    std::vector<std::uint16_t> samples;
    std::vector<std::int64_t> offsets;
    run.flat(samples, offsets);

    std::vector<HitNumpyRow> joined;
    for (const std::size_t chunk : {1U, 7U, 100U, 333U}) {
        SCOPED_TRACE(chunk);
        joined.clear();
        for (std::size_t first = 0; first < rows.size(); first += chunk) {
            const std::size_t n = std::min(chunk, rows.size() - first);
            // Each chunk's offsets are a slice of the run's: offsets[0] is not 0.
            const auto waveforms =
                WaveformRows::ragged(samples, std::span(offsets).subspan(first, n + 1));
            std::vector<HitNumpyRow> part(n);
            part.resize(tessel::reconstruct_tarvo_rows(
                tarvo(), reco_->hit_maker(),
                StridedRows<TarvoTriggerNumpyRow>(std::span(rows).subspan(first, n)), waveforms,
                first, run_, part.data()));
            joined.insert(joined.end(), part.begin(), part.end());
        }
        expect_same_rows(joined, expected);
    }
}

TEST_P(BatchVsObjects, MultiPMTFeaturesAndHitsMatch) {
    std::mt19937_64 rng(99U);
    const auto triggers = random_multipmt(rng, 500);
    const tessel::TriggerList list(triggers.begin(), triggers.end());
    const auto expected_features = feature_rows(extractor_->extract_features(list, run_));
    const auto expected_hits = hit_rows(reco_->reconstruct(list, run_));
    ASSERT_GT(expected_hits.size(), 50U);

    std::vector<MultiPMTTriggerNumpyRow> rows;
    for (const auto& t : triggers) {
        rows.push_back(tessel::trigger_to_row(t));
    }
    std::vector<HitFeaturesNumpyRow> features(rows.size());
    features.resize(tessel::extract_multipmt_rows(
        StridedRows<MultiPMTTriggerNumpyRow>(std::span(rows)), 0, run_, features.data()));
    expect_same_rows(features, expected_features);

    // Two chunks: the second starts at position 200.
    std::vector<HitNumpyRow> hits(rows.size());
    const std::size_t head = tessel::reconstruct_multipmt_rows(
        reco_->hit_maker(), StridedRows<MultiPMTTriggerNumpyRow>(std::span(rows).first(200)), 0,
        run_, hits.data());
    const std::size_t tail = tessel::reconstruct_multipmt_rows(
        reco_->hit_maker(), StridedRows<MultiPMTTriggerNumpyRow>(std::span(rows).subspan(200)), 200,
        run_, hits.data() + head);
    hits.resize(head + tail);
    expect_same_rows(hits, expected_hits);
}

INSTANTIATE_TEST_SUITE_P(DropOptions, BatchVsObjects,
                         ::testing::Values(Options{false, false}, Options{true, false},
                                           Options{false, true}, Options{true, true}),
                         [](const ::testing::TestParamInfo<Options>& info) {
                             return std::string(info.param.drop_bad_edge ? "Edge" : "NoEdge") +
                                    (info.param.drop_bad_integral ? "Integral" : "NoIntegral");
                         });

/// Random feature rows: every field now and then holds its unset marker, other negative
/// integers, NaNs with other bit patterns, infinities.
std::vector<HitFeaturesNumpyRow> random_feature_rows(std::mt19937_64& rng, std::size_t count) {
    std::uniform_int_distribution<int> pick(0, 9);
    std::uniform_real_distribution<double> value(-100.0, 70000.0);
    const double specials[] = {kNaN, -kNaN, std::bit_cast<double>(0x7FF0000000000001ULL), kInf,
                               -kInf};
    const auto real = [&] { return pick(rng) == 0 ? specials[pick(rng) % 5] : value(rng); };
    const auto integer = [&](std::int64_t typical) {
        const int p = pick(rng);
        return p == 0 ? -1 : p == 1 ? -2 : typical;
    };
    std::vector<HitFeaturesNumpyRow> rows;
    for (std::size_t i = 0; i < count; ++i) {
        rows.push_back({static_cast<std::int32_t>(integer(pick(rng) * 7)),
                        static_cast<std::int32_t>(integer(pick(rng) % 3)),
                        integer(static_cast<std::int64_t>(rng())), real(), real(), real(), real(),
                        real()});
    }
    return rows;
}

TEST(MakeHitRows, MatchesMakeHitsOverTheConvertedRecords) {
    TempDir dir;
    const tessel::HitMaker maker(dir.write("s.yaml", settings_text(false, false)));
    std::mt19937_64 rng(123U);
    const auto rows = random_feature_rows(rng, 2000);
    std::vector<tessel::HitFeatures> records;
    for (const auto& row : rows) {
        records.push_back(tessel::row_to_features(row));
    }
    for (const bool no_discard : {false, true}) {
        SCOPED_TRACE(no_discard);
        const auto expected = hit_rows(maker.make_hits(records, no_discard));
        std::vector<HitNumpyRow> hits(rows.size());
        hits.resize(tessel::make_hit_rows(maker, StridedRows<HitFeaturesNumpyRow>(std::span(rows)),
                                          no_discard, hits.data()));
        expect_same_rows(hits, expected);
        if (no_discard) {
            EXPECT_EQ(hits.size(), rows.size());
        }
    }
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

// --- Input checking: every fault is reported before a single row is written. ---

template <class E>
void expect_message(const std::exception_ptr& error, const std::string& message) {
    tessel::testing::expect_thrown<E>(error, [&](const E& e) { EXPECT_EQ(e.what(), message); });
}

struct BadInput {
    const char* name;
    std::size_t triggers;
    std::vector<std::int64_t> offsets;  // empty: a fixed (triggers_in_block, 4) block
    std::size_t block_rows;
    std::uint64_t first_trigger;
    std::string message;
};

class RejectsBadInput : public ::testing::TestWithParam<BadInput> {};

TEST_P(RejectsBadInput, BeforeWritingAnything) {
    const auto& p = GetParam();
    const std::vector<std::uint16_t> samples(40, 500);
    std::vector<TarvoTriggerNumpyRow> rows(p.triggers, TarvoTriggerNumpyRow{1, 2, 3, 4.0F, 0.0F});
    const auto waveforms = p.offsets.empty() ? WaveformRows::fixed(samples, p.block_rows, 4)
                                             : WaveformRows::ragged(samples, p.offsets);
    const tessel::TarvoExtractor extractor(false, false);
    const tessel::HitMaker maker;
    const HitFeaturesNumpyRow sentinel{9, 9, 9, 9.0, 9.0, 9.0, 9.0, 9.0};
    std::vector<HitFeaturesNumpyRow> out(p.triggers + 1, sentinel);
    std::vector<HitNumpyRow> hits(p.triggers + 1, HitNumpyRow{9, 9, 9, 9.0, 9.0, 9.0, 9.0});
    const auto error = tessel::testing::thrown_by([&] {
        (void)tessel::extract_tarvo_rows(extractor,
                                         StridedRows<TarvoTriggerNumpyRow>(std::span(rows)),
                                         waveforms, p.first_trigger, RunInfo{}, out.data());
    });
    const auto again = tessel::testing::thrown_by([&] {
        (void)tessel::reconstruct_tarvo_rows(extractor, maker,
                                             StridedRows<TarvoTriggerNumpyRow>(std::span(rows)),
                                             waveforms, p.first_trigger, RunInfo{}, hits.data());
    });
    if (p.first_trigger == 0) {
        expect_message<std::invalid_argument>(error, p.message);
        expect_message<std::invalid_argument>(again, p.message);
    } else {
        tessel::testing::expect_thrown<std::length_error>(error, [&](const std::length_error& e) {
            EXPECT_NE(std::string(e.what()).find(p.message), std::string::npos) << e.what();
        });
        tessel::testing::expect_thrown<std::length_error>(again, [](const auto&) {});
    }
    for (const auto& row : out) {
        EXPECT_TRUE(same_bytes(row, sentinel));
    }
    for (const auto& row : hits) {
        EXPECT_EQ(row.channel, 9);
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

TEST(RejectsBadInput, ShortWaveformNamesItsRowAndNestsTheExtractorsError) {
    const std::string kTooShort =
        "Waveform must have at least 3 samples to calculate the differential maximum.";
    // Row 1 (position 11) has 2 samples; under drop_bad_integral only a negative integral would
    // have dropped it first.
    const std::vector<std::uint16_t> samples = {0, 5, 9, 9, 9, 1, 2, 3, 4};
    const std::vector<std::int64_t> offsets = {0, 4, 6, 9};
    const std::vector<TarvoTriggerNumpyRow> rows(3, TarvoTriggerNumpyRow{1, 2, 3, 0.5F, 0.0F});
    const tessel::TarvoExtractor extractor(false, true);
    std::vector<HitFeaturesNumpyRow> out(3);
    const auto error = tessel::testing::thrown_by([&] {
        (void)tessel::extract_tarvo_rows(
            extractor, StridedRows<TarvoTriggerNumpyRow>(std::span(rows)),
            WaveformRows::ragged(samples, offsets), 10, RunInfo{}, out.data());
    });
    tessel::testing::expect_thrown<std::invalid_argument>(error, [&](const auto& e) {
        EXPECT_EQ(std::string(e.what()),
                  "Waveform must have at least 3 samples to calculate the differential maximum. "
                  "Trigger row 1 (trigger position 11) has 2 samples.");
        expect_message<std::invalid_argument>(tessel::testing::cause_of(e), kTooShort);
    });

    // With a baseline above the samples the short waveform is dropped, not an error.
    const std::vector<TarvoTriggerNumpyRow> high(3, TarvoTriggerNumpyRow{1, 2, 3, 100.0F, 0.0F});
    EXPECT_EQ(tessel::extract_tarvo_rows(
                  extractor, StridedRows<TarvoTriggerNumpyRow>(std::span(high)),
                  WaveformRows::ragged(samples, offsets), 10, RunInfo{}, out.data()),
              0U);
}

TEST(RejectsBadInput, ExactlyTheLastPositionOfTheIdFieldIsAccepted) {
    const std::vector<MultiPMTTriggerNumpyRow> rows(1, MultiPMTTriggerNumpyRow{});
    std::vector<HitFeaturesNumpyRow> out(1);
    constexpr auto last = tessel::RunInfo::MAX_TRIGGER_POSITIONS - 1;
    ASSERT_EQ(tessel::extract_multipmt_rows(StridedRows<MultiPMTTriggerNumpyRow>(std::span(rows)),
                                            last, RunInfo{}, out.data()),
              1U);
    EXPECT_EQ(tessel::RunInfo::trigger_index_from_id(std::bit_cast<std::uint64_t>(out[0].id)),
              last);
}

}  // namespace

namespace {

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

}  // namespace

namespace {

/// Output in a vector that grows to the size asked for.
class VectorStore final : public tessel::RowStore {
public:
    std::byte* reserve(std::size_t needed, std::size_t suggested) override {
        EXPECT_GE(suggested, needed);
        rows.resize(suggested);
        ++grown;
        return reinterpret_cast<std::byte*>(rows.data());
    }
    std::vector<std::uint64_t> rows;
    int grown = 0;
};

TEST(RunChunks, AnyThreadsGiveTheRowsAndTheFirstErrorOfOneThread) {
    // Row i yields i % 4 rows (none for some, up to 3), so the output outgrows its first size;
    // rows `failing` throw, naming themselves, after writing their first row.
    std::vector<std::size_t> failing;
    const tessel::ChunkWork work = [&failing](tessel::RowRange range, std::byte* out) {
        auto* rows = reinterpret_cast<std::uint64_t*>(out);
        tessel::RowsDone done;
        for (std::size_t i = range.begin; i < range.end; ++i) {
            for (std::size_t k = 0; k < i % 4; ++k) {
                rows[done.written++] = i * 4 + k;
                if (std::ranges::find(failing, i) != failing.end()) {
                    throw std::runtime_error("row " + std::to_string(i));
                }
            }
        }
        return done;
    };
    tessel::ChunkPlan plan;
    plan.rows = 100'003;
    plan.max_per_row = 3;
    plan.row_bytes = sizeof(std::uint64_t);
    plan.first_output_rows = 1000;
    std::vector<std::uint64_t> expected;
    for (std::size_t i = 0; i < plan.rows; ++i) {
        for (std::size_t k = 0; k < i % 4; ++k) {
            expected.push_back(i * 4 + k);
        }
    }
    for (const std::size_t threads : {1, 2, 3, 7}) {
        plan.threads = threads;
        VectorStore store;
        const tessel::RowsDone done = tessel::run_chunks(plan, work, store, {});
        ASSERT_EQ(done.written, expected.size()) << threads << " threads";
        store.rows.resize(done.written);
        EXPECT_EQ(store.rows, expected) << threads << " threads";
        EXPECT_GT(store.grown, 1) << threads << " threads";
    }
    failing = {99'001, 70'001, 70'002};
    for (const std::size_t threads : {1, 2, 3, 7}) {
        plan.threads = threads;
        VectorStore store;
        EXPECT_THROW(
            {
                try {
                    tessel::run_chunks(plan, work, store, {});
                } catch (const std::runtime_error& e) {
                    EXPECT_STREQ(e.what(), "row 70001") << threads << " threads";
                    throw;
                }
            },
            std::runtime_error);
    }
}

TEST(RunChunks, WhatThePollThrowsStopsTheWorkers) {
    std::atomic<std::size_t> rows_worked{0};
    const tessel::ChunkWork work = [&rows_worked](tessel::RowRange range, std::byte*) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        rows_worked += range.end - range.begin;
        return tessel::RowsDone{};
    };
    tessel::ChunkPlan plan;
    plan.rows = 1'000'000;
    plan.samples_per_row = tessel::CHUNK_SAMPLES;  // one row per chunk: a million milliseconds
    plan.row_bytes = 8;
    for (const std::size_t threads : {1, 2}) {
        plan.threads = threads;
        VectorStore store;
        rows_worked = 0;
        EXPECT_THROW(tessel::run_chunks(
                         plan, work, store, [] { throw std::range_error("stop"); },
                         std::chrono::milliseconds(1)),
                     std::range_error);
        EXPECT_LT(rows_worked, plan.rows / 10) << threads << " threads";
    }
}

}  // namespace
