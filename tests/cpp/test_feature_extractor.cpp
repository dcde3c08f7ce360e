#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <ios>
#include <ostream>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "tessel/feature_extractor.hpp"

namespace {

using tessel::FeatureExtractor;
using tessel::HitFeatures;
using tessel::MultiPMTTrigger;
using tessel::RunInfo;
using tessel::TarvoTrigger;
using tessel::TriggerList;

/// Writes `text` to a settings file named after the running test and `name`, so that tests run
/// in parallel processes never share a file.
std::filesystem::path settings_file(const std::string& name, const std::string& text) {
    const testing::TestInfo* test = testing::UnitTest::GetInstance()->current_test_info();
    std::string stem = std::string(test->test_suite_name()) + "." + test->name() + "." + name;
    std::replace(stem.begin(), stem.end(), '/', '_');
    const std::filesystem::path dir =
        std::filesystem::path(testing::TempDir()) / "tessel_feature_extractor";
    std::filesystem::create_directories(dir);
    const std::filesystem::path file = dir / (stem + ".yaml");
    std::ofstream(file) << text;
    return file;
}

FeatureExtractor extractor_with(bool drop_bad_edge, bool drop_bad_integral) {
    const std::string text = std::string("extractors:\n  Tarvo:\n    drop_bad_edge: ") +
                             (drop_bad_edge ? "true" : "false") +
                             "\n    drop_bad_integral: " + (drop_bad_integral ? "true" : "false") +
                             "\n";
    return FeatureExtractor(settings_file(
        std::string("options_") + (drop_bad_edge ? "e" : "") + (drop_bad_integral ? "i" : ""),
        text));
}

TarvoTrigger pulse(std::int32_t channel) {
    TarvoTrigger t;
    t.channel = channel;
    t.trigger_time_s = 100;
    t.trigger_time_ticks = 250;
    t.baseline = 10.0F;
    t.waveform = {10, 10, 12, 20, 24, 25, 25};
    return t;
}

TarvoTrigger below_baseline(std::int32_t channel) {
    TarvoTrigger t = pulse(channel);
    t.baseline = 1000.0F;
    return t;
}

// ---------------------------------------------------------------------------------------------
// Options read from the settings file.

struct OptionsCase {
    std::string name;
    std::string yaml;
    bool drop_bad_edge;
    bool drop_bad_integral;
};

void PrintTo(const OptionsCase& c, std::ostream* os) { *os << c.name; }

class Options : public testing::TestWithParam<OptionsCase> {};

TEST_P(Options, Read) {
    const OptionsCase& c = GetParam();
    const FeatureExtractor extractor(settings_file(c.name, c.yaml));
    EXPECT_EQ(extractor.tarvo_extractor().drop_bad_edge(), c.drop_bad_edge);
    EXPECT_EQ(extractor.tarvo_extractor().drop_bad_integral(), c.drop_bad_integral);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Options,
    testing::Values(
        OptionsCase{"NoExtractors", "reco: {}\n", false, false},
        OptionsCase{"EmptyDocument", "", false, false},
        OptionsCase{"NoTarvo", "extractors:\n  Other:\n    drop_bad_edge: true\n", false, false},
        OptionsCase{"ScalarExtractors", "extractors: 3\n", false, false},
        OptionsCase{"EdgeOnly",
                    "extractors:\n  Tarvo:\n    drop_bad_edge: true\n"
                    "    drop_bad_integral: false\n",
                    true, false},
        OptionsCase{"IntegralOnly",
                    "extractors:\n  Tarvo:\n    drop_bad_integral: true\n"
                    "    drop_bad_edge: false\n",
                    false, true},
        OptionsCase{"Both", "extractors: {Tarvo: {drop_bad_edge: true, drop_bad_integral: true}}\n",
                    true, true}),
    [](const testing::TestParamInfo<OptionsCase>& info) { return info.param.name; });

struct BadOptionsCase {
    std::string name;
    std::string yaml;
    std::string message;
};

void PrintTo(const BadOptionsCase& c, std::ostream* os) { *os << c.name; }

class BadOptions : public testing::TestWithParam<BadOptionsCase> {};

TEST_P(BadOptions, ConstructionFails) {
    const BadOptionsCase& c = GetParam();
    const auto file = settings_file(c.name, c.yaml);
    try {
        FeatureExtractor extractor(file);
        ADD_FAILURE() << "constructed from " << c.yaml;
    } catch (const std::out_of_range& e) {
        EXPECT_EQ(e.what(), c.message);
    } catch (const std::invalid_argument& e) {
        EXPECT_EQ(e.what(), c.message);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, BadOptions,
    testing::Values(
        BadOptionsCase{"OnlyDropBadEdge", "extractors:\n  Tarvo:\n    drop_bad_edge: true\n",
                       "Key drop_bad_integral not found!"},
        BadOptionsCase{"OnlyDropBadIntegral",
                       "extractors:\n  Tarvo:\n    drop_bad_integral: true\n",
                       "Key drop_bad_edge not found!"},
        BadOptionsCase{"EmptyTarvo", "extractors:\n  Tarvo: {}\n", "Key drop_bad_edge not found!"},
        BadOptionsCase{"NotABool",
                       "extractors:\n  Tarvo:\n    drop_bad_edge: maybe\n"
                       "    drop_bad_integral: true\n",
                       "access failed"},
        BadOptionsCase{"SecondNotABool",
                       "extractors:\n  Tarvo:\n    drop_bad_edge: true\n"
                       "    drop_bad_integral: [1]\n",
                       "access failed"},
        BadOptionsCase{"UnknownWaveformExtractor", "extractors: {waveform: Peak}\n",
                       "extractors.waveform: expected Tarvo or PulseFinder, found Peak"},
        // A pulse finder section is checked even while the single-pulse extractor is chosen.
        BadOptionsCase{"BadPulseFinderSection",
                       "extractors: {waveform: Tarvo, PulseFinder: {threshold: -1}}\n",
                       "extractors.PulseFinder.threshold: expected a number of LSB > 0, found -1"}),
    [](const testing::TestParamInfo<BadOptionsCase>& info) { return info.param.name; });

TEST(FeatureExtractor, MissingFileFails) {
    EXPECT_THROW(FeatureExtractor(std::filesystem::path(testing::TempDir()) / "no_such.yaml"),
                 std::ios_base::failure);
}

// ---------------------------------------------------------------------------------------------
// Dispatch and ids.

std::vector<std::uint64_t> ids_of(const std::vector<HitFeatures>& records) {
    std::vector<std::uint64_t> ids;
    for (const HitFeatures& f : records) {
        ids.push_back(f.get_id());
    }
    return ids;
}

RunInfo run(std::uint64_t number) {
    RunInfo info;
    info.run_number = number;
    return info;
}

TEST(FeatureExtractor, EmptyListGivesEmptyList) {
    EXPECT_TRUE(extractor_with(true, true).extract_features({}, run(5)).empty());
}

TEST(FeatureExtractor, DroppedTriggerKeepsLaterPositions) {
    const TriggerList triggers = {pulse(1), below_baseline(2), pulse(3)};
    const auto records = extractor_with(false, true).extract_features(triggers, run(5));
    ASSERT_EQ(records.size(), 2U);
    EXPECT_EQ(ids_of(records), (std::vector<std::uint64_t>{5ULL << 32U, (5ULL << 32U) + 32}));
    EXPECT_EQ(records[0].get_channel(), 1);
    EXPECT_EQ(records[1].get_channel(), 3);
}

TEST(FeatureExtractor, MixedListInInputOrder) {
    const MultiPMTTrigger module{1.5, 12, 2.5e-8, 65535};
    const TriggerList triggers = {pulse(1), module, pulse(3)};
    const auto records = extractor_with(false, false).extract_features(triggers, run(7));
    ASSERT_EQ(records.size(), 3U);
    const std::uint64_t base = 7ULL << 32U;
    EXPECT_EQ(ids_of(records), (std::vector<std::uint64_t>{base, base + 16, base + 32}));

    EXPECT_EQ(records[0].flags(), HitFeatures::CHANNEL | HitFeatures::WAVEFORM_INTEGRAL |
                                      HitFeatures::TRIGGER_TIME | HitFeatures::RISING_EDGE_TIME |
                                      HitFeatures::ID);
    EXPECT_EQ(records[0].get_waveform_integral(), 56.0);
    EXPECT_EQ(records[1].flags(), HitFeatures::CHANNEL | HitFeatures::TIME_OVER_THRESHOLD |
                                      HitFeatures::TRIGGER_TIME | HitFeatures::ADC_SAMPLE |
                                      HitFeatures::ID);
    EXPECT_EQ(records[1].get_channel(), 12);
    EXPECT_EQ(records[1].get_trigger_time(), 1.5);
    EXPECT_EQ(records[2].get_channel(), 3);
}

TEST(FeatureExtractor, RunNumberKeepsLow32Bits) {
    const TriggerList triggers = {MultiPMTTrigger{}, MultiPMTTrigger{}};
    const auto records =
        extractor_with(false, false).extract_features(triggers, run((1ULL << 32U) | 9U));
    EXPECT_EQ(ids_of(records), (std::vector<std::uint64_t>{9ULL << 32U, (9ULL << 32U) + 16}));
    EXPECT_EQ(RunInfo::run_number_from_id(records[1].get_id()), 9U);
    EXPECT_EQ(RunInfo::trigger_index_from_id(records[1].get_id()), 1U);
}

TEST(FeatureExtractor, DefaultRunIsSimulationRun) {
    const auto records = extractor_with(false, false).extract_features({MultiPMTTrigger{}});
    ASSERT_EQ(records.size(), 1U);
    EXPECT_EQ(records[0].get_id(), RunInfo::simulation_run().run_number << 32U);
}

TEST(FeatureExtractor, TimeOffsetsReachTheWaveformExtractorOnly) {
    RunInfo info = run(1);
    info.time_offset_s = 40;
    info.time_offset_ns = 500000000;
    const TriggerList triggers = {pulse(1), MultiPMTTrigger{1.5, 2, 0.0, 0}};
    const auto records = extractor_with(false, false).extract_features(triggers, info);
    ASSERT_EQ(records.size(), 2U);
    EXPECT_EQ(records[0].get_trigger_time(), (60.0 + 250 * 4e-9) - 500000000 * 1e-9);
    EXPECT_EQ(records[1].get_trigger_time(), 1.5);
}

TEST(FeatureExtractor, ShortWaveformEndsTheCall) {
    TarvoTrigger short_one = pulse(2);
    short_one.waveform = {20, 30};
    const TriggerList triggers = {pulse(1), short_one, pulse(3)};
    EXPECT_THROW((void)extractor_with(true, true).extract_features(triggers, run(1)),
                 std::invalid_argument);
}

TEST(FeatureExtractor, MovedExtractorKeepsItsOptions) {
    FeatureExtractor source = extractor_with(true, false);
    FeatureExtractor target = extractor_with(false, true);
    target = std::move(source);
    EXPECT_TRUE(target.tarvo_extractor().drop_bad_edge());
    EXPECT_FALSE(target.tarvo_extractor().drop_bad_integral());
    const FeatureExtractor moved(std::move(target));
    EXPECT_EQ(moved.extract_features({pulse(4)}, run(2)).size(), 1U);
}

// The id's trigger field holds 2^28 positions; a longer list is refused before any extraction
// (checked on the guard itself, without building such a list).
TEST(FeatureExtractor, TriggerPositionGuard) {
    EXPECT_NO_THROW(tessel::check_trigger_positions(0, RunInfo::MAX_TRIGGER_POSITIONS));
    EXPECT_THROW(tessel::check_trigger_positions(0, RunInfo::MAX_TRIGGER_POSITIONS + 1),
                 std::length_error);
    EXPECT_EQ(RunInfo::trigger_index_from_id(
                  tessel::make_hit_id(3, RunInfo::MAX_TRIGGER_POSITIONS - 1, 0)),
              RunInfo::MAX_TRIGGER_POSITIONS - 1);
}

}  // namespace
