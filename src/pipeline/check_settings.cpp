#include "tessel/check_settings.hpp"

#include "tessel/feature_extractor.hpp"
#include "tessel/reconstructor_class.hpp"

namespace tessel {

// The check is the builders run in checking mode: extraction's over "extractors", and each
// instance's class builder over its instance.  The summary finds table keys in the same
// declarations.
std::vector<SettingsProblem> check_settings(const std::filesystem::path& file) {
    return check_settings(LoadedSettings(file));
}

SettingsSummary summarize_settings(const std::filesystem::path& file) {
    return summarize_settings(LoadedSettings(file));
}

namespace {

/// The registered classes, each checked by its builder.
std::vector<CheckedClass> checked_classes() {
    std::vector<CheckedClass> classes;
    for (auto& cls : reconstructor_classes()) {
        classes.push_back({cls.name, cls.keys, [build = cls.build](SettingsReader& instance) {
                               (void)build(instance);
                           }});
    }
    return classes;
}

}  // namespace

std::vector<SettingsProblem> check_settings(const LoadedSettings& settings) {
    return check_settings_with(settings, FeatureExtractor::settings_keys(),
                               FeatureExtractor::check_settings, checked_classes());
}

SettingsSummary summarize_settings(const LoadedSettings& settings) {
    return summarize_settings_with(settings, FeatureExtractor::settings_keys(), checked_classes());
}

}  // namespace tessel
