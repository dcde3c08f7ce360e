#include "tessel/factory.hpp"
#include "tessel/hit_maker.hpp"
#include "tessel/settings.hpp"

namespace tessel {

HitMaker::HitMaker(const std::filesystem::path& settings) {
    const auto root = Settings::from_file(settings);
    const Factory<Reconstructor> factory(settings);
    for (const auto& name : root["reco"].keys()) {
        add_reconstructor(factory.create_by_name(name));
    }
}

HitMaker::HitMaker(const LoadedSettings& settings) {
    const Factory<Reconstructor> factory(settings);
    for (const auto& name : settings.root()["reco"].keys()) {
        add_reconstructor(factory.create_by_name(name));
    }
}

}  // namespace tessel
