#include "settings_schema.hpp"

namespace tessel::schema {

namespace {

Key boolean(std::string_view name, bool required) {
    return {.name = name, .type = ValueType::boolean, .required = required};
}

Key number(std::string_view name, bool required, std::optional<double> minimum = std::nullopt,
           std::optional<double> maximum = std::nullopt) {
    return {.name = name,
            .type = ValueType::number,
            .required = required,
            .minimum = minimum,
            .maximum = maximum};
}

Key integer(std::string_view name, bool required, std::optional<double> minimum = std::nullopt,
            std::optional<double> maximum = std::nullopt) {
    return {.name = name,
            .type = ValueType::integer,
            .required = required,
            .minimum = minimum,
            .maximum = maximum};
}

/// A finite number above `minimum` (or from it, when `inclusive`).
Key finite(std::string_view name, double minimum, bool inclusive) {
    return {.name = name,
            .type = ValueType::number,
            .minimum = minimum,
            .exclusive_minimum = !inclusive,
            .finite = true};
}

Key choice(std::string_view name, bool required, std::vector<std::string_view> choices) {
    return {.name = name,
            .type = ValueType::choice,
            .required = required,
            .choices = std::move(choices)};
}

Key of_type(std::string_view name, ValueType type, bool required) {
    return {.name = name, .type = type, .required = required};
}

Key hit_property() { return choice("hit_property", true, {"charge", "time"}); }

/// Longest window side of the pulse finder, in samples.
constexpr double kMaxWindowSide = 1 << 30;

}  // namespace

const std::vector<std::string_view>& top_level_sections() {
    static const std::vector<std::string_view> sections{"extractors", "reco"};
    return sections;
}

const std::vector<Section>& extractor_sections() {
    static const std::vector<Section> sections{
        {"extractors",
         {of_type("Tarvo", ValueType::section, false),
          of_type("PulseFinder", ValueType::section, false),
          of_type("channels", ValueType::section, false),
          choice("waveform", false, {"Tarvo", "PulseFinder"})}},
        // Present, the Tarvo section must hold both options.
        {"extractors.Tarvo", {boolean("drop_bad_edge", true), boolean("drop_bad_integral", true)}},
        // Every option has a default (the pulse finder's Options).
        {"extractors.PulseFinder",
         {finite("threshold", 0.0, false),
          finite("hysteresis", 0.0, true),
          integer("samples_before", false, 0, kMaxWindowSide),
          integer("samples_after", false, 0, kMaxWindowSide),
          choice("timing", false, {"edge", "cfd"}),
          {.name = "cfd_fraction",
           .type = ValueType::number,
           .minimum = 0.0,
           .maximum = 1.0,
           .exclusive_minimum = true},
          boolean("drop_bad_edge", false),
          boolean("drop_bad_integral", false),
          finite("sample_period", 0.0, false),
          {.name = "adc_max",
           .type = ValueType::number,
           .minimum = 0.0,
           .maximum = 65535.0,
           .exclusive_minimum = true},
          choice("baseline", false, {"trigger", "local"}),
          integer("baseline_samples", false, 1, kMaxWindowSide)}},
        {"extractors.channels",
         {of_type("table", ValueType::channel_table, true),
          choice("unknown_channels", false, {"error", "drop"})}},
    };
    return sections;
}

const std::vector<ReconstructorClass>& reconstructor_classes() {
    static const std::vector<ReconstructorClass> classes{
        {"LinearReco",
         {of_type("feature", ValueType::feature, true), hit_property(), number("slope", true),
          number("intercept", true), number("slope_uncertainty", true),
          number("intercept_uncertainty", true), number("covariance", true),
          number("min_value", true), number("max_value", true), integer("pmt_type", true)}},
        {"LUTReco",
         {of_type("feature", ValueType::feature, true), hit_property(), integer("pmt_type", true),
          boolean("extrapolate", true), of_type("lut_file", ValueType::lut_file, true)}},
        {"ChannelLinearReco",
         {of_type("feature", ValueType::feature, true), hit_property(), number("min_value", true),
          number("max_value", true), integer("pmt_type", true),
          of_type("table", ValueType::channel_table, true),
          of_type("columns", ValueType::text, true)}},
    };
    return classes;
}

const std::vector<std::string_view>& feature_names() {
    static const std::vector<std::string_view> names{"waveform_integral", "time_over_threshold",
                                                     "trigger_time", "adc_sample",
                                                     "rising_edge_time"};
    return names;
}

const std::vector<std::string_view>& calibration_column_suffixes() {
    static const std::vector<std::string_view> suffixes{
        "_slope", "_intercept", "_slope_uncertainty", "_intercept_uncertainty", "_covariance"};
    return suffixes;
}

}  // namespace tessel::schema
