#include "tessel/trigger.hpp"

#include <stdexcept>
#include <string>

namespace tessel {

void check_trigger_positions(std::uint64_t first, std::uint64_t count) {
    if (first > RunInfo::MAX_TRIGGER_POSITIONS || count > RunInfo::MAX_TRIGGER_POSITIONS - first) {
        throw std::length_error("Trigger positions " + std::to_string(first) + " to " +
                                std::to_string(first + count) +
                                " do not fit the 28-bit trigger index of a hit id "
                                "(at most " +
                                std::to_string(RunInfo::MAX_TRIGGER_POSITIONS) +
                                " triggers per run); split the run or number its triggers from 0");
    }
}

}  // namespace tessel
