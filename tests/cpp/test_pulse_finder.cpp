#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <memory>
#include <ostream>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "../../src/extract/waveform_kernels.hpp"
#include "support.hpp"
#include "tessel/feature_extractor.hpp"
#include "tessel/pulse_finder.hpp"
#include "tessel/yaml_accessor.hpp"

namespace {

using tessel::HitFeatures;
using tessel::PulseFinder;
using tessel::RunInfo;
using tessel::TarvoExtractor;
using tessel::TarvoTrigger;
using Samples = std::vector<std::uint16_t>;

constexpr double kTick = TarvoTrigger::SECONDS_PER_TICK;

TarvoTrigger make_trigger(Samples waveform, float baseline) {
    TarvoTrigger t;
    t.channel = 7;
    t.trigger_time_s = 3;
    t.trigger_time_ticks = 100;
    t.baseline = baseline;
    t.waveform = std::move(waveform);
    return t;
}

std::uint64_t bits(double x) { return std::bit_cast<std::uint64_t>(x); }

PulseFinder::Options options(double threshold, double hysteresis, std::size_t before,
                             std::size_t after) {
    PulseFinder::Options o;
    o.threshold = threshold;
    o.hysteresis = hysteresis;
    o.samples_before = before;
    o.samples_after = after;
    return o;
}

// Noise around a baseline of 100 with a pulse of `height` starting at `at` (rise over two
// samples, decay by half per sample).
Samples noisy_pulse(std::mt19937& rng, std::size_t n, std::size_t at, double height) {
    std::normal_distribution<double> noise(0.0, 2.0);
    Samples w(n);
    for (std::size_t i = 0; i < n; ++i) {
        double v = 100.0 + noise(rng);
        if (i == at) {
            v += height / 2;
        } else if (i > at) {
            v += height / static_cast<double>(1U << std::min<std::size_t>(i - at - 1, 30));
        }
        w[i] = static_cast<std::uint16_t>(std::lround(v));
    }
    return w;
}

// ---------------------------------------------------------------------------------------------
// Windows: integrals and edges of hand-made waveforms (baseline 10).

struct WindowCase {
    const char* name;
    Samples waveform;
    PulseFinder::Options options;
    // Per record: first and last (exclusive) sample of the window.
    std::vector<std::pair<std::size_t, std::size_t>> windows;
    bool overflow = false;
};

void PrintTo(const WindowCase& c, std::ostream* os) { *os << c.name; }

class Windows : public ::testing::TestWithParam<WindowCase> {};

TEST_P(Windows, IntegralAndEdgePerPulse) {
    const WindowCase& c = GetParam();
    const TarvoTrigger trigger = make_trigger(c.waveform, 10.0F);
    const RunInfo run = RunInfo::simulation_run();
    std::vector<HitFeatures> out(1);  // a record already there stays untouched
    EXPECT_EQ(PulseFinder(c.options).extract_features(trigger, out, run), c.overflow);
    ASSERT_EQ(out.size(), c.windows.size() + 1);
    EXPECT_EQ(out[0].flags(), 0);
    const double time = TarvoExtractor::trigger_time(3, 100, run);
    for (std::size_t k = 0; k < c.windows.size(); ++k) {
        SCOPED_TRACE(k);
        const auto [first, last] = c.windows[k];
        const std::span<const std::uint16_t> window(trigger.waveform.data() + first, last - first);
        const HitFeatures& f = out[k + 1];
        EXPECT_EQ(f.get_channel(), 7);
        EXPECT_EQ(bits(f.get_trigger_time()), bits(time));
        EXPECT_EQ(bits(f.get_waveform_integral()),
                  bits(TarvoExtractor::waveform_integral(window, 10.0F)));
        const double edge = window.size() >= 3 ? TarvoExtractor::diff_max(window) : 0.0;
        EXPECT_EQ(bits(f.get_rising_edge_time()),
                  bits((static_cast<double>(first) + edge) * kTick + time));
        EXPECT_FALSE(f.has_id());
    }
}

Samples two_pulses() {
    //        0   1   2   3   4   5   6   7   8   9  10  11  12  13  14  15  16  17
    return {10, 10, 11, 40, 30, 20, 14, 11, 10, 10, 12, 50, 35, 21, 15, 12, 10, 10};
}

INSTANTIATE_TEST_SUITE_P(
    PulseFinder, Windows,
    ::testing::Values(
        WindowCase{"Empty", {}, options(5, 2, 2, 2), {}},
        WindowCase{"Flat", Samples(20, 10), options(5, 2, 2, 2), {}},
        // Threshold 15 (above 25), return at or below 23: pulse 1 is 3..5, pulse 2 is 11..13.
        WindowCase{"TwoPulses", two_pulses(), options(15, 2, 2, 3), {{1, 8}, {9, 16}}},
        // Window after the return cut where the next window begins (11 - 4 = 7).
        WindowCase{"CutAtNextWindow", two_pulses(), options(15, 2, 4, 6), {{0, 7}, {7, 18}}},
        // The next window never reaches back before the previous return (sample 2).
        WindowCase{"StartAtPreviousReturn",
                   {10, 40, 20, 40, 20, 10, 10, 10},
                   options(20, 0, 3, 1),
                   {{0, 2}, {2, 5}}},
        // Hysteresis: the dip to 33 (above 35 - 5 = 30 back) does not end the pulse.
        WindowCase{
            "Hysteresis", {10, 10, 40, 33, 40, 20, 10, 10, 10}, options(25, 5, 1, 1), {{1, 6}}},
        WindowCase{"NoHysteresis",
                   {10, 10, 40, 33, 40, 20, 10, 10, 10},
                   options(25, 0, 1, 1),
                   {{1, 3}, {3, 6}}},
        // A pulse still above at the end, and one too short for an edge (no error).
        WindowCase{"RunsToTheEnd", {10, 10, 10, 10, 40, 50}, options(15, 2, 1, 5), {{3, 6}}},
        WindowCase{"ShortWindow", {50, 10, 10}, options(15, 2, 0, 0), {{0, 1}}},
        // A fractional level: samples above 10 + 14.5 = 24.5, i.e. from 25 on.
        WindowCase{"FractionalLevel", {10, 24, 10, 25, 10}, options(14.5, 0, 0, 0), {{3, 4}}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(PulseFinder, SeventeenPulsesKeepSixteenAndReportOverflow) {
    Samples w;
    for (int k = 0; k < 17; ++k) {
        w.insert(w.end(), {10, 10, 60, 30, 10});
    }
    const PulseFinder finder(options(15, 5, 1, 3));
    std::vector<HitFeatures> out;
    EXPECT_TRUE(finder.extract_features(make_trigger(w, 10.0F), out, RunInfo{}));
    ASSERT_EQ(out.size(), 16U);
    // The 16th window is cut where the 17th begins, one sample into its block.
    EXPECT_EQ(out[15].get_waveform_integral(), 50.0 + 20.0);
    w.resize(16 * 5);
    out.clear();
    EXPECT_FALSE(finder.extract_features(make_trigger(w, 10.0F), out, RunInfo{}));
    EXPECT_EQ(out.size(), 16U);
}

// One pulse and windows reaching past both ends: the record of the single-pulse extractor.
TEST(PulseFinder, WholeWaveformWindowGivesTheSinglePulseRecord) {
    std::mt19937 rng(11);
    const TarvoExtractor tarvo(false, false);
    const PulseFinder finder(options(20, 10, 5000, 5000));
    for (std::size_t n : {16U, 64U, 1024U}) {
        for (int trial = 0; trial < 50; ++trial) {
            TarvoTrigger trigger = make_trigger(noisy_pulse(rng, n, n / 4 + trial % 7, 300), 99.5F);
            std::vector<HitFeatures> single;
            std::vector<HitFeatures> multi;
            tarvo.extract_features(trigger, single, RunInfo::simulation_run());
            EXPECT_FALSE(finder.extract_features(trigger, multi, RunInfo::simulation_run()));
            ASSERT_EQ(multi.size(), 1U);
            EXPECT_EQ(bits(multi[0].get_waveform_integral()),
                      bits(single[0].get_waveform_integral()));
            EXPECT_EQ(bits(multi[0].get_rising_edge_time()),
                      bits(single[0].get_rising_edge_time()));
            EXPECT_EQ(bits(multi[0].get_trigger_time()), bits(single[0].get_trigger_time()));
        }
    }
}

TEST(PulseFinder, ConstantFractionTimeAndDroppedPulses) {
    auto o = options(15, 2, 1, 1);
    o.timing = PulseFinder::Timing::cfd;
    o.cfd_fraction = 0.25;
    // Amplitude 90 - 10 = 80; level 10 + 20 = 30, reached between sample 2 (20) and 3 (60).
    const Samples w = {10, 10, 20, 60, 90, 40, 10, 10};
    std::vector<HitFeatures> out;
    PulseFinder(o).extract_features(make_trigger(w, 10.0F), out, RunInfo{});
    ASSERT_EQ(out.size(), 1U);
    EXPECT_DOUBLE_EQ(out[0].get_rising_edge_time(), 3 + 100 * kTick + 2.25 * kTick);

    // A level met exactly by a sample, the next one on it too: the time is that sample's.
    const Samples exact = {10, 10, 10, 10, 10, 10, 10, 10, 10, 10, 30, 30, 90, 40, 10};
    auto at_level = options(15, 2, 10, 1);
    at_level.timing = PulseFinder::Timing::cfd;
    at_level.cfd_fraction = 0.25;
    out.clear();
    PulseFinder(at_level).extract_features(make_trigger(exact, 10.0F), out, RunInfo{});
    ASSERT_EQ(out.size(), 1U);
    EXPECT_DOUBLE_EQ(out[0].get_rising_edge_time(), 3 + 100 * kTick + 10 * kTick);

    // Window starting on the crossing: no interpolation, a bad edge, dropped when asked.
    const Samples late = {10, 10, 90, 40, 10};
    o.samples_before = 0;
    out.clear();
    PulseFinder(o).extract_features(make_trigger(late, 10.0F), out, RunInfo{});
    ASSERT_EQ(out.size(), 1U);
    EXPECT_DOUBLE_EQ(out[0].get_rising_edge_time(), 3 + 100 * kTick + 2 * kTick);
    o.drop_bad_edge = true;
    out.clear();
    PulseFinder(o).extract_features(make_trigger(late, 10.0F), out, RunInfo{});
    EXPECT_TRUE(out.empty());

    // A negative integral over the window (undershoot after the pulse), dropped when asked.
    auto neg = options(15, 2, 0, 4);
    const Samples undershoot = {10, 30, 0, 0, 0, 0, 10};
    out.clear();
    PulseFinder(neg).extract_features(make_trigger(undershoot, 10.0F), out, RunInfo{});
    ASSERT_EQ(out.size(), 1U);
    EXPECT_EQ(out[0].get_waveform_integral(), 20.0 - 40.0);
    neg.drop_bad_integral = true;
    out.clear();
    PulseFinder(neg).extract_features(make_trigger(undershoot, 10.0F), out, RunInfo{});
    EXPECT_TRUE(out.empty());
}

TEST(PulseFinderKernels, LevelSearchesMatchPlainLoops) {
    std::mt19937 rng(5);
    std::uniform_int_distribution<int> sample(0, 65535);
    for (std::size_t n : {0U, 1U, 7U, 15U, 16U, 17U, 33U, 47U, 100U, 1024U}) {
        for (int trial = 0; trial < 200; ++trial) {
            Samples w(n);
            for (auto& s : w) {
                s = static_cast<std::uint16_t>(trial % 2 ? sample(rng) : 100 + sample(rng) % 8);
            }
            const auto level = static_cast<std::uint16_t>(trial % 2 ? sample(rng) : 103);
            const std::size_t from = n ? static_cast<std::size_t>(trial) % n : 0;
            std::size_t above = n;
            std::size_t not_above = n;
            for (std::size_t i = n; i-- > from;) {
                (w[i] > level ? above : not_above) = i;
            }
            EXPECT_EQ(tessel::waveform::first_above(w, from, level), above);
            EXPECT_EQ(tessel::waveform::first_not_above(w, from, level), not_above);
        }
    }
}

// Selected in the settings, the pulse finder numbers the records of a trigger in the hit id.
TEST(PulseFinder, SelectedUnderExtractorsWithRecordIndexInTheId) {
    tessel::testing::TempDir dir;
    const auto file = dir.write("s.yaml",
                                "extractors: {waveform: PulseFinder, PulseFinder: {threshold: 15, "
                                "hysteresis: 2, samples_before: 2, samples_after: 3}}\n");
    const tessel::FeatureExtractor extractor(file);
    ASSERT_NE(extractor.pulse_finder(), nullptr);
    EXPECT_EQ(extractor.pulse_finder()->options().threshold, 15.0);
    RunInfo run;
    run.run_number = 3;
    const tessel::TriggerList triggers = {
        make_trigger(two_pulses(), 10.0F), make_trigger(Samples(8, 10), 10.0F),
        tessel::MultiPMTTrigger{1.0, 4, 0.0, 7}, make_trigger(two_pulses(), 10.0F)};
    const auto records = extractor.extract_features(triggers, run);
    std::vector<std::uint64_t> ids;
    for (const HitFeatures& f : records) {
        ids.push_back(f.get_id() - (3ULL << 32U));
    }
    EXPECT_EQ(ids, (std::vector<std::uint64_t>{0, 1, 2 << 4U, 3 << 4U, (3 << 4U) + 1}));
    EXPECT_EQ(bits(records[1].get_waveform_integral()),
              bits(TarvoExtractor::waveform_integral(
                  std::span<const std::uint16_t>(two_pulses()).subspan(9, 7), 10.0F)));
}

// ---------------------------------------------------------------------------------------------
// Options from a settings section.

PulseFinder::Options from_yaml(const std::string& text) {
    tessel::testing::TempDir dir;
    const auto file = dir.write("settings.yaml", text);
    return PulseFinder::Options::from_settings(
        tessel::Settings::from_file(file)["extractors"]["PulseFinder"]);
}

TEST(PulseFinder, ShapesLocalBaselineAndSamplePeriod) {
    auto o = options(15, 5, 1, 1);
    o.adc_max = 100;
    // Baseline 10, peak 110 at sample 6: half level 60 crossed at 4.25 and 7.25, 10 % (20) at
    // 2.5 and 90 % (100) at 5.5, all interpolated linearly.
    const Samples w = {10, 10, 10, 30, 50, 90, 110, 70, 30, 10, 10};
    std::vector<tessel::FeatureRecord> records(PulseFinder::kMaxPulses);
    std::vector<tessel::PulseShape> shapes(PulseFinder::kMaxPulses);
    bool truncated = false;
    const auto run = [&](const PulseFinder& finder, const TarvoTrigger& t) {
        return finder.extract(tessel::TarvoTriggerView::of(t), RunInfo{}, records.data(), truncated,
                              shapes.data());
    };
    ASSERT_EQ(run(PulseFinder(o), make_trigger(w, 10.0F)), 1U);
    const tessel::PulseShape& s = shapes[0];
    EXPECT_EQ(s.first_sample, 2U);
    EXPECT_EQ(s.last_sample, 9U);
    EXPECT_EQ(s.amplitude, 100.0);
    EXPECT_DOUBLE_EQ(s.peak_time, 6 * kTick);
    EXPECT_DOUBLE_EQ(s.width, 3 * kTick);
    EXPECT_DOUBLE_EQ(s.rise_time, 3 * kTick);
    EXPECT_TRUE(s.saturated);
    EXPECT_FALSE(s.no_return);
    EXPECT_EQ(s.channel, 7);

    // Never back below the return level: flagged, no width.  Another period scales the times.
    o.adc_max = std::numeric_limits<double>::quiet_NaN();
    o.sample_period = 1e-9;
    ASSERT_EQ(run(PulseFinder(o), make_trigger({10, 10, 60, 80, 90}, 10.0F)), 1U);
    EXPECT_TRUE(shapes[0].no_return);
    EXPECT_FALSE(shapes[0].saturated);
    EXPECT_TRUE(std::isnan(shapes[0].width));
    EXPECT_DOUBLE_EQ(shapes[0].peak_time, 4e-9);
    const double fast = records[0].values[4] - (3 + 100 * kTick);
    o.sample_period = kTick;
    ASSERT_EQ(run(PulseFinder(o), make_trigger({10, 10, 60, 80, 90}, 10.0F)), 1U);
    EXPECT_NEAR(fast * 4, records[0].values[4] - (3 + 100 * kTick), 1e-13);
    EXPECT_GT(fast, 1e-9);

    // A baseline that stepped up before the pulse: the local one (3 samples ahead of the
    // window) follows it.
    const Samples stepped = {20, 20, 20, 20, 20, 120, 60, 20};
    o = options(15, 5, 1, 1);
    ASSERT_EQ(run(PulseFinder(o), make_trigger(stepped, 10.0F)), 1U);
    EXPECT_EQ(records[0].values[0], 220.0 - 4 * 10.0);
    o.baseline = PulseFinder::Options::Baseline::local;
    o.baseline_samples = 3;
    ASSERT_EQ(run(PulseFinder(o), make_trigger(stepped, 10.0F)), 1U);
    EXPECT_EQ(records[0].values[0], 220.0 - 4 * 20.0);
    EXPECT_EQ(shapes[0].baseline, 20.0);
}

TEST(PulseFinderOptions, ReadDefaultsAndRefusals) {
    const auto defaults = from_yaml("extractors: {PulseFinder: {}}\n");
    EXPECT_EQ(defaults.threshold, PulseFinder::Options{}.threshold);
    EXPECT_EQ(defaults.timing, PulseFinder::Timing::edge);
    const auto read = from_yaml(
        "extractors:\n  PulseFinder: {threshold: 12.5, hysteresis: 0, samples_before: 4,\n"
        "    samples_after: 20, timing: cfd, cfd_fraction: 0.3, drop_bad_edge: true}\n");
    EXPECT_EQ(read.threshold, 12.5);
    EXPECT_EQ(read.hysteresis, 0.0);
    EXPECT_EQ(read.samples_before, 4U);
    EXPECT_EQ(read.samples_after, 20U);
    EXPECT_EQ(read.timing, PulseFinder::Timing::cfd);
    EXPECT_EQ(read.cfd_fraction, 0.3);
    EXPECT_TRUE(read.drop_bad_edge);
    EXPECT_FALSE(read.drop_bad_integral);

    const std::pair<const char*, const char*> refused[] = {
        {"{treshold: 5}", "extractors.PulseFinder.treshold: unknown option"},
        {"{threshold: 0}", "extractors.PulseFinder.threshold: expected a number of LSB > 0"},
        {"{threshold: high}", "extractors.PulseFinder.threshold: expected a number"},
        {"{hysteresis: -1}", "extractors.PulseFinder.hysteresis: expected a number of LSB >= 0"},
        {"{samples_after: -2}", "extractors.PulseFinder.samples_after: expected a number of"},
        {"{timing: peak}", "extractors.PulseFinder.timing: expected edge or cfd, found peak"},
        {"{cfd_fraction: 1.5}", "extractors.PulseFinder.cfd_fraction: expected a fraction"},
        {"{cfd_fraction: 1.0000000000000002}",
         "extractors.PulseFinder.cfd_fraction: expected a fraction in (0, 1], found "
         "1.0000000000000002"},
        {"{samples_after: 1073741825}",
         "extractors.PulseFinder.samples_after: expected a number of samples up to 2^30, found "
         "1073741825"},
        {"{drop_bad_edge: 3}", "extractors.PulseFinder.drop_bad_edge: expected true or false"},
        {"{baseline: mode}", "extractors.PulseFinder.baseline: expected trigger or local"},
        {"{sample_period: 0}", "extractors.PulseFinder.sample_period: expected a number of s"},
        {"{adc_max: 70000}", "extractors.PulseFinder.adc_max: expected a sample level"},
    };
    for (const auto& entry : refused) {
        // Plain names: clang 14 cannot capture structured bindings in the lambdas below.
        const std::string section = entry.first;
        const std::string message = entry.second;
        SCOPED_TRACE(section);
        tessel::testing::expect_thrown<std::invalid_argument>(
            tessel::testing::thrown_by([&] {
                (void)from_yaml(std::string("extractors: {PulseFinder: ") + section + "}");
            }),
            [&](const std::invalid_argument& e) {
                EXPECT_EQ(std::string(e.what()).rfind(message, 0), 0U) << e.what();
            });
    }
}

}  // namespace
