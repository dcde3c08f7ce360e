#include <mutex>
#include <utility>

#include "tessel/channel_linear_reco.hpp"
#include "tessel/factory.hpp"
#include "tessel/hit_features.hpp"
#include "tessel/linear_reco.hpp"
#include "tessel/lut_reco.hpp"
#include "tessel/reconstructor_class.hpp"

namespace tessel {

namespace {

std::mutex registry_mutex;

std::vector<ReconstructorClass>& registry() {
    // One line per built-in class.
    static std::vector<ReconstructorClass> classes{
        LinearReco::settings_class(),
        LUTReco::settings_class(),
        ChannelLinearReco::settings_class(),
    };
    return classes;
}

}  // namespace

std::vector<ReconstructorClass> reconstructor_classes() {
    const std::lock_guard lock(registry_mutex);
    return registry();
}

void add_reconstructor_class(ReconstructorClass cls) {
    const std::lock_guard lock(registry_mutex);
    for (auto& known : registry()) {
        if (known.name == cls.name) {
            known = std::move(cls);
            return;
        }
    }
    registry().push_back(std::move(cls));
}

namespace reco_keys {

KeySpec feature() {
    return {.name = "feature",
            .type = ValueType::feature,
            .required = true,
            .choices = feature_names(),
            .meaning = "the HitFeatures value read as x"};
}

KeySpec hit_property() {
    return {.name = "hit_property",
            .type = ValueType::choice,
            .required = true,
            .choices = {"charge", "time"},
            .meaning = "the hit property estimated"};
}

KeySpec pmt_type() {
    return {.name = "pmt_type",
            .type = ValueType::integer,
            .required = true,
            .meaning = "the PMT type acted on; -1 acts on every type"};
}

KeySpec min_value() {
    return {.name = "min_value",
            .type = ValueType::number,
            .required = true,
            .meaning = "the reconstructor acts on min_value <= x < max_value"};
}

KeySpec max_value() {
    return {.name = "max_value",
            .type = ValueType::number,
            .required = true,
            .meaning = "the reconstructor acts on min_value <= x < max_value"};
}

void check_window(const SettingsReader& instance) {
    instance.below("min_value", "max_value",
                   "it acts on values x with min_value <= x < max_value, so on none");
}

}  // namespace reco_keys

// Each class is built through a settings reader over its instance, with this factory's file for
// relative file names and its loaded settings, if any, for table files.  The builders refer to
// the factory that holds them, so a move builds a new table for the new owner.
template <>
void Factory<Reconstructor>::build_class_resolve_table() {
    for (auto& cls : reconstructor_classes()) {
        class_table_[cls.name] = [this, cls](Settings instance) {
            SettingsReader reader(std::move(instance), *cls.keys, file_,
                                  loaded_ ? &*loaded_ : nullptr);
            return cls.build(reader);
        };
    }
}

}  // namespace tessel
