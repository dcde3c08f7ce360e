#pragma once

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "tessel/settings_reader.hpp"

namespace tessel {

/// Every problem found in the settings file `file`, in the order of the file (a table file's
/// problems where the setting naming it stands); empty when the file is sound.
///
/// The check reports what the library would reject and, beyond that, what it would accept
/// but most likely not as meant: unknown keys and sections (with the closest known key), a key
/// given twice in one mapping (the library uses the first), values of the wrong type, NaN where
/// a number is needed, `min_value` not below `max_value`, a `reco` section that is missing,
/// empty or not a mapping, unreadable or malformed lookup tables and channel tables, and text
/// after a lookup-table row's three numbers (a decimal comma).  It never throws for a problem
/// of the file; the library reads settings files exactly as without it.
std::vector<SettingsProblem> check_settings(const std::filesystem::path& file);
/// The same for settings loaded already, reading no file again.
std::vector<SettingsProblem> check_settings(const LoadedSettings& settings);

/// What a settings file configures, for display: best effort, meaningful for a file that
/// passes `check_settings`.
struct SettingsSummary {
    /// One reconstructor instance of the `reco` section.
    struct Reconstructor {
        std::string name;
        std::string class_name;
        std::string feature;
        std::string hit_property;
        std::string pmt_type;  ///< as written; empty when not given
        std::string table;     ///< its class's first table file (LUT, channel table), resolved
    };
    /// Extractor options in the order of the file, e.g. {"waveform", "Tarvo"},
    /// {"Tarvo.drop_bad_edge", "true"}; the default waveform extractor is listed when not set.
    std::vector<std::pair<std::string, std::string>> extractor_options;
    /// The reconstructors in the order they are applied.
    std::vector<Reconstructor> reconstructors;
    /// Every table file named (resolved against the settings file's directory), each once.
    std::vector<std::string> tables;
    /// Every key naming a table file, as its dotted path ("reco.gain.lut_file"), with the file
    /// resolved; which keys name tables is what the extractors and the classes declare.
    std::vector<std::pair<std::string, std::string>> table_keys;
};

/// The summary of the settings file `file`; throws `std::runtime_error` when the file cannot
/// be read as YAML.
SettingsSummary summarize_settings(const std::filesystem::path& file);
SettingsSummary summarize_settings(const LoadedSettings& settings);

/// The summary of `settings`, their table keys found from the declarations: `extractor_keys`
/// and those of each class in `classes`.
SettingsSummary summarize_settings_with(const LoadedSettings& settings,
                                        const KeyTable& extractor_keys,
                                        const std::vector<CheckedClass>& classes);

}  // namespace tessel
