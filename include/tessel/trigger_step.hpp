#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <variant>

#include "tessel/extractors.hpp"
#include "tessel/feature_record.hpp"
#include "tessel/trigger.hpp"

namespace tessel {

/// The records one trigger yields, in record order.  Filled by `TriggerStep::extract`; reused
/// from trigger to trigger, so that no step allocates.
struct TriggerRecords {
    std::array<FeatureRecord, MAX_RECORDS_PER_TRIGGER> record;
    /// Records in `record`.
    std::size_t count = 0;
    /// Whether the extractor found more records than `record` holds (the first ones are kept).
    bool truncated = false;

    [[nodiscard]] const FeatureRecord* begin() const noexcept { return record.data(); }
    [[nodiscard]] const FeatureRecord* end() const noexcept { return record.data() + count; }
};

/// Extraction of one trigger into its records, with their hit ids: the step that the object
/// path (`FeatureExtractor::extract_features`, `ChargeReconstruction::reconstruct`) and the
/// columnar path (tessel/columnar/batch.hpp) take for every trigger.  Hit ids are made here and
/// nowhere else.  Made by `FeatureExtractor::step` for one call (or from the extractors alone);
/// it holds no state of its own between triggers, so several threads may use one step.
class TriggerStep {
public:
    TriggerStep(const TarvoExtractor& tarvo, const RunInfo& run_info) noexcept
        : tarvo_(&tarvo), run_info_(run_info) {}

    /// The records of waveform trigger `trigger` at `position` in the run.  Throws the
    /// extractor's std::invalid_argument for a waveform too short for the edge search.
    void extract(const TarvoTriggerView& trigger, std::uint64_t position,
                 TriggerRecords& out) const {
        out.truncated = false;
        out.count = tarvo_->extract(trigger, run_info_, out.record.data());
        finish(position, out);
    }

    /// The record of multi-PMT trigger `trigger` at `position` in the run.
    void extract(const MultiPMTTrigger& trigger, std::uint64_t position,
                 TriggerRecords& out) const noexcept {
        out.truncated = false;
        out.count = MultiPMTExtractor::extract(trigger, out.record.data());
        finish(position, out);
    }

    /// Most records one trigger yields with these extractors: room to reserve per trigger.
    [[nodiscard]] static constexpr std::size_t max_records() noexcept {
        return TarvoExtractor::MAX_RECORDS > MultiPMTExtractor::MAX_RECORDS
                   ? TarvoExtractor::MAX_RECORDS
                   : MultiPMTExtractor::MAX_RECORDS;
    }

    [[nodiscard]] const RunInfo& run_info() const noexcept { return run_info_; }

private:
    /// What applies to every record after extraction, whatever the extractor: options of the
    /// extraction that act per record or drop the trigger belong here; then each record gets its
    /// hit id (run number, trigger position, record index).
    void finish(std::uint64_t position, TriggerRecords& out) const noexcept {
        for (std::size_t k = 0; k < out.count; ++k) {
            FeatureRecord& r = out.record[k];
            r.id = make_hit_id(run_info_.run_number, position, k);
            r.present |= HitFeatures::ID;
        }
    }

    const TarvoExtractor* tarvo_;
    RunInfo run_info_;
};

/// The records of one element of a trigger list, by the kind of trigger it holds.
inline void extract_trigger(const TriggerStep& step, const Trigger& trigger, std::uint64_t position,
                            TriggerRecords& out) {
    if (const auto* tarvo = std::get_if<TarvoTrigger>(&trigger)) {
        step.extract(TarvoTriggerView::of(*tarvo), position, out);
    } else {
        step.extract(std::get<MultiPMTTrigger>(trigger), position, out);
    }
}

}  // namespace tessel
