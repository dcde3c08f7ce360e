#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "tessel/reconstructor.hpp"
#include "tessel/settings_reader.hpp"

namespace tessel {

/// A reconstructor class that settings files can name in a "reco" instance.
struct ReconstructorClass {
    /// The name written as the instance's "class".
    std::string name;
    /// The instance's keys besides "class".
    const KeyTable* keys = nullptr;
    /// Builds a reconstructor from an instance.  A reader in checking mode has collected the
    /// instance's problems: the builder adds those only it can see (a table's rows, keys that
    /// contradict each other) and returns null.
    std::function<std::unique_ptr<Reconstructor>(SettingsReader& instance)> build;
    /// One line saying what the class does.
    std::string meaning;
};

/// Every class the reconstructor factory builds and the settings check accepts: the built-in
/// ones in the order they are documented, then those added by `add_reconstructor_class`.
std::vector<ReconstructorClass> reconstructor_classes();

/// Makes `cls` known to factories built from now on and to the settings check, replacing a class
/// of the same name.
void add_reconstructor_class(ReconstructorClass cls);

/// Keys several classes share, declared once.
namespace reco_keys {
KeySpec feature();
KeySpec hit_property();
KeySpec pmt_type();
KeySpec min_value();
KeySpec max_value();
/// Checking: reports a `min_value` not below `max_value`.
void check_window(const SettingsReader& instance);
}  // namespace reco_keys

}  // namespace tessel
