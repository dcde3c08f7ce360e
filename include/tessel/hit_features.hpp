#pragma once

#include <cstdint>
#include <string>

namespace tessel {

/// What feature extraction measured for one pulse.  Every feature is optional: a setter stores
/// the value and raises the feature's flag, `has_*` reads the flag, and a getter of an unset
/// feature throws `std::runtime_error`.  Flags are never lowered.
class HitFeatures {
public:
    /// Bit of each feature in the presence byte (bit 0 first).
    enum Flag : std::uint8_t {
        CHANNEL = 1U << 0U,
        WAVEFORM_INTEGRAL = 1U << 1U,
        TIME_OVER_THRESHOLD = 1U << 2U,
        TRIGGER_TIME = 1U << 3U,
        PMT_TYPE = 1U << 4U,
        ADC_SAMPLE = 1U << 5U,
        ID = 1U << 6U,
        RISING_EDGE_TIME = 1U << 7U,
    };

    class FeatureAccessor;

    [[nodiscard]] std::uint8_t flags() const noexcept { return flags_; }

    void set_channel(std::int32_t v) noexcept {
        channel_ = v;
        flags_ |= CHANNEL;
    }
    void set_pmt_type(std::int32_t v) noexcept {
        pmt_type_ = v;
        flags_ |= PMT_TYPE;
    }
    void set_id(std::uint64_t v) noexcept {
        id_ = v;
        flags_ |= ID;
    }
    void set_trigger_time(double v) noexcept {
        trigger_time_ = v;
        flags_ |= TRIGGER_TIME;
    }
    void set_waveform_integral(double v) noexcept {
        waveform_integral_ = v;
        flags_ |= WAVEFORM_INTEGRAL;
    }
    void set_time_over_threshold(double v) noexcept {
        time_over_threshold_ = v;
        flags_ |= TIME_OVER_THRESHOLD;
    }
    void set_adc_sample(double v) noexcept {
        adc_sample_ = v;
        flags_ |= ADC_SAMPLE;
    }
    void set_rising_edge_time(double v) noexcept {
        rising_edge_time_ = v;
        flags_ |= RISING_EDGE_TIME;
    }

    [[nodiscard]] bool has_channel() const noexcept { return (flags_ & CHANNEL) != 0; }
    [[nodiscard]] bool has_pmt_type() const noexcept { return (flags_ & PMT_TYPE) != 0; }
    [[nodiscard]] bool has_id() const noexcept { return (flags_ & ID) != 0; }
    [[nodiscard]] bool has_trigger_time() const noexcept { return (flags_ & TRIGGER_TIME) != 0; }
    [[nodiscard]] bool has_waveform_integral() const noexcept {
        return (flags_ & WAVEFORM_INTEGRAL) != 0;
    }
    [[nodiscard]] bool has_time_over_threshold() const noexcept {
        return (flags_ & TIME_OVER_THRESHOLD) != 0;
    }
    [[nodiscard]] bool has_adc_sample() const noexcept { return (flags_ & ADC_SAMPLE) != 0; }
    [[nodiscard]] bool has_rising_edge_time() const noexcept {
        return (flags_ & RISING_EDGE_TIME) != 0;
    }

    [[nodiscard]] std::int32_t get_channel() const { return checked(channel_, CHANNEL); }
    [[nodiscard]] std::int32_t get_pmt_type() const { return checked(pmt_type_, PMT_TYPE); }
    [[nodiscard]] std::uint64_t get_id() const { return checked(id_, ID); }
    [[nodiscard]] double get_trigger_time() const { return checked(trigger_time_, TRIGGER_TIME); }
    [[nodiscard]] double get_waveform_integral() const {
        return checked(waveform_integral_, WAVEFORM_INTEGRAL);
    }
    [[nodiscard]] double get_time_over_threshold() const {
        return checked(time_over_threshold_, TIME_OVER_THRESHOLD);
    }
    [[nodiscard]] double get_adc_sample() const { return checked(adc_sample_, ADC_SAMPLE); }
    [[nodiscard]] double get_rising_edge_time() const {
        return checked(rising_edge_time_, RISING_EDGE_TIME);
    }

private:
    /// Throws the "<feature> not set!" runtime error of `flag`.
    [[noreturn]] static void throw_unset(Flag flag);

    template <class T>
    [[nodiscard]] T checked(T value, Flag flag) const {
        if ((flags_ & flag) == 0) {
            throw_unset(flag);
        }
        return value;
    }

    std::uint8_t flags_ = 0;
    std::int32_t channel_ = 0;
    std::int32_t pmt_type_ = 0;
    std::uint64_t id_ = 0;
    double waveform_integral_ = 0.0;
    double time_over_threshold_ = 0.0;
    double trigger_time_ = 0.0;
    double adc_sample_ = 0.0;
    double rising_edge_time_ = 0.0;
};

/// Binds one of the five floating-point feature names ("waveform_integral",
/// "time_over_threshold", "trigger_time", "adc_sample", "rising_edge_time") to the feature's
/// flag test and getter.  Cheap to copy; owns nothing.
class HitFeatures::FeatureAccessor {
public:
    using Getter = double (HitFeatures::*)() const;
    using Tester = bool (HitFeatures::*)() const;

    struct Get {
        Getter fn;
        double operator()(const HitFeatures& f) const { return (f.*fn)(); }
    };
    struct Has {
        Tester fn;
        bool operator()(const HitFeatures& f) const noexcept { return (f.*fn)(); }
    };

    /// Throws `std::invalid_argument` "Unknown feature name: <name>" for any other name.
    explicit FeatureAccessor(const std::string& name);

    Get get;
    Has has;
};

}  // namespace tessel
