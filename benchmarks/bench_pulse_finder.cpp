// The pulse finder against the single-pulse extractor on the same waveforms, each through the
// call that every path takes (records written into the caller's array): 1024 samples
// holding 3 pulses each (1 to 4 photo-electrons' worth, at least 80 ns apart) on a baseline
// near 1000 LSB with 2 LSB of noise.
//
//   build/bench/benchmarks/bench_pulse_finder [Google Benchmark flags]
//
// Both walk the same 32 MiB of samples.  Repetitions are interleaved at random; the closing
// line gives the median time per waveform of each and their ratio (goal: at most 2).

#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "tessel/extractors.hpp"
#include "tessel/pulse_finder.hpp"

namespace {

constexpr std::size_t kLength = 1024;
constexpr std::size_t kCount = (std::size_t{1} << 24U) / kLength;
constexpr int kPulses = 3;

struct Data {
    std::vector<std::uint16_t> samples;
    std::vector<float> baselines;
};

const Data& data() {
    static const Data d = [] {
        Data out;
        out.samples.resize(kCount * kLength);
        out.baselines.resize(kCount);
        std::mt19937_64 rng(3);
        std::normal_distribution<double> noise(0.0, 2.0);
        std::uniform_real_distribution<float> baseline(990.0F, 1010.0F);
        std::uniform_real_distribution<double> height(45.0, 180.0);
        // Three starts at least 20 samples (80 ns) apart within the first 990 samples.
        std::uniform_int_distribution<std::size_t> slack(0, 990 - 2 * 20 - 8);
        for (std::size_t i = 0; i < kCount; ++i) {
            const float base = baseline(rng);
            out.baselines[i] = base;
            std::size_t starts[kPulses];
            for (auto& s : starts) {
                s = slack(rng);
            }
            std::sort(std::begin(starts), std::end(starts));
            double heights[kPulses];
            for (int k = 0; k < kPulses; ++k) {
                starts[k] += 8 + 20 * static_cast<std::size_t>(k);
                heights[k] = height(rng);
            }
            for (std::size_t j = 0; j < kLength; ++j) {
                double v = base + noise(rng);
                for (int k = 0; k < kPulses; ++k) {
                    if (j >= starts[k]) {
                        const double dt = static_cast<double>(j - starts[k]);
                        v += heights[k] * (std::exp(-dt / 5.0) - std::exp(-dt / 0.35));
                    }
                }
                out.samples[i * kLength + j] =
                    static_cast<std::uint16_t>(std::clamp(std::lround(v), 0L, 65535L));
            }
        }
        return out;
    }();
    return d;
}

tessel::TarvoTriggerView view(const Data& d, std::size_t i) {
    return {static_cast<std::int32_t>(i % 64), static_cast<std::uint32_t>(i / 1000),
            static_cast<std::uint32_t>((i * 2503) % 250000000), d.baselines[i],
            std::span<const std::uint16_t>(d.samples.data() + i * kLength, kLength)};
}

void finish(benchmark::State& state) {
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(kCount));
}

/// One record per waveform: the single-pulse extractor.
void BM_SinglePulse(benchmark::State& state) {
    const Data& d = data();
    const tessel::TarvoExtractor extractor(false, false);
    const auto run = tessel::RunInfo::simulation_run();
    for (auto _ : state) {
        for (std::size_t i = 0; i < kCount; ++i) {
            tessel::FeatureRecord record;
            std::size_t count = extractor.extract(view(d, i), run, &record);
            benchmark::DoNotOptimize(count);
            benchmark::DoNotOptimize(record);
        }
    }
    finish(state);
}

/// One record per pulse: the pulse finder with its default options.
void BM_PulseFinder(benchmark::State& state) {
    const Data& d = data();
    const tessel::PulseFinder finder(tessel::PulseFinder::Options{});
    const auto run = tessel::RunInfo::simulation_run();
    std::array<tessel::FeatureRecord, tessel::PulseFinder::kMaxPulses> out;
    std::size_t records = 0;
    for (auto _ : state) {
        records = 0;
        for (std::size_t i = 0; i < kCount; ++i) {
            bool truncated = false;
            std::size_t count = finder.extract(view(d, i), run, out.data(), truncated);
            benchmark::DoNotOptimize(truncated);
            benchmark::DoNotOptimize(out.data());
            records += count;
        }
    }
    state.counters["pulses_per_waveform"] =
        static_cast<double>(records) / static_cast<double>(kCount);
    finish(state);
}

BENCHMARK(BM_SinglePulse);
BENCHMARK(BM_PulseFinder);

class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& reports) override {
        ConsoleReporter::ReportRuns(reports);
        for (const auto& run : reports) {
            const bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
            const bool single = run.run_type == Run::RT_Iteration && run.repetitions <= 1;
            const auto items = run.counters.find("items_per_second");
            if (!run.error_occurred && (median || single) && items != run.counters.end()) {
                ns_[run.run_name.function_name] = 1e9 / items->second.value;
            }
        }
    }

    void Finalize() override {
        ConsoleReporter::Finalize();
        if (ns_.count("BM_SinglePulse") == 0 || ns_.count("BM_PulseFinder") == 0) {
            return;
        }
        const double single = ns_["BM_SinglePulse"];
        const double finder = ns_["BM_PulseFinder"];
        char line[256];
        std::snprintf(line, sizeof line,
                      "\nPulse finder on %zu-sample waveforms with %d pulses: %.1f ns per "
                      "waveform, single-pulse extractor %.1f ns: ratio %.2f (goal <= 2)\n",
                      kLength, kPulses, finder, single, finder / single);
        GetOutputStream() << line;
    }

private:
    std::map<std::string, double> ns_;
};

}  // namespace

int main(int argc, char** argv) {
    std::vector<char*> args = {argv[0]};
    std::string defaults[] = {
        "--benchmark_repetitions=9", "--benchmark_enable_random_interleaving=true",
        "--benchmark_min_time=0.2", "--benchmark_report_aggregates_only=true"};
    for (auto& d : defaults) {
        args.push_back(d.data());
    }
    for (int i = 1; i < argc; ++i) {
        args.push_back(argv[i]);
    }
    int count = static_cast<int>(args.size());
    benchmark::Initialize(&count, args.data());
    if (benchmark::ReportUnrecognizedArguments(count, args.data())) {
        return 1;
    }
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
