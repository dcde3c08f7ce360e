#include "tessel/feature_extractor.hpp"

#include <cstddef>
#include <optional>
#include <stdexcept>
#include <string>

#include "tessel/settings.hpp"

namespace tessel {

struct FeatureExtractor::Impl {
    TarvoExtractor tarvo;
    MultiPMTExtractor multipmt;
    /// Set when "extractors.waveform" selects the pulse finder for waveform triggers.
    std::optional<PulseFinder> pulse_finder;
};

namespace {

/// The pulse finder when "waveform" selects it ("Tarvo", the default, selects the single-pulse
/// extractor).  A "PulseFinder" section is checked whenever it is present.
std::optional<PulseFinder> pulse_finder_from(const Settings& extractors) {
    std::optional<PulseFinder::Options> options;
    if (extractors.contains("PulseFinder")) {
        options = PulseFinder::Options::from_settings(extractors["PulseFinder"]);
    }
    if (!extractors.contains("waveform")) {
        return std::nullopt;
    }
    std::string choice;
    try {
        choice = static_cast<std::string>(extractors["waveform"]);
    } catch (const std::exception&) {
        std::throw_with_nested(
            std::invalid_argument("extractors.waveform: expected Tarvo or PulseFinder"));
    }
    if (choice == "Tarvo") {
        return std::nullopt;
    }
    if (choice != "PulseFinder") {
        throw std::invalid_argument("extractors.waveform: expected Tarvo or PulseFinder, found " +
                                    choice);
    }
    return PulseFinder(options.value_or(PulseFinder::Options{}));
}

}  // namespace

FeatureExtractor::FeatureExtractor(const std::filesystem::path& settings_file) {
    const Settings root = Settings::from_file(settings_file);
    bool drop_bad_edge = false;
    bool drop_bad_integral = false;
    std::optional<PulseFinder> pulse_finder;
    if (root.contains("extractors")) {
        const Settings extractors = root["extractors"];
        if (extractors.contains("Tarvo")) {
            const Settings tarvo = extractors["Tarvo"];
            drop_bad_edge = static_cast<bool>(tarvo["drop_bad_edge"]);
            drop_bad_integral = static_cast<bool>(tarvo["drop_bad_integral"]);
        }
        pulse_finder = pulse_finder_from(extractors);
    }
    impl_ = std::make_unique<Impl>(
        Impl{TarvoExtractor(drop_bad_edge, drop_bad_integral), MultiPMTExtractor{}, pulse_finder});
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
    return {impl_->tarvo, impl_->pulse_finder ? &*impl_->pulse_finder : nullptr, run_info};
}

const PulseFinder* FeatureExtractor::pulse_finder() const noexcept {
    return impl_->pulse_finder ? &*impl_->pulse_finder : nullptr;
}

const TarvoExtractor& FeatureExtractor::tarvo_extractor() const noexcept { return impl_->tarvo; }

const MultiPMTExtractor& FeatureExtractor::multipmt_extractor() const noexcept {
    return impl_->multipmt;
}

}  // namespace tessel
