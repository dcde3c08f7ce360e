#include "tessel/trigger.hpp"

#include <stdexcept>
#include <string>

namespace tessel {

namespace {

__extension__ typedef unsigned __int128 Wide;  // NOLINT(modernize-use-using)

/// `value` in decimal: trigger positions past the end of 64 bits are printed as they are.
std::string decimal(Wide value) {
    std::string text;
    do {
        text.insert(text.begin(), static_cast<char>('0' + static_cast<int>(value % 10)));
        value /= 10;
    } while (value != 0);
    return text;
}

}  // namespace

void check_trigger_positions(std::uint64_t first, std::uint64_t count) {
    if (first > RunInfo::MAX_TRIGGER_POSITIONS || count > RunInfo::MAX_TRIGGER_POSITIONS - first) {
        const Wide last = Wide{first} + (count == 0 ? 0 : count - 1);
        const std::string positions =
            last == first
                ? "Trigger position " + std::to_string(first) + " does"
                : "Trigger positions " + std::to_string(first) + " to " + decimal(last) + " do";
        throw std::length_error(positions +
                                " not fit the 28-bit trigger index of a hit id (at most " +
                                std::to_string(RunInfo::MAX_TRIGGER_POSITIONS) +
                                " triggers per run); split the run or number its triggers from 0");
    }
}

}  // namespace tessel
