#include "tessel/feature_extractor.hpp"

#include <cstddef>

#include "tessel/settings.hpp"

namespace tessel {

struct FeatureExtractor::Impl {
    TarvoExtractor tarvo;
    MultiPMTExtractor multipmt;
};

FeatureExtractor::FeatureExtractor(const std::filesystem::path& settings_file) {
    const Settings root = Settings::from_file(settings_file);
    bool drop_bad_edge = false;
    bool drop_bad_integral = false;
    if (root.contains("extractors")) {
        const Settings extractors = root["extractors"];
        if (extractors.contains("Tarvo")) {
            const Settings tarvo = extractors["Tarvo"];
            drop_bad_edge = static_cast<bool>(tarvo["drop_bad_edge"]);
            drop_bad_integral = static_cast<bool>(tarvo["drop_bad_integral"]);
        }
    }
    impl_ = std::make_unique<Impl>(
        Impl{TarvoExtractor(drop_bad_edge, drop_bad_integral), MultiPMTExtractor{}});
}

FeatureExtractor::~FeatureExtractor() = default;
FeatureExtractor::FeatureExtractor(FeatureExtractor&&) noexcept = default;
FeatureExtractor& FeatureExtractor::operator=(FeatureExtractor&&) noexcept = default;

std::vector<HitFeatures> FeatureExtractor::extract_features(const TriggerList& triggers,
                                                            const RunInfo& run_info) const {
    // Positions beyond the id's 28-bit trigger field would run into the run number bits.
    check_trigger_positions(0, triggers.size());
    const TriggerStep step = this->step(run_info);
    std::vector<HitFeatures> out;
    out.reserve(triggers.size());
    TriggerRecords records;
    for (std::size_t position = 0; position < triggers.size(); ++position) {
        extract_trigger(step, triggers[position], position, records);
        for (const FeatureRecord& record : records) {
            out.push_back(record.features());
        }
    }
    return out;
}

TriggerStep FeatureExtractor::step(const RunInfo& run_info) const noexcept {
    return {impl_->tarvo, run_info};
}

const TarvoExtractor& FeatureExtractor::tarvo_extractor() const noexcept { return impl_->tarvo; }

const MultiPMTExtractor& FeatureExtractor::multipmt_extractor() const noexcept {
    return impl_->multipmt;
}

}  // namespace tessel
