#include <gtest/gtest.h>

#include <cstdint>
#include <ostream>
#include <vector>

#include "tessel/extractors.hpp"

namespace {

using tessel::HitFeatures;
using tessel::MultiPMTExtractor;
using tessel::MultiPMTTrigger;
using tessel::RunInfo;

constexpr std::uint8_t kMultiPMTFlags = HitFeatures::CHANNEL | HitFeatures::TIME_OVER_THRESHOLD |
                                        HitFeatures::TRIGGER_TIME | HitFeatures::ADC_SAMPLE;

struct CopyCase {
    const char* name;
    MultiPMTTrigger trigger;
    RunInfo run;
};

RunInfo offset_run() {
    RunInfo run;
    run.run_number = 9;
    run.time_offset_s = 100;
    run.time_offset_ns = 500000000;
    return run;
}

void PrintTo(const CopyCase& c, std::ostream* os) { *os << c.name; }

class MultiPMTCopy : public testing::TestWithParam<CopyCase> {};

// The trigger's values are copied unchanged whatever the run's offsets; nothing else is set.
TEST_P(MultiPMTCopy, CopiesValues) {
    const CopyCase& c = GetParam();
    std::vector<HitFeatures> out(1);
    out[0].set_channel(-1);
    MultiPMTExtractor().extract_features(c.trigger, out, c.run);
    ASSERT_EQ(out.size(), 2U);
    EXPECT_EQ(out[0].flags(), HitFeatures::CHANNEL);
    EXPECT_EQ(out[0].get_channel(), -1);

    const HitFeatures& f = out[1];
    EXPECT_EQ(f.flags(), kMultiPMTFlags);
    EXPECT_EQ(f.get_channel(), c.trigger.channel);
    EXPECT_EQ(f.get_trigger_time(), c.trigger.time);
    EXPECT_EQ(f.get_time_over_threshold(), c.trigger.time_over_threshold);
    EXPECT_EQ(f.get_adc_sample(), static_cast<double>(c.trigger.adc_sample));

    HitFeatures direct;
    MultiPMTExtractor::extract(c.trigger, direct);
    EXPECT_EQ(direct.flags(), kMultiPMTFlags);
    EXPECT_EQ(direct.get_trigger_time(), c.trigger.time);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, MultiPMTCopy,
    testing::Values(CopyCase{"Example", MultiPMTTrigger{1.5, 12, 2.5e-8, 65535}, RunInfo{}},
                    CopyCase{"OffsetsIgnored", MultiPMTTrigger{1.5, 12, 2.5e-8, 7}, offset_run()},
                    CopyCase{"DefaultTrigger", MultiPMTTrigger{}, RunInfo::simulation_run()},
                    CopyCase{"NegativeValues", MultiPMTTrigger{-3.25, -8, -1e-9, 0}, offset_run()}),
    [](const testing::TestParamInfo<CopyCase>& info) { return info.param.name; });

}  // namespace
