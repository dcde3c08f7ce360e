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

const KeyTable& tarvo_keys() {
    static const KeyTable keys{
        {.name = "drop_bad_edge",
         .type = ValueType::boolean,
         .required = true,
         .meaning = "drop a waveform whose steepest rise is at either end or below the baseline"},
        {.name = "drop_bad_integral",
         .type = ValueType::boolean,
         .required = true,
         .meaning = "drop a waveform whose integral above the baseline is negative"},
    };
    return keys;
}

const KeyTable& channels_keys() {
    static const KeyTable keys{
        {.name = "table",
         .type = ValueType::channel_table,
         .required = true,
         .meaning = "the channel table that gives each record its PMT type"},
        {.name = "unknown_channels",
         .type = ValueType::choice,
         .choices = {"error", "drop"},
         .default_value = "error",
         .meaning = "a trigger on a channel not in the table: stop with an error, or drop it"},
    };
    return keys;
}

/// The pulse finder when "waveform" selects it ("Tarvo", the default, selects the single-pulse
/// extractor).  A "PulseFinder" section is checked whenever it is present.
std::optional<PulseFinder> pulse_finder_from(const SettingsReader& extractors) {
    std::optional<PulseFinder::Options> options;
    if (extractors.contains("PulseFinder")) {
        options = PulseFinder::Options::from_settings(extractors.section("PulseFinder"));
    }
    if (!extractors.contains("waveform")) {
        return std::nullopt;
    }
    std::string choice;
    try {
        choice = extractors.text("waveform");
    } catch (const std::exception&) {
        std::throw_with_nested(
            std::invalid_argument("extractors.waveform: expected Tarvo or PulseFinder"));
    }
    if (choice == "Tarvo" || extractors.checking()) {
        return std::nullopt;
    }
    if (choice != "PulseFinder") {
        throw std::invalid_argument("extractors.waveform: expected Tarvo or PulseFinder, found " +
                                    choice);
    }
    return PulseFinder(options.value_or(PulseFinder::Options{}));
}

/// How extraction treats channels missing from the table: "error" (the default) or "drop".
UnknownChannels unknown_channels_from(const SettingsReader& channels) {
    if (!channels.contains("unknown_channels")) {
        return UnknownChannels::error;
    }
    const auto mode = channels.text("unknown_channels");
    if (mode == "drop") {
        return UnknownChannels::drop;
    }
    if (mode != "error") {
        throw std::invalid_argument("extractors.channels.unknown_channels in " +
                                    channels.file().string() + " must be error or drop, not " +
                                    mode);
    }
    return UnknownChannels::error;
}

/// The extraction's parts from the "extractors" section: in loading mode the first problem
/// throws, in checking mode the problems are collected and no table is kept.
std::unique_ptr<FeatureExtractor::Impl> read_extractors(const SettingsReader& extractors) {
    bool drop_bad_edge = false;
    bool drop_bad_integral = false;
    if (extractors.contains("Tarvo")) {
        const SettingsReader tarvo = extractors.section("Tarvo");
        drop_bad_edge = tarvo.boolean("drop_bad_edge");
        drop_bad_integral = tarvo.boolean("drop_bad_integral");
    }
    std::optional<PulseFinder> pulse_finder = pulse_finder_from(extractors);
    std::optional<ChannelTable> table;
    std::optional<ChannelTypes> channels;
    // Only where a channel table is configured do records get PMT types.
    if (extractors.contains("channels")) {
        const SettingsReader section = extractors.section("channels");
        const auto file = section.file("table");
        const UnknownChannels unknown = unknown_channels_from(section);
        if (extractors.checking()) {
            section.check_channel_table("table", {});
            return nullptr;
        }
        try {
            table.emplace(file, *section.table_file("table"));
        } catch (const std::runtime_error&) {
            section.explain_unnamed_file("table");
        }
        channels.emplace(*table, unknown);
    }
    if (extractors.checking()) {
        return nullptr;
    }
    return std::make_unique<FeatureExtractor::Impl>(FeatureExtractor::Impl{
        TarvoExtractor(drop_bad_edge, drop_bad_integral), MultiPMTExtractor{},
        std::move(pulse_finder), std::move(table), std::move(channels)});
}

}  // namespace

const KeyTable& FeatureExtractor::settings_keys() {
    static const KeyTable keys{
        {.name = "Tarvo",
         .type = ValueType::section,
         .default_value = "both options false",
         .meaning = "options of the Tarvo waveform extractor",
         .section = &tarvo_keys()},
        {.name = "PulseFinder",
         .type = ValueType::section,
         .default_value = "every option at its default",
         .meaning = "options of the PulseFinder waveform extractor",
         .section = &PulseFinder::Options::settings_keys(),
         .closed = true},
        {.name = "channels",
         .type = ValueType::section,
         .default_value = "no channel table",
         .meaning = "the channel table that gives each record its PMT type",
         .section = &channels_keys()},
        {.name = "waveform",
         .type = ValueType::choice,
         .choices = {"Tarvo", "PulseFinder"},
         .default_value = "Tarvo",
         .meaning = "which extractor turns a waveform trigger into records"},
    };
    return keys;
}

void FeatureExtractor::check_settings(const SettingsReader& extractors) {
    (void)read_extractors(extractors);
}

namespace {

/// The extraction from the settings document `root` of the file `file`, its tables read from
/// `loaded` when given.
std::unique_ptr<FeatureExtractor::Impl> build(const Settings& root,
                                              const std::filesystem::path& file,
                                              const LoadedSettings* loaded) {
    if (root.contains("extractors")) {
        return read_extractors(
            SettingsReader(root["extractors"], FeatureExtractor::settings_keys(), file, loaded));
    }
    return std::make_unique<FeatureExtractor::Impl>(
        FeatureExtractor::Impl{TarvoExtractor(false, false), MultiPMTExtractor{}, std::nullopt,
                               std::nullopt, std::nullopt});
}

}  // namespace

FeatureExtractor::FeatureExtractor(const std::filesystem::path& settings_file)
    : impl_(build(Settings::from_file(settings_file), settings_file, nullptr)) {}

FeatureExtractor::FeatureExtractor(const LoadedSettings& settings)
    : impl_(build(settings.root(), settings.file(), &settings)) {}

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
