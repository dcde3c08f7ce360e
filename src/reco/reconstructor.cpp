#include "tessel/reconstructor.hpp"

#include <stdexcept>

namespace tessel {

Hit::Updater hit_property_updater(const std::string& hit_property) {
    if (hit_property == "charge") {
        return &Hit::update_charge;
    }
    if (hit_property == "time") {
        return &Hit::update_time;
    }
    throw std::invalid_argument("Unsupported hit property: " + hit_property);
}

}  // namespace tessel
