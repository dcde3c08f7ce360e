#include "tessel/hit_maker.hpp"

#include <cstddef>
#include <utility>

namespace tessel {

HitMaker::HitMaker(ReconstructorList reconstructors) : reconstructors_(std::move(reconstructors)) {}

void HitMaker::add_reconstructor(std::unique_ptr<Reconstructor> reconstructor) {
    reconstructors_.push_back(std::move(reconstructor));
}

bool HitMaker::make_hit(const HitFeatures& features, bool no_discard, Hit& hit) const {
    hit = Hit();
    // Flags are tested directly: the throwing getters are never needed here.
    if (features.has_channel()) {
        hit.set_channel(features.get_channel());
    }
    if (features.has_id()) {
        hit.set_id(features.get_id());
    }
    if (!features.has_channel() || !features.has_id()) {
        return no_discard;
    }
    // By index over the reconstructors present when the record starts: a Python callable may
    // append to this list while it runs, which must neither invalidate the iteration nor make
    // the new reconstructor act on a record already half made.
    const std::size_t count = reconstructors_.size();
    for (std::size_t i = 0; i < count; ++i) {
        reconstructors_[i]->reconstruct(features, hit);
    }
    return no_discard || hit.is_valid();
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
