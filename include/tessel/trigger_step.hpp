#pragma once

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <variant>

#include "tessel/channel_table.hpp"
#include "tessel/extractors.hpp"
#include "tessel/feature_record.hpp"
#include "tessel/pulse_finder.hpp"
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
    /// The records of this trigger that were dropped, by cause (`truncated` counted as 1).
    DropCounts drops;

    [[nodiscard]] const FeatureRecord* begin() const noexcept { return record.data(); }
    [[nodiscard]] const FeatureRecord* end() const noexcept { return record.data() + count; }
};

/// Extraction of one trigger into its records, with their hit ids: the step that the object
/// path (`FeatureExtractor::extract_features`, `ChargeReconstruction::reconstruct`) and the
/// columnar path (tessel/columnar/batch.hpp) take for every trigger.  Hit ids are given by
/// `set_id` and nowhere else.  Made by `FeatureExtractor::step` for one call; it holds no state of
/// its own between triggers, so several threads may use one step.
class TriggerStep {
public:
    /// `channels`, when given, is the channel table of the extraction: every record gets its
    /// channel's PMT type, and a channel without a row ends the call or drops the trigger.
    /// `pulse_finder`, when given, takes the waveform triggers instead of `tarvo`.
    TriggerStep(const TarvoExtractor& tarvo, const RunInfo& run_info,
                const ChannelTypes* channels = nullptr,
                const PulseFinder* pulse_finder = nullptr) noexcept
        : tarvo_(&tarvo), pulse_finder_(pulse_finder), channels_(channels), run_info_(run_info) {}

    /// The records of waveform trigger `trigger` at `position` in the run.  Throws the
    /// extractor's std::invalid_argument for a waveform too short for the edge search, and the
    /// channel table's std::runtime_error for a channel without a row (unless such triggers are
    /// dropped).
    void extract(const TarvoTriggerView& trigger, std::uint64_t position,
                 TriggerRecords& out) const {
        out.truncated = false;
        out.drops = {};
        out.count = pulse_finder_ != nullptr
                        ? pulse_finder_->extract(trigger, run_info_, out.record.data(),
                                                 out.truncated, nullptr, &out.drops)
                        : tarvo_->extract(trigger, run_info_, out.record.data(), &out.drops);
        finish(position, out);
    }

    /// The same with the pulse finder's shape of each record into `shapes[k]`, its id and
    /// record number set; needs the pulse finder (`pulse_finder()` not null).
    void extract(const TarvoTriggerView& trigger, std::uint64_t position, TriggerRecords& out,
                 PulseShape* shapes) const {
        out.truncated = false;
        out.drops = {};
        out.count = pulse_finder_->extract(trigger, run_info_, out.record.data(), out.truncated,
                                           shapes, &out.drops);
        finish(position, out);
        for (std::size_t k = 0; k < out.count; ++k) {
            shapes[k].id = std::bit_cast<std::int64_t>(out.record[k].id);
        }
    }

    /// The pulse finder taking the waveform triggers, or null (the single-pulse extractor).
    [[nodiscard]] const PulseFinder* pulse_finder() const noexcept { return pulse_finder_; }

    /// The record of multi-PMT trigger `trigger` at `position` in the run; throws as above for
    /// a channel without a row.
    void extract(const MultiPMTTrigger& trigger, std::uint64_t position,
                 TriggerRecords& out) const {
        out.truncated = false;
        out.drops = {};
        out.count = MultiPMTExtractor::extract(trigger, out.record.data());
        finish(position, out);
    }

    /// Most records one trigger yields with these extractors: room to reserve per trigger.
    [[nodiscard]] constexpr std::size_t max_records() const noexcept {
        const std::size_t waveform =
            pulse_finder_ != nullptr ? PulseFinder::kMaxPulses : TarvoExtractor::MAX_RECORDS;
        return waveform > MultiPMTExtractor::MAX_RECORDS ? waveform
                                                         : MultiPMTExtractor::MAX_RECORDS;
    }
    /// Most records one waveform trigger yields.
    [[nodiscard]] constexpr std::size_t max_waveform_records() const noexcept {
        return pulse_finder_ != nullptr ? PulseFinder::kMaxPulses : TarvoExtractor::MAX_RECORDS;
    }

    [[nodiscard]] const RunInfo& run_info() const noexcept { return run_info_; }
    /// The channel table of the extraction, or null.
    [[nodiscard]] const ChannelTypes* channels() const noexcept { return channels_; }

    /// Gives `record`, record `record_index` of the trigger at `position` in the run, its hit id.
    void set_id(FeatureRecord& record, std::uint64_t position,
                std::size_t record_index) const noexcept {
        record.id = make_hit_id(run_info_.run_number, position, record_index);
        record.present |= HitFeatures::ID;
    }

    /// The Tarvo extractor when this step's `extract` of a waveform trigger is the extractor's
    /// `extract` followed by `set_id` and nothing else, else null: a loop specialised to that
    /// case (src/columnar/batch.cpp) may then find the records itself.  Whoever adds to what
    /// `extract` or `finish` does for waveform triggers must return null here for such steps.
    [[nodiscard]] const TarvoExtractor* plain_tarvo() const noexcept {
        return channels_ == nullptr && pulse_finder_ == nullptr ? tarvo_ : nullptr;
    }

private:
    /// What applies to every record after extraction, whatever the extractor: options of the
    /// extraction that act per record or drop the trigger belong here; then each record gets its
    /// hit id (run number, trigger position, record index).
    void finish(std::uint64_t position, TriggerRecords& out) const {
        out.drops.truncated = out.truncated ? 1 : 0;
        if (channels_ != nullptr && !set_pmt_types(out)) {
            out.drops.unknown_channel += out.count;
            out.count = 0;
            out.truncated = false;  // a dropped trigger's records are not kept, nor counted
            return;
        }
        for (std::size_t k = 0; k < out.count; ++k) {
            set_id(out.record[k], position, k);
        }
    }

    /// Gives every record its channel's PMT type; false when the trigger is to be dropped.
    bool set_pmt_types(TriggerRecords& out) const {
        for (std::size_t k = 0; k < out.count; ++k) {
            FeatureRecord& r = out.record[k];
            if (!r.has(HitFeatures::CHANNEL)) {
                continue;
            }
            const std::int32_t* type = channels_->find(r.channel);
            if (type == nullptr) {
                if (channels_->unknown_channels() == UnknownChannels::drop) {
                    return false;
                }
                channels_->throw_unknown(r.channel);
            }
            r.pmt_type = *type;
            r.present |= HitFeatures::PMT_TYPE;
        }
        return true;
    }

    const TarvoExtractor* tarvo_;
    const PulseFinder* pulse_finder_;
    const ChannelTypes* channels_;
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
