#include "tessel/hit_maker.hpp"

#include <cstddef>
#include <utility>

#include "tessel/reco_calls.hpp"

namespace tessel {

HitMaker::HitMaker(ReconstructorList reconstructors) : reconstructors_(std::move(reconstructors)) {
    calls_.reserve(reconstructors_.size());
    for (const auto& reconstructor : reconstructors_) {
        calls_.push_back(reconstructor->call());
    }
}

void HitMaker::add_reconstructor(std::unique_ptr<Reconstructor> reconstructor) {
    const RecoCall call = reconstructor->call();
    reconstructors_.push_back(std::move(reconstructor));
    calls_.push_back(call);
}

bool HitMaker::make_hit(const HitFeatures& features, bool no_discard, Hit& hit) const {
    return make_hit_with(calls_, FeatureRecord::of(features), &features, no_discard, hit);
}

bool HitMaker::make_hit(const FeatureRecord& record, bool no_discard, Hit& hit) const {
    return make_hit_with(calls_, record, nullptr, no_discard, hit);
}

std::vector<Hit> HitMaker::make_hits(const std::vector<HitFeatures>& features,
                                     bool no_discard) const {
    std::vector<Hit> hits;
    hits.reserve(features.size());
    Hit hit;
    // By index, each record copied before use: a reconstructor written in Python may change the
    // list it works through (it is the caller's list, shared with Python), which would leave an
    // iterator or a reference into the old storage dangling.  Records appended meanwhile are
    // not made; removed ones are not either.
    const std::size_t count = features.size();
    for (std::size_t i = 0; i < count && i < features.size(); ++i) {
        const HitFeatures record = features[i];
        if (make_hit(record, no_discard, hit)) {
            hits.push_back(hit);
        }
    }
    return hits;
}

}  // namespace tessel
