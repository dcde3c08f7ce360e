#pragma once

// Everything of the library in one include.
#include "tessel/channel_linear_reco.hpp"
#include "tessel/channel_table.hpp"
#include "tessel/charge_reconstruction.hpp"
#include "tessel/check_settings.hpp"
#include "tessel/extractors.hpp"
#include "tessel/factory.hpp"
#include "tessel/feature_extractor.hpp"
#include "tessel/hit.hpp"
#include "tessel/hit_features.hpp"
#include "tessel/hit_maker.hpp"
#include "tessel/linear_reco.hpp"
#include "tessel/lut_reco.hpp"
#include "tessel/reconstructor.hpp"
#include "tessel/settings.hpp"
#include "tessel/trigger.hpp"
#include "tessel/yaml_accessor.hpp"
