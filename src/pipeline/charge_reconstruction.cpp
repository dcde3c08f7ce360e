#include "tessel/charge_reconstruction.hpp"

#include <filesystem>
#include <utility>

namespace tessel {

struct ChargeReconstruction::Impl {
    HitMaker hit_maker;
    FeatureExtractor feature_extractor;
};

ChargeReconstruction::ChargeReconstruction(const std::string& settings) {
    // The feature extractor is built first, so that a file wrong for both reports its error.
    FeatureExtractor feature_extractor{std::filesystem::path(settings)};
    HitMaker hit_maker{std::filesystem::path(settings)};
    impl_ = std::make_unique<Impl>(Impl{std::move(hit_maker), std::move(feature_extractor)});
}

ChargeReconstruction::ChargeReconstruction(const LoadedSettings& settings) {
    FeatureExtractor feature_extractor{settings};
    HitMaker hit_maker{settings};
    impl_ = std::make_unique<Impl>(Impl{std::move(hit_maker), std::move(feature_extractor)});
}

ChargeReconstruction::~ChargeReconstruction() = default;
ChargeReconstruction::ChargeReconstruction(ChargeReconstruction&&) noexcept = default;
ChargeReconstruction& ChargeReconstruction::operator=(ChargeReconstruction&&) noexcept = default;

std::vector<Hit> ChargeReconstruction::reconstruct(const TriggerList& trigger_data,
                                                   const RunInfo& run_info) {
    // Every trigger is extracted before the first hit is made, so that an extraction error ends
    // the call before any reconstructor (a Python callable among them) has run.
    check_trigger_positions(0, trigger_data.size());
    const TriggerStep step = impl_->feature_extractor.step(run_info);
    std::vector<FeatureRecord> records;
    records.reserve(trigger_data.size());
    TriggerRecords one;
    for (std::size_t position = 0; position < trigger_data.size(); ++position) {
        extract_trigger(step, trigger_data[position], position, one);
        records.insert(records.end(), one.begin(), one.end());
    }
    std::vector<Hit> hits;
    hits.reserve(records.size());
    Hit hit;
    for (const FeatureRecord& record : records) {
        if (impl_->hit_maker.make_hit(record, false, hit)) {
            hits.push_back(hit);
        }
    }
    return hits;
}

const FeatureExtractor& ChargeReconstruction::feature_extractor() const noexcept {
    return impl_->feature_extractor;
}
const HitMaker& ChargeReconstruction::hit_maker() const noexcept { return impl_->hit_maker; }

}  // namespace tessel
