// Settings files with their LUT files.  The input is a settings file, optionally followed by a
// line "#%lut" and the text of the LUT file that settings may name as "table.txt" (the example's
// "multipmt_charge_lut.txt" gets the example table).  Properties: construction either succeeds
// or fails with a standard exception; a file in which check_settings finds no problem that the
// library refuses for loads and can be summarized;
// and for every settings file that loads, the object path
// (ChargeReconstruction::reconstruct) and the columnar path (the row range functions, with the
// step of the settings' FeatureExtractor) give the
// same hit rows, byte for byte, or the same error, on a fixed set of waveform and multi-PMT
// triggers.

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <exception>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <typeinfo>
#include <vector>

#include "fuzz_support.hpp"
#include "tessel/charge_reconstruction.hpp"
#include "tessel/check_settings.hpp"
#include "tessel/columnar/batch.hpp"

namespace {

using tessel::fuzz::require;

constexpr std::size_t kLength = 24;  // samples per waveform
constexpr std::size_t kWaveforms = 12;

/// Waveforms of assorted shapes: flat, single pulses at several places and heights (the edge at
/// the first and last step included), a negative dip, saturation, noise.
struct Triggers {
    std::vector<tessel::TarvoTriggerNumpyRow> tarvo_rows;
    std::vector<std::uint16_t> samples;
    std::vector<tessel::MultiPMTTriggerNumpyRow> multipmt_rows;
    tessel::TriggerList tarvo;
    tessel::TriggerList multipmt;

    Triggers() {
        std::uint32_t noise = 12345;
        for (std::size_t w = 0; w < kWaveforms; ++w) {
            tessel::TarvoTrigger t;
            t.channel = static_cast<std::int32_t>(w) - 2;
            t.trigger_time_s = static_cast<std::uint32_t>(w * 3);
            t.trigger_time_ticks = static_cast<std::uint32_t>(w * 977);
            t.baseline = 100.0F + static_cast<float>(w) * 0.25F;
            t.intsum = 0.0F;
            for (std::size_t i = 0; i < kLength; ++i) {
                noise = noise * 1103515245U + 12345U;
                double v = 100.0 + static_cast<double>((noise >> 16U) % 5U);
                const double at = static_cast<double>((w * 5) % kLength);
                const double d = static_cast<double>(i) - at;
                if (w % 4 == 1 && d >= 0) {
                    v += 800.0 * std::exp(-d / 3.0) * static_cast<double>(w);
                } else if (w % 4 == 2 && d >= 0) {
                    v -= 60.0 * std::exp(-d / 2.0);
                } else if (w % 4 == 3) {
                    v = i == 0 ? 100.0 : 65535.0;
                }
                t.waveform.push_back(static_cast<std::uint16_t>(std::clamp(v, 0.0, 65535.0)));
            }
            tarvo_rows.push_back(
                {t.channel, t.trigger_time_s, t.trigger_time_ticks, t.baseline, t.intsum});
            samples.insert(samples.end(), t.waveform.begin(), t.waveform.end());
            tarvo.emplace_back(std::move(t));
        }
        for (std::size_t k = 0; k < 12; ++k) {
            tessel::MultiPMTTrigger m;
            m.time = 1e-6 * static_cast<double>(k) - 2e-6;
            m.channel = static_cast<std::int32_t>(k % 5) - 1;
            m.time_over_threshold = 5e-9 * static_cast<double>(k);
            m.adc_sample = static_cast<std::uint16_t>(k * k * 37 + (k == 11 ? 65000 : 0));
            multipmt_rows.push_back({m.time, m.channel, m.time_over_threshold, m.adc_sample});
            multipmt.emplace_back(m);
        }
    }
};

const Triggers& triggers() {
    static const Triggers instance;
    return instance;
}

/// Hit rows or the error's type and message.
struct Outcome {
    std::vector<tessel::HitNumpyRow> rows;
    std::string error;
};

template <class F>
Outcome outcome_of(F&& f) {
    Outcome out;
    try {
        out.rows = f();
    } catch (const std::exception& e) {
        out.error = std::string(typeid(e).name()) + ": " + e.what();
        out.rows.clear();
    }
    return out;
}

/// The same rows, or errors of one type and message (the columnar path adds the trigger's row).
bool same(const Outcome& a, const Outcome& b) {
    return a.error.empty() == b.error.empty() && b.error.rfind(a.error, 0) == 0 &&
           a.rows.size() == b.rows.size() &&
           (a.rows.empty() ||
            std::memcmp(a.rows.data(), b.rows.data(), a.rows.size() * sizeof(a.rows[0])) == 0);
}

std::vector<tessel::HitNumpyRow> object_path(tessel::ChargeReconstruction& reco,
                                             const tessel::TriggerList& list,
                                             const tessel::RunInfo& run) {
    std::vector<tessel::HitNumpyRow> rows;
    for (const tessel::Hit& hit : reco.reconstruct(list, run)) {
        rows.push_back(tessel::hit_to_row(hit));
    }
    return rows;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const std::size_t split = input.find("\n#%lut\n");
    const std::string_view settings = input.substr(0, split);
    const std::string_view lut =
        split == std::string_view::npos ? std::string_view() : input.substr(split + 7);
    tessel::fuzz::write_file("table.txt", lut);
    static const bool example_table = [] {
        tessel::fuzz::write_file("multipmt_charge_lut.txt",
                                 "0 0 0.05\n100 2.5 0.6\n1000 36 2.3\n3000 139 7\n");
        return true;
    }();
    (void)example_table;
    const auto file = tessel::fuzz::write_file("settings.yaml", settings);

    const auto problems = tessel::check_settings(file);
    const bool refused = std::any_of(problems.begin(), problems.end(), [](const auto& problem) {
        return problem.refused_by_library;
    });
    try {
        (void)tessel::summarize_settings(file);
    } catch (const std::runtime_error&) {
        require(refused, "the summary reads every file the check finds no refusal in");
    }
    std::optional<tessel::ChargeReconstruction> reco;
    try {
        reco.emplace(file.string());
    } catch (const std::exception& e) {
        if (!refused) {
            std::fprintf(stderr, "refused: %s\n", e.what());
        }
        require(refused, "a settings file loads unless the check finds a problem it refuses for");
        return 0;  // any standard error is a refusal; anything else would end the run here
    }
    const Triggers& t = triggers();
    const tessel::RunInfo run = tessel::RunInfo::simulation_run();
    constexpr std::uint64_t first = 0;

    const Outcome tarvo_objects = outcome_of([&] { return object_path(*reco, t.tarvo, run); });
    const tessel::TriggerStep step = reco->feature_extractor().step(run);
    const std::vector<tessel::RecoCall> calls = reco->hit_maker().calls();
    const Outcome tarvo_columns = outcome_of([&] {
        std::vector<tessel::HitNumpyRow> rows(t.tarvo_rows.size() * step.max_records());
        const auto input = tessel::TarvoRowInput::check(
            tessel::StridedRows<tessel::TarvoTriggerNumpyRow>(
                std::span<const tessel::TarvoTriggerNumpyRow>(t.tarvo_rows)),
            tessel::WaveformRows::fixed(t.samples, kWaveforms, kLength), first);
        rows.resize(
            tessel::reconstruct_rows(step, calls, input, {0, input.size()}, rows.data()).written);
        return rows;
    });
    require(same(tarvo_objects, tarvo_columns),
            "object and columnar paths agree on waveform triggers");

    const Outcome multipmt_objects =
        outcome_of([&] { return object_path(*reco, t.multipmt, run); });
    const Outcome multipmt_columns = outcome_of([&] {
        std::vector<tessel::HitNumpyRow> rows(t.multipmt_rows.size());
        const tessel::StridedRows<tessel::MultiPMTTriggerNumpyRow> input(
            std::span<const tessel::MultiPMTTriggerNumpyRow>(t.multipmt_rows));
        tessel::check_trigger_positions(first, input.size());
        rows.resize(
            tessel::reconstruct_rows(step, calls, input, first, {0, input.size()}, rows.data())
                .written);
        return rows;
    });
    require(same(multipmt_objects, multipmt_columns),
            "object and columnar paths agree on multi-PMT triggers");
    return 0;
}
