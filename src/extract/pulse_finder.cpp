#include "tessel/pulse_finder.hpp"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <exception>
#include <stdexcept>
#include <string>

#include "waveform_kernels.hpp"

namespace tessel {

namespace {

// The shortest text that reads back as `value`, so a value just beyond a limit never shows as
// the limit itself.
std::string number_text(double value) {
    std::array<char, 32> buffer{};
    const auto end = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value).ptr;
    return {buffer.data(), end};
}

/// Reads `key` of `node` with `read`, nesting a conversion failure in an error naming the key.
template <class Read>
auto read_key(const SettingsReader& node, const std::string& key, const char* expected, Read read)
    -> decltype(read(key)) {
    try {
        return read(key);
    } catch (const std::exception&) {
        std::throw_with_nested(std::invalid_argument(node.path(key) + ": expected " + expected));
    }
}

/// Whether sample levels are above `level` (baseline + threshold, in double): a 16-bit sample s
/// is above a real level x exactly when s > floor(x), which this returns clamped to what the
/// 16-bit comparison needs: -1 (every sample is above), 65535 (none is).  No sample is above
/// a NaN level (that of a NaN baseline).
double integer_level(double level) noexcept {
    return std::isnan(level) ? 65535.0 : std::clamp(std::floor(level), -1.0, 65535.0);
}

/// Where the waveform `w` first rises to `level` before sample `peak` (the last upward
/// crossing ahead of it), in samples from w[0], interpolated linearly; NaN when no sample before
/// the peak lies below the level.
double rising_crossing(std::span<const std::uint16_t> w, std::size_t peak, double level) noexcept {
    std::size_t i = peak;
    while (i > 0 && static_cast<double>(w[i - 1]) >= level) {
        --i;
    }
    if (i == 0) {
        return std::nan("");
    }
    const auto before = static_cast<double>(w[i - 1]);
    const auto after = static_cast<double>(w[i]);
    return static_cast<double>(i - 1) + (level - before) / (after - before);
}

/// Where `w` first falls below `level` after sample `peak`, interpolated; NaN when it does not.
double falling_crossing(std::span<const std::uint16_t> w, std::size_t peak, double level) noexcept {
    std::size_t j = peak;
    while (j + 1 < w.size() && static_cast<double>(w[j + 1]) >= level) {
        ++j;
    }
    if (j + 1 == w.size()) {
        return std::nan("");
    }
    const auto before = static_cast<double>(w[j]);
    const auto after = static_cast<double>(w[j + 1]);
    return static_cast<double>(j) + (before - level) / (before - after);
}

/// The shape of the pulse in `window` (which starts at sample `first` of its waveform) above
/// `baseline`.
void measure(std::span<const std::uint16_t> window, std::size_t first, double baseline,
             const PulseFinder::Options& options, PulseShape& shape) noexcept {
    const std::size_t peak =
        static_cast<std::size_t>(std::max_element(window.begin(), window.end()) - window.begin());
    const double period = options.sample_period;
    const double amplitude = static_cast<double>(window[peak]) - baseline;
    shape.first_sample = static_cast<std::uint32_t>(first);
    shape.last_sample = static_cast<std::uint32_t>(first + window.size() - 1);
    shape.baseline = baseline;
    shape.amplitude = amplitude;
    shape.peak_time = static_cast<double>(first + peak) * period;
    const double half = baseline + 0.5 * amplitude;
    shape.width =
        (falling_crossing(window, peak, half) - rising_crossing(window, peak, half)) * period;
    shape.rise_time = (rising_crossing(window, peak, baseline + 0.9 * amplitude) -
                       rising_crossing(window, peak, baseline + 0.1 * amplitude)) *
                      period;
    const double top = std::isnan(options.adc_max) ? 65535.0 : options.adc_max;
    shape.saturated = std::any_of(window.begin(), window.end(), [&](std::uint16_t v) {
        return v == 0 || static_cast<double>(v) >= top;
    });
    shape.baseline_rms = std::nanf("");
}

/// A pulse as found by the threshold scan: first sample above threshold, first sample back
/// at or below threshold - hysteresis (n when the waveform ends first).
struct Crossing {
    std::size_t start;
    std::size_t end;
};

}  // namespace

const KeyTable& PulseFinder::Options::settings_keys() {
    static const KeyTable keys{
        {.name = "threshold",
         .type = ValueType::number,
         .minimum = 0.0,
         .exclusive_minimum = true,
         .finite = true,
         .default_value = "12",
         .meaning = "a pulse starts at the first sample more than threshold above the baseline"},
        {.name = "hysteresis",
         .type = ValueType::number,
         .minimum = 0.0,
         .finite = true,
         .default_value = "8",
         .meaning = "it ends at the first later sample at or below threshold - hysteresis"},
        {.name = "samples_before",
         .type = ValueType::integer,
         .minimum = 0,
         .maximum = static_cast<double>(kMaxWindowSide),
         .default_value = "3",
         .meaning = "the window starts this many samples before the first sample above "
                    "threshold"},
        {.name = "samples_after",
         .type = ValueType::integer,
         .minimum = 0,
         .maximum = static_cast<double>(kMaxWindowSide),
         .default_value = "16",
         .meaning = "and ends this many samples after the pulse's return"},
        {.name = "timing",
         .type = ValueType::choice,
         .choices = {"edge", "cfd"},
         .default_value = "edge",
         .meaning = "how the rising-edge time is measured"},
        {.name = "cfd_fraction",
         .type = ValueType::number,
         .minimum = 0.0,
         .maximum = 1.0,
         .exclusive_minimum = true,
         .default_value = "0.2",
         .meaning = "the fraction of the amplitude for timing: cfd"},
        {.name = "drop_bad_edge",
         .type = ValueType::boolean,
         .default_value = "false",
         .meaning = "drop a pulse whose edge is unusable"},
        {.name = "drop_bad_integral",
         .type = ValueType::boolean,
         .default_value = "false",
         .meaning = "drop a pulse whose integral over its window is negative"},
        {.name = "sample_period",
         .type = ValueType::number,
         .minimum = 0.0,
         .exclusive_minimum = true,
         .finite = true,
         .default_value = "4e-9",
         .meaning = "seconds between two samples"},
        {.name = "adc_max",
         .type = ValueType::number,
         .minimum = 0.0,
         .maximum = 65535.0,
         .exclusive_minimum = true,
         .default_value = "the trigger file's 2^adc_bits − 1, else 65535",
         .meaning = "the saturation level"},
        {.name = "baseline",
         .type = ValueType::choice,
         .choices = {"trigger", "local"},
         .default_value = "trigger",
         .meaning = "which baseline the integral and the edge are taken above"},
        {.name = "baseline_samples",
         .type = ValueType::integer,
         .minimum = 1,
         .maximum = static_cast<double>(kMaxWindowSide),
         .default_value = "16",
         .meaning = "samples ahead of each window for baseline: local"},
    };
    return keys;
}

PulseFinder::Options PulseFinder::Options::from_settings(const Settings& node) {
    return from_settings(SettingsReader(node, settings_keys(), {}));
}

PulseFinder::Options PulseFinder::Options::from_settings(const SettingsReader& node) {
    // Unknown keys are refused in loading; checking has reported them already.
    if (!node.checking()) {
        std::string known;
        for (const auto& key : settings_keys()) {
            known += (known.empty() ? "" : ", ") + std::string(key.name);
        }
        for (const std::string& key : node.keys()) {
            if (std::none_of(settings_keys().begin(), settings_keys().end(),
                             [&](const KeySpec& spec) { return spec.name == key; })) {
                throw std::invalid_argument(node.path(key) + ": unknown option (known: " + known +
                                            ")");
            }
        }
    }
    Options options;
    const auto number = [&](const char* key, double& value) {
        if (node.contains(key)) {
            value = read_key(node, key, "a number",
                             [&](const std::string& k) { return node.number(k); });
        }
    };
    const auto count = [&](const char* key, std::size_t& value) {
        if (node.contains(key)) {
            const int read = read_key(node, key, "a whole number of samples",
                                      [&](const std::string& k) { return node.integer(k); });
            if (read < 0) {
                throw std::invalid_argument(node.path(key) +
                                            ": expected a number of samples >= 0, found " +
                                            std::to_string(read));
            }
            value = static_cast<std::size_t>(read);
        }
    };
    const auto flag = [&](const char* key, bool& value) {
        if (node.contains(key)) {
            value = read_key(node, key, "true or false",
                             [&](const std::string& k) { return node.boolean(k); });
        }
    };
    number("threshold", options.threshold);
    number("hysteresis", options.hysteresis);
    count("samples_before", options.samples_before);
    count("samples_after", options.samples_after);
    number("cfd_fraction", options.cfd_fraction);
    if (node.contains("timing")) {
        const auto timing = read_key(node, "timing", "edge or cfd",
                                     [&](const std::string& k) { return node.text(k); });
        if (timing == "edge") {
            options.timing = Timing::edge;
        } else if (timing == "cfd") {
            options.timing = Timing::cfd;
        } else {
            throw std::invalid_argument(node.path("timing") + ": expected edge or cfd, found " +
                                        timing);
        }
    }
    flag("drop_bad_edge", options.drop_bad_edge);
    flag("drop_bad_integral", options.drop_bad_integral);
    number("sample_period", options.sample_period);
    number("adc_max", options.adc_max);
    count("baseline_samples", options.baseline_samples);
    if (node.contains("baseline")) {
        const auto baseline = read_key(node, "baseline", "trigger or local",
                                       [&](const std::string& k) { return node.text(k); });
        if (baseline == "trigger") {
            options.baseline = Options::Baseline::trigger;
        } else if (baseline == "local") {
            options.baseline = Options::Baseline::local;
        } else {
            throw std::invalid_argument(node.path("baseline") +
                                        ": expected trigger or local, found " + baseline);
        }
    }
    try {
        options.check();
    } catch (const std::invalid_argument& error) {
        throw std::invalid_argument(node.path("") + error.what());
    }
    return options;
}

void PulseFinder::Options::check() const {
    if (!(threshold > 0.0 && std::isfinite(threshold))) {
        throw std::invalid_argument("threshold: expected a number of LSB > 0, found " +
                                    number_text(threshold));
    }
    if (!(hysteresis >= 0.0 && std::isfinite(hysteresis))) {
        throw std::invalid_argument("hysteresis: expected a number of LSB >= 0, found " +
                                    number_text(hysteresis));
    }
    if (!(cfd_fraction > 0.0 && cfd_fraction <= 1.0)) {
        throw std::invalid_argument("cfd_fraction: expected a fraction in (0, 1], found " +
                                    number_text(cfd_fraction));
    }
    if (!(sample_period > 0.0 && std::isfinite(sample_period))) {
        throw std::invalid_argument("sample_period: expected a number of seconds > 0, found " +
                                    number_text(sample_period));
    }
    if (!std::isnan(adc_max) && !(adc_max > 0.0 && adc_max <= 65535.0)) {
        throw std::invalid_argument("adc_max: expected a sample level in (0, 65535], found " +
                                    number_text(adc_max));
    }
    if (baseline_samples < 1) {
        throw std::invalid_argument("baseline_samples: expected a number of samples >= 1");
    }
    if (samples_before > kMaxWindowSide || samples_after > kMaxWindowSide) {
        const bool before = samples_before > kMaxWindowSide;
        throw std::invalid_argument(std::string(before ? "samples_before" : "samples_after") +
                                    ": expected a number of samples up to 2^30, found " +
                                    std::to_string(before ? samples_before : samples_after));
    }
}

PulseFinder::PulseFinder(const Options& options) : options_(options) { options_.check(); }

bool PulseFinder::extract_features(const TarvoTrigger& trigger, std::vector<HitFeatures>& out,
                                   const RunInfo& run_info) const {
    return extract(TarvoTriggerView::of(trigger), run_info, out);
}

bool PulseFinder::extract(const TarvoTriggerView& trigger, const RunInfo& run_info,
                          std::vector<HitFeatures>& out) const {
    std::array<FeatureRecord, kMaxPulses> records;  // only the records written are read
    bool truncated = false;
    const std::size_t count = extract(trigger, run_info, records.data(), truncated);
    for (std::size_t k = 0; k < count; ++k) {
        out.push_back(records[k].features());
    }
    return truncated;
}

std::size_t PulseFinder::extract(const TarvoTriggerView& trigger, const RunInfo& run_info,
                                 FeatureRecord* out, bool& truncated, PulseShape* shapes,
                                 DropCounts* drops) const {
    truncated = false;
    const std::span<const std::uint16_t> w = trigger.waveform;
    const std::size_t n = w.size();
    const auto baseline = static_cast<double>(trigger.baseline);
    const double high = integer_level(baseline + options_.threshold);
    const double low = integer_level((baseline + options_.threshold) - options_.hysteresis);
    if (high >= 65535.0 || n == 0) {
        return 0;  // no sample can be above the threshold
    }

    // One pulse more than is kept: its window's start cuts the last kept window.
    std::array<Crossing, kMaxPulses + 1> found;  // the first `count` are set
    std::size_t count = 0;
    std::size_t from = 0;
    while (count < found.size() && from < n) {
        const std::size_t start =
            high < 0.0 ? from : waveform::first_above(w, from, static_cast<std::uint16_t>(high));
        if (start == n) {
            break;
        }
        // The start sample is above threshold, hence above threshold - hysteresis too.
        const std::size_t end =
            low < 0.0 ? n
                      : waveform::first_not_above(w, start + 1, static_cast<std::uint16_t>(low));
        found[count++] = Crossing{start, end};
        from = end;
    }
    truncated = count > kMaxPulses;
    const std::size_t kept = std::min(count, kMaxPulses);
    if (kept == 0) {
        return 0;
    }

    const double time =
        TarvoExtractor::trigger_time(trigger.trigger_time_s, trigger.trigger_time_ticks, run_info);
    const auto window_start = [&](std::size_t k) {
        const std::size_t reach =
            found[k].start - std::min(found[k].start, options_.samples_before);
        return k == 0 ? reach : std::max(reach, found[k - 1].end);
    };
    // Exact for the whole waveform means exact for every window (the bound grows with the
    // sample count).
    const bool exact = waveform::integral_is_exact(n, trigger.baseline);
    std::size_t written = 0;
    std::size_t first = window_start(0);
    for (std::size_t k = 0; k < kept; ++k) {
        const std::size_t next = k + 1 < count ? window_start(k + 1) : n;
        const std::size_t last = std::min({found[k].end + options_.samples_after, n, next});
        const std::span<const std::uint16_t> window = w.subspan(first, last - first);
        const std::size_t window_first = first;
        first = next;

        // The local baseline: the samples ahead of the window, after the previous pulse's
        // return.
        double level = baseline;
        bool local = false;
        if (options_.baseline == Options::Baseline::local) {
            const std::size_t after = k == 0 ? 0 : found[k - 1].end;
            const std::size_t from =
                std::max(window_first - std::min(window_first, options_.baseline_samples), after);
            if (from < window_first) {
                const std::span<const std::uint16_t> quiet = w.subspan(from, window_first - from);
                level = static_cast<double>(waveform::sample_sum(quiet)) /
                        static_cast<double>(quiet.size());
                local = true;
            }
        }
        // waveform::integral, with its exactness test made once for the whole waveform.
        double integral = 0.0;
        if (local) {
            integral = static_cast<double>(waveform::sample_sum(window)) -
                       static_cast<double>(window.size()) * level;
        } else {
            integral = exact ? static_cast<double>(waveform::sample_sum(window)) -
                                   static_cast<double>(window.size()) *
                                       static_cast<double>(trigger.baseline)
                             : waveform::integral_in_order(window, trigger.baseline);
        }
        if (options_.drop_bad_integral && integral < 0.0) {
            count_drop(drops, &DropCounts::bad_integral);
            continue;
        }
        double edge = 0.0;  // in samples from the window's first sample
        bool bad_edge = true;
        if (options_.timing == Timing::edge) {
            // Fewer than 3 samples hold no interior edge: the edge is the window's start, bad.
            if (window.size() >= 3) {
                edge = TarvoExtractor::diff_max(window);
                // Against a local baseline, the same test as the single-pulse extractor's: an
                // edge at or past either end (NaN included) is bad and its sample never read.
                bad_edge =
                    local ? !(edge > 0.0 && edge < static_cast<double>(window.size())) ||
                                level > static_cast<double>(window[static_cast<std::size_t>(edge)])
                          : TarvoExtractor::is_bad_edge(edge, window, trigger.baseline);
            }
        } else {
            const std::size_t peak = static_cast<std::size_t>(
                std::max_element(window.begin(), window.end()) - window.begin());
            const double amplitude = static_cast<double>(window[peak]) - level;
            const double fraction = level + options_.cfd_fraction * amplitude;
            std::size_t i = 0;
            // Ends at the peak at the latest, which is at the level or above it (the bound keeps
            // it there should another thread change the samples meanwhile).
            while (i < peak && static_cast<double>(window[i]) < fraction) {
                ++i;
            }
            if (i > 0) {
                const auto before = static_cast<double>(window[i - 1]);
                const auto after = static_cast<double>(window[i]);
                edge = static_cast<double>(i - 1) + (fraction - before) / (after - before);
                bad_edge = false;
            }
        }
        if (options_.drop_bad_edge && bad_edge) {
            count_drop(drops, &DropCounts::bad_edge);
            continue;
        }
        if (shapes != nullptr) {
            PulseShape& shape = shapes[written];
            measure(window, window_first, level, options_, shape);
            shape.id = 0;
            shape.channel = trigger.channel;
            shape.index = static_cast<std::uint8_t>(written);
            shape.no_return = found[k].end == n;
        }
        FeatureRecord& r = out[written++];
        r.channel = trigger.channel;
        r.pmt_type = 0;
        r.id = 0;
        r.values = {integral, 0.0, time, 0.0,
                    (static_cast<double>(window_first) + edge) * options_.sample_period + time};
        r.present = HitFeatures::CHANNEL | HitFeatures::WAVEFORM_INTEGRAL |
                    HitFeatures::TRIGGER_TIME | HitFeatures::RISING_EDGE_TIME;
    }
    return written;
}

}  // namespace tessel
