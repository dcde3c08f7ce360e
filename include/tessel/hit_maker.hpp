#pragma once

#include <filesystem>
#include <memory>
#include <vector>

#include "tessel/feature_record.hpp"
#include "tessel/hit.hpp"
#include "tessel/hit_features.hpp"
#include "tessel/loaded_settings.hpp"
#include "tessel/reconstructor.hpp"

namespace tessel {

/// An ordered list of reconstructors that turns feature records into hits: each record starts
/// an invalid hit carrying its channel and id, every reconstructor refines it in turn, and the
/// hit is kept if it ended valid (or always, with `no_discard`).
class HitMaker {
public:
    using ReconstructorList = std::vector<std::unique_ptr<Reconstructor>>;

    HitMaker() = default;
    explicit HitMaker(ReconstructorList reconstructors);
    /// The instances of the "reco" section of a settings file, in file order.
    explicit HitMaker(const std::filesystem::path& settings);
    /// The same from settings loaded already: no file is read again.
    explicit HitMaker(const LoadedSettings& settings);

    HitMaker(const HitMaker&) = delete;
    HitMaker& operator=(const HitMaker&) = delete;
    HitMaker(HitMaker&&) noexcept = default;
    HitMaker& operator=(HitMaker&&) noexcept = default;
    ~HitMaker() = default;

    /// Appends `reconstructor` (not null) to the end of the list.
    void add_reconstructor(std::unique_ptr<Reconstructor> reconstructor);

    [[nodiscard]] std::vector<Hit> make_hits(const std::vector<HitFeatures>& features,
                                             bool no_discard = false) const;

    /// Makes the hit of one record into `hit`; returns whether it is kept.  `make_hits` is this
    /// applied to every record; batch paths call it directly.
    bool make_hit(const HitFeatures& features, bool no_discard, Hit& hit) const;
    /// The same for a record in the pipeline's own form.
    bool make_hit(const FeatureRecord& record, bool no_discard, Hit& hit) const;

    [[nodiscard]] const ReconstructorList& reconstructors() const noexcept {
        return reconstructors_;
    }
    /// How each reconstructor is called (`Reconstructor::call`), in list order: what
    /// `make_hit_with` (tessel/reco_calls.hpp) takes.  A copy made while no other thread adds
    /// reconstructors stays valid as long as this hit maker lives.
    [[nodiscard]] const std::vector<RecoCall>& calls() const noexcept { return calls_; }

private:
    ReconstructorList reconstructors_;
    std::vector<RecoCall> calls_;
};

}  // namespace tessel
