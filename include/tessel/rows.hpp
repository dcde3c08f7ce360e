#pragma once

// Moved to tessel/columnar/rows.hpp; this name keeps working.
#include "tessel/columnar/rows.hpp"
