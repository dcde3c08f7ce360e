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

ChargeReconstruction::~ChargeReconstruction() = default;
ChargeReconstruction::ChargeReconstruction(ChargeReconstruction&&) noexcept = default;
ChargeReconstruction& ChargeReconstruction::operator=(ChargeReconstruction&&) noexcept = default;

std::vector<Hit> ChargeReconstruction::reconstruct(const TriggerList& trigger_data,
                                                   const RunInfo& run_info) {
    const auto features = impl_->feature_extractor.extract_features(trigger_data, run_info);
    return impl_->hit_maker.make_hits(features, false);
}

const FeatureExtractor& ChargeReconstruction::feature_extractor() const noexcept {
    return impl_->feature_extractor;
}
const HitMaker& ChargeReconstruction::hit_maker() const noexcept { return impl_->hit_maker; }

}  // namespace tessel
