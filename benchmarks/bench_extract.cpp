// Waveform extraction per waveform against a plain sum over the same samples (the memory
// floor), at 16, 64, 256 and 1024 samples per waveform.
//
//   build/bench/benchmarks/bench_extract [Google Benchmark flags]
//
// Every benchmark walks the same 32 MiB of samples (more than the last-level cache), so each
// figure includes reading them from memory.  Repetitions of the benchmarks are interleaved at
// random, and a table of medians and ratios is printed after the run.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <numeric>
#include <random>
#include <string>
#include <vector>

#include "tessel/charge_reconstruction.hpp"
#include "tessel/columnar/batch.hpp"
#include "tessel/extractors.hpp"

namespace {

constexpr std::size_t kTotalSamples = std::size_t{1} << 24U;
constexpr std::int64_t kLengths[] = {16, 64, 256, 1024};

/// Waveforms of one length: pulses of a few hundred LSB on a baseline near 1000 LSB with
/// noise, as a digitizer delivers them, in one contiguous (count, length) block.
struct Data {
    std::size_t length;
    std::size_t count;
    std::vector<std::uint16_t> samples;
    std::vector<tessel::TarvoTriggerNumpyRow> triggers;
};

const Data& data(std::size_t length) {
    static std::map<std::size_t, std::unique_ptr<Data>> cache;
    auto& slot = cache[length];
    if (slot) {
        return *slot;
    }
    slot = std::make_unique<Data>();
    Data& d = *slot;
    d.length = length;
    d.count = kTotalSamples / length;
    d.samples.resize(d.count * length);
    d.triggers.resize(d.count);
    std::mt19937_64 rng(length);
    std::normal_distribution<double> noise(0.0, 2.0);
    std::uniform_real_distribution<float> baseline(990.0F, 1010.0F);
    std::uniform_real_distribution<double> height(0.0, 400.0);
    for (std::size_t i = 0; i < d.count; ++i) {
        auto& t = d.triggers[i];
        t.channel = static_cast<std::int32_t>(i % 128);
        t.trigger_time_s = static_cast<std::uint32_t>(i / 1000);
        t.trigger_time_ticks = static_cast<std::uint32_t>((i * 2503) % 250000000);
        t.baseline = baseline(rng);
        t.intsum = 0.0F;
        const std::size_t start = length / 4 + i % (length / 4);
        const double h = height(rng);
        for (std::size_t j = 0; j < length; ++j) {
            double v = t.baseline + noise(rng);
            if (j >= start) {
                const double dt = static_cast<double>(j - start);
                v += h * (std::exp(-dt / 5.0) - std::exp(-dt / 0.8));
            }
            d.samples[i * length + j] =
                static_cast<std::uint16_t>(std::clamp(std::lround(v), 0L, 65535L));
        }
    }
    return d;
}

std::span<const std::uint16_t> waveform(const Data& d, std::size_t i) {
    return {d.samples.data() + i * d.length, d.length};
}

void finish(benchmark::State& state, const Data& d) {
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(d.count));
    state.SetBytesProcessed(state.iterations() *
                            static_cast<std::int64_t>(d.samples.size() * sizeof(std::uint16_t)));
}

/// The memory floor: every sample read once and summed (vectorised integer sum).
void BM_PlainSum(benchmark::State& state) {
    const Data& d = data(static_cast<std::size_t>(state.range(0)));
    for (auto _ : state) {
        for (std::size_t i = 0; i < d.count; ++i) {
            const auto w = waveform(d, i);
            std::uint32_t sum = std::accumulate(w.begin(), w.end(), std::uint32_t{0});
            benchmark::DoNotOptimize(sum);
        }
    }
    finish(state, d);
}

/// The waveform integral alone (bit-exact double sum, through the integer fast path).
void BM_Integral(benchmark::State& state) {
    const Data& d = data(static_cast<std::size_t>(state.range(0)));
    for (auto _ : state) {
        for (std::size_t i = 0; i < d.count; ++i) {
            double integral =
                tessel::TarvoExtractor::waveform_integral(waveform(d, i), d.triggers[i].baseline);
            benchmark::DoNotOptimize(integral);
        }
    }
    finish(state, d);
}

/// One record per waveform through the extractor's core (integral, edge search, times).
void BM_Extract(benchmark::State& state) {
    const Data& d = data(static_cast<std::size_t>(state.range(0)));
    const tessel::TarvoExtractor extractor(false, false);
    const auto run = tessel::RunInfo::simulation_run();
    for (auto _ : state) {
        for (std::size_t i = 0; i < d.count; ++i) {
            tessel::HitFeatures f;
            bool kept =
                extractor.extract(tessel::row_to_view(d.triggers[i], waveform(d, i)), run, f);
            benchmark::DoNotOptimize(kept);
            benchmark::DoNotOptimize(f);
        }
    }
    finish(state, d);
}

/// Settings of the columnar benchmarks: no trigger dropped; charge from the integral and time
/// from the rising edge by one linear reconstructor each.
const tessel::ChargeReconstruction& reconstruction() {
    static const tessel::ChargeReconstruction reco = [] {
        const auto path = std::filesystem::temp_directory_path() / "tessel_bench_extract.yaml";
        std::ofstream(path) << R"(extractors:
  Tarvo: {drop_bad_edge: false, drop_bad_integral: false}
reco:
  charge:
    class: LinearReco
    feature: waveform_integral
    hit_property: charge
    slope: 0.0033333333333333335
    intercept: 0.0
    slope_uncertainty: 1.0e-4
    intercept_uncertainty: 0.06
    covariance: 0.0
    min_value: -300.0
    max_value: 4.0e6
    pmt_type: -1
  time:
    class: LinearReco
    feature: rising_edge_time
    hit_property: time
    slope: 1.0
    intercept: -4.0e-9
    slope_uncertainty: 0.0
    intercept_uncertainty: 1.0e-9
    covariance: 0.0
    min_value: -.inf
    max_value: .inf
    pmt_type: -1
)";
        tessel::ChargeReconstruction made(path.string());
        std::filesystem::remove(path);
        return made;
    }();
    return reco;
}

/// The trigger rows and sample block of `d`, checked.
tessel::TarvoRowInput input_of(const Data& d) {
    return tessel::TarvoRowInput::check(
        tessel::StridedRows<tessel::TarvoTriggerNumpyRow>(std::span(d.triggers)),
        tessel::WaveformRows::fixed(d.samples, d.count, d.length), 0);
}

/// The columnar path of FeatureExtractor: trigger rows and a sample block to feature rows.
void BM_ExtractRows(benchmark::State& state) {
    const Data& d = data(static_cast<std::size_t>(state.range(0)));
    const auto step = reconstruction().feature_extractor().step(tessel::RunInfo::simulation_run());
    std::vector<tessel::HitFeaturesNumpyRow> out(d.count * step.max_records());
    for (auto _ : state) {
        const auto input = input_of(d);
        auto n = tessel::extract_rows(step, input, {0, input.size()}, out.data()).written;
        benchmark::DoNotOptimize(n);
        benchmark::ClobberMemory();
    }
    finish(state, d);
}

/// The columnar path of ChargeReconstruction: extraction plus one linear reconstructor for the
/// charge and one for the time, to hit rows.
void BM_ReconstructRows(benchmark::State& state) {
    const Data& d = data(static_cast<std::size_t>(state.range(0)));
    const auto step = reconstruction().feature_extractor().step(tessel::RunInfo::simulation_run());
    const std::vector<tessel::RecoCall> calls = reconstruction().hit_maker().calls();
    std::vector<tessel::HitNumpyRow> out(d.count * step.max_records());
    for (auto _ : state) {
        const auto input = input_of(d);
        auto n =
            tessel::reconstruct_rows(step, calls, input, {0, input.size()}, out.data()).written;
        benchmark::DoNotOptimize(n);
        benchmark::ClobberMemory();
    }
    finish(state, d);
}

BENCHMARK(BM_PlainSum)->ArgsProduct({{std::begin(kLengths), std::end(kLengths)}});
BENCHMARK(BM_Integral)->ArgsProduct({{std::begin(kLengths), std::end(kLengths)}});
BENCHMARK(BM_Extract)->ArgsProduct({{std::begin(kLengths), std::end(kLengths)}});
BENCHMARK(BM_ExtractRows)->ArgsProduct({{std::begin(kLengths), std::end(kLengths)}});
BENCHMARK(BM_ReconstructRows)->ArgsProduct({{std::begin(kLengths), std::end(kLengths)}});

/// Prints as the console reporter does and keeps the median time per waveform of each
/// benchmark and length for the closing table.
class TableReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& reports) override {
        ConsoleReporter::ReportRuns(reports);
        for (const auto& run : reports) {
            const bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
            const bool single = run.run_type == Run::RT_Iteration && run.repetitions <= 1;
            if (run.error_occurred || !(median || single)) {
                continue;
            }
            const auto items = run.counters.find("items_per_second");
            if (items == run.counters.end()) {
                continue;
            }
            const std::string& name = run.run_name.function_name;
            const long length = std::stol(run.run_name.args);
            ns_per_waveform_[name][length] = 1e9 / items->second.value;
        }
    }

    void Finalize() override {
        ConsoleReporter::Finalize();
        auto& out = GetOutputStream();
        out << "\nMedian time per waveform [ns] and ratios (same run)\n";
        char line[256];
        std::snprintf(line, sizeof line, "%8s %10s %10s %10s %12s %12s %14s %12s %10s\n", "samples",
                      "plain sum", "integral", "extract", "extract rows", "reconstruct",
                      "reco [Mtrig/s]", "extract/sum", "reco/sum");
        out << line;
        for (const long length : kLengths) {
            const double sum = get("BM_PlainSum", length);
            const double extract = get("BM_Extract", length);
            const double reco = get("BM_ReconstructRows", length);
            std::snprintf(line, sizeof line,
                          "%8ld %10.2f %10.2f %10.2f %12.2f %12.2f %14.2f %12.2f %10.2f\n", length,
                          sum, get("BM_Integral", length), extract, get("BM_ExtractRows", length),
                          reco, 1e3 / reco, sum / extract, sum / reco);
            out << line;
        }
        out << "extract/sum, reco/sum: throughput relative to the plain sum over the same samples "
               "(1 = the memory floor); reconstruct = batch extraction + 2 linear "
               "reconstructors.\n";
    }

private:
    double get(const std::string& name, long length) const {
        const auto f = ns_per_waveform_.find(name);
        if (f == ns_per_waveform_.end() || f->second.count(length) == 0) {
            return NAN;
        }
        return f->second.at(length);
    }

    std::map<std::string, std::map<long, double>> ns_per_waveform_;
};

}  // namespace

int main(int argc, char** argv) {
    // Defaults first, so that flags given on the command line override them.
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
    TableReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
