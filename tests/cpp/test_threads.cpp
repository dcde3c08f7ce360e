// One ChargeReconstruction shared by several threads, as the Python face shares it when the
// columnar methods run without the interpreter lock: the object path and the batch path, each
// in several threads at once, give the results of a single thread.  Run under ThreadSanitizer
// in the test run (the tsan preset), where a data race fails the test.

#include <gtest/gtest.h>

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "tessel/batch.hpp"
#include "tessel/charge_reconstruction.hpp"
#include "tessel/rows.hpp"

namespace {

using tessel::HitNumpyRow;

constexpr std::size_t kLength = 32;
constexpr std::size_t kTriggers = 64;

struct Input {
    tessel::TriggerList objects;
    std::vector<tessel::TarvoTriggerNumpyRow> tarvo_rows;
    std::vector<std::uint16_t> samples;
    std::vector<tessel::MultiPMTTriggerNumpyRow> multipmt_rows;

    Input() {
        for (std::size_t k = 0; k < kTriggers; ++k) {
            tessel::TarvoTrigger t;
            t.channel = static_cast<std::int32_t>(k);
            t.trigger_time_s = static_cast<std::uint32_t>(k);
            t.trigger_time_ticks = static_cast<std::uint32_t>(k * 31);
            t.baseline = 100.0F;
            for (std::size_t i = 0; i < kLength; ++i) {
                const double d = static_cast<double>(i) - static_cast<double>(4 + k % 20);
                const double pulse = d < 0 ? 0.0 : 50.0 * static_cast<double>(k) * std::exp(-d / 3);
                t.waveform.push_back(static_cast<std::uint16_t>(100.0 + pulse + (i * k) % 3));
            }
            tarvo_rows.push_back(
                {t.channel, t.trigger_time_s, t.trigger_time_ticks, t.baseline, t.intsum});
            samples.insert(samples.end(), t.waveform.begin(), t.waveform.end());
            objects.emplace_back(t);
        }
        for (std::size_t k = 0; k < kTriggers; ++k) {
            tessel::MultiPMTTrigger m;
            m.time = 1e-6 * static_cast<double>(k);
            m.channel = static_cast<std::int32_t>(k);
            m.adc_sample = static_cast<std::uint16_t>(k * 60);
            multipmt_rows.push_back({m.time, m.channel, m.time_over_threshold, m.adc_sample});
            objects.emplace_back(m);
        }
    }
};

std::vector<HitNumpyRow> object_path(tessel::ChargeReconstruction& reco, const Input& in) {
    std::vector<HitNumpyRow> rows;
    for (const tessel::Hit& hit : reco.reconstruct(in.objects)) {
        rows.push_back(tessel::hit_to_row(hit));
    }
    return rows;
}

// The batch path in the object path's order: the waveform rows, then the multi-PMT rows at the
// trigger positions after them.
std::vector<HitNumpyRow> batch_path(const tessel::ChargeReconstruction& reco, const Input& in) {
    const tessel::RunInfo run = tessel::RunInfo::simulation_run();
    std::vector<HitNumpyRow> rows(2 * kTriggers);
    const auto waveforms = tessel::WaveformRows::fixed(in.samples, kTriggers, kLength);
    (void)waveforms.validate(kTriggers);
    std::size_t n = tessel::reconstruct_tarvo_rows(
        reco.feature_extractor().tarvo_extractor(), reco.hit_maker(),
        tessel::StridedRows<tessel::TarvoTriggerNumpyRow>(
            std::span<const tessel::TarvoTriggerNumpyRow>(in.tarvo_rows)),
        waveforms, 0, run, rows.data());
    n += tessel::reconstruct_multipmt_rows(
        reco.hit_maker(),
        tessel::StridedRows<tessel::MultiPMTTriggerNumpyRow>(
            std::span<const tessel::MultiPMTTriggerNumpyRow>(in.multipmt_rows)),
        kTriggers, run, rows.data() + n);
    rows.resize(n);
    return rows;
}

bool same_bytes(const std::vector<HitNumpyRow>& a, const std::vector<HitNumpyRow>& b) {
    return a.size() == b.size() &&
           (a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof(a[0])) == 0);
}

TEST(SharedReconstruction, ThreadsGiveTheResultsOfOneThread) {
    tessel::ChargeReconstruction reco(std::string(TESSEL_EXAMPLES_DIR) + "/settings.yaml");
    const Input in;
    const std::vector<HitNumpyRow> expected = object_path(reco, in);
    ASSERT_GT(expected.size(), kTriggers);  // both kinds give hits
    ASSERT_TRUE(same_bytes(batch_path(reco, in), expected));

    constexpr int kThreads = 4;
    constexpr int kRounds = 50;
    std::vector<int> mismatches(kThreads, 0);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int round = 0; round < kRounds; ++round) {
                const auto rows = t % 2 == 0 ? object_path(reco, in) : batch_path(reco, in);
                mismatches[static_cast<std::size_t>(t)] += same_bytes(rows, expected) ? 0 : 1;
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(mismatches, std::vector<int>(kThreads, 0));
}

}  // namespace
