#include "tessel/channel_linear_reco.hpp"
#include "tessel/factory.hpp"
#include "tessel/linear_reco.hpp"
#include "tessel/lut_reco.hpp"
#include "tessel/reconstructor.hpp"

namespace tessel {

// Each entry is made by assignment, replacing an entry of the same name.  The "LUTReco" and
// "ChannelLinearReco" builders refer to this factory for path resolution; a move rebuilds the table
// for the new owner.
template <>
void Factory<Reconstructor>::build_class_resolve_table() {
    class_table_["LinearReco"] = [](Settings instance) { return build_linear_reco(instance); };
    class_table_["LUTReco"] = [this](Settings instance) { return build_lut_reco(instance, *this); };
    class_table_["ChannelLinearReco"] = [this](Settings instance) {
        return build_channel_linear_reco(instance, *this);
    };
}

}  // namespace tessel
