#pragma once

// Hit making over `RecoCall`s: the one place that calls reconstructors on a record.  Every
// built-in reconstructor's header is included here, so that its `apply` is called directly.

#include <cstddef>
#include <optional>
#include <type_traits>
#include <variant>

#include "tessel/channel_linear_reco.hpp"
#include "tessel/feature_record.hpp"
#include "tessel/hit.hpp"
#include "tessel/linear_reco.hpp"
#include "tessel/lut_reco.hpp"
#include "tessel/reconstructor.hpp"

namespace tessel {

namespace detail {

/// Calls a reconstructor that is not built in through `reconstruct`, with the record as
/// `HitFeatures`: `given` if the caller has it, else one made in `made` on first need.  Out of
/// line, so that the loop over built-in reconstructors stays small.
[[gnu::noinline]] inline void call_through_interface(const Reconstructor& reconstructor,
                                                     const FeatureRecord& record,
                                                     const HitFeatures*& given,
                                                     std::optional<HitFeatures>& made, Hit& hit) {
    if (given == nullptr) {
        given = &made.emplace(record.features());
    }
    reconstructor.reconstruct(*given, hit);
}

/// One reconstructor of `make_hit_with` on `record`: a built-in kind through its own `apply`,
/// any other through the interface.
inline void apply_call(const RecoCall& call, const FeatureRecord& record, const HitFeatures*& given,
                       std::optional<HitFeatures>& made, Hit& hit) {
    std::visit(
        [&](const auto* reconstructor) {
            using R = std::remove_cv_t<std::remove_pointer_t<decltype(reconstructor)>>;
            if constexpr (std::is_same_v<R, Reconstructor>) {
                call_through_interface(*reconstructor, record, given, made, hit);
            } else {
                reconstructor->apply(record, hit);
            }
        },
        call);
}

/// The same for a list known to hold `LinearReco`s alone: no dispatch at all.
inline void apply_call(const LinearReco* reconstructor, const FeatureRecord& record,
                       const HitFeatures*& /*given*/, std::optional<HitFeatures>& /*made*/,
                       Hit& hit) noexcept {
    reconstructor->apply(record, hit);
}

}  // namespace detail

/// Makes the hit of one record into `hit` with the reconstructors `calls` (any container of
/// `RecoCall`, or of `const LinearReco*`, indexed by position) and returns whether it is kept:
/// the hit starts invalid with
/// the record's channel and id; a record lacking either reaches no reconstructor and is kept only
/// with `no_discard`; otherwise every reconstructor refines the hit in turn and the hit is kept
/// if valid (or always, with `no_discard`).
///
/// `given` is the record as `HitFeatures` when the caller has it; otherwise a reconstructor
/// called through the virtual interface gets one made from `record` on first need.  The calls
/// are taken by index over the count present when the record starts: a Python callable may
/// append to a live list while it runs, which must neither invalidate the iteration nor make
/// the new reconstructor act on a record already half made.
template <class Calls>
bool make_hit_with(const Calls& calls, const FeatureRecord& record, const HitFeatures* given,
                   bool no_discard, Hit& hit) {
    hit = Hit();
    const bool has_channel = record.has(HitFeatures::CHANNEL);
    const bool has_id = record.has(HitFeatures::ID);
    if (has_channel) {
        hit.set_channel(record.channel);
    }
    if (has_id) {
        hit.set_id(record.id);
    }
    if (!has_channel || !has_id) {
        return no_discard;
    }
    std::optional<HitFeatures> made;
    const std::size_t count = calls.size();
    for (std::size_t i = 0; i < count; ++i) {
        // The reconstructor's address is taken out of the list before it is called: a Python
        // callable may move the list (by adding to it), which must not matter afterwards.
        detail::apply_call(calls[i], record, given, made, hit);
    }
    return no_discard || hit.is_valid();
}

}  // namespace tessel
