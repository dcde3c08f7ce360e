#pragma once

#include <cstdint>
#include <limits>

namespace tessel {

/// One reconstructed PMT pulse: channel, 64-bit hit id, time [s] and charge [PE], each with its
/// uncertainty.  A default hit is invalid (channel -1, infinite uncertainties); time and charge
/// change only through `update_time` / `update_charge`, which keep the estimate with the
/// smaller uncertainty.
class Hit {
public:
    /// Shape shared by `update_time` and `update_charge`; reconstructors bind one of them.
    using Updater = bool (Hit::*)(double, double);

    Hit() = default;
    Hit(std::int32_t channel, std::uint64_t id, double time, double charge, double time_uncertainty,
        double charge_uncertainty) noexcept
        : channel_(channel),
          id_(id),
          time_(time),
          charge_(charge),
          time_uncertainty_(time_uncertainty),
          charge_uncertainty_(charge_uncertainty) {}

    /// Channel >= 0 and both uncertainties neither NaN nor +infinity (-infinity passes).
    [[nodiscard]] bool is_valid() const noexcept {
        constexpr double largest = std::numeric_limits<double>::max();
        return channel_ >= 0 && time_uncertainty_ <= largest && charge_uncertainty_ <= largest;
    }

    [[nodiscard]] std::int32_t get_channel() const noexcept { return channel_; }
    [[nodiscard]] std::uint64_t get_id() const noexcept { return id_; }
    [[nodiscard]] double get_time() const noexcept { return time_; }
    [[nodiscard]] double get_charge() const noexcept { return charge_; }
    [[nodiscard]] double get_time_uncertainty() const noexcept { return time_uncertainty_; }
    [[nodiscard]] double get_charge_uncertainty() const noexcept { return charge_uncertainty_; }

    /// Takes the new time unless its uncertainty is >= the current one (an ordered comparison,
    /// so a NaN on either side lets the new value in).  Returns whether it was taken.
    bool update_time(double new_time, double new_time_uncertainty) noexcept {
        if (new_time_uncertainty >= time_uncertainty_) {
            return false;
        }
        time_ = new_time;
        time_uncertainty_ = new_time_uncertainty;
        return true;
    }

    /// Same rule as `update_time`, on charge and its uncertainty.
    bool update_charge(double new_charge, double new_charge_uncertainty) noexcept {
        if (new_charge_uncertainty >= charge_uncertainty_) {
            return false;
        }
        charge_ = new_charge;
        charge_uncertainty_ = new_charge_uncertainty;
        return true;
    }

    void set_channel(std::int32_t channel) noexcept { channel_ = channel; }
    void set_id(std::uint64_t id) noexcept { id_ = id; }

private:
    std::int32_t channel_ = -1;
    std::uint64_t id_ = 0;
    double time_ = 0.0;
    double charge_ = 0.0;
    double time_uncertainty_ = std::numeric_limits<double>::infinity();
    double charge_uncertainty_ = std::numeric_limits<double>::infinity();
};

}  // namespace tessel
