#include "tessel/check_settings.hpp"

#include "tessel/feature_extractor.hpp"
#include "tessel/reconstructor_class.hpp"

namespace tessel {

// The check is the builders run in checking mode: extraction's over "extractors", and each
// instance's class builder over its instance.
std::vector<SettingsProblem> check_settings(const std::filesystem::path& file) {
    return check_settings(LoadedSettings(file));
}

SettingsSummary summarize_settings(const std::filesystem::path& file) {
    return summarize_settings(LoadedSettings(file));
}

std::vector<SettingsProblem> check_settings(const LoadedSettings& settings) {
    std::vector<CheckedClass> classes;
    for (auto& cls : reconstructor_classes()) {
        classes.push_back({cls.name, cls.keys, [build = cls.build](SettingsReader& instance) {
                               (void)build(instance);
                           }});
    }
    return check_settings_with(settings, FeatureExtractor::settings_keys(),
                               FeatureExtractor::check_settings, classes);
}

}  // namespace tessel
