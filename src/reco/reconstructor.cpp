#include "tessel/reconstructor.hpp"

#include <stdexcept>

namespace tessel {

HitProperty hit_property_from_name(const std::string& hit_property) {
    if (hit_property == "charge") {
        return HitProperty::charge;
    }
    if (hit_property == "time") {
        return HitProperty::time;
    }
    throw std::invalid_argument("Unsupported hit property: " + hit_property);
}

Hit::Updater hit_property_updater(const std::string& hit_property) {
    return hit_property_from_name(hit_property) == HitProperty::charge ? &Hit::update_charge
                                                                       : &Hit::update_time;
}

}  // namespace tessel
