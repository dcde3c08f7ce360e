// Quick throughput check of waveform feature extraction (not a test).
//
// Build against a Release build of the library, for example:
//   g++ -std=c++20 -O2 -ffp-contract=off -Iinclude benchmarks/quick_extract.cpp
//       build/<dir>/libtessel.a -lyaml-cpp -o quick_extract   (one line)
// and run ./quick_extract [triggers] (default 1000000).

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <span>
#include <vector>

#include "tessel/extractors.hpp"
#include "tessel/feature_extractor.hpp"

namespace {

using Clock = std::chrono::steady_clock;

/// Best of `repeats` timings of `body`, in seconds.
template <class Body>
double best_seconds(int repeats, Body&& body) {
    double best = 1e300;
    for (int r = 0; r < repeats; ++r) {
        const auto start = Clock::now();
        body();
        best = std::min(best, std::chrono::duration<double>(Clock::now() - start).count());
    }
    return best;
}

/// Pulse shape added to the noise, in counts.
constexpr std::uint16_t kPulse[] = {20, 100, 300, 420, 380, 260, 160, 90, 45, 20, 8};

/// Triggers with `samples` samples each: noise around a baseline near 100 and one pulse.
struct Batch {
    std::size_t samples;
    std::vector<std::uint16_t> data;
    std::vector<float> baselines;

    Batch(std::size_t count, std::size_t samples_per_trigger, std::mt19937_64& rng)
        : samples(samples_per_trigger), data(count * samples_per_trigger), baselines(count) {
        std::uniform_real_distribution<float> base(95.0F, 105.0F);
        for (std::size_t t = 0; t < count; ++t) {
            baselines[t] = base(rng);
            std::uint16_t* w = &data[t * samples];
            for (std::size_t i = 0; i < samples; ++i) {
                w[i] = static_cast<std::uint16_t>(95 + rng() % 10);
            }
            const std::size_t at = rng() % (samples - std::size(kPulse));
            for (std::size_t k = 0; k < std::size(kPulse); ++k) {
                w[at + k] = static_cast<std::uint16_t>(w[at + k] + kPulse[k]);
            }
        }
    }
    [[nodiscard]] std::size_t count() const { return baselines.size(); }
    [[nodiscard]] std::span<const std::uint16_t> waveform(std::size_t t) const {
        return {&data[t * samples], samples};
    }
};

void report(const char* what, std::size_t samples, std::size_t triggers, double seconds) {
    std::printf("%-44s %5zu samples  %8.2f M triggers/s  %7.1f ns/trigger\n", what, samples,
                static_cast<double>(triggers) / seconds / 1e6, seconds * 1e9 / triggers);
}

/// TarvoExtractor::extract over views into one array, records into a preallocated array.
double time_views(const Batch& batch, int repeats) {
    const tessel::TarvoExtractor extractor(true, true);
    const tessel::RunInfo run = tessel::RunInfo::simulation_run();
    std::vector<tessel::HitFeatures> out(batch.count());
    std::size_t kept = 0;
    const double s = best_seconds(repeats, [&] {
        kept = 0;
        for (std::size_t t = 0; t < batch.count(); ++t) {
            const tessel::TarvoTriggerView view{static_cast<std::int32_t>(t), 7,
                                                static_cast<std::uint32_t>(t), batch.baselines[t],
                                                batch.waveform(t)};
            tessel::HitFeatures f;
            if (extractor.extract(view, run, f)) {
                out[kept++] = f;
            }
        }
    });
    if (kept == 0) {
        std::puts("nothing kept");
    }
    return s;
}

/// In-order double sum of (sample - baseline): the reference loop, one add after another.
double time_plain_sum(const Batch& batch, int repeats) {
    std::vector<double> sums(batch.count());
    return best_seconds(repeats, [&] {
        for (std::size_t t = 0; t < batch.count(); ++t) {
            const auto base = static_cast<double>(batch.baselines[t]);
            double s = 0.0;
            for (const std::uint16_t x : batch.waveform(t)) {
                s += static_cast<double>(x) - base;
            }
            sums[t] = s;
        }
    });
}

/// Integer sum of the samples (what a vectorised loop reaches).
double time_integer_sum(const Batch& batch, int repeats) {
    std::vector<std::uint64_t> sums(batch.count());
    return best_seconds(repeats, [&] {
        for (std::size_t t = 0; t < batch.count(); ++t) {
            std::uint64_t s = 0;
            for (const std::uint16_t x : batch.waveform(t)) {
                s += x;
            }
            sums[t] = s;
        }
    });
}

/// FeatureExtractor::extract_features over a list of TarvoTrigger objects.
double time_objects(const Batch& batch, int repeats) {
    const std::filesystem::path settings =
        std::filesystem::temp_directory_path() / "quick_extract_settings.yaml";
    std::ofstream(settings) << "extractors:\n  Tarvo:\n    drop_bad_edge: true\n"
                               "    drop_bad_integral: true\n";
    const tessel::FeatureExtractor extractor(settings);
    std::filesystem::remove(settings);

    tessel::TriggerList triggers;
    triggers.reserve(batch.count());
    for (std::size_t t = 0; t < batch.count(); ++t) {
        tessel::TarvoTrigger trigger;
        trigger.channel = static_cast<std::int32_t>(t);
        trigger.trigger_time_s = 7;
        trigger.trigger_time_ticks = static_cast<std::uint32_t>(t);
        trigger.baseline = batch.baselines[t];
        const auto w = batch.waveform(t);
        trigger.waveform.assign(w.begin(), w.end());
        triggers.emplace_back(std::move(trigger));
    }
    std::size_t kept = 0;
    const double s = best_seconds(repeats, [&] {
        kept = extractor.extract_features(triggers, tessel::RunInfo::simulation_run()).size();
    });
    if (kept == 0) {
        std::puts("nothing kept");
    }
    return s;
}

}  // namespace

int main(int argc, char** argv) {
    const std::size_t count = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 1000000;
    std::mt19937_64 rng(12345);

    const Batch short_batch(count, 64, rng);
    report("TarvoExtractor::extract (views)", 64, count, time_views(short_batch, 5));
    report("FeatureExtractor::extract_features (objects)", 64, count, time_objects(short_batch, 5));
    report("in-order double sum only", 64, count, time_plain_sum(short_batch, 5));

    // Long waveforms: 8 MB of samples, in the outer caches rather than in memory.
    const std::size_t long_count = 4096;
    const Batch long_batch(long_count, 1024, rng);
    report("TarvoExtractor::extract (views)", 1024, long_count, time_views(long_batch, 20));
    report("in-order double sum only", 1024, long_count, time_plain_sum(long_batch, 20));
    report("integer sum only", 1024, long_count, time_integer_sum(long_batch, 20));
    return 0;
}
