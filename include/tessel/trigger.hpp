#pragma once

#include <chrono>
#include <cstdint>
#include <variant>
#include <vector>

namespace tessel {

/// A digitized waveform from one channel, time-stamped in whole seconds since run start plus
/// 4 ns ticks.
struct TarvoTrigger {
    /// Length of one tick and of one sample: 4 ns.
    static constexpr double SECONDS_PER_TICK = 4e-9;

    std::int32_t channel = 0;
    std::uint32_t trigger_time_s = 0;
    std::uint32_t trigger_time_ticks = 0;
    float baseline = 0.0F;
    float intsum = 0.0F;  ///< sum computed by the electronics; carried, not used
    std::vector<std::uint16_t> waveform;
};

/// A record already reduced by a multi-PMT module.
struct MultiPMTTrigger {
    double time = 0.0;
    std::int32_t channel = 0;
    double time_over_threshold = 0.0;
    std::uint16_t adc_sample = 0;
};

/// One element of a trigger list: alternative 0 is a TarvoTrigger, alternative 1 a
/// MultiPMTTrigger.
using Trigger = std::variant<TarvoTrigger, MultiPMTTrigger>;
using TriggerList = std::vector<Trigger>;

/// The run the triggers belong to.
struct RunInfo {
    using TimePoint = std::chrono::time_point<std::chrono::system_clock, std::chrono::nanoseconds>;

    /// Bit position of the run number in a hit id.
    static constexpr std::uint64_t RUN_ID_SHIFT = 32;
    /// Bit position of the trigger index in a hit id.
    static constexpr std::uint64_t TRIGGER_INDEX_SHIFT = 4;
    /// Number of trigger positions the id's 28-bit trigger field can hold.
    static constexpr std::uint64_t MAX_TRIGGER_POSITIONS = std::uint64_t{1} << 28U;

    std::uint64_t run_number = 0;
    std::uint64_t time_offset_s = 0;
    std::uint64_t time_offset_ns = 0;
    TimePoint run_start_time{};

    /// The run used when a caller gives none: run 0xF00D00, no offsets,
    /// start 1735689627000000000 ns after the epoch.
    static RunInfo simulation_run() noexcept {
        RunInfo info;
        info.run_number = 15731968;
        info.run_start_time = TimePoint(std::chrono::nanoseconds(1735689627000000000LL));
        return info;
    }

    static constexpr std::uint64_t run_number_from_id(std::uint64_t id) noexcept {
        return id >> RUN_ID_SHIFT;
    }
    static constexpr std::uint64_t trigger_index_from_id(std::uint64_t id) noexcept {
        return (id >> TRIGGER_INDEX_SHIFT) & 0x0FFFFFFFU;
    }
};

/// Hit id of record `record_index` of the trigger at `trigger_position` in run `run_number`.
/// Only the low 32 bits of the run number survive; callers keep the position below
/// `RunInfo::MAX_TRIGGER_POSITIONS` with `check_trigger_positions`.
constexpr std::uint64_t make_hit_id(std::uint64_t run_number, std::uint64_t trigger_position,
                                    std::uint64_t record_index) noexcept {
    return (run_number << RunInfo::RUN_ID_SHIFT) |
           (trigger_position << RunInfo::TRIGGER_INDEX_SHIFT) | record_index;
}

/// Refuses, with `std::length_error`, a call whose trigger positions `first`..`first+count-1`
/// would not fit the 28-bit trigger field of the hit id (a larger position would spill into the
/// run number bits and corrupt the ids).
void check_trigger_positions(std::uint64_t first, std::uint64_t count);

}  // namespace tessel
