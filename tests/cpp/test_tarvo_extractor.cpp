#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <ostream>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "../../src/extract/waveform_kernels.hpp"
#include "tessel/extractors.hpp"

namespace {

using tessel::HitFeatures;
using tessel::RunInfo;
using tessel::TarvoExtractor;
using tessel::TarvoTrigger;
using Samples = std::vector<std::uint16_t>;

constexpr double kTick = TarvoTrigger::SECONDS_PER_TICK;
constexpr const char* kShortWaveform =
    "Waveform must have at least 3 samples to calculate the differential maximum.";

TarvoTrigger make_trigger(Samples waveform, float baseline, std::uint32_t seconds = 100,
                          std::uint32_t ticks = 250) {
    TarvoTrigger t;
    t.channel = 42;
    t.trigger_time_s = seconds;
    t.trigger_time_ticks = ticks;
    t.baseline = baseline;
    t.intsum = -1.0F;  // not used by extraction
    t.waveform = std::move(waveform);
    return t;
}

std::uint64_t bits(double x) { return std::bit_cast<std::uint64_t>(x); }

// Straightforward edge search over a buffer of differences held as doubles.
double reference_diff_max(const Samples& w) {
    std::vector<double> d;
    for (std::size_t i = 0; i + 1 < w.size(); ++i) {
        d.push_back(static_cast<double>(static_cast<int>(w[i + 1]) - static_cast<int>(w[i])));
    }
    std::size_t k = 0;
    for (std::size_t i = 1; i < d.size(); ++i) {
        if (d[i] > d[k]) {
            k = i;
        }
    }
    if (k == 0) {
        return 0.0;
    }
    if (k == d.size() - 1) {
        return static_cast<double>(w.size());
    }
    const auto x = static_cast<double>(k);
    return TarvoExtractor::Parabola(x - 1, d[k - 1], x, d[k], x + 1, d[k + 1]).extremum() + 1.0;
}

double reference_integral(const Samples& w, float baseline) {
    double s = 0;
    for (const std::uint16_t x : w) {
        s += static_cast<double>(x) - static_cast<double>(baseline);
    }
    return s;
}

// ---------------------------------------------------------------------------------------------
// The worked example: baseline 10, samples 10 10 12 20 24 25 25.

TEST(TarvoExtractor, WorkedExample) {
    const TarvoTrigger trigger = make_trigger({10, 10, 12, 20, 24, 25, 25}, 10.0F);
    const TarvoExtractor::Parabola p(1, 2, 2, 8, 3, 4);
    EXPECT_EQ(p.a, -5.0);
    EXPECT_EQ(p.b, 21.0);
    EXPECT_EQ(p.c, -14.0);
    EXPECT_EQ(p.extremum(), 2.1);
    EXPECT_EQ(p(1.0), 2.0);
    EXPECT_EQ(p(2.0), 8.0);
    EXPECT_EQ(p(3.0), 4.0);

    const TarvoExtractor extractor(true, true);
    EXPECT_EQ(extractor.diff_max(trigger.waveform), 3.1);

    std::vector<HitFeatures> out;
    extractor.extract_features(trigger, out, RunInfo{});
    ASSERT_EQ(out.size(), 1U);
    const HitFeatures& f = out[0];
    const double trigger_time = 100.0 + 250.0 * kTick;
    EXPECT_EQ(f.get_channel(), 42);
    EXPECT_EQ(f.get_waveform_integral(), 56.0);
    EXPECT_EQ(f.get_trigger_time(), trigger_time);
    EXPECT_DOUBLE_EQ(f.get_trigger_time(), 100.000001);
    EXPECT_EQ(f.get_rising_edge_time(), 3.1 * 4e-9 + trigger_time);
    EXPECT_EQ(f.flags(), HitFeatures::CHANNEL | HitFeatures::WAVEFORM_INTEGRAL |
                             HitFeatures::TRIGGER_TIME | HitFeatures::RISING_EDGE_TIME);
}

// ---------------------------------------------------------------------------------------------
// Edge position: ties, markers and interior edges.

struct EdgeCase {
    std::string name;
    Samples waveform;
    double edge;
};

void PrintTo(const EdgeCase& c, std::ostream* os) { *os << c.name; }

class DiffMax : public testing::TestWithParam<EdgeCase> {};

TEST_P(DiffMax, Edge) {
    const EdgeCase& c = GetParam();
    EXPECT_EQ(TarvoExtractor(false, false).diff_max(c.waveform), c.edge);
    EXPECT_EQ(TarvoExtractor::diff_max(std::span<const std::uint16_t>(c.waveform)), c.edge);
}

/// `n` samples of 9 except `value` at `index`.
Samples flat_with(std::size_t n, std::size_t index, std::uint16_t value) {
    Samples w(n, 9);
    w[index] = value;
    return w;
}

const double kInterior0155 = TarvoExtractor::Parabola(0, 1, 1, 4, 2, 0).extremum() + 1.0;

INSTANTIATE_TEST_SUITE_P(
    Cases, DiffMax,
    testing::Values(EdgeCase{"FallingTieFirstWins", {30, 20, 10}, 0.0},
                    EdgeCase{"LastDifferenceGivesCount", {0, 0, 5}, 3.0},
                    EdgeCase{"FlatThree", {7, 7, 7}, 0.0},
                    EdgeCase{"FlatLong", Samples(100, 1234), 0.0},
                    EdgeCase{"ThreeRisingEvenly", {1, 2, 3}, 0.0},
                    EdgeCase{"ThreeDipThenRise", {3, 2, 5}, 3.0},
                    EdgeCase{"FirstOfFour", {0, 4, 5, 5}, 0.0},
                    EdgeCase{"InteriorOfFour", {0, 1, 5, 5}, kInterior0155},
                    EdgeCase{"AllFallingLastLeastSteep", {100, 90, 85, 84}, 4.0},
                    EdgeCase{"InteriorTieLowestWins", {0, 0, 3, 3, 6, 6, 0}, 2.0},
                    EdgeCase{"FullRangeStep", {0, 0, 65535, 65535, 0}, 2.0},
                    EdgeCase{"FullRangeFallThenTie", {65535, 0, 0, 0}, 2.5},
                    EdgeCase{"LongRiseAtEnd", flat_with(40, 39, 10), 40.0},
                    EdgeCase{"LongRiseAtStart", flat_with(40, 0, 8), 0.0},
                    EdgeCase{"LongOneStepInside", flat_with(40, 20, 10),
                             TarvoExtractor::Parabola(18, 0, 19, 1, 20, -1).extremum() + 1.0}),
    [](const testing::TestParamInfo<EdgeCase>& info) { return info.param.name; });

TEST(DiffMax, FewerThanThreeSamplesThrow) {
    for (const Samples& w : {Samples{}, Samples{1}, Samples{1, 2}}) {
        try {
            (void)TarvoExtractor::diff_max(std::span<const std::uint16_t>(w));
            ADD_FAILURE() << "no error for " << w.size() << " samples";
        } catch (const std::invalid_argument& e) {
            EXPECT_STREQ(e.what(), kShortWaveform);
        }
    }
}

// The blocked search must find the same first maximum as one plain pass, whatever the length
// (short, block multiples, overlapping last block) and however many ties there are.
TEST(DiffMax, MatchesPlainSearchOnRandomWaveforms) {
    std::mt19937_64 rng(20240611);
    std::uniform_int_distribution<std::size_t> length(3, 2000);
    for (int trial = 0; trial < 8000; ++trial) {
        // Every length up to 302 with each kind of waveform, then random lengths.
        const std::size_t n = trial < 1200 ? static_cast<std::size_t>(trial / 4) + 3 : length(rng);
        Samples w(n);
        switch (trial % 4) {
            case 0:  // few values: many ties
                for (auto& x : w) x = static_cast<std::uint16_t>(rng() % 3);
                break;
            case 1:  // full range
                for (auto& x : w) x = static_cast<std::uint16_t>(rng());
                break;
            case 2: {  // falling: every difference negative or zero
                std::uint16_t level = 65535;
                for (auto& x : w) {
                    level = static_cast<std::uint16_t>(level - std::min<int>(level, rng() % 40));
                    x = level;
                }
                break;
            }
            default: {  // noise with one pulse
                for (auto& x : w) x = static_cast<std::uint16_t>(1000 + rng() % 8);
                const std::size_t at = rng() % n;
                for (std::size_t k = at; k < std::min(n, at + 12); ++k) {
                    w[k] = static_cast<std::uint16_t>(w[k] + 200 * (k - at));
                }
            }
        }
        const double got = TarvoExtractor::diff_max(std::span<const std::uint16_t>(w));
        ASSERT_EQ(bits(got), bits(reference_diff_max(w))) << "trial " << trial << " n " << n;
        // The extractor's one-pass form: the same sum and the same steepest rise.
        const auto pass = tessel::waveform::sum_and_largest_rise(w);
        ASSERT_EQ(pass.sum, tessel::waveform::sample_sum(w)) << "trial " << trial << " n " << n;
        ASSERT_EQ(tessel::waveform::steepest_rise(w, pass.largest_rise),
                  tessel::waveform::steepest_rise(w))
            << "trial " << trial << " n " << n;
    }
}

// Another thread may write the samples between the pass that finds the largest rise and the
// search for its first position (the columnar path reads NumPy memory without the interpreter
// lock): the search then looks for a rise that no difference has, and must still answer with a
// position inside the waveform.
TEST(DiffMax, SearchForAnAbsentRiseStaysInsideTheWaveform) {
    for (const std::size_t n : {3U, 8U, 9U, 10U, 17U, 40U, 63U, 64U, 65U, 1000U}) {
        Samples w(n, 1000);
        w[n / 2] = 1005;  // the only rise: 5
        for (const std::uint16_t absent : {1, 6, 65535}) {
            EXPECT_LT(tessel::waveform::steepest_rise(w, absent), n - 1)
                << n << " samples, rise " << absent;
        }
    }
}

// The one-division vertex used for unit-spaced points gives the general fit's bits.
TEST(DiffMax, UnitSpacedVertexMatchesGeneralFit) {
    std::mt19937_64 rng(11);
    const std::size_t kmax = tessel::waveform::kUnitSpacedVertexMax;
    std::uniform_int_distribution<int> y(-65535, 65535);
    for (int trial = 0; trial < 200000; ++trial) {
        std::size_t k = 1 + rng() % kmax;
        if (trial < 40) {  // both ends of the range
            k = trial < 20 ? static_cast<std::size_t>(trial) + 1 : kmax - (trial - 20);
        }
        const auto y1 = static_cast<double>(y(rng));
        const auto y2 = static_cast<double>(trial % 3 == 0 ? y(rng) / 64 : y(rng));
        const auto y3 = static_cast<double>(trial % 5 == 0 ? y1 : y(rng));
        const auto x = static_cast<double>(k);
        const double general = TarvoExtractor::Parabola(x - 1, y1, x, y2, x + 1, y3).extremum();
        ASSERT_EQ(bits(tessel::waveform::unit_spaced_vertex(k, y1, y2, y3)), bits(general))
            << "k " << k << " y " << y1 << " " << y2 << " " << y3;
    }
}

// ---------------------------------------------------------------------------------------------
// Integral: the integer path must give the bits of the in-order double sum.

TEST(WaveformIntegral, MatchesInOrderSumBitForBit) {
    std::mt19937_64 rng(7);
    const float special[] = {0.0F,
                             -0.0F,
                             10.0F,
                             -250.0F,
                             100.5F,
                             3000.25F,
                             1234.567F,
                             -0.1F,
                             1e-30F,
                             -1e-30F,
                             std::numeric_limits<float>::denorm_min(),
                             std::numeric_limits<float>::min(),
                             std::ldexp(1.0F, -30),
                             std::ldexp(1.0F, -10) * 3.0F,
                             65535.0F,
                             65535.5F,
                             16777215.0F,
                             1e12F,
                             3e38F,
                             -3e38F,
                             std::numeric_limits<float>::max(),
                             std::numeric_limits<float>::infinity(),
                             -std::numeric_limits<float>::infinity(),
                             std::numeric_limits<float>::quiet_NaN()};
    std::size_t exact_cases = 0;
    std::size_t cases = 0;
    for (int trial = 0; trial < 20000; ++trial) {
        float baseline = 0.0F;
        const int kind = trial % 4;
        if (kind == 0) {
            baseline = special[static_cast<std::size_t>(trial / 4) % std::size(special)];
        } else if (kind == 1) {  // any float bit pattern
            baseline = std::bit_cast<float>(static_cast<std::uint32_t>(rng()));
        } else if (kind == 2) {  // typical ADC baselines with a fractional part
            baseline = static_cast<float>(std::uniform_real_distribution<double>(-100, 4000)(rng));
        } else {  // whole or half counts
            baseline = static_cast<float>(static_cast<int>(rng() % 8000) - 1000) / 2.0F;
        }
        const std::size_t n = rng() % 2001;
        Samples w(n);
        if (trial % 5 == 0) {
            std::fill(w.begin(), w.end(), std::uint16_t{65535});
        } else {
            for (auto& x : w) x = static_cast<std::uint16_t>(rng());
        }
        const double got = TarvoExtractor::waveform_integral(w, baseline);
        const double want = reference_integral(w, baseline);
        ASSERT_EQ(bits(got), bits(want))
            << "baseline " << baseline << " n " << n << ": " << got << " vs " << want;
        exact_cases += tessel::waveform::integral_is_exact(n, baseline) ? 1 : 0;
        ++cases;
    }
    // The comparison is only worth something if the integer path is taken most of the time.
    EXPECT_GT(exact_cases, cases / 2);
}

// A zero integral is +0.0 on both paths, including a -0.0 baseline and an empty waveform.
TEST(WaveformIntegral, ZeroIsPositive) {
    const Samples w = {5, 5, 5};
    const Samples empty;
    EXPECT_EQ(bits(TarvoExtractor::waveform_integral(w, 5.0F)), bits(0.0));
    EXPECT_EQ(bits(TarvoExtractor::waveform_integral(empty, -0.0F)), bits(0.0));
    EXPECT_EQ(bits(TarvoExtractor::waveform_integral(empty, -7.5F)), bits(0.0));
    EXPECT_EQ(bits(TarvoExtractor::waveform_integral(empty, std::nanf(""))), bits(0.0));
    EXPECT_EQ(bits(TarvoExtractor::waveform_integral(Samples{0, 0}, -0.0F)), bits(0.0));
    EXPECT_EQ(bits(TarvoExtractor::waveform_integral(Samples{1, 0, 2}, 1.0F)), bits(0.0));
}

// Where the exactness bound is exceeded the shortcut really would differ from the in-order
// sum, so the fallback is needed: a baseline of 2^-30 leaves no rounding up to 2^23 in total.
TEST(WaveformIntegral, ExactnessBoundIsNeeded) {
    const float tiny = std::ldexp(1.0F, -30);
    EXPECT_TRUE(tessel::waveform::integral_is_exact(64, tiny));
    EXPECT_FALSE(tessel::waveform::integral_is_exact(65, tiny));
    EXPECT_TRUE(tessel::waveform::integral_is_exact(0, 1e-30F));
    EXPECT_FALSE(tessel::waveform::integral_is_exact(1, 1e-30F));
    EXPECT_FALSE(tessel::waveform::integral_is_exact(0, std::nanf("")));

    const Samples w(200, 65535);
    const double shortcut = static_cast<double>(tessel::waveform::sample_sum(w)) -
                            static_cast<double>(w.size()) * static_cast<double>(tiny);
    EXPECT_NE(bits(shortcut), bits(reference_integral(w, tiny)));
    EXPECT_EQ(bits(TarvoExtractor::waveform_integral(w, tiny)), bits(reference_integral(w, tiny)));
}

TEST(WaveformIntegral, SampleSumAcrossLaneFolds) {
    // Longer than one fold of the 32-bit lanes, all at the largest sample.
    for (const std::size_t n : {0UL, 1UL, 15UL, 16UL, 17UL, 65536UL, 65537UL, 200003UL}) {
        const Samples w(n, 65535);
        EXPECT_EQ(tessel::waveform::sample_sum(w), std::uint64_t{65535} * n) << n;
    }
}

// ---------------------------------------------------------------------------------------------
// Trigger time from seconds, ticks and the run's offsets.

struct TimeCase {
    std::string name;
    std::uint32_t seconds;
    std::uint32_t ticks;
    std::uint64_t offset_s;
    std::uint64_t offset_ns;
    double expected;
};

void PrintTo(const TimeCase& c, std::ostream* os) { *os << c.name; }

class TriggerTime : public testing::TestWithParam<TimeCase> {};

TEST_P(TriggerTime, Value) {
    const TimeCase& c = GetParam();
    RunInfo run;
    run.time_offset_s = c.offset_s;
    run.time_offset_ns = c.offset_ns;
    EXPECT_EQ(TarvoExtractor::trigger_time(c.seconds, c.ticks, run), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TriggerTime,
    testing::Values(TimeCase{"TicksMakeASecond", 7, 250000000, 0, 0, 8.0},
                    TimeCase{"NanosecondOffset", 7, 250000000, 0, 500000000, 7.5},
                    TimeCase{"SecondOffset", 10, 0, 4, 0, 6.0},
                    TimeCase{"BeforeOffsetIsNegative", 3, 0, 5, 0, -2.0},
                    TimeCase{"BeforeOffsetWithTicks", 3, 250, 5, 0, -2.0 + 250 * 4e-9},
                    TimeCase{"BeforeOffsetAllOffsets", 3, 125000000, 5, 250000000,
                             (-2.0 + 0.5) - 0.25},
                    TimeCase{"LargestOffset", 0, 0, std::numeric_limits<std::uint64_t>::max(), 0,
                             -18446744073709551615.0}),
    [](const testing::TestParamInfo<TimeCase>& info) { return info.param.name; });

// Triggers at or after the offset keep the bits of the unsigned difference.
TEST(TriggerTime, UnsignedDifferenceWhereItDoesNotWrap) {
    std::mt19937_64 rng(3);
    for (int trial = 0; trial < 10000; ++trial) {
        const auto seconds = static_cast<std::uint32_t>(rng());
        const auto ticks = static_cast<std::uint32_t>(rng() % 250000000);
        RunInfo run;
        run.time_offset_s = rng() % (std::uint64_t{seconds} + 1);
        run.time_offset_ns = trial % 2 == 0 ? rng() % 1000000000 : rng();
        const double want =
            (static_cast<double>(std::uint64_t{seconds} - run.time_offset_s) + ticks * 4e-9) -
            static_cast<double>(run.time_offset_ns) * 1e-9;
        ASSERT_EQ(bits(TarvoExtractor::trigger_time(seconds, ticks, run)), bits(want));
    }
}

// ---------------------------------------------------------------------------------------------
// Dropping: integral test first, then the edge search, then the three edge rules.

enum class Outcome { Kept, Dropped, Throws };

struct DropCase {
    std::string name;
    Samples waveform;
    float baseline;
    bool drop_bad_edge;
    bool drop_bad_integral;
    Outcome outcome;
};

void PrintTo(const DropCase& c, std::ostream* os) { *os << c.name; }

class Dropping : public testing::TestWithParam<DropCase> {};

TEST_P(Dropping, Outcome) {
    const DropCase& c = GetParam();
    const TarvoExtractor extractor(c.drop_bad_edge, c.drop_bad_integral);
    std::vector<HitFeatures> out(1);  // a record already there stays untouched
    out[0].set_pmt_type(9);
    const TarvoTrigger trigger = make_trigger(c.waveform, c.baseline);
    switch (c.outcome) {
        case Outcome::Throws:
            try {
                extractor.extract_features(trigger, out, RunInfo{});
                ADD_FAILURE() << "no error";
            } catch (const std::invalid_argument& e) {
                EXPECT_STREQ(e.what(), kShortWaveform);
            }
            EXPECT_EQ(out.size(), 1U);
            break;
        case Outcome::Dropped:
            extractor.extract_features(trigger, out, RunInfo{});
            EXPECT_EQ(out.size(), 1U);
            break;
        case Outcome::Kept:
            extractor.extract_features(trigger, out, RunInfo{});
            ASSERT_EQ(out.size(), 2U);
            EXPECT_EQ(out[1].get_waveform_integral(), reference_integral(c.waveform, c.baseline));
            break;
    }
    EXPECT_EQ(out[0].flags(), HitFeatures::PMT_TYPE);
    EXPECT_EQ(out[0].get_pmt_type(), 9);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Dropping,
    testing::Values(
        // Integral test before the edge search.
        DropCase{"TwoSamplesNegativeDropped", {1, 2}, 10.0F, false, true, Outcome::Dropped},
        DropCase{"TwoSamplesNegativeKeptThrows", {1, 2}, 10.0F, false, false, Outcome::Throws},
        DropCase{"OneSampleNegativeDropped", {1}, 10.0F, true, true, Outcome::Dropped},
        DropCase{"OneSampleZeroIntegralThrows", {10}, 10.0F, false, true, Outcome::Throws},
        DropCase{"TwoSamplesPositiveThrows", {20, 30}, 10.0F, true, true, Outcome::Throws},
        DropCase{"EmptyThrows", {}, 10.0F, false, false, Outcome::Throws},
        DropCase{"EmptyThrowsUnderBothOptions", {}, 10.0F, true, true, Outcome::Throws},
        DropCase{"AllBelowBaselineDropped", {1, 2, 3, 4}, 100.0F, false, true, Outcome::Dropped},
        DropCase{"AllBelowBaselineKept", {1, 2, 3, 4}, 100.0F, false, false, Outcome::Kept},
        DropCase{"ZeroIntegralKept", {10, 10, 10, 10}, 10.0F, false, true, Outcome::Kept},
        // Edge rules.
        DropCase{"EdgeAtStartDropped", {30, 20, 10}, 0.0F, true, false, Outcome::Dropped},
        DropCase{"EdgeAtStartKept", {30, 20, 10}, 0.0F, false, false, Outcome::Kept},
        DropCase{"EdgeAtEndDropped", {0, 0, 5}, 0.0F, true, false, Outcome::Dropped},
        DropCase{"ThreeSamplesNeverKept", {3, 9, 10}, 0.0F, true, false, Outcome::Dropped},
        DropCase{
            "WorkedExampleKept", {10, 10, 12, 20, 24, 25, 25}, 10.0F, true, true, Outcome::Kept},
        // Edge 1.93: the sample at index 1 is 1.
        DropCase{"BaselineAboveEdgeSample", {0, 1, 5, 5}, 1.5F, true, false, Outcome::Dropped},
        DropCase{"BaselineAtEdgeSample", {0, 1, 5, 5}, 1.0F, true, false, Outcome::Kept},
        DropCase{"BaselineAboveEdgeSampleKept", {0, 1, 5, 5}, 1.5F, false, false, Outcome::Kept},
        DropCase{"BaselineJustAboveEdgeSample",
                 {0, 1, 5, 5},
                 std::nextafter(1.0F, 2.0F),
                 true,
                 false,
                 Outcome::Dropped}),
    [](const testing::TestParamInfo<DropCase>& info) { return info.param.name; });

// The edge test the extractor and the pulse finder share never reads outside the samples.
TEST(TarvoExtractor, EdgesAtOrPastEitherEndAreBad) {
    const Samples w = {0, 1, 5, 5};
    constexpr double inf = std::numeric_limits<double>::infinity();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    for (const double edge : {0.0, 4.0, -0.5, 4.5, 1e300, nan, -inf, inf}) {
        EXPECT_TRUE(TarvoExtractor::is_bad_edge(edge, w, 0.0F)) << edge;
    }
    EXPECT_FALSE(TarvoExtractor::is_bad_edge(3.99, w, 0.0F));
}

TEST(TarvoExtractor, MarkerEdgesGiveTriggerTimeOffsets) {
    const TarvoExtractor extractor(false, false);
    std::vector<HitFeatures> out;
    extractor.extract_features(make_trigger({30, 20, 10}, 0.0F), out, RunInfo{});
    extractor.extract_features(make_trigger({0, 0, 5}, 0.0F), out, RunInfo{});
    ASSERT_EQ(out.size(), 2U);
    EXPECT_EQ(out[0].get_rising_edge_time(), out[0].get_trigger_time());
    EXPECT_EQ(out[1].get_rising_edge_time(), 3.0 * 4e-9 + out[1].get_trigger_time());
    for (const HitFeatures& f : out) {
        EXPECT_FALSE(f.has_pmt_type());
        EXPECT_FALSE(f.has_time_over_threshold());
        EXPECT_FALSE(f.has_adc_sample());
        EXPECT_FALSE(f.has_id());
    }
}

TEST(TarvoExtractor, ViewOverBorrowedSamplesMatchesObjectPath) {
    const std::uint16_t samples[] = {100, 101, 99, 140, 260, 300, 280, 200, 150, 120, 101};
    RunInfo run;
    run.time_offset_s = 2;
    run.time_offset_ns = 1000;
    const tessel::TarvoTriggerView view{-3, 12, 77, 100.25F, samples};
    const TarvoExtractor extractor(true, true);
    HitFeatures direct;
    ASSERT_TRUE(extractor.extract(view, run, direct));

    TarvoTrigger trigger =
        make_trigger(Samples(std::begin(samples), std::end(samples)), 100.25F, 12, 77);
    trigger.channel = -3;
    std::vector<HitFeatures> out;
    extractor.extract_features(trigger, out, run);
    ASSERT_EQ(out.size(), 1U);
    EXPECT_EQ(out[0].get_channel(), -3);
    EXPECT_EQ(bits(out[0].get_waveform_integral()), bits(direct.get_waveform_integral()));
    EXPECT_EQ(bits(out[0].get_trigger_time()), bits(direct.get_trigger_time()));
    EXPECT_EQ(bits(out[0].get_rising_edge_time()), bits(direct.get_rising_edge_time()));
    EXPECT_EQ(direct.get_trigger_time(), (10.0 + 77 * 4e-9) - 1000 * 1e-9);
}

}  // namespace
