#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <clocale>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <exception>
#include <fstream>
#include <iterator>
#include <limits>
#include <map>
#include <random>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

#include "support.hpp"
#include "tessel/channel_linear_reco.hpp"
#include "tessel/channel_table.hpp"
#include "tessel/check_settings.hpp"
#include "tessel/columnar/batch.hpp"
#include "tessel/feature_extractor.hpp"
#include "tessel/hit_maker.hpp"
#include "tessel/linear_reco.hpp"
#include "tessel/loaded_settings.hpp"
#include "tessel/pulse_finder.hpp"
#include "tessel/trigger_step.hpp"

namespace {

using tessel::ChannelIndex;
using tessel::ChannelLinearReco;
using tessel::ChannelTable;
using tessel::Hit;
using tessel::HitFeatures;
using tessel::LinearReco;
using tessel::testing::expect_thrown;
using tessel::testing::TempDir;
using tessel::testing::thrown_by;

constexpr double kInf = std::numeric_limits<double>::infinity();

const char* const kHeader =
    "channel,pmt_type,q_slope,q_intercept,q_slope_uncertainty,q_intercept_uncertainty,"
    "q_covariance\n";

TEST(ChannelTable, ReadsCommentsBlanksCarriageReturnsAndSpacing) {
    TempDir dir;
    const auto file = dir.write("t.csv",
                                "# a detector of two PMT types\r\n"
                                "\n"
                                "   \t\r\n"
                                " channel , pmt_type,q_slope,q_intercept,q_slope_uncertainty,"
                                "q_intercept_uncertainty,q_covariance\r\n"
                                "  # channel 3 is dead\n"
                                "7,1,+2.5e-3,-1,0.5,1,0\r\n"
                                "3,2, 1 ,nan,inf,-inf,1E2\r\n");
    // A locale with a decimal comma must not change how numbers are read.
    const char* previous = std::setlocale(LC_NUMERIC, "de_DE.UTF-8");
    const ChannelTable table(file);
    if (previous != nullptr) {
        std::setlocale(LC_NUMERIC, "C");
    }
    EXPECT_EQ(table.channels(), (std::vector<std::int32_t>{7, 3}));
    EXPECT_EQ(table.pmt_types(), (std::vector<std::int32_t>{1, 2}));
    EXPECT_EQ(table.column_names().size(), 5U);
    EXPECT_EQ(table.column("q_slope")[0], 2.5e-3);
    EXPECT_EQ(table.column("q_intercept")[0], -1.0);
    EXPECT_TRUE(std::isnan(table.column("q_intercept")[1]));
    EXPECT_EQ(table.column("q_slope_uncertainty")[1], kInf);
    EXPECT_EQ(table.column("q_covariance")[1], 100.0);
    EXPECT_EQ(table.index().find(3), 1U);
    EXPECT_EQ(table.index().find(7), 0U);
    EXPECT_EQ(table.index().find(5), ChannelIndex::npos);
}

// Every fault names the file and the line; field faults also name the column.
TEST(ChannelTable, FaultsNameFileLineAndColumn) {
    struct Case {
        const char* text;
        const char* expected;  // the message after "Channel table <file>"
    };
    const Case cases[] = {
        {"", " has no header line naming its columns"},
        {"# only a comment\n", " has no header line naming its columns"},
        {"channel,q\n", ", line 1: the header lacks the column \"pmt_type\""},
        {"pmt_type,q\n", ", line 1: the header lacks the column \"channel\""},
        {"channel,pmt_type,q,q\n", ", line 1: column \"q\" is named twice in the header"},
        {"channel,pmt_type,,q\n", ", line 1: header column 3 has no name"},
        {"channel,pmt_type,q\n1,0\n", ", line 2: expected 3 fields (2 commas) as in the header"},
        {"channel,pmt_type,q\n\n1,0,1,\n", ", line 3: expected 3 fields (2 commas)"},
        {"channel,pmt_type,q\n1,0,0,6\n", ", line 2: expected 3 fields"},
        {"channel,pmt_type,q\n1.5,0,1\n",
         ", line 2: column 1 (channel): expected an integer channel number, found \"1.5\""},
        {"channel,pmt_type,q\n4294967296,0,1\n", ", line 2: column 1 (channel)"},
        {"channel,pmt_type,q\n1,a,1\n",
         ", line 2: column 2 (pmt_type): expected an integer PMT type, found \"a\""},
        {"channel,pmt_type,q\n1,0,0 6\n",
         ", line 2: column 3 (q): expected a number, found \"0 6\""},
        {"channel,pmt_type,q\n1,0,\n", ", line 2: column 3 (q): expected a number, found \"\""},
        {"channel,pmt_type,q\n1,0,1x\n", ", line 2: column 3 (q): expected a number"},
        {"channel,pmt_type,q\n1,0,++1\n", ", line 2: column 3 (q): expected a number"},
        {"# no rows\nchannel,pmt_type,q\n\n", " has no channel rows after its header"},
        {"channel,pmt_type\n1,0\n2,0\n#\n1,1\n3,0\n2,5\n",
         ", line 5: channel 1 is given twice (first on line 2)"},
        // The earliest repeating line, not the lowest repeated channel.
        {"channel,pmt_type\n5,0\n7,0\n7,1\n5,1\n",
         ", line 4: channel 7 is given twice (first on line 3)"},
    };
    TempDir dir;
    for (const auto& c : cases) {
        const auto file = dir.write("t.csv", c.text);
        const std::string prefix = "Channel table " + file.string() + c.expected;
        expect_thrown<std::runtime_error>(thrown_by([&] { ChannelTable table(file); }),
                                          [&](const std::runtime_error& e) {
                                              EXPECT_EQ(std::string(e.what()).rfind(prefix, 0), 0U)
                                                  << "text: " << c.text << "\nwhat: " << e.what();
                                          });
    }
    expect_thrown<std::runtime_error>(
        thrown_by([&] { ChannelTable table(dir.root() / "missing.csv"); }),
        [&](const std::runtime_error& e) {
            EXPECT_EQ(std::string(e.what()),
                      "Could not open channel table: " + (dir.root() / "missing.csv").string());
        });
    // A FIFO would block the open (the alarm ends a regression), a device never ends.
    const auto fifo = dir.root() / "fifo.csv";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    alarm(10);
    for (const std::filesystem::path& name :
         {fifo, std::filesystem::path("/dev/zero"), dir.root()}) {
        expect_thrown<std::runtime_error>(
            thrown_by([&] { ChannelTable table(name); }), [&](const std::runtime_error& e) {
                EXPECT_EQ(std::string(e.what()), "Could not open channel table: " + name.string());
                expect_thrown<std::invalid_argument>(
                    tessel::testing::cause_of(e), [](const auto& cause) {
                        EXPECT_TRUE(std::string(cause.what()).ends_with(", not a regular file"));
                    });
            });
    }
    alarm(0);
    const auto file = dir.write("t.csv", "channel,pmt_type,q_slope\n1,0,1\n");
    const ChannelTable table(file);
    expect_thrown<std::runtime_error>(
        thrown_by([&] { (void)table.column("q_intercept"); }), [&](const std::runtime_error& e) {
            EXPECT_EQ(std::string(e.what()),
                      "Channel table " + file.string() + " has no column \"q_intercept\"");
        });
}

// The dense and the sorted lookup agree with a map, for channel sets of each kind.
TEST(ChannelIndex, AgreesWithAMap) {
    std::mt19937 rng(13);
    struct Layout {
        std::int32_t lo;
        std::int64_t span;
        std::size_t count;
        bool dense;
    };
    const Layout layouts[] = {
        {0, 10000, 10000, true},
        {-50, 200, 37, true},
        {std::numeric_limits<std::int32_t>::min(), 1LL << 32, 500, false},
        {1000000, 100000000, 3000, false},
        {std::numeric_limits<std::int32_t>::max() - 10, 11, 11, true},
    };
    for (const auto& layout : layouts) {
        std::map<std::int32_t, std::uint32_t> expected;
        std::vector<std::int32_t> channels;
        std::uniform_int_distribution<std::int64_t> pick(0, layout.span - 1);
        while (channels.size() < layout.count) {
            const auto c = static_cast<std::int32_t>(layout.lo + pick(rng));
            if (expected.emplace(c, static_cast<std::uint32_t>(channels.size())).second) {
                channels.push_back(c);
            }
        }
        const ChannelIndex index(channels);
        EXPECT_EQ(index.is_dense(), layout.dense);
        // Values by channel: the row number doubled, so that a wrong slot shows.
        std::vector<std::uint32_t> doubled;
        for (std::size_t row = 0; row < channels.size(); ++row) {
            doubled.push_back(static_cast<std::uint32_t>(2 * row));
        }
        const tessel::ChannelMap<std::uint32_t> map(channels, doubled);
        EXPECT_EQ(map.is_direct(), layout.dense);
        for (int k = 0; k < 20000; ++k) {
            const auto c = static_cast<std::int32_t>(layout.lo + pick(rng) - 5);
            const auto it = expected.find(c);
            ASSERT_EQ(index.find(c), it == expected.end() ? ChannelIndex::npos : it->second)
                << "channel " << c;
            const std::uint32_t* value = map.find(c);
            ASSERT_EQ(value == nullptr, it == expected.end()) << "channel " << c;
            if (value != nullptr) {
                ASSERT_EQ(*value, 2 * it->second);
            }
            map.prefetch(c);
        }
        for (const std::int32_t c : {std::numeric_limits<std::int32_t>::min(),
                                     std::numeric_limits<std::int32_t>::max(), 0, -1}) {
            const auto it = expected.find(c);
            EXPECT_EQ(index.find(c), it == expected.end() ? ChannelIndex::npos : it->second);
        }
    }
}

/// Bits of a hit's four numbers, so that NaN compares equal to the same NaN.
std::vector<std::uint64_t> bits(const Hit& h) {
    return {std::bit_cast<std::uint64_t>(h.get_charge()),
            std::bit_cast<std::uint64_t>(h.get_charge_uncertainty()),
            std::bit_cast<std::uint64_t>(h.get_time()),
            std::bit_cast<std::uint64_t>(h.get_time_uncertainty())};
}

// A channel whose row holds a LinearReco's five numbers gets that LinearReco's hit, bit for
// bit, over random lines and values (NaN, infinities, window edges and PMT types included).
TEST(ChannelLinearReco, BitIdenticalToLinearRecoPerChannel) {
    std::mt19937_64 rng(7);
    std::uniform_real_distribution<double> wide(-1e3, 1e3);
    const double special[] = {0.0, -0.0, kInf, -kInf, std::nan(""), 1e-300, 5.0, -5.0};
    auto number = [&] {
        return rng() % 8 == 0 ? special[rng() % std::size(special)] : wide(rng) * wide(rng);
    };
    constexpr int kChannels = 40;
    std::string csv = kHeader;
    std::vector<std::vector<double>> rows;
    for (int c = 0; c < kChannels; ++c) {
        std::vector<double> row;
        csv += std::to_string(c * 3) + "," + std::to_string(c % 3);
        for (int k = 0; k < 5; ++k) {
            row.push_back(number());
            char text[64];
            std::snprintf(text, sizeof text, ",%.17g", row.back());
            csv += text;
        }
        rows.push_back(row);
        csv += "\n";
    }
    TempDir dir;
    const auto file = dir.write("t.csv", csv);
    for (const char* property : {"charge", "time"}) {
        for (const int pmt_type : {-1, 1}) {
            const ChannelLinearReco reco("waveform_integral", property, file, "q", -5.0, 5.0e5,
                                         pmt_type);
            for (int c = 0; c < kChannels; ++c) {
                const auto& r = rows[static_cast<std::size_t>(c)];
                const LinearReco linear("waveform_integral", property, r[0], r[1], r[2], r[3], r[4],
                                        -5.0, 5.0e5, pmt_type);
                for (int k = 0; k < 30; ++k) {
                    HitFeatures f;
                    f.set_channel(c * 3);
                    if (k % 5 != 0) {
                        f.set_waveform_integral(k % 7 == 0 ? special[rng() % 8] : number());
                    }
                    if (k % 2 == 0) {
                        f.set_pmt_type(static_cast<std::int32_t>(rng() % 3));
                    }
                    Hit expected;
                    Hit got;
                    linear.reconstruct(f, expected);
                    reco.reconstruct(f, got);
                    ASSERT_EQ(bits(got), bits(expected)) << "channel " << c * 3 << " row " << k;
                }
            }
        }
    }
    // A channel without a row, and a record without a channel, are left untouched.
    const ChannelLinearReco reco("waveform_integral", "charge", file, "q", -kInf, kInf, -1);
    for (const bool with_channel : {true, false}) {
        HitFeatures f;
        f.set_waveform_integral(1.0);
        if (with_channel) {
            f.set_channel(1);
        }
        Hit hit;
        reco.reconstruct(f, hit);
        EXPECT_EQ(bits(hit), bits(Hit()));
    }
}

// Built from a settings file: the table is found beside it, a PMT-type filter splits the work
// between two instances, and errors come in the order of LinearReco's (feature, hit property)
// before the table is read.
TEST(ChannelLinearReco, FromSettings) {
    TempDir dir;
    dir.write("tables/t.csv", std::string(kHeader) + "0,1,2,0,0,0.5,0\n1,2,3,0,0,0.25,0\n");
    const auto settings = dir.write("conf/s.yaml", R"(reco:
  one:
    class: ChannelLinearReco
    feature: waveform_integral
    hit_property: charge
    pmt_type: 1
    table: ../tables/t.csv
    columns: q
    min_value: 0
    max_value: .inf
  two:
    class: ChannelLinearReco
    feature: waveform_integral
    hit_property: charge
    pmt_type: 2
    table: ../tables/t.csv
    columns: q
    min_value: 0
    max_value: .inf
  time:
    class: LinearReco
    feature: waveform_integral
    hit_property: time
    pmt_type: -1
    slope: 1
    intercept: 0
    slope_uncertainty: 0
    intercept_uncertainty: 1
    covariance: 0
    min_value: -.inf
    max_value: .inf
)");
    const tessel::HitMaker maker(settings);
    std::vector<HitFeatures> records(3);
    for (std::int32_t c = 0; c < 3; ++c) {
        records[c].set_channel(c);
        records[c].set_id(static_cast<std::uint64_t>(c));
        records[c].set_waveform_integral(10.0);
        // Channel 1 is recorded as type 1 although the table says 2: the record's type rules.
        records[c].set_pmt_type(c == 2 ? 2 : 1);
    }
    const auto hits = maker.make_hits(records);
    // Channel 0: type 1, slope 2.  Channel 1: type 1 record, "one" acts with channel 1's row.
    // Channel 2: no row, no charge, no hit.
    ASSERT_EQ(hits.size(), 2U);
    EXPECT_EQ(hits[0].get_charge(), 20.0);
    EXPECT_EQ(hits[0].get_charge_uncertainty(), 0.5);
    EXPECT_EQ(hits[1].get_charge(), 30.0);
    EXPECT_EQ(hits[1].get_charge_uncertainty(), 0.25);

    // Loaded once: the table both instances name is read once, for the check too, and the hit
    // maker built from the loaded settings makes the same hits.
    const tessel::LoadedSettings loaded(settings);
    const tessel::HitMaker from_loaded(loaded);
    EXPECT_TRUE(tessel::check_settings(loaded).empty());
    ASSERT_EQ(loaded.tables().size(), 1U);
    EXPECT_EQ(loaded.tables()[0].first, dir.root() / "tables/t.csv");
    const auto again = from_loaded.make_hits(records);
    ASSERT_EQ(again.size(), hits.size());
    EXPECT_EQ(again[1].get_charge(), 30.0);

    struct Fault {
        const char* replace;
        const char* with;
        std::string message;
    };
    const Fault faults[] = {
        {"feature: waveform_integral\n    hit_property: charge\n    pmt_type: 1",
         "feature: integral\n    hit_property: Charge\n    pmt_type: 1",
         "Unknown feature name: integral"},
        {"hit_property: charge\n    pmt_type: 1\n    table: ../tables/t.csv",
         "hit_property: Charge\n    pmt_type: 1\n    table: ../tables/none.csv",
         "Unsupported hit property: Charge"},
        {"table: ../tables/t.csv\n    columns: q\n    min_value: 0\n    max_value: .inf\n  two",
         "table: ../tables/none.csv\n    columns: q\n    min_value: 0\n    max_value: .inf\n  two",
         "Could not open channel table: " + (dir.root() / "tables/none.csv").string()},
        {"columns: q\n    min_value: 0\n    max_value: .inf\n  two",
         "columns: t\n    min_value: 0\n    max_value: .inf\n  two",
         "Channel table " + (dir.root() / "tables/t.csv").string() + " has no column \"t_slope\""},
        {"columns: q\n    min_value: 0\n    max_value: .inf\n  two",
         "min_value: 0\n    max_value: .inf\n  two", "Key columns not found!"},
    };
    std::string text;
    {
        std::ifstream in(settings);
        text.assign(std::istreambuf_iterator<char>(in), {});
    }
    for (const auto& fault : faults) {
        std::string changed = text;
        const auto at = changed.find(fault.replace);
        ASSERT_NE(at, std::string::npos) << fault.replace;
        changed.replace(at, std::string(fault.replace).size(), fault.with);
        const auto broken = dir.write("conf/broken.yaml", changed);
        try {
            tessel::HitMaker m(broken);
            ADD_FAILURE() << "nothing thrown, expected " << fault.message;
        } catch (const std::exception& e) {
            EXPECT_EQ(std::string(e.what()), fault.message);
        }
    }
}

}  // namespace

namespace {

using tessel::FeatureExtractor;

tessel::TarvoTrigger pulse_on(std::int32_t channel) {
    tessel::TarvoTrigger t;
    t.channel = channel;
    t.baseline = 100.0F;
    t.waveform = {100, 101, 99, 100, 160, 520, 900, 760, 480, 300, 190, 140, 115, 104, 100, 99};
    return t;
}

tessel::MultiPMTTrigger multipmt_on(std::int32_t channel) {
    tessel::MultiPMTTrigger t;
    t.channel = channel;
    t.time = 1.0;
    t.adc_sample = 40;
    return t;
}

/// The object path and the columnar path over the same triggers: their feature rows.
std::vector<tessel::HitFeaturesNumpyRow> both_paths(const FeatureExtractor& extractor,
                                                    const std::vector<std::int32_t>& tarvo,
                                                    std::int32_t multipmt) {
    tessel::TriggerList triggers;
    for (const auto c : tarvo) {
        triggers.emplace_back(pulse_on(c));
    }
    triggers.emplace_back(multipmt_on(multipmt));
    std::vector<tessel::HitFeaturesNumpyRow> object;
    for (const auto& f : extractor.extract_features(triggers)) {
        object.push_back(tessel::features_to_row(f));
    }
    std::vector<tessel::TarvoTriggerNumpyRow> rows;
    std::vector<std::uint16_t> samples;
    for (const auto c : tarvo) {
        const auto t = pulse_on(c);
        rows.push_back({t.channel, t.trigger_time_s, t.trigger_time_ticks, t.baseline, 0.0F});
        samples.insert(samples.end(), t.waveform.begin(), t.waveform.end());
    }
    const auto step = extractor.step(tessel::RunInfo::simulation_run());
    std::vector<tessel::HitFeaturesNumpyRow> columnar(tarvo.size() + 1);
    const auto input = tessel::TarvoRowInput::check(
        tessel::StridedRows<tessel::TarvoTriggerNumpyRow>(std::span(rows)),
        tessel::WaveformRows::fixed(samples, rows.size(), 16), 0);
    std::size_t n = tessel::extract_rows(step, input, {0, rows.size()}, columnar.data()).written;
    const tessel::MultiPMTTriggerNumpyRow m{1.0, multipmt, 0.0, 40};
    n += tessel::extract_rows(step, tessel::StridedRows<tessel::MultiPMTTriggerNumpyRow>(&m, 1, 32),
                              tarvo.size(), {0, 1}, columnar.data() + n)
             .written;
    columnar.resize(n);
    EXPECT_EQ(columnar.size(), object.size());
    for (std::size_t i = 0; i < std::min(object.size(), columnar.size()); ++i) {
        EXPECT_EQ(std::memcmp(&object[i], &columnar[i], sizeof object[i]), 0) << "record " << i;
    }
    return object;
}

// Extraction with a channel table: every record gets its channel's type, on both paths; a
// channel without a row is an error naming it and the table, or drops its trigger.
TEST(ChannelTypes, ExtractionSetsPmtTypesOnBothPaths) {
    TempDir dir;
    const auto table = dir.write("tables/t.csv", "channel,pmt_type\n4,2\n9,7\n");
    const std::string tarvo_options =
        "extractors:\n  Tarvo:\n    drop_bad_edge: false\n    drop_bad_integral: false\n";
    const FeatureExtractor plain(dir.write("conf/plain.yaml", tarvo_options));
    const FeatureExtractor typed(
        dir.write("conf/typed.yaml", tarvo_options + "  channels:\n    table: ../tables/t.csv\n"));
    const FeatureExtractor dropping(
        dir.write("conf/drop.yaml", tarvo_options + "  channels:\n    table: " + table.string() +
                                        "\n    unknown_channels: drop\n"));

    const auto untyped = both_paths(plain, {4, 5}, 9);
    ASSERT_EQ(untyped.size(), 3U);
    for (const auto& row : untyped) {
        EXPECT_EQ(row.pmt_type, -1);
    }
    const auto types = both_paths(typed, {4}, 9);
    ASSERT_EQ(types.size(), 2U);
    EXPECT_EQ(types[0].pmt_type, 2);
    EXPECT_EQ(types[1].pmt_type, 7);
    // Channel 5 has no row: its trigger (position 1) gives nothing; the others keep their ids.
    const auto dropped = both_paths(dropping, {4, 5, 4}, 9);
    ASSERT_EQ(dropped.size(), 3U);
    EXPECT_EQ(dropped[1].id, static_cast<std::int64_t>(tessel::make_hit_id(15731968, 2, 0)));
    EXPECT_EQ(dropped[2].pmt_type, 7);

    const std::string unknown = "Channel 5 is not in the channel table " + table.string() +
                                " (set extractors.channels.unknown_channels: drop to skip such "
                                "triggers)";
    expect_thrown<std::runtime_error>(
        thrown_by([&] {
            (void)typed.extract_features({pulse_on(4), pulse_on(5)});
        }),
        [&](const std::runtime_error& e) { EXPECT_EQ(std::string(e.what()), unknown); });
    expect_thrown<std::runtime_error>(
        thrown_by([&] { (void)typed.extract_features({multipmt_on(5)}); }),
        [&](const std::runtime_error& e) { EXPECT_EQ(std::string(e.what()), unknown); });
    // A columnar call names the row too, as for a short waveform, with the error nested.
    const auto in_row = [&](const std::runtime_error& e) {
        EXPECT_EQ(std::string(e.what()), unknown + " Trigger row 1 (trigger position 8).");
        tessel::testing::expect_message<std::runtime_error>(tessel::testing::cause_of(e), unknown);
    };
    const auto step = typed.step(tessel::RunInfo::simulation_run());
    const auto t = pulse_on(5);
    const std::vector<tessel::TarvoTriggerNumpyRow> rows(
        2, {t.channel, t.trigger_time_s, t.trigger_time_ticks, t.baseline, 0.0F});
    std::vector<std::uint16_t> samples = t.waveform;
    samples.insert(samples.end(), t.waveform.begin(), t.waveform.end());
    const tessel::MultiPMTTriggerNumpyRow pmt[] = {{1.0, 4, 0.0, 40}, {1.0, 5, 0.0, 40}};
    std::vector<tessel::HitFeaturesNumpyRow> out(2);
    expect_thrown<std::runtime_error>(
        thrown_by([&] {
            const auto input = tessel::TarvoRowInput::check(
                tessel::StridedRows<tessel::TarvoTriggerNumpyRow>(std::span(rows)),
                tessel::WaveformRows::fixed(samples, 2, 16), 7);
            (void)tessel::extract_rows(step, input, {1, 2}, out.data());
        }),
        in_row);
    expect_thrown<std::runtime_error>(
        thrown_by([&] {
            (void)tessel::extract_rows(
                step, tessel::StridedRows<tessel::MultiPMTTriggerNumpyRow>(std::span(pmt)), 7,
                {0, 2}, out.data());
        }),
        in_row);

    // A dropped trigger of more pulses than a trigger holds is not counted as truncated.
    const tessel::ChannelTypes table_types(ChannelTable(table), tessel::UnknownChannels::drop);
    const tessel::TarvoExtractor tarvo(false, false);
    tessel::PulseFinder::Options finding;
    finding.threshold = 15;
    finding.hysteresis = 5;
    const tessel::PulseFinder finder(finding);
    const tessel::TriggerStep finding_step(tarvo, tessel::RunInfo{}, &table_types, &finder);
    tessel::TarvoTrigger many = pulse_on(5);
    many.baseline = 10.0F;
    many.waveform.clear();
    for (int k = 0; k < 20; ++k) {
        many.waveform.insert(many.waveform.end(), {10, 10, 60, 30, 10});
    }
    tessel::TriggerRecords records;
    for (const std::int32_t channel : {4, 5}) {
        many.channel = channel;
        finding_step.extract(tessel::TarvoTriggerView::of(many), 0, records);
        EXPECT_EQ(records.count, channel == 4 ? 16U : 0U) << "channel " << channel;
        EXPECT_EQ(records.truncated, channel == 4) << "channel " << channel;
    }

    const auto bad = dir.write("conf/bad.yaml", tarvo_options +
                                                    "  channels:\n    table: ../tables/t.csv\n"
                                                    "    unknown_channels: skip\n");
    expect_thrown<std::invalid_argument>(
        thrown_by([&] { FeatureExtractor e(bad); }), [&](const std::invalid_argument& e) {
            EXPECT_EQ(std::string(e.what()), "extractors.channels.unknown_channels in " +
                                                 bad.string() + " must be error or drop, not skip");
        });
}

}  // namespace
