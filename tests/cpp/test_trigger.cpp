#include <gtest/gtest.h>

#include <cstdint>
#include <stdexcept>
#include <string>

#include "support.hpp"
#include "tessel/trigger.hpp"

namespace {

using tessel::RunInfo;

TEST(HitId, BitLayoutRoundTrips) {
    struct Case {
        std::uint64_t run, position, record;
    };
    for (const auto& c : {Case{7, 3, 0}, Case{5, 9, 3}, Case{0xFFFFFFFF, 0x0FFFFFFF, 15},
                          Case{0, 0, 0}, Case{15731968, 123456, 1}}) {
        const auto id = tessel::make_hit_id(c.run, c.position, c.record);
        EXPECT_EQ(RunInfo::run_number_from_id(id), c.run);
        EXPECT_EQ(RunInfo::trigger_index_from_id(id), c.position);
        EXPECT_EQ(id & 0xFU, c.record);
    }
    EXPECT_EQ(tessel::make_hit_id(7, 3, 0), (std::uint64_t{7} << 32U) + 48U);
    EXPECT_EQ(RunInfo::trigger_index_from_id(48), 3U);
    EXPECT_EQ(RunInfo::trigger_index_from_id(63), 3U);
    EXPECT_EQ(RunInfo::run_number_from_id(~std::uint64_t{0}), 4294967295U);
    EXPECT_EQ(RunInfo::trigger_index_from_id(~std::uint64_t{0}), 268435455U);
}

TEST(HitId, RunNumbersKeepOnlyTheirLow32Bits) {
    const std::uint64_t run = (std::uint64_t{1} << 32U) + 5U;
    EXPECT_EQ(RunInfo::run_number_from_id(tessel::make_hit_id(run, 1, 0)), 5U);
}

TEST(HitId, TriggerPositionsBeyondThe28BitFieldAreRefused) {
    constexpr auto limit = RunInfo::MAX_TRIGGER_POSITIONS;
    constexpr auto most = ~std::uint64_t{0};
    struct Case {
        std::uint64_t first;
        std::uint64_t count;
        const char* positions;  // the start of the message; null: accepted
    };
    const Case cases[] = {
        {0, 0, nullptr},
        {0, limit, nullptr},
        {limit - 1, 1, nullptr},
        {limit, 0, nullptr},
        {0, limit + 1, "Trigger positions 0 to 268435456 do not fit"},
        {limit, 1, "Trigger position 268435456 does not fit"},
        {limit - 2, 3, "Trigger positions 268435454 to 268435456 do not fit"},
        {limit + 1, 0, "Trigger position 268435457 does not fit"},
        // No wrap-around past 64 bits.
        {most, 2, "Trigger positions 18446744073709551615 to 18446744073709551616 do not fit"},
        {1, most, "Trigger positions 1 to 18446744073709551615 do not fit"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.first) + " + " + std::to_string(c.count));
        const auto error =
            tessel::testing::thrown_by([&] { tessel::check_trigger_positions(c.first, c.count); });
        if (c.positions == nullptr) {
            EXPECT_FALSE(error);
            continue;
        }
        tessel::testing::expect_thrown<std::length_error>(error, [&](const std::length_error& e) {
            EXPECT_EQ(std::string(e.what()).rfind(c.positions, 0), 0U) << e.what();
        });
    }
}

TEST(RunInfo, SimulationRunDiffersFromTheAllZeroDefault) {
    const RunInfo zero;
    EXPECT_EQ(zero.run_number, 0U);
    EXPECT_EQ(zero.run_start_time.time_since_epoch().count(), 0);
    const auto sim = RunInfo::simulation_run();
    EXPECT_EQ(sim.run_number, 0xF00D00U);
    EXPECT_EQ(sim.time_offset_s, 0U);
    EXPECT_EQ(sim.time_offset_ns, 0U);
    EXPECT_EQ(sim.run_start_time.time_since_epoch().count(), 1735689627000000000LL);
}

TEST(Triggers, DefaultsAreZeroAndTheVariantOrderIsFixed) {
    const tessel::TarvoTrigger tarvo;
    EXPECT_TRUE(tarvo.waveform.empty());
    EXPECT_EQ(tarvo.baseline, 0.0F);
    EXPECT_EQ(tessel::TarvoTrigger::SECONDS_PER_TICK, 4e-9);
    const tessel::Trigger first = tarvo;
    const tessel::Trigger second = tessel::MultiPMTTrigger{};
    EXPECT_EQ(first.index(), 0U);
    EXPECT_EQ(second.index(), 1U);
}

}  // namespace
