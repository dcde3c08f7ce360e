// The worker pool of the columnar calls and one ChargeReconstruction shared by several threads,
// as the Python face shares it when the columnar methods run without the interpreter lock.  Run
// under ThreadSanitizer in the test run (the tsan preset), where a data race fails the test.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "support.hpp"
#include "tessel/charge_reconstruction.hpp"
#include "tessel/columnar/parallel.hpp"

namespace {

using tessel::HitNumpyRow;

/// Output in a vector that grows to the size asked for.
template <class Row>
class VectorStore final : public tessel::RowStore {
public:
    std::byte* reserve(std::size_t needed, std::size_t suggested) override {
        EXPECT_GE(suggested, needed);
        rows.resize(suggested);
        ++grown;
        return reinterpret_cast<std::byte*>(rows.data());
    }
    std::vector<Row> rows;
    int grown = 0;
};

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

// The columnar path in the object path's order, each call worked by `threads` threads: the
// waveform rows, then the multi-PMT rows at the trigger positions after them.
std::vector<HitNumpyRow> batch_path(const tessel::ChargeReconstruction& reco, const Input& in,
                                    std::size_t threads) {
    const tessel::RunInfo run = tessel::RunInfo::simulation_run();
    const tessel::TriggerStep step = reco.feature_extractor().step(run);
    const std::vector<tessel::RecoCall> calls = reco.hit_maker().calls();
    const auto input = tessel::TarvoRowInput::check(
        tessel::StridedRows<tessel::TarvoTriggerNumpyRow>(std::span(in.tarvo_rows)),
        tessel::WaveformRows::fixed(in.samples, kTriggers, kLength), 0);
    const tessel::StridedRows<tessel::MultiPMTTriggerNumpyRow> multipmt(
        std::span(in.multipmt_rows));
    tessel::check_trigger_positions(kTriggers, kTriggers);
    tessel::ChunkPlan plan;
    plan.rows = kTriggers;
    plan.max_per_row = step.max_records();
    plan.row_bytes = sizeof(HitNumpyRow);
    plan.threads = threads;
    VectorStore<HitNumpyRow> tarvo;
    const std::size_t n =
        tessel::run_chunks(plan,
                           [&](tessel::RowRange range, std::byte* out) {
                               return tessel::reconstruct_rows(step, calls, input, range,
                                                               reinterpret_cast<HitNumpyRow*>(out));
                           },
                           tarvo, {})
            .written;
    VectorStore<HitNumpyRow> pmt;
    const std::size_t m = tessel::run_chunks(plan,
                                             [&](tessel::RowRange range, std::byte* out) {
                                                 return tessel::reconstruct_rows(
                                                     step, calls, multipmt, kTriggers, range,
                                                     reinterpret_cast<HitNumpyRow*>(out));
                                             },
                                             pmt, {})
                              .written;
    std::vector<HitNumpyRow> rows(tarvo.rows.begin(), tarvo.rows.begin() + n);
    rows.insert(rows.end(), pmt.rows.begin(), pmt.rows.begin() + m);
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
    ASSERT_TRUE(same_bytes(batch_path(reco, in, 1), expected));

    constexpr int kThreads = 4;
    constexpr int kRounds = 20;
    std::vector<int> mismatches(kThreads, 0);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int round = 0; round < kRounds; ++round) {
                const auto rows = t % 2 == 0 ? object_path(reco, in) : batch_path(reco, in, 3);
                mismatches[static_cast<std::size_t>(t)] += same_bytes(rows, expected) ? 0 : 1;
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(mismatches, std::vector<int>(kThreads, 0));
}

TEST(RunChunks, AnyThreadsGiveTheRowsOfOneThread) {
    // Row i yields i % 4 rows (none for some, up to 3), so the output outgrows its first size.
    const tessel::ChunkWork work = [](tessel::RowRange range, std::byte* out) {
        auto* rows = reinterpret_cast<std::uint64_t*>(out);
        tessel::RowsDone done;
        for (std::size_t i = range.begin; i < range.end; ++i) {
            for (std::size_t k = 0; k < i % 4; ++k) {
                rows[done.written++] = i * 4 + k;
            }
        }
        return done;
    };
    tessel::ChunkPlan plan;
    plan.rows = 100'003;
    plan.max_per_row = 3;
    plan.row_bytes = sizeof(std::uint64_t);
    plan.first_output_rows = 1000;
    std::vector<std::uint64_t> expected;
    for (std::size_t i = 0; i < plan.rows; ++i) {
        for (std::size_t k = 0; k < i % 4; ++k) {
            expected.push_back(i * 4 + k);
        }
    }
    for (const std::size_t threads : {1, 2, 3, 7}) {
        plan.threads = threads;
        VectorStore<std::uint64_t> store;
        const tessel::RowsDone done = tessel::run_chunks(plan, work, store, {});
        ASSERT_EQ(done.written, expected.size()) << threads << " threads";
        store.rows.resize(done.written);
        EXPECT_EQ(store.rows, expected) << threads << " threads";
        EXPECT_GT(store.grown, 1) << threads << " threads";
    }
}

/// Waits until `flag` is set, or two seconds have passed.
void wait_for(const std::atomic<bool>& flag) {
    const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (!flag && std::chrono::steady_clock::now() < give_up) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

TEST(RunChunks, TheErrorOfTheEarliestFailingChunkIsReported) {
    // Chunks 5 and 6 fail, one while the other is being worked, in either order in time: the
    // error is chunk 5's.  With one thread chunk 6 is never reached.
    tessel::ChunkPlan plan;
    plan.rows = 1000;
    plan.row_bytes = 8;
    plan.samples_per_row = tessel::CHUNK_SAMPLES / 10;  // at most 10 rows per chunk
    for (const std::size_t threads : {1, 2, 3, 7}) {
        for (const bool earlier_first : {true, false}) {
            SCOPED_TRACE(std::to_string(threads) + " threads, chunk " +
                         (earlier_first ? "5" : "6") + " fails first");
            plan.threads = threads;
            const std::size_t chunk = tessel::chunk_rows(plan);
            const bool both = threads > 1;
            std::atomic<bool> later_started{false};
            std::atomic<bool> earlier_failed{false};
            std::atomic<bool> later_failed{false};
            const auto pause = [] { std::this_thread::sleep_for(std::chrono::milliseconds(20)); };
            const tessel::ChunkWork work = [&](tessel::RowRange range, std::byte*) {
                const std::size_t k = range.begin / chunk;
                if (k == 5) {
                    if (both && earlier_first) {
                        wait_for(later_started);
                    } else if (both) {
                        wait_for(later_failed);  // chunk 6 is taken after this one
                        pause();
                    }
                    earlier_failed = true;
                    throw std::runtime_error("chunk 5");
                }
                if (k == 6) {
                    later_started = true;
                    if (earlier_first) {
                        wait_for(earlier_failed);
                        pause();
                    }
                    later_failed = true;
                    throw std::runtime_error("chunk 6");
                }
                return tessel::RowsDone{};
            };
            VectorStore<std::uint64_t> store;
            tessel::testing::expect_message<std::runtime_error>(
                tessel::testing::thrown_by(
                    [&] { (void)tessel::run_chunks(plan, work, store, {}); }),
                "chunk 5");
            EXPECT_EQ(later_failed, both);
        }
    }
}

TEST(RunChunks, WhatThePollThrowsStopsTheWorkers) {
    std::atomic<std::size_t> rows_worked{0};
    const tessel::ChunkWork work = [&rows_worked](tessel::RowRange range, std::byte*) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        rows_worked += range.end - range.begin;
        return tessel::RowsDone{};
    };
    tessel::ChunkPlan plan;
    plan.rows = 1'000'000;
    plan.samples_per_row = tessel::CHUNK_SAMPLES;  // one row per chunk: a million milliseconds
    plan.row_bytes = 8;
    for (const std::size_t threads : {1, 2}) {
        plan.threads = threads;
        VectorStore<std::uint64_t> store;
        rows_worked = 0;
        EXPECT_THROW(tessel::run_chunks(
                         plan, work, store, [] { throw std::range_error("stop"); },
                         std::chrono::milliseconds(1)),
                     std::range_error);
        EXPECT_LT(rows_worked, plan.rows / 10) << threads << " threads";
    }
}

}  // namespace
