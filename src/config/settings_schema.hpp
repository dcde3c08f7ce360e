#pragma once

// The keys a settings file may hold, as the settings check knows them: one table per section of
// `extractors` and one per reconstructor class.  A feature that reads a new key adds it here
// (settings_schema.cpp) and in docs/settings.md.

#include <optional>
#include <string_view>
#include <vector>

namespace tessel::schema {

enum class ValueType {
    boolean,        ///< a YAML 1.1 boolean word
    integer,        ///< a 32-bit integer
    number,         ///< a double, not NaN (infinities allowed unless bounded)
    text,           ///< any scalar
    choice,         ///< one of `choices`
    feature,        ///< a feature name of HitFeatures
    lut_file,       ///< a lookup-table file, relative to the settings file
    channel_table,  ///< a channel table, relative to the settings file
    section,        ///< a mapping, described by the section table of the same path
};

struct Key {
    std::string_view name;
    ValueType type;
    bool required = false;
    std::vector<std::string_view> choices = {};
    /// Bounds of a number or integer, inclusive (the minimum exclusive if so marked).
    std::optional<double> minimum = std::nullopt;
    std::optional<double> maximum = std::nullopt;
    bool exclusive_minimum = false;
    /// Infinities refused too.
    bool finite = false;
};

/// A mapping under `extractors`; `path` is its dotted key path (`extractors.Tarvo`).
struct Section {
    std::string_view path;
    std::vector<Key> keys;
};

/// A reconstructor class of the `reco` section; `class` is implied.
struct ReconstructorClass {
    std::string_view name;
    std::vector<Key> keys;
};

/// The top-level sections.
const std::vector<std::string_view>& top_level_sections();
/// `extractors` and the mappings under it.
const std::vector<Section>& extractor_sections();
/// Every reconstructor class the library can build from settings.
const std::vector<ReconstructorClass>& reconstructor_classes();
/// Feature names a reconstructor may read.
const std::vector<std::string_view>& feature_names();
/// Suffixes of a channel table's calibration columns (`<columns>_slope`, ...).
const std::vector<std::string_view>& calibration_column_suffixes();

}  // namespace tessel::schema
