#include "tessel/feature_extractor.hpp"

#include <cstddef>
#include <type_traits>
#include <variant>

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

    std::vector<HitFeatures> out;
    out.reserve(triggers.size());
    for (std::size_t position = 0; position < triggers.size(); ++position) {
        const std::size_t first = out.size();
        std::visit(
            [&](const auto& trigger) {
                using T = std::decay_t<decltype(trigger)>;
                if constexpr (std::is_same_v<T, TarvoTrigger>) {
                    impl_->tarvo.extract_features(trigger, out, run_info);
                } else {
                    impl_->multipmt.extract_features(trigger, out, run_info);
                }
            },
            triggers[position]);
        // Either extractor yields at most one record, well within the id's 16 record indices.
        for (std::size_t k = first; k < out.size(); ++k) {
            out[k].set_id(make_hit_id(run_info.run_number, position, k - first));
        }
    }
    return out;
}

const TarvoExtractor& FeatureExtractor::tarvo_extractor() const noexcept { return impl_->tarvo; }

const MultiPMTExtractor& FeatureExtractor::multipmt_extractor() const noexcept {
    return impl_->multipmt;
}

}  // namespace tessel
