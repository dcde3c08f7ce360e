#include "tessel/columnar/batch.hpp"

#include <algorithm>
#include <array>
#include <exception>
#include <stdexcept>
#include <string>
#include <vector>

#include "tessel/reco_calls.hpp"

namespace tessel {

namespace {

/// What the records of a trigger will look up by channel (the extraction's channel table, the
/// lines of `ChannelLinearReco`s), fetched a few triggers ahead: rows of a run come in time
/// order, not channel order, so each lookup in a large table would otherwise wait for memory.
class ChannelPrefetch {
public:
    /// Triggers ahead of the current one whose channel data is fetched.
    static constexpr std::size_t AHEAD = 8;

    ChannelPrefetch(const ChannelTypes* types, std::span<const RecoCall> calls) : types_(types) {
        for (const RecoCall& call : calls) {
            if (const auto* const* reco = std::get_if<const ChannelLinearReco*>(&call)) {
                lines_.push_back(*reco);
            }
        }
    }

    [[nodiscard]] bool active() const noexcept { return types_ != nullptr || !lines_.empty(); }

    void operator()(std::int32_t channel) const noexcept {
        if (types_ != nullptr) {
            types_->prefetch(channel);
        }
        for (const ChannelLinearReco* reco : lines_) {
            reco->prefetch(channel);
        }
    }

private:
    const ChannelTypes* types_;
    std::vector<const ChannelLinearReco*> lines_;
};

// One loop serves every columnar call: a source turns row i into the records of its trigger,
// a sink turns each record into output rows.

/// Called in a handler of `error`, the error of the trigger in row `row`: throws an error of its
/// type with the row's place in the call and `detail` added, the original nested.
template <class Error>
[[noreturn]] void throw_at_row(const Error& error, std::size_t row, std::uint64_t position,
                               const std::string& detail = {}) {
    std::throw_with_nested(Error(std::string(error.what()) + " Trigger row " + std::to_string(row) +
                                 " (trigger position " + std::to_string(position) + ")" + detail +
                                 "."));
}

/// Waveform trigger rows through the step.
class TarvoSource {
public:
    TarvoSource(const TriggerStep& step, const TarvoRowInput& input)
        : step_(step),
          input_(input),
          scratch_(input.waveforms().is_direct() ? 0 : input.longest()) {}

    [[nodiscard]] std::uint64_t first_trigger() const noexcept { return input_.first_trigger(); }
    [[nodiscard]] const ChannelTypes* channels() const noexcept { return step_.channels(); }
    [[nodiscard]] std::int32_t channel(std::size_t i) const noexcept {
        return input_.triggers()[i].channel;
    }

    void records(std::size_t i, std::uint64_t position, TriggerRecords& out) {
        const std::span<const std::uint16_t> waveform = input_.waveforms().get(i, scratch_);
        try {
            step_.extract(row_to_view(input_.triggers()[i], waveform), position, out);
        } catch (const std::invalid_argument& e) {
            // A waveform too short for the edge search.
            throw_at_row(e, i, position, " has " + std::to_string(waveform.size()) + " samples");
        } catch (const std::runtime_error& e) {
            // A channel missing from the channel table.
            throw_at_row(e, i, position);
        }
    }

private:
    const TriggerStep& step_;
    const TarvoRowInput& input_;
    /// Room for gathering waveforms that cannot be read in place: allocated once per range.
    std::vector<std::uint16_t> scratch_;
};

/// Multi-PMT trigger rows through the step.
class MultiPMTSource {
public:
    MultiPMTSource(const TriggerStep& step, StridedRows<MultiPMTTriggerNumpyRow> triggers,
                   std::uint64_t first_trigger) noexcept
        : step_(step), triggers_(triggers), first_trigger_(first_trigger) {}

    [[nodiscard]] std::uint64_t first_trigger() const noexcept { return first_trigger_; }
    [[nodiscard]] const ChannelTypes* channels() const noexcept { return step_.channels(); }
    [[nodiscard]] std::int32_t channel(std::size_t i) const noexcept {
        return triggers_[i].channel;
    }

    void records(std::size_t i, std::uint64_t position, TriggerRecords& out) const {
        try {
            step_.extract(row_to_trigger(triggers_[i]), position, out);
        } catch (const std::runtime_error& e) {
            throw_at_row(e, i, position);  // a channel missing from the channel table
        }
    }

private:
    const TriggerStep& step_;
    StridedRows<MultiPMTTriggerNumpyRow> triggers_;
    std::uint64_t first_trigger_;
};

/// Feature rows: one record per row, as given (ids included).
class FeatureRowSource {
public:
    explicit FeatureRowSource(StridedRows<HitFeaturesNumpyRow> rows) noexcept : rows_(rows) {}

    [[nodiscard]] static std::uint64_t first_trigger() noexcept { return 0; }
    [[nodiscard]] static const ChannelTypes* channels() noexcept { return nullptr; }
    [[nodiscard]] std::int32_t channel(std::size_t i) const noexcept { return rows_[i].channel; }

    void records(std::size_t i, std::uint64_t /*position*/, TriggerRecords& out) const noexcept {
        out.truncated = false;
        out.record[0] = row_to_record(rows_[i]);
        out.count = 1;
    }

private:
    StridedRows<HitFeaturesNumpyRow> rows_;
};

/// Writes each record as a feature row.
class FeatureSink {
public:
    explicit FeatureSink(HitFeaturesNumpyRow* out) noexcept : next_(out) {}
    void put(const FeatureRecord& record) noexcept { *next_++ = record_to_row(record); }
    [[nodiscard]] static std::span<const RecoCall> calls() noexcept { return {}; }
    [[nodiscard]] HitFeaturesNumpyRow* next() const noexcept { return next_; }

private:
    HitFeaturesNumpyRow* next_;
};

/// Makes each record's hit and writes the kept ones.
class HitSink {
public:
    HitSink(std::span<const RecoCall> calls, bool no_discard, HitNumpyRow* out) noexcept
        : calls_(calls), no_discard_(no_discard), next_(out) {}
    void put(const FeatureRecord& record) {
        if (make_hit_with(calls_, record, nullptr, no_discard_, hit_)) {
            *next_++ = hit_to_row(hit_);
        }
    }
    [[nodiscard]] HitNumpyRow* next() const noexcept { return next_; }
    [[nodiscard]] std::span<const RecoCall> calls() const noexcept { return calls_; }

private:
    std::span<const RecoCall> calls_;
    bool no_discard_;
    HitNumpyRow* next_;
    Hit hit_;
};

template <class Source, class Sink, class Row>
RowsDone run_rows(Source& source, Sink& sink, RowRange range, Row* out) {
    RowsDone done;
    TriggerRecords records;
    const ChannelPrefetch prefetch(source.channels(), sink.calls());
    const bool prefetching = prefetch.active();
    for (std::size_t i = range.begin; i < range.end; ++i) {
        if (prefetching && i + ChannelPrefetch::AHEAD < range.end) {
            prefetch(source.channel(i + ChannelPrefetch::AHEAD));
        }
        source.records(i, source.first_trigger() + i, records);
        done.truncated += records.truncated ? 1 : 0;
        if (records.drops.any()) {
            done.drops[source.channel(i)] += records.drops;
        }
        for (const FeatureRecord& record : records) {
            sink.put(record);
        }
    }
    done.written = static_cast<std::size_t>(sink.next() - out);
    return done;
}

// The common case in one loop: waveform triggers through a plain Tarvo extractor, hits made by
// LinearRecos alone.  The loop finds the shapes of a block of triggers before it makes their
// hits, and calls the LinearRecos without dispatch; each record, its id and its hit are made by
// the functions the general step uses (`TarvoExtractor::write_record`, `TriggerStep::set_id`,
// `make_hit_with`), so the rows are the same bits.

/// A kept trigger between the two halves of the loop.
struct KeptTrigger {
    TarvoExtractor::Shape shape;
    std::int32_t channel;
    std::uint32_t trigger_time_s;
    std::uint32_t trigger_time_ticks;
    std::uint64_t position;
};

/// Triggers whose shapes are found before their hits are made: the hit arithmetic of one
/// trigger (a division, square roots) then overlaps the others' instead of waiting on the
/// waveform pass of its own.
constexpr std::size_t kBlock = 16;

RowsDone linear_tarvo_rows(const TriggerStep& step, const TarvoExtractor& tarvo,
                           std::span<const RecoCall> calls,
                           std::span<const LinearReco* const> linear, const TarvoRowInput& input,
                           RowRange range, HitNumpyRow* out) {
    TarvoSource source(step, input);
    TriggerRecords records;
    std::vector<std::uint16_t> scratch(input.waveforms().is_direct() ? 0 : input.longest());
    const RunInfo& run_info = step.run_info();
    const auto& triggers = input.triggers();
    const auto& waveforms = input.waveforms();
    std::array<KeptTrigger, kBlock> kept{};
    FeatureRecord record{};
    Hit hit;
    HitNumpyRow* next = out;
    ChannelDrops drops;
    DropCounts dropped;
    std::size_t i = range.begin;
    while (i < range.end) {
        // First half: the shapes of up to kBlock triggers, up to the first short waveform.
        std::size_t found = 0;
        bool short_waveform = false;
        for (const std::size_t stop = std::min(range.end, i + kBlock); i < stop; ++i) {
            const TarvoTriggerNumpyRow row = triggers[i];
            const std::span<const std::uint16_t> waveform = waveforms.get(i, scratch);
            if (waveform.size() < 3) {
                short_waveform = true;
                break;
            }
            const TarvoExtractor::Shape shape = TarvoExtractor::shape(waveform, row.baseline);
            if (tarvo.keeps(shape, row_to_view(row, waveform), &dropped)) {
                kept[found++] = {shape, row.channel, row.trigger_time_s, row.trigger_time_ticks,
                                 input.first_trigger() + i};
            } else {
                drops[row.channel] += dropped;
                dropped = {};
            }
        }
        // Second half: their records and hit rows.
        for (std::size_t j = 0; j < found; ++j) {
            const KeptTrigger& t = kept[j];
            TarvoExtractor::write_record(
                t.channel, t.shape,
                TarvoExtractor::trigger_time(t.trigger_time_s, t.trigger_time_ticks, run_info),
                record);
            step.set_id(record, t.position, 0);
            if (make_hit_with(linear, record, nullptr, false, hit)) {
                *next++ = hit_to_row(hit);
            }
        }
        if (short_waveform) {
            // A short waveform (dropped, or an error) takes the general step.
            source.records(i, input.first_trigger() + i, records);
            if (records.drops.any()) {
                drops[source.channel(i)] += records.drops;
            }
            HitSink rest(calls, false, next);
            for (const FeatureRecord& r : records) {
                rest.put(r);
            }
            next = rest.next();
            ++i;
        }
    }
    return {static_cast<std::size_t>(next - out), 0, std::move(drops)};
}

/// The rows of `range` by the loop above, when it applies to this step and these calls.
bool linear_tarvo_rows(const TriggerStep& step, std::span<const RecoCall> calls,
                       const TarvoRowInput& input, RowRange range, HitNumpyRow* out,
                       RowsDone& done) {
    const TarvoExtractor* tarvo = step.plain_tarvo();
    if (tarvo == nullptr) {
        return false;
    }
    std::vector<const LinearReco*> linear;
    linear.reserve(calls.size());
    for (const RecoCall& call : calls) {
        const auto* const* reco = std::get_if<const LinearReco*>(&call);
        if (reco == nullptr) {
            return false;
        }
        linear.push_back(*reco);
    }
    done = linear_tarvo_rows(step, *tarvo, calls, linear, input, range, out);
    return true;
}

}  // namespace

TarvoRowInput TarvoRowInput::check(StridedRows<TarvoTriggerNumpyRow> triggers,
                                   const WaveformRows& waveforms, std::uint64_t first_trigger) {
    check_trigger_positions(first_trigger, triggers.size());
    const std::size_t longest = waveforms.validate(triggers.size());
    return {triggers, waveforms, longest, first_trigger};
}

RowsDone extract_rows(const TriggerStep& step, const TarvoRowInput& input, RowRange range,
                      HitFeaturesNumpyRow* out) {
    TarvoSource source(step, input);
    FeatureSink sink(out);
    return run_rows(source, sink, range, out);
}

RowsDone reconstruct_rows(const TriggerStep& step, std::span<const RecoCall> calls,
                          const TarvoRowInput& input, RowRange range, HitNumpyRow* out) {
    if (RowsDone done; linear_tarvo_rows(step, calls, input, range, out, done)) {
        return done;
    }
    TarvoSource source(step, input);
    HitSink sink(calls, false, out);
    return run_rows(source, sink, range, out);
}

RowsDone pulse_rows(const TriggerStep& step, const TarvoRowInput& input, RowRange range,
                    PulseShape* out) {
    RowsDone done;
    TriggerRecords records;
    std::vector<std::uint16_t> scratch(input.waveforms().is_direct() ? 0 : input.longest());
    PulseShape* next = out;
    for (std::size_t i = range.begin; i < range.end; ++i) {
        const std::span<const std::uint16_t> waveform = input.waveforms().get(i, scratch);
        step.extract(row_to_view(input.triggers()[i], waveform), input.first_trigger() + i, records,
                     next);
        done.truncated += records.truncated ? 1 : 0;
        if (records.drops.any()) {
            done.drops[input.triggers()[i].channel] += records.drops;
        }
        next += records.count;
    }
    done.written = static_cast<std::size_t>(next - out);
    return done;
}

RowsDone extract_rows(const TriggerStep& step, StridedRows<MultiPMTTriggerNumpyRow> triggers,
                      std::uint64_t first_trigger, RowRange range, HitFeaturesNumpyRow* out) {
    MultiPMTSource source(step, triggers, first_trigger);
    FeatureSink sink(out);
    return run_rows(source, sink, range, out);
}

RowsDone reconstruct_rows(const TriggerStep& step, std::span<const RecoCall> calls,
                          StridedRows<MultiPMTTriggerNumpyRow> triggers,
                          std::uint64_t first_trigger, RowRange range, HitNumpyRow* out) {
    MultiPMTSource source(step, triggers, first_trigger);
    HitSink sink(calls, false, out);
    return run_rows(source, sink, range, out);
}

RowsDone make_hit_rows(std::span<const RecoCall> calls, StridedRows<HitFeaturesNumpyRow> features,
                       bool no_discard, RowRange range, HitNumpyRow* out) {
    FeatureRowSource source(features);
    HitSink sink(calls, no_discard, out);
    return run_rows(source, sink, range, out);
}

}  // namespace tessel
