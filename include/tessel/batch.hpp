#pragma once

// Moved to tessel/columnar/batch.hpp; this name keeps working.
#include "tessel/columnar/batch.hpp"
