#pragma once

#include <cstdint>
#include <string>
#include <variant>

#include "tessel/feature_record.hpp"
#include "tessel/hit.hpp"
#include "tessel/hit_features.hpp"

namespace tessel {

class Reconstructor;
// The built-in reconstructors, which the hit maker calls directly (see `RecoCall`).
class LinearReco;
class LUTReco;
class ChannelLinearReco;

/// How the hit maker calls one reconstructor: a built-in kind by its own type, so that its
/// `apply(const FeatureRecord&, Hit&)` is called directly (inlined where it is inline), without
/// a virtual call or a `HitFeatures` object per record; any other reconstructor (a user's, a
/// Python callable) through the virtual `reconstruct`.  A new built-in kind is added here and
/// in tessel/reco_calls.hpp, and returns itself from `call()`.
using RecoCall =
    std::variant<const Reconstructor*, const LinearReco*, const LUTReco*, const ChannelLinearReco*>;

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

    /// How the hit maker calls this reconstructor: through `reconstruct` unless a built-in kind
    /// overrides this to return itself by its own type.
    [[nodiscard]] virtual RecoCall call() const noexcept {
        return RecoCall(std::in_place_type<const Reconstructor*>, this);
    }
};

/// The hit quantity a reconstructor estimates.
enum class HitProperty : std::uint8_t { time, charge };

/// "charge" or "time" (compared exactly); anything else throws std::invalid_argument
/// "Unsupported hit property: <name>".
HitProperty hit_property_from_name(const std::string& hit_property);

/// `Hit::update_time` or `Hit::update_charge`, as `property` selects.
inline bool update_hit(Hit& hit, HitProperty property, double value, double uncertainty) noexcept {
    return property == HitProperty::charge ? hit.update_charge(value, uncertainty)
                                           : hit.update_time(value, uncertainty);
}

/// The hit update selected by a "hit_property" setting: "charge" gives `Hit::update_charge`,
/// "time" gives `Hit::update_time`; anything else (compared exactly) throws
/// std::invalid_argument "Unsupported hit property: <name>".
Hit::Updater hit_property_updater(const std::string& hit_property);

}  // namespace tessel
