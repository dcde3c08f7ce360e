#include "tessel/extractors.hpp"

namespace tessel {

void MultiPMTExtractor::extract(const MultiPMTTrigger& trigger, HitFeatures& out) noexcept {
    // The module's time is taken as it comes: no run time offset applies to it.
    out.set_channel(trigger.channel);
    out.set_time_over_threshold(trigger.time_over_threshold);
    out.set_trigger_time(trigger.time);
    out.set_adc_sample(static_cast<double>(trigger.adc_sample));
}

void MultiPMTExtractor::extract_features(const MultiPMTTrigger& trigger,
                                         std::vector<HitFeatures>& out,
                                         const RunInfo& /*run_info*/) const {
    HitFeatures features;
    extract(trigger, features);
    out.push_back(features);
}

}  // namespace tessel
