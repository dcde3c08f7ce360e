#pragma once

#include <string>

#include "tessel/hit.hpp"
#include "tessel/hit_features.hpp"

namespace tessel {

/// One reconstruction algorithm: refines `hit` from `features`, typically through
/// `Hit::update_time` / `Hit::update_charge`.
class Reconstructor {
public:
    Reconstructor() = default;
    Reconstructor(const Reconstructor&) = delete;
    Reconstructor& operator=(const Reconstructor&) = delete;
    Reconstructor(Reconstructor&&) = delete;
    Reconstructor& operator=(Reconstructor&&) = delete;

    virtual void reconstruct(const HitFeatures& features, Hit& hit) const = 0;
    virtual ~Reconstructor() = default;
};

/// The hit update selected by a "hit_property" setting: "charge" gives `Hit::update_charge`,
/// "time" gives `Hit::update_time`; anything else (compared exactly) throws
/// std::invalid_argument "Unsupported hit property: <name>".
Hit::Updater hit_property_updater(const std::string& hit_property);

}  // namespace tessel
