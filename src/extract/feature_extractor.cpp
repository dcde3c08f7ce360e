#include "tessel/feature_extractor.hpp"

#include <cstddef>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>

#include "tessel/channel_table.hpp"
#include "tessel/settings.hpp"

namespace tessel {

struct FeatureExtractor::Impl {
    TarvoExtractor tarvo;
    MultiPMTExtractor multipmt;
    /// Set when "extractors.waveform" selects the pulse finder for waveform triggers.
    std::optional<PulseFinder> pulse_finder;
    std::optional<ChannelTable> table;
    std::optional<ChannelTypes> channels;
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

/// The channel table of "extractors" / "channels": "table" (a file name, relative to the
/// settings file's directory like the reconstructors' files) and "unknown_channels" ("error",
/// the default, or "drop").
std::pair<ChannelTable, UnknownChannels> read_channel_table(
    const Settings& channels, const std::filesystem::path& settings_file) {
    const auto table = static_cast<std::string>(channels["table"]);
    UnknownChannels unknown = UnknownChannels::error;
    if (channels.contains("unknown_channels")) {
        const auto mode = static_cast<std::string>(channels["unknown_channels"]);
        if (mode == "drop") {
            unknown = UnknownChannels::drop;
        } else if (mode != "error") {
            throw std::invalid_argument("extractors.channels.unknown_channels in " +
                                        settings_file.string() + " must be error or drop, not " +
                                        mode);
        }
    }
    std::filesystem::path file(table);
    if (!file.has_root_directory()) {
        file = (settings_file.parent_path() / file).lexically_normal();
    }
    return {ChannelTable(file), unknown};
}

}  // namespace

FeatureExtractor::FeatureExtractor(const std::filesystem::path& settings_file) {
    const Settings root = Settings::from_file(settings_file);
    bool drop_bad_edge = false;
    bool drop_bad_integral = false;
    std::optional<PulseFinder> pulse_finder;
    std::optional<ChannelTable> table;
    std::optional<ChannelTypes> channels;
    if (root.contains("extractors")) {
        const Settings extractors = root["extractors"];
        if (extractors.contains("Tarvo")) {
            const Settings tarvo = extractors["Tarvo"];
            drop_bad_edge = static_cast<bool>(tarvo["drop_bad_edge"]);
            drop_bad_integral = static_cast<bool>(tarvo["drop_bad_integral"]);
        }
        pulse_finder = pulse_finder_from(extractors);
        // Only where a channel table is configured do records get PMT types.
        if (extractors.contains("channels")) {
            auto [read, unknown] = read_channel_table(extractors["channels"], settings_file);
            channels.emplace(read, unknown);
            table.emplace(std::move(read));
        }
    }
    impl_ = std::make_unique<Impl>(Impl{TarvoExtractor(drop_bad_edge, drop_bad_integral),
                                        MultiPMTExtractor{}, std::move(pulse_finder),
                                        std::move(table), std::move(channels)});
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
    return {impl_->tarvo, run_info, impl_->channels ? &*impl_->channels : nullptr,
            impl_->pulse_finder ? &*impl_->pulse_finder : nullptr};
}

const PulseFinder* FeatureExtractor::pulse_finder() const noexcept {
    return impl_->pulse_finder ? &*impl_->pulse_finder : nullptr;
}

const ChannelTable* FeatureExtractor::channel_table() const noexcept {
    return impl_->table ? &*impl_->table : nullptr;
}

const ChannelTypes* FeatureExtractor::channel_types() const noexcept {
    return impl_->channels ? &*impl_->channels : nullptr;
}

const TarvoExtractor& FeatureExtractor::tarvo_extractor() const noexcept { return impl_->tarvo; }

const MultiPMTExtractor& FeatureExtractor::multipmt_extractor() const noexcept {
    return impl_->multipmt;
}

}  // namespace tessel
